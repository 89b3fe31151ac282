// The safe-file service on Windows: only a disk file is used (GetFileType), a reparse point (a
// link) is never written through, and a replacement is a new file moved over the old one.
#include "platform/internal_win.h"
#include "platform/safefile.h"

#include <algorithm>
#include <atomic>

namespace platform {
namespace {

std::string SystemReason() { return detail::SystemMessage(GetLastError()); }

FileRead Outcome(FileRead::TOutcome outcome, std::string error = {})
{
    FileRead read;
    read.Outcome = outcome;
    read.Error = std::move(error);
    return read;
}

// Closes a handle on every path.
struct THandle {
    HANDLE Value = INVALID_HANDLE_VALUE;
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    explicit THandle(HANDLE value) : Value(value) {}
    ~THandle()
    {
        if (Value != INVALID_HANDLE_VALUE)
            CloseHandle(Value);
    }
};

// What is at the path and may not be written: a folder or a link (a reparse point).
std::string Unwritable(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {};
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "a link: not followed";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return "not a regular file (a folder, device or pipe)";
    return {};
}

bool WriteAll(HANDLE file, std::string_view text)
{
    while (!text.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
        if (!WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0)
            return false;
        text.remove_prefix(written);
    }
    return true;
}

} // namespace

FileRead ReadFileBounded(const std::string& path, std::uintmax_t maxBytes)
{
    using TOutcome = FileRead::TOutcome;
    const std::wstring name = detail::WideFromUtf8(path);
    const THandle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Value == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return Outcome(TOutcome::Missing);
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Outcome(TOutcome::NotRegular);
        return Outcome(error == ERROR_ACCESS_DENIED ? TOutcome::Denied : TOutcome::Failed, detail::SystemMessage(error));
    }
    LARGE_INTEGER size{};
    if (GetFileType(file.Value) != FILE_TYPE_DISK || !GetFileSizeEx(file.Value, &size))
        return Outcome(TOutcome::NotRegular);
    if (static_cast<std::uintmax_t>(size.QuadPart) > maxBytes)
        return Outcome(TOutcome::TooLarge);
    FileRead read = Outcome(TOutcome::Read);
    char buffer[64 * 1024];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.Value, buffer, sizeof buffer, &n, nullptr))
            return Outcome(TOutcome::Failed, SystemReason());
        if (n == 0)
            return read;
        read.Text.append(buffer, n);
        if (read.Text.size() > maxBytes) // grew while being read
            return Outcome(TOutcome::TooLarge);
    }
}

std::string ReplaceFileAtomically(const std::string& path, std::string_view text)
{
    const std::wstring target = detail::WideFromUtf8(path);
    if (std::string why = Unwritable(target); !why.empty())
        return why;
    static std::atomic<unsigned> counter{0};
    std::wstring temporary;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++) + L".tmp";
        created = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (created == INVALID_HANDLE_VALUE)
        return "cannot create a new file beside " + path + ": " + SystemReason();
    bool written;
    {
        const THandle file(created);
        written = WriteAll(file.Value, text) && FlushFileBuffers(file.Value);
    }
    if (!written || !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::string why = SystemReason();
        DeleteFileW(temporary.c_str());
        return "cannot write " + path + ": " + why;
    }
    return {};
}

NewFileWriter::~NewFileWriter()
{
    if (FHandle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(FHandle));
}

std::string NewFileWriter::Open(const std::string& path)
{
    const std::wstring name = detail::WideFromUtf8(path);
    if (std::string why = Unwritable(name); !why.empty())
        return why;
    // Others may append too: the crash report adds the recording's last line through a handle of
    // its own, opened while this one is open.
    THandle file(CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Value == INVALID_HANDLE_VALUE)
        return SystemReason();
    LARGE_INTEGER size{};
    if (GetFileType(file.Value) != FILE_TYPE_DISK || !GetFileSizeEx(file.Value, &size))
        return "not a regular file (a folder, device or pipe)";
    if (size.QuadPart != 0)
        return "the file exists and is not empty";
    FHandle = reinterpret_cast<std::intptr_t>(file.Value);
    file.Value = INVALID_HANDLE_VALUE;
    return {};
}

bool NewFileWriter::Write(std::string_view text, std::string& why)
{
    if (FHandle == -1 || !WriteAll(reinterpret_cast<HANDLE>(FHandle), text)) {
        why = FHandle == -1 ? "not open" : SystemReason();
        return false;
    }
    return true;
}

} // namespace platform
