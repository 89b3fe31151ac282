// Calls to another process: what the calling thread does while one waits.
#pragma once

#include "platform/ole.h"

#include <functional>

namespace platform {

// While a call to another process waits on the calling thread (a single-threaded apartment), the
// handler is asked each time a message arrives whether to wait on or to cancel the call, which
// then fails with RPC_E_CALL_CANCELED. The thread paints meanwhile; input waits for the call.
// Installs the system's message filter on the calling thread; an empty handler removes it. Off
// Windows, where calls never leave the process, nothing.
enum class OutgoingCallChoice { Wait, Cancel };
using OutgoingCallHandler = std::function<OutgoingCallChoice()>;
PLATFORM_API void SetOutgoingCallHandler(OutgoingCallHandler handler);

} // namespace platform
