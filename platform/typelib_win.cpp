// Type libraries on Windows: the system's own, from the TYPELIB resource of a server module.
#include "platform/internal_win.h"
#include "platform/typelib.h"

namespace platform {

HRESULT RegisterModuleTypeLibrary(const std::string& modulePath)
{
    std::wstring path = detail::WideFromUtf8(modulePath);
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    // Registered under the module's path as given (the system's loader may note another form of
    // it): the library and its interfaces go into HKEY_CLASSES_ROOT.
    if (SUCCEEDED(hr))
        hr = RegisterTypeLib(library, path.data(), nullptr);
    if (library)
        library->Release();
    if (FAILED(hr))
        detail::SetRegistryError("type library of " + modulePath + ": " + detail::SystemMessage(static_cast<DWORD>(hr)));
    return hr;
}

HRESULT UnregisterTypeLibrary(REFGUID libid, WORD major, WORD minor)
{
#ifdef _WIN64
    constexpr SYSKIND kind = SYS_WIN64;
#else
    constexpr SYSKIND kind = SYS_WIN32;
#endif
    // Not registered (any more): nothing to remove. Asked first, because what UnRegisterTypeLib
    // answers then differs between systems (Wine: E_INVALIDARG, which a second uninstall would
    // report as a failure).
    BSTR registeredPath = nullptr;
    const HRESULT registered = QueryPathOfRegTypeLib(libid, major, minor, LOCALE_NEUTRAL, &registeredPath);
    SysFreeString(registeredPath);
    if (registered == TYPE_E_LIBNOTREGISTERED || registered == TYPE_E_REGISTRYACCESS)
        return S_OK;
    const HRESULT hr = UnRegisterTypeLib(libid, major, minor, LOCALE_NEUTRAL, kind);
    if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED || hr == TYPE_E_CANTLOADLIBRARY)
        return S_OK;
    return hr;
}

HRESULT LoadModuleTypeInfo(const std::string& modulePath, REFGUID guid, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    const std::wstring path = detail::WideFromUtf8(modulePath);
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr))
        return hr;
    hr = library->GetTypeInfoOfGuid(guid, info);
    library->Release();
    return hr;
}

bool ModuleHasTypeInfo(const std::string& modulePath, REFGUID guid)
{
    ITypeInfo* info = nullptr;
    if (FAILED(LoadModuleTypeInfo(modulePath, guid, &info)))
        return false;
    info->Release();
    return true;
}

} // namespace platform
