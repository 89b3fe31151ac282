// Off Windows calls never leave the process: nothing waits on another.
#include "platform/outgoingcalls.h"

namespace platform {

void SetOutgoingCallHandler(OutgoingCallHandler) {}

} // namespace platform
