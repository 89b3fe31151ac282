// A COM client of the registered driver as an integrator's program would be, through the system's
// COM only (Windows): it finds the class by its ProgID, loads the registered type library and
// checks every member's name, dispatch id, type, help string and vtable slot against the member
// table; checks the object's own type information (IDispatch::GetTypeInfo, IProvideClassInfo);
// and connects a late-bound event sink whose event interface and event id it finds in the type
// information, then makes the driver raise a data event and waits for it.
//
// Prints one "PASS: ..." or "FAIL: ..." line per check; exit code 0 when nothing failed.
#include "driver/Trutina_TLB.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

int GFailed = 0;

void Check(bool ok, const std::string& what)
{
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok)
        ++GFailed;
}

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string Narrow(const wchar_t* text)
{
    std::string out;
    for (; text && *text; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

// Releases a COM reference on every path.
template <typename T>
struct TRef {
    T* P = nullptr;
    TRef() = default;
    TRef(const TRef&) = delete;
    TRef& operator=(const TRef&) = delete;
    ~TRef()
    {
        if (P)
            P->Release();
    }
    T** Out() { return &P; }
    void** OutVoid() { return reinterpret_cast<void**>(&P); }
    T* operator->() const { return P; }
    explicit operator bool() const { return P != nullptr; }
};

// ---------------------------------------------------------------- the type library
struct TOperation {
    const TrutinaMemberInfo* Member;
    INVOKEKIND Kind;
};

std::vector<TOperation> TableOperations()
{
    std::vector<TOperation> out;
    for (const TrutinaMemberInfo& m : TrutinaMembers) {
        if (m.Kind == TrutinaMemberKind::Method) {
            out.push_back({&m, INVOKE_FUNC});
            continue;
        }
        out.push_back({&m, INVOKE_PROPERTYGET});
        if (m.Kind == TrutinaMemberKind::ReadWrite)
            out.push_back({&m, INVOKE_PROPERTYPUT});
    }
    return out;
}

// Why the function differs from the operation of the member table; empty when it agrees.
std::string Difference(ITypeInfo* info, const FUNCDESC& f, const TOperation& op, std::size_t slot)
{
    const TrutinaMemberInfo& m = *op.Member;
    BSTR name = nullptr, help = nullptr;
    info->GetDocumentation(f.memid, &name, &help, nullptr, nullptr);
    const std::string gotName = Narrow(name), gotHelp = Narrow(help);
    SysFreeString(name);
    SysFreeString(help);
    if (gotName != m.Name)
        return "name " + gotName;
    if (f.memid != m.Number)
        return "dispatch id " + std::to_string(f.memid);
    if (f.invkind != op.Kind)
        return "invoke kind " + std::to_string(f.invkind);
    if (gotHelp != m.Help)
        return "help string \"" + gotHelp + "\"";
    if (f.elemdescFunc.tdesc.vt != VT_HRESULT || f.cParams != 1)
        return "not HRESULT with one parameter";
    if (f.oVft != static_cast<SHORT>((7 + slot) * sizeof(void*)))
        return "vtable offset " + std::to_string(f.oVft);
    const ELEMDESC& p = f.lprgelemdescParam[0];
    const USHORT flags = p.paramdesc.wParamFlags;
    if (op.Kind == INVOKE_PROPERTYPUT) {
        if (p.tdesc.vt != m.Type || !(flags & PARAMFLAG_FIN))
            return "[in] parameter of type " + std::to_string(p.tdesc.vt);
    } else if (p.tdesc.vt != VT_PTR || !p.tdesc.lptdesc || p.tdesc.lptdesc->vt != m.Type ||
               (flags & (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) != (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) {
        return "[out, retval] parameter other than a pointer to type " + std::to_string(m.Type);
    }
    return {};
}

void CheckTypeLibrary()
{
    TRef<ITypeLib> library;
    HRESULT hr = LoadRegTypeLib(LIBID_Trutina, TRUTINA_TYPELIB_MAJOR, TRUTINA_TYPELIB_MINOR, 0, library.Out());
    Check(SUCCEEDED(hr), "LoadRegTypeLib finds the registered type library " + Hex(hr));
    if (!library)
        return;
    TRef<ITypeInfo> dispatch, itf;
    hr = library->GetTypeInfoOfGuid(IID_ITrutina, dispatch.Out());
    if (FAILED(hr)) {
        Check(false, "ITrutina in the type library " + Hex(hr));
        return;
    }
    // A dual interface is described twice: as a dispatch interface, and its vtable interface.
    HREFTYPE vtable = 0;
    hr = dispatch->GetRefTypeOfImplType(-1, &vtable);
    if (SUCCEEDED(hr))
        hr = dispatch->GetRefTypeInfo(vtable, itf.Out());
    Check(SUCCEEDED(hr), "ITrutina is dual " + Hex(hr));
    if (!itf)
        return;
    TYPEATTR* attr = nullptr;
    itf->GetTypeAttr(&attr);
    const std::vector<TOperation> expected = TableOperations();
    Check(attr && attr->typekind == TKIND_INTERFACE && attr->cFuncs == expected.size(),
          "ITrutina declares " + std::to_string(expected.size()) + " operations, as the member table: " +
              std::to_string(attr ? attr->cFuncs : 0));
    const std::size_t count = attr ? attr->cFuncs : 0;
    itf->ReleaseTypeAttr(attr);
    // One line per member: every operation of it agrees with the table.
    std::size_t slot = 0;
    for (const TrutinaMemberInfo& m : TrutinaMembers) {
        std::string why;
        for (; slot < expected.size() && expected[slot].Member == &m; ++slot) {
            FUNCDESC* f = nullptr;
            if (slot >= count || FAILED(itf->GetFuncDesc(static_cast<UINT>(slot), &f))) {
                why = "no operation in slot " + std::to_string(slot);
                continue;
            }
            if (why.empty())
                why = Difference(itf.P, *f, expected[slot], slot);
            itf->ReleaseFuncDesc(f);
        }
        Check(why.empty(), "member " + std::to_string(m.Number) + " " + m.Name + (why.empty() ? "" : ": " + why));
    }
}

// ---------------------------------------------------------------- the event sink
// Answers the event interface whose id it is given (found in the type information), and counts
// the calls of the event's dispatch id.
class TLateSink final : public IDispatch {
public:
    TLateSink(const IID& events, DISPID event) : FEvents(events), FEvent(event) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == FEvents) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return --FRefs; } // lives on main's stack
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id == FEvent)
            ++Events;
        else
            ++Others;
        return S_OK;
    }
    int Events = 0;
    int Others = 0;

private:
    IID FEvents;
    DISPID FEvent;
    ULONG FRefs = 1;
};

// Calls a member by name, late bound: a property write (value given) or a read / method call.
HRESULT CallByName(IDispatch* object, const wchar_t* name, VARIANT* value, VARIANT* result)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    if (value) {
        params = {value, &put, 1, 1};
        return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                              nullptr);
    }
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result,
                          nullptr, nullptr);
}

HRESULT SetFlag(IDispatch* object, const wchar_t* name, bool on)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
    return CallByName(object, name, &v, nullptr);
}

LONG ReadLong(IDispatch* object, const wchar_t* name)
{
    VARIANT v;
    VariantInit(&v);
    if (FAILED(CallByName(object, name, nullptr, &v)) || FAILED(VariantChangeType(&v, &v, 0, VT_I4)))
        return -1000000;
    return v.lVal;
}

void CheckObject(REFCLSID clsid)
{
    TRef<IDispatch> object;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.OutVoid());
    Check(SUCCEEDED(hr), "CoCreateInstance of the ProgID's class " + Hex(hr));
    if (!object)
        return;

    UINT count = 0;
    object->GetTypeInfoCount(&count);
    TRef<ITypeInfo> own;
    hr = object->GetTypeInfo(0, LOCALE_USER_DEFAULT, own.Out());
    GUID ownGuid{};
    if (own) {
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(own->GetTypeAttr(&attr))) {
            ownGuid = attr->guid;
            own->ReleaseTypeAttr(attr);
        }
    }
    Check(count == 1 && SUCCEEDED(hr) && ownGuid == IID_ITrutina,
          "IDispatch::GetTypeInfo: " + std::to_string(count) + " type information, ITrutina's " + Hex(hr));

    // The event interface and the event's dispatch id, as a late-bound client finds them.
    TRef<IProvideClassInfo> provide;
    TRef<ITypeInfo> coclass, events;
    IID eventsIid{};
    DISPID eventId = DISPID_UNKNOWN;
    hr = object->QueryInterface(IID_IProvideClassInfo, provide.OutVoid());
    if (SUCCEEDED(hr))
        hr = provide->GetClassInfo(coclass.Out());
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(hr))
        hr = coclass->GetTypeAttr(&attr);
    if (SUCCEEDED(hr)) {
        for (UINT i = 0; i < attr->cImplTypes && !events; ++i) {
            INT flags = 0;
            HREFTYPE ref = 0;
            if (SUCCEEDED(coclass->GetImplTypeFlags(i, &flags)) &&
                (flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) == (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE) &&
                SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref)))
                coclass->GetRefTypeInfo(ref, events.Out());
        }
        coclass->ReleaseTypeAttr(attr);
    }
    if (events) {
        TYPEATTR* eventsAttr = nullptr;
        if (SUCCEEDED(events->GetTypeAttr(&eventsAttr))) {
            eventsIid = eventsAttr->guid;
            events->ReleaseTypeAttr(eventsAttr);
        }
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"DataEvent")};
        events->GetIDsOfNames(names, 1, &eventId);
    }
    Check(eventsIid == DIID_ITrutinaEvents && eventId == DISPID_TRUTINA_DATAEVENT,
          "IProvideClassInfo names the default source ITrutinaEvents and its DataEvent (dispatch id " +
              std::to_string(eventId) + ") " + Hex(hr));
    if (!events)
        return;

    TLateSink sink(eventsIid, eventId);
    TRef<IConnectionPointContainer> container;
    TRef<IConnectionPoint> point;
    DWORD cookie = 0;
    hr = object->QueryInterface(IID_IConnectionPointContainer, container.OutVoid());
    if (SUCCEEDED(hr))
        hr = container->FindConnectionPoint(eventsIid, point.Out());
    if (SUCCEEDED(hr))
        hr = point->Advise(&sink, &cookie);
    Check(SUCCEEDED(hr), "the late-bound sink is advised on the event interface's connection point " + Hex(hr));
    if (FAILED(hr))
        return;

    // Late bound by name, as a script would: enable the device and asynchronous mode, let
    // queued messages raise the event, and queue one.
    HRESULT steps[] = {SetFlag(object.P, L"DeviceEnabled", true), SetFlag(object.P, L"AsyncMode", true),
                       SetFlag(object.P, L"DataEventEnabled", true)};
    bool stepsOk = true;
    for (HRESULT step : steps)
        stepsOk = stepsOk && SUCCEEDED(step);
    VARIANT result;
    VariantInit(&result);
    hr = CallByName(object.P, L"GenerateEvent", nullptr, &result);
    const LONG code = ReadLong(object.P, L"ResultCode");
    Check(stepsOk && SUCCEEDED(hr) && code == 0, "GenerateEvent, late bound, ResultCode " + std::to_string(code));
    // The event comes through the apartment's message queue.
    const DWORD start = GetTickCount();
    while (sink.Events == 0 && GetTickCount() - start < 10000) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
    Check(sink.Events >= 1 && sink.Others == 0,
          "the sink received " + std::to_string(sink.Events) + " data event(s) by the dispatch id from the type information");
    point->Unadvise(cookie);
    SetFlag(object.P, L"AsyncMode", false);
    SetFlag(object.P, L"DeviceEnabled", false);
}

} // namespace

int main()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::printf("FAIL: CoInitializeEx\n");
        return 1;
    }
    CLSID clsid{};
    for (const wchar_t* progId : {L"Trutina.Statera", L"Trutina.Statera.1"}) {
        const HRESULT hr = CLSIDFromProgID(progId, &clsid);
        Check(hr == S_OK && clsid == CLSID_Statera, "CLSIDFromProgID(" + Narrow(progId) + ") " + Hex(hr));
    }
    CheckTypeLibrary();
    CheckObject(CLSID_Statera);
    CoUninitialize();
    return GFailed == 0 ? 0 : 1;
}
