// Pieces shared between the platform's own source files; not part of its interface.
#pragma once

#include "platform/platform.h"

namespace platform::detail {

// True when the calling thread has initialised COM (either model) and not yet uninitialised it.
bool ThreadComInitialised();

// The English text of a common status from the platform's own table; false for others.
bool CommonStatusText(HRESULT status, std::string& text);

} // namespace platform::detail
