// The settings file of the build without Qt (Windows): the same JSON, the same round trip, a
// damaged file put aside unchanged, and a location that cannot be written left alone.
#include "simulator/SettingsStore.h"

#include "SampleSettings.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace trutina;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class SettingsStoreNoQtTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(FFolder, ignored);
    }
    std::string File() const { return (FFolder / "trutina.json").string(); }

    fs::path FFolder = testenv::MakeTempFolder("ponderix-settings-");
};

TEST_F(SettingsStoreNoQtTest, EverySettingSurvivesTheFile)
{
    const TDriverSettings s = testenv::SampleSettings();

    TSettingsStore store(File());
    ASSERT_TRUE(store.Save(s));
    EXPECT_EQ(TSettingsStore(File()).Load(), s);
    EXPECT_FALSE(fs::exists(File() + ".saving")); // no temporary left behind
}

TEST_F(SettingsStoreNoQtTest, MissingFileGivesTheDefaultsAndWritesNothing)
{
    TSettingsStore store(File());
    EXPECT_EQ(store.Load(), TDriverSettings::Defaults());
    EXPECT_FALSE(fs::exists(File()));
}

TEST_F(SettingsStoreNoQtTest, DamagedFileIsPutAsideUnchangedAndTheDefaultsWrittenWithTheNotice)
{
    const std::string damaged[] = {
        "",
        "{\"devices\": [",
        "[1, 2]",
        R"({"format": 2, "devices": [{"number": 1}]})",
        R"({"devices": [{"number": 1.5}]})",
        R"({"devices": [{"number": 1, "enabled": "yes"}]})",
        R"({"devices": [{"number": 1, "name": 7}]})",
        R"({"devices": [{"number": 1}], "loadProfiles": {"p": [1]}})",
        R"({"devices": [{"number": 1}, {"number": 1}]})",
        R"({"weightStep": 1e400})",
        R"({"devices": [{"number": 1}], "loadProfiles": {"p": {"loopMs": 1e300}}})",
    };
    for (const std::string& bytes : damaged) {
        SCOPED_TRACE(bytes);
        WriteAll(File(), bytes);
        TSettingsStore store(File());
        const TDriverSettings s = store.Load();
        ASSERT_FALSE(s.DamagedCopy.empty());
        EXPECT_EQ(ReadAll(FFolder / s.DamagedCopy), bytes);
        TDriverSettings expected = TDriverSettings::Defaults();
        expected.DamagedCopy = s.DamagedCopy;
        EXPECT_EQ(s, expected);
        EXPECT_EQ(TSettingsStore(File()).Load(), expected); // written, with the notice kept for the report
        fs::remove(FFolder / s.DamagedCopy);
    }
}

TEST_F(SettingsStoreNoQtTest, UnwritableLocationFailsWithoutTouchingWhatIsThere)
{
    fs::create_directory(File()); // a folder where the file should be
    TSettingsStore store(File());
    EXPECT_FALSE(store.Save(TDriverSettings::Defaults()));
    EXPECT_TRUE(fs::is_directory(File()));
}

TEST_F(SettingsStoreNoQtTest, APathThatIsAFolderIsRefusedAndLeftAsItIs)
{
    fs::create_directory(File());
    WriteAll(fs::path(File()) / "keep.txt", "x");
    TSettingsStore store(File());
    EXPECT_EQ(store.Load(), TDriverSettings::Defaults());
    EXPECT_NE(store.Refusal().find("это не обычный файл"), std::string::npos) << store.Refusal();
    EXPECT_FALSE(store.Save(TDriverSettings::Defaults()));
    EXPECT_EQ(ReadAll(fs::path(File()) / "keep.txt"), "x");
    EXPECT_EQ(std::distance(fs::directory_iterator(FFolder), {}), 1);
}

TEST_F(SettingsStoreNoQtTest, LocationComesFromTheEnvironment)
{
    testenv::SetVariable("TRUTINA_SETTINGS", "C:\\elsewhere\\t.json");
    EXPECT_EQ(TSettingsStore::DefaultPath(), "C:\\elsewhere\\t.json");
    testenv::UnsetVariable("TRUTINA_SETTINGS");
    EXPECT_TRUE(TSettingsStore::DefaultPath().ends_with("/ponderix/trutina.json"));
}

} // namespace
