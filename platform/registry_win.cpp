// The class registry in the system registry: HKEY_CLASSES_ROOT\CLSID\{clsid} with the class's
// description as its default value and the subkey InprocServer32 (default value: the module's
// path; ThreadingModel). The classes root is written directly, as classic in-process servers do:
// Wine does not merge the per-user HKCU\Software\Classes into it.
#include "platform/internal_win.h"

#include <filesystem>

namespace platform {
namespace {

constexpr const wchar_t* kServerKey = L"InprocServer32";

std::wstring ClassKeyName(REFCLSID clsid)
{
    OLECHAR text[40];
    const int n = StringFromGUID2(clsid, text, 40);
    return L"CLSID\\" + std::wstring(text, text + (n > 0 ? n - 1 : 0));
}

// An open registry key, closed on every path.
class TKey {
public:
    TKey() = default;
    TKey(const TKey&) = delete;
    TKey& operator=(const TKey&) = delete;
    ~TKey()
    {
        if (FKey)
            RegCloseKey(FKey);
    }
    HKEY* Out() { return &FKey; }
    HKEY Get() const { return FKey; }

private:
    HKEY FKey = nullptr;
};

LSTATUS CreateKey(HKEY parent, const std::wstring& name, TKey& key)
{
    return RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                           key.Out(), nullptr);
}

LSTATUS SetText(HKEY key, const wchar_t* name, const std::string& valueUtf8)
{
    const std::wstring value = detail::WideFromUtf8(valueUtf8);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

} // namespace

std::string ClassRegistryPath() { return "HKEY_CLASSES_ROOT\\CLSID"; }

HRESULT RegisterInprocServer(REFCLSID clsid, const std::string& modulePath, const std::string& threadingModel,
                             const std::string& description)
{
    try {
        if (!detail::RegistrableEntry(modulePath, threadingModel, description))
            return SELFREG_E_CLASS;
        std::error_code ec;
        const std::filesystem::path absolute =
            std::filesystem::absolute(std::filesystem::path(detail::WideFromUtf8(modulePath)), ec).lexically_normal();
        if (ec)
            return SELFREG_E_CLASS;
        const std::string absolutePath = detail::Utf8FromWide(absolute.native());

        // A previous registration's values (an old threading model) do not survive a new one.
        const std::wstring classKey = ClassKeyName(clsid);
        const LSTATUS removed = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey.c_str());
        if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
            return SELFREG_E_CLASS;

        TKey cls, server;
        if (CreateKey(HKEY_CLASSES_ROOT, classKey, cls) != ERROR_SUCCESS)
            return SELFREG_E_CLASS;
        if (!description.empty() && SetText(cls.Get(), nullptr, description) != ERROR_SUCCESS)
            return SELFREG_E_CLASS;
        if (CreateKey(cls.Get(), kServerKey, server) != ERROR_SUCCESS
            || SetText(server.Get(), nullptr, absolutePath) != ERROR_SUCCESS)
            return SELFREG_E_CLASS;
        if (!threadingModel.empty() && SetText(server.Get(), L"ThreadingModel", threadingModel) != ERROR_SUCCESS)
            return SELFREG_E_CLASS;
        return S_OK;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

HRESULT UnregisterInprocServer(REFCLSID clsid)
{
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyName(clsid).c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    return SELFREG_E_CLASS;
}

HRESULT LookupInprocServer(REFCLSID clsid, std::string& modulePath)
{
    try {
        modulePath.clear();
        const std::wstring key = ClassKeyName(clsid) + L"\\" + kServerKey;
        DWORD bytes = 0;
        LSTATUS status =
            RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                         nullptr, &bytes);
        if (status == ERROR_FILE_NOT_FOUND)
            return REGDB_E_CLASSNOTREG;
        if (status != ERROR_SUCCESS)
            return REGDB_E_READREGDB;
        std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        status = RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ,
                              nullptr, value.data(), &bytes);
        if (status != ERROR_SUCCESS)
            return REGDB_E_READREGDB;
        value.resize(wcsnlen(value.c_str(), value.size()));
        if (value.empty())
            return REGDB_E_CLASSNOTREG;
        modulePath = detail::Utf8FromWide(value);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

} // namespace platform
