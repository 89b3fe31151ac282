// What the class registry's system forms share: the entry checks and the reason of the last failure.
#include "platform/internal.h"

namespace platform {
namespace detail {

namespace {
bool IsSingleLine(std::string_view s)
{
    return s.find_first_of("\r\n") == std::string_view::npos && s.find('\0') == std::string_view::npos;
}
} // namespace

std::string UnregistrableEntry(std::string_view modulePath, std::string_view threadingModel,
                               std::string_view description)
{
    if (modulePath.empty())
        return "no module path was given";
    const std::pair<const char*, std::string_view> texts[] = {
        {"module path", modulePath}, {"threading model", threadingModel}, {"description", description}};
    for (const auto& [name, text] : texts)
        if (!IsSingleLine(text))
            return std::string("the ") + name + " holds a line break or NUL, which the class registry cannot hold";
    return {};
}

void SetRegistryError(std::string why) { ThreadRegistryError() = std::move(why); }

} // namespace detail

std::string ClassRegistryError() { return detail::ThreadRegistryError(); }

} // namespace platform
