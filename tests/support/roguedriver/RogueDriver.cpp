// The misbehaving driver: each ITrutina operation asks the object's misbehaviour table first.
#include "platform/apartment.h"
#include "platform/bstr.h"
#include "platform/comptr.h"
#include "RogueDriver.h"
#include "runtime/utf.h"

#include "server/TrutinaServer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <type_traits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace roguedriver {
namespace {

enum class TMisdeed {
    None, Crash, ThreadCrash, Exit, CExit, Hang, Throw, Null, Huge, ThreadEvents, LateThreadEvent, CallEvents, LateEvents,
    Fail, Refuse, RefuseSilently, RefuseAndChange, Miscount, Dangle,
};

struct TRule {
    TMisdeed Misdeed = TMisdeed::None;
    long Count = 0; // the code, milliseconds, characters or events
};

constexpr std::size_t SlotCount = 64;
// By dispatch id: the rules of reads and methods, and of writes.
struct TRules {
    std::array<TRule, SlotCount> Read;
    std::array<TRule, SlotCount> Write;
};

std::atomic<long> GWrongThreadCalls{0};
std::atomic<long> GEventsRaised{0};

TMisdeed MisdeedNamed(std::string_view name)
{
    static const std::pair<std::string_view, TMisdeed> names[] = {
        {"crash", TMisdeed::Crash},   {"thread-crash", TMisdeed::ThreadCrash}, {"exit", TMisdeed::Exit},
        {"c-exit", TMisdeed::CExit},
        {"hang", TMisdeed::Hang},     {"throw", TMisdeed::Throw},
        {"null", TMisdeed::Null},     {"huge", TMisdeed::Huge},
        {"thread-events", TMisdeed::ThreadEvents}, {"call-events", TMisdeed::CallEvents},
        {"late-thread-event", TMisdeed::LateThreadEvent},
        {"late-events", TMisdeed::LateEvents}, {"fail", TMisdeed::Fail},
        {"refuse", TMisdeed::Refuse},         {"refuse-silently", TMisdeed::RefuseSilently},
        {"refuse-and-change", TMisdeed::RefuseAndChange}, {"miscount", TMisdeed::Miscount},
        {"dangle", TMisdeed::Dangle},
    };
    for (const auto& [word, misdeed] : names)
        if (word == name)
            return misdeed;
    return TMisdeed::None;
}

// "[get |put ]Member=misdeed[:count];..." from the environment (without get or put: both); unknown
// members and words are ignored.
TRules ReadRules()
{
    TRules rules{};
    const char* text = std::getenv(ConfigVariable);
    std::string_view rest = text ? text : "";
    while (!rest.empty()) {
        const std::string_view item = rest.substr(0, rest.find(';'));
        rest.remove_prefix(std::min(rest.size(), item.size() + 1));
        const auto equals = item.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view member = item.substr(0, equals);
        const bool reads = member.substr(0, 4) != "put ", writes = member.substr(0, 4) != "get ";
        if (!reads || !writes)
            member.remove_prefix(4);
        std::string_view misdeed = item.substr(equals + 1);
        long count = 0;
        if (const auto colon = misdeed.find(':'); colon != std::string_view::npos) {
            count = std::strtol(std::string(misdeed.substr(colon + 1)).c_str(), nullptr, 10);
            misdeed = misdeed.substr(0, colon);
        }
        for (const auto& m : TrutinaMembers)
            if (member == m.Name) {
                if (reads)
                    rules.Read[m.Number] = TRule{MisdeedNamed(misdeed), count};
                if (writes)
                    rules.Write[m.Number] = TRule{MisdeedNamed(misdeed), count};
            }
    }
    return rules;
}

// The misdeed of a COM operation ("Invoke=disagree" gives "disagree" for "Invoke"); empty when none.
std::string ComMisdeed(std::string_view operation)
{
    const char* text = std::getenv(ConfigVariable);
    std::string_view rest = text ? text : "";
    while (!rest.empty()) {
        const std::string_view item = rest.substr(0, rest.find(';'));
        rest.remove_prefix(std::min(rest.size(), item.size() + 1));
        if (item.size() > operation.size() && item.substr(0, operation.size()) == operation && item[operation.size()] == '=')
            return std::string(item.substr(operation.size() + 1));
    }
    return {};
}

constexpr DISPID ShiftedIds = 100;

// A connection point that forwards to the object's own and misbehaves in Unadvise. It holds the
// object's point uncounted (a counted one would keep the object alive): the object outlives it.
class TRogueConnectionPoint final : public platform::TUnknownImpl<IConnectionPoint, IID_IConnectionPoint> {
public:
    TRogueConnectionPoint(IConnectionPoint* inner, std::string misdeed, std::vector<IUnknown*>* keptPointers)
        : FInner(inner), FMisdeed(std::move(misdeed)), FKeptPointers(keptPointers)
    {
    }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override { return FInner->GetConnectionInterface(iid); }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override
    {
        return FInner->GetConnectionPointContainer(c);
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override
    {
        const HRESULT status = FInner->Advise(sink, cookie);
        if (SUCCEEDED(status))
            FSinks.push_back({*cookie, sink});
        return status;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override
    {
        IUnknown* sink = nullptr;
        for (const auto& [c, s] : FSinks)
            if (c == cookie)
                sink = s;
        if (sink && FMisdeed == "keep-pointer" && FKeptPointers)
            FKeptPointers->push_back(sink); // raised from the object's calls, never counted
        if (sink && FMisdeed == "keep-reference")
            sink->AddRef(); // never released
        if (sink && FMisdeed == "late-event") {
            IDispatch* dispatch = nullptr;
            if (SUCCEEDED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
                platform::PostToApartment(platform::CurrentApartment(), [dispatch] {
                    DISPPARAMS none{};
                    dispatch->Invoke(DISPID_TRUTINA_DATAEVENT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                     nullptr, nullptr, nullptr);
                    ++GEventsRaised;
                    dispatch->Release();
                });
        }
        if (!sink && FMisdeed == "unknown-fail")
            return E_FAIL;
        return FInner->Unadvise(cookie);
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override { return FInner->EnumConnections(out); }

private:
    IConnectionPoint* FInner;
    std::string FMisdeed;
    std::vector<std::pair<DWORD, IUnknown*>> FSinks; // not counted: only compared
    std::vector<IUnknown*>* FKeptPointers;           // the object's: sinks it goes on calling
};

class TRogueTrutina final : public trutina_server::TTrutinaServerBase {
public:
    TRogueTrutina()
        : FRules(ReadRules()), FThread(std::this_thread::get_id()), FQueryInterface(ComMisdeed("QueryInterface")),
          FRelease(ComMisdeed("Release")), FTypeInfoCount(ComMisdeed("GetTypeInfoCount")),
          FNames(ComMisdeed("GetIDsOfNames")), FInvoke(ComMisdeed("Invoke")), FUnadvise(ComMisdeed("Unadvise")),
          FResultMisdeed(ComMisdeed("ResultCode"))
    {
    }

#define ROGUE_RO(n, name, type, ...) \
    HRESULT STDMETHODCALLTYPE get_##name(type* Value) override { return Answer(n, Value); }
#define ROGUE_RW(n, name, type, ...) \
    ROGUE_RO(n, name, type)     \
    HRESULT STDMETHODCALLTYPE put_##name(type Value) override { return Write(n, Value); }
#define ROGUE_METHOD(n, name, ...) \
    HRESULT STDMETHODCALLTYPE name(LONG* Result) override { return Method(n, Result); }
    TRUTINA_MEMBERS(ROGUE_RO, ROGUE_RW, ROGUE_METHOD)
#undef ROGUE_RO
#undef ROGUE_RW
#undef ROGUE_METHOD

    // ---------------------------------------------------------------- COM's operations
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (FQueryInterface == "null-out-crash" && !ppv)
            CrashHere();
        if (FQueryInterface == "null-out-invalidarg" && !ppv)
            return E_INVALIDARG;
        if (FQueryInterface == "keep-out" && ppv && riid != IID_IUnknown) {
            void* kept = *ppv;
            const HRESULT status = TTrutinaServerBase::QueryInterface(riid, ppv);
            if (FAILED(status))
                *ppv = kept;
            return status;
        }
        // Every second ask, over all objects, refused.
        static std::atomic<int> containerAsks{0};
        if (FQueryInterface == "unstable" && ppv && riid == IID_IConnectionPointContainer && containerAsks++ % 2 == 1) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        if (FQueryInterface == "split-identity" && ppv && riid == IID_IUnknown && FIdentityGiven++ > 0) {
            *ppv = static_cast<ISupportErrorInfo*>(this);
            AddRef();
            return S_OK;
        }
        return TTrutinaServerBase::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (FRelease == "leak" && FLeakCount.load() == 0)
            FLeakCount = 1, AddRef(); // one reference nobody holds: the object never goes
        return TTrutinaServerBase::Release();
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (FTypeInfoCount == "notimpl")
            return E_NOTIMPL;
        if (FTypeInfoCount != "two" || !count)
            return TTrutinaServerBase::GetTypeInfoCount(count);
        *count = 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        // Names in another case than the table's refused.
        if (FNames == "case-sensitive" && names && count > 0) {
            const std::string name = runtime::Utf16ToUtf8(platform::AsU16(names[0]));
            bool known = false;
            for (const auto& m : TrutinaMembers)
                known = known || name == m.Name;
            if (!known) {
                for (UINT i = 0; i < count; ++i)
                    ids[i] = DISPID_UNKNOWN;
                return DISP_E_UNKNOWNNAME;
            }
        }
        const HRESULT status = TTrutinaServerBase::GetIDsOfNames(riid, names, count, lcid, ids);
        if ((FNames == "shifted" || FNames == "wrong") && status == S_OK)
            for (UINT i = 0; i < count; ++i)
                ids[i] += ShiftedIds;
        return status;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override
    {
        if (FNames == "shifted")
            id -= ShiftedIds;
        if (FInvoke == "no-type-check" && (flags & DISPATCH_PROPERTYPUT) && params && params->cArgs == 1
            && params->rgvarg[0].vt == VT_UNKNOWN)
            return S_OK;
        const HRESULT status = TTrutinaServerBase::Invoke(id, riid, lcid, flags, params, result, excepInfo, argErr);
        if (FInvoke == "disagree" && SUCCEEDED(status) && result && result->vt == VT_I4)
            ++result->lVal;
        return status;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** out) override
    {
        const HRESULT status = TTrutinaServerBase::FindConnectionPoint(riid, out);
        if (SUCCEEDED(status) && !FUnadvise.empty()) {
            if (!FPoint)
                FPoint = new TRogueConnectionPoint(*out, FUnadvise, &FKeptPointers);
            (*out)->Release();
            FPoint->AddRef();
            *out = FPoint;
        }
        return status;
    }

protected:
    ~TRogueTrutina() override
    {
        // The last reference may go on the event thread itself (the sink let its object go).
        if (FEventThread.joinable() && FEventThread.get_id() == std::this_thread::get_id())
            FEventThread.detach();
        else if (FEventThread.joinable())
            FEventThread.join();
        for (IDispatch* sink : FKeptSinks) { // released by the host, raised all the same
            Raise(sink);
            sink->Release();
        }
        if (FPoint)
            FPoint->Release();
    }

private:
    template <typename T>
    HRESULT Answer(int number, T* out)
    {
        if (!out)
            return E_POINTER;
        *out = T{};
        const HRESULT status = Misbehave(FRules.Read[number]);
        if constexpr (std::is_same_v<T, LONG>) {
            switch (number) {
            case ResultCodeId: *out = FResultCode; break;
            case DeviceIndexId: *out = FDeviceIndex; break;
            case DeviceNumberId: *out = FDeviceIndex + 1; break;
            case DeviceCountId: *out = FDevices; break;
            default:
                if (FStored[number])
                    *out = *FStored[number];
            }
        }
        return status;
    }

    // A write: its misdeed, then its result, and the device list's selection.
    template <typename T>
    HRESULT Write(int number, T value)
    {
        const TRule& rule = FRules.Write[number];
        FDangling = false;
        FLastChange = number;
        if (HRESULT status = Misbehave(rule); FAILED(status))
            return status;
        if (Refused(rule)) {
            if constexpr (std::is_same_v<T, LONG>)
                if (rule.Misdeed == TMisdeed::RefuseAndChange)
                    FStored[number] = value;
            return S_OK;
        }
        if constexpr (std::is_same_v<T, LONG>) {
            if (number == DeviceIndexId || number == DeviceNumberId) {
                // Wide: the number of the least LONG has no index below it.
                const long long index = number == DeviceIndexId ? value : static_cast<long long>(value) - 1;
                if (index < 0 || index >= FDevices)
                    return Result(-6, u"Логическое устройство не найдено");
                FDeviceIndex = static_cast<LONG>(index);
            }
        }
        return Result(0, u"");
    }

    // A method: its misdeed, its result, and that result as its integer result.
    HRESULT Method(int number, LONG* out)
    {
        const TRule& rule = FRules.Read[number];
        // DeleteDevice=dangle: a deletion right after AddDevice leaves the current device the
        // deleted one until the next write or method selects one anew; ReadWeight uses it.
        if (FDangling && number == ReadWeightId)
            CrashHere();
        const bool dangles = number == DeleteDeviceId && rule.Misdeed == TMisdeed::Dangle && FLastChange == AddDeviceId;
        FDangling = false;
        FLastChange = number;
        if (HRESULT status = Answer(number, out); FAILED(status))
            return status;
        Perform(number, rule);
        FDangling = dangles && FLastCode == 0;
        *out = FLastCode;
        return S_OK;
    }
    void Perform(int number, const TRule& rule)
    {
        if (Refused(rule))
            return;
        if (rule.Misdeed != TMisdeed::Miscount && number == AddDeviceId) {
            ++FDevices;
            FDeviceIndex = FDevices - 1;
        }
        if (rule.Misdeed != TMisdeed::Miscount && number == DeleteDeviceId) {
            if (FDevices == 1) {
                Result(-9, u"Нельзя удалить единственное логическое устройство");
                return;
            }
            --FDevices;
            FDeviceIndex = std::min(FDeviceIndex, FDevices - 1);
        }
        Result(0, u"");
    }

    // A refusal by the rule: its code, with or without a description.
    bool Refused(const TRule& rule)
    {
        switch (rule.Misdeed) {
        case TMisdeed::Refuse:
        case TMisdeed::RefuseAndChange: Result(rule.Count, u"Значение вне допустимого диапазона"); return true;
        case TMisdeed::RefuseSilently: Result(rule.Count, u""); return true;
        default: return false;
        }
    }

    HRESULT Result(LONG code, std::u16string description)
    {
        FLastCode = code;
        if (code == 0 && FResultMisdeed == "stale")
            return S_OK;
        FResultCode = code;
        FResultDescription = std::move(description);
        return S_OK;
    }
    HRESULT Answer(int number, BSTR* out)
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        const TRule& rule = FRules.Read[number];
        if (HRESULT status = Misbehave(rule); FAILED(status))
            return status;
        if (rule.Misdeed == TMisdeed::Huge)
            *out = platform::U16ToBstr(std::u16string(static_cast<std::size_t>(rule.Count), u'W'));
        else if (rule.Misdeed != TMisdeed::Null)
            *out = platform::U16ToBstr(number == ResultDescriptionId ? FResultDescription : u"");
        return S_OK;
    }

    HRESULT Misbehave(const TRule& rule)
    {
        if (std::this_thread::get_id() != FThread) {
            ++GWrongThreadCalls;
            return RPC_E_WRONG_THREAD;
        }
        switch (rule.Misdeed) {
        case TMisdeed::Crash: CrashHere(); break;
        case TMisdeed::ThreadCrash:
            // After the call has returned: the process dies between calls.
            std::thread([delay = rule.Count] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                CrashHere();
            }).detach();
            break;
        case TMisdeed::Exit: std::_Exit(static_cast<int>(rule.Count));
        case TMisdeed::CExit: std::exit(static_cast<int>(rule.Count));
        case TMisdeed::Hang: std::this_thread::sleep_for(std::chrono::milliseconds(rule.Count)); break;
        case TMisdeed::Throw: throw std::runtime_error("the rogue driver threw");
        case TMisdeed::ThreadEvents:
            if (FEventThread.joinable())
                FEventThread.join();
            // The thread holds the object: its events never raise one already being destroyed.
            AddRef();
            FEventThread = std::thread([this, count = rule.Count] {
                for (long i = 0; i < count; ++i)
                    RaiseAll();
                Release();
            });
            break;
        case TMisdeed::LateThreadEvent:
            // Its own thread each time, never waited for: the call returns at once however many
            // are still to come. The thread holds the object until its event is raised.
            AddRef();
            std::thread([this, delay = rule.Count] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                RaiseAll();
                Release();
            }).detach();
            break;
        case TMisdeed::CallEvents:
            for (long i = 0; i < rule.Count; ++i)
                RaiseAll();
            break;
        case TMisdeed::LateEvents: KeepSinks(); break;
        case TMisdeed::Fail: return E_FAIL;
        default: break;
        }
        return S_OK;
    }

    static void CrashHere()
    {
        // Just past null: a real access violation, which the undefined-behaviour checks of the
        // sanitizer builds (they refuse a null pointer) let through.
        volatile std::uintptr_t nearNull = 16;
        *reinterpret_cast<volatile int*>(nearNull) = 1;
    }

    void RaiseAll()
    {
        ++GEventsRaised;
        FireDataEvent();
        for (IUnknown* sink : FKeptPointers) {
            IDispatch* dispatch = nullptr;
            if (SUCCEEDED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
                Raise(dispatch);
                dispatch->Release();
            }
        }
    }

    static void Raise(IDispatch* sink)
    {
        DISPPARAMS none{};
        sink->Invoke(DISPID_TRUTINA_DATAEVENT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                     nullptr, nullptr);
        ++GEventsRaised;
    }

    // The advised sinks, held past Unadvise.
    void KeepSinks()
    {
        platform::ComPtr<IConnectionPoint> point;
        platform::ComPtr<IEnumConnections> connections;
        if (FAILED(FindConnectionPoint(DIID_ITrutinaEvents, point.Out())) || FAILED(point->EnumConnections(connections.Out())))
            return;
        CONNECTDATA data{};
        while (connections->Next(1, &data, nullptr) == S_OK) {
            IDispatch* sink = nullptr;
            if (SUCCEEDED(data.pUnk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&sink))))
                FKeptSinks.push_back(sink);
            data.pUnk->Release();
        }
    }

    static constexpr int ResultCodeId = 1, ResultDescriptionId = 2, DeviceIndexId = 4, DeviceNumberId = 5,
                         DeviceCountId = 7, AddDeviceId = 47, DeleteDeviceId = 48, ReadWeightId = 50;

    const TRules FRules;
    const std::thread::id FThread;
    const std::string FQueryInterface, FRelease, FTypeInfoCount, FNames, FInvoke, FUnadvise, FResultMisdeed;
    int FIdentityGiven = 0;
    std::atomic<int> FLeakCount{0};
    TRogueConnectionPoint* FPoint = nullptr;
    LONG FResultCode = 0;
    LONG FLastCode = 0; // the last write's or method's own result, whatever ResultCode says
    std::u16string FResultDescription;
    LONG FDevices = 1;
    LONG FDeviceIndex = 0;
    int FLastChange = 0;     // the dispatch id of the last write or method
    bool FDangling = false;  // DeleteDevice=dangle: the current device is the one just deleted
    std::array<std::optional<LONG>, SlotCount> FStored{};
    std::thread FEventThread;
    std::vector<IDispatch*> FKeptSinks;
    std::vector<IUnknown*> FKeptPointers; // released sinks still called (Unadvise=keep-pointer)
};

static_assert(TrutinaMemberCount < SlotCount);

} // namespace

long WrongThreadCalls() { return GWrongThreadCalls.load(); }
long EventsRaised() { return GEventsRaised.load(); }

} // namespace roguedriver

namespace roguedriver {
namespace {

// The class factory, misbehaving as CreateInstance's rule says.
class TRogueFactory final : public platform::TUnknownImpl<IClassFactory, IID_IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (ComMisdeed("CreateInstance") == "hang")
            std::this_thread::sleep_for(std::chrono::minutes(1));
        const std::string misdeed = outer ? ComMisdeed("CreateInstance") : "";
        if (misdeed == "wrong-refusal" && ppv) {
            *ppv = nullptr;
            return E_INVALIDARG;
        }
        if (misdeed == "refuse-interface" && ppv && riid != IID_IUnknown) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return FFactory->CreateInstance(misdeed == "ignore-outer" ? nullptr : outer, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override { return FFactory->LockServer(lock); }

    platform::ComPtr<IClassFactory> FFactory;

private:
    trutina_server::TLiveObject FLive;
};

} // namespace
} // namespace roguedriver

TRUTINA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (roguedriver::ComMisdeed("DllGetClassObject") == "hang")
        std::this_thread::sleep_for(std::chrono::minutes(1));
    platform::ComPtr<IClassFactory> inner;
    HRESULT status = trutina_server::GetClassObject<roguedriver::TRogueTrutina>(CLSID_Statera, rclsid, IID_IClassFactory,
                                                                                 inner.OutVoid());
    if (FAILED(status))
        return status;
    auto* factory = new roguedriver::TRogueFactory();
    factory->FFactory = inner;
    status = factory->QueryInterface(riid, ppv);
    factory->Release();
    return status;
}
TRUTINA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return roguedriver::ComMisdeed("DllCanUnloadNow") == "always" ? S_OK : trutina_server::CanUnloadNow();
}
TRUTINA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return trutina_server::RegisterServer(CLSID_Statera, &trutina_server::ModuleAnchor, "Misbehaving scale driver (tests)");
}
TRUTINA_SERVER_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() { return trutina_server::UnregisterServer(CLSID_Statera); }

namespace roguedriver {
HRESULT Register() { return DllRegisterServer(); }
HRESULT Unregister() { return DllUnregisterServer(); }
} // namespace roguedriver
