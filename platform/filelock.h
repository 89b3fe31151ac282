// An exclusive advisory lock on a file, between processes.
#pragma once

#include "platform/ole.h"

#include <cstdint>
#include <string>

namespace platform {

// An exclusive advisory lock on the file lockPath (created when missing; only a regular file is
// used), between processes and between separate holders in one process: flock on Linux,
// LockFileEx on Windows. Waits up to timeoutMs. A handle that is not Locked() when the lock could
// not be had (the caller goes on unlocked or gives up). Held() tells a lock another holder has
// from a lock file that cannot be used (a read-only disk, a folder, another user's file), and
// Holder() says which: "held by process 1234" as the holder wrote itself into the lock file and
// only while that process runs ("held by another process" otherwise), or why the file cannot be
// used. The lock file's path is walked as a write's is. Released when the handle goes.
class PLATFORM_API FileLock {
public:
    FileLock(const std::string& lockPath, int timeoutMs);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Locked() const { return FHandle != -1; }
    // Not locked because another holder has the lock (not because the lock file cannot be used).
    bool Held() const { return FHeld; }
    // Not locked: who holds the lock ("held by process 1234"), or why the lock file could not be used.
    const std::string& Holder() const { return FHolder; }
    // The lock file goes when the lock is let go, unless another holder may be about to lock it
    // (a lock taken on a file already removed would exclude nobody): on Linux it is removed while
    // still locked, and every holder checks that the file it locked is still the one at the path;
    // on Windows it is deleted only when no other process has it open.
    void RemoveOnRelease() { FRemove = Locked(); }

private:
    std::intptr_t FHandle = -1; // a descriptor, or a HANDLE's value
    bool FHeld = false;
    bool FRemove = false;
    std::string FPath;
    std::string FHolder;
};

} // namespace platform
