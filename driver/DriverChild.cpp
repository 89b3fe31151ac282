#include "driver/DriverChild.h"

#include "driver/Recording.h"
#include "platform/childprocess.h"

#include <cstdlib>

namespace driver {
namespace {

using Clock = std::chrono::steady_clock;

// The child's exit code when its parent has gone.
constexpr int kParentGone = 125;

// A write's argument is announced as the crash words keep it: a longer text is left out.
constexpr std::size_t MaxAnnouncedText = 400;

void AnnounceCall(const char* member, TCallDirection direction) noexcept
{
    try {
        platform::WriteToParent(member ? std::string("@call ") + TraceDirectionWord(direction) + " " + member + "\n"
                                       : std::string("@call\n"));
    } catch (...) {
        // The call goes on unannounced.
    }
}

void AnnounceArgument(const TCallValue& argument) noexcept
{
    try {
        if (const auto* text = std::get_if<std::string>(&argument); text && text->size() > MaxAnnouncedText)
            return;
        platform::WriteToParent("@arg " + RecordingValueText(argument) + "\n");
    } catch (...) {
        // The call is still named, without its argument.
    }
}

const TCallAnnouncer Announcer{&AnnounceCall, &AnnounceArgument};

bool StartsWith(const std::string& line, std::string_view prefix) { return line.rfind(prefix, 0) == 0; }

} // namespace

// ---------------------------------------------------------------- the child

TDriverChild::TDriverChild(std::chrono::milliseconds callLimit)
{
    platform::TakeStandardOutputForParent();
    InstallDriverCrashReport();
    SetCallAnnouncer(&Announcer);
    if (callLimit.count() > 0)
        FWatchdog = std::make_unique<TCallWatchdog>(callLimit, [](const std::string& line) {
            // Only the report of a call still running: the parent ends the child on it.
            TCallState call;
            if (CurrentCall(call) && call.Overdue)
                platform::WriteToParent("@overdue " + line + "\n");
        });
}

TDriverChild::~TDriverChild()
{
    FWatchdog.reset();
    SetCallAnnouncer(nullptr);
}

bool TDriverChild::ReadInput(std::string& text, std::size_t maxBytes, std::string& why)
{
    return platform::ReadStandardInput(text, maxBytes, why);
}

void TDriverChild::WriteLine(std::string_view line)
{
    std::string text;
    text.reserve(line.size() + 2);
    if (!line.empty() && line[0] == '@')
        text += '@';
    for (char c : line)
        text += c == '\n' || c == '\r' ? ' ' : c;
    text += '\n';
    if (!platform::WriteToParent(text))
        std::_Exit(kParentGone); // nobody is left to tell what the work finds
}

int TDriverChild::Finish(int exitCode)
{
    platform::WriteToParent("@done " + std::to_string(exitCode) + "\n");
    return exitCode;
}

// ---------------------------------------------------------------- the parent

TChildEnd RunDriverChild(const TDriverChildRun& run)
{
    TChildEnd end;
    const std::string program = run.Program.empty() ? platform::OwnProgramPath() : run.Program;
    std::vector<std::string> arguments{DriverChildArgument};
    arguments.insert(arguments.end(), run.Arguments.begin(), run.Arguments.end());
    std::string why;
    const auto child = platform::ChildProcess::Start(program, arguments, run.Input, why);
    if (!child) {
        end.Words = why;
        return end;
    }

    // A child whose watchdog cannot report (the driver stopped the whole process) is given up
    // once a call has gone twice the limit, and two seconds more, without a word from it.
    const std::chrono::milliseconds silence = run.CallLimit * 2 + std::chrono::seconds(2);
    std::string call, argument;
    bool done = false, hung = false;
    int doneCode = 0;
    Clock::time_point lastWord = Clock::now();
    for (std::string line;;) {
        int timeout = -1;
        if (run.CallLimit.count() > 0 && !call.empty())
            timeout = static_cast<int>(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(lastWord + silence - Clock::now()).count()));
        const auto outcome = child->ReadLine(line, timeout);
        if (outcome == platform::ChildProcess::ReadOutcome::Ended)
            break;
        if (outcome == platform::ChildProcess::ReadOutcome::TimedOut) {
            if (!call.empty() && Clock::now() - lastWord >= silence) {
                hung = true;
                break;
            }
            continue;
        }
        lastWord = Clock::now();
        if (StartsWith(line, "@@")) {
            if (run.OnLine)
                run.OnLine(line.substr(1));
        } else if (StartsWith(line, "@call")) {
            call = line.size() > 6 ? line.substr(6) : std::string();
            argument.clear();
        } else if (StartsWith(line, "@arg ")) {
            argument = line.substr(5);
        } else if (StartsWith(line, "@overdue ")) {
            if (run.OnOverdue)
                run.OnOverdue(line.substr(9));
            hung = true;
            break;
        } else if (StartsWith(line, "@done ")) {
            done = true;
            doneCode = std::atoi(line.c_str() + 6);
        } else if (!StartsWith(line, "@") && run.OnLine) {
            run.OnLine(line);
        }
    }
    // Its output closed inside a call (the driver closed it): the call is still timed.
    if (!hung && run.CallLimit.count() > 0 && !call.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(lastWord + silence - Clock::now());
        hung = !child->WaitFor(static_cast<int>(std::max<long long>(0, left.count())));
    }
    if (hung)
        child->Kill();
    const platform::ProcessEnd ended = child->Wait();
    end.ErrorOutput = child->ErrorOutput();
    end.Call = call.empty() || argument.empty() ? call : call + " " + argument;
    end.ExitCode = ended.Faulted ? 0 : ended.Code;
    if (hung) {
        end.Kind = TChildEndKind::Hung;
        end.Words = (end.Call.empty() ? std::string("a driver call") : end.Call) + " did not return within "
                    + FormatSeconds(run.CallLimit) + "; the process was ended";
    } else if (ended.Faulted) {
        end.Kind = TChildEndKind::Crashed;
        end.Words = end.Call.empty() ? "the process crashed outside any driver call: " + ended.Words
                                     : "the driver crashed in " + end.Call + ": " + ended.Words;
    } else if (done && end.Call.empty() && ended.Code == doneCode) {
        end.Kind = TChildEndKind::Completed;
    } else {
        end.Kind = TChildEndKind::Exited;
        end.Words = !end.Call.empty() ? "the driver ended the process in " + end.Call + ": " + ended.Words
                    : done            ? "the process ended outside any driver call: " + ended.Words
                                      : "the process ended outside any driver call before its work was done: "
                                            + ended.Words;
    }
    return end;
}

} // namespace driver
