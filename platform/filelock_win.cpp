// FileLock on Windows: LockFileEx on a lock file. The lock belongs to the handle, so two holders
// in one process exclude each other as two processes do.
#include "platform/filelock.h"
#include "platform/internal_win.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace platform {

namespace {

// "process 1234" as a holder wrote itself into the lock file, when that process still runs: the
// name may be a holder's that ended, left behind by one that has not written its own yet.
std::string LiveHolder(HANDLE file)
{
    char text[64] = {};
    DWORD n = 0;
    OVERLAPPED start{};
    if (!ReadFile(file, text, sizeof text - 1, &n, &start))
        return {};
    const std::string written(text, n);
    const std::string prefix = "process ";
    if (written.compare(0, prefix.size(), prefix) != 0)
        return {};
    char* end = nullptr;
    const unsigned long pid = std::strtoul(written.c_str() + prefix.size(), &end, 10);
    if (pid == 0 || *end != '\0')
        return {};
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    DWORD code = 0;
    const bool running = process && GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    if (process)
        CloseHandle(process);
    return running ? written : std::string();
}

} // namespace

FileLock::FileLock(const std::string& lockPath, int timeoutMs) : FPath(lockPath)
{
    const std::wstring path = detail::WideFromUtf8(lockPath);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A holder letting go deletes the file while nobody else has it open: held until then.
        FHeld = error == ERROR_SHARING_VIOLATION;
        FHolder = FHeld ? "held by another process" : "cannot open " + lockPath + ": " + detail::SystemMessage(error);
        return;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        FHolder = lockPath + " is not a regular file";
        CloseHandle(file);
        return;
    }
    // The lock is on a byte far beyond the end, so that the holder's name at the start stays
    // readable to those who wait.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        OVERLAPPED at{};
        at.OffsetHigh = 1;
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            break;
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            FHolder = "cannot lock " + lockPath + ": " + detail::SystemMessage(GetLastError());
            CloseHandle(file);
            return;
        }
        if (std::chrono::steady_clock::now() >= until) {
            const std::string holder = LiveHolder(file);
            FHeld = true;
            FHolder = "held by " + (holder.empty() ? std::string("another process") : holder);
            CloseHandle(file);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const std::string holder = "process " + std::to_string(GetCurrentProcessId());
    DWORD written = 0;
    OVERLAPPED start{};
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file))
        WriteFile(file, holder.data(), static_cast<DWORD>(holder.size()), &written, &start);
    FHandle = reinterpret_cast<std::intptr_t>(file);
}

FileLock::~FileLock()
{
    if (FHandle == -1)
        return;
    CloseHandle(reinterpret_cast<HANDLE>(FHandle)); // closing releases the lock
    if (!FRemove)
        return;
    // Opened with no sharing, the file opens only when no other process has it open (one that has
    // may be about to lock it, and keeps it); closed, it is deleted.
    const std::wstring path = detail::WideFromUtf8(FPath);
    const HANDLE last = CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (last != INVALID_HANDLE_VALUE)
        CloseHandle(last);
}

} // namespace platform
