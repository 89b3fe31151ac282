// FileLock on Windows: LockFileEx on a lock file. The lock belongs to the handle, so two holders
// in one process exclude each other as two processes do.
#include "platform/filelock.h"
#include "platform/internal_win.h"

#include <chrono>
#include <string>
#include <thread>

namespace platform {

FileLock::FileLock(const std::string& lockPath, int timeoutMs)
{
    const std::wstring path = detail::WideFromUtf8(lockPath);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FHolder = "cannot open " + lockPath + ": " + detail::SystemMessage(GetLastError());
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
        if (GetLastError() != ERROR_LOCK_VIOLATION || std::chrono::steady_clock::now() >= until) {
            char text[64] = {};
            DWORD n = 0;
            OVERLAPPED start{};
            FHolder = "held by " + (ReadFile(file, text, sizeof text - 1, &n, &start) && n > 0 ? std::string(text, n) : std::string("another process"));
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
    if (FHandle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(FHandle)); // closing releases the lock
}

} // namespace platform
