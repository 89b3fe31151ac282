// What a server module keeps once for all its objects: the counts behind DllCanUnloadNow, the
// anchor that names the module's file, and the class factory behind DllGetClassObject.
#pragma once

#include "platform/comobject.h"

#include <new>

namespace trutina_server {

// Live objects (components, class factories, enumerators) and LockServer locks of this module;
// DllCanUnloadNow answers S_OK only when both are zero.
void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;
void LockModule(bool lock) noexcept;
long LiveObjects() noexcept;
HRESULT CanUnloadNow() noexcept;

// Counts its owner among the module's live objects for as long as it lives; declared as the
// first member, it counts the owner until its last member is gone.
struct TLiveObject {
    TLiveObject() noexcept { ObjectCreated(); }
    ~TLiveObject() { ObjectDestroyed(); }
    TLiveObject(const TLiveObject&) = delete;
    TLiveObject& operator=(const TLiveObject&) = delete;
};

// An object of the module that includes this header, whose address names the module's file. A
// const at namespace scope has internal linkage, so its address is always this module's own; the
// address of an exported function (DllRegisterServer) may resolve to the like-named export of
// another server module loaded into the process before.
const char ModuleAnchor = 0;

// Creates T (default-constructible, reference count 1 on birth).
template <typename T>
class TClassFactory final : public platform::TUnknownImpl<IClassFactory, IID_IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        T* object = new (std::nothrow) T();
        if (!object)
            return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        LockModule(lock != FALSE);
        return S_OK;
    }

private:
    TLiveObject FLive;
};

// DllGetClassObject for one class.
template <typename T>
HRESULT GetClassObject(REFCLSID served, REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != served)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) TClassFactory<T>();
    if (!factory)
        return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

} // namespace trutina_server
