#include "server/TrutinaServer.h"

#include "platform/bstr.h"
#include "platform/comptr.h"
#include "platform/module.h"
#include "platform/typelib.h"
#include "runtime/utf.h"

namespace trutina_server {

// ---------------------------------------------------------------- error info
HRESULT Fail(HRESULT status, std::u16string_view description, REFIID iid)
{
    platform::ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.Out())))
        return status;
    std::u16string text(description); // the setters take a NUL-terminated string
    std::u16string source(u"Statera");
    create->SetGUID(iid);
    create->SetSource(platform::AsOleStr(source.data()));
    create->SetDescription(platform::AsOleStr(text.data()));
    platform::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(IID_IErrorInfo, info)))
        SetErrorInfo(0, info.Get());
    return status;
}

HRESULT Fail(HRESULT status, std::string_view descriptionUtf8, REFIID iid)
{
    return Fail(status, std::u16string_view(runtime::Utf8ToUtf16(descriptionUtf8)), iid);
}

// ---------------------------------------------------------------- dispatch thunks
namespace {

void StoreResult(LONG v, VARIANT* r) { r->vt = VT_I4; r->lVal = v; }
void StoreResult(VARIANT_BOOL v, VARIANT* r) { r->vt = VT_BOOL; r->boolVal = v; }
void StoreResult(DOUBLE v, VARIANT* r) { r->vt = VT_R8; r->dblVal = v; }
void StoreResult(CY v, VARIANT* r) { r->vt = VT_CY; r->cyVal = v; }
void StoreResult(BSTR v, VARIANT* r) { r->vt = VT_BSTR; r->bstrVal = v; }

void Discard(BSTR v) { SysFreeString(v); }
template <typename T>
void Discard(T) {}

template <typename T>
T Zero() { T v{}; return v; }

template <typename T>
using TGetter = HRESULT (STDMETHODCALLTYPE ITrutina::*)(T*);
template <typename T>
using TPutter = HRESULT (STDMETHODCALLTYPE ITrutina::*)(T);
using TMethod = HRESULT (STDMETHODCALLTYPE ITrutina::*)(LONG*);

// The value of an operation with an out parameter, into pVarResult (or dropped).
template <typename T>
HRESULT CallOut(ITrutina* self, HRESULT (STDMETHODCALLTYPE ITrutina::*op)(T*), VARIANT* result, bool& called)
{
    T value = Zero<T>();
    called = true;
    HRESULT hr = (self->*op)(&value);
    if (FAILED(hr))
        return hr;
    if (result) {
        VariantClear(result);
        StoreResult(value, result);
    } else {
        Discard(value);
    }
    return hr;
}

template <typename T>
HRESULT InvokeRead(ITrutina* self, TGetter<T> get, WORD flags, const DISPPARAMS& p, VARIANT* result, bool& called)
{
    if (!(flags & DISPATCH_PROPERTYGET))
        return DISP_E_MEMBERNOTFOUND;
    if (p.cArgs != 0)
        return DISP_E_BADPARAMCOUNT;
    return CallOut(self, get, result, called);
}

template <typename T>
HRESULT InvokeWrite(ITrutina* self, TPutter<T> put, const DISPPARAMS& p, UINT* argErr, bool& called)
{
    if (p.cArgs != 1)
        return DISP_E_BADPARAMCOUNT;
    if (p.cNamedArgs > 1 || (p.cNamedArgs == 1 && p.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
        return DISP_E_PARAMNOTFOUND;
    T value = Zero<T>();
    if (HRESULT hr = CoerceArgument(p.rgvarg[0], value); FAILED(hr)) {
        if (argErr)
            *argErr = 0;
        return hr;
    }
    called = true;
    return (self->*put)(value);
}

HRESULT InvokeMethod(ITrutina* self, TMethod op, WORD flags, const DISPPARAMS& p, VARIANT* result, bool& called)
{
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
        return DISP_E_MEMBERNOTFOUND;
    if (p.cArgs != 0)
        return DISP_E_BADPARAMCOUNT;
    return CallOut(self, op, result, called);
}

bool SameNameIgnoringCase(const OLECHAR* a, const char* b)
{
    auto lower = [](char32_t c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    for (; *a && *b; ++a, ++b)
        if (lower(*a) != lower(static_cast<unsigned char>(*b)))
            return false;
    return *a == 0 && *b == 0;
}

} // namespace

// ---------------------------------------------------------------- the component base
TTrutinaServerBase::TTrutinaServerBase() = default;

TTrutinaServerBase::~TTrutinaServerBase() = default;

HRESULT TTrutinaServerBase::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    void* found = nullptr;
    if (riid == IID_IUnknown)
        found = Identity();
    else if (riid == IID_ITrutina || riid == IID_IDispatch)
        found = static_cast<ITrutina*>(this);
    else if (riid == IID_ISupportErrorInfo)
        found = static_cast<ISupportErrorInfo*>(this);
    else if (riid == IID_IProvideClassInfo) {
        if (platform::ModuleHasTypeInfo(platform::ModulePathOf(&ModuleAnchor), CLSID_Statera))
            found = static_cast<IProvideClassInfo*>(this);
    }
    else if (riid == IID_IConnectionPointContainer)
        found = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IPersistStreamInit || riid == IID_IPersist)
        found = static_cast<IPersistStreamInit*>(this);
    if (!found || (riid != IID_IUnknown && !OffersInterface(riid)))
        return E_NOINTERFACE;
    *ppv = found;
    AddRef();
    return S_OK;
}

ULONG TTrutinaServerBase::AddRef() { return ++FRefCount; }

ULONG TTrutinaServerBase::Release()
{
    ULONG n = --FRefCount;
    if (n == 0)
        delete this;
    return n;
}

HRESULT TTrutinaServerBase::ModuleTypeInfo(REFGUID guid, ITypeInfo** info) const
{
    return platform::LoadModuleTypeInfo(platform::ModulePathOf(&ModuleAnchor), guid, info);
}

HRESULT TTrutinaServerBase::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = platform::ModuleHasTypeInfo(platform::ModulePathOf(&ModuleAnchor), IID_ITrutina) ? 1 : 0;
    return S_OK;
}

HRESULT TTrutinaServerBase::GetTypeInfo(UINT index, LCID, ITypeInfo** ppTInfo)
{
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    return ModuleTypeInfo(IID_ITrutina, ppTInfo);
}

HRESULT TTrutinaServerBase::ClassTypeInfo(ITypeInfo** info) const
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return ModuleTypeInfo(CLSID_Statera, info);
}

HRESULT TTrutinaServerBase::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (count == 0)
        return S_OK;
    if (!names || !ids)
        return E_POINTER;
    HRESULT hr = S_OK;
    ids[0] = DISPID_UNKNOWN;
    for (const auto& m : TrutinaMembers)
        if (names[0] && SameNameIgnoringCase(names[0], m.Name))
            ids[0] = m.Number;
    if (ids[0] == DISPID_UNKNOWN)
        hr = DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) { // the members take no named arguments
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT TTrutinaServerBase::InvokeMember(DISPID id, WORD flags, DISPPARAMS& p, VARIANT* result, UINT* argErr,
                                         bool& called)
{
    ITrutina* self = this;
    switch (id) {
#define TRUTINA_INVOKE_RO(n, name, type, ...) \
    case n: return InvokeRead<type>(self, &ITrutina::get_##name, flags, p, result, called);
#define TRUTINA_INVOKE_RW(n, name, type, ...)                                         \
    case n:                                                                            \
        if (flags & DISPATCH_PROPERTYPUT)                                              \
            return InvokeWrite<type>(self, &ITrutina::put_##name, p, argErr, called);  \
        return InvokeRead<type>(self, &ITrutina::get_##name, flags, p, result, called);
#define TRUTINA_INVOKE_METHOD(n, name, ...) \
    case n: return InvokeMethod(self, &ITrutina::name, flags, p, result, called);
        TRUTINA_MEMBERS(TRUTINA_INVOKE_RO, TRUTINA_INVOKE_RW, TRUTINA_INVOKE_METHOD)
#undef TRUTINA_INVOKE_RO
#undef TRUTINA_INVOKE_RW
#undef TRUTINA_INVOKE_METHOD
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT TTrutinaServerBase::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excepInfo, UINT* argErr)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none{};
    if (!params)
        params = &none;
    if (params->cArgs > 0 && !params->rgvarg)
        return E_INVALIDARG;
    bool called = false;
    HRESULT hr = InvokeMember(id, flags, *params, result, argErr, called);
    if (!called || SUCCEEDED(hr) || !excepInfo)
        return hr;
    // The operation itself failed: report it as an exception, its text taken from the error info.
    *excepInfo = EXCEPINFO{};
    excepInfo->scode = hr;
    platform::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Out()) == S_OK && info) {
        info->GetSource(&excepInfo->bstrSource);
        info->GetDescription(&excepInfo->bstrDescription);
        info->GetHelpFile(&excepInfo->bstrHelpFile);
        info->GetHelpContext(&excepInfo->dwHelpContext);
    }
    return DISP_E_EXCEPTION;
}

HRESULT TTrutinaServerBase::InterfaceSupportsErrorInfo(REFIID riid)
{
    return riid == IID_ITrutina || riid == IID_IDispatch ? S_OK : S_FALSE;
}

HRESULT TTrutinaServerBase::EnumConnectionPoints(IEnumConnectionPoints** out)
{
    if (!out)
        return E_POINTER;
    *out = new (std::nothrow) TEnumConnectionPoints({&FConnectionPoint});
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT TTrutinaServerBase::FindConnectionPoint(REFIID riid, IConnectionPoint** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (riid != DIID_ITrutinaEvents)
        return CONNECT_E_NOCONNECTION;
    *out = &FConnectionPoint;
    AddRef();
    return S_OK;
}

HRESULT TTrutinaServerBase::GetClassID(CLSID* out)
{
    if (!out)
        return E_POINTER;
    *out = ClassId();
    return S_OK;
}

HRESULT TTrutinaServerBase::IsDirty() { return S_FALSE; }
HRESULT TTrutinaServerBase::Load(IStream*) { return E_NOTIMPL; }
HRESULT TTrutinaServerBase::Save(IStream*, BOOL) { return E_NOTIMPL; }
HRESULT TTrutinaServerBase::GetSizeMax(ULARGE_INTEGER*) { return E_NOTIMPL; }
HRESULT TTrutinaServerBase::InitNew() { return OnInitNew(); }

int TTrutinaServerBase::FireDataEvent()
{
    AddRef(); // a sink may release this object's last outside reference from inside its Invoke
    const int called = FConnectionPoint.Fire();
    Release();
    return called;
}

} // namespace trutina_server
