// Each group of rules runs in a child process of ponderix-check itself (driver/DriverChild.h), so
// that a crash or a hang of the driver costs one rule, not the run: the rule in progress is given
// up, the crash or hang is reported with the call it happened in, and the group goes on in a new
// child after it. A crash or hang in the random sequences is shrunk to its shortest sequence by
// RapidCheck, each candidate played in a fresh child, within a time budget.
#pragma once

#include "tools/check/Finding.h"
#include "tools/check/Rules.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace check {

// What every child is told: the target's options, the seed and the limits.
struct TChildSettings {
    std::vector<std::string> TargetArguments; // --module FILE, --class NAME, --com-only
    std::uint64_t Seed = 0;
    int Sequences = 100;
    std::chrono::milliseconds CallLimit{5000};
    std::chrono::seconds ShrinkBudget{20}; // for each crash or hang found in the sequences
};

struct TGroupOutcome {
    std::vector<TRuleResult> Results;
    std::string Header;          // the recording header of the target, as the child made it
    std::string NothingChecked;  // why the target could not be made (then no results)
    std::uint64_t Calls = 0;
    std::uint64_t SequenceCalls = 0;
    double SequenceSeconds = 0;
};

// How far a group has come: the rule begun (static groups), the random sequences done, and the
// calls made in the group so far.
using TGroupProgress = std::function<void(const std::string& rule, int sequences, std::uint64_t calls)>;

// The parent's side.
TGroupOutcome RunGroupInChildren(TGroup group, const TChildSettings& settings, const TGroupProgress& progress = {});

// The child's side (the program's main, run with driver::DriverChildArgument): "group NAME
// [--resume-after RULE] [--avoid CALL;...] <the parent's options>" runs the group's rules here and
// tells the parent; "play <the parent's options>" performs the recording on standard input.
int RunChild(const std::vector<std::string>& args, std::ostream& err);

} // namespace check
