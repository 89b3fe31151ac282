#include "server/Registration.h"

#include "driver/Trutina_TLB.h"
#include "platform/classregistry.h"
#include "platform/module.h"
#include "platform/typelib.h"

namespace trutina_server {

HRESULT RegisterServer(REFCLSID clsid, const void* symbolInModule, const std::string& description)
{
    std::string path = platform::ModulePathOf(symbolInModule);
    if (path.empty())
        return SELFREG_E_CLASS;
    HRESULT hr = platform::RegisterInprocServer(clsid, path, "Apartment", description);
    if (SUCCEEDED(hr))
        hr = platform::RegisterProgIds(clsid, TRUTINA_PROGID, TRUTINA_VERSION_INDEPENDENT_PROGID, description);
    if (SUCCEEDED(hr))
        hr = platform::RegisterModuleTypeLibrary(path);
    if (FAILED(hr)) {
        // Half a registration would let CreateObject find a class without its type library.
        const std::string why = platform::ClassRegistryError();
        UnregisterServer(clsid);
        platform::RestoreClassRegistryError(why);
        return hr;
    }
    return S_OK;
}

HRESULT UnregisterServer(REFCLSID clsid)
{
    // Each step runs even when one before it failed, so that as much as possible is removed.
    const HRESULT results[] = {
        platform::UnregisterTypeLibrary(LIBID_Trutina, TRUTINA_TYPELIB_MAJOR, TRUTINA_TYPELIB_MINOR),
        platform::UnregisterProgIds(clsid, TRUTINA_PROGID, TRUTINA_VERSION_INDEPENDENT_PROGID),
        platform::UnregisterInprocServer(clsid)};
    for (const HRESULT hr : results)
        if (FAILED(hr))
            return hr;
    return S_OK;
}

} // namespace trutina_server
