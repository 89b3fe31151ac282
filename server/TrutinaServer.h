// The server side of an ITrutina component, shared by every module that implements the driver
// class: IUnknown with a thread-safe count, IDispatch over the member table of Trutina_TLB.h,
// ISupportErrorInfo, one connection point for the data event (ConnectionPoint.h),
// IPersistStreamInit, and the four exports of a server module over its class factory
// (Module.h) and its registration (Registration.h).
//
// A component derives from TTrutinaServerBase and implements the ITrutina operations (they stay
// pure here). Its module exports the four entry points with TRUTINA_SERVER_EXPORTS. Build the
// module with hidden visibility (and -Wl,--exclude-libs,ALL) so that two server modules loaded
// into one process keep their own object counts.
#pragma once

#include "driver/Trutina_TLB.h"
#include "platform/export.h"
#include "server/Coercion.h"
#include "server/ConnectionPoint.h"
#include "server/Module.h"
#include "server/Registration.h"

#include <atomic>
#include <string_view>

namespace trutina_server {

// ---------------------------------------------------------------- error info
// Attaches a description to the failing call of the current thread (CreateErrorInfo +
// SetErrorInfo) and returns status, so a method can end with `return Fail(E_INVALIDARG, u"...")`.
HRESULT Fail(HRESULT status, std::u16string_view description, REFIID iid = IID_ITrutina);
HRESULT Fail(HRESULT status, std::string_view descriptionUtf8, REFIID iid = IID_ITrutina);
inline HRESULT Fail(HRESULT status, const char* descriptionUtf8, REFIID iid = IID_ITrutina)
{
    return Fail(status, std::string_view(descriptionUtf8), iid);
}

// ---------------------------------------------------------------- the component base
class TTrutinaServerBase : public ITrutina,
                           public ISupportErrorInfo,
                           public IProvideClassInfo,
                           public IConnectionPointContainer,
                           public IPersistStreamInit {
public:
    // Most sinks one component accepts; Advise beyond it gives CONNECT_E_ADVISELIMIT.
    static constexpr std::size_t MaxSinks = TConnectionPoint::MaxSinks;

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
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result, UINT* argErr,
                         bool& called);

    TLiveObject FLive; // first: counts the object until its connection point has released its sinks
    std::atomic<ULONG> FRefCount{1};
    TConnectionPoint FConnectionPoint{*this};
};

} // namespace trutina_server

#define TRUTINA_SERVER_EXPORT extern "C" PONDERIX_EXPORT

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
