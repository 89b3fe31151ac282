#include "platform/bitness.h"
#include "platform/bstr.h"
#include "platform/classregistry.h"
#include "platform/configfolder.h"
#include "platform/filelock.h"
#include "platform/module.h"
#include "testsupport.h"

#include "CraftedPe.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <regex>
#include <sstream>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr CLSID kFirst = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr CLSID kSecond = {0xAAAAAAAA, 0xBBBB, 0xCCCC, {0xDD, 0xDD, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}};

// Sorted.
std::vector<std::string> FolderEntries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The registry and the lock file beside it; no temporary file left behind.
const std::vector<std::string> kRegistryFiles{"classes.reg", "classes.reg.lock"};

class ClassRegistry : public ::testing::Test {
protected:
    testsupport::TTempRegistry FRegistry;
};

TEST_F(ClassRegistry, RegisterCreatesFoldersAndLeavesOnlyTheFile)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/opt/drivers/Trutina.dll", "Apartment", "Весы"), S_OK);
    EXPECT_EQ(FolderEntries(fs::path(FRegistry.Path()).parent_path()), kRegistryFiles);
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

// A byte-order mark, as Windows editors save, is accepted.
TEST_F(ClassRegistry, HandWrittenFileWithCommentsAndSpacesIsRead)
{
    testsupport::WriteFile(FRegistry.Path(), "\xEF\xBB\xBF; comment\r\n# another\n\n  [{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}]  \n"
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
    EXPECT_NE(platform::ClassRegistryError().find(FRegistry.Path() + ": damaged, line "), std::string::npos)
        << platform::ClassRegistryError();
    EXPECT_EQ(platform::ClassRegistryProblem(), platform::ClassRegistryError());
    EXPECT_TRUE(FAILED(platform::RegisterInprocServer(kFirst, "/a.so", "Apartment", "")));
    EXPECT_TRUE(FAILED(platform::UnregisterInprocServer(kSecond)));
    EXPECT_EQ(testsupport::ReadFile(FRegistry.Path()), damaged);
    EXPECT_EQ(FolderEntries(fs::path(FRegistry.Path()).parent_path()), kRegistryFiles);
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
    EXPECT_NE(platform::ClassRegistryError().find("cannot hold"), std::string::npos) << platform::ClassRegistryError();
    EXPECT_EQ(platform::RegisterInprocServer(kFirst, "", "Apartment", ""), SELFREG_E_CLASS);
    EXPECT_FALSE(fs::exists(FRegistry.Path()));

    // Nor is a registration that would grow the file past what is read back: every later read
    // (unregistering included) would fail.
    ASSERT_EQ(platform::RegisterInprocServer(kSecond, "/b.so", "Apartment", ""), S_OK);
    testsupport::WriteFile(FRegistry.Path(), testsupport::ReadFile(FRegistry.Path()) + "; " +
                                                 std::string(1024 * 1024 - 200, 'x') + "\n");
    EXPECT_EQ(platform::RegisterInprocServer(kFirst, "/a.so", "Apartment", std::string(400, 'd')), SELFREG_E_CLASS);
    EXPECT_NE(platform::ClassRegistryError().find("larger than 1024 KiB"), std::string::npos) << platform::ClassRegistryError();
    EXPECT_EQ(platform::UnregisterInprocServer(kSecond), S_OK);
}

// A folder that takes no new file fails the registration and keeps the old file. A read-only
// folder does not stop root; a folder where the lock file must go stops everyone.
TEST_F(ClassRegistry, UnwritableFolderFailsAndKeepsTheOldFile)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/a.so", "Apartment", ""), S_OK);
    const std::string before = testsupport::ReadFile(FRegistry.Path());
    const fs::path folder = fs::path(FRegistry.Path()).parent_path();
    const fs::path lock = FRegistry.Path() + ".lock";
    struct Way {
        const char* Name;
        bool StopsRoot;
        std::function<void()> Block, Unblock;
    };
    const Way ways[] = {
        {"read-only folder", false,
         [&] { fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec); },
         [&] { fs::permissions(folder, fs::perms::owner_all); }},
        {"a folder where the lock file goes", true,
         [&] { fs::remove(lock); fs::create_directories(lock / "kept"); },
         [&] { fs::remove_all(lock); }},
    };
    int ran = 0;
    for (const Way& way : ways) {
        if (geteuid() == 0 && !way.StopsRoot)
            continue; // root writes into read-only folders
        SCOPED_TRACE(way.Name);
        way.Block();
        const HRESULT hr = platform::RegisterInprocServer(kSecond, "/b.so", "Apartment", "");
        const std::string why = platform::ClassRegistryError();
        way.Unblock();
        ++ran;
        EXPECT_EQ(hr, SELFREG_E_CLASS);
        EXPECT_NE(why.find(FRegistry.Path()), std::string::npos) << why;
        EXPECT_EQ(why.find("could not be had"), std::string::npos) << why; // nobody holds it
        EXPECT_EQ(testsupport::ReadFile(FRegistry.Path()), before);
        for (const auto& name : FolderEntries(folder))
            EXPECT_TRUE(name == "classes.reg" || name == "classes.reg.lock") << name;
    }
    EXPECT_GE(ran, 1);
}

// A registration that meets a holder who never lets go (a stopped process) waits once, not once
// for each of its changes and their undoing.
TEST_F(ClassRegistry, ARegistrationWaitsForTheLockOnceInAll)
{
    ASSERT_EQ(platform::RegisterInprocServer(kSecond, "/b.so", "Apartment", ""), S_OK);
    const platform::FileLock holder(FRegistry.Path() + ".lock", 0);
    ASSERT_TRUE(holder.Locked());
    const auto start = std::chrono::steady_clock::now();
    {
        const platform::RegistrationDeadline deadline(400);
        EXPECT_EQ(platform::RegisterInprocServer(kFirst, "/a.so", "Apartment", ""), SELFREG_E_CLASS);
        EXPECT_NE(platform::ClassRegistryError().find("held by process " + std::to_string(getpid())), std::string::npos)
            << platform::ClassRegistryError();
        EXPECT_EQ(platform::UnregisterProgIds(kFirst, "Vendor.Class.1", "Vendor.Class"), SELFREG_E_CLASS);
        EXPECT_EQ(platform::UnregisterInprocServer(kFirst), SELFREG_E_CLASS);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800)); // three waits take 1200
}

// A write that fails half-way (here: the file size limit) leaves the old file and no temporary one.
TEST_F(ClassRegistry, FailedWriteKeepsTheOldFileAndLeavesNoTemporary)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/a.so", "Apartment", ""), S_OK);
    const std::string before = testsupport::ReadFile(FRegistry.Path());

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_DFL); // as a shell leaves it: the write must not end us
    rlimit small = saved;
    small.rlim_cur = before.size() + 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const HRESULT hr = platform::RegisterInprocServer(kSecond, "/b.so", "Apartment", std::string(200, 'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(hr, SELFREG_E_CLASS);
    const std::string error = platform::ClassRegistryError(); // the file named once, with the system's reason
    EXPECT_EQ(error.find(FRegistry.Path()), error.rfind(FRegistry.Path())) << error;
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(testsupport::ReadFile(FRegistry.Path()), before);
    EXPECT_EQ(FolderEntries(fs::path(FRegistry.Path()).parent_path()), kRegistryFiles);
}

// ---------------------------------------------------------------- what the file can hold

// Every module path and description without a line break or NUL reads back exactly, also after
// another registration rewrote the file.
TEST_F(ClassRegistry, ValuesReadBackExactly)
{
    const char* const paths[] = {"/x/Trutina.dll ", "/x/ lead", "/x/tab\t", "/x/a=b", "/x/;c", "/x/[{d}]",
                                 "/x/\"q\"", "/x/\"", "/x/multi  space", "/x/#hash", "/x/Весы.dll"};
    for (const char* modulePath : paths) {
        SCOPED_TRACE(modulePath);
        ASSERT_EQ(platform::RegisterInprocServer(kFirst, modulePath, "Apartment", " spaced "), S_OK);
        ASSERT_EQ(platform::RegisterInprocServer(kSecond, "/other.so", "Apartment", ""), S_OK);
        std::string path;
        EXPECT_EQ(platform::LookupInprocServer(kFirst, path), S_OK);
        EXPECT_EQ(path, modulePath);
        EXPECT_NE(testsupport::ReadFile(FRegistry.Path()).find("Description=\" spaced \"\n"), std::string::npos);
    }
}

// ---------------------------------------------------------------- files that are no registry

struct NodeCase {
    const char* Name;
    void (*Make)(const fs::path& registry);
    bool NeedsRoot;
};

// Every kind of node is the safe-file service's table (test_safefile.cpp); this one shows that the
// registry reads and writes through it.
const NodeCase kNodeCases[] = {
    {"FIFO", [](const fs::path& r) { ASSERT_EQ(mkfifo(r.c_str(), 0600), 0); }, false},
    // Another user's registry names the module that user chose: it is read as no registry of ours.
    {"another user's registry",
     [](const fs::path& r) {
         ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/tmp/theirs.so", "Apartment", ""), S_OK);
         ASSERT_EQ(chown(r.c_str(), 65534, 65534), 0);
     },
     true},
    {"another user's link to a registry",
     [](const fs::path& r) {
         ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/tmp/theirs.so", "Apartment", ""), S_OK);
         fs::rename(r, r.parent_path() / "theirs.reg");
         fs::create_symlink(r.parent_path() / "theirs.reg", r);
         ASSERT_EQ(lchown(r.c_str(), 65534, 65534), 0);
     },
     true},
};

// Only a regular file is read or replaced: anything else is refused, named in the message, and
// left as it is; nothing is written in its place.
TEST_F(ClassRegistry, ANodeThatIsNoRegularRegistryIsRefusedAndLeftAlone)
{
    const fs::path registry = FRegistry.Path();
    for (const NodeCase& c : kNodeCases) {
        SCOPED_TRACE(c.Name);
        if (c.NeedsRoot && geteuid() != 0) {
            std::printf("skipped \"%s\": only root makes device nodes\n", c.Name);
            continue;
        }
        fs::remove_all(registry.parent_path());
        fs::create_directories(registry.parent_path());
        c.Make(registry);
        struct stat before {};
        ASSERT_EQ(lstat(registry.c_str(), &before), 0);
        auto entries = FolderEntries(registry.parent_path());
        std::erase(entries, "classes.reg.lock");

        std::string path;
        EXPECT_EQ(platform::LookupInprocServer(kFirst, path), REGDB_E_READREGDB);
        EXPECT_NE(platform::ClassRegistryError().find(registry.string()), std::string::npos)
            << platform::ClassRegistryError();
        EXPECT_EQ(platform::RegisterInprocServer(kFirst, "/a.so", "Apartment", ""), SELFREG_E_CLASS);
        EXPECT_EQ(platform::UnregisterInprocServer(kFirst), SELFREG_E_CLASS);

        struct stat after {};
        ASSERT_EQ(lstat(registry.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);
        auto now = FolderEntries(registry.parent_path());
        std::erase(now, "classes.reg.lock");
        EXPECT_EQ(now, entries);
    }
}

// Only a registered module of the other bitness is named: not one of this program's bitness, nor
// a node that is no regular file (a FIFO would block the read of its head).
TEST_F(ClassRegistry, OnlyARegisteredModuleOfTheOtherBitnessIsFound)
{
    const int other = 96 - platform::kProgramBitness;
    const auto pe = [](int bitness) { return testenv::CraftedPeHead(bitness == 32 ? 0x014C : 0x8664); };
    const struct {
        const char* name;
        std::function<void(const std::string&)> make;
        bool found;
    } rows[] = {
        {"other bitness", [&](const std::string& p) { testsupport::WriteFile(p, pe(other)); }, true},
        {"own bitness", [&](const std::string& p) { testsupport::WriteFile(p, pe(platform::kProgramBitness)); }, false},
        {"FIFO", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, false},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string module = (FRegistry.Folder() / ("module" + std::to_string(++n) + ".dll")).string();
        row.make(module);
        ASSERT_EQ(platform::RegisterInprocServer(kFirst, module, "Apartment", ""), S_OK);
        std::string path;
        int bitness = 0;
        EXPECT_EQ(platform::FindServerOfOtherBitness(kFirst, path, bitness), row.found);
        EXPECT_EQ(path, row.found ? module : "");
        EXPECT_EQ(bitness, row.found ? other : 0);
    }
}

// ---------------------------------------------------------------- rewrites

// A rewrite keeps the operator's comment lines, a byte-order mark, CRLF line ends of lines it does
// not change and the symbolic link through which the registry is reached.
TEST_F(ClassRegistry, RewriteKeepsCommentsBomAndSymbolicLink)
{
    const fs::path target = FRegistry.Folder() / "elsewhere" / "real.reg";
    const std::string comments = "; written by hand\r\n# keep me too\r\n";
    testsupport::WriteFile(target.string(), "\xEF\xBB\xBF" + comments +
                                                "[{11111111-2222-3333-4444-555555555555}]\r\n"
                                                "; about the first class\r\n"
                                                "InprocServer32=/first.so\r\n");
    fs::create_directories(fs::path(FRegistry.Path()).parent_path());
    fs::create_symlink(target, FRegistry.Path());

    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(kFirst, path), S_OK);
    EXPECT_EQ(path, "/first.so");
    ASSERT_EQ(platform::RegisterInprocServer(kSecond, "/second.so", "Both", ""), S_OK);
    ASSERT_EQ(platform::UnregisterInprocServer(kFirst), S_OK);

    EXPECT_TRUE(fs::is_symlink(FRegistry.Path()));
    const std::string text = testsupport::ReadFile(target.string());
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF" + comments, 0), 0u) << text;
    EXPECT_NE(text.find("; about the first class\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("/first.so"), std::string::npos) << text;
    EXPECT_EQ(platform::LookupInprocServer(kSecond, path), S_OK);
    EXPECT_EQ(path, "/second.so");
}

// A new registry is created by the umask; an existing one keeps its mode.
TEST_F(ClassRegistry, ModeIsTheUmasksForANewFileAndKeptForAnOldOne)
{
    struct ModeCase {
        mode_t Umask;
        int Existing; // -1: no file yet
        mode_t Expected;
    };
    const ModeCase cases[] = {{077, -1, 0600}, {022, -1, 0644}, {022, 0600, 0600}, {077, 0640, 0640}};
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << "umask " << c.Umask << ", existing " << c.Existing);
        fs::remove_all(fs::path(FRegistry.Path()).parent_path());
        if (c.Existing >= 0) {
            ASSERT_EQ(platform::RegisterInprocServer(kSecond, "/b.so", "", ""), S_OK);
            ASSERT_EQ(chmod(FRegistry.Path().c_str(), static_cast<mode_t>(c.Existing)), 0);
        }
        const mode_t saved = umask(c.Umask);
        const HRESULT hr = platform::RegisterInprocServer(kFirst, "/a.so", "", "");
        umask(saved);
        ASSERT_EQ(hr, S_OK);
        struct stat info {};
        ASSERT_EQ(stat(FRegistry.Path().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.Expected) << std::oct << (info.st_mode & 07777);
    }
}

// Eight processes register eight different classes into one registry at the same moment: each
// round, every registration is in the file.
TEST_F(ClassRegistry, RegistrationsFromManyProcessesAtOnceAllSurvive)
{
    constexpr int kProcesses = 8;
    constexpr int kRounds = 50;
    const auto clsidOf = [](int i) {
        CLSID clsid = kFirst;
        clsid.Data1 = 0x1000u + static_cast<unsigned>(i);
        return clsid;
    };
    for (int round = 0; round < kRounds; ++round) {
        fs::remove(FRegistry.Path());
        int start[2];
        ASSERT_EQ(pipe(start), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < kProcesses; ++i) {
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                close(start[1]);
                char c;
                while (read(start[0], &c, 1) < 0 && errno == EINTR) {
                } // all start when the pipe closes
                const std::string module = "/modules/m" + std::to_string(i) + ".so";
                _exit(platform::RegisterInprocServer(clsidOf(i), module, "Apartment", "") == S_OK ? 0 : 1);
            }
            children.push_back(pid);
        }
        close(start[0]);
        close(start[1]);
        for (const pid_t pid : children) {
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        for (int i = 0; i < kProcesses; ++i) {
            std::string path;
            ASSERT_EQ(platform::LookupInprocServer(clsidOf(i), path), S_OK) << "round " << round << ", process " << i;
            EXPECT_EQ(path, "/modules/m" + std::to_string(i) + ".so");
        }
    }
}

// ---------------------------------------------------------------- ProgIDs
// The class a ProgID names, or the failure status.
HRESULT ClassOf(const std::string& progId, CLSID& clsid)
{
    const std::u16string name(progId.begin(), progId.end());
    return CLSIDFromProgID(platform::AsOleStr(name.c_str()), &clsid);
}

bool Names(const std::string& progId, REFCLSID expected)
{
    CLSID clsid{};
    return ClassOf(progId, clsid) == S_OK && clsid == expected;
}

TEST_F(ClassRegistry, ProgIdsFindTheirClassByEitherNameUntilUnregistered)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/a/first.so", "Apartment", ""), S_OK);
    ASSERT_EQ(platform::RegisterProgIds(kFirst, "Vendor.Thing.1", "Vendor.Thing", "A thing"), S_OK);
    for (const char* name : {"Vendor.Thing.1", "Vendor.Thing", "vendor.THING"})
        EXPECT_TRUE(Names(name, kFirst)) << name;
    CLSID clsid{};
    for (const char* name : {"Vendor.Thing.2", "Vendor", "Vendor.Thing.1 "})
        EXPECT_EQ(ClassOf(name, clsid), CO_E_CLASSSTRING) << name;
    // Registered again (a new version of the module), the class keeps one value of each.
    ASSERT_EQ(platform::RegisterProgIds(kFirst, "Vendor.Thing.1", "Vendor.Thing", "A thing"), S_OK);
    const std::string text = testsupport::ReadFile(FRegistry.Path());
    EXPECT_NE(text.find("InprocServer32=/a/first.so\nThreadingModel=Apartment\n"
                        "ProgID=Vendor.Thing.1\nVersionIndependentProgID=Vendor.Thing\n"),
              std::string::npos)
        << text;

    ASSERT_EQ(platform::UnregisterProgIds(kFirst, "Vendor.Thing.1", "Vendor.Thing"), S_OK);
    ASSERT_EQ(platform::UnregisterInprocServer(kFirst), S_OK);
    EXPECT_EQ(ClassOf("Vendor.Thing", clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
}

// A name is one class's: the last registration takes it, and unregistering the class that lost
// it leaves the new holder's entries and every other class alone.
TEST_F(ClassRegistry, UnregisteringProgIdsLeavesOtherClassesEntries)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/a/first.so", "Apartment", ""), S_OK);
    ASSERT_EQ(platform::RegisterInprocServer(kSecond, "/a/second.so", "Apartment", ""), S_OK);
    ASSERT_EQ(platform::RegisterProgIds(kFirst, "Old.Thing.1", "Shared.Thing", ""), S_OK);
    ASSERT_EQ(platform::RegisterProgIds(kSecond, "New.Thing.1", "Shared.Thing", ""), S_OK);
    EXPECT_TRUE(Names("Shared.Thing", kSecond));
    EXPECT_TRUE(Names("Old.Thing.1", kFirst));

    ASSERT_EQ(platform::UnregisterProgIds(kFirst, "Old.Thing.1", "Shared.Thing"), S_OK);
    ASSERT_EQ(platform::UnregisterInprocServer(kFirst), S_OK);
    EXPECT_TRUE(Names("Shared.Thing", kSecond));
    EXPECT_TRUE(Names("New.Thing.1", kSecond));
    std::string path;
    EXPECT_EQ(platform::LookupInprocServer(kSecond, path), S_OK);
    EXPECT_EQ(path, "/a/second.so");
}

TEST_F(ClassRegistry, TextsThatAreNoProgIdAndUnregisteredClassesAreRefused)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "/a/first.so", "Apartment", ""), S_OK);
    const std::string before = testsupport::ReadFile(FRegistry.Path());
    for (const std::string& bad : std::vector<std::string>{"", "1st.Thing", "Vendor_Thing", "Vendor Thing", "Vendor.Thing\n[x]",
                                  std::string(40, 'a')})
        EXPECT_EQ(platform::RegisterProgIds(kFirst, bad, "Vendor.Thing", ""), E_INVALIDARG) << bad;
    EXPECT_EQ(platform::RegisterProgIds(kSecond, "Vendor.Thing.1", "Vendor.Thing", ""), SELFREG_E_CLASS);
    EXPECT_NE(platform::ClassRegistryError().find("not registered"), std::string::npos);
    EXPECT_EQ(testsupport::ReadFile(FRegistry.Path()), before);
}

// A file that a version without ProgIDs wrote is read and extended in place; and a file with
// ProgIDs stays in the grammar such a version reads (comments, class headers, name=value).
TEST_F(ClassRegistry, FileOfTheFormerFormIsReadAndStaysReadableByFormerVersions)
{
    const std::string former = "; Ponderix class registry: in-process servers by class id.\n"
                               "\n"
                               "[{11111111-2222-3333-4444-555555555555}]\n"
                               "InprocServer32=/opt/drivers/Trutina.dll\n"
                               "ThreadingModel=Apartment\n"
                               "Description=Весы\n";
    testsupport::WriteFile(FRegistry.Path(), former);
    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(kFirst, path), S_OK);
    EXPECT_EQ(path, "/opt/drivers/Trutina.dll");
    ASSERT_EQ(platform::RegisterProgIds(kFirst, "Trutina.Statera.1", "Trutina.Statera", ""), S_OK);
    const std::string text = testsupport::ReadFile(FRegistry.Path());
    EXPECT_EQ(text, former + "ProgID=Trutina.Statera.1\nVersionIndependentProgID=Trutina.Statera\n");
    std::istringstream lines(text);
    const std::regex formerGrammar(R"(|;.*|\[\{[0-9A-F-]{36}\}\]|[A-Za-z0-9]+=.*)");
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(std::regex_match(line, formerGrammar)) << line;
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

namespace {

// A relative XDG_CONFIG_HOME or HOME is invalid and never names a folder under the current one.
TEST(UserConfigFolder, IgnoresRelativeValues)
{
    const passwd* user = getpwuid(getuid());
    ASSERT_TRUE(user && user->pw_dir && user->pw_dir[0] == '/');
    const std::string userHome = user->pw_dir;
    struct Case {
        const char* ConfigHome;
        const char* Home;
        std::string Expected;
    };
    const Case cases[] = {{"relcfg", "/home/u", "/home/u/.config"},
                          {"relcfg", "relhome", userHome + "/.config"},
                          {"", "", userHome + "/.config"},
                          {"/cfg", "relhome", "/cfg"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ConfigHome) + " | " + c.Home);
        setenv("XDG_CONFIG_HOME", c.ConfigHome, 1);
        setenv("HOME", c.Home, 1);
        EXPECT_EQ(platform::UserConfigFolder(), c.Expected);
    }
}

} // namespace
