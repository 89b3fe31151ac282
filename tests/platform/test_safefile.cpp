// The safe-file service against what may be found at a path: each kind of node is read, replaced
// and written from empty (or refused) exactly as the table says, and what is refused is left as
// it was. A FIFO that blocked would hang the test.
#include "platform/filelock.h"
#include "platform/safefile.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;
using TOutcome = platform::FileRead::TOutcome;

namespace {

constexpr std::uintmax_t kBound = 1024;

struct TNode {
    const char* Name;
    void (*Make)(const fs::path& file);
    bool NeedsRoot;
    TOutcome Read;
    TOutcome OwnRead;           // ReadOwnFileBounded: walked as a write is, only a file of ours
    bool Replaced;              // ReplaceFileAtomically may write it
    const char* Path = "file"; // what is read and written, in the test's folder
};

// Another user's symbolic link: a user root can make one for without creating a user.
void ForeignLink(const fs::path& target, const fs::path& link)
{
    fs::create_symlink(target, link);
    ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0);
}

const TNode kNodes[] = {
    {"folder with a file in it", [](const fs::path& f) { testsupport::WriteFile((f / "kept").string(), "x"); }, false,
     TOutcome::NotRegular, TOutcome::NotRegular, false},
    {"FIFO", [](const fs::path& f) { ASSERT_EQ(mkfifo(f.c_str(), 0600), 0); }, false, TOutcome::NotRegular, TOutcome::NotRegular, false},
    {"character device", [](const fs::path& f) { ASSERT_EQ(mknod(f.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0); }, true,
     TOutcome::NotRegular, TOutcome::NotRegular, false},
    {"symbolic link to /dev/zero", [](const fs::path& f) { fs::create_symlink("/dev/zero", f); }, false,
     TOutcome::NotRegular, TOutcome::NotRegular, false},
    {"symbolic link to a FIFO",
     [](const fs::path& f) {
         ASSERT_EQ(mkfifo((f.parent_path() / "fifo").c_str(), 0600), 0);
         fs::create_symlink(f.parent_path() / "fifo", f);
     },
     false, TOutcome::NotRegular, TOutcome::NotRegular, false},
    {"symbolic link to a folder", [](const fs::path& f) { fs::create_symlink(fs::temp_directory_path(), f); }, false,
     TOutcome::NotRegular, TOutcome::NotRegular, false},
    {"symbolic link to nothing", [](const fs::path& f) { fs::create_symlink(f.parent_path() / "absent", f); }, false,
     TOutcome::DanglingLink, TOutcome::DanglingLink, false},
    {"regular file above the size bound", [](const fs::path& f) { testsupport::WriteFile(f.string(), std::string(kBound + 1, 'x')); },
     false, TOutcome::TooLarge, TOutcome::TooLarge, true},
    {"another user's link to a regular file",
     [](const fs::path& f) {
         testsupport::WriteFile((f.parent_path() / "target").string(), "x");
         fs::create_symlink(f.parent_path() / "target", f);
         ASSERT_EQ(lchown(f.c_str(), 65534, 65534), 0);
     },
     true, TOutcome::Read, TOutcome::ForeignLink, false},
    {"another user's link to a root-only folder, in the middle of the path",
     [](const fs::path& f) {
         fs::create_directory(f.parent_path() / "private");
         testsupport::WriteFile((f.parent_path() / "private" / "file").string(), "x");
         ForeignLink(f.parent_path() / "private", f.parent_path() / "shared");
     },
     true, TOutcome::Read, TOutcome::ForeignLink, false, "shared/file"},
    {"another user's link to a folder, under our own link",
     [](const fs::path& f) {
         fs::create_directories(f.parent_path() / "private" / "out");
         testsupport::WriteFile((f.parent_path() / "private" / "out" / "file").string(), "x");
         ForeignLink(f.parent_path() / "private" / "out", f.parent_path() / "private" / "shared");
         fs::create_symlink("private/shared", f.parent_path() / "mine");
     },
     true, TOutcome::Read, TOutcome::ForeignLink, false, "mine/file"},
    {"our own link to a folder, in the middle of the path",
     [](const fs::path& f) {
         fs::create_directory(f.parent_path() / "real");
         testsupport::WriteFile((f.parent_path() / "real" / "file").string(), "x");
         fs::create_symlink("real", f.parent_path() / "mine");
     },
     false, TOutcome::Read, TOutcome::Read, true, "mine/file"},
    {"an empty file of another user",
     [](const fs::path& f) {
         testsupport::WriteFile(f.string(), "");
         ASSERT_EQ(chown(f.c_str(), 65534, 65534), 0);
     },
     true, TOutcome::Read, TOutcome::ForeignFile, false},
    {"our link to a file of /proc", [](const fs::path& f) { fs::create_symlink("/proc/self/status", f); }, false,
     TOutcome::NotRegular, TOutcome::NotRegular, false},
};

TEST(SafeFile, EachNodeIsReadReplacedOrRefusedAsItsKindAllows)
{
    const fs::path folder = fs::temp_directory_path() / ("safefile-" + std::to_string(getpid()));
    for (const TNode& node : kNodes) {
        const fs::path file = folder / node.Path;
        SCOPED_TRACE(node.Name);
        if (node.NeedsRoot && geteuid() != 0) {
            std::printf("skipped \"%s\": only root makes it\n", node.Name);
            continue;
        }
        fs::remove_all(folder);
        fs::create_directories(folder);
        node.Make(folder / "file");
        struct stat before {};
        ASSERT_EQ(lstat(file.c_str(), &before), 0);

        EXPECT_EQ(platform::ReadFileBounded(file.string(), kBound).Outcome, node.Read);
        const platform::FileRead own = platform::ReadOwnFileBounded(file.string(), kBound);
        EXPECT_EQ(own.Outcome, node.OwnRead) << own.Reason(kBound);
        if (node.OwnRead == TOutcome::ForeignLink) { // says it
            EXPECT_NE(own.Reason(kBound).find("a symbolic link of another user"), std::string::npos) << own.Reason(kBound);
        }
        platform::NewFileWriter writer; // never appends to what is there
        EXPECT_FALSE(writer.Open(file.string()).empty());
        EXPECT_EQ(platform::ReplaceFileAtomically(file.string(), "new").empty(), node.Replaced);

        struct stat after {};
        ASSERT_EQ(lstat(file.c_str(), &after), 0);
        if (node.Replaced)
            EXPECT_EQ(platform::ReadFileBounded(file.string(), kBound).Text, "new");
        else {
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_size, before.st_size);
        }
    }
    fs::remove_all(folder);
}

// Holding the lock: a second holder waits its time, is refused and told who holds it, a holder only
// while it runs; a lock file that cannot be used is told apart from one that is held.
TEST(SafeFile, ALockNotHadInTimeSaysWhoHoldsIt)
{
    const fs::path folder = fs::temp_directory_path() / ("safefile-lock-" + std::to_string(getpid()));
    fs::create_directories(folder / "folder.lock");
    const std::string path = (folder / "file.lock").string();
    {
        const platform::FileLock first(path, 0);
        ASSERT_TRUE(first.Locked());
        const platform::FileLock second(path, 50);
        EXPECT_FALSE(second.Locked());
        EXPECT_TRUE(second.Held());
        EXPECT_EQ(second.Holder(), "held by process " + std::to_string(getpid()));

        testsupport::WriteFile(path, "process 2147483646"); // a holder that ended, never replaced
        const platform::FileLock third(path, 0);
        EXPECT_TRUE(third.Held());
        EXPECT_EQ(third.Holder(), "held by another process");

        // The id of a holder that ended, now another process's (this one's, begun at another time).
        testsupport::WriteFile(path, "process " + std::to_string(getpid()) + " started 1");
        const platform::FileLock fourth(path, 0);
        EXPECT_EQ(fourth.Holder(), "held by another process");
    }
    const platform::FileLock unusable((folder / "folder.lock").string(), 0);
    EXPECT_FALSE(unusable.Locked());
    EXPECT_FALSE(unusable.Held());
    EXPECT_NE(unusable.Holder().find("folder.lock"), std::string::npos);
    fs::remove_all(folder);
}

// Two writers of one new file (two recorders started together) do not share it.
TEST(SafeFile, ASecondWriterOfOneFileIsRefused)
{
    const std::string path = (fs::temp_directory_path() / ("safefile-writer-" + std::to_string(getpid()))).string();
    fs::remove(path);
    platform::NewFileWriter first, second;
    ASSERT_EQ(first.Open(path), "");
    EXPECT_EQ(second.Open(path), "another writer holds its lock");
    fs::remove(path);
}

// A temporary that a killed replacement left is swept when it is ours and old; another user's,
// or one that a replacement may still be writing, stays.
TEST(SafeFile, AReplacementSweepsOnlyOurOldTemporaries)
{
    const fs::path folder = fs::temp_directory_path() / ("safefile-sweep-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const auto temporary = [&](const char* name, bool old, bool foreign) {
        const fs::path path = folder / name;
        testsupport::WriteFile(path.string(), "part");
        if (old)
            fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
        if (foreign && chown(path.c_str(), 65534, 65534) != 0)
            fs::remove(path); // not root: nobody else's file to keep
        return path;
    };
    const fs::path killed = temporary(".file.4242-7", true, false);
    const fs::path running = temporary(".file.4242-8", false, false);
    const fs::path others = temporary(".file.4242-9", true, true);
    const fs::path unlike = temporary(".file.backup", true, false);
    ASSERT_EQ(platform::ReplaceFileAtomically((folder / "file").string(), "new"), "");
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_EQ(fs::exists(others), geteuid() == 0);
    EXPECT_TRUE(fs::exists(unlike));
    fs::remove_all(folder);
}

} // namespace
