// The server side of an ITrutina component, shared by every module that implements the driver
// class: IUnknown with a thread-safe count, IDispatch over the member table of Trutina_TLB.h,
// ISupportErrorInfo, one connection point for the data event, IPersistStreamInit, a class factory
// and the helpers behind the four exports of a server module.
//
// A component derives from TTrutinaServerBase and implements the ITrutina operations (they stay
// pure here). Its module exports the four entry points with TRUTINA_SERVER_EXPORTS. Build the
// module with hidden visibility (and -Wl,--exclude-libs,ALL) so that two server modules loaded
// into one process keep their own object counts.
#pragma once

#include "driver/Trutina_TLB.h"
#include "platform/comobject.h"
#include "platform/platform.h"

#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace trutina_server {

// ---------------------------------------------------------------- module counts
// Live objects (components, class factories, enumerators) and LockServer locks of this module;
// DllCanUnloadNow answers S_OK only when both are zero.
void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;
void LockModule(bool lock) noexcept;
long LiveObjects() noexcept;
HRESULT CanUnloadNow() noexcept;

// ---------------------------------------------------------------- error info
// Attaches a description to the failing call of the current thread (CreateErrorInfo +
// SetErrorInfo) and returns status, so a method can end with `return Fail(E_INVALIDARG, u"...")`.
HRESULT Fail(HRESULT status, std::u16string_view description, REFIID iid = IID_ITrutina);
HRESULT Fail(HRESULT status, std::string_view descriptionUtf8, REFIID iid = IID_ITrutina);
inline HRESULT Fail(HRESULT status, const char* descriptionUtf8, REFIID iid = IID_ITrutina)
{
    return Fail(status, std::string_view(descriptionUtf8), iid);
}

// ---------------------------------------------------------------- registration
// DllRegisterServer: records clsid as an apartment-threaded in-process server in the module that
// contains symbolInModule, names it by the ProgIDs TRUTINA_PROGID and
// TRUTINA_VERSION_INDEPENDENT_PROGID and registers the module's type library (on Windows; the
// platform has none elsewhere). A failed step undoes the ones before it.
HRESULT RegisterServer(REFCLSID clsid, const void* symbolInModule, const std::string& description);
// An object of the module that includes this header, whose address names the module's file. A
// const at namespace scope has internal linkage, so its address is always this module's own; the
// address of an exported function (DllRegisterServer) may resolve to the like-named export of
// another server module loaded into the process before.
const char ModuleAnchor = 0;
// DllUnregisterServer: removes what RegisterServer wrote, and nothing else (a ProgID that another
// class has taken since stays).
HRESULT UnregisterServer(REFCLSID clsid);

// ---------------------------------------------------------------- VARIANT coercion
// What IDispatch::Invoke accepts for an argument of each interface type: the type itself, the
// integer, real, boolean and currency types converted as VariantChangeType would (rounding half
// to even, DISP_E_OVERFLOW out of range), VT_EMPTY as zero, one level of VT_BYREF. Text accepts
// only text (or VT_EMPTY as the empty string). Anything else is DISP_E_TYPEMISMATCH.
HRESULT CoerceArgument(const VARIANT& in, LONG& out);
HRESULT CoerceArgument(const VARIANT& in, VARIANT_BOOL& out);
HRESULT CoerceArgument(const VARIANT& in, DOUBLE& out);
HRESULT CoerceArgument(const VARIANT& in, CY& out);
// out is borrowed from in (nullptr, the empty BSTR, for VT_EMPTY): not to be freed.
HRESULT CoerceArgument(const VARIANT& in, BSTR& out);

// ---------------------------------------------------------------- the component base
class TTrutinaServerBase : public ITrutina,
                           public ISupportErrorInfo,
                           public IProvideClassInfo,
                           public IConnectionPointContainer,
                           public IPersistStreamInit {
public:
    // Most sinks one component accepts; Advise beyond it gives CONNECT_E_ADVISELIMIT.
    static constexpr std::size_t MaxSinks = 16;

    TTrutinaServerBase();
    TTrutinaServerBase(const TTrutinaServerBase&) = delete;
    TTrutinaServerBase& operator=(const TTrutinaServerBase&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch: names and dispatch ids of the member table; Invoke calls the vtable operation.
    // GetTypeInfo hands out ITrutina's type information from the module's own type library; where
    // there is none (off Windows) GetTypeInfoCount answers 0 and GetTypeInfo E_NOTIMPL.
    // A failure status of the operation is returned as DISP_E_EXCEPTION with pExcepInfo filled
    // from the error info (scode = the status) when pExcepInfo is given, else as it is.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                     UINT* puArgErr) override;

    // ISupportErrorInfo: S_OK for ITrutina and IDispatch.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // IProvideClassInfo: the class's type information, which names ITrutinaEvents as its
    // default source; offered only where the module's type library loads. Defined here: the
    // system's headers rename it GetClassInfoA or GetClassInfoW by UNICODE, which differs
    // between the sources of one module.
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ppTI) override { return ClassTypeInfo(ppTI); }

    // IConnectionPointContainer: one connection point, for DIID_ITrutinaEvents.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // IPersistStreamInit: InitNew calls OnInitNew; nothing is loaded or saved.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* pStm) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* pStm, BOOL fClearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* pCbSize) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;

    // Raises the data event: Invokes dispatch id 1 on every advised sink, on the calling thread
    // (the caller makes sure it is the apartment's thread). Returns the number of sinks called.
    int FireDataEvent();
    // Sinks currently advised.
    std::size_t SinkCount() const;

protected:
    virtual ~TTrutinaServerBase();

    // What InitNew does; S_OK by default.
    virtual HRESULT OnInitNew() { return S_OK; }
    // Whether QueryInterface hands out riid (one of the interfaces above); true by default.
    virtual bool OffersInterface(REFIID riid) { return true; }
    // The class id GetClassID reports.
    virtual CLSID ClassId() const { return CLSID_Statera; }

    IUnknown* Identity() { return static_cast<ITrutina*>(this); }
    // guid's type information from the type library of this module's file.
    HRESULT ModuleTypeInfo(REFGUID guid, ITypeInfo** info) const;
    HRESULT ClassTypeInfo(ITypeInfo** info) const;

private:
    class TConnectionPoint;
    struct TSink {
        DWORD Cookie;
        IDispatch* Sink; // counted
    };

    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result, UINT* argErr,
                         bool& called);
    HRESULT Advise(IUnknown* sink, DWORD* cookie);
    HRESULT Unadvise(DWORD cookie);
    std::vector<CONNECTDATA> SnapshotSinks() const; // pUnk counted
    bool IsAdvised(DWORD cookie) const;

    std::atomic<ULONG> FRefCount{1};
    TConnectionPoint* FConnectionPoint;
    mutable std::mutex FSinkLock;
    std::vector<TSink> FSinks;
    DWORD FNextCookie = 1;
};

// ---------------------------------------------------------------- class factory
// Creates T (derived from TTrutinaServerBase, default-constructible, reference count 1 on birth).
template <typename T>
class TClassFactory final : public platform::TUnknownImpl<IClassFactory, IID_IClassFactory> {
public:
    TClassFactory() { ObjectCreated(); }

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
    ~TClassFactory() override { ObjectDestroyed(); }
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

#ifdef _WIN32
#define TRUTINA_SERVER_EXPORT extern "C" __declspec(dllexport)
#else
#define TRUTINA_SERVER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The four exports of a server module serving ClassName under clsid.
#define TRUTINA_SERVER_EXPORTS(ClassName, clsid, description)                                        \
    TRUTINA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) \
    {                                                                                                \
        return trutina_server::GetClassObject<ClassName>(clsid, rclsid, riid, ppv);                  \
    }                                                                                                \
    TRUTINA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() { return trutina_server::CanUnloadNow(); } \
    TRUTINA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer()                                 \
    {                                                                                                \
        return trutina_server::RegisterServer(clsid, &trutina_server::ModuleAnchor, description);    \
    }                                                                                                \
    TRUTINA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() { return trutina_server::UnregisterServer(clsid); }
