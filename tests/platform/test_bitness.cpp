// A module's bitness from the head of its file.
#include "platform/bitness.h"

#include "CraftedPe.h"

#include <gtest/gtest.h>

namespace {

int Bitness(const std::string& bytes)
{
    return platform::PeBitness(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(PeBitness, ReadFromTheMachineTypeOfAWholeHeaderOnly)
{
    const std::string i386 = testenv::CraftedPeHead(0x014C);
    std::string notPe = i386;
    notPe[0x81] = 'X';
    const struct {
        const char* name;
        std::string bytes;
        int bitness;
    } rows[] = {
        {"i386", i386, 32},
        {"amd64", testenv::CraftedPeHead(0x8664), 64},
        {"arm64", testenv::CraftedPeHead(0xAA64), 0},
        {"no PE signature", notPe, 0},
        {"cut in the machine type", i386.substr(0, 0x85), 0},
        {"cut before e_lfanew ends", i386.substr(0, 0x3F), 0},
        {"e_lfanew far past the end", testenv::CraftedPeHead(0x014C, 0xFFFFFFF0u), 0},
        {"ELF", std::string("\x7F" "ELF\x02\x01\x01", 7) + std::string(0x200, '\0'), 0},
        {"empty", std::string(), 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Bitness(row.bytes), row.bitness) << row.name;
}

} // namespace
