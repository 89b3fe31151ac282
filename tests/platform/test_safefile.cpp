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
    bool Replaced; // ReplaceFileAtomically may write it
};

const TNode kNodes[] = {
    {"folder with a file in it", [](const fs::path& f) { testsupport::WriteFile((f / "kept").string(), "x"); }, false,
     TOutcome::NotRegular, false},
    {"FIFO", [](const fs::path& f) { ASSERT_EQ(mkfifo(f.c_str(), 0600), 0); }, false, TOutcome::NotRegular, false},
    {"character device", [](const fs::path& f) { ASSERT_EQ(mknod(f.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0); }, true,
     TOutcome::NotRegular, false},
    {"symbolic link to /dev/zero", [](const fs::path& f) { fs::create_symlink("/dev/zero", f); }, false,
     TOutcome::NotRegular, false},
    {"symbolic link to a FIFO",
     [](const fs::path& f) {
         ASSERT_EQ(mkfifo((f.parent_path() / "fifo").c_str(), 0600), 0);
         fs::create_symlink(f.parent_path() / "fifo", f);
     },
     false, TOutcome::NotRegular, false},
    {"symbolic link to a folder", [](const fs::path& f) { fs::create_symlink(fs::temp_directory_path(), f); }, false,
     TOutcome::NotRegular, false},
    {"symbolic link to nothing", [](const fs::path& f) { fs::create_symlink(f.parent_path() / "absent", f); }, false,
     TOutcome::DanglingLink, false},
    {"regular file above the size bound", [](const fs::path& f) { testsupport::WriteFile(f.string(), std::string(kBound + 1, 'x')); },
     false, TOutcome::TooLarge, true},
    {"another user's link to a regular file",
     [](const fs::path& f) {
         testsupport::WriteFile((f.parent_path() / "target").string(), "x");
         fs::create_symlink(f.parent_path() / "target", f);
         ASSERT_EQ(lchown(f.c_str(), 65534, 65534), 0);
     },
     true, TOutcome::Read, false},
};

TEST(SafeFile, EachNodeIsReadReplacedOrRefusedAsItsKindAllows)
{
    const fs::path folder = fs::temp_directory_path() / ("safefile-" + std::to_string(getpid()));
    const fs::path file = folder / "file";
    for (const TNode& node : kNodes) {
        SCOPED_TRACE(node.Name);
        if (node.NeedsRoot && geteuid() != 0) {
            std::printf("skipped \"%s\": only root makes it\n", node.Name);
            continue;
        }
        fs::remove_all(folder);
        fs::create_directories(folder);
        node.Make(file);
        struct stat before {};
        ASSERT_EQ(lstat(file.c_str(), &before), 0);

        EXPECT_EQ(platform::ReadFileBounded(file.string(), kBound).Outcome, node.Read);
        platform::NewFileWriter writer; // never appends to what is there
        EXPECT_FALSE(writer.Open(file.string()).empty());
        EXPECT_EQ(platform::ReplaceFileAtomically(file.string(), "new").empty(), node.Replaced);

        struct stat after {};
        ASSERT_EQ(lstat(file.c_str(), &after), 0);
        if (!node.Replaced) {
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_size, before.st_size);
        }
    }
    fs::remove_all(folder);
}

// Holding the lock: a second holder waits its time, is refused and told who holds it.
TEST(SafeFile, ALockNotHadInTimeSaysWhoHoldsIt)
{
    const std::string path = (fs::temp_directory_path() / ("safefile-lock-" + std::to_string(getpid()))).string();
    {
        const platform::FileLock first(path, 0);
        ASSERT_TRUE(first.Locked());
        const platform::FileLock second(path, 50);
        EXPECT_FALSE(second.Locked());
        EXPECT_EQ(second.Holder(), "held by process " + std::to_string(getpid()));
    }
    fs::remove(path);
}

} // namespace
