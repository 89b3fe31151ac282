// The program's version text from its own version resource.
#include "about/fmuAbout.h"

#include "platform/resources.h"
#include "platform/versioninfo.h"

#include <cstdint>
#include <cstdio>

namespace {

const char* const NoVersion = "0.0.0.0";

// The 16-bit little-endian number at data[offset].
unsigned Word(const std::uint8_t* data, std::size_t offset)
{
    return static_cast<unsigned>(data[offset]) | (static_cast<unsigned>(data[offset + 1]) << 8);
}

} // namespace

std::string GetVersionString()
{
    platform::ResourceData resource;
    if (!platform::FindProgramResource(platform::RT_VERSION_ID, 1, resource) || !resource.Data)
        return NoVersion;
    // dwFileVersionMS then dwFileVersionLS; a shorter block does not hold them.
    constexpr std::size_t offset = platform::kVersionInfoFileVersionOffset;
    if (resource.Size < offset + 8)
        return NoVersion;
    const auto* version = static_cast<const std::uint8_t*>(resource.Data) + offset;
    // Each 32-bit word is stored low half first: MS = minor, major; LS = build, release.
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", Word(version, 2), Word(version, 0), Word(version, 6),
                  Word(version, 4));
    return text;
}
