#include "tools/Replay.h"

#include "driver/CallGuard.h"
#include "driver/DriverChild.h"
#include "driver/MemberCalls.h"
#include "driver/OleError.h"
#include "driver/Statera.h"
#include "platform/apartment.h"
#include "platform/bstr.h"
#include "platform/classregistry.h"
#include "platform/commandline.h"
#include "platform/comptr.h"
#include "platform/module.h"
#include "platform/safefile.h"
#include "platform/status.h"
#include "runtime/utf.h"
#include "tools/ProgressLine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>

namespace replay {
namespace {

using driver::TCallValue;
using driver::TTraceFlag;
using driver::TTraceMoney;

struct TAnswer {
    HRESULT Status = S_OK;
    std::string StatusText;
    TCallValue Value;
    bool Thrown = false; // a C++ exception left the call
};

// A read through the object's IDispatch::Invoke, by the dispatch id its GetIDsOfNames gives.
HRESULT ReadThroughInvoke(ITrutina* d, const TrutinaMemberInfo& member, TCallValue& value)
{
    platform::ComPtr<IDispatch> dispatch;
    HRESULT status = d->QueryInterface(IID_IDispatch, dispatch.OutVoid());
    if (FAILED(status) || !dispatch)
        return FAILED(status) ? status : E_NOINTERFACE;
    std::u16string name = runtime::Utf8ToUtf16(member.Name);
    LPOLESTR names[1] = {platform::AsOleStr(name.data())};
    DISPID id = DISPID_UNKNOWN;
    if (status = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id); FAILED(status))
        return status;
    DISPPARAMS none{};
    VARIANT result;
    VariantInit(&result);
    status = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    if (SUCCEEDED(status) && result.vt != member.Type)
        status = DISP_E_TYPEMISMATCH;
    else if (SUCCEEDED(status)) {
        switch (member.Type) {
        case VT_I4: value = driver::ToCallValue(result.lVal); break;
        case VT_BOOL: value = driver::ToCallValue(result.boolVal); break;
        case VT_R8: value = driver::ToCallValue(result.dblVal); break;
        case VT_CY: value = driver::ToCallValue(result.cyVal); break;
        default: value = driver::ToCallValue(result.bstrVal); break;
        }
    }
    VariantClear(&result);
    return status;
}

TAnswer Perform(ITrutina* d, const driver::TRecordedStep& step)
{
    TAnswer answer;
    driver::ClearErrorInfo();
    {
        // Named to the watchdog, the last words and a driver child's parent while it runs.
        driver::TCallInProgress inProgress(step.Member->Name, step.Direction);
        if (step.Direction == driver::TCallDirection::Write)
            inProgress.KeepArgument([&] { return step.Value; });
        try {
            answer.Status = step.ThroughInvoke ? ReadThroughInvoke(d, *step.Member, answer.Value)
                                               : driver::CallMember(d, *step.Member, step.Direction, step.Value, answer.Value);
        } catch (...) {
            answer.Thrown = true;
            answer.Status = driver::EscapedExceptionStatus;
            answer.StatusText = driver::EscapedExceptionText(std::current_exception());
            answer.Value = {};
            return answer;
        }
    }
    if (FAILED(answer.Status)) {
        // The failure's text as the bench shows it: the error info attached to the call.
        try {
            driver::RaiseOleError(answer.Status);
        } catch (const runtime::Exception& e) {
            answer.StatusText = e.Message();
        }
    }
    return answer;
}

// ---------------------------------------------------------------- comparing

bool SameValue(const TCallValue& expected, const TCallValue& got, double tolerance)
{
    const double* a = std::get_if<double>(&expected);
    const double* b = std::get_if<double>(&got);
    if (a && b) {
        if (std::isnan(*a) || std::isnan(*b))
            return std::isnan(*a) && std::isnan(*b);
        return *a == *b || std::fabs(*a - *b) <= tolerance;
    }
    if (const auto* x = std::get_if<TTraceFlag>(&expected), *y = std::get_if<TTraceFlag>(&got); x && y)
        return x->Raw == y->Raw;
    if (const auto* x = std::get_if<TTraceMoney>(&expected), *y = std::get_if<TTraceMoney>(&got); x && y)
        return x->Raw == y->Raw;
    if (const auto* x = std::get_if<std::int32_t>(&expected), *y = std::get_if<std::int32_t>(&got); x && y)
        return *x == *y;
    if (const auto* x = std::get_if<std::string>(&expected), *y = std::get_if<std::string>(&got); x && y)
        return *x == *y;
    return false; // a value of another type
}

// The text a difference shows of a call: its failure's, or a text it read or wrote.
const std::string* ShownTextOf(HRESULT status, const std::string& statusText, const TCallValue& value)
{
    if (FAILED(status))
        return &statusText;
    return std::get_if<std::string>(&value);
}

// A long text as an excerpt of kShownText bytes from a little before at, in whole UTF-8
// characters, with its length.
std::string ShownText(const std::string& text, std::size_t at)
{
    if (text.size() <= kShownText)
        return driver::QuoteTraceText(text);
    auto continuation = [&](std::size_t i) {
        return i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    };
    std::size_t start = std::min(at, text.size()) > kShownText / 4 ? std::min(at, text.size()) - kShownText / 4 : 0;
    while (start > 0 && continuation(start))
        --start;
    std::size_t end = std::min(text.size(), start + kShownText);
    while (end > start && continuation(end))
        --end;
    return std::string(start > 0 ? "..." : "") + driver::QuoteTraceText(text.substr(start, end - start))
           + (end < text.size() ? "..." : "") + " (" + std::to_string(text.size()) + " bytes)";
}

std::string Outcome(HRESULT status, const std::string& text, const TCallValue& value, std::size_t at)
{
    if (FAILED(status))
        return "failed: " + driver::FormatTraceStatus(status) + " " + ShownText(text, at);
    if (std::holds_alternative<std::monostate>(value))
        return "success";
    if (const auto* shown = std::get_if<std::string>(&value))
        return ShownText(*shown, at);
    return driver::FormatTraceValue(value);
}

// The difference of one call, if any.
bool Compare(const driver::TRecordedStep& step, const TAnswer& got, double tolerance, TDifference& difference)
{
    const bool expectedFailed = FAILED(step.Status);
    bool same;
    if (expectedFailed || FAILED(got.Status))
        same = step.Status == got.Status && step.StatusText == got.StatusText;
    else if (step.Direction == driver::TCallDirection::Write || std::holds_alternative<std::monostate>(step.Value))
        same = true; // a success was expected and came
    else
        same = SameValue(step.Value, got.Value, tolerance);
    if (same)
        return false;
    difference.Line = step.Line;
    difference.Call = driver::TraceCallName(step.Direction, step.Member->Name);
    const bool showsValue = step.Direction != driver::TCallDirection::Write;
    const TCallValue& expectedValue = showsValue ? step.Value : TCallValue{};
    const TCallValue& gotValue = showsValue ? got.Value : TCallValue{};
    // Where two long texts part, so that the excerpts show it.
    const std::string* a = ShownTextOf(step.Status, step.StatusText, expectedValue);
    const std::string* b = ShownTextOf(got.Status, got.StatusText, gotValue);
    std::size_t at = 0;
    if (a && b)
        while (at < a->size() && at < b->size() && (*a)[at] == (*b)[at])
            ++at;
    difference.Expected = Outcome(step.Status, step.StatusText, expectedValue, at);
    difference.Got = Outcome(got.Status, got.StatusText, gotValue, at);
    if (a && b && (a->size() > kShownText || b->size() > kShownText))
        difference.Got += "; first difference at offset " + std::to_string(at);
    return true;
}

// The difference of a call from what its expectation says, given what this replay read before.
bool CompareExpected(const driver::TRecordedStep& step, const TAnswer& got, const std::map<std::string, TCallValue>& read,
                     double tolerance, TDifference& difference)
{
    using driver::TExpectation;
    difference.Line = step.Line;
    difference.Call = driver::TraceCallName(step.Direction, step.Member->Name) + (step.ThroughInvoke ? " through Invoke" : "");
    const auto code = read.find("ResultCode");
    const std::int32_t* result = code == read.end() ? nullptr : std::get_if<std::int32_t>(&code->second);
    const auto before = read.find(step.Member->Name);
    switch (step.Expect) {
    case TExpectation::Returned:
        difference.Expected = "a status (the call returned)";
        difference.Got = "a C++ exception: " + got.StatusText;
        return got.Thrown;
    case TExpectation::Described:
        difference.Expected = "a description of ResultCode " + (result ? std::to_string(*result) : std::string("?"));
        difference.Got = FAILED(got.Status) ? Outcome(got.Status, got.StatusText, {}, 0) : "an empty text";
        if (result && *result == 0)
            return false;
        if (const auto* text = std::get_if<std::string>(&got.Value); SUCCEEDED(got.Status) && text)
            return text->empty();
        return true;
    case TExpectation::Agrees: {
        const auto method = read.find(""); // the last method's integer result
        const std::int32_t* answered = method == read.end() ? nullptr : std::get_if<std::int32_t>(&method->second);
        const std::int32_t* code = std::get_if<std::int32_t>(&got.Value);
        difference.Expected = "0, or the integer result of the method before ("
                              + (answered ? std::to_string(*answered) : std::string("?")) + ")";
        difference.Got = Outcome(got.Status, got.StatusText, got.Value, 0);
        return FAILED(got.Status) || (code && answered && *code != 0 && *code != *answered);
    }
    case TExpectation::Added:
    case TExpectation::Deleted: {
        const std::int32_t* previous = before == read.end() ? nullptr : std::get_if<std::int32_t>(&before->second);
        const std::int32_t* now = std::get_if<std::int32_t>(&got.Value);
        if (!previous || !result)
            return false;
        const std::int32_t expected = *previous + (*result != 0 ? 0 : step.Expect == TExpectation::Added ? 1 : -1);
        difference.Expected = std::to_string(expected) + " (" + std::to_string(*previous) + " before, ResultCode "
                              + std::to_string(*result) + ")";
        difference.Got = Outcome(got.Status, got.StatusText, got.Value, 0);
        return FAILED(got.Status) || !now || *now != expected;
    }
    case TExpectation::Kept:
        if (!result || *result == 0)
            return false; // taken: nothing to keep
        [[fallthrough]];
    default:
        if (before == read.end())
            return false; // nothing read before to compare with
        difference.Expected = driver::FormatTraceValue(before->second)
                              + (step.Expect == TExpectation::Kept ? " kept (ResultCode " + std::to_string(*result) + ")"
                                                                   : " as read before");
        difference.Got = Outcome(got.Status, got.StatusText, got.Value, 0);
        return FAILED(got.Status) || !SameValue(before->second, got.Value, tolerance);
    }
}

// ---------------------------------------------------------------- the driver

// The driver under test: the registered class, or the class from the given module file, loaded
// as regsvr loads it and asked through its own DllGetClassObject.
class TReplayDriver {
public:
    TReplayDriver(const std::string& classId, const std::string& moduleFile)
    {
        CLSID clsid{};
        const std::u16string text = runtime::Utf8ToUtf16(classId);
        if (FAILED(CLSIDFromString(platform::AsOleStr(text.c_str()), &clsid)))
            throw runtime::Exception("the recording's class id " + classId + " is not a class id");
        if (moduleFile.empty()) {
            FControl = std::make_unique<TStatera>(clsid);
        } else {
            platform::ComPtr<IClassFactory> factory;
            HRESULT status;
            {
                driver::TCallInProgress loading(driver::LoadingTheModule, driver::TCallDirection::Setup);
                FModule = platform::Module(moduleFile);
                if (!FModule.Loaded())
                    throw runtime::Exception("cannot load " + moduleFile + ": " + FModule.Error());
                driver::ClearErrorInfo();
                status = platform::ModuleClassObject(FModule, clsid, IID_IClassFactory, factory.OutVoid());
            }
            if (status == CO_E_ERRORINDLL)
                throw runtime::Exception(moduleFile + " is not a server module: it has no DllGetClassObject");
            if (FAILED(status))
                throw runtime::Exception(moduleFile + " does not serve the class " + classId + ": "
                                         + driver::OleErrorMessage(status, u""));
            platform::ComPtr<IUnknown> object;
            {
                driver::TCallInProgress creating(driver::CreatingTheObject, driver::TCallDirection::Setup);
                status = factory->CreateInstance(nullptr, IID_IUnknown, object.OutVoid());
            }
            if (FAILED(status))
                driver::RaiseOleError(status);
            FControl = std::make_unique<TStatera>(clsid, object.Get());
        }
        FControl->OnDataEvent = [this](TStatera*) { ++FEvents; };
        FControl->OnForeignThreadEvent = [this](TStatera*, const std::string&) { ++FForeignEvents; };
        FDriver = FControl->DriverInterface();
        FCreated = std::chrono::steady_clock::now();
    }
    TReplayDriver(const TReplayDriver&) = delete;
    TReplayDriver& operator=(const TReplayDriver&) = delete;
    ~TReplayDriver()
    {
        // The objects go before their module does.
        FDriver.Reset();
        FControl.reset();
        // Left loaded, as regsvr leaves it: unloaded before LeakSanitizer's check at exit, what the
        // module keeps in its globals would count as a nameless leak of the replay's.
        FModule.KeepLoaded();
    }

    ITrutina* Driver() const { return FDriver.Get(); }

    // Data events raised on a thread of the driver's own (the first of them: the control says it once).
    int ForeignEvents() const { return FForeignEvents; }
    int WaitForEvents(int wanted, int timeoutMs)
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        platform::PumpApartment();
        while (FEvents < wanted) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            platform::WaitAndPumpApartment(static_cast<int>(left));
        }
        return FEvents;
    }

    void WaitUntil(long long ms, const std::function<void(long long waitMs)>& before)
    {
        const auto until = FCreated + std::chrono::milliseconds(ms);
        if (const auto now = std::chrono::steady_clock::now(); now < until && before)
            before(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count());
        for (auto now = std::chrono::steady_clock::now(); now < until; now = std::chrono::steady_clock::now())
            platform::WaitAndPumpApartment(
                static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1);
    }

private:
    platform::Module FModule; // declared first: unloaded last
    std::chrono::steady_clock::time_point FCreated;
    std::unique_ptr<TStatera> FControl;
    platform::ComPtr<ITrutina> FDriver;
    int FEvents = 0;
    int FForeignEvents = 0;
};

// A number for --tolerance and --event-timeout; the whole text must be it.
double Number(const std::string& option, const std::string& text)
{
    std::size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(value) || value < 0)
        throw EUsage(option + " takes a number of zero or more, not \"" + text + "\"");
    return value;
}

} // namespace

const char* const UsageText =
    "usage: ponderix-replay RECORDING [--module FILE] [--tolerance X] [--ignore MEMBER,...]\n"
    "                       [--junit REPORT.xml] [--event-timeout MS]\n"
    "  performs the recorded driver calls against the registered driver (or the module FILE) and\n"
    "  reports every answer that differs; exit code 0: none, 1: differences, or the driver crashed\n"
    "  or ended the process; 2: misuse, no driver, or a call given up at PONDERIX_CALL_LIMIT_MS\n";

// ---------------------------------------------------------------- public

int TResult::Passed() const
{
    return static_cast<int>(std::count_if(Actions.begin(), Actions.end(), [](const TAction& a) { return a.Passed(); }));
}

int TResult::Failed() const
{
    return static_cast<int>(std::count_if(Actions.begin(), Actions.end(),
                                          [](const TAction& a) { return !a.Differences.empty() && a.Error.empty(); }));
}

int TResult::Errors() const
{
    return static_cast<int>(
        std::count_if(Actions.begin(), Actions.end(), [](const TAction& a) { return !a.Error.empty(); }));
}

TOptions ParseArguments(const std::vector<std::string>& args)
{
    TOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw EUsage(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--module") {
            // A relative name means the current folder, as regsvr takes it, never the loader's search.
            const std::string& module = value();
            if (module.empty())
                throw EUsage("--module needs a file name (leave it out for the registered driver)");
            std::error_code ec;
            const auto absolute = std::filesystem::absolute(runtime::PathFromUtf8(module), ec).make_preferred();
            options.Module = ec ? module : runtime::Utf8FromPath(absolute);
        } else if (arg == "--tolerance") {
            options.Tolerance = Number(arg, value());
        } else if (arg == "--event-timeout") {
            const double ms = Number(arg, value());
            if (ms > 24 * 3600 * 1000.0 || ms != std::floor(ms))
                throw EUsage("--event-timeout takes whole milliseconds up to a day");
            options.EventTimeoutMs = static_cast<int>(ms);
        } else if (arg == "--junit") {
            options.JUnit = value();
        } else if (arg == "--ignore") {
            std::stringstream list(value());
            for (std::string member; std::getline(list, member, ',');) {
                bool known = false;
                for (const TrutinaMemberInfo& info : TrutinaMembers)
                    known = known || member == info.Name;
                if (!known && member != "DataEvent")
                    throw EUsage("--ignore: unknown member \"" + member + "\"");
                options.Ignore.insert(member);
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw EUsage("unknown option " + arg);
        } else if (!options.Recording.empty()) {
            throw EUsage("only one recording may be named");
        } else {
            options.Recording = arg;
        }
    }
    if (options.Recording.empty())
        throw EUsage("no recording named");
    return options;
}

namespace {

// "line 14 (btnReadWeightClick "Получить массу")"
std::string Place(const TAction& action, int line)
{
    std::string place = "line " + std::to_string(line) + " (" + action.Handler;
    if (!action.Caption.empty())
        place += " " + driver::QuoteTraceText(action.Caption);
    return place + ")";
}

// The step's action begins (a new one for an action marker, the start-up before the first), so
// that a replay and its parent build the same actions.
TAction& BeginStep(TResult& result, const driver::TRecordedStep& step)
{
    if (step.Kind == driver::TStepKind::Action)
        result.Actions.push_back(TAction{step.Line, step.Handler, step.Caption, {}, {}});
    else if (result.Actions.empty())
        result.Actions.push_back(TAction{step.Line, "start-up", "", {}, {}});
    return result.Actions.back();
}

// The recorded sitting ended in this call: the driver crashed or ended the process.
std::string RecordedEnd(const driver::TRecordedStep& step)
{
    const std::string call = driver::TraceCallName(step.Direction, step.Member->Name);
    return !step.Crashed.empty() ? "the sitting ended here: the driver crashed in " + call + ": " + step.Crashed
                                 : "the sitting ended here: the driver ended the process in " + call + ": " + step.Exited;
}

} // namespace

TResult Replay(const driver::TRecording& recording, ITrutina* trutina, const TWaitForEvents& waitForEvents,
               const TWaitUntil& waitUntil, const TOptions& options, const TProgress& progress,
               const std::function<int()>& foreignEvents)
{
    TResult result;
    int eventsExpected = 0;
    // Each member's last value read in this replay; under "" the last method's integer result.
    std::map<std::string, TCallValue> read;
    auto differs = [&](TAction& action, TDifference difference) {
        action.Differences.push_back(std::move(difference));
        if (progress.Difference)
            progress.Difference(action, action.Differences.back());
    };
    for (std::size_t index = 0; index < recording.Steps.size(); ++index) {
        const driver::TRecordedStep& step = recording.Steps[index];
        if (progress.Step)
            progress.Step(index);
        TAction& action = BeginStep(result, step);
        if (step.Kind == driver::TStepKind::Action) {
            if (step.AtMs >= 0 && waitUntil)
                waitUntil(step.AtMs, [&](long long waitMs) {
                    if (waitMs >= kLongWaitMs && progress.Notice)
                        progress.Notice(Place(action, step.Line) + ": waits " + driver::FormatSeconds(std::chrono::milliseconds(waitMs))
                                        + ", to begin as long after the start as in the sitting");
                });
            continue;
        }
        if (step.Kind == driver::TStepKind::Event && step.Expect == driver::TExpectation::OwnThread) {
            // Any data event that comes within the slowest polling interval (1 s) is the object's.
            eventsExpected = std::max(eventsExpected, waitForEvents(eventsExpected + 1, std::min(options.EventTimeoutMs, 1200)));
            if (foreignEvents && foreignEvents() > 0 && !options.Ignore.count("DataEvent"))
                differs(action, TDifference{step.Line, "event DataEvent", "data events on the object's thread",
                                            "a data event on a thread of the driver's own"});
            continue;
        }
        if (step.Kind == driver::TStepKind::Event) {
            // The calls of the event's handler follow it: wait until the driver has raised it.
            ++eventsExpected;
            const int delivered = waitForEvents(eventsExpected, options.EventTimeoutMs);
            if (delivered < eventsExpected) {
                if (!options.Ignore.count("DataEvent"))
                    differs(action, TDifference{step.Line, "event DataEvent", "a data event",
                                                "none within " + std::to_string(options.EventTimeoutMs) + " ms"});
                eventsExpected = delivered; // one missing event is reported once
            }
            continue;
        }
        if (!step.Crashed.empty() || !step.Exited.empty()) {
            action.Error = Place(action, step.Line) + ": " + RecordedEnd(step);
            if (progress.Error)
                progress.Error(action);
            break;
        }
        const TAnswer answer = Perform(trutina, step);
        TDifference difference;
        if (step.Checked && !options.Ignore.count(step.Member->Name)
            && (step.Expect == driver::TExpectation::Recorded ? Compare(step, answer, options.Tolerance, difference)
                                                               : CompareExpected(step, answer, read, options.Tolerance, difference)))
            differs(action, std::move(difference));
        if (step.Direction == driver::TCallDirection::Read && SUCCEEDED(answer.Status))
            read[step.Member->Name] = answer.Value;
        if (step.Direction == driver::TCallDirection::Call && SUCCEEDED(answer.Status))
            read[""] = answer.Value;
    }
    return result;
}

std::string FormatDifference(const TAction& action, const TDifference& difference)
{
    return Place(action, difference.Line) + ": " + difference.Call + ": expected " + difference.Expected + ", got "
           + difference.Got;
}

namespace {

// The driver, created in this process; nullptr, with the reason in why, when it cannot be.
std::unique_ptr<TReplayDriver> CreateDriver(const driver::TRecording& recording, const TOptions& options,
                                            std::string& why)
{
    try {
        return std::make_unique<TReplayDriver>(recording.Header.ClassId, options.Module);
    } catch (const std::exception& e) {
        why = "cannot create the driver"
              + (options.Module.empty() ? " (class " + recording.Header.ClassId + ")" : " from " + options.Module) + ": "
              + e.what();
        // Why the class registry could not be read, naming its file.
        if (const std::string registry = platform::ClassRegistryError(); options.Module.empty() && !registry.empty())
            why += "\nponderix-replay: " + registry;
        return nullptr;
    }
}

// COM for the calling thread, for as long as it lives.
struct TApartment {
    HRESULT Init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~TApartment()
    {
        if (SUCCEEDED(Init))
            CoUninitialize();
    }
};

// Replays in this process. false (with why) when the driver cannot be created.
bool ReplayHere(const driver::TRecording& recording, const TOptions& options, const TProgress& progress,
                TResult& result, std::string& why)
{
    TApartment apartment;
    std::unique_ptr<TReplayDriver> driver = CreateDriver(recording, options, why);
    if (!driver)
        return false;
    result = Replay(
        recording, driver->Driver(),
        [&driver](int wanted, int timeoutMs) { return driver->WaitForEvents(wanted, timeoutMs); },
        [&driver](long long ms, const std::function<void(long long)>& before) { driver->WaitUntil(ms, before); },
        options, progress, [&driver] { return driver->ForeignEvents(); });
    // Its release is a call too, and may fail as any other.
    driver::TCallInProgress releasing("Release", driver::TCallDirection::Call);
    driver.reset();
    return true;
}

// The lines between the driver child and its parent (after the mechanism's own). The child parses
// the recording; the parent learns what it needs of it from the first lines. The step in progress
// is the child's mark (the step's line), told as a line only before a word of that step.
//   bad <text>                            the recording is bad, or holds nothing to replay
//   outline <cut> <abrupt> <last> <first>  the cut line (0: none), 1 when it ended abruptly, the
//                                         last step's line, the first's when it is no action (0)
//   action <line>\t<handler>\t<caption>   each action of the recording, its texts %-escaped
//   step <line>                           the step of that line is in progress
//   diff <line>\t<call>\t<expected>\t<got>  a difference (its fields hold no tab: texts are quoted)
//   error <text>                          the action's error
//   note <text>                           a word for standard error
//   fail <text>                           the driver cannot be created

// Splits "a\tb\tc\td" into four; false when it has another number of fields.
bool SplitDifference(const std::string& text, TDifference& difference)
{
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (std::size_t tab; (tab = text.find('\t', at)) != std::string::npos; at = tab + 1)
        fields.push_back(text.substr(at, tab - at));
    fields.push_back(text.substr(at));
    if (fields.size() != 4)
        return false;
    difference.Line = std::atoi(fields[0].c_str());
    difference.Call = fields[1];
    difference.Expected = fields[2];
    difference.Got = fields[3];
    return true;
}

enum class TChildOutcome { Replayed, NoDriver, GivenUp, BadRecording };

// What Run needs of a recording besides replaying it. The parent of a driver child has this and
// the recording's actions from the child, which alone parses the recording.
struct TOutline {
    int CutShortLine = 0;
    bool EndedAbruptly = false;
    int LastLine = 1; // of the last step
};

// Why a good recording still gives nothing to replay; empty when it does.
std::string NothingToReplay(const driver::TRecording& recording)
{
    if (!recording.Steps.empty())
        return {};
    return std::string("nothing to replay: no line after the header")
           + (recording.EndedAbruptly() ? " (the sitting ended abruptly after it)" : "");
}

TOutline OutlineOf(const driver::TRecording& recording)
{
    return TOutline{recording.CutShortLine, recording.EndedAbruptly(),
                    recording.Steps.empty() ? 1 : recording.Steps.back().Line};
}

// An action's texts on one of the child's lines: no tab, no line end.
std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '%' ? "%25" : c == '\t' ? "%09" : c == '\n' ? "%0A" : c == '\r' ? "%0D" : std::string(1, c);
    return out;
}
std::string Unescaped(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    return out;
}

// Replays in a driver child of program: builds the same result from its lines, and makes the
// child's end (a crash, an exit, a hang) the error of the action it happened in. The child parses
// the recording: a bad one is BadRecording, with the reason in why; once it is good, outlined()
// is told of it before anything is replayed.
TChildOutcome ReplayInChild(std::string text, const std::vector<std::string>& args, const std::string& program,
                            std::chrono::milliseconds callLimit, const TProgress& progress, std::ostream& err,
                            TResult& result, TOutline& outline, const std::function<void()>& outlined,
                            std::string& why)
{
    struct TActionAt {
        int Line;
        std::string Handler, Caption;
    };
    std::vector<TActionAt> actions;
    int firstLine = 0;          // of the first step, when it is no action: the start-up's
    int currentLine = 0;        // of the step in progress
    std::size_t nextAction = 0; // the actions up to a step begin when the child tells of it
    auto beginTo = [&](int line) {
        if (result.Actions.empty() && firstLine > 0 && firstLine <= line)
            result.Actions.push_back(TAction{firstLine, "start-up", "", {}, {}});
        for (; nextAction < actions.size() && actions[nextAction].Line <= line; ++nextAction)
            result.Actions.push_back(TAction{actions[nextAction].Line, actions[nextAction].Handler,
                                             actions[nextAction].Caption, {}, {}});
        currentLine = std::max(currentLine, line);
    };
    auto action = [&]() -> TAction& {
        if (result.Actions.empty()) // it ended before its first step: the start-up's
            result.Actions.push_back(TAction{1, "start-up", "", {}, {}});
        return result.Actions.back();
    };
    bool bad = false;
    driver::TDriverChildRun run;
    run.Program = program;
    run.Arguments = args;
    run.Input = std::move(text);
    run.CallLimit = callLimit;
    run.OnLine = [&](const std::string& line) {
        const auto space = line.find(' ');
        const std::string word = line.substr(0, space), rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (word == "step") {
            beginTo(std::atoi(rest.c_str()));
            if (progress.Reached)
                progress.Reached(currentLine);
        } else if (TDifference difference; word == "diff" && SplitDifference(rest, difference)) {
            action().Differences.push_back(difference);
            if (progress.Difference)
                progress.Difference(action(), difference);
        } else if (word == "error") {
            action().Error = rest;
            if (progress.Error)
                progress.Error(action());
        } else if (word == "note") {
            if (progress.Notice)
                progress.Notice(rest);
        } else if (word == "action") {
            const auto tab = rest.find('\t'), second = rest.find('\t', tab + 1);
            if (second != std::string::npos)
                actions.push_back(TActionAt{std::atoi(rest.c_str()), Unescaped(rest.substr(tab + 1, second - tab - 1)),
                                            Unescaped(rest.substr(second + 1))});
        } else if (word == "outline") {
            std::istringstream fields(rest);
            int abrupt = 0;
            fields >> outline.CutShortLine >> abrupt >> outline.LastLine >> firstLine;
            outline.EndedAbruptly = abrupt != 0;
            if (outlined)
                outlined();
        } else if (word == "bad") {
            bad = true;
            why = rest;
        } else if (word == "fail") {
            why += (why.empty() ? "" : "\n") + rest;
        }
    };
    auto place = [&] { return Place(action(), currentLine > 0 ? currentLine : action().Line); };
    run.OnOverdue = [&](const std::string& words, std::uint64_t mark) {
        beginTo(static_cast<int>(mark));
        err << "ponderix-replay: " << place() << ": " << words << std::endl;
    };
    const driver::TChildEnd end = driver::RunDriverChild(std::move(run));
    beginTo(static_cast<int>(end.Mark)); // the steps it went through without a word
    if (!end.ErrorOutput.empty()) // the driver's own words, and the child's last ones
        err << end.ErrorOutput << (end.ErrorOutput.back() == '\n' ? "" : "\n");
    switch (end.Kind) {
    case driver::TChildEndKind::Completed:
        return bad ? TChildOutcome::BadRecording : why.empty() ? TChildOutcome::Replayed : TChildOutcome::NoDriver;
    case driver::TChildEndKind::NotStarted:
        why = "cannot start the driver's process: " + end.Words;
        return TChildOutcome::NoDriver;
    default:
        action().Error = place() + ": " + end.Words;
        if (progress.Error)
            progress.Error(action());
        return end.Kind == driver::TChildEndKind::Hung ? TChildOutcome::GivenUp : TChildOutcome::Replayed;
    }
}

} // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const TDriverPlace& place)
{
    TOptions options;
    try {
        options = ParseArguments(args);
    } catch (const EUsage& e) {
        err << "ponderix-replay: " << e.Message() << "\n" << UsageText;
        return kExitUsage;
    }
    std::string problem;
    const std::chrono::milliseconds callLimit = driver::CallLimitFromEnvironment(&problem);
    if (!problem.empty()) {
        err << "ponderix-replay: " << problem.substr(0, problem.rfind(';')) << "\n";
        return kExitUsage;
    }
    // Read once: a child replays, and parses, the very text read here.
    platform::FileRead read = platform::ReadFileBounded(options.Recording, driver::MaxRecordingBytes);
    if (read.Outcome != platform::FileRead::TOutcome::Read) {
        err << "ponderix-replay: " << options.Recording << ": cannot read the recording " << options.Recording << ": "
            << read.Reason(driver::MaxRecordingBytes) << "\n";
        return kExitUsage;
    }
    driver::TRecording recording; // in this process only
    TOutline outline;
    if (!place.Child) {
        try {
            recording = driver::ParseRecording(read.Text);
        } catch (const driver::ERecordingError& e) {
            err << "ponderix-replay: " << options.Recording << ": " << e.Message() << "\n";
            return kExitUsage;
        }
        if (const std::string bad = NothingToReplay(recording); !bad.empty()) {
            err << "ponderix-replay: " << options.Recording << ": " << bad << "\n";
            return kExitUsage;
        }
        outline = OutlineOf(recording);
    }
    // Said once the recording is known to be good, before anything is replayed.
    auto outlined = [&] {
        if (!options.Module.empty())
            err << "ponderix-replay: " << options.Recording << " against " << options.Module << "\n";
        if (outline.CutShortLine)
            err << "ponderix-replay: " << options.Recording << ": line " << outline.CutShortLine
                << " is cut short (the sitting ended inside it): replayed up to it\n";
    };

    // Each difference and error as it comes, so that what was found stands whatever comes next;
    // on a terminal, the line reached below them.
    tools::TProgressLine line(err, platform::StandardErrorIsTerminal());
    const std::string lines = std::to_string(std::count(read.Text.begin(), read.Text.end(), '\n')
                                             + (read.Text.ends_with('\n') ? 0 : 1));
    TProgress progress;
    progress.Reached = [&](int reached) { line.Show("ponderix-replay: line " + std::to_string(reached) + " of " + lines); };
    progress.Step = [&](std::size_t index) { progress.Reached(recording.Steps[index].Line); };
    progress.Difference = [&](const TAction& action, const TDifference& difference) {
        line.Clear();
        out << FormatDifference(action, difference) << std::endl;
    };
    progress.Error = [&](const TAction& action) {
        line.Clear();
        out << action.Error << std::endl;
    };
    progress.Notice = [&](const std::string& words) {
        line.Clear();
        err << "ponderix-replay: " << words << std::endl;
    };
    TResult result;
    std::string why;
    bool givenUp = false;
    if (place.Child) {
        const TChildOutcome outcome = ReplayInChild(std::move(read.Text), args, place.Program, callLimit, progress,
                                                    err, result, outline, outlined, why);
        if (outcome == TChildOutcome::BadRecording) {
            err << "ponderix-replay: " << options.Recording << ": " << why << "\n";
            return kExitUsage;
        }
        if (outcome == TChildOutcome::NoDriver) {
            err << "ponderix-replay: " << why << "\n";
            return kExitUsage;
        }
        givenUp = outcome == TChildOutcome::GivenUp;
    } else {
        outlined();
        if (!ReplayHere(recording, options, progress, result, why)) {
            err << "ponderix-replay: " << why << "\n";
            return kExitUsage;
        }
    }

    // A sitting that stopped unseen (killed, or a driver's _exit): its last action did not end.
    if (outline.EndedAbruptly && !givenUp && (result.Actions.empty() || result.Actions.back().Error.empty())) {
        const int last = outline.LastLine;
        if (result.Actions.empty())
            result.Actions.push_back(TAction{1, "start-up", "", {}, {}});
        TAction& action = result.Actions.back();
        action.Error = Place(action, last) + ": the sitting ended abruptly after this line";
        progress.Error(action);
    }
    line.Clear();
    out << result.Passed() << " passed, " << result.Failed() << " failed";
    if (const int errors = result.Errors(); errors > 0)
        out << ", " << errors << (errors == 1 ? " error" : " errors");
    out << std::endl;

    if (!options.JUnit.empty()) {
        const std::string suite = runtime::Utf8FromPath(runtime::PathFromUtf8(options.Recording).filename());
        if (const std::string failure = platform::ReplaceFileAtomically(options.JUnit, JUnitReport(result, suite));
            !failure.empty()) {
            err << "ponderix-replay: cannot write the report " << options.JUnit << ": " << failure << "\n";
            return kExitUsage;
        }
    }
    if (givenUp)
        return kExitUsage;
    return result.Passed() == static_cast<int>(result.Actions.size()) && !outline.CutShortLine ? kExitSame
                                                                                               : kExitDifferent;
}

int RunAsDriverChild(const std::vector<std::string>& args)
{
    driver::TDriverChild child(driver::CallLimitFromEnvironment());
    std::string text, why;
    if (!driver::TDriverChild::ReadInput(text, driver::MaxRecordingBytes, why)) {
        child.WriteLine("fail " + why);
        return child.Finish(kExitUsage);
    }
    TOptions options;
    driver::TRecording recording;
    try {
        options = ParseArguments(args); // the parent checked them: not expected
    } catch (const runtime::Exception& e) {
        child.WriteLine("fail " + e.Message());
        return child.Finish(kExitUsage);
    }
    try {
        recording = driver::ParseRecording(text);
    } catch (const driver::ERecordingError& e) {
        child.WriteLine("bad " + e.Message());
        return child.Finish(kExitUsage);
    }
    std::string().swap(text);
    if (const std::string bad = NothingToReplay(recording); !bad.empty()) {
        child.WriteLine("bad " + bad);
        return child.Finish(kExitUsage);
    }
    // The parent's outline of the recording, and its actions, all at once.
    const TOutline outline = OutlineOf(recording);
    const driver::TRecordedStep& first = recording.Steps.front();
    std::vector<std::string> lines{"outline " + std::to_string(outline.CutShortLine) + " "
                                   + (outline.EndedAbruptly ? "1" : "0") + " " + std::to_string(outline.LastLine) + " "
                                   + std::to_string(first.Kind == driver::TStepKind::Action ? 0 : first.Line)};
    for (const driver::TRecordedStep& step : recording.Steps)
        if (step.Kind == driver::TStepKind::Action)
            lines.push_back("action " + std::to_string(step.Line) + "\t" + Escaped(step.Handler) + "\t" + Escaped(step.Caption));
    child.WriteLines(lines);
    // Each step is marked with its line (a store); the parent is told of one only before a word of it.
    int reached = 0, told = 0;
    auto tell = [&] {
        if (told != reached)
            child.WriteLine("step " + std::to_string(told = reached));
    };
    TProgress progress;
    progress.Step = [&](std::size_t index) {
        reached = recording.Steps[index].Line;
        child.Mark(static_cast<std::uint64_t>(reached));
        if (index % 4096 == 0) // now and then, for the parent's progress line
            tell();
    };
    progress.Difference = [&](const TAction&, const TDifference& d) {
        tell();
        child.WriteLine("diff " + std::to_string(d.Line) + "\t" + d.Call + "\t" + d.Expected + "\t" + d.Got);
    };
    progress.Error = [&](const TAction& action) {
        tell();
        child.WriteLine("error " + action.Error);
    };
    progress.Notice = [&](const std::string& words) {
        tell();
        child.WriteLine("note " + words);
    };
    TResult result;
    if (!ReplayHere(recording, options, progress, result, why)) {
        std::istringstream lines(why);
        for (std::string line; std::getline(lines, line);)
            child.WriteLine("fail " + line);
        return child.Finish(kExitUsage);
    }
    return child.Finish(kExitSame);
}

} // namespace replay
