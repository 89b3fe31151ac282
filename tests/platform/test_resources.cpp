#include "platform/resources.h"
#include "platform/status.h"
#include "platform/versioninfo.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::uint16_t Word(const std::vector<std::uint8_t>& b, std::size_t at) { return std::uint16_t(b[at] | (b[at + 1] << 8)); }
std::uint32_t DWord(const std::vector<std::uint8_t>& b, std::size_t at) { return Word(b, at) | (std::uint32_t(Word(b, at + 2)) << 16); }

// The four numbers as a reader of the fixed file information takes them from offset 48.
std::string VersionAt48(const std::vector<std::uint8_t>& b)
{
    const std::uint32_t ms = DWord(b, 48), ls = DWord(b, 52);
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "."
           + std::to_string(ls & 0xFFFF);
}

TEST(VersionInfo, HasTheStandardLayout)
{
    const auto b = platform::BuildVersionInfo(6, 0, 0, 2);
    ASSERT_EQ(b.size(), 92u);
    EXPECT_EQ(Word(b, 0), 92);  // wLength
    EXPECT_EQ(Word(b, 2), 52);  // wValueLength: sizeof(VS_FIXEDFILEINFO)
    EXPECT_EQ(Word(b, 4), 0);   // wType: binary
    const char16_t key[] = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_EQ(Word(b, 6 + 2 * i), key[i]) << i;
    EXPECT_EQ(Word(b, 38), 0); // padding to 32 bits
    EXPECT_EQ(DWord(b, 40), 0xFEEF04BDu);
    EXPECT_EQ(DWord(b, 44), 0x00010000u);
    EXPECT_EQ(DWord(b, 48), 0x00060000u); // file version 6.0
    EXPECT_EQ(DWord(b, 52), 0x00000002u); // .0.2
    EXPECT_EQ(DWord(b, 56), 0x00060000u); // product version
    EXPECT_EQ(DWord(b, 60), 0x00000002u);
    EXPECT_EQ(DWord(b, 64), 0x3Fu);       // flags mask
    EXPECT_EQ(DWord(b, 68), 0u);          // flags
    EXPECT_EQ(DWord(b, 72), 0x40004u);    // VOS_NT_WINDOWS32
    EXPECT_EQ(DWord(b, 76), 1u);          // VFT_APP
    EXPECT_EQ(DWord(b, 80), 0u);
    EXPECT_EQ(DWord(b, 84), 0u);
    EXPECT_EQ(DWord(b, 88), 0u);
}

TEST(VersionInfo, EveryPartKeepsItsSixteenBits)
{
    EXPECT_EQ(VersionAt48(platform::BuildVersionInfo(65535, 1, 65534, 3)), "65535.1.65534.3");
    EXPECT_EQ(VersionAt48(platform::BuildVersionInfo(1, 65535, 2, 65535)), "1.65535.2.65535");
    EXPECT_EQ(VersionAt48(platform::BuildVersionInfo(0, 0, 0, 0)), "0.0.0.0");
}

// This test program carries the project's version resource through ponderix_add_version_resource.
TEST(VersionResource, TheBuildRegistersTheProjectVersion)
{
    platform::ResourceData data;
    ASSERT_TRUE(platform::FindProgramResource(platform::RT_VERSION_ID, 1, data));
    const auto expected = platform::BuildVersionInfo(PROJECT_VERSION_PARTS);
    ASSERT_EQ(data.Size, expected.size());
    EXPECT_EQ(std::memcmp(data.Data, expected.data(), data.Size), 0);
    EXPECT_FALSE(platform::FindProgramResource(platform::RT_VERSION_ID, 2, data));
    EXPECT_FALSE(platform::FindProgramResource(platform::RT_BITMAP_ID, 1, data));
}

#ifdef _WIN32
// On Windows the resources are compiled into the program from test_resources.rc.
TEST(ProgramResources, FoundByTypeAndIdOrName)
{
    platform::ResourceData data;
    ASSERT_TRUE(platform::FindProgramResource(platform::RT_BITMAP_ID, "logobmp", data)); // names ignore case
    ASSERT_EQ(data.Size, 6u);
    EXPECT_EQ(std::memcmp(data.Data, "BM....", 6), 0);
    EXPECT_FALSE(platform::FindProgramResource(platform::RT_VERSION_ID, "LOGOBMP", data));
    EXPECT_FALSE(platform::FindProgramResource(platform::RT_BITMAP_ID, "OTHER", data));
    EXPECT_FALSE(platform::FindProgramResource(platform::RT_BITMAP_ID, "", data));

    ASSERT_TRUE(platform::FindProgramResource(platform::RT_BITMAP_ID, 7, data));
    const std::uint8_t expected[] = {1, 2, 3, 0};
    ASSERT_EQ(data.Size, sizeof expected);
    EXPECT_EQ(std::memcmp(data.Data, expected, sizeof expected), 0);
    EXPECT_FALSE(platform::FindProgramResource(platform::RT_BITMAP_ID, 8, data));
}

// Registered bytes come before the file's own: the same id 7 as test_resources.rc, then back.
TEST(ProgramResources, RegisteredBytesComeBeforeTheProgramFilesOwn)
{
    static const std::uint8_t kRegistered[] = {9, 9};
    platform::RegisterProgramResource(platform::RT_BITMAP_ID, 7, kRegistered, sizeof kRegistered);
    platform::ResourceData data;
    ASSERT_TRUE(platform::FindProgramResource(platform::RT_BITMAP_ID, 7, data));
    EXPECT_EQ(data.Data, kRegistered);
    platform::UnregisterProgramResource(platform::RT_BITMAP_ID, 7);
    ASSERT_TRUE(platform::FindProgramResource(platform::RT_BITMAP_ID, 7, data));
    EXPECT_EQ(data.Size, 4u); // the file's again
}
#else
TEST_ELSEWHERE(ProgramResources, FoundByTypeAndIdOrName,
               "the program's own resources are compiled in on Windows only")
TEST_ELSEWHERE(ProgramResources, RegisteredBytesComeBeforeTheProgramFilesOwn,
               "the program's own resources are compiled in on Windows only")
#endif

TEST(ProgramResources, RegisteredBytesAreFoundByTypeAndIdOrNameUntilRemoved)
{
    static const char kBitmap[] = "BM....";
    static const std::uint8_t kOther[] = {1, 2, 3};
    platform::RegisterProgramResource(platform::RT_BITMAP_ID, "SPLASHBMP", kBitmap, sizeof kBitmap);
    platform::RegisterProgramResource(platform::RT_BITMAP_ID, 9, kOther, sizeof kOther);

    platform::ResourceData data;
    ASSERT_TRUE(platform::FindProgramResource(platform::RT_BITMAP_ID, "splashbmp", data)); // names ignore case
    EXPECT_EQ(data.Data, kBitmap);
    EXPECT_EQ(data.Size, sizeof kBitmap);
    EXPECT_FALSE(platform::FindProgramResource(platform::RT_VERSION_ID, "SPLASHBMP", data));
    EXPECT_FALSE(platform::FindProgramResource(platform::RT_BITMAP_ID, "OTHER", data));
    EXPECT_FALSE(platform::FindProgramResource(platform::RT_BITMAP_ID, "", data));

    ASSERT_TRUE(platform::FindProgramResource(platform::RT_BITMAP_ID, 9, data));
    EXPECT_EQ(data.Data, kOther);
    platform::UnregisterProgramResource(platform::RT_BITMAP_ID, 9);
    EXPECT_FALSE(platform::FindProgramResource(platform::RT_BITMAP_ID, 9, data));
    EXPECT_TRUE(platform::FindProgramResource(platform::RT_BITMAP_ID, "SPLASHBMP", data));
}

struct StatusCase {
    HRESULT Status;
    const char* Text;
};
void PrintTo(const StatusCase& c, std::ostream* os) { *os << std::hex << static_cast<unsigned>(c.Status); }

class StatusTexts : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusTexts, AreTheSystemsEnglishTexts)
{
    std::string text;
    ASSERT_TRUE(platform::StatusText(GetParam().Status, text));
#ifdef _WIN32
    // The system's own wording (and language) wins where it has one.
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
#else
    EXPECT_EQ(text, GetParam().Text);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StatusTexts,
    ::testing::Values(StatusCase{E_FAIL, "Unspecified error"}, StatusCase{E_NOINTERFACE, "No such interface supported"},
                      StatusCase{E_INVALIDARG, "The parameter is incorrect."},
                      StatusCase{REGDB_E_CLASSNOTREG, "Class not registered"},
                      StatusCase{E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
                      StatusCase{DISP_E_MEMBERNOTFOUND, "Member not found."},
                      StatusCase{CO_E_NOTINITIALIZED, "CoInitialize has not been called."}));

TEST(StatusTexts, UnknownStatusHasNone)
{
    std::string text = "untouched";
    EXPECT_FALSE(platform::StatusText(static_cast<HRESULT>(0x8004CAFEu), text));
    EXPECT_FALSE(platform::StatusText(CONNECT_E_NOCONNECTION, text));
    EXPECT_EQ(text, "untouched");
}

} // namespace
