// FileLock on Linux: flock on a lock file. flock belongs to the open file, so two holders in one
// process exclude each other as two processes do.
#include "platform/filelock.h"
#include "platform/internal.h"

#include <chrono>
#include <thread>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

// When the process began, in clock ticks after the system's start (the 22nd field of its stat);
// empty when it cannot be told. With the id, it names one process: ids are used again.
std::string StartOf(long pid)
{
    char text[1024] = {};
    const int fd = open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd < 0 ? -1 : read(fd, text, sizeof text - 1);
    if (fd >= 0)
        close(fd);
    const char* field = n > 0 ? std::strrchr(text, ')') : nullptr; // the name may hold anything
    for (int at = 2; field && at < 22; ++at)
        field = std::strchr(field + 1, ' ');
    return field ? std::string(field + 1, std::strcspn(field + 1, " ")) : std::string();
}

// "process 1234" as a holder wrote itself into the lock file ("process 1234 started 5678"), when
// that very process still runs: the name may be a holder's that ended, left behind by one that
// has not written its own yet, and its id may have gone to another process since.
std::string LiveHolder(int fd)
{
    char text[96] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    const std::string written(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::string prefix = "process ", started = " started ";
    if (written.compare(0, prefix.size(), prefix) != 0)
        return {};
    char* end = nullptr;
    const long pid = std::strtol(written.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || (*end != '\0' && std::string(end).rfind(started, 0) != 0)
        || (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM))
        return {};
    if (*end != '\0' && StartOf(pid) != std::string(end + started.size()))
        return {};
    return prefix + std::to_string(pid);
}

// Whether fd is still the file at path: a holder letting go may have removed it meanwhile.
bool StillAtPath(int fd, const std::string& path)
{
    struct stat locked {}, named {};
    return fstat(fd, &locked) == 0 && lstat(path.c_str(), &named) == 0 && locked.st_dev == named.st_dev
           && locked.st_ino == named.st_ino;
}

// Locks fd, waiting until then; false (fd closed) with held and why set when it cannot.
bool Lock(int fd, const std::string& lockPath, std::chrono::steady_clock::time_point until, bool& held, std::string& why)
{
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            why = "cannot lock " + lockPath + ": " + std::strerror(errno);
            close(fd);
            return false;
        }
        if (std::chrono::steady_clock::now() >= until) {
            const std::string holder = LiveHolder(fd);
            held = true;
            why = "held by " + (holder.empty() ? std::string("another process") : holder);
            close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace

FileLock::FileLock(const std::string& lockPath, int timeoutMs) : FPath(lockPath)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        // O_NONBLOCK: a FIFO put in the lock file's place must not hang the open.
        std::string why;
        fd = detail::OpenWalked(lockPath, O_RDWR | O_NOCTTY | O_NONBLOCK, 0600, why);
        if (fd < 0) {
            FHolder = "cannot use " + lockPath + ": " + why;
            return;
        }
        if (!Lock(fd, lockPath, until, FHeld, FHolder))
            return;
        // Locked a file its last holder removed on letting go: locking it keeps nobody off.
        if (!StillAtPath(fd, lockPath)) {
            close(fd);
            fd = -1;
            if (attempt == 100) {
                FHolder = "cannot lock " + lockPath + ": it is being removed and created again";
                return;
            }
        }
    }
    const std::string holder = "process " + std::to_string(getpid()) + " started " + StartOf(getpid());
    if (ftruncate(fd, 0) == 0 && pwrite(fd, holder.data(), holder.size(), 0) < 0) {
    }
    FHandle = fd;
}

FileLock::~FileLock()
{
    if (FHandle == -1)
        return;
    const int fd = static_cast<int>(FHandle);
    // Removed while still locked: whoever opened it meanwhile finds it gone once it gets the lock.
    if (FRemove && StillAtPath(fd, FPath))
        unlink(FPath.c_str());
    close(fd); // closing releases the lock
}

} // namespace platform
