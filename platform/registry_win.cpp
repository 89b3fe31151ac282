// The class registry in the system registry: HKEY_CLASSES_ROOT\CLSID\{clsid} with the class's
// description as its default value and the subkey InprocServer32 (default value: the module's
// path; ThreadingModel). The classes root is written directly, as classic in-process servers do:
// Wine does not merge the per-user HKCU\Software\Classes into it.
#include "platform/bitness.h"
#include "platform/classregistry.h"
#include "platform/configfolder.h"
#include "platform/internal_win.h"

#include <cstdlib>
#include <filesystem>

namespace platform {

std::string& detail::ThreadRegistryError()
{
    static detail::TThreadObject<std::string> text;
    return text.Get();
}

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

// The system's registry serialises its own writes: there is no lock to wait for.
RegistrationDeadline::RegistrationDeadline(int) {}
RegistrationDeadline::~RegistrationDeadline() = default;

bool CanRegisterForAllUsers()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)
                          && elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

CurrentUserRegistration::CurrentUserRegistration(bool forCurrentUser)
{
    if (!forCurrentUser)
        return;
    TKey classes;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, classes.Out(), nullptr) != ERROR_SUCCESS)
        return;
    FActive = RegOverridePredefKey(HKEY_CLASSES_ROOT, classes.Get()) == ERROR_SUCCESS;
    // RegisterTypeLib then writes the type library's keys there too, rather than failing. Looked up,
    // not linked: Wine's oleaut32 exports it as a stub that ends the process when called (Wine's
    // RegisterTypeLib follows the override without it).
    using TEnable = void(WINAPI*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
    if (HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll"); FActive && oleaut && !wine)
        if (auto enable = reinterpret_cast<TEnable>(
                reinterpret_cast<void*>(GetProcAddress(oleaut, "OaEnablePerUserTLibRegistration"))))
            enable();
}

CurrentUserRegistration::~CurrentUserRegistration()
{
    if (FActive)
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
}

std::string UserConfigFolder(std::string* problem)
{
    // Relative values are invalid here too: never the current folder.
    if (const wchar_t* appData = _wgetenv(L"APPDATA"); appData && std::filesystem::path(appData).is_absolute())
        return detail::Utf8FromWide(appData);
    if (problem)
        *problem = "no configuration folder: APPDATA does not name an absolute folder";
    return {};
}

std::string ClassRegistryPath() { return "HKEY_CLASSES_ROOT\\CLSID"; }

// The system registry is never a damaged file of ours.
std::string ClassRegistryProblem() { return {}; }

namespace {

// Sets the thread's registry error for a failed registry call; the failure status, for returning.
HRESULT Fail(REFCLSID clsid, const std::string& why, HRESULT status = SELFREG_E_CLASS)
{
    detail::SetRegistryError("class registry " + detail::Utf8FromWide(ClassKeyName(clsid)) + ": " + why);
    return status;
}

HRESULT FailStatus(REFCLSID clsid, const char* what, LSTATUS status, HRESULT result = SELFREG_E_CLASS)
{
    return Fail(clsid, std::string(what) + ": " + detail::SystemMessage(static_cast<DWORD>(status)), result);
}

} // namespace

HRESULT RegisterInprocServer(REFCLSID clsid, const std::string& modulePath, const std::string& threadingModel,
                             const std::string& description)
{
    try {
        detail::SetRegistryError({});
        if (const std::string why = detail::UnregistrableEntry(modulePath, threadingModel, description); !why.empty())
            return Fail(clsid, why);
        std::error_code ec;
        const std::filesystem::path absolute =
            std::filesystem::absolute(std::filesystem::path(detail::WideFromUtf8(modulePath)), ec).lexically_normal();
        if (ec)
            return Fail(clsid, "cannot make the module path absolute: " + ec.message());
        const std::string absolutePath = detail::Utf8FromWide(absolute.native());

        // A previous registration's values (an old threading model) do not survive a new one.
        const std::wstring classKey = ClassKeyName(clsid);
        const LSTATUS removed = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey.c_str());
        if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
            return FailStatus(clsid, "cannot remove the old entry", removed);

        TKey cls, server;
        LSTATUS status = CreateKey(HKEY_CLASSES_ROOT, classKey, cls);
        if (status == ERROR_SUCCESS && !description.empty())
            status = SetText(cls.Get(), nullptr, description);
        if (status == ERROR_SUCCESS)
            status = CreateKey(cls.Get(), kServerKey, server);
        if (status == ERROR_SUCCESS)
            status = SetText(server.Get(), nullptr, absolutePath);
        if (status == ERROR_SUCCESS && !threadingModel.empty())
            status = SetText(server.Get(), L"ThreadingModel", threadingModel);
        return status == ERROR_SUCCESS ? S_OK : FailStatus(clsid, "cannot write", status);
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return SELFREG_E_CLASS;
    }
}

HRESULT UnregisterInprocServer(REFCLSID clsid)
{
    detail::SetRegistryError({});
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyName(clsid).c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    return FailStatus(clsid, "cannot remove", status);
}

namespace {

// The text of a value (the key's default value when name is null); empty when absent. view:
// KEY_WOW64_32KEY or KEY_WOW64_64KEY reads that registry view instead of the program's own.
std::wstring ReadText(const std::wstring& key, const wchar_t* name, REGSAM view = 0)
{
    TKey k;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, k.Out()) != ERROR_SUCCESS)
        return {};
    DWORD bytes = 0;
    if (RegGetValueW(k.Get(), nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return {};
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegGetValueW(k.Get(), nullptr, name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) != ERROR_SUCCESS)
        return {};
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

// Whether HKEY_CLASSES_ROOT\<progId>\CLSID names the class.
bool ProgIdNames(const std::wstring& progId, REFCLSID clsid)
{
    return _wcsicmp(ReadText(progId + L"\\CLSID", nullptr).c_str(), ClassKeyName(clsid).substr(6).c_str()) == 0;
}

// Writes key\subkey's default value (subkey empty: key's own).
LSTATUS WriteDefault(const std::wstring& key, const std::wstring& subkey, const std::string& valueUtf8)
{
    TKey k;
    LSTATUS status = CreateKey(HKEY_CLASSES_ROOT, subkey.empty() ? key : key + L"\\" + subkey, k);
    return status == ERROR_SUCCESS ? SetText(k.Get(), nullptr, valueUtf8) : status;
}

} // namespace

HRESULT RegisterProgIds(REFCLSID clsid, const std::string& progId, const std::string& versionIndependentProgId,
                        const std::string& description)
{
    try {
        detail::SetRegistryError({});
        for (const std::string* name : {&progId, &versionIndependentProgId})
            if (const std::string why = detail::InvalidProgId(*name); !why.empty())
                return Fail(clsid, why, E_INVALIDARG);
        const std::wstring classKey = ClassKeyName(clsid);
        if (ReadText(classKey + L"\\" + kServerKey, nullptr).empty())
            return Fail(clsid, "the class of " + progId + " is not registered");
        const std::string clsidText = detail::Utf8FromWide(classKey.substr(6));
        const std::wstring current = detail::WideFromUtf8(progId);
        const std::wstring independent = detail::WideFromUtf8(versionIndependentProgId);
        // A name's old subkeys (another class's CurVer) do not survive its new registration.
        for (const std::wstring* name : {&current, &independent}) {
            const LSTATUS removed = RegDeleteTreeW(HKEY_CLASSES_ROOT, name->c_str());
            if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
                return FailStatus(clsid, "cannot remove the old ProgID", removed);
        }
        LSTATUS status = WriteDefault(current, L"", description);
        if (status == ERROR_SUCCESS)
            status = WriteDefault(current, L"CLSID", clsidText);
        if (status == ERROR_SUCCESS)
            status = WriteDefault(independent, L"", description);
        if (status == ERROR_SUCCESS)
            status = WriteDefault(independent, L"CLSID", clsidText);
        if (status == ERROR_SUCCESS)
            status = WriteDefault(independent, L"CurVer", progId);
        if (status == ERROR_SUCCESS)
            status = WriteDefault(classKey, L"ProgID", progId);
        if (status == ERROR_SUCCESS)
            status = WriteDefault(classKey, L"VersionIndependentProgID", versionIndependentProgId);
        return status == ERROR_SUCCESS ? S_OK : FailStatus(clsid, "cannot write the ProgIDs", status);
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return SELFREG_E_CLASS;
    }
}

HRESULT UnregisterProgIds(REFCLSID clsid, const std::string& progId, const std::string& versionIndependentProgId)
{
    try {
        detail::SetRegistryError({});
        for (const std::string* name : {&progId, &versionIndependentProgId}) {
            if (!detail::InvalidProgId(*name).empty())
                continue; // never a key this class wrote
            const std::wstring key = detail::WideFromUtf8(*name);
            if (!ProgIdNames(key, clsid))
                continue; // another class's now, or absent
            const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return FailStatus(clsid, "cannot remove the ProgID", status);
        }
        return S_OK;
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return SELFREG_E_CLASS;
    }
}

HRESULT UnregisterServersOfModule(const std::string& modulePath, std::vector<CLSID>& removed)
{
    try {
        detail::SetRegistryError({});
        removed.clear();
        const std::wstring module = detail::WideFromUtf8(modulePath);
        TKey classes;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ENUMERATE_SUB_KEYS, classes.Out()) != ERROR_SUCCESS)
            return S_OK;
        // The classes first, then their removal: a key is not deleted under its enumeration.
        wchar_t name[64];
        for (DWORD i = 0;; ++i) {
            DWORD length = 64;
            const LSTATUS status = RegEnumKeyExW(classes.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_MORE_DATA)
                continue; // no class id is that long
            if (status != ERROR_SUCCESS)
                break;
            CLSID clsid;
            if (SUCCEEDED(CLSIDFromString(name, &clsid))
                && _wcsicmp(ReadText(ClassKeyName(clsid) + L"\\" + kServerKey, nullptr).c_str(), module.c_str()) == 0)
                removed.push_back(clsid);
        }
        for (const CLSID& clsid : removed) {
            const std::wstring key = ClassKeyName(clsid);
            const HRESULT names = UnregisterProgIds(clsid, detail::Utf8FromWide(ReadText(key + L"\\ProgID", nullptr)),
                                                    detail::Utf8FromWide(ReadText(key + L"\\VersionIndependentProgID", nullptr)));
            if (FAILED(names))
                return names;
            if (const HRESULT entry = UnregisterInprocServer(clsid); FAILED(entry))
                return entry;
        }
        return S_OK;
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return SELFREG_E_CLASS;
    }
}

HRESULT LookupInprocServer(REFCLSID clsid, std::string& modulePath)
{
    try {
        detail::SetRegistryError({});
        modulePath.clear();
        const std::wstring key = ClassKeyName(clsid) + L"\\" + kServerKey;
        DWORD bytes = 0;
        LSTATUS status =
            RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                         nullptr, &bytes);
        if (status == ERROR_FILE_NOT_FOUND)
            return REGDB_E_CLASSNOTREG;
        if (status != ERROR_SUCCESS)
            return FailStatus(clsid, "cannot be read", status, REGDB_E_READREGDB);
        std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        status = RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ,
                              nullptr, value.data(), &bytes);
        if (status != ERROR_SUCCESS)
            return FailStatus(clsid, "cannot be read", status, REGDB_E_READREGDB);
        value.resize(wcsnlen(value.c_str(), value.size()));
        if (value.empty())
            return REGDB_E_CLASSNOTREG;
        modulePath = detail::Utf8FromWide(value);
        return S_OK;
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return E_OUTOFMEMORY;
    }
}

HRESULT detail::LookupOtherViewInprocServer(REFCLSID clsid, std::string& modulePath)
{
    try {
        // A 64-bit program looks in the 32-bit view, a 32-bit one in the 64-bit view (on 32-bit
        // Windows there is one view, its own).
        const REGSAM otherView = kProgramBitness == 64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        modulePath = detail::Utf8FromWide(ReadText(ClassKeyName(clsid) + L"\\" + kServerKey, nullptr, otherView));
        return modulePath.empty() ? REGDB_E_CLASSNOTREG : S_OK;
    } catch (...) {
        modulePath.clear();
        return E_OUTOFMEMORY;
    }
}

} // namespace platform
