#include "driver/TrutinaServer.h"

#include "runtime/utf.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace trutina_server {

// ---------------------------------------------------------------- module counts
namespace {
std::atomic<long> GObjects{0};
std::atomic<long> GLocks{0};
} // namespace

void ObjectCreated() noexcept { ++GObjects; }
void ObjectDestroyed() noexcept { --GObjects; }
void LockModule(bool lock) noexcept
{
    if (lock)
        ++GLocks;
    else
        --GLocks;
}
long LiveObjects() noexcept { return GObjects.load(); }
HRESULT CanUnloadNow() noexcept { return GObjects.load() == 0 && GLocks.load() == 0 ? S_OK : S_FALSE; }

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

// ---------------------------------------------------------------- registration
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

// ---------------------------------------------------------------- VARIANT coercion
namespace {

// A numeric argument in the widest form of its kind.
struct TScalar {
    enum Kind { Integer, Real, Money } Kind = Integer;
    std::int64_t Int = 0;  // Integer: the value; Money: the amount x 10000
    double Dbl = 0;        // Real
};

const VARIANT* Dereference(const VARIANT& in, VARTYPE& vt, const void*& data)
{
    vt = in.vt;
    data = &in.llVal;
    if (vt == (VT_BYREF | VT_VARIANT))
        return in.pvarVal ? Dereference(*in.pvarVal, vt, data) : nullptr;
    if (vt & VT_BYREF) {
        if (!in.byref)
            return nullptr;
        vt = static_cast<VARTYPE>(vt & ~VT_BYREF);
        data = in.byref;
    }
    return &in;
}

template <typename T>
T Load(const void* data) { return *static_cast<const T*>(data); }

HRESULT ReadScalar(const VARIANT& in, TScalar& out)
{
    VARTYPE vt;
    const void* data;
    if (!Dereference(in, vt, data))
        return DISP_E_TYPEMISMATCH;
    out = TScalar{};
    switch (vt) {
    case VT_EMPTY: out.Int = 0; return S_OK;
    case VT_I1: out.Int = Load<std::int8_t>(data); return S_OK;
    case VT_UI1: out.Int = Load<std::uint8_t>(data); return S_OK;
    case VT_I2: out.Int = Load<std::int16_t>(data); return S_OK;
    case VT_UI2: out.Int = Load<std::uint16_t>(data); return S_OK;
    case VT_BOOL: out.Int = Load<VARIANT_BOOL>(data); return S_OK;
    case VT_I4: case VT_INT: out.Int = Load<std::int32_t>(data); return S_OK;
    case VT_UI4: case VT_UINT: out.Int = Load<std::uint32_t>(data); return S_OK;
    case VT_I8: out.Int = Load<std::int64_t>(data); return S_OK;
    case VT_UI8: {
        auto v = Load<std::uint64_t>(data);
        if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return DISP_E_OVERFLOW;
        out.Int = static_cast<std::int64_t>(v);
        return S_OK;
    }
    case VT_R4: out.Kind = TScalar::Real; out.Dbl = Load<float>(data); return S_OK;
    case VT_R8: out.Kind = TScalar::Real; out.Dbl = Load<double>(data); return S_OK;
    case VT_CY: out.Kind = TScalar::Money; out.Int = Load<CY>(data).int64; return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}

// Rounds half to even and checks the range [lo, hi].
HRESULT RoundToInt(double v, double lo, double hi, std::int64_t& out)
{
    if (!std::isfinite(v))
        return DISP_E_OVERFLOW;
    double r = std::nearbyint(v); // the default rounding mode: to nearest, ties to even
    if (r < lo || r > hi)
        return DISP_E_OVERFLOW;
    out = static_cast<std::int64_t>(r);
    return S_OK;
}

// Money / 10000 rounded half to even.
std::int64_t MoneyToInteger(std::int64_t money)
{
    std::int64_t q = money / 10000, r = money % 10000;
    if (r > 5000 || (r == 5000 && (q & 1)))
        ++q;
    else if (r < -5000 || (r == -5000 && (q & 1)))
        --q;
    return q;
}

} // namespace

HRESULT CoerceArgument(const VARIANT& in, LONG& out)
{
    TScalar s;
    if (HRESULT hr = ReadScalar(in, s); FAILED(hr))
        return hr;
    std::int64_t v = s.Int;
    if (s.Kind == TScalar::Real) {
        if (HRESULT hr = RoundToInt(s.Dbl, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), v);
            FAILED(hr))
            return hr;
    } else if (s.Kind == TScalar::Money) {
        v = MoneyToInteger(s.Int);
    }
    if (v < std::numeric_limits<LONG>::min() || v > std::numeric_limits<LONG>::max())
        return DISP_E_OVERFLOW;
    out = static_cast<LONG>(v);
    return S_OK;
}

HRESULT CoerceArgument(const VARIANT& in, VARIANT_BOOL& out)
{
    VARTYPE vt;
    const void* data;
    if (Dereference(in, vt, data) && vt == VT_BOOL) {
        out = Load<VARIANT_BOOL>(data); // passed on as it came
        return S_OK;
    }
    TScalar s;
    if (HRESULT hr = ReadScalar(in, s); FAILED(hr))
        return hr;
    bool value = s.Kind == TScalar::Real ? s.Dbl != 0 : s.Int != 0;
    out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CoerceArgument(const VARIANT& in, DOUBLE& out)
{
    TScalar s;
    if (HRESULT hr = ReadScalar(in, s); FAILED(hr))
        return hr;
    switch (s.Kind) {
    case TScalar::Real: out = s.Dbl; break;
    case TScalar::Money: out = static_cast<double>(s.Int) / 10000.0; break;
    case TScalar::Integer: out = static_cast<double>(s.Int); break;
    }
    return S_OK;
}

HRESULT CoerceArgument(const VARIANT& in, CY& out)
{
    TScalar s;
    if (HRESULT hr = ReadScalar(in, s); FAILED(hr))
        return hr;
    constexpr std::int64_t scale = 10000;
    switch (s.Kind) {
    case TScalar::Money: out.int64 = s.Int; return S_OK;
    case TScalar::Integer:
        if (s.Int > std::numeric_limits<std::int64_t>::max() / scale ||
            s.Int < std::numeric_limits<std::int64_t>::min() / scale)
            return DISP_E_OVERFLOW;
        out.int64 = s.Int * scale;
        return S_OK;
    case TScalar::Real: {
        // 2^63 is exactly representable; anything at or beyond it is out of range.
        constexpr double limit = 9223372036854775808.0;
        double v = std::nearbyint(s.Dbl * scale);
        if (!std::isfinite(v) || v >= limit || v < -limit)
            return DISP_E_OVERFLOW;
        out.int64 = static_cast<std::int64_t>(v);
        return S_OK;
    }
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT CoerceArgument(const VARIANT& in, BSTR& out)
{
    VARTYPE vt;
    const void* data;
    if (!Dereference(in, vt, data))
        return DISP_E_TYPEMISMATCH;
    if (vt == VT_EMPTY) {
        out = nullptr; // the empty BSTR
        return S_OK;
    }
    if (vt != VT_BSTR)
        return DISP_E_TYPEMISMATCH;
    out = Load<BSTR>(data);
    return S_OK;
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

// A counted snapshot enumerator for IEnumConnections and IEnumConnectionPoints.
template <typename IEnum, typename Item, const IID& Iid>
class TEnumerator final : public platform::TUnknownImpl<IEnum, Iid> {
public:
    explicit TEnumerator(std::vector<Item> items, std::size_t pos = 0) : FItems(std::move(items)), FPos(pos)
    {
        for (auto& item : FItems)
            Unknown(item)->AddRef();
        ObjectCreated();
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override
    {
        if (!out || (count != 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        for (; n < count && FPos < FItems.size(); ++n, ++FPos) {
            out[n] = FItems[FPos];
            Unknown(out[n])->AddRef();
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        std::size_t left = FItems.size() - FPos;
        FPos += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        FPos = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnum** out) override
    {
        if (!out)
            return E_POINTER;
        *out = new (std::nothrow) TEnumerator(FItems, FPos);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~TEnumerator() override
    {
        for (auto& item : FItems)
            Unknown(item)->Release();
        ObjectDestroyed();
    }
    static IUnknown* Unknown(const CONNECTDATA& d) { return d.pUnk; }
    static IUnknown* Unknown(IConnectionPoint* p) { return p; }

    std::vector<Item> FItems;
    std::size_t FPos;
};

using TEnumConnections = TEnumerator<IEnumConnections, CONNECTDATA, IID_IEnumConnections>;
using TEnumConnectionPoints = TEnumerator<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints>;

} // namespace

// ---------------------------------------------------------------- connection point
// Lives inside its container and shares its reference count.
class TTrutinaServerBase::TConnectionPoint final : public IConnectionPoint {
public:
    explicit TConnectionPoint(TTrutinaServerBase& owner) : FOwner(owner) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
            *ppv = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return FOwner.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return FOwner.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override
    {
        if (!iid)
            return E_POINTER;
        *iid = DIID_ITrutinaEvents;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** cpc) override
    {
        if (!cpc)
            return E_POINTER;
        *cpc = &FOwner;
        FOwner.AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override { return FOwner.Advise(sink, cookie); }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override { return FOwner.Unadvise(cookie); }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override
    {
        if (!out)
            return E_POINTER;
        std::vector<CONNECTDATA> items = FOwner.SnapshotSinks();
        *out = new (std::nothrow) TEnumConnections(items);
        for (auto& d : items)
            d.pUnk->Release();
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    TTrutinaServerBase& FOwner;
};

// ---------------------------------------------------------------- the component base
TTrutinaServerBase::TTrutinaServerBase() : FConnectionPoint(new TConnectionPoint(*this)) { ObjectCreated(); }

TTrutinaServerBase::~TTrutinaServerBase()
{
    for (auto& s : FSinks)
        s.Sink->Release();
    delete FConnectionPoint;
    ObjectDestroyed();
}

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
    *out = new (std::nothrow) TEnumConnectionPoints({FConnectionPoint});
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT TTrutinaServerBase::FindConnectionPoint(REFIID riid, IConnectionPoint** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (riid != DIID_ITrutinaEvents)
        return CONNECT_E_NOCONNECTION;
    *out = FConnectionPoint;
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

HRESULT TTrutinaServerBase::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;
    platform::ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(DIID_ITrutinaEvents, dispatch.OutVoid())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.OutVoid())))
        return CONNECT_E_CANNOTCONNECT;
    std::lock_guard lock(FSinkLock);
    if (FSinks.size() >= MaxSinks)
        return CONNECT_E_ADVISELIMIT;
    *cookie = FNextCookie++;
    FSinks.push_back({*cookie, dispatch.Detach()});
    return S_OK;
}

HRESULT TTrutinaServerBase::Unadvise(DWORD cookie)
{
    IDispatch* released = nullptr;
    {
        std::lock_guard lock(FSinkLock);
        for (auto it = FSinks.begin(); it != FSinks.end(); ++it)
            if (it->Cookie == cookie) {
                released = it->Sink;
                FSinks.erase(it);
                break;
            }
    }
    if (!released)
        return CONNECT_E_NOCONNECTION;
    released->Release(); // outside the lock: the sink's destruction may call back
    return S_OK;
}

std::vector<CONNECTDATA> TTrutinaServerBase::SnapshotSinks() const
{
    std::lock_guard lock(FSinkLock);
    std::vector<CONNECTDATA> out;
    out.reserve(FSinks.size());
    for (const auto& s : FSinks) {
        s.Sink->AddRef();
        out.push_back({s.Sink, s.Cookie});
    }
    return out;
}

bool TTrutinaServerBase::IsAdvised(DWORD cookie) const
{
    std::lock_guard lock(FSinkLock);
    for (const auto& s : FSinks)
        if (s.Cookie == cookie)
            return true;
    return false;
}

std::size_t TTrutinaServerBase::SinkCount() const
{
    std::lock_guard lock(FSinkLock);
    return FSinks.size();
}

int TTrutinaServerBase::FireDataEvent()
{
    // Called on a snapshot, so a sink may Unadvise (or release this object's last outside
    // reference) from inside its Invoke.
    AddRef();
    std::vector<CONNECTDATA> sinks = SnapshotSinks();
    int called = 0;
    for (auto& s : sinks) {
        if (IsAdvised(s.dwCookie)) { // an earlier sink may have unadvised it
            DISPPARAMS none{};
            static_cast<IDispatch*>(s.pUnk)->Invoke(DISPID_TRUTINA_DATAEVENT, IID_NULL, LOCALE_USER_DEFAULT,
                                                     DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
            ++called;
        }
        s.pUnk->Release();
    }
    Release();
    return called;
}

} // namespace trutina_server
