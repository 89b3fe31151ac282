#include "tools/check/GroupProcess.h"

#include "driver/DriverChild.h"
#include "driver/MemberCalls.h"
#include "driver/Recording.h"
#include "driver/Statera.h"
#include "platform/apartment.h"
#include "tools/check/Check.h"
#include "tools/check/Groups.h"
#include "tools/check/Sequences.h"

#include <map>
#include <ostream>
#include <set>
#include <sstream>

namespace check {

namespace {

const char* GroupName(TGroup group)
{
    switch (group) {
    case TGroup::Com: return "com";
    case TGroup::Dispatch: return "dispatch";
    default: return "sequences";
    }
}

// ---------------------------------------------------------------- the lines between the two
// Fields are separated by tabs; a tab, a line end or a backslash inside one is escaped.
std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t')
            fields.emplace_back();
        else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else
            fields.back() += c;
    }
    return fields;
}

std::string Line(std::initializer_list<std::string> fields)
{
    std::string line;
    for (const std::string& field : fields)
        line += (line.empty() ? "" : "\t") + Escaped(field);
    return line;
}

void Tell(driver::TDriverChild& child, const TRuleResult& r)
{
    const char* const verdicts[] = {"pass", "fail", "skip", "warn"};
    const char* verdict = verdicts[static_cast<int>(r.Verdict)];
    child.WriteLine(Line({"result", r.Rule, verdict, r.Finding.Member, r.Finding.Expected, r.Finding.Observed, r.Reason}));
    for (const std::string& recorded : r.Finding.Recording)
        child.WriteLine(Line({"line", r.Rule, recorded}));
}

// "put UnitPrice" of "put UnitPrice \"12.3400\"": the call without its argument.
std::string CallOf(const std::string& call)
{
    const auto space = call.find(' ');
    return space == std::string::npos ? call : call.substr(0, call.find(' ', space + 1));
}

std::string Joined(const std::set<std::string>& calls)
{
    std::string text;
    for (const std::string& call : calls)
        text += (text.empty() ? "" : ";") + call;
    return text;
}

std::set<std::string> Split(const std::string& text)
{
    std::set<std::string> calls;
    std::stringstream list(text);
    for (std::string call; std::getline(list, call, ';');)
        if (!call.empty())
            calls.insert(call);
    return calls;
}

std::vector<std::string> ChildArguments(const TChildSettings& settings, std::vector<std::string> first)
{
    first.insert(first.end(), settings.TargetArguments.begin(), settings.TargetArguments.end());
    for (std::string option : {"--seed", "--sequences", "--call-limit"}) {
        first.push_back(option);
        first.push_back(option == "--seed"        ? std::to_string(settings.Seed)
                        : option == "--sequences" ? std::to_string(settings.Sequences)
                                                  : std::to_string(settings.CallLimit.count()));
    }
    return first;
}

// ---------------------------------------------------------------- the child

int GroupChild(const std::string& name, const std::string& resumeAfter, const std::set<std::string>& avoid,
               const TOptions& options, driver::TDriverChild& child)
{
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        std::unique_ptr<TTarget> target;
        try {
            target = std::make_unique<TTarget>(TTargetOptions{options.Module, options.Class, options.ComOnly});
        } catch (const std::exception& e) {
            child.WriteLine(Line({"nothing", e.what()}));
            target.reset();
        }
        if (target) {
            child.WriteLine(Line({"header", RecordingHeaderOf(*target)}));
            const std::uint64_t before = TCalls::Count();
            if (name == "sequences") {
                TSequenceOptions sequences;
                sequences.Seed = options.Seed.value_or(0);
                sequences.Sequences = options.Sequences;
                sequences.Avoid = avoid;
                sequences.OnSequence = [&](int done) {
                    child.WriteLine(Line({"progress", std::to_string(done), std::to_string(TCalls::Count() - before)}));
                };
                const TSequenceReport report = CheckSequenceRules(*target, sequences);
                for (const TRuleResult& r : report.Results)
                    Tell(child, r);
                child.WriteLine(Line({"sequences", std::to_string(report.Calls), std::to_string(report.Seconds)}));
            } else {
                const TGroup group = name == "com" ? TGroup::Com : TGroup::Dispatch;
                bool resumed = resumeAfter.empty();
                std::vector<TRuleResult> interruptions;
                for (const TRule* rule : RulesOf(group, target->Trutina())) {
                    if (!resumed) {
                        resumed = resumeAfter == rule->Id;
                        continue;
                    }
                    child.WriteLine(Line({"begin", rule->Id}));
                    child.WriteLine(Line({"progress", "0", std::to_string(TCalls::Count() - before)}));
                    Tell(child, CheckStaticRule(*target, *rule, interruptions));
                }
                for (const char* every : {rule::Exception, rule::Hang}) {
                    bool broken = false;
                    for (const TRuleResult& r : interruptions)
                        broken = broken || r.Rule == every;
                    if (!broken)
                        interruptions.push_back(TRuleResult{every, TVerdict::Pass, {}, {}});
                }
                for (const TRuleResult& r : interruptions)
                    Tell(child, r);
            }
            child.WriteLine(Line({"calls", std::to_string(TCalls::Count() - before)}));
            // What the driver has posted runs before its module goes.
            platform::PumpApartment();
        }
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return child.Finish(0);
}

// Performs the calls of the recording on standard input, on a new object.
int PlayChild(const TOptions& options, driver::TDriverChild& child, std::ostream& err)
{
    std::string text, why;
    if (!driver::TDriverChild::ReadInput(text, driver::MaxRecordingBytes, why)) {
        err << "ponderix-check: " << why << "\n";
        return child.Finish(2);
    }
    const driver::TRecording recording = driver::ParseRecording(text);
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        TTarget target(TTargetOptions{options.Module, options.Class, options.ComOnly});
        TStatera control(target.ClassId(), target.Create().Get());
        platform::ComPtr<ITrutina> trutina = control.DriverInterface();
        for (const driver::TRecordedStep& step : recording.Steps) {
            if (step.Kind != driver::TStepKind::Call)
                continue;
            // The parent cuts the recording after the call that crashed or hung.
            child.WriteLine(Line({"at", std::to_string(step.Line)}));
            driver::TCallValue answer;
            try {
                TCalls::Make(step.Member->Name, step.Direction, [&] {
                    return driver::CallMember(trutina.Get(), *step.Member, step.Direction, step.Value, answer);
                }, step.Direction == driver::TCallDirection::Write ? &step.Value : nullptr);
            } catch (const EInterrupted&) {
                // An exception or a slow call is not what a play looks for.
            }
            platform::PumpApartment();
        }
        control.OnDataEvent = nullptr;
        platform::PumpApartment();
    } catch (const std::exception& e) {
        err << "ponderix-check: " << e.what() << "\n";
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return child.Finish(0);
}

// ---------------------------------------------------------------- the parent

// The end of a child as a finding of crash or hang.
// An object checked with --com-only (a system's object as well as a driver) ended the child: its
// end is the object's, not "the driver's".
void SayTheObject(std::string& words)
{
    const std::string driver = "the driver ";
    if (words.rfind(driver, 0) == 0)
        words.replace(0, driver.size(), "the object ");
}

TRuleResult EndFinding(const driver::TChildEnd& end, std::chrono::milliseconds limit)
{
    const bool hung = end.Kind == driver::TChildEndKind::Hung;
    TFinding finding;
    finding.Member = end.Call.empty() ? "outside any driver call" : end.Call;
    finding.Expected = hung ? "a return within " + std::to_string(limit.count()) + " ms" : "the call to return";
    finding.Observed = end.Words;
    return TRuleResult{hung ? rule::Hang : rule::Crash, TVerdict::Fail, std::move(finding), {}};
}

} // namespace

TGroupOutcome RunGroupInChildren(TGroup group, const TChildSettings& settings, const TGroupProgress& progress)
{
    TGroupOutcome outcome;
    std::string resumeAfter;
    std::set<std::string> avoid;
    bool interfaceRules = true;
    for (const std::string& argument : settings.TargetArguments)
        interfaceRules = interfaceRules && argument != "--com-only";
    std::set<std::string> reported;
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::vector<std::string> first{"group", GroupName(group)};
        if (!resumeAfter.empty())
            first.insert(first.end(), {"--resume-after", resumeAfter});
        if (!avoid.empty())
            first.insert(first.end(), {"--avoid", Joined(avoid)});
        driver::TDriverChildRun run;
        run.Arguments = ChildArguments(settings, first);
        run.CallLimit = settings.CallLimit;
        std::string inProgress;
        run.OnLine = [&](const std::string& line) {
            const std::vector<std::string> f = Fields(line);
            if (f[0] == "nothing" && f.size() > 1)
                outcome.NothingChecked = f[1];
            else if (f[0] == "header" && f.size() > 1)
                outcome.Header = f[1];
            else if (f[0] == "begin" && f.size() > 1)
                inProgress = f[1];
            else if (f[0] == "result" && f.size() >= 7) {
                const TVerdict verdict = f[2] == "pass"   ? TVerdict::Pass
                                         : f[2] == "fail" ? TVerdict::Fail
                                         : f[2] == "warn" ? TVerdict::Warn
                                                          : TVerdict::Skip;
                outcome.Results.push_back(TRuleResult{f[1], verdict, TFinding{f[3], f[4], f[5], {}}, f[6]});
                reported.insert(f[1]);
                inProgress.clear();
            } else if (f[0] == "line" && f.size() > 2 && !outcome.Results.empty())
                outcome.Results.back().Finding.Recording.push_back(f[2]);
            else if (f[0] == "progress" && f.size() > 2 && progress)
                progress(inProgress, std::stoi(f[1]), outcome.Calls + std::stoull(f[2]));
            else if (f[0] == "calls" && f.size() > 1)
                outcome.Calls += std::stoull(f[1]);
            else if (f[0] == "sequences" && f.size() > 2) {
                outcome.SequenceCalls += std::stoull(f[1]);
                outcome.SequenceSeconds += std::stod(f[2]);
            }
        };
        driver::TChildEnd end = driver::RunDriverChild(run);
        if (!interfaceRules)
            SayTheObject(end.Words);
        if (!outcome.NothingChecked.empty())
            return outcome;
        if (end.Kind == driver::TChildEndKind::Completed) {
            outcome.Results.push_back(TRuleResult{rule::Crash, TVerdict::Pass, {}, {}});
            break;
        }
        if (end.Kind == driver::TChildEndKind::NotStarted) {
            outcome.NothingChecked = "cannot run a child of ponderix-check: " + end.Words;
            return outcome;
        }
        TRuleResult found = EndFinding(end, settings.CallLimit);
        const std::string call = CallOf(end.Call);
        // A call the sequences no longer make as a step, made by a rule's own check (a read of
        // ResultCode after each write): every sequence would end there, so the group ends.
        if (group == TGroup::Sequences && !call.empty() && !avoid.count(call)) {
            // Its shortest sequence: each candidate played by a child of its own, until the budget is spent.
            TSequenceOptions options;
            options.Seed = settings.Seed;
            options.Sequences = settings.Sequences;
            options.Avoid = avoid;
            const auto deadline = std::chrono::steady_clock::now() + settings.ShrinkBudget;
            const driver::TChildEndKind kind = end.Kind;
            found.Finding.Recording = ShortestSequence(options, [&](std::vector<std::string>& lines) {
                if (std::chrono::steady_clock::now() > deadline)
                    return false;
                driver::TDriverChildRun play;
                play.Arguments = ChildArguments(settings, {"play"});
                play.CallLimit = settings.CallLimit;
                play.Input = outcome.Header + "\n";
                for (const std::string& line : lines)
                    play.Input += line + "\n";
                std::size_t at = 0; // the line of the call being made (the header is line 1)
                play.OnLine = [&](const std::string& line) {
                    if (const std::vector<std::string> f = Fields(line); f.size() == 2 && f[0] == "at")
                        at = std::stoul(f[1]);
                };
                const driver::TChildEnd played = driver::RunDriverChild(play);
                const bool sameKind = (played.Kind == driver::TChildEndKind::Hung) == (kind == driver::TChildEndKind::Hung);
                const bool same = played.Kind != driver::TChildEndKind::Completed
                                  && played.Kind != driver::TChildEndKind::NotStarted && sameKind
                                  && CallOf(played.Call) == call;
                if (same && at >= 2 && at - 1 <= lines.size())
                    lines.resize(at - 1); // it ends with the call that crashed or hung
                return same;
            });
            outcome.Results.push_back(std::move(found));
            avoid.insert(call); // the other rules are still checked, without that call
            continue;
        }
        outcome.Results.push_back(std::move(found));
        if (group == TGroup::Sequences || inProgress.empty())
            break;
        outcome.Results.push_back(TRuleResult{inProgress, TVerdict::Skip, {}, "not finished: " + end.Words});
        reported.insert(inProgress);
        resumeAfter = inProgress;
    }
    for (const TRule* rule : RulesOf(group, interfaceRules))
        if (!reported.count(rule->Id))
            outcome.Results.push_back(TRuleResult{rule->Id, TVerdict::Skip, {}, "not finished: the driver's process ended"});
    return outcome;
}

int RunChild(const std::vector<std::string>& args, std::ostream& err)
{
    std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    const std::string mode = args.empty() ? "" : args[0];
    std::string group, resumeAfter;
    std::set<std::string> avoid;
    if (mode == "group" && !rest.empty()) {
        group = rest[0];
        rest.erase(rest.begin());
    }
    while (rest.size() >= 2 && (rest[0] == "--resume-after" || rest[0] == "--avoid")) {
        (rest[0] == "--avoid" ? void(avoid = Split(rest[1])) : void(resumeAfter = rest[1]));
        rest.erase(rest.begin(), rest.begin() + 2);
    }
    TOptions options;
    try {
        options = ParseArguments(rest);
    } catch (const std::exception& e) {
        err << "ponderix-check: " << e.what() << "\n";
        return kExitNothingChecked;
    }
    TCalls::SetLimit(options.CallLimit);
    driver::TDriverChild child(options.CallLimit);
    if (mode == "play")
        return PlayChild(options, child, err);
    if (group != "com" && group != "dispatch" && group != "sequences") {
        err << "ponderix-check: no such group of rules \"" << group << "\"\n";
        return child.Finish(kExitNothingChecked);
    }
    return GroupChild(group, resumeAfter, avoid, options, child);
}

} // namespace check
