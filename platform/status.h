// The system's texts for statuses.
#pragma once

#include "platform/ole.h"

#include <string>

namespace platform {

// The system's text for a status (FormatMessage on Windows; a table of the common statuses here).
// false when the system has none.
PLATFORM_API bool StatusText(HRESULT status, std::string& text);

} // namespace platform
