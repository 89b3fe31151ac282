// Checks shared by the class registry's system forms.
#include "platform/internal.h"

namespace platform::detail {

namespace {
bool IsSingleLine(std::string_view s)
{
    return s.find_first_of("\r\n") == std::string_view::npos && s.find('\0') == std::string_view::npos;
}
} // namespace

bool RegistrableEntry(std::string_view modulePath, std::string_view threadingModel, std::string_view description)
{
    return !modulePath.empty() && IsSingleLine(modulePath) && IsSingleLine(threadingModel) && IsSingleLine(description);
}

} // namespace platform::detail
