#include "tools/Replay.h"

#include "driver/MemberCalls.h"
#include "driver/OleError.h"
#include "driver/Statera.h"
#include "platform/apartment.h"
#include "platform/bstr.h"
#include "platform/classregistry.h"
#include "platform/comptr.h"
#include "platform/module.h"
#include "platform/safefile.h"
#include "platform/status.h"
#include "runtime/utf.h"

#include <chrono>
#include <cmath>
#include <filesystem>
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
};

TAnswer Perform(ITrutina* d, const driver::TRecordedStep& step)
{
    TAnswer answer;
    driver::ClearErrorInfo();
    answer.Status = driver::CallMember(d, *step.Member, step.Direction, step.Value, answer.Value);
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

std::string Outcome(HRESULT status, const std::string& text, const TCallValue& value)
{
    if (FAILED(status))
        return "failed: " + driver::FormatTraceStatus(status) + " " + driver::QuoteTraceText(text);
    if (std::holds_alternative<std::monostate>(value))
        return "success";
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
    difference.Expected = Outcome(step.Status, step.StatusText, showsValue ? step.Value : TCallValue{});
    difference.Got = Outcome(got.Status, got.StatusText, showsValue ? got.Value : TCallValue{});
    return true;
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
            FModule = platform::Module(moduleFile);
            if (!FModule.Loaded())
                throw runtime::Exception("cannot load " + moduleFile + ": " + FModule.Error());
            platform::ComPtr<IClassFactory> factory;
            driver::ClearErrorInfo();
            HRESULT status = platform::ModuleClassObject(FModule, clsid, IID_IClassFactory, factory.OutVoid());
            if (status == CO_E_ERRORINDLL)
                throw runtime::Exception(moduleFile + " is not a server module: it has no DllGetClassObject");
            if (FAILED(status))
                throw runtime::Exception(moduleFile + " does not serve the class " + classId + ": "
                                         + driver::OleErrorMessage(status, u""));
            platform::ComPtr<IUnknown> object;
            status = factory->CreateInstance(nullptr, IID_IUnknown, object.OutVoid());
            if (FAILED(status))
                driver::RaiseOleError(status);
            FControl = std::make_unique<TStatera>(clsid, object.Get());
        }
        FControl->OnDataEvent = [this](TStatera*) { ++FEvents; };
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
    }

    ITrutina* Driver() const { return FDriver.Get(); }

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

    void WaitUntil(long long ms)
    {
        const auto until = FCreated + std::chrono::milliseconds(ms);
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

const char* const UsageText =
    "usage: ponderix-replay RECORDING [--module FILE] [--tolerance X] [--ignore MEMBER,...]\n"
    "                       [--junit REPORT.xml] [--event-timeout MS]\n"
    "  performs the recorded driver calls against the registered driver (or the module FILE) and\n"
    "  reports every answer that differs; exit code 0: none, 1: differences, 2: misuse or no driver\n";

} // namespace

// ---------------------------------------------------------------- public

int TResult::Passed() const
{
    int n = 0;
    for (const TAction& action : Actions)
        n += action.Passed() ? 1 : 0;
    return n;
}

int TResult::Failed() const { return static_cast<int>(Actions.size()) - Passed(); }

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
} // namespace

TResult Replay(const driver::TRecording& recording, ITrutina* trutina, const TWaitForEvents& waitForEvents,
               const TWaitUntil& waitUntil, const TOptions& options)
{
    TResult result;
    int eventsExpected = 0;
    for (const driver::TRecordedStep& step : recording.Steps) {
        if (step.Kind == driver::TStepKind::Action) {
            if (step.AtMs >= 0 && waitUntil)
                waitUntil(step.AtMs);
            result.Actions.push_back(TAction{step.Line, step.Handler, step.Caption, {}});
            continue;
        }
        if (result.Actions.empty())
            result.Actions.push_back(TAction{step.Line, "start-up", "", {}});
        TAction& action = result.Actions.back();
        if (step.Kind == driver::TStepKind::Event) {
            // The calls of the event's handler follow it: wait until the driver has raised it.
            ++eventsExpected;
            const int delivered = waitForEvents(eventsExpected, options.EventTimeoutMs);
            if (delivered < eventsExpected) {
                if (!options.Ignore.count("DataEvent"))
                    action.Differences.push_back(TDifference{step.Line, "event DataEvent", "a data event",
                                                             "none within " + std::to_string(options.EventTimeoutMs)
                                                                 + " ms"});
                eventsExpected = delivered; // one missing event is reported once
            }
            continue;
        }
        if (!step.Crashed.empty()) {
            result.Crash = Place(action, step.Line) + ": the driver crashed in "
                           + driver::TraceCallName(step.Direction, step.Member->Name) + ": " + step.Crashed;
            break;
        }
        const TAnswer answer = Perform(trutina, step);
        TDifference difference;
        if (step.Checked && !options.Ignore.count(step.Member->Name)
            && Compare(step, answer, options.Tolerance, difference))
            action.Differences.push_back(std::move(difference));
    }
    return result;
}

std::string FormatDifference(const TAction& action, const TDifference& difference)
{
    return Place(action, difference.Line) + ": " + difference.Call + ": expected " + difference.Expected + ", got "
           + difference.Got;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    TOptions options;
    try {
        options = ParseArguments(args);
    } catch (const EUsage& e) {
        err << "ponderix-replay: " << e.Message() << "\n" << UsageText;
        return kExitUsage;
    }
    driver::TRecording recording;
    try {
        recording = driver::ReadRecordingFile(options.Recording);
    } catch (const driver::ERecordingError& e) {
        err << "ponderix-replay: " << options.Recording << ": " << e.Message() << "\n";
        return kExitUsage;
    }

    if (!options.Module.empty())
        err << "ponderix-replay: " << options.Recording << " against " << options.Module << "\n";
    if (recording.CutShortLine)
        err << "ponderix-replay: " << options.Recording << ": line " << recording.CutShortLine
            << " is cut short (the sitting ended inside it): replayed up to it\n";

    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct TUninitialize {
        HRESULT Init;
        ~TUninitialize()
        {
            if (SUCCEEDED(Init))
                CoUninitialize();
        }
    } uninitialize{init};

    std::unique_ptr<TReplayDriver> driver;
    try {
        driver = std::make_unique<TReplayDriver>(recording.Header.ClassId, options.Module);
    } catch (const std::exception& e) {
        err << "ponderix-replay: cannot create the driver"
            << (options.Module.empty() ? " (class " + recording.Header.ClassId + ")" : " from " + options.Module)
            << ": " << e.what() << "\n";
        // Why the class registry could not be read, naming its file.
        if (const std::string why = platform::ClassRegistryError(); options.Module.empty() && !why.empty())
            err << "ponderix-replay: " << why << "\n";
        return kExitUsage;
    }
    const TResult result = Replay(
        recording, driver->Driver(),
        [&driver](int wanted, int timeoutMs) { return driver->WaitForEvents(wanted, timeoutMs); },
        [&driver](long long ms) { driver->WaitUntil(ms); }, options);
    driver.reset();

    for (const TAction& action : result.Actions)
        for (const TDifference& difference : action.Differences)
            out << FormatDifference(action, difference) << "\n";
    if (!result.Crash.empty())
        out << result.Crash << "\n";
    out << result.Passed() << " passed, " << result.Failed() << " failed\n";
    out.flush();

    if (!options.JUnit.empty()) {
        const std::string suite = runtime::Utf8FromPath(runtime::PathFromUtf8(options.Recording).filename());
        if (const std::string why = platform::ReplaceFileAtomically(options.JUnit, JUnitReport(result, suite));
            !why.empty()) {
            err << "ponderix-replay: cannot write the report " << options.JUnit << ": " << why << "\n";
            return kExitUsage;
        }
    }
    return result.Failed() == 0 && !recording.CutShortLine ? kExitSame : kExitDifferent;
}

} // namespace replay
