// ponderix-replay: performs a driver recording (driver/Recording.h) against a driver and reports
// every difference from what the recorded driver answered. No Qt: it builds wherever the driver
// link does.
#pragma once

#include "driver/Recording.h"
#include "driver/Trutina_TLB.h"

#include <functional>
#include <iosfwd>
#include <set>
#include <string>
#include <vector>

namespace replay {

constexpr int kExitSame = 0;
constexpr int kExitDifferent = 1; // differences, or the driver crashed or ended the process
// Misuse, a bad recording, a driver that cannot be created, or a driver call given up at the limit.
constexpr int kExitUsage = 2;

// What --help prints, and misuse after its reason.
extern const char* const UsageText;

struct TOptions {
    std::string Recording;
    std::string Module;             // empty: the class registered for the recording's class id
    double Tolerance = 0;           // reals read may differ by this much
    std::set<std::string> Ignore;   // members whose answers are not compared
    std::string JUnit;              // empty: no report file
    int EventTimeoutMs = 5000;      // how long to wait for each recorded data event
};

// A misused command line; the message says what is wrong.
class EUsage : public runtime::Exception {
public:
    using runtime::Exception::Exception;
};

// The arguments after the program's name. EUsage on misuse.
TOptions ParseArguments(const std::vector<std::string>& args);

struct TDifference {
    int Line = 0;         // the recording's line
    std::string Call;     // "get Weight", "event DataEvent"
    std::string Expected; // as the recording has it
    std::string Got;      // as the driver answered
};

// One user action of the recording (the calls before the first action form the start-up).
struct TAction {
    int Line = 0;
    std::string Handler; // "btnReadWeightClick"; "start-up" before the first action
    std::string Caption;
    std::vector<TDifference> Differences;
    // Why the action could not go on: the driver crashed, ended the process or did not return, in
    // the replay or in the recorded sitting, with the line, e.g.
    // "line 57 (btnReadWeightClick "Получить массу"): the driver crashed in call ReadWeight: signal 11 (SIGSEGV)".
    // The replay ends there.
    std::string Error;
    bool Passed() const { return Differences.empty() && Error.empty(); }
};

struct TResult {
    std::vector<TAction> Actions; // those the replay reached
    int Passed() const;
    int Failed() const; // with differences and no error
    int Errors() const;
};

// What a replay tells as it goes, besides its result.
struct TProgress {
    std::function<void(std::size_t step)> Step; // the recording's step of this index begins
    // The step on this line of the recording has begun (the parent of a driver child, which does
    // not parse the recording, hears of some steps only).
    std::function<void(int line)> Reached;
    std::function<void(const TAction&, const TDifference&)> Difference;
    std::function<void(const TAction&)> Error;            // the action's Error was just set
    std::function<void(const std::string& words)> Notice; // for standard error: a long wait
};

// Waits up to timeoutMs until at least wanted data events have been delivered in all; returns how
// many have been.
using TWaitForEvents = std::function<int(int wanted, int timeoutMs)>;
// Waits (delivering data events meanwhile) until ms have passed since the driver was created;
// first tells before() how long it will wait.
using TWaitUntil = std::function<void(long long ms, const std::function<void(long long waitMs)>& before)>;

// A wait before an action this long or longer is said (TProgress::Notice).
constexpr long long kLongWaitMs = 10000;

// Performs every recorded call on driver in order, with the recorded arguments, and compares. An
// action recorded with its time begins no earlier after the start than it did in the sitting. A
// C++ exception out of a call is its failure (driver::EscapedExceptionStatus).
// foreignEvents: how many data events the driver has raised on a thread of its own so far.
TResult Replay(const driver::TRecording& recording, ITrutina* trutina, const TWaitForEvents& waitForEvents,
               const TWaitUntil& waitUntil, const TOptions& options, const TProgress& progress = {},
               const std::function<int()>& foreignEvents = {});

// "line 14 (btnReadWeightClick "Получить массу"): get Weight: expected 1.25, got 1.3". A text
// longer than kShownText bytes is shown as an excerpt at its first difference, with its length.
std::string FormatDifference(const TAction& action, const TDifference& difference);
constexpr std::size_t kShownText = 160;
// Text as XML character data or an attribute's value (characters XML 1.0 does not allow become "?").
std::string XmlText(const std::string& text);
// JUnit XML: one test suite named suiteName, one test case per action.
std::string JUnitReport(const TResult& result, const std::string& suiteName);

// Where the driver is called: in this process, or in a driver child (driver/DriverChild.h) of
// Program (empty: this program), which must be ponderix-replay. In a child a crash, an exit or a
// hang of the driver is the error of the action it happened in, and the replay lives on to say so.
struct TDriverPlace {
    bool Child = false;
    std::string Program;
};

// The whole program: the command line's arguments (without the program's name); differences and
// errors as they come and the closing "N passed, N failed[, N errors]" on out, the rest on err.
// Returns the exit code. The calling thread must be free to enter a single-threaded apartment.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const TDriverPlace& place = {});

// The driver child's side of Run (args: Run's); the recording comes on standard input.
int RunAsDriverChild(const std::vector<std::string>& args);

} // namespace replay
