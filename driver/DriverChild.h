// Surviving a driver: a tool (ponderix-replay, ponderix-check) does its driver work in a child
// process of its own program, so that a driver that crashes, hangs, throws or ends the process
// takes only the child with it, and the tool names the call it happened in. No Qt.
//
// The tool's main, run again as the child with DriverChildArgument first:
//
//   int main(int argc, char** argv)
//   {
//       std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
//       args.erase(args.begin());
//       if (!args.empty() && args[0] == driver::DriverChildArgument) {
//           driver::TDriverChild child(driver::CallLimitFromEnvironment());
//           ... create the driver, call it (every call inside a driver::TCallInProgress),
//           ... child.WriteLine("what the parent needs to know"), as the work goes on
//           return child.Finish(0);
//       }
//       driver::TDriverChildRun run;
//       run.Arguments = {...};                 // what the child needs (after DriverChildArgument)
//       run.OnLine = [](const std::string& line) { ... };
//       const driver::TChildEnd end = driver::RunDriverChild(run);
//       if (end.Kind != driver::TChildEndKind::Completed) std::cerr << end.Words << "\n";
//   }
//
// Between the two, the child's standard output carries the tool's lines and the mechanism's own
// (those start with '@': the watchdog's report, the end of the work). The call in progress, with
// a write's argument, and the tool's mark are kept in a block of memory the two share, at no cost
// of a system call per driver call (where the system has none, they are lines '@call', '@arg' and
// '@mark'). What the driver writes to standard output goes to standard error, of which the parent
// keeps a bounded copy.
#pragma once

#include "driver/CallGuard.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace driver {

// The first argument of a tool's program run as its own driver child.
inline constexpr const char* DriverChildArgument = "--driver-child";

enum class TChildEndKind {
    Completed,  // the child finished its work (TDriverChild::Finish) and ended with ExitCode
    Crashed,    // a fatal signal or exception ended it
    Exited,     // it ended before finishing its work, without a fault (exit(), _exit(), ExitProcess)
    Hung,       // a driver call ran past the limit: the child was ended
    NotStarted, // it could not be started
};

struct TChildEnd {
    TChildEndKind Kind = TChildEndKind::NotStarted;
    int ExitCode = 0; // Completed and Exited: the exit code
    // The driver call in progress when it ended, as the crash words name it ("call ReadWeight",
    // "put UnitPrice \"12.3400\""); empty when none was.
    std::string Call;
    // Empty for Completed, else what happened, e.g.
    //   the driver crashed in put UnitPrice "12.3400": signal 11 (SIGSEGV)
    //   the driver ended the process in call ReadWeight: exit code 0
    //   call Weight did not return within 5.0 s; the process was ended
    //   the process crashed outside any driver call: signal 6 (SIGABRT)
    //   the process ended outside any driver call before its work was done: exit code 3
    //   cannot start /opt/ponderix/ponderix-replay: No such file or directory
    std::string Words;
    std::string ErrorOutput; // what the child wrote to standard error (at most 64 KiB)
    std::uint64_t Mark = 0;  // the last TDriverChild::Mark
};

struct TDriverChildRun {
    std::string Program;                // empty: this program's own file
    std::vector<std::string> Arguments; // passed after DriverChildArgument
    std::string Input;                  // the child's standard input (then closed)
    // A driver call that runs this long is reported (OnOverdue), then the child is ended: Hung.
    // 0: calls are never given up.
    std::chrono::milliseconds CallLimit{5000};
    // Each line the child wrote with TDriverChild::WriteLine, as it comes.
    std::function<void(const std::string& line)> OnLine;
    // The call has run past the limit, e.g. "call ReadWeight has been running for 5.0 s", with the
    // child's mark then (TDriverChild::Mark); said just before the child is ended.
    std::function<void(const std::string& words, std::uint64_t mark)> OnOverdue;
};

// Runs the child to its end (the parent's side). Never throws for what the child does. The run's
// Input is moved to the child: pass the run with std::move, and a recording is not kept twice.
TChildEnd RunDriverChild(TDriverChildRun run);

// The child's side, for the whole of its driver work: standard output becomes the line to the
// parent (platform::TakeStandardOutputForParent), every call in progress is announced to it,
// the crash words are installed (they go to standard error, which the parent keeps), and a
// watchdog with callLimit (0: none) reports an overdue call to the parent, which ends the child.
class TDriverChild {
public:
    explicit TDriverChild(std::chrono::milliseconds callLimit);
    TDriverChild(const TDriverChild&) = delete;
    TDriverChild& operator=(const TDriverChild&) = delete;
    ~TDriverChild();

    // The parent's Input: the whole standard input, at most maxBytes; false with why.
    static bool ReadInput(std::string& text, std::size_t maxBytes, std::string& why);
    // One line of the tool's own to the parent (OnLine). Line ends inside become spaces, and a
    // leading '@' (the mechanism's own) is escaped as "@@", which OnLine receives as "@".
    void WriteLine(std::string_view line);
    // Many lines at once, in few writes.
    void WriteLines(const std::vector<std::string>& lines);
    // How far the work has gone, in the tool's own count (TChildEnd::Mark); for the parent to know
    // also when the child ends without a word. Costs a store.
    void Mark(std::uint64_t mark) noexcept;
    // The work is done; returns exitCode, for the program to end with. The child's end is
    // Completed when the process then ends with that code (not when the driver's clean-up
    // crashes it or ends it with another).
    int Finish(int exitCode);

private:
    std::unique_ptr<TCallWatchdog> FWatchdog;
};

} // namespace driver
