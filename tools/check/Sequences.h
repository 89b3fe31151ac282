// The random call sequences: a property test over the whole member table (writes with values from
// the domains the windows produce and from outside them, methods, reads, device selection,
// asynchronous mode, waits for events), in random order, with the sequence rules checked after
// every step against what the driver answered around it. RapidCheck's state machine generates the
// sequences from a model of what the steps alone predict (the devices the sequence added, whether
// the current device just changed, the values written, the messages queued), its preconditions
// keep a shrunk sequence to steps that still mean what they were drawn for, and it shrinks a broken
// rule's sequence to the shortest one that still breaks it; each sequence runs on a new object.
#pragma once

#include "tools/check/Finding.h"
#include "tools/check/Target.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace check {

struct TSequenceOptions {
    std::uint64_t Seed = 0;
    int Sequences = 100;   // per round
    int MaxLength = 60;    // RapidCheck's size: the longest sequence
    std::set<std::string> Rules; // the sequence rules to check ("result-code", ...)
    // Calls a sequence never makes ("put UnitPrice"): where a crash has been found already, so
    // that the other rules are still checked.
    std::set<std::string> Avoid;
    // After each sequence of a round (not the tries of shrinking): how many of it are done.
    std::function<void(int done)> OnSequence;
};

struct TSequenceReport {
    std::vector<TRuleResult> Results; // one per rule of the options, in their order
    std::uint64_t Calls = 0;
    double Seconds = 0;
};

// The header every recording of this target begins with.
std::string RecordingHeaderOf(const TTarget& target);

TSequenceReport CheckSequences(const TTarget& target, const TSequenceOptions& options);

// The shortest sequence (as recording lines after the header) whose calls break a rule when
// played: RapidCheck generates sequences as CheckSequences does (the same seed gives the same
// ones) and shrinks the first that breaks(lines) says breaks it (it may cut lines after the call
// that broke it). Empty when none does.
std::vector<std::string> ShortestSequence(const TSequenceOptions& options,
                                          const std::function<bool(std::vector<std::string>& lines)>& breaks);

} // namespace check
