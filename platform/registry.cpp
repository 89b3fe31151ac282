// What the class registry's system forms share: the entry checks and the reason of the last failure.
#include "platform/classregistry.h"
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

std::string InvalidProgId(std::string_view progId)
{
    if (progId.empty() || progId.size() > 39)
        return "the ProgID '" + std::string(progId) + "' is empty or longer than 39 characters";
    if (progId.front() >= '0' && progId.front() <= '9')
        return "the ProgID '" + std::string(progId) + "' starts with a digit";
    for (const char c : progId)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.'))
            return "the ProgID '" + std::string(progId) + "' holds a character other than letters, digits and periods";
    return {};
}

void SetRegistryError(std::string why) { ThreadRegistryError() = std::move(why); }

} // namespace detail

std::string ClassRegistryError() { return detail::ThreadRegistryError(); }

void RestoreClassRegistryError(std::string why) { detail::ThreadRegistryError() = std::move(why); }

} // namespace platform
