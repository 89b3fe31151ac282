// Program files carry no resources off Windows: the build registers them at start-up instead.
#include "platform/internal.h"
#include "platform/resources.h"

namespace platform::detail {

bool FindFileResource(int, int, const char*, ResourceData&) { return false; }

} // namespace platform::detail
