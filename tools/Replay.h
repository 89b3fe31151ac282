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
constexpr int kExitDifferent = 1;
constexpr int kExitUsage = 2; // misuse, a bad recording, or a driver that cannot be created

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
    bool Passed() const { return Differences.empty(); }
};

struct TResult {
    std::vector<TAction> Actions;
    // Where the recorded sitting died in the driver, when its recording ends so:
    // "line 57 (btnReadWeightClick "Получить массу"): the driver crashed in call ReadWeight: signal 11 (SIGSEGV)".
    // The replay stops there; it is not a difference.
    std::string Crash;
    int Passed() const;
    int Failed() const;
};

// Waits up to timeoutMs until at least wanted data events have been delivered in all; returns how
// many have been.
using TWaitForEvents = std::function<int(int wanted, int timeoutMs)>;
// Waits (delivering data events meanwhile) until ms have passed since the driver was created.
using TWaitUntil = std::function<void(long long ms)>;

// Performs every recorded call on driver in order, with the recorded arguments, and compares. An
// action recorded with its time begins no earlier after the start than it did in the sitting.
TResult Replay(const driver::TRecording& recording, ITrutina* trutina, const TWaitForEvents& waitForEvents,
               const TWaitUntil& waitUntil, const TOptions& options);

// "line 14 (btnReadWeightClick "Получить массу"): get Weight: expected 1.25, got 1.3"
std::string FormatDifference(const TAction& action, const TDifference& difference);
// Text as XML character data or an attribute's value (characters XML 1.0 does not allow become "?").
std::string XmlText(const std::string& text);
// JUnit XML: one test suite named suiteName, one test case per action.
std::string JUnitReport(const TResult& result, const std::string& suiteName);

// The whole program: the command line's arguments (without the program's name); differences and
// the closing "N passed, N failed" on out, errors on err. Returns the exit code. The calling thread
// must be free to enter a single-threaded apartment.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace replay
