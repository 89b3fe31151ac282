// The program's own resources.
#pragma once

#include "platform/ole.h"

#include <cstddef>

namespace platform {

// The program's own resources: bytes registered with RegisterProgramResource first, then the
// program file's (FindResource/LoadResource/LockResource on Windows). Off Windows a module
// registers its resource bytes at start-up through a static registrar.
struct ResourceData {
    const void* Data = nullptr;
    std::size_t Size = 0;
};
constexpr int RT_VERSION_ID = 16;
constexpr int RT_BITMAP_ID = 2;
// Looks up a resource by type and numeric id; false when absent.
PLATFORM_API bool FindProgramResource(int type, int id, ResourceData& out);
// Looks up a resource by type and name (e.g. the bitmap "LOGOBMP"); false when absent.
PLATFORM_API bool FindProgramResource(int type, const char* name, ResourceData& out);
// The bytes of a version resource are built by BuildVersionInfo, declared in platform/versioninfo.h.
// The bytes stay the caller's and must outlive the registration; a registration replaces the
// one of the same type and id or name.
PLATFORM_API void RegisterProgramResource(int type, int id, const void* data, std::size_t size);
PLATFORM_API void RegisterProgramResource(int type, const char* name, const void* data, std::size_t size);
PLATFORM_API void UnregisterProgramResource(int type, int id);

} // namespace platform
