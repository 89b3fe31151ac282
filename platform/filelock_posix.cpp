// FileLock on Linux: flock on a lock file. flock belongs to the open file, so two holders in one
// process exclude each other as two processes do.
#include "platform/filelock.h"

#include <chrono>
#include <thread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileLock::FileLock(const std::string& lockPath, int timeoutMs)
{
    // O_NONBLOCK: a FIFO put in the lock file's place must not hang the open.
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0) {
        FHolder = "cannot open " + lockPath + ": " + std::strerror(errno);
        return;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        FHolder = lockPath + " is not a regular file";
        close(fd);
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until) {
            // The holder wrote itself into the file when it took the lock.
            char text[64] = {};
            const ssize_t n = pread(fd, text, sizeof text - 1, 0);
            FHolder = "held by " + (n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string("another process"));
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
