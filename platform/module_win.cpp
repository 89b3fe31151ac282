// Loading libraries with LoadLibraryW; the system's error box for a missing or broken file is
// suppressed while loading.
#include "platform/internal_win.h"
#include "platform/module.h"

namespace platform {
namespace {

std::string LoaderError(const char* fallback)
{
    const DWORD code = GetLastError();
    std::string message = detail::SystemMessage(code);
    if (message.empty())
        message = fallback;
    return message + " (error " + std::to_string(code) + ")";
}

// A path with a folder is loaded by its full name, and the libraries it depends on are searched
// in its own folder first (as the system's COM loads in-process servers); a bare name is searched
// for as usual.
HMODULE LoadByPath(const std::wstring& path)
{
    if (path.find_first_of(L"\\/") == std::wstring::npos)
        return LoadLibraryW(path.c_str());
    std::wstring full(MAX_PATH, L'\0');
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n);
        n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (n == 0 || n >= full.size())
        return LoadLibraryW(path.c_str());
    full.resize(n);
    return LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

Module::Module(const std::string& path)
{
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    FHandle = LoadByPath(detail::WideFromUtf8(path));
    if (!FHandle)
        FError = LoaderError("cannot load the library");
    SetErrorMode(previous);
}

void* Module::Symbol(const char* name) const
{
    if (!FHandle) {
        FError = "the library is not loaded";
        return nullptr;
    }
    void* address = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), name));
    if (!address)
        FError = LoaderError("symbol not found");
    return address;
}

void Module::Unload()
{
    if (FHandle) {
        FreeLibrary(static_cast<HMODULE>(FHandle));
        FHandle = nullptr;
    }
}

bool detail::ReadFileHead(const std::string& path, std::size_t maxBytes, std::string& head)
{
    head.clear();
    const std::wstring name = detail::WideFromUtf8(path);
    // Checked before the open: opening a device (a serial port, a pipe) may act on it.
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (name.rfind(L"\\\\.\\", 0) == 0 || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return false;
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool read = GetFileType(file) == FILE_TYPE_DISK;
    if (read) {
        head.resize(maxBytes);
        DWORD n = 0;
        read = ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &n, nullptr) != 0;
        head.resize(read ? n : 0);
    }
    CloseHandle(file);
    return read;
}

std::string ModulePathOf(const void* addressInModule)
{
    HMODULE module = nullptr;
    if (!addressInModule ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(addressInModule), &module))
        return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return detail::Utf8FromWide(path);
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2); // truncated: try a larger buffer
    }
}

} // namespace platform
