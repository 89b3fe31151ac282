// GetVersionString reads the file version at offset 48 of the program's version resource.
#include "about/fmuAbout.h"

#include "platform/resources.h"
#include "platform/versioninfo.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

class VersionStringTest : public ::testing::Test {
protected:
    void SetUp() override { platform::UnregisterProgramResource(platform::RT_VERSION_ID, 1); }
    void TearDown() override { platform::UnregisterProgramResource(platform::RT_VERSION_ID, 1); }

    // The table keeps only a pointer: the bytes live as long as the test.
    void Register(std::vector<std::uint8_t> bytes)
    {
        FBytes = std::move(bytes);
        platform::RegisterProgramResource(platform::RT_VERSION_ID, 1, FBytes.data(), FBytes.size());
    }

private:
    std::vector<std::uint8_t> FBytes;
};

struct VersionCase {
    std::uint16_t Major, Minor, Release, Build;
    const char* Text;
};

TEST_F(VersionStringTest, ShowsTheFileVersionOfTheResourceInOrderAndUnsigned)
{
    const VersionCase cases[] = {
        {6, 0, 0, 2, "6.0.0.2"},
        {1, 2, 3, 4, "1.2.3.4"}, // every part in its own place
        {65535, 65535, 65535, 65535, "65535.65535.65535.65535"},
        {65535, 1, 32768, 0, "65535.1.32768.0"},
        {0, 0, 0, 0, "0.0.0.0"},
    };
    for (const auto& c : cases) {
        Register(platform::BuildVersionInfo(c.Major, c.Minor, c.Release, c.Build));
        EXPECT_EQ(GetVersionString(), c.Text);
    }
}

TEST_F(VersionStringTest, WithoutAVersionResourceIsAllZero) { EXPECT_EQ(GetVersionString(), "0.0.0.0"); }

TEST_F(VersionStringTest, ReadsOnlyTheEightBytesAtOffset48WithoutExaminingTheRest)
{
    // No signature, no header: just the two words where the file version stands.
    std::vector<std::uint8_t> bytes(56, 0xEE);
    const std::uint8_t version[] = {0x02, 0x00, 0x07, 0x00, 0x04, 0x00, 0x03, 0x01}; // MS 7.2, LS 259.4
    std::copy(std::begin(version), std::end(version), bytes.begin() + 48);
    Register(bytes);
    EXPECT_EQ(GetVersionString(), "7.2.259.4");
}

TEST_F(VersionStringTest, AResourceTooShortToHoldTheFileVersionIsAllZero)
{
    for (std::size_t size : {0u, 1u, 48u, 55u}) {
        Register(std::vector<std::uint8_t>(size, 0x11));
        EXPECT_EQ(GetVersionString(), "0.0.0.0") << size << " bytes";
    }
    auto truncated = platform::BuildVersionInfo(6, 0, 0, 2);
    truncated.resize(55);
    Register(truncated);
    EXPECT_EQ(GetVersionString(), "0.0.0.0");
}

} // namespace
