// The head of a Windows module's file, made by hand: what tells its bitness and nothing else.
#pragma once

#include <cstdint>
#include <string>

namespace testenv {

// "MZ", e_lfanew = peOffset, and at peOffset "PE\0\0" with the machine type; size bytes in all.
inline std::string CraftedPeHead(std::uint16_t machine, std::uint32_t peOffset = 0x80, std::size_t size = 0x200)
{
    std::string bytes(size, '\0');
    const auto put = [&](std::size_t at, std::uint32_t value, int count) {
        for (int i = 0; i < count && at + i < bytes.size(); ++i)
            bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put(0, 'M' | ('Z' << 8), 2);
    put(0x3C, peOffset, 4);
    put(peOffset, 'P' | ('E' << 8), 4);
    put(std::size_t{peOffset} + 4, machine, 2);
    return bytes;
}

} // namespace testenv
