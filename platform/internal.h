// Pieces shared between the platform's own source files; not part of its interface.
#pragma once

#include "platform/platform.h"

namespace platform::detail {

// True when the calling thread has initialised COM (either model) and not yet uninitialised it.
bool ThreadComInitialised();

} // namespace platform::detail
