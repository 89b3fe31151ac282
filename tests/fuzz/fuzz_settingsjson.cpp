// Fuzz target for the settings file's JSON mapping: any text either maps to settings that hold
// together or is refused with a reason, never a crash or an exception; settings that map write
// back to a text that maps to the very same settings.
#include "simulator/SettingsJson.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

using namespace trutina;

namespace {

[[noreturn]] void Fail(const char* what, std::string_view detail)
{
    std::fprintf(stderr, "property failed: %s [%.*s]\n", what, static_cast<int>(detail.size() > 300 ? 300 : detail.size()),
                 detail.data());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string problem;
    std::optional<TDriverSettings> settings;
    try {
        settings = SettingsFromJson(text, &problem);
    } catch (const std::exception& e) {
        Fail(e.what(), text);
    }
    if (!settings) {
        if (problem.empty())
            Fail("refused without a reason", text);
        return 0;
    }
    if (const std::string wrong = settings->Problem(); !wrong.empty())
        Fail(("accepted settings that do not hold together: " + wrong).c_str(), text);
    const std::string written = SettingsToJson(*settings);
    const std::optional<TDriverSettings> back = SettingsFromJson(written, &problem);
    if (!back)
        Fail(("the written text does not map back: " + problem).c_str(), written);
    if (!(*back == *settings))
        Fail("the written text maps to other settings", written);
    if (SettingsToJson(*back) != written)
        Fail("writing again gives another text", written);
    return 0;
}
