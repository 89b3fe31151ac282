// The misbehaving driver: each ITrutina operation asks the object's misbehaviour table first.
#include "platform/bstr.h"
#include "platform/comptr.h"
#include "RogueDriver.h"

#include "server/TrutinaServer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace roguedriver {
namespace {

enum class TMisdeed { None, Crash, ThreadCrash, Exit, CExit, Hang, Throw, Null, Huge, ThreadEvents, CallEvents, LateEvents };

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
        {"late-events", TMisdeed::LateEvents},
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

class TRogueTrutina final : public trutina_server::TTrutinaServerBase {
public:
    TRogueTrutina() : FRules(ReadRules()), FThread(std::this_thread::get_id()) {}

#define ROGUE_RO(n, name, type, ...) \
    HRESULT STDMETHODCALLTYPE get_##name(type* Value) override { return Answer(n, Value); }
#define ROGUE_RW(n, name, type, ...) \
    ROGUE_RO(n, name, type)     \
    HRESULT STDMETHODCALLTYPE put_##name(type) override { return Misbehave(FRules.Write[n]); }
#define ROGUE_METHOD(n, name, ...) \
    HRESULT STDMETHODCALLTYPE name(LONG* Result) override { return Answer(n, Result); }
    TRUTINA_MEMBERS(ROGUE_RO, ROGUE_RW, ROGUE_METHOD)
#undef ROGUE_RO
#undef ROGUE_RW
#undef ROGUE_METHOD

protected:
    ~TRogueTrutina() override
    {
        if (FEventThread.joinable())
            FEventThread.join();
        for (IDispatch* sink : FKeptSinks) { // released by the host, raised all the same
            Raise(sink);
            sink->Release();
        }
    }

private:
    template <typename T>
    HRESULT Answer(int number, T* out)
    {
        if (!out)
            return E_POINTER;
        *out = T{};
        return Misbehave(FRules.Read[number]);
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
            *out = platform::U16ToBstr(u"");
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
            FEventThread = std::thread([this, count = rule.Count] {
                for (long i = 0; i < count; ++i)
                    RaiseAll();
            });
            break;
        case TMisdeed::CallEvents:
            for (long i = 0; i < rule.Count; ++i)
                RaiseAll();
            break;
        case TMisdeed::LateEvents: KeepSinks(); break;
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

    const TRules FRules;
    const std::thread::id FThread;
    std::thread FEventThread;
    std::vector<IDispatch*> FKeptSinks;
};

static_assert(TrutinaMemberCount < SlotCount);

} // namespace

long WrongThreadCalls() { return GWrongThreadCalls.load(); }
long EventsRaised() { return GEventsRaised.load(); }

} // namespace roguedriver

TRUTINA_SERVER_EXPORTS(roguedriver::TRogueTrutina, CLSID_Statera, "Misbehaving scale driver (tests)")

namespace roguedriver {
HRESULT Register() { return DllRegisterServer(); }
HRESULT Unregister() { return DllUnregisterServer(); }
} // namespace roguedriver
