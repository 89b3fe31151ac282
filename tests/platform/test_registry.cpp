#include "platform/platform.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr CLSID kFirst = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr CLSID kSecond = {0xAAAAAAAA, 0xBBBB, 0xCCCC, {0xDD, 0xDD, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}};

std::vector<std::string> FolderEntries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

class ClassRegistry : public ::testing::Test {
protected:
    testsupport::TTempRegistry FRegistry;
};

TEST_F(ClassRegistry, RegisterCreatesFoldersAndLeavesOnlyTheFile)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/opt/drivers/Trutina.dll", "Apartment", "Весы"), S_OK);
    EXPECT_EQ(FolderEntries(fs::path(FRegistry.Path()).parent_path()), std::vector<std::string>{"classes.reg"});
    const std::string text = testsupport::ReadFile(FRegistry.Path());
    EXPECT_NE(text.find("[{11111111-2222-3333-4444-555555555555}]\n"
                        "InprocServer32=/opt/drivers/Trutina.dll\n"
                        "ThreadingModel=Apartment\n"
                        "Description=Весы\n"),
              std::string::npos)
        << text;
}

TEST_F(ClassRegistry, LookupFindsEachClassAndReregistrationReplaces)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/a/first.so", "Apartment", ""), S_OK);
    ASSERT_EQ(platform::RegisterInprocServer(kSecond, "/a/second.so", "Both", ""), S_OK);
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/b/first.so", "Apartment", ""), S_OK);

    std::string path;
    EXPECT_EQ(platform::LookupInprocServer(kFirst, path), S_OK);
    EXPECT_EQ(path, "/b/first.so");
    EXPECT_EQ(platform::LookupInprocServer(kSecond, path), S_OK);
    EXPECT_EQ(path, "/a/second.so");

    ASSERT_EQ(platform::UnregisterInprocServer(kFirst), S_OK);
    EXPECT_EQ(platform::LookupInprocServer(kFirst, path), REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(platform::LookupInprocServer(kSecond, path), S_OK);
    EXPECT_EQ(platform::UnregisterInprocServer(kFirst), S_OK); // not registered: nothing to do
}

TEST_F(ClassRegistry, RelativeModulePathIsStoredAbsolute)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "sub/../server.so", "Apartment", ""), S_OK);
    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(kFirst, path), S_OK);
    EXPECT_EQ(path, (fs::current_path() / "server.so").string());
}

TEST_F(ClassRegistry, MissingFileMeansNothingRegistered)
{
    std::string path;
    EXPECT_EQ(platform::LookupInprocServer(kFirst, path), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(platform::UnregisterInprocServer(kFirst), S_OK);
    EXPECT_FALSE(fs::exists(FRegistry.Path()));
}

TEST_F(ClassRegistry, HandWrittenFileWithCommentsAndSpacesIsRead)
{
    testsupport::WriteFile(FRegistry.Path(), "; comment\r\n# another\n\n  [{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}]  \n"
                                             "  InprocServer32 = /x/y z.so \r\n");
    std::string path;
    EXPECT_EQ(platform::LookupInprocServer(kSecond, path), S_OK);
    EXPECT_EQ(path, "/x/y z.so");
}

struct DamagedCase {
    const char* Name;
    std::string_view Text;
};
void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.Name; }


class DamagedRegistry : public ClassRegistry, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedRegistry, IsReportedAndNeverReplaced)
{
    const std::string damaged(GetParam().Text);
    testsupport::WriteFile(FRegistry.Path(), damaged);
    std::string path;
    EXPECT_EQ(platform::LookupInprocServer(kFirst, path), REGDB_E_READREGDB);
    EXPECT_TRUE(FAILED(platform::RegisterInprocServer(kFirst, "/a.so", "Apartment", "")));
    EXPECT_TRUE(FAILED(platform::UnregisterInprocServer(kSecond)));
    EXPECT_EQ(testsupport::ReadFile(FRegistry.Path()), damaged);
    EXPECT_EQ(FolderEntries(fs::path(FRegistry.Path()).parent_path()), std::vector<std::string>{"classes.reg"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedRegistry,
    ::testing::Values(
        DamagedCase{"ValueOutsideSection", "InprocServer32=/a.so\n"},
        DamagedCase{"BadClassId", "[{1111-2222}]\nInprocServer32=/a.so\n"},
        DamagedCase{"UnclosedSection", "[{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\n"},
        DamagedCase{"LineWithoutEquals", "[{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}]\nInprocServer32 /a.so\n"},
        DamagedCase{"EmptyKey", "[{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}]\n=/a.so\n"},
        DamagedCase{"DuplicateSection", "[{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}]\nInprocServer32=/a.so\n"
                                        "[{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}]\nInprocServer32=/b.so\n"},
        DamagedCase{"BinaryGarbage", std::string_view("[{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}]\nA=\0\x01", 45)}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ClassRegistry, ValuesThatWouldBreakTheFileAreRefused)
{
    EXPECT_EQ(platform::RegisterInprocServer(kFirst, "/a.so\n[{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}]", "", ""),
              SELFREG_E_CLASS);
    EXPECT_EQ(platform::RegisterInprocServer(kFirst, "/a.so", "Apartment", "two\nlines"), SELFREG_E_CLASS);
    EXPECT_EQ(platform::RegisterInprocServer(kFirst, "", "Apartment", ""), SELFREG_E_CLASS);
    EXPECT_FALSE(fs::exists(FRegistry.Path()));
}

TEST_F(ClassRegistry, UnwritableFolderFailsAndKeepsTheOldFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/a.so", "Apartment", ""), S_OK);
    const std::string before = testsupport::ReadFile(FRegistry.Path());
    const fs::path folder = fs::path(FRegistry.Path()).parent_path();
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const HRESULT hr = platform::RegisterInprocServer(kSecond, "/b.so", "Apartment", "");
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(hr, SELFREG_E_CLASS);
    EXPECT_EQ(testsupport::ReadFile(FRegistry.Path()), before);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"classes.reg"});
}

// A write that fails half-way (here: the file size limit) leaves the old file and no temporary one.
TEST_F(ClassRegistry, FailedWriteKeepsTheOldFileAndLeavesNoTemporary)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/a.so", "Apartment", ""), S_OK);
    const std::string before = testsupport::ReadFile(FRegistry.Path());

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = before.size() + 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const HRESULT hr = platform::RegisterInprocServer(kSecond, "/b.so", "Apartment", std::string(200, 'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(hr, SELFREG_E_CLASS);
    EXPECT_EQ(testsupport::ReadFile(FRegistry.Path()), before);
    EXPECT_EQ(FolderEntries(fs::path(FRegistry.Path()).parent_path()), std::vector<std::string>{"classes.reg"});
}

int FunctionOfThisProgram() { return 1; }

TEST(ModulePath, NamesTheFileHoldingAnAddress)
{
    EXPECT_EQ(platform::ModulePathOf(reinterpret_cast<const void*>(&FunctionOfThisProgram)),
              fs::canonical("/proc/self/exe").string());
    const std::string library = platform::ModulePathOf(reinterpret_cast<const void*>(&SysAllocString));
    EXPECT_EQ(fs::path(library).filename(), "libplatform.so");
    EXPECT_TRUE(fs::path(library).is_absolute());
    EXPECT_EQ(platform::ModulePathOf(nullptr), "");
}

struct PathCase {
    const char* Name;
    const char* Explicit;
    const char* ConfigHome;
    const char* Home;
    const char* Expected;
};
void PrintTo(const PathCase& c, std::ostream* os) { *os << c.Name; }


class RegistryPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(RegistryPath, FollowsTheEnvironment)
{
    const PathCase& c = GetParam();
    const auto set = [](const char* name, const char* value) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    };
    set("PONDERIX_CLASS_REGISTRY", c.Explicit);
    set("XDG_CONFIG_HOME", c.ConfigHome);
    set("HOME", c.Home);
    EXPECT_EQ(platform::ClassRegistryPath(), c.Expected);
    unsetenv("PONDERIX_CLASS_REGISTRY");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryPath,
    ::testing::Values(PathCase{"Explicit", "/tmp/r.reg", "/cfg", "/home/u", "/tmp/r.reg"},
                      PathCase{"ConfigHome", nullptr, "/cfg", "/home/u", "/cfg/ponderix/classes.reg"},
                      PathCase{"EmptyExplicitIgnored", "", "/cfg", "/home/u", "/cfg/ponderix/classes.reg"},
                      PathCase{"RelativeConfigHomeIgnored", nullptr, "cfg", "/home/u",
                               "/home/u/.config/ponderix/classes.reg"},
                      PathCase{"HomeOnly", nullptr, nullptr, "/home/u", "/home/u/.config/ponderix/classes.reg"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
