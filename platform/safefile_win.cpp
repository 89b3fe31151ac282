// The safe-file service on Windows: only a disk file is used (GetFileType), a reparse point (a
// link) is never written through, nor a folder reached through another user's, a file of another
// user is never taken as ours, and a replacement is a new file moved over the old one.
#include "platform/internal_win.h"
#include "platform/safefile.h"

#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <vector>

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

const char* const kForeignFile = "a file of another user: not taken as ours";

// The token's value of the given class (TokenUser, TokenOwner), or empty.
std::vector<BYTE> TokenValue(TOKEN_INFORMATION_CLASS kind)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> value(size);
    if (size == 0 || !GetTokenInformation(token, kind, value.data(), size, &size))
        value.clear();
    CloseHandle(token);
    return value;
}

// Whether the file or folder open as handle belongs to us: the user this process runs as, or the
// owner its token gives to what it creates (the administrators, for an elevated process). With
// system, also the system's own and the administrators' (a junction of the system's folders). A
// file system that keeps no owners (FAT) has no other user's files: what has none is ours.
bool Ours(HANDLE handle, bool system)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return true;
    if (!owner) {
        LocalFree(descriptor);
        return true;
    }
    const std::vector<BYTE> user = TokenValue(TokenUser);
    const std::vector<BYTE> creator = TokenValue(TokenOwner);
    const bool ours = (!user.empty() && EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid))
                      || (!creator.empty() && EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(creator.data())->Owner))
                      || (system && (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid)));
    LocalFree(descriptor);
    return ours;
}

// Whether what is at path (not what a link there names) belongs to us, as Ours says; not when it
// cannot be opened to tell.
bool PathOurs(const std::wstring& path, bool system)
{
    const THandle node(CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                   nullptr));
    return node.Value != INVALID_HANDLE_VALUE && Ours(node.Value, system);
}

// A folder on the way to path that is a link (a reparse point: a symbolic link, a junction) of
// another user, named; empty when there is none. The system's and the administrators' links
// (the junctions of the system's own folders) are followed.
std::string ForeignLinkOnTheWay(const std::wstring& path)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::filesystem::path walked;
    for (const std::filesystem::path& part : folder) {
        walked /= part;
        if (part == walked.root_name() || part == walked.root_directory())
            continue;
        const DWORD attributes = GetFileAttributesW(walked.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            && !PathOurs(walked.native(), true))
            return detail::Utf8FromWide(walked.native()) + " is a link of another user: not followed";
    }
    return {};
}

// What is at the path and may not be written: a folder, a link (a reparse point), a file of
// another user, or a path through another user's link.
std::string Unwritable(const std::wstring& path)
{
    if (std::string why = ForeignLinkOnTheWay(path); !why.empty())
        return why;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {};
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "a link: not followed";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return "not a regular file (a folder, device or pipe)";
    if (!PathOurs(path, false))
        return kForeignFile;
    return {};
}

// A write killed between creating its temporary and the move leaves "<file>.<process>-<n>.tmp":
// ours, by name and owner, and untouched for longer than any write takes, it goes.
void SweepTemporaries(const std::wstring& target)
{
    const std::wstring prefix = std::filesystem::path(target).filename().native() + L".";
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((target + L".*-*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    constexpr ULONGLONG kAbandonedAfter = 10ULL * 60 * 10000000; // ten minutes in 100 ns
    do {
        const std::wstring name = found.cFileName;
        const std::wstring middle = name.size() > prefix.size() + 4 ? name.substr(prefix.size(), name.size() - prefix.size() - 4) : L"";
        const std::size_t dash = middle.find(L'-');
        const bool pattern = name.compare(0, prefix.size(), prefix) == 0 && dash != std::wstring::npos && dash > 0
                             && dash + 1 < middle.size() && middle.find_first_not_of(L"0123456789-") == std::wstring::npos
                             && middle.find(L'-', dash + 1) == std::wstring::npos;
        const std::wstring path = (folder / name).native();
        if (pattern && !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            && ticks(now) - ticks(found.ftLastWriteTime) > kAbandonedAfter && PathOurs(path, false))
            DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
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

FileRead ReadOwnFileBounded(const std::string& path, std::uintmax_t maxBytes)
{
    using TOutcome = FileRead::TOutcome;
    const std::wstring name = detail::WideFromUtf8(path);
    if (std::string why = ForeignLinkOnTheWay(name); !why.empty())
        return Outcome(TOutcome::ForeignLink, why);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !PathOurs(name, false))
        return Outcome(TOutcome::ForeignLink, "a link of another user: not followed");
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) && !PathOurs(name, false))
        return Outcome(TOutcome::ForeignFile);
    return ReadFileBounded(path, maxBytes);
}

std::string ReplaceFileAtomically(const std::string& path, std::string_view text)
{
    const std::wstring target = detail::WideFromUtf8(path);
    if (std::string why = Unwritable(target); !why.empty())
        return why;
    SweepTemporaries(target);
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
        return "cannot create a new file beside it: " + SystemReason();
    bool written;
    {
        const THandle file(created);
        written = WriteAll(file.Value, text) && FlushFileBuffers(file.Value);
    }
    if (!written || !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::string why = SystemReason();
        DeleteFileW(temporary.c_str());
        return why; // the caller names the file
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
    THandle file(CreateFileW(name.c_str(), FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Value == INVALID_HANDLE_VALUE)
        return SystemReason();
    LARGE_INTEGER size{};
    if (GetFileType(file.Value) != FILE_TYPE_DISK || !GetFileSizeEx(file.Value, &size))
        return "not a regular file (a folder, device or pipe)";
    if (!Ours(file.Value, false))
        return kForeignFile;
    // Held while the file is open, on a byte far beyond its end: a second writer of the same file
    // is refused, not interleaved, and appending by others (the crash report) still works.
    OVERLAPPED beyond{};
    beyond.OffsetHigh = 0x7FFFFFFF;
    if (!LockFileEx(file.Value, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &beyond))
        return GetLastError() == ERROR_LOCK_VIOLATION ? "another writer holds its lock" : SystemReason();
    if (!GetFileSizeEx(file.Value, &size) || size.QuadPart != 0)
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
