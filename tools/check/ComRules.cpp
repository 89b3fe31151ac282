// COM's own rules, which any automation object keeps (--com-only checks these on any class).
#include "driver/MemberCalls.h"
#include "platform/apartment.h"
#include "platform/comobject.h"
#include "driver/Trutina_TLB.h"
#include "tools/check/EventSink.h"
#include "tools/check/Finding.h"
#include "tools/check/StaticRules.h"

#include <atomic>
#include <chrono>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace check {

namespace {

using driver::TCallDirection;
using platform::ComPtr;

// An interface nobody implements: what every object must refuse.
constexpr IID IID_Nobody = {0x7E3A51C2, 0x94D0, 0x4B6F, {0x8A, 0x1E, 0x2C, 0x55, 0x90, 0x6B, 0xD4, 0x17}};
// A pointer value no QueryInterface hands out: a refusal must overwrite it with null.
void* const Garbage = reinterpret_cast<void*>(std::uintptr_t(0x5A5A5A50));

struct TNamedIid {
    const IID* Iid;
    const char* Name;
};

// The interfaces an automation object may have that the checker knows, ITrutina last.
const TNamedIid Named[] = {
    {&IID_IUnknown, "IUnknown"},
    {&IID_IDispatch, "IDispatch"},
    {&IID_IConnectionPointContainer, "IConnectionPointContainer"},
    {&IID_ISupportErrorInfo, "ISupportErrorInfo"},
    {&IID_IProvideClassInfo, "IProvideClassInfo"},
    {&IID_IPersist, "IPersist"},
    {&IID_IPersistStreamInit, "IPersistStreamInit"},
    {&IID_ITrutina, "ITrutina"},
};

// ITrutina only where the interface rules apply.
std::vector<TNamedIid> KnownInterfaces(const TTarget& target)
{
    return {std::begin(Named), std::end(Named) - (target.Trutina() ? 0 : 1)};
}

// "IDispatch": the words naming a QueryInterface or CreateInstance for the interface.
std::string InterfaceName(REFIID iid)
{
    for (const TNamedIid& named : Named)
        if (*named.Iid == iid)
            return named.Name;
    return iid == IID_Nobody ? "an unknown interface" : "another interface";
}

HRESULT Query(IUnknown* from, REFIID iid, void** out)
{
    return TCalls::Make("QueryInterface", InterfaceName(iid) + (out ? "" : ", null out pointer"),
                        [&] { return from->QueryInterface(iid, out); });
}

ULONG AddRefOf(IUnknown* p)
{
    return static_cast<ULONG>(TCalls::Make("AddRef", TCallDirection::Call, [&] { return long(p->AddRef()); }));
}
ULONG ReleaseOf(IUnknown* p)
{
    return static_cast<ULONG>(TCalls::Make("Release", TCallDirection::Call, [&] { return long(p->Release()); }));
}

// The object's interfaces among the known ones, each an owned pointer (released by the caller).
struct THeld {
    TNamedIid Interface;
    IUnknown* Pointer;
};
std::vector<THeld> HeldInterfaces(const TTarget& target, IUnknown* object)
{
    std::vector<THeld> held;
    for (const TNamedIid& known : KnownInterfaces(target)) {
        void* p = nullptr;
        if (SUCCEEDED(Query(object, *known.Iid, &p)) && p)
            held.push_back({known, static_cast<IUnknown*>(p)});
    }
    return held;
}
void ReleaseAll(std::vector<THeld>& held)
{
    for (THeld& h : held)
        ReleaseOf(h.Pointer);
    held.clear();
}

// Releases what it holds also when a check ends the rule early.
struct TReleaseAll {
    std::vector<THeld>& Held;
    ~TReleaseAll()
    {
        try {
            ReleaseAll(Held);
        } catch (...) {
        }
    }
};

// --------------------------------------------------------------- qi-identity
} // namespace

void CheckQiIdentity(const TTarget& target)
{
    ComPtr<IUnknown> object = target.Create();
    std::vector<THeld> held = HeldInterfaces(target, object.Get());
    TReleaseAll release{held};
    for (const THeld& h : held) {
        void* identity = nullptr;
        const HRESULT status = Query(h.Pointer, IID_IUnknown, &identity);
        Require(SUCCEEDED(status) && identity, std::string("QueryInterface(IUnknown) from ") + h.Interface.Name,
                "S_OK", StatusWords(status));
        static_cast<IUnknown*>(identity)->Release();
        if (identity == object.Get())
            continue;
        // A tear-off ISupportErrorInfo with an IUnknown of its own: MSXML's, on Windows too.
        if (h.Interface.Iid == &IID_ISupportErrorInfo)
            Warn(std::string("QueryInterface(IUnknown) from ") + h.Interface.Name, "the object's one IUnknown pointer",
                 "another pointer (a tear-off's own)");
        else
            Broken(std::string("QueryInterface(IUnknown) from ") + h.Interface.Name, "the object's one IUnknown pointer",
                   "another pointer");
    }
}

// --------------------------------------------------------------- qi-rules

void CheckQiRules(const TTarget& target)
{
    ComPtr<IUnknown> object = target.Create();
    {
        void* out = Garbage;
        const HRESULT status = Query(object.Get(), IID_Nobody, &out);
        Require(status == E_NOINTERFACE, "QueryInterface(an unknown interface)", "E_NOINTERFACE", StatusWords(status));
        Require(out == nullptr, "QueryInterface(an unknown interface)", "the out pointer set to null",
                "the out pointer left as it was");
    }
    {
        const HRESULT status = Query(object.Get(), IID_IUnknown, nullptr);
        // E_INVALIDARG is refused all the same: Windows' pointer moniker answers so.
        if (status == E_INVALIDARG)
            Warn("QueryInterface(IUnknown, null)", "E_POINTER", StatusWords(status));
        else
            Require(status == E_POINTER, "QueryInterface(IUnknown, null)", "E_POINTER", StatusWords(status));
    }
    std::vector<THeld> held = HeldInterfaces(target, object.Get());
    TReleaseAll release{held};
    for (const THeld& a : held) {
        // Reflexive and stable: a has itself, and again.
        for (int round = 0; round < 2; ++round) {
            void* self = nullptr;
            const HRESULT status = Query(a.Pointer, *a.Interface.Iid, &self);
            Require(SUCCEEDED(status) && self, std::string("QueryInterface(") + a.Interface.Name + ") from itself",
                    "S_OK (reflexive, stable)", StatusWords(status));
            ReleaseOf(static_cast<IUnknown*>(self));
        }
        for (const THeld& b : held) {
            // Symmetric and transitive: b was found from the object, so a reaches b, and b reaches a.
            void* ab = nullptr;
            HRESULT status = Query(a.Pointer, *b.Interface.Iid, &ab);
            Require(SUCCEEDED(status) && ab,
                    std::string("QueryInterface(") + b.Interface.Name + ") from " + a.Interface.Name,
                    "S_OK (transitive: the object has both)", StatusWords(status));
            void* ba = nullptr;
            status = Query(static_cast<IUnknown*>(ab), *a.Interface.Iid, &ba);
            ReleaseOf(static_cast<IUnknown*>(ab));
            Require(SUCCEEDED(status) && ba,
                    std::string("QueryInterface(") + a.Interface.Name + ") from " + b.Interface.Name,
                    "S_OK (symmetric)", StatusWords(status));
            ReleaseOf(static_cast<IUnknown*>(ba));
        }
        void* refused = Garbage;
        const HRESULT status = Query(a.Pointer, IID_Nobody, &refused);
        Require(FAILED(status) && refused == nullptr,
                std::string("QueryInterface(an unknown interface) from ") + a.Interface.Name,
                "a failure with the out pointer set to null",
                FAILED(status) ? "the out pointer left as it was" : StatusWords(status));
    }
    // Stable: what was refused once is refused again.
    for (const TNamedIid& known : KnownInterfaces(target)) {
        bool had = false;
        for (const THeld& h : held)
            had = had || h.Interface.Iid == known.Iid;
        if (had)
            continue;
        void* late = nullptr;
        const HRESULT status = Query(object.Get(), *known.Iid, &late);
        if (late)
            ReleaseOf(static_cast<IUnknown*>(late));
        Require(FAILED(status), std::string("QueryInterface(") + known.Name + ")",
                "a refusal, as the first time (stable)", StatusWords(status));
    }
}

namespace {

// --------------------------------------------------------------- connection points
// The object's connection point for its events: ITrutinaEvents, or for another class the first
// one it lists (what EnumConnectionPoints answered in listed). Empty when it has none (iid unchanged).
ComPtr<IConnectionPoint> EventPoint(const TTarget& target, IConnectionPointContainer* container, IID& iid,
                                    HRESULT* listed = nullptr)
{
    ComPtr<IConnectionPoint> point;
    if (target.Trutina()) {
        iid = DIID_ITrutinaEvents;
        TCalls::Make("FindConnectionPoint", "ITrutinaEvents",
                     [&] { return container->FindConnectionPoint(iid, point.Out()); });
        return point;
    }
    ComPtr<IEnumConnectionPoints> points;
    const HRESULT status = TCalls::Make("EnumConnectionPoints", TCallDirection::Call,
                                        [&] { return container->EnumConnectionPoints(points.Out()); });
    if (listed)
        *listed = status;
    if (FAILED(status) || !points)
        return {};
    IConnectionPoint* first = nullptr;
    ULONG fetched = 0;
    if (TCalls::Make("IEnumConnectionPoints::Next", TCallDirection::Call,
                     [&] { return points->Next(1, &first, &fetched); }) != S_OK || !first)
        return {};
    point = ComPtr<IConnectionPoint>::Attach(first);
    if (FAILED(TCalls::Make("GetConnectionInterface", TCallDirection::Call,
                            [&] { return point->GetConnectionInterface(&iid); })))
        return {};
    return point;
}
ComPtr<IConnectionPoint> EventPoint(const TTarget& target, IUnknown* object, IID& iid)
{
    ComPtr<IConnectionPointContainer> container;
    // Asked again after a refusal: an unstable QueryInterface is qi-rules' finding, not this rule's.
    for (int ask = 0; ask < 2 && !container; ++ask)
        if (FAILED(Query(object, IID_IConnectionPointContainer, container.OutVoid())))
            container.Reset();
    return container ? EventPoint(target, container.Get(), iid) : ComPtr<IConnectionPoint>();
}

HRESULT Advise(IConnectionPoint* point, TEventSink* sink, DWORD& cookie)
{
    return TCalls::Make("Advise", TCallDirection::Call, [&] { return point->Advise(sink, &cookie); });
}
HRESULT Unadvise(IConnectionPoint* point, DWORD cookie)
{
    return TCalls::Make("Unadvise", "cookie " + std::to_string(cookie), [&] { return point->Unadvise(cookie); });
}

// Sinks the check hands out, retired when the check ends.
struct TSinks {
    std::vector<TEventSink*> All;
    TEventSink* Make(REFIID iid)
    {
        All.push_back(new TEventSink(iid));
        return All.back();
    }
    ~TSinks()
    {
        for (TEventSink* sink : All)
            TEventSink::Retire(sink);
    }
};

} // namespace

void CheckConnectionPoint(const TTarget& target)
{
    ComPtr<IUnknown> object = target.Create();
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(Query(object.Get(), IID_IConnectionPointContainer, container.OutVoid())) || !container) {
        // Refused once and given the next time: QueryInterface is unstable, which qi-rules names.
        if (SUCCEEDED(Query(object.Get(), IID_IConnectionPointContainer, container.OutVoid())) && container)
            throw ESkipped{"QueryInterface refused IConnectionPointContainer once and then gave it (qi-rules)"};
        if (target.Trutina())
            Broken("QueryInterface(IConnectionPointContainer)", "the container of the data event's connection point",
                   "no such interface");
        throw ESkipped{"the object has no connection points"};
    }
    {
        IConnectionPoint* none = static_cast<IConnectionPoint*>(Garbage);
        const HRESULT status = TCalls::Make("FindConnectionPoint", "an unknown interface",
                                            [&] { return container->FindConnectionPoint(IID_Nobody, &none); });
        if (SUCCEEDED(status) && none && none != Garbage)
            none->Release();
        Require(status == CONNECT_E_NOCONNECTION, "FindConnectionPoint(an interface it does not source)",
                "CONNECT_E_NOCONNECTION", StatusWords(status));
        Require(none == nullptr, "FindConnectionPoint(an interface it does not source)",
                "the out pointer set to null", "the out pointer left as it was");
    }
    IID iid = IID_NULL;
    HRESULT listed = S_OK;
    ComPtr<IConnectionPoint> point = EventPoint(target, container.Get(), iid, &listed);
    // A container must list its connection points: this rule's finding only, the rules that use
    // the connection point just have none.
    Require(listed != E_NOTIMPL, "EnumConnectionPoints", "S_OK and the connection points", StatusWords(listed));
    if (!point) {
        if (target.Trutina())
            Broken("FindConnectionPoint(ITrutinaEvents)", "S_OK with the data event's connection point",
                   "no connection point");
        throw ESkipped{"the object lists no connection point"};
    }
    TSinks sinks;
    TEventSink* first = sinks.Make(iid);
    TEventSink* second = sinks.Make(iid);
    DWORD a = 0, b = 0;
    HRESULT status = Advise(point.Get(), first, a);
    Require(status == S_OK, "Advise", "S_OK", StatusWords(status));
    status = Advise(point.Get(), second, b);
    Require(status == S_OK, "Advise", "S_OK", StatusWords(status));
    Require(a != 0 && b != 0 && a != b, "Advise", "two distinct non-zero cookies",
            "cookies " + std::to_string(a) + " and " + std::to_string(b));
    const DWORD unknown = (a > b ? a : b) + 1000;
    status = Unadvise(point.Get(), unknown);
    // Another refusal breaks no client: Windows' ADO answers E_FAIL, its network list manager
    // OLE_E_NOCONNECTION.
    if (FAILED(status) && status != CONNECT_E_NOCONNECTION)
        Warn("Unadvise(a cookie it never gave)", "CONNECT_E_NOCONNECTION", StatusWords(status));
    else
        Require(status == CONNECT_E_NOCONNECTION, "Unadvise(a cookie it never gave)", "CONNECT_E_NOCONNECTION",
                StatusWords(status));
    for (const DWORD cookie : {a, b}) {
        status = Unadvise(point.Get(), cookie);
        Require(status == S_OK, "Unadvise", "S_OK", StatusWords(status));
    }
    PumpFor(50);
    for (TEventSink* sink : {first, second})
        Require(sink->References() == 0, "Unadvise", "no reference kept to the sink",
                std::to_string(sink->References()) + " reference(s) kept");
}

void CheckEventAfterUnadvise(const TTarget& target)
{
    ComPtr<IUnknown> object = target.Create();
    IID iid = IID_NULL;
    ComPtr<IConnectionPoint> point = EventPoint(target, object.Get(), iid);
    if (!point)
        throw ESkipped{"the object has no connection point"};
    // Never freed: a driver that lets the sink go but keeps calling it must be seen doing so, not
    // crash the check. Kept reachable to the process's end (a list never destroyed), so that a
    // leak check at exit does not count it.
    static auto* const kept = new std::vector<TEventSink*>;
    TEventSink* sink = kept->emplace_back(new TEventSink(iid));
    DWORD cookie = 0;
    if (Advise(point.Get(), sink, cookie) != S_OK)
        throw ESkipped{"Advise refused the sink"};
    ComPtr<ITrutina> trutina;
    const bool members = target.Trutina() && SUCCEEDED(Query(object.Get(), IID_ITrutina, trutina.OutVoid())) && trutina;
    // The members that raise data events: GenerateEvent at once, ReadWeight with the data event on.
    auto raise = [&] {
        LONG result = 0;
        TCalls::Make("GenerateEvent", TCallDirection::Call, [&] { return trutina->GenerateEvent(&result); });
        TCalls::Make("ReadWeight", TCallDirection::Call, [&] { return trutina->ReadWeight(&result); });
    };
    if (members) {
        // A data event on its way when the sink goes: the driver must drop it.
        const driver::TCallValue on = driver::ToCallValue(VARIANT_BOOL(VARIANT_TRUE));
        TCalls::Make("DeviceEnabled", TCallDirection::Write, [&] { return trutina->put_DeviceEnabled(VARIANT_TRUE); }, &on);
        TCalls::Make("DataEventEnabled", TCallDirection::Write,
                     [&] { return trutina->put_DataEventEnabled(VARIANT_TRUE); }, &on);
        raise();
    }
    const HRESULT status = Unadvise(point.Get(), cookie);
    if (status != S_OK)
        throw ESkipped{"Unadvise answered " + StatusWords(status)};
    const long before = sink->Events();
    PumpFor(100);
    Require(sink->Events() == before, "Unadvise", "no data event after Unadvise",
            std::to_string(sink->Events() - before) + " data event(s) after Unadvise");
    if (!members)
        return;
    // Calls after Unadvise must not reach the sink either.
    raise();
    PumpFor(100);
    Require(sink->Events() == before, "GenerateEvent and ReadWeight after Unadvise", "no data event after Unadvise",
            std::to_string(sink->Events() - before) + " data event(s) after Unadvise");
}

// --------------------------------------------------------------- refcount

void CheckRefcount(const TTarget& target)
{
    ComPtr<IUnknown> object = target.Create();
    IUnknown* p = object.Get();
    for (int i = 0; i < 3; ++i)
        AddRefOf(p);
    for (int i = 0; i < 3; ++i)
        ReleaseOf(p);
    {
        // Still alive for the reference the checker holds.
        void* again = nullptr;
        const HRESULT status = Query(p, IID_IUnknown, &again);
        Require(SUCCEEDED(status) && again, "Release", "the object alive while a reference is held",
                "QueryInterface then answered " + StatusWords(status));
        ReleaseOf(static_cast<IUnknown*>(again));
    }
    IID iid = IID_NULL;
    ComPtr<IConnectionPoint> point = EventPoint(target, p, iid);
    if (!point)
        return; // nothing more to see of its end
    TSinks sinks;
    TEventSink* sink = sinks.Make(iid);
    DWORD cookie = 0;
    if (Advise(point.Get(), sink, cookie) != S_OK)
        return;
    point.Reset();
    // The client's last reference goes without Unadvise: the object must go, and its sinks with it.
    TCalls::Make("Release", TCallDirection::Call, [&] { return long(object.Detach()->Release()); });
    PumpFor(50);
    Require(sink->References() == 0, "Release (the last)", "every sink released",
            std::to_string(sink->References()) + " reference(s) to the sink kept");
    const long events = sink->Events();
    PumpFor(100);
    Require(sink->Events() == events, "Release (the last)", "no data event after the object's end",
            std::to_string(sink->Events() - events) + " data event(s)");
}

// --------------------------------------------------------------- unload

void CheckUnload(const TTarget& target)
{
    ComPtr<IUnknown> object = target.Create();
    HRESULT answer = S_OK;
    if (!target.CanUnloadNow(answer))
        throw ESkipped{"the module's DllCanUnloadNow cannot be reached"};
    Require(answer == S_FALSE, "DllCanUnloadNow", "S_FALSE while an object lives", StatusWords(answer));
}

namespace {

// --------------------------------------------------------------- class-factory
// An outer object for an aggregation attempt: it answers only for itself and counts the references
// others hold to it, which an aggregated object's interfaces take and drop on its behalf.
class TOuter final : public platform::TUnknownImpl<IUnknown> {
public:
    TOuter() = default;
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        ++FReferences;
        return TUnknownImpl::AddRef();
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        --FReferences;
        return TUnknownImpl::Release();
    }
    long References() const { return FReferences; }

private:
    std::atomic<long> FReferences{0};
};

// An object made with an outer object must delegate: every interface it hands out answers
// QueryInterface for IUnknown with the outer object, and AddRef and Release go to the outer one.
void RequireDelegation(TOuter* outer, const std::vector<THeld>& held)
{
    const std::string member = "CreateInstance(an outer object)";
    for (const THeld& h : held) {
        if (h.Interface.Iid == &IID_IUnknown)
            continue; // the inner object's own IUnknown does not delegate
        const std::string from = std::string(" from its ") + h.Interface.Name;
        void* identity = nullptr;
        const HRESULT status = Query(h.Pointer, IID_IUnknown, &identity);
        if (SUCCEEDED(status) && identity)
            ReleaseOf(static_cast<IUnknown*>(identity));
        Require(SUCCEEDED(status) && identity == outer, member,
                "QueryInterface(IUnknown)" + from + " giving the outer object (delegation)",
                SUCCEEDED(status) ? std::string("another pointer: the outer object ignored") : StatusWords(status));
        const long before = outer->References();
        AddRefOf(h.Pointer);
        const long taken = outer->References() - before;
        ReleaseOf(h.Pointer);
        Require(taken == 1 && outer->References() == before, member, "AddRef and Release" + from + " on the outer object",
                "the outer object's references changed by " + std::to_string(taken) + " and "
                    + std::to_string(outer->References() - before - taken));
    }
}

} // namespace

void CheckClassFactory(const TTarget& target)
{
    IClassFactory* factory = target.Factory();
    auto create = [&](IUnknown* outer, REFIID iid, void** out) {
        return TCalls::Make("CreateInstance", std::string(outer ? "outer object, " : "") + InterfaceName(iid),
                            [&] { return factory->CreateInstance(outer, iid, out); });
    };
    void* object = Garbage;
    HRESULT status = create(nullptr, IID_IUnknown, &object);
    Require(SUCCEEDED(status) && object && object != Garbage, "CreateInstance(IUnknown)", "S_OK and an object",
            SUCCEEDED(status) ? "success without an object" : StatusWords(status));
    ReleaseOf(static_cast<IUnknown*>(object));

    object = Garbage;
    status = create(nullptr, IID_Nobody, &object);
    if (SUCCEEDED(status) && object && object != Garbage)
        ReleaseOf(static_cast<IUnknown*>(object));
    Require(FAILED(status) && object == nullptr, "CreateInstance(an unknown interface)",
            "a failure with a null object",
            FAILED(status) ? "the out pointer left as it was"
                           : StatusWords(status) + (object ? " with an object" : " without an object"));

    // Released last, after everything the aggregated object handed out.
    const ComPtr<TOuter> outer = ComPtr<TOuter>::Attach(new TOuter);
    // For IUnknown the inner object's own IUnknown, through which its other interfaces are
    // found; for another interface (only IUnknown may be asked with an outer object) a refusal
    // or an interface that delegates.
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch}) {
        object = Garbage;
        status = create(outer.Get(), *iid, &object);
        if (FAILED(status)) {
            // Only IUnknown may be asked with an outer object: any refusal of another interface is
            // right (Windows' filter graph answers E_NOINTERFACE, its global options E_INVALIDARG).
            if (*iid == IID_IUnknown)
                Require(status == CLASS_E_NOAGGREGATION, "CreateInstance(an outer object)",
                        "CLASS_E_NOAGGREGATION (or an aggregated object)", StatusWords(status));
            Require(object == nullptr, "CreateInstance(an outer object)", "a null object on failure",
                    "the out pointer left as it was");
            continue;
        }
        Require(object && object != Garbage, "CreateInstance(an outer object)", "an inner object on success",
                "success without an object");
        std::vector<THeld> held;
        TReleaseAll release{held};
        if (*iid == IID_IUnknown) {
            held = HeldInterfaces(target, static_cast<IUnknown*>(object));
            held.push_back({{&IID_IUnknown, "IUnknown"}, static_cast<IUnknown*>(object)});
        } else
            held.push_back({{&IID_IDispatch, "IDispatch"}, static_cast<IUnknown*>(object)});
        RequireDelegation(outer.Get(), held);
    }
}

void PumpFor(int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    platform::PumpApartment();
    for (auto now = std::chrono::steady_clock::now(); now < until; now = std::chrono::steady_clock::now())
        platform::WaitAndPumpApartment(
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1);
}

} // namespace check
