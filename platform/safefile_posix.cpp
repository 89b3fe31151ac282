// The safe-file service on Linux. A path is walked one name at a time from "/" or the current
// folder with openat and O_NOFOLLOW, so that the kernel never follows a link on our behalf: a
// link is read and its target walked the same way, and only when its owner is trusted. Nothing
// but a regular file of a real file system is opened, and a file is written only in the folder
// the walk opened, so a name swapped in between cannot redirect it.
#include "platform/safefile.h"
#include "platform/internal.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <climits>
#include <ctime>
#include <deque>
#include <utility>

namespace platform {
namespace {

class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    TFd(TFd&& other) noexcept : FFd(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept
    {
        if (this != &other) {
            Close();
            FFd = other.Release();
        }
        return *this;
    }
    ~TFd() { Close(); }
    int Get() const { return FFd; }
    int Release() { return std::exchange(FFd, -1); }
    bool Close()
    {
        const int fd = std::exchange(FFd, -1);
        return fd < 0 || close(fd) == 0;
    }

private:
    int FFd;
};

std::string SystemReason() { return std::strerror(errno); }

const char* const kNotRegular = "not a regular file (a folder, device or pipe)";
const char* const kForeignLink = "a symbolic link of another user: not followed";
const char* const kForeignFile = "a file of another user: not taken as ours";

FileRead::TOutcome ReadFailure() { return errno == EACCES || errno == EPERM ? FileRead::TOutcome::Denied : FileRead::TOutcome::Failed; }

FileRead Outcome(FileRead::TOutcome outcome, std::string error = {})
{
    FileRead read;
    read.Outcome = outcome;
    read.Error = std::move(error);
    return read;
}

// A file of the kernel's own file systems (/proc, /sys ...): its size says nothing of what it
// reads, which may be endless or change with every read, and writing it acts.
bool PseudoFile(int fd)
{
    struct statfs info {};
    if (fstatfs(fd, &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case PROC_SUPER_MAGIC: case SYSFS_MAGIC: case DEBUGFS_MAGIC: case SECURITYFS_MAGIC: case TRACEFS_MAGIC:
    case CGROUP_SUPER_MAGIC: case CGROUP2_SUPER_MAGIC: case BPF_FS_MAGIC: case EFIVARFS_MAGIC:
    case 0x62656570: // configfs
        return true;
    default:
        return false;
    }
}

// A regular file of a real file system, opened as fd.
bool RegularFile(int fd, struct stat& info) { return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && !PseudoFile(fd); }

// Where a path leads: the folder the walk opened and the last name in it, which is no link (and
// may not exist). ViaLink: that name is the target of a link that was the path's last name.
struct TPlace {
    TFd Folder;
    std::string Name;
    bool ViaLink = false;
    bool MissingOnTheWay = false; // a folder of the path does not exist
};

void SplitInto(std::deque<std::string>& names, const std::string& path)
{
    std::deque<std::string> split;
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        if (end > at && path.compare(at, end - at, ".") != 0)
            split.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    names.insert(names.begin(), split.begin(), split.end());
}

TFd OpenRoot(bool absolute) { return TFd(open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC)); }

// Walks path (see the file's head). A link is followed only when it is ours, or root's on the way
// to a folder (the system's own, as /lib or /var/run); the last name follows the stricter rule a
// write always had. Empty on success, else why, naming the part of the path that stopped it.
std::string Resolve(const std::string& path, TPlace& place)
{
    std::deque<std::string> names;
    SplitInto(names, path);
    if (names.empty())
        return "names no file";
    place.Folder = OpenRoot(path.front() == '/');
    std::string walked = path.front() == '/' ? "/" : "";
    int links = 0;
    while (!names.empty()) {
        std::string name = std::move(names.front());
        names.pop_front();
        const bool last = names.empty();
        if (place.Folder.Get() < 0)
            return "cannot open " + (walked.empty() ? std::string(".") : walked) + ": " + SystemReason();
        const std::string here = walked + name;
        struct stat info {};
        if (fstatat(place.Folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && last) {
                place.Name = std::move(name);
                return {};
            }
            place.MissingOnTheWay = errno == ENOENT;
            return here + ": " + SystemReason();
        }
        if (S_ISLNK(info.st_mode)) {
            if (info.st_uid != geteuid() && (last || info.st_uid != 0))
                return last && links == 0 ? kForeignLink : here + " is " + kForeignLink;
            if (++links > 40)
                return here + ": " + std::strerror(ELOOP);
            std::string target(PATH_MAX, '\0');
            const ssize_t n = readlinkat(place.Folder.Get(), name.c_str(), target.data(), target.size());
            if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
                return here + ": cannot read the symbolic link";
            target.resize(static_cast<std::size_t>(n));
            SplitInto(names, target);
            place.ViaLink = place.ViaLink || last;
            if (target.front() == '/') {
                place.Folder = OpenRoot(true);
                walked = "/";
            }
            if (names.empty()) { // a link to "/" or "."
                place.Name = ".";
                return {};
            }
            continue;
        }
        if (last) {
            place.Name = std::move(name);
            return {};
        }
        place.Folder = TFd(openat(place.Folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (place.Folder.Get() < 0)
            return here + ": " + (errno == ENOTDIR || errno == ELOOP ? std::string("not a folder") : SystemReason());
        walked = here + "/";
    }
    return "names no file";
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// While it lives, a write past the file size limit (ulimit -f) fails with EFBIG instead of ending
// the process, which would leave a temporary behind.
class TFileSizeSignalHeld {
public:
    TFileSizeSignalHeld()
    {
        sigemptyset(&FSignal);
        sigaddset(&FSignal, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &FSignal, &FPrevious);
    }
    ~TFileSizeSignalHeld()
    {
        const int saved = errno; // the write's reason
        const timespec none{};
        while (sigtimedwait(&FSignal, nullptr, &none) > 0) {
        } // taken, not delivered later
        pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr);
        errno = saved;
    }
    TFileSizeSignalHeld(const TFileSizeSignalHeld&) = delete;
    TFileSizeSignalHeld& operator=(const TFileSizeSignalHeld&) = delete;

private:
    sigset_t FSignal, FPrevious;
};

// The temporary of a replacement of name: ".<name>.<process>-<counter>".
std::string TemporaryPrefix(const std::string& name) { return "." + name + "."; }

bool IsTemporaryOf(const std::string& prefix, const char* entry)
{
    if (std::strncmp(entry, prefix.c_str(), prefix.size()) != 0)
        return false;
    const std::string_view rest(entry + prefix.size());
    const std::size_t dash = rest.find('-');
    const auto digits = [](std::string_view s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos; };
    return dash != std::string_view::npos && digits(rest.substr(0, dash)) && digits(rest.substr(dash + 1));
}

// A write killed between creating its temporary and the rename leaves the temporary behind: ours,
// by name and owner, and untouched for longer than any write takes, it goes.
constexpr std::time_t kAbandonedAfterSeconds = 10 * 60;

void SweepTemporaries(int folder, const std::string& name)
{
    const int listed = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed < 0 ? nullptr : fdopendir(listed);
    if (!dir) {
        if (listed >= 0)
            close(listed);
        return;
    }
    const std::string prefix = TemporaryPrefix(name);
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = readdir(dir)) {
        struct stat info {};
        if (IsTemporaryOf(prefix, entry->d_name) && fstatat(listed, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(info.st_mode) && info.st_uid == geteuid() && now - info.st_mtime > kAbandonedAfterSeconds)
            unlinkat(listed, entry->d_name, 0);
    }
    closedir(dir);
}

// A new file of a name no other file has, in folder beside name.
TFd CreateTemporary(int folder, const std::string& name, std::string& temporary)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = TemporaryPrefix(name) + std::to_string(getpid()) + "-" + std::to_string(counter++);
        TFd fd(openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (fd.Get() >= 0 || errno != EEXIST)
            return fd;
    }
    return TFd();
}

// What already is at the place, when anything is; refuses what may not be written over or into.
std::string Unwritable(const TPlace& place, bool& exists, struct stat& existing)
{
    exists = fstatat(place.Folder.Get(), place.Name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists)
        return place.ViaLink ? "a symbolic link to a file that does not exist: not followed" : "";
    if (!S_ISREG(existing.st_mode))
        return kNotRegular;
    if (existing.st_uid != geteuid())
        return kForeignFile;
    return {};
}

} // namespace

int detail::OpenWalked(const std::string& path, int flags, unsigned mode, std::string& why)
{
    TPlace place;
    if (why = Resolve(path, place); !why.empty())
        return -1;
    bool exists = false;
    struct stat info {};
    if (why = Unwritable(place, exists, info); !why.empty())
        return -1;
    // Created here, or a file of ours; O_NOFOLLOW: a link swapped in since the walk is refused.
    flags |= O_CLOEXEC | O_NOFOLLOW;
    TFd fd(openat(place.Folder.Get(), place.Name.c_str(), flags | O_CREAT | O_EXCL, mode));
    if (fd.Get() < 0 && errno == EEXIST)
        fd = TFd(openat(place.Folder.Get(), place.Name.c_str(), flags));
    if (fd.Get() < 0)
        why = errno == ELOOP ? kForeignLink : SystemReason();
    else if (!RegularFile(fd.Get(), info))
        why = kNotRegular;
    else if (info.st_uid != geteuid())
        why = kForeignFile;
    return why.empty() ? fd.Release() : -1;
}

namespace {

// The rest of a bounded read, from the opened regular file on.
FileRead ReadOpened(int fd, const struct stat& info, std::uintmax_t maxBytes)
{
    using TOutcome = FileRead::TOutcome;
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes)
        return Outcome(TOutcome::TooLarge);
    FileRead read = Outcome(TOutcome::Read);
    read.Text.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Outcome(ReadFailure(), SystemReason());
        if (n == 0)
            return read;
        read.Text.append(buffer, static_cast<std::size_t>(n));
        if (read.Text.size() > maxBytes) // grew while being read
            return Outcome(TOutcome::TooLarge);
    }
}

} // namespace

FileRead ReadOwnFileBounded(const std::string& path, std::uintmax_t maxBytes)
{
    using TOutcome = FileRead::TOutcome;
    TPlace place;
    if (std::string why = Resolve(path, place); !why.empty()) {
        if (place.MissingOnTheWay)
            return Outcome(TOutcome::Missing);
        return Outcome(why.find(kForeignLink) != std::string::npos ? TOutcome::ForeignLink : TOutcome::Failed, why);
    }
    // O_NOFOLLOW: a link swapped in since the walk is not followed.
    const TFd fd(openat(place.Folder.Get(), place.Name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (fd.Get() < 0) {
        if (errno == ENOENT)
            return Outcome(place.ViaLink ? TOutcome::DanglingLink : TOutcome::Missing);
        return errno == ELOOP ? Outcome(TOutcome::ForeignLink, kForeignLink) : Outcome(ReadFailure(), SystemReason());
    }
    struct stat info {};
    if (!RegularFile(fd.Get(), info))
        return Outcome(TOutcome::NotRegular);
    if (info.st_uid != geteuid())
        return Outcome(TOutcome::ForeignFile);
    return ReadOpened(fd.Get(), info, maxBytes);
}

FileRead ReadFileBounded(const std::string& path, std::uintmax_t maxBytes)
{
    using TOutcome = FileRead::TOutcome;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT)
            return Outcome(ReadFailure(), SystemReason());
        struct stat link {};
        return Outcome(lstat(path.c_str(), &link) == 0 ? TOutcome::DanglingLink : TOutcome::Missing);
    }
    if (!S_ISREG(info.st_mode))
        return Outcome(TOutcome::NotRegular);
    const TFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0)
        return Outcome(errno == ENOENT ? TOutcome::Missing : ReadFailure(), SystemReason());
    if (!RegularFile(fd.Get(), info))
        return Outcome(TOutcome::NotRegular);
    return ReadOpened(fd.Get(), info, maxBytes);
}

std::string ReplaceFileAtomically(const std::string& path, std::string_view text)
{
    TPlace place;
    if (std::string why = Resolve(path, place); !why.empty())
        return why;
    bool exists = false;
    struct stat existing {};
    if (std::string why = Unwritable(place, exists, existing); !why.empty())
        return why;
    const int folder = place.Folder.Get();
    SweepTemporaries(folder, place.Name);
    std::string temporary;
    TFd fd = CreateTemporary(folder, place.Name, temporary);
    if (fd.Get() < 0)
        return "cannot create a new file beside it: " + SystemReason();
    bool written = !exists || fchmod(fd.Get(), existing.st_mode & 07777) == 0;
    // The file's group stays where the system lets us keep it.
    if (exists && fchown(fd.Get(), static_cast<uid_t>(-1), existing.st_gid) != 0) {
    }
    {
        const TFileSizeSignalHeld held;
        written = written && WriteAll(fd.Get(), text) && fsync(fd.Get()) == 0;
    }
    const bool closed = fd.Close();
    if (!written || !closed || renameat(folder, temporary.c_str(), folder, place.Name.c_str()) != 0) {
        const std::string why = SystemReason();
        unlinkat(folder, temporary.c_str(), 0);
        return why; // the caller names the file
    }
    const TFd synced(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (synced.Get() >= 0)
        fsync(synced.Get());
    return {};
}

NewFileWriter::~NewFileWriter()
{
    if (FHandle != -1)
        close(static_cast<int>(FHandle));
}

std::string NewFileWriter::Open(const std::string& path)
{
    std::string why;
    TFd fd(detail::OpenWalked(path, O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK, 0666, why));
    if (fd.Get() < 0)
        return why;
    // Held while the file is open: a second writer of the same file is refused, not interleaved.
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? "another writer holds its lock" : SystemReason();
    struct stat info {};
    if (fstat(fd.Get(), &info) != 0 || info.st_size != 0)
        return "the file exists and is not empty";
    FHandle = fd.Release();
    return {};
}

bool NewFileWriter::Write(std::string_view text, std::string& why)
{
    if (FHandle == -1 || !WriteAll(static_cast<int>(FHandle), text)) {
        why = FHandle == -1 ? "not open" : SystemReason();
        return false;
    }
    return true;
}

} // namespace platform
