// Fuzz target for the class registry's text form, the reader of a file that comes from outside.
// Any bytes read without a crash; a text that reads is written back unchanged; a class set from
// the input's bytes reads back exactly and is gone after its removal; so is a ProgID value. Every property that fails
// aborts, which libFuzzer reports as a crash and the corpus replay as a failed test.
#include "platform/registryfile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using platform::detail::TRegistryText;

namespace {

[[noreturn]] void Fail(const char* what, std::string_view detail)
{
    std::fprintf(stderr, "property failed: %s [%.*s]\n", what, static_cast<int>(std::min<std::size_t>(detail.size(), 200)),
                 detail.data());
    std::abort();
}

#define CHECK(condition, detail)        \
    do {                                \
        if (!(condition))               \
            Fail(#condition, (detail)); \
    } while (false)

TRegistryText Reparsed(const std::string& text)
{
    TRegistryText registry;
    std::string problem;
    if (!registry.Parse(text, problem))
        Fail("a written registry does not read", problem + " in " + text);
    return registry;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TRegistryText registry;
    std::string problem;
    if (!registry.Parse(text, problem)) {
        CHECK(problem.rfind("line ", 0) == 0, problem);
        return 0;
    }
    // Unchanged, every byte is written back (a missing final line feed is added).
    const std::string same = registry.Format();
    CHECK(same == text || same == std::string(text) + "\n", same);

    // A class id and a module path from the input: any bytes but line breaks and NUL.
    CLSID clsid{};
    std::memcpy(&clsid, data, std::min(size, sizeof clsid));
    std::string value(text.substr(size / 2));
    std::erase_if(value, [](char c) { return c == '\n' || c == '\r' || c == '\0'; });
    const std::size_t classes = registry.Classes();
    const bool had = registry.Contains(clsid);

    registry.Set(clsid, {{"InprocServer32", value}, {"Description", value + " "}});
    TRegistryText written = Reparsed(registry.Format());
    const std::string* server = written.Find(clsid, "InprocServer32");
    CHECK(server && *server == value, value);
    const std::string* description = written.Find(clsid, "Description");
    CHECK(description && *description == value + " ", value);
    CHECK(written.Classes() == classes + (had ? 0 : 1), value);

    // The same value as a ProgID: once no other class holds it, the class is found by it, and
    // not after its removal.
    CHECK(written.SetValue(clsid, "ProgID", value), value);
    written.RemoveValues(clsid, true, {"ProgID"}, value);
    written = Reparsed(written.Format());
    CLSID found{};
    CHECK(written.FindClass({"ProgID"}, value, found) && found == clsid, value);
    CHECK(written.RemoveValues(clsid, false, {"ProgID"}, value) == 1, value);
    CHECK(!Reparsed(written.Format()).FindClass({"ProgID"}, value, found), value);

    CHECK(written.Remove(clsid), value);
    const TRegistryText removed = Reparsed(written.Format());
    CHECK(!removed.Contains(clsid) && removed.Classes() == classes - (had ? 1 : 0), value);
    return 0;
}
