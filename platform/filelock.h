// An exclusive advisory lock on a file, between processes.
#pragma once

#include "platform/ole.h"

#include <cstdint>
#include <string>

namespace platform {

// An exclusive advisory lock on the file lockPath (created when missing; only a regular file is
// used), between processes and between separate holders in one process: flock on Linux,
// LockFileEx on Windows. Waits up to timeoutMs. A handle that is not Locked() when the lock could
// not be had (the caller goes on unlocked or gives up); Holder() then says who holds it, as the
// holder wrote itself into the lock file ("held by process 1234"). Released when the handle goes.
class PLATFORM_API FileLock {
public:
    FileLock(const std::string& lockPath, int timeoutMs);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Locked() const { return FHandle != -1; }
    // Not locked: who holds the lock ("held by process 1234"), or why the lock file could not be used.
    const std::string& Holder() const { return FHolder; }

private:
    std::intptr_t FHandle = -1; // a descriptor, or a HANDLE's value
    std::string FHolder;
};

} // namespace platform
