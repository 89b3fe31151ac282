// What DllRegisterServer and DllUnregisterServer of a server module do.
#pragma once

#include "platform/ole.h"

#include <string>

namespace trutina_server {

// DllRegisterServer: records clsid as an apartment-threaded in-process server in the module that
// contains symbolInModule, names it by the ProgIDs TRUTINA_PROGID and
// TRUTINA_VERSION_INDEPENDENT_PROGID and registers the module's type library (on Windows; the
// platform has none elsewhere). A failed step undoes the ones before it.
HRESULT RegisterServer(REFCLSID clsid, const void* symbolInModule, const std::string& description);
// DllUnregisterServer: removes what RegisterServer wrote, and nothing else (a ProgID that another
// class has taken since stays).
HRESULT UnregisterServer(REFCLSID clsid);

} // namespace trutina_server
