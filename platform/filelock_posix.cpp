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
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

// "process 1234" as a holder wrote itself into the lock file, when that process still runs: the
// name may be a holder's that ended, left behind by one that has not written its own yet.
std::string LiveHolder(int fd)
{
    char text[64] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    const std::string written(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::string prefix = "process ";
    if (written.compare(0, prefix.size(), prefix) != 0)
        return {};
    char* end = nullptr;
    const long pid = std::strtol(written.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || *end != '\0' || (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM))
        return {};
    return written;
}

} // namespace

FileLock::FileLock(const std::string& lockPath, int timeoutMs)
{
    // O_NONBLOCK: a FIFO put in the lock file's place must not hang the open.
    std::string why;
    const int fd = detail::OpenWalked(lockPath, O_RDWR | O_NOCTTY | O_NONBLOCK, 0600, why);
    if (fd < 0) {
        FHolder = "cannot use " + lockPath + ": " + why;
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            FHolder = "cannot lock " + lockPath + ": " + std::strerror(errno);
            close(fd);
            return;
        }
        if (std::chrono::steady_clock::now() >= until) {
            const std::string holder = LiveHolder(fd);
            FHeld = true;
            FHolder = "held by " + (holder.empty() ? std::string("another process") : holder);
            close(fd);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const std::string holder = "process " + std::to_string(getpid());
    if (ftruncate(fd, 0) == 0 && pwrite(fd, holder.data(), holder.size(), 0) < 0) {
    }
    FHandle = fd;
}

FileLock::~FileLock()
{
    if (FHandle != -1)
        close(static_cast<int>(FHandle)); // closing releases the lock
}

} // namespace platform
