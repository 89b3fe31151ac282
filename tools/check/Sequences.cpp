#include "tools/check/Sequences.h"

#include "driver/MemberCalls.h"
#include "driver/Recording.h"
#include "driver/Statera.h"
#include "platform/apartment.h"
#include "platform/commandline.h"
#include "tools/check/MemberTable.h"
#include "tools/check/Rules.h"
#include "tools/check/StaticRules.h"

#include <rapidcheck.h>
#include <rapidcheck/state.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <climits>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace check {

using driver::TCallDirection;
using driver::TCallValue;

// What a step was drawn for, which a shorter sequence may no longer give it.
enum class TNeed {
    Nothing,
    AddedDevice,   // a device this sequence added (DeleteDevice deletes it)
    WrittenValue,  // a value this sequence wrote to the member (a write outside its domain must leave it)
    QueuedMessage, // a data message queued in asynchronous mode (DeleteEvent removes it)
};

struct TStep {
    const TrutinaMemberInfo* Member = nullptr; // nullptr: a wait for events
    TCallDirection Direction = TCallDirection::Read;
    TCallValue Argument;
    int WaitMs = 0;
    TNeed Need = TNeed::Nothing;
};

std::string StepText(const TStep& step)
{
    if (!step.Member)
        return "wait " + std::to_string(step.WaitMs) + " ms for events";
    std::string text = std::string(driver::TraceDirectionWord(step.Direction)) + " " + step.Member->Name;
    if (step.Direction == TCallDirection::Write)
        text += " " + driver::FormatTraceValue(step.Argument);
    return text;
}

namespace {

// ---------------------------------------------------------------- generation

// The values the windows write to an integer member, and the interesting ones outside them.
struct TIntegerDomain {
    const char* Member;
    int Low, High; // inclusive
};
constexpr TIntegerDomain IntegerDomains[] = {
    {"CurrentDeviceIndex", 0, 5}, {"CurrentDeviceNumber", 1, 6}, {"PollingInterval", 0, 4},
    {"EventNumber", 0, 5},        {"Model", 0, 15},              {"PortNumber", 1, 33},
    {"BaudRate", 0, 18},          {"Parity", 0, 4},              {"Value", -10, 100},
    {"ValuePurpose", 0, 4},
};

// A member's values: those the windows write, and the interesting ones outside them.
struct TDomain {
    rc::Gen<TCallValue> Inside, Outside;
};

TDomain IntegerDomainOf(const TrutinaMemberInfo& m)
{
    int low = INT_MIN / 2, high = INT_MAX / 2;
    for (const TIntegerDomain& d : IntegerDomains)
        if (std::string_view(d.Member) == m.Name)
            low = d.Low, high = d.High;
    auto toValue = [](int v) { return TCallValue(std::int32_t(v)); };
    return {rc::gen::map(rc::gen::inRange(low, high + 1), toValue),
            rc::gen::map(rc::gen::element(-1, 0, high + 1, 1000, INT_MIN, INT_MAX), toValue)};
}

TDomain DomainOf(const TrutinaMemberInfo& m)
{
    switch (m.Type) {
    case VT_BOOL: {
        auto toFlag = [](int raw) { return TCallValue(driver::TTraceFlag{static_cast<VARIANT_BOOL>(raw)}); };
        // The windows write -1 and 0; any other non-zero value is true as well.
        return {rc::gen::map(rc::gen::element(-1, 0), toFlag), rc::gen::map(rc::gen::element(1, 2, 0x7FFF), toFlag)};
    }
    case VT_R8:
        return {rc::gen::map(rc::gen::inRange(0, 20001), [](int grams) { return TCallValue(grams / 1000.0); }),
                rc::gen::map(rc::gen::element(-1.0, -0.5, 1e9, std::numeric_limits<double>::infinity(),
                                              std::numeric_limits<double>::quiet_NaN()),
                             [](double v) { return TCallValue(v); })};
    case VT_CY: {
        auto toMoney = [](std::int64_t raw) { return TCallValue(driver::TTraceMoney{raw}); };
        return {rc::gen::map(rc::gen::inRange(0, 100001), [](int cents) {
                    return TCallValue(driver::TTraceMoney{std::int64_t(cents) * 100});
                }),
                rc::gen::map(rc::gen::element(std::int64_t(-10000), std::int64_t(10000000001LL),
                                              std::numeric_limits<std::int64_t>::max(),
                                              std::numeric_limits<std::int64_t>::min()),
                             toMoney)};
    }
    case VT_BSTR: {
        auto toText = [](std::string v) { return TCallValue(std::move(v)); };
        return {rc::gen::map(rc::gen::element(std::string("Весы 1"), std::string("Касса 2"), std::string("Scale"), std::string("A")), toText),
                rc::gen::map(rc::gen::element(std::string(), std::string(300, 'W'), std::string("tab\tnew\nline"), std::string("\"\\")), toText)};
    }
    default: return IntegerDomainOf(m);
    }
}

rc::Gen<TCallValue> ValuesOf(const TrutinaMemberInfo& m)
{
    TDomain domain = DomainOf(m);
    return rc::gen::weightedOneOf<TCallValue>({{4, std::move(domain.Inside)}, {1, std::move(domain.Outside)}});
}

std::vector<const TrutinaMemberInfo*> MembersWhere(bool (*wanted)(const TrutinaMemberInfo&))
{
    std::vector<const TrutinaMemberInfo*> members;
    for (const TrutinaMemberInfo& m : TrutinaMembers)
        if (InVtable(m) && wanted(m))
            members.push_back(&m);
    return members;
}

// ShowProperties opens the driver's settings window, which waits for a person: never called.
bool Callable(const TrutinaMemberInfo& m)
{
    return m.Kind == TrutinaMemberKind::Method && std::string_view(m.Name) != "ShowProperties";
}
bool Writable(const TrutinaMemberInfo& m) { return m.Kind == TrutinaMemberKind::ReadWrite; }
bool Readable(const TrutinaMemberInfo& m) { return m.Kind != TrutinaMemberKind::Method; }

// What the steps alone predict of the object: the generation of the next step follows it, and
// the preconditions keep a shrunk sequence to steps that still mean what they were drawn for. The
// rules judge the driver against reads around each call instead: its settings and device list
// outlive its objects, so what a new object starts with is not known.
struct TModel {
    explicit TModel(const std::set<std::string>& avoid) : Avoid(&avoid) {}
    const std::set<std::string>* Avoid; // calls where a crash or a hang was found: not made
    int Added = 0;             // devices this sequence added and has not deleted
    bool CurrentMoved = false; // the last step changed the current device (added, deleted or selected one)
    // The properties this sequence wrote: a write refused over one must leave the value written.
    std::set<std::string, std::less<>> Written;
    bool Async = false; // asynchronous mode, as last written
    int Queued = 0;     // data messages GenerateEvent queued in asynchronous mode, not deleted since
};

void Apply(const TStep& step, TModel& model)
{
    model.CurrentMoved = false;
    if (!step.Member)
        return;
    const std::string_view name = step.Member->Name;
    if (step.Direction == TCallDirection::Write) {
        model.Written.insert(std::string(name));
        model.CurrentMoved = name == "CurrentDeviceIndex" || name == "CurrentDeviceNumber";
        if (const auto* flag = std::get_if<driver::TTraceFlag>(&step.Argument); flag && name == "AsyncMode") {
            model.Async = flag->Raw != 0;
            model.Queued = model.Async ? model.Queued : 0;
        }
    } else if (step.Direction == TCallDirection::Call) {
        if (name == "AddDevice")
            ++model.Added;
        if (name == "DeleteDevice")
            model.Added = std::max(0, model.Added - 1);
        model.CurrentMoved = name == "AddDevice" || name == "DeleteDevice";
        if (name == "GenerateEvent" && model.Async)
            ++model.Queued;
        if (name == "DeleteEvent")
            model.Queued = std::max(0, model.Queued - 1);
    }
}

bool Met(const TStep& step, const TModel& model)
{
    switch (step.Need) {
    case TNeed::AddedDevice: return model.Added > 0;
    case TNeed::WrittenValue: return model.Written.count(step.Member->Name) != 0;
    case TNeed::QueuedMessage: return model.Queued > 0;
    default: return true;
    }
}

// One of the generators, each as often as its weight says, whatever the size (RapidCheck's inRange
// keeps to the low end of its range at small sizes; elementOf does not).
rc::Gen<TStep> Weighted(std::vector<std::pair<int, rc::Gen<TStep>>> choices)
{
    std::vector<std::size_t> slots;
    for (std::size_t i = 0; i < choices.size(); ++i)
        slots.insert(slots.end(), static_cast<std::size_t>(choices[i].first), i);
    return rc::gen::mapcat(rc::gen::elementOf(std::move(slots)),
                           [choices = std::move(choices)](std::size_t i) { return choices[i].second; });
}

rc::Gen<TStep> CallOf(const char* name, TNeed need = TNeed::Nothing)
{
    return rc::gen::just(TStep{&MemberNamed(name), TCallDirection::Call, {}, 0, need});
}

// The next step, from the whole member table and, as the model says, from what its state makes
// worth trying: the device this sequence added deleted again, the current device's operations
// right after it changed, a write outside a member's domain over a value written, a queued
// message removed.
rc::Gen<TStep> Steps(const TModel& model)
{
    static const auto writable = MembersWhere(&Writable);
    static const auto callable = MembersWhere(&Callable);
    static const auto readable = MembersWhere(&Readable);
    static const std::vector<const TrutinaMemberInfo*> onDevice = [] {
        std::vector<const TrutinaMemberInfo*> members;
        for (const char* name : {"ReadWeight", "Zero", "Tare", "SetTare", "GetDeviceMetrics", "ReadValue", "WriteValue", "Reset"})
            members.push_back(&MemberNamed(name));
        return members;
    }();
    auto calls = [](const std::vector<const TrutinaMemberInfo*>& members) {
        return rc::gen::map(rc::gen::elementOf(members),
                            [](const TrutinaMemberInfo* m) { return TStep{m, TCallDirection::Call, {}, 0}; });
    };
    std::vector<std::pair<int, rc::Gen<TStep>>> choices{
        {9, rc::gen::mapcat(rc::gen::elementOf(writable),
                            [](const TrutinaMemberInfo* m) {
                                return rc::gen::map(ValuesOf(*m), [m](TCallValue v) {
                                    return TStep{m, TCallDirection::Write, std::move(v), 0};
                                });
                            })},
        {6, calls(callable)},
        {3, rc::gen::map(rc::gen::elementOf(readable),
                         [](const TrutinaMemberInfo* m) { return TStep{m, TCallDirection::Read, {}, 0}; })},
        {1, rc::gen::map(rc::gen::inRange(0, 30), [](int ms) { return TStep{nullptr, TCallDirection::Read, {}, ms}; })},
        {2, CallOf("AddDevice")},
    };
    if (model.Added > 0)
        choices.emplace_back(12, CallOf("DeleteDevice", TNeed::AddedDevice));
    if (model.CurrentMoved)
        choices.emplace_back(21, calls(onDevice));
    if (!model.Written.empty()) {
        std::vector<const TrutinaMemberInfo*> written;
        for (const std::string& name : model.Written)
            written.push_back(&MemberNamed(name));
        choices.emplace_back(2, rc::gen::mapcat(rc::gen::elementOf(written), [](const TrutinaMemberInfo* m) {
                                 return rc::gen::map(DomainOf(*m).Outside, [m](TCallValue v) {
                                     return TStep{m, TCallDirection::Write, std::move(v), 0, TNeed::WrittenValue};
                                 });
                             }));
    }
    if (model.Queued > 0)
        choices.emplace_back(2, CallOf("DeleteEvent", TNeed::QueuedMessage));
    return Weighted(std::move(choices));
}

// A write whose value the sequence reads before it, for what a refusal must leave. EventNumber
// moves as data messages come: what it held before is no measure.
bool ReadsBefore(const TStep& step)
{
    return step.Member && step.Direction == TCallDirection::Write && std::string_view(step.Member->Name) != "EventNumber";
}

// ---------------------------------------------------------------- one sequence on one object

// What the rounds share: the rules still to check, the one a failure has fixed as the target of
// shrinking, and the shortest breaking sequence found so far.
class TSequenceRun;

// How long after a call an event of the driver's own thread may still come: its slowest polling
// interval is 1 s.
constexpr int LateEventMs = 1200;

struct TRounds {
    std::set<std::string> Open;
    std::string Target;
    TFinding Last;
    std::set<std::string> Avoid;
    std::string Error; // why a new object could not be made: the rounds stop
    // The steps of the first sequence whose object raised a data event on another thread, however
    // late: event-thread is judged from them once the rounds are over.
    std::optional<std::vector<TStep>> ForeignEvent;
    // Sequences that have ended, their objects still watched for late events until their time is up.
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::unique_ptr<TSequenceRun>>> Watched;
};

class TSequenceRun {
public:
    TSequenceRun(const TTarget& target, TRounds& rounds) : FRounds(rounds)
    {
        FControl = std::make_unique<TStatera>(target.ClassId(), target.Create().Get());
        FControl->OnForeignThreadEvent = [this](TStatera*, const std::string& notice) {
            FForeignEvent = notice;
            if (!FRounds.ForeignEvent && FRounds.Open.count(rule::EventThread))
                FRounds.ForeignEvent = FSteps;
        };
        FDriver = FControl->DriverInterface();
    }

    // A data event came on another thread of the driver's, the call that started it made.
    bool ForeignEventSeen() const { return FForeignEventSeen || !FForeignEvent.empty(); }
    const std::vector<std::string>& Lines() const { return FLines; }

    void Perform(const TStep& step)
    {
        FSteps.push_back(step);
        ++FNumber;
        FLines.push_back(driver::RecordingActionLine("step" + std::to_string(FNumber), StepText(step)));
        try {
            if (!step.Member)
                PumpFor(step.WaitMs);
            else if (step.Direction == TCallDirection::Read)
                Read(*step.Member);
            else
                Change(step);
            platform::PumpApartment();
            if (!FForeignEvent.empty()) {
                // The replay expects every data event on the object's thread.
                FLines.push_back(driver::RecordingExpectLine("DataEvent", TCallDirection::Event, {},
                                                             driver::TExpectation::OwnThread));
                FForeignEvent.clear();
                FForeignEventSeen = true;
            }
        } catch (const EInterrupted& interrupted) {
            Breaks(interrupted.Rule, interrupted.Finding.Member, interrupted.Finding.Expected,
                   interrupted.Finding.Observed);
        }
    }

private:
    struct TAnswer {
        HRESULT Status = S_OK;
        TCallValue Value;
    };

    // A call where a crash or a hang has been found already: the sequences go on without it.
    bool Avoided(const TrutinaMemberInfo& m, TCallDirection direction) const
    {
        return FRounds.Avoid.count(TCalls::Name(m.Name, direction)) != 0;
    }

    // What an avoided call answers: nothing to judge by.
    static constexpr HRESULT NotMade = E_ABORT;

    TAnswer Call(const TrutinaMemberInfo& m, TCallDirection direction, const TCallValue& argument = {})
    {
        if (Avoided(m, direction))
            return TAnswer{NotMade, {}};
        FLines.push_back(driver::RecordingDriveLine(m.Name, direction, argument));
        TAnswer answer;
        try {
            answer.Status = TCalls::Make(m.Name, direction, [&] {
                return driver::CallMember(FDriver.Get(), m, direction, argument, answer.Value);
            }, direction == TCallDirection::Write ? &argument : nullptr);
        } catch (const EInterrupted& interrupted) {
            // The replay expects the call to return.
            if (interrupted.Rule == rule::Exception)
                FLines.back() = driver::RecordingExpectLine(m.Name, direction, argument, driver::TExpectation::Returned);
            throw;
        }
        return answer;
    }
    TAnswer Read(const TrutinaMemberInfo& m) { return Call(m, TCallDirection::Read); }

    // A write or a method, and the rules that follow every one.
    void Change(const TStep& step)
    {
        const TrutinaMemberInfo& m = *step.Member;
        const std::string what = StepText(step);
        const bool keeps = ReadsBefore(step);
        std::optional<TAnswer> before, codeBefore;
        if (keeps) {
            before = Read(m);
            codeBefore = Read(MemberNamed("ResultCode"));
        }
        const TAnswer count = Read(MemberNamed("DeviceCount"));
        const TAnswer done = Call(m, step.Direction, step.Argument);

        const TAnswer code = Read(MemberNamed("ResultCode"));
        const TAnswer description = Read(MemberNamed("ResultDescription"));
        if (code.Status == NotMade || description.Status == NotMade)
            return;
        if (FAILED(code.Status) || FAILED(description.Status))
            return Breaks(rule::ResultCode, what, "ResultCode and ResultDescription answered",
                          std::string(FAILED(code.Status) ? "get ResultCode" : "get ResultDescription") + " failed: "
                              + StatusWords(FAILED(code.Status) ? code.Status : description.Status));
        const std::int32_t result = *std::get_if<std::int32_t>(&code.Value);
        const std::string& text = *std::get_if<std::string>(&description.Value);
        // A method's integer result is its ResultCode when it fails (on success it may be a value,
        // as AddDevice's number): one that says otherwise leaves the other rules nothing to trust.
        if (const auto* answered = std::get_if<std::int32_t>(&done.Value);
            step.Direction == TCallDirection::Call && SUCCEEDED(done.Status) && answered && result != 0 && *answered != result) {
            FLines.end()[-2] = driver::RecordingExpectLine("ResultCode", TCallDirection::Read, {}, driver::TExpectation::Agrees);
            Breaks(rule::ResultCode, what, "an integer result equal to ResultCode " + std::to_string(result),
                   "the integer result " + std::to_string(*answered));
            return;
        }
        if (result != 0 && text.empty()) {
            FLines.back() = driver::RecordingExpectLine("ResultDescription", TCallDirection::Read, {},
                                                        driver::TExpectation::Described);
            Breaks(rule::FailureDescribed, what, "a description of ResultCode " + std::to_string(result),
                   "an empty ResultDescription");
        }

        if (keeps && result != 0 && SUCCEEDED(done.Status) && SUCCEEDED(before->Status)) {
            const TAnswer after = Read(m);
            const bool changed = SUCCEEDED(after.Status)
                                 && driver::FormatTraceValue(after.Value) != driver::FormatTraceValue(before->Value);
            // The value written taken and ResultCode as the operation before left it: a success
            // that did not set its result, or a refusal like the one before that changed the
            // value all the same. Not told apart here; a method's integer result tells the first.
            const bool asBefore = SUCCEEDED(codeBefore->Status)
                                  && driver::FormatTraceValue(codeBefore->Value) == driver::FormatTraceValue(code.Value)
                                  && driver::FormatTraceValue(after.Value) == driver::FormatTraceValue(step.Argument);
            if (changed && !asBefore) {
                // Kept relative to the read before the write: a mended driver's value may be any.
                FLines.back() = driver::RecordingExpectLine(m.Name, TCallDirection::Read, {}, driver::TExpectation::Kept);
                Breaks(rule::RefusedWriteKeepsValue, what,
                       std::string(m.Name) + " " + driver::FormatTraceValue(before->Value) + " kept (ResultCode "
                           + std::to_string(result) + ")",
                       driver::FormatTraceValue(after.Value));
            }
        }
        CheckDevices(m, step, result, SUCCEEDED(done.Status), count);
    }

    void CheckDevices(const TrutinaMemberInfo& m, const TStep& step, std::int32_t result, bool succeeded,
                      const TAnswer& countBefore)
    {
        if (FAILED(countBefore.Status))
            return;
        const std::string what = StepText(step);
        const std::string_view name = m.Name;
        const std::int32_t before = *std::get_if<std::int32_t>(&countBefore.Value);
        std::int32_t expected = before;
        if (succeeded && result == 0 && name == "AddDevice")
            expected = before + 1;
        else if (succeeded && result == 0 && name == "DeleteDevice")
            expected = before - 1;
        const TAnswer count = Read(MemberNamed("DeviceCount"));
        if (FAILED(count.Status))
            return;
        const std::int32_t now = *std::get_if<std::int32_t>(&count.Value);
        if (now != expected) {
            // Relative to the count read before the call: a mended driver's list may be any length.
            const driver::TExpectation counted = name == "AddDevice"      ? driver::TExpectation::Added
                                                 : name == "DeleteDevice" ? driver::TExpectation::Deleted
                                                                          : driver::TExpectation::Same;
            FLines.back() = driver::RecordingExpectLine("DeviceCount", TCallDirection::Read, {}, counted);
            Breaks(rule::DeviceList, what, "DeviceCount " + std::to_string(expected) + " (ResultCode " + std::to_string(result) + ")",
                   "DeviceCount " + std::to_string(now));
        }
        const TAnswer index = Read(MemberNamed("CurrentDeviceIndex"));
        if (FAILED(index.Status) || now <= 0)
            return;
        const std::int32_t current = *std::get_if<std::int32_t>(&index.Value);
        if (current < 0 || current >= now)
            Breaks(rule::DeviceList, what, "CurrentDeviceIndex from 0 to " + std::to_string(now - 1),
                   "CurrentDeviceIndex " + std::to_string(current));
        if (!succeeded || result != 0 || step.Direction != TCallDirection::Write)
            return;
        if (name == "CurrentDeviceIndex" && driver::FormatTraceValue(index.Value) != driver::FormatTraceValue(step.Argument)) {
            Expect(m, step.Argument);
            Breaks(rule::DeviceList, what, "CurrentDeviceIndex " + driver::FormatTraceValue(step.Argument) + " (ResultCode 0)",
                   "CurrentDeviceIndex " + std::to_string(current));
        }
        if (name == "CurrentDeviceNumber") {
            const TAnswer number = Read(m);
            if (SUCCEEDED(number.Status) && driver::FormatTraceValue(number.Value) != driver::FormatTraceValue(step.Argument)) {
                Expect(m, step.Argument);
                Breaks(rule::DeviceList, what, "CurrentDeviceNumber " + driver::FormatTraceValue(step.Argument) + " (ResultCode 0)",
                       "CurrentDeviceNumber " + driver::FormatTraceValue(number.Value));
            }
        }
    }

    // The read a replay compares: what the rule expects the driver to answer.
    void Expect(const TrutinaMemberInfo& m, const TCallValue& value)
    {
        driver::TDriverCall call;
        call.Member = m.Name;
        call.Direction = TCallDirection::Read;
        call.Value = value;
        FLines.push_back(driver::RecordingCallLine(call));
    }

    // A rule broken at this step: it fails the sequence when it is the one being shrunk (or the
    // first one found), and is ignored while another is.
    void Breaks(const std::string& rule, const std::string& member, const std::string& expected,
                const std::string& observed)
    {
        if (!FRounds.Open.count(rule) || (!FRounds.Target.empty() && FRounds.Target != rule))
            return;
        FRounds.Target = rule;
        FRounds.Last = TFinding{member, expected, observed, FLines};
        RC_FAIL(rule + ": " + member);
    }

    TRounds& FRounds;
    std::unique_ptr<TStatera> FControl;
    platform::ComPtr<ITrutina> FDriver;
    std::vector<std::string> FLines;
    std::vector<TStep> FSteps;
    std::string FForeignEvent;
    bool FForeignEventSeen = false;
    int FNumber = 0;
};

// Pumps the apartment (the watched objects' late events come) and lets go of the objects whose
// time is up; all of them with all.
void Watch(TRounds& rounds, bool all)
{
    if (all && !rounds.Watched.empty())
        PumpFor(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     rounds.Watched.back().first - std::chrono::steady_clock::now())
                                     .count()));
    platform::PumpApartment();
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(rounds.Watched, [&](const auto& watched) { return all || watched.first <= now; });
}

// The call whose thread raised a data event in this sequence: the shortest beginning of it after
// which one comes (each tried on a new object, watched for the slowest polling interval), then its
// last step alone when that is enough. The finding names that call.
TFinding ForeignEventFinding(const TTarget& target, const std::vector<TStep>& steps, const std::set<std::string>& avoid)
{
    TRounds quiet; // no rule open: nothing is judged while trying
    quiet.Avoid = avoid;
    auto tryOut = [&](const std::vector<TStep>& tried, TFinding* finding) {
        TSequenceRun run(target, quiet);
        for (const TStep& step : tried)
            run.Perform(step);
        run.Perform(TStep{nullptr, TCallDirection::Read, {}, LateEventMs});
        if (finding && run.ForeignEventSeen())
            finding->Recording = run.Lines();
        return run.ForeignEventSeen();
    };
    std::size_t low = 1, high = steps.size();
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (tryOut({steps.begin(), steps.begin() + middle}, nullptr))
            high = middle;
        else
            low = middle + 1;
    }
    const TStep& starter = steps[high - 1];
    TFinding finding{StepText(starter), "data events on the object's thread",
                     "a data event on a thread of the driver's own", {}};
    if (!tryOut({starter}, &finding))
        tryOut({steps.begin(), steps.begin() + high}, &finding);
    return finding;
}

// A step as a command of RapidCheck's state machine, over the object (TSequenceRun) or over a
// list of calls to be played elsewhere (TCollected).
template <typename TSut>
struct TStepCommand final : rc::state::Command<TModel, TSut> {
    TStep Step;
    explicit TStepCommand(TStep step) : Step(std::move(step)) {}
    void checkPreconditions(const TModel& model) const override
    {
        // Decided first: RapidCheck's captured expression does not stop at the first true operand.
        const bool avoided = Step.Member && model.Avoid->count(TCalls::Name(Step.Member->Name, Step.Direction));
        const bool met = Met(Step, model);
        RC_PRE(!avoided && met);
    }
    void apply(TModel& model) const override { Apply(Step, model); }
    void run(const TModel&, TSut& sut) const override { sut.Perform(Step); }
    void show(std::ostream& os) const override { os << StepText(Step); }
};

template <typename TSut>
rc::Gen<std::shared_ptr<const rc::state::Command<TModel, TSut>>> Commands(const TModel& model)
{
    using TCommand = rc::state::Command<TModel, TSut>;
    return rc::gen::map(Steps(model), [](TStep step) {
        return std::shared_ptr<const TCommand>(std::make_shared<TStepCommand<TSut>>(std::move(step)));
    });
}

// The calls of a sequence as recording lines: each step an action, the read before a write, and its call.
struct TCollected {
    const std::set<std::string>& Avoid;
    std::vector<std::string> Lines;
    int Number = 0;
    void Perform(const TStep& step)
    {
        if (!step.Member)
            return;
        Lines.push_back(driver::RecordingActionLine("step" + std::to_string(++Number), StepText(step)));
        // The read before a write as the sequences make it, so that a crash or a hang there is played too.
        if (ReadsBefore(step) && !Avoid.count(TCalls::Name(step.Member->Name, TCallDirection::Read)))
            Lines.push_back(driver::RecordingDriveLine(step.Member->Name, TCallDirection::Read, {}));
        Lines.push_back(driver::RecordingDriveLine(step.Member->Name, step.Direction, step.Argument));
    }
};

// RapidCheck's parameters from the options: rc::check reads them from RC_PARAMS, once a process.
void Configure(const TSequenceOptions& options)
{
    static std::string configured;
    const std::string params = "seed=" + std::to_string(options.Seed) + " max_success=" + std::to_string(options.Sequences)
                               + " max_size=" + std::to_string(options.MaxLength)
                               + " max_discard_ratio=10 verbose_progress=0 verbose_shrinking=0";
    if (!configured.empty() && configured != params)
        throw std::logic_error("RapidCheck was configured with " + configured + " already, not " + params);
    configured = params;
    platform::SetProcessVariable("RC_PARAMS", params);
}

// Runs the property with our own parameters; nothing is printed (the seed repeats a run).
void CheckProperty(const std::function<void()>& property, const TSequenceOptions& options)
{
    Configure(options);
    // rc::check names its configuration and its verdict on standard error: the run's own report
    // says what was found, and the run's seed is ours (--seed).
    struct TSilence {
        std::streambuf* const Error = std::cerr.rdbuf(nullptr);
        ~TSilence()
        {
            std::cerr.rdbuf(Error);
            std::cerr.clear();
        }
    } silence;
    // A word after each sequence of the search; the tries of shrinking after the first failure are not counted.
    int done = 0;
    bool failed = false;
    rc::check([&] {
        try {
            property();
        } catch (...) {
            failed = true;
            throw;
        }
        if (!failed && options.OnSequence)
            options.OnSequence(++done);
    });
}

} // namespace

std::string RecordingHeaderOf(const TTarget& target)
{
    driver::TRecordingHeader header;
    header.ClassId = target.ClassIdText();
    header.Module = target.ModulePath();
    return driver::RecordingHeaderLine(header);
}

TSequenceReport CheckSequences(const TTarget& target, const TSequenceOptions& options)
{
    TSequenceReport report;
    TRounds rounds;
    rounds.Open = options.Rules;
    rounds.Avoid = options.Avoid;
    std::map<std::string, TFinding> broken;
    const std::uint64_t callsBefore = TCalls::Count();
    const auto start = std::chrono::steady_clock::now();

    const auto property = [&] {
        Watch(rounds, false);
        std::unique_ptr<TSequenceRun> run;
        try {
            run = std::make_unique<TSequenceRun>(target, rounds);
        } catch (const EInterrupted& e) {
            rounds.Error = e.Finding.Member + ": " + e.Finding.Observed;
        } catch (const std::exception& e) {
            rounds.Error = e.what();
        }
        if (!rounds.Error.empty())
            return; // nothing more can be learnt here
        // The object is watched for late events after the sequence, however it ended.
        struct TWatchAfter {
            TRounds& Rounds;
            std::unique_ptr<TSequenceRun>& Run;
            ~TWatchAfter()
            {
                Rounds.Watched.emplace_back(std::chrono::steady_clock::now() + std::chrono::milliseconds(LateEventMs),
                                            std::move(Run));
            }
        } watchAfter{rounds, run};
        rc::state::check(TModel(rounds.Avoid), *run, &Commands<TSequenceRun>);
    };
    // Each round shrinks the first rule it finds broken, then goes on without it.
    while (!rounds.Open.empty()) {
        rounds.Target.clear();
        CheckProperty(property, options);
        Watch(rounds, true);
        if (rounds.Target.empty() || !rounds.Error.empty())
            break;
        broken[rounds.Target] = rounds.Last;
        rounds.Open.erase(rounds.Target);
    }
    if (rounds.ForeignEvent && rounds.Error.empty()) {
        try {
            broken[rule::EventThread] = ForeignEventFinding(target, *rounds.ForeignEvent, rounds.Avoid);
        } catch (const std::exception& e) {
            broken[rule::EventThread] = TFinding{"a sequence", "data events on the object's thread",
                                              std::string("a data event on a thread of the driver's own (") + e.what() + ")", {}};
        }
    }
    for (const std::string& rule : options.Rules) {
        TRuleResult r;
        r.Rule = rule;
        if (const auto found = broken.find(rule); found != broken.end()) {
            r.Verdict = TVerdict::Fail;
            r.Finding = found->second;
        } else if (!rounds.Error.empty()) {
            r.Verdict = TVerdict::Skip;
            r.Reason = "no new object of the class: " + rounds.Error;
        }
        report.Results.push_back(std::move(r));
    }
    report.Calls = TCalls::Count() - callsBefore;
    report.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
}

} // namespace check

namespace check {

std::vector<std::string> ShortestSequence(const TSequenceOptions& options,
                                          const std::function<bool(std::vector<std::string>& lines)>& breaks)
{
    std::vector<std::string> shortest;
    const auto property = [&] {
        TCollected collected{options.Avoid, {}, 0};
        rc::state::check(TModel(options.Avoid), collected, &Commands<TCollected>);
        if (breaks(collected.Lines)) {
            shortest = collected.Lines; // RapidCheck's last failing candidate is its shortest
            RC_FAIL("breaks");
        }
    };
    CheckProperty(property, options);
    return shortest;
}

} // namespace check
