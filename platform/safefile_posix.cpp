// The safe-file service on Linux: nothing but a regular file is opened (stat first, then an open
// with O_NONBLOCK and a check of what was opened, since the name may be swapped in between).
#include "platform/safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace platform {
namespace {

namespace fs = std::filesystem;

class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
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

FileRead::TOutcome ReadFailure() { return errno == EACCES || errno == EPERM ? FileRead::TOutcome::Denied : FileRead::TOutcome::Failed; }

FileRead Outcome(FileRead::TOutcome outcome, std::string error = {})
{
    FileRead read;
    read.Outcome = outcome;
    read.Error = std::move(error);
    return read;
}

// A symbolic link at path that another user owns (root included: a link it did not make).
bool ForeignLink(const std::string& path)
{
    struct stat link {};
    return lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && link.st_uid != geteuid();
}

bool DanglingLink(const std::string& path)
{
    struct stat link {};
    return lstat(path.c_str(), &link) == 0;
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

// A new file of a name no other file has, beside target.
TFd CreateTemporary(const fs::path& target, std::string& name)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = (target.parent_path() /
                ("." + target.filename().string() + "." + std::to_string(getpid()) + "-" + std::to_string(counter++)))
                   .string();
        TFd fd(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (fd.Get() >= 0 || errno != EEXIST)
            return TFd(fd.Release());
    }
    return TFd();
}

void SyncFolder(const fs::path& folder)
{
    const TFd fd(open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0)
        fsync(fd.Get());
}

} // namespace

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
    if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return Outcome(TOutcome::NotRegular);
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes)
        return Outcome(TOutcome::TooLarge);
    FileRead read = Outcome(TOutcome::Read);
    read.Text.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
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

std::string ReplaceFileAtomically(const std::string& path, std::string_view text)
{
    if (ForeignLink(path))
        return "a symbolic link of another user: not followed";
    std::error_code ec;
    fs::path target = path;
    struct stat existing {};
    const bool exists = stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return "not a regular file (a folder, device or pipe)";
    if (!exists && DanglingLink(path))
        return "a symbolic link to a file that does not exist: not followed";
    if (exists && fs::is_symlink(path, ec)) {
        target = fs::canonical(path, ec);
        if (ec)
            return "cannot resolve its symbolic link: " + ec.message();
    }
    std::string temporary;
    TFd fd = CreateTemporary(target, temporary);
    if (fd.Get() < 0)
        return "cannot create a new file in " + target.parent_path().string() + ": " + SystemReason();
    bool written = true;
    if (exists) {
        written = fchmod(fd.Get(), existing.st_mode & 07777) == 0;
        // Root rewriting another user's file leaves it theirs (where the file system can).
        if (written && geteuid() == 0 && fchown(fd.Get(), existing.st_uid, existing.st_gid) != 0) {
        }
    }
    written = written && WriteAll(fd.Get(), text) && fsync(fd.Get()) == 0;
    const bool closed = fd.Close();
    if (!written || !closed || rename(temporary.c_str(), target.c_str()) != 0) {
        const std::string why = SystemReason();
        unlink(temporary.c_str());
        return "cannot write " + target.string() + ": " + why;
    }
    SyncFolder(target.parent_path());
    return {};
}

NewFileWriter::~NewFileWriter()
{
    if (FHandle != -1)
        close(static_cast<int>(FHandle));
}

std::string NewFileWriter::Open(const std::string& path)
{
    if (ForeignLink(path))
        return "a symbolic link of another user: not followed";
    struct stat info {};
    const bool exists = stat(path.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode))
        return "not a regular file (a folder, device or pipe)";
    if (!exists && DanglingLink(path))
        return "a symbolic link to a file that does not exist: not followed";
    TFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (fd.Get() < 0)
        return SystemReason();
    if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return "not a regular file (a folder, device or pipe)";
    if (info.st_size != 0)
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
