#include "driver/DriverChild.h"

#include "driver/Recording.h"
#include "platform/childprocess.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace driver {
namespace {

using Clock = std::chrono::steady_clock;

// The child's exit code when its parent has gone.
constexpr int kParentGone = 125;

// A write's argument is announced as the crash words keep it: a longer text is left out.
constexpr std::size_t MaxAnnouncedText = 400;

// What the child keeps in the block it shares with its parent. Changes is odd while the call is
// being written, so that a parent that looks meanwhile can tell.
struct TSharedState {
    std::atomic<std::uint64_t> Changes;
    std::atomic<std::uint64_t> Mark;
    char Call[256];      // "call ReadWeight", "put UnitPrice", "loading the module"; empty: none
    char Argument[1024]; // a write's argument as a recording holds it; empty: none or too long
};
static_assert(sizeof(TSharedState) <= platform::ChildProcess::SharedBytes);
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

TSharedState* GShared = nullptr; // the child's block, when it has one

void Copy(char* to, std::size_t size, std::string_view text)
{
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

void AnnounceCall(const char* member, TCallDirection direction) noexcept
{
    if (TSharedState* s = GShared) {
        s->Changes.fetch_add(1, std::memory_order_acq_rel);
        if (member) { // as TraceCallName, without its allocation
            const char* word = TraceDirectionWord(direction);
            std::snprintf(s->Call, sizeof s->Call, "%s%s%s", word, *word ? " " : "", member);
        } else {
            s->Call[0] = '\0';
        }
        s->Argument[0] = '\0';
        s->Changes.fetch_add(1, std::memory_order_release);
        return;
    }
    try {
        platform::WriteToParent(member ? "@call " + TraceCallName(direction, member) + "\n"
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
        const std::string value = RecordingValueText(argument);
        if (TSharedState* s = GShared) {
            s->Changes.fetch_add(1, std::memory_order_acq_rel);
            Copy(s->Argument, sizeof s->Argument, value);
            s->Changes.fetch_add(1, std::memory_order_release);
        } else {
            platform::WriteToParent("@arg " + value + "\n");
        }
    } catch (...) {
        // The call is still named, without its argument.
    }
}

const TCallAnnouncer Announcer{&AnnounceCall, &AnnounceArgument};

// The parent's reading of the block: the call in progress with its argument, and the count of its
// changes (odd: caught while it was being written; read again).
struct TSharedReading {
    std::uint64_t Changes = 0;
    std::string Call, Argument;
};
TSharedReading Read(const TSharedState& s)
{
    TSharedReading r;
    for (int attempt = 0; attempt < 100; ++attempt) {
        r.Changes = s.Changes.load(std::memory_order_acquire);
        r.Call.assign(s.Call, strnlen(s.Call, sizeof s.Call));
        r.Argument.assign(s.Argument, strnlen(s.Argument, sizeof s.Argument));
        std::atomic_thread_fence(std::memory_order_acquire);
        if (r.Changes % 2 == 0 && s.Changes.load(std::memory_order_relaxed) == r.Changes)
            break;
    }
    return r;
}

bool StartsWith(const std::string& line, std::string_view prefix) { return line.rfind(prefix, 0) == 0; }

} // namespace

// ---------------------------------------------------------------- the child

TDriverChild::TDriverChild(std::chrono::milliseconds callLimit)
{
    GShared = static_cast<TSharedState*>(platform::SharedWithParent());
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

namespace {
void AppendLine(std::string& text, std::string_view line)
{
    if (!line.empty() && line[0] == '@')
        text += '@';
    for (char c : line)
        text += c == '\n' || c == '\r' ? ' ' : c;
    text += '\n';
}
void Write(const std::string& text)
{
    if (!platform::WriteToParent(text))
        std::_Exit(kParentGone); // nobody is left to tell what the work finds
}
} // namespace

void TDriverChild::WriteLine(std::string_view line)
{
    std::string text;
    text.reserve(line.size() + 2);
    AppendLine(text, line);
    Write(text);
}

void TDriverChild::WriteLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        AppendLine(text, line);
        if (text.size() >= (1u << 20)) {
            Write(text);
            text.clear();
        }
    }
    if (!text.empty())
        Write(text);
}

void TDriverChild::Mark(std::uint64_t mark) noexcept
{
    if (GShared)
        GShared->Mark.store(mark, std::memory_order_release);
    else
        platform::WriteToParent("@mark " + std::to_string(mark) + "\n");
}

int TDriverChild::Finish(int exitCode)
{
    platform::WriteToParent("@done " + std::to_string(exitCode) + "\n");
    return exitCode;
}

// ---------------------------------------------------------------- the parent

TChildEnd RunDriverChild(TDriverChildRun run)
{
    TChildEnd end;
    const std::string program = run.Program.empty() ? platform::OwnProgramPath() : run.Program;
    std::vector<std::string> arguments{DriverChildArgument};
    arguments.insert(arguments.end(), run.Arguments.begin(), run.Arguments.end());
    std::string why;
    const auto child = platform::ChildProcess::Start(program, arguments, std::move(run.Input), why);
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
    // The call in progress as the shared block holds it: a change there is a word of the child.
    const auto* shared = static_cast<const TSharedState*>(child->Shared());
    std::uint64_t changes = 0;
    auto look = [&] {
        if (!shared)
            return;
        TSharedReading now = Read(*shared);
        if (now.Changes != changes)
            lastWord = Clock::now();
        changes = now.Changes;
        call = std::move(now.Call);
        argument = std::move(now.Argument);
    };
    for (std::string line;;) {
        int timeout = -1;
        if (run.CallLimit.count() > 0 && shared)
            timeout = 100; // the block is looked at now and then
        else if (run.CallLimit.count() > 0 && !call.empty())
            timeout = static_cast<int>(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(lastWord + silence - Clock::now()).count()));
        const auto outcome = child->ReadLine(line, timeout);
        if (outcome == platform::ChildProcess::ReadOutcome::Ended)
            break;
        if (outcome == platform::ChildProcess::ReadOutcome::TimedOut) {
            look();
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
                run.OnOverdue(line.substr(9), shared ? shared->Mark.load(std::memory_order_acquire) : end.Mark);
            hung = true;
            break;
        } else if (StartsWith(line, "@mark ")) {
            end.Mark = std::strtoull(line.c_str() + 6, nullptr, 10);
        } else if (StartsWith(line, "@done ")) {
            done = true;
            doneCode = std::atoi(line.c_str() + 6);
        } else if (!StartsWith(line, "@") && run.OnLine) {
            run.OnLine(line);
        }
    }
    look();
    // Its output closed inside a call (the driver closed it): the call is still timed.
    if (!hung && run.CallLimit.count() > 0 && !call.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(lastWord + silence - Clock::now());
        hung = !child->WaitFor(static_cast<int>(std::max<long long>(0, left.count())));
    }
    if (hung)
        child->Kill();
    const platform::ProcessEnd ended = child->Wait();
    look(); // as it was when the child ended
    if (shared)
        end.Mark = shared->Mark.load(std::memory_order_acquire);
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
