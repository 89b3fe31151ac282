// A module's bitness and the server of the other bitness.
#pragma once

#include "platform/ole.h"

#include <cstddef>
#include <string>

namespace platform {

// The bitness of this program: an in-process server module must be of the same.
constexpr int kProgramBitness = static_cast<int>(sizeof(void*) * 8);
// The bitness of a Windows (PE) module from the first bytes of its file: the DOS header's e_lfanew
// leads to the "PE\0\0" signature and the machine type after it, IMAGE_FILE_MACHINE_I386 (32) or
// IMAGE_FILE_MACHINE_AMD64 (64). 0 when the bytes hold no such header (another format, another
// machine, cut short).
PLATFORM_API int PeBitness(const unsigned char* head, std::size_t size);
// The module registered for the class where a program of the other bitness finds it, when it is a
// module of the other bitness, which this program cannot load: on Windows the class's entry in the
// other registry view (the 32-bit view from a 64-bit program, and the reverse); off Windows the one
// registry file has no views, so the class's registered module itself. True with its path and
// bitness (32 or 64); false when there is none, or it cannot be read (only the head of a regular
// file is read).
PLATFORM_API bool FindServerOfOtherBitness(REFCLSID clsid, std::string& modulePath, int& bitness);

} // namespace platform
