// The rules of one group, checked here in this process; and the results of all groups made one
// per rule.
#pragma once

#include "tools/check/Rules.h"
#include "tools/check/Sequences.h"
#include "tools/check/Target.h"

#include <vector>

namespace check {

// The rules of group that apply (all, or COM's only), in the table's order.
std::vector<const TRule*> RulesOf(TGroup group, bool interfaceRules);

// Checks one static rule. A rule every call is judged by (exception, hang) that the driver broke
// meanwhile is added to interruptions, and the rule itself is skipped as not finished.
TRuleResult CheckStaticRule(const TTarget& target, const TRule& rule, std::vector<TRuleResult>& interruptions);

// The sequence rules of the target (sequences.Rules is filled here).
TSequenceReport CheckSequenceRules(const TTarget& target, TSequenceOptions sequences);

// One result per rule of the table, in its order: a Fail found anywhere wins over a Pass (one with
// a sequence to replay over one without), a Pass over a Skip. Rules nobody checked are skipped with reasonForMissing.
std::vector<TRuleResult> MergeResults(const std::vector<TRuleResult>& found, const std::string& reasonForMissing);

} // namespace check
