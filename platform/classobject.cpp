// Class objects asked of a module file directly, on both systems (the registry's way is the
// system's CoGetClassObject, or classobject_posix.cpp).
#include "platform/module.h"

namespace platform {

HRESULT ModuleClassObject(const Module& module, REFCLSID clsid, REFIID riid, void** object)
{
    *object = nullptr;
    using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<TGetClassObject>(module.Symbol("DllGetClassObject"));
    if (!getClassObject)
        return CO_E_ERRORINDLL;
    const HRESULT status = getClassObject(clsid, riid, object);
    if (FAILED(status))
        *object = nullptr;
    return SUCCEEDED(status) && !*object ? E_POINTER : status;
}

} // namespace platform
