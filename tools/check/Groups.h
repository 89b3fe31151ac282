// Runs one group of rules on the target, here in this process, and gives one result per rule
// (several for the rules every call is judged by: exception and hang may be found by any group).
#pragma once

#include "tools/check/Rules.h"
#include "tools/check/Sequences.h"
#include "tools/check/Target.h"

#include <vector>

namespace check {

struct TGroupRun {
    std::vector<TRuleResult> Results;
    std::uint64_t Calls = 0;
    double SequenceSeconds = 0; // the random sequences' own time
    std::uint64_t SequenceCalls = 0;
};

// The rules of group that apply to the target, in the table's order.
std::vector<const TRule*> RulesOf(TGroup group, const TTarget& target);

// sequences: the options of the random sequences (its Rules are filled here).
TGroupRun RunGroupHere(const TTarget& target, TGroup group, TSequenceOptions sequences);

// One result per rule of the table, in its order: a Fail found anywhere wins over a Pass, a
// Pass over a Skip. Rules nobody checked are skipped with reason.
std::vector<TRuleResult> MergeResults(const std::vector<TRuleResult>& found, const std::string& reasonForMissing);

} // namespace check
