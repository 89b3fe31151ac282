// The standard VS_VERSIONINFO resource block, built from the four parts of a version. One layout
// for everything that needs it: the version resource the build links into the program, and tests.
#pragma once

#include "platform/ole.h"

#include <cstdint>
#include <vector>

namespace platform {

// Byte offsets inside the block, as a resource compiler lays it out.
constexpr std::size_t kVersionInfoFixedOffset = 40;       // VS_FIXEDFILEINFO
constexpr std::size_t kVersionInfoFileVersionOffset = 48; // dwFileVersionMS, then dwFileVersionLS

// The block of a VERSIONINFO resource with file and product version major.minor.release.build and
// no string tables: the header with key L"VS_VERSION_INFO", then VS_FIXEDFILEINFO (signature
// 0xFEEF04BD, structure version 1.0, flags mask 0x3F, OS VOS_NT_WINDOWS32, type VFT_APP).
PLATFORM_API std::vector<std::uint8_t> BuildVersionInfo(std::uint16_t major, std::uint16_t minor,
                                                        std::uint16_t release, std::uint16_t build);

} // namespace platform
