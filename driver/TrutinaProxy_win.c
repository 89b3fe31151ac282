// The proxy and stub of ITrutina registered for this process (see TrutinaProxy.h): widl's
// interpreted proxy and the interface ids, built into this one object with the factory they need.
// ITrutina's stub delegates IDispatch to the system's stub of it.
#define PROXY_DELEGATION
#include "WidlProxySupport.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type" // widl's tables, not ours
#include "Trutina_p.c"
#include "Trutina_i.c"
#pragma GCC diagnostic pop

static const ProxyFileInfo* ProxyFiles[] = {(const ProxyFileInfo*)&Trutina_ProxyFileInfo, NULL};
static CStdPSFactoryBuffer Factory;

// The release of the stubs of interfaces that derive from IDispatch, as a proxy DLL's dlldata.c
// defines it.
CSTDSTUBBUFFER2RELEASE(&Factory)

// The factory's class id is the interface's id, as a generated proxy DLL's is.
HRESULT RegisterTrutinaProxy(void)
{
    IUnknown* factory = NULL;
    DWORD cookie = 0;
    HRESULT status = NdrDllGetClassObject(&IID_ITrutina, &IID_IUnknown, (void**)&factory, ProxyFiles,
                                          &IID_ITrutina, &Factory);
    if (FAILED(status))
        return status;
    status = CoRegisterClassObject(&IID_ITrutina, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    factory->lpVtbl->Release(factory);
    if (FAILED(status))
        return status;
    return CoRegisterPSClsid(&IID_ITrutina, &IID_ITrutina);
}
