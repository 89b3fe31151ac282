// Type libraries on Windows: the system's own, from the TYPELIB resource of a server module.
#include "platform/internal_win.h"

namespace platform {

HRESULT RegisterModuleTypeLibrary(const std::string& modulePath)
{
    const std::wstring path = detail::WideFromUtf8(modulePath);
    ITypeLib* library = nullptr;
    // REGKIND_REGISTER enters the library (and its interfaces) into HKEY_CLASSES_ROOT.
    const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library);
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
    const HRESULT hr = UnRegisterTypeLib(libid, major, minor, LOCALE_NEUTRAL, kind);
    // Not registered (any more): nothing to remove.
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
