// The fake driver component: every ITrutina operation is generated from the member table and
// goes through one of three handlers (read, write, method), which log the call and answer from
// the module-wide script.
#include "FakeDriver.h"

#include "platform/apartment.h"
#include "platform/bstr.h"
#include "platform/comptr.h"
#include "platform/module.h"
#include "runtime/utf.h"
#include "server/TrutinaServer.h"

#include <array>
#include <charconv>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace fakedriver {
namespace {

struct TValue {
    LONG Long = 0;
    VARIANT_BOOL Flag = VARIANT_FALSE;
    double Real = 0;
    std::int64_t Money = 0;
    std::u16string Text;
};

struct TFailure {
    HRESULT Status = S_OK;
    std::optional<std::string> ErrorInfo;
    bool Once = false;
};

struct TMemberScript {
    std::optional<std::pair<LONG, std::string>> Result;
    std::optional<TFailure> Failure;
    bool RefuseWrites = false;
    std::function<void()> Callback;
};

constexpr std::size_t SlotCount = 64; // dispatch ids run from 1 to TrutinaMemberCount
constexpr int ResultCodeId = 1;
constexpr int ResultDescriptionId = 2;

class TFakeTrutina;

// The module-wide state, shared by every instance.
struct TState {
    std::mutex Lock;
    std::array<TValue, SlotCount> Values;
    std::array<TMemberScript, SlotCount> Scripts;
    std::vector<TCallRecord> Log;
    bool OfferTrutina = true;
    int InitNewCalls = 0;
    std::set<TFakeTrutina*> Instances;
};

TState& State()
{
    static TState* state = new TState(); // never destroyed: instances may outlive static destruction
    return *state;
}

const TrutinaMemberInfo& Member(std::string_view name)
{
    for (const auto& m : TrutinaMembers)
        if (name == m.Name)
            return m;
    throw std::invalid_argument("no driver member named " + std::string(name));
}

const TrutinaMemberInfo& Member(std::string_view name, VARTYPE type)
{
    const TrutinaMemberInfo& m = Member(name);
    if (m.Type != type)
        throw std::invalid_argument("driver member " + std::string(name) + " has another type");
    return m;
}

TValue& Slot(const TrutinaMemberInfo& m) { return State().Values[m.Number]; }

// ---------------------------------------------------------------- typed access to a value slot
std::string Quote(const std::u16string& text) { return "\"" + runtime::Utf16ToUtf8(text) + "\""; }

std::string ArgumentText(LONG v) { return std::to_string(v); }
std::string ArgumentText(VARIANT_BOOL v) { return std::to_string(v); }
std::string ArgumentText(CY v) { return std::to_string(v.int64); }
std::string ArgumentText(BSTR v) { return Quote(platform::BstrToU16(v)); }
std::string ArgumentText(double v)
{
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    return std::string(buffer, end);
}

void Store(TValue& slot, LONG v) { slot.Long = v; }
void Store(TValue& slot, VARIANT_BOOL v) { slot.Flag = v; }
void Store(TValue& slot, double v) { slot.Real = v; }
void Store(TValue& slot, CY v) { slot.Money = v.int64; }
void Store(TValue& slot, BSTR v) { slot.Text = platform::BstrToU16(v); }

void Answer(const TValue& slot, LONG* out) { *out = slot.Long; }
void Answer(const TValue& slot, VARIANT_BOOL* out) { *out = slot.Flag; }
void Answer(const TValue& slot, double* out) { *out = slot.Real; }
void Answer(const TValue& slot, CY* out) { out->int64 = slot.Money; }
void Answer(const TValue& slot, BSTR* out) { *out = platform::U16ToBstr(slot.Text); }

// ---------------------------------------------------------------- one call
// Logs the call, runs the callback, and either fails as scripted (returns the status) or lets
// the caller answer (returns S_OK). The result script is applied by Finish.
HRESULT Begin(int number, TCallKind kind, std::string argument)
{
    const TrutinaMemberInfo& m = TrutinaMembers[number - 1];
    std::function<void()> callback;
    {
        TState& s = State();
        std::lock_guard lock(s.Lock);
        s.Log.push_back({m.Name, kind, std::move(argument)});
        callback = s.Scripts[number].Callback;
    }
    if (callback)
        callback();
    std::optional<TFailure> failure;
    {
        TState& s = State();
        std::lock_guard lock(s.Lock);
        auto& scripted = s.Scripts[number].Failure;
        failure = scripted;
        if (scripted && scripted->Once)
            scripted.reset();
    }
    if (!failure)
        return S_OK;
    if (failure->ErrorInfo)
        return trutina_server::Fail(failure->Status, std::string_view(*failure->ErrorInfo));
    return failure->Status; // the thread's error info is left as it is
}

HRESULT Finish(int number)
{
    TState& s = State();
    std::lock_guard lock(s.Lock);
    if (const auto& result = s.Scripts[number].Result) {
        s.Values[ResultCodeId].Long = result->first;
        s.Values[ResultDescriptionId].Text = runtime::Utf8ToUtf16(result->second);
    }
    return S_OK;
}

template <typename T>
HRESULT Read(int number, T* out)
{
    if (!out)
        return E_POINTER;
    if (HRESULT hr = Begin(number, TCallKind::Read, {}); FAILED(hr))
        return hr;
    {
        TState& s = State();
        std::lock_guard lock(s.Lock);
        Answer(s.Values[number], out);
    }
    return Finish(number);
}

template <typename T>
HRESULT Write(int number, T value)
{
    if (HRESULT hr = Begin(number, TCallKind::Write, ArgumentText(value)); FAILED(hr))
        return hr;
    {
        TState& s = State();
        std::lock_guard lock(s.Lock);
        if (!s.Scripts[number].RefuseWrites)
            Store(s.Values[number], value);
    }
    return Finish(number);
}

HRESULT Method(int number, LONG* result)
{
    if (!result)
        return E_POINTER;
    if (HRESULT hr = Begin(number, TCallKind::Call, {}); FAILED(hr))
        return hr;
    {
        TState& s = State();
        std::lock_guard lock(s.Lock);
        *result = s.Values[number].Long;
    }
    return Finish(number);
}

// ---------------------------------------------------------------- the component
class TFakeTrutina final : public trutina_server::TTrutinaServerBase {
public:
    TFakeTrutina()
    {
        std::lock_guard lock(State().Lock);
        State().Instances.insert(this);
    }

#define FAKE_RO(n, name, type, ...) \
    HRESULT STDMETHODCALLTYPE get_##name(type* Value) override { return Read(n, Value); }
#define FAKE_RW(n, name, type, ...) \
    FAKE_RO(n, name, type)     \
    HRESULT STDMETHODCALLTYPE put_##name(type Value) override { return Write(n, Value); }
#define FAKE_METHOD(n, name, ...) \
    HRESULT STDMETHODCALLTYPE name(LONG* Result) override { return Method(n, Result); }
    TRUTINA_MEMBERS(FAKE_RO, FAKE_RW, FAKE_METHOD)
#undef FAKE_RO
#undef FAKE_RW
#undef FAKE_METHOD

protected:
    ~TFakeTrutina() override
    {
        std::lock_guard lock(State().Lock);
        State().Instances.erase(this);
    }

    HRESULT OnInitNew() override
    {
        std::lock_guard lock(State().Lock);
        ++State().InitNewCalls;
        return S_OK;
    }

    bool OffersInterface(REFIID riid) override
    {
        if (riid != IID_ITrutina && riid != IID_IDispatch)
            return true;
        std::lock_guard lock(State().Lock);
        return State().OfferTrutina;
    }
};

static_assert(TrutinaMemberCount < SlotCount);

} // namespace

// ---------------------------------------------------------------- test-side API
std::string ModulePath() { return platform::ModulePathOf(&trutina_server::ModuleAnchor); }

void Reset()
{
    TState& s = State();
    std::lock_guard lock(s.Lock);
    s.Values = {};
    s.Scripts = {};
    s.Log.clear();
    s.OfferTrutina = true;
    s.InitNewCalls = 0;
}

namespace {
template <typename F>
void Change(std::string_view member, VARTYPE type, F change)
{
    const TrutinaMemberInfo& m = Member(member, type);
    std::lock_guard lock(State().Lock);
    change(Slot(m));
}
template <typename T, typename F>
T Inspect(std::string_view member, VARTYPE type, F get)
{
    const TrutinaMemberInfo& m = Member(member, type);
    std::lock_guard lock(State().Lock);
    return get(Slot(m));
}
template <typename F>
void Script(std::string_view member, F change)
{
    const TrutinaMemberInfo& m = Member(member);
    std::lock_guard lock(State().Lock);
    change(State().Scripts[m.Number]);
}
} // namespace

void SetLong(std::string_view member, LONG value) { Change(member, VT_I4, [&](TValue& v) { v.Long = value; }); }
void SetFlag(std::string_view member, bool value) { SetFlagRaw(member, value ? VARIANT_TRUE : VARIANT_FALSE); }
void SetFlagRaw(std::string_view member, VARIANT_BOOL value) { Change(member, VT_BOOL, [&](TValue& v) { v.Flag = value; }); }
void SetReal(std::string_view member, double value) { Change(member, VT_R8, [&](TValue& v) { v.Real = value; }); }
void SetMoney(std::string_view member, std::int64_t value) { Change(member, VT_CY, [&](TValue& v) { v.Money = value; }); }
void SetText(std::string_view member, std::u16string_view value)
{
    Change(member, VT_BSTR, [&](TValue& v) { v.Text = value; });
}
void SetTextUtf8(std::string_view member, std::string_view value) { SetText(member, runtime::Utf8ToUtf16(value)); }

LONG GetLong(std::string_view member) { return Inspect<LONG>(member, VT_I4, [](TValue& v) { return v.Long; }); }
VARIANT_BOOL GetFlagRaw(std::string_view member)
{
    return Inspect<VARIANT_BOOL>(member, VT_BOOL, [](TValue& v) { return v.Flag; });
}
double GetReal(std::string_view member) { return Inspect<double>(member, VT_R8, [](TValue& v) { return v.Real; }); }
std::int64_t GetMoney(std::string_view member)
{
    return Inspect<std::int64_t>(member, VT_CY, [](TValue& v) { return v.Money; });
}
std::u16string GetText(std::string_view member)
{
    return Inspect<std::u16string>(member, VT_BSTR, [](TValue& v) { return v.Text; });
}
std::string GetTextUtf8(std::string_view member) { return runtime::Utf16ToUtf8(GetText(member)); }

void ScriptResult(std::string_view member, LONG code, std::string_view description)
{
    Script(member, [&](TMemberScript& s) { s.Result.emplace(code, std::string(description)); });
}

void ScriptFailure(std::string_view member, HRESULT status, std::optional<std::string> errorInfo, bool once)
{
    Script(member, [&](TMemberScript& s) { s.Failure = TFailure{status, std::move(errorInfo), once}; });
}

void RefuseWrites(std::string_view member)
{
    Script(member, [](TMemberScript& s) { s.RefuseWrites = true; });
}

void OnCall(std::string_view member, std::function<void()> callback)
{
    Script(member, [&](TMemberScript& s) { s.Callback = std::move(callback); });
}

void OfferTrutina(bool offer)
{
    std::lock_guard lock(State().Lock);
    State().OfferTrutina = offer;
}

int RaiseDataEvent()
{
    // Each live instance is held while it fires, since a handler may release others.
    std::vector<platform::ComPtr<ITrutina>> instances;
    {
        std::lock_guard lock(State().Lock);
        for (TFakeTrutina* instance : State().Instances)
            instances.push_back(platform::ComPtr<ITrutina>::Share(instance));
    }
    int called = 0;
    for (auto& instance : instances)
        called += static_cast<TFakeTrutina*>(instance.Get())->FireDataEvent();
    return called;
}

bool RaiseDataEventFromWorker()
{
    platform::ApartmentRef apartment = platform::CurrentApartment();
    if (!apartment)
        return false;
    bool posted = false;
    std::thread worker([&] { posted = platform::PostToApartment(apartment, [] { RaiseDataEvent(); }); });
    worker.join();
    return posted;
}

std::string TCallRecord::Text() const
{
    switch (Kind) {
    case TCallKind::Read: return "get " + Member;
    case TCallKind::Write: return "put " + Member + " " + Argument;
    case TCallKind::Call: return "call " + Member;
    }
    return Member;
}

std::vector<TCallRecord> Calls()
{
    std::lock_guard lock(State().Lock);
    return State().Log;
}

std::vector<std::string> CallTexts()
{
    std::vector<std::string> texts;
    for (const auto& call : Calls())
        texts.push_back(call.Text());
    return texts;
}

void ClearCalls()
{
    std::lock_guard lock(State().Lock);
    State().Log.clear();
}

int LiveInstances()
{
    std::lock_guard lock(State().Lock);
    return static_cast<int>(State().Instances.size());
}

long LiveObjects() { return trutina_server::LiveObjects(); }

int InitNewCalls()
{
    std::lock_guard lock(State().Lock);
    return State().InitNewCalls;
}

} // namespace fakedriver

TRUTINA_SERVER_EXPORTS(fakedriver::TFakeTrutina, CLSID_Statera, "Scriptable fake scale driver (tests)")

namespace fakedriver {
HRESULT Register() { return DllRegisterServer(); }
HRESULT Unregister() { return DllUnregisterServer(); }
} // namespace fakedriver
