#include "tools/check/Groups.h"

#include "tools/check/StaticRules.h"

#include <map>

namespace check {

std::vector<const TRule*> RulesOf(TGroup group, bool interfaceRules)
{
    std::vector<const TRule*> rules;
    for (std::size_t i = 0; i < RuleCount; ++i)
        if (Rules[i].Group == group && (interfaceRules || Rules[i].ComRule))
            rules.push_back(&Rules[i]);
    return rules;
}

TRuleResult CheckStaticRule(const TTarget& target, const TRule& rule, std::vector<TRuleResult>& interruptions)
{
    TRuleResult result;
    result.Rule = rule.Id;
    try {
        TFinding warning;
        TakeWarning(warning); // none left from an earlier rule
        if (rule.Check)
            rule.Check(target);
        if (TakeWarning(warning)) {
            result.Verdict = TVerdict::Warn;
            result.Finding = std::move(warning);
        }
    } catch (const EBroken& broken) {
        result.Verdict = TVerdict::Fail;
        result.Finding = broken.Finding;
    } catch (const ESkipped& skipped) {
        result.Verdict = TVerdict::Skip;
        result.Reason = skipped.Reason;
    } catch (const EInterrupted& interrupted) {
        result.Verdict = TVerdict::Skip;
        result.Reason = "not finished: the driver broke " + interrupted.Rule + " in " + interrupted.Finding.Member;
        interruptions.push_back(TRuleResult{interrupted.Rule, TVerdict::Fail, interrupted.Finding, {}});
    } catch (const std::exception& e) {
        result.Verdict = TVerdict::Skip;
        result.Reason = std::string("not finished: ") + e.what();
    }
    return result;
}

TSequenceReport CheckSequenceRules(const TTarget& target, TSequenceOptions sequences)
{
    for (const TRule* rule : RulesOf(TGroup::Sequences, target.Trutina()))
        sequences.Rules.insert(rule->Id);
    if (target.Trutina())
        return CheckSequences(target, sequences);
    // Another automation object has no member table to make sequences of.
    TSequenceReport report;
    for (const std::string& rule : sequences.Rules)
        report.Results.push_back(TRuleResult{rule, TVerdict::Skip, {}, "the random sequences call ITrutina's members"});
    return report;
}

std::vector<TRuleResult> MergeResults(const std::vector<TRuleResult>& found, const std::string& reasonForMissing)
{
    // A finding with a sequence to replay is worth more than one without.
    auto rank = [](const TRuleResult& r) {
        switch (r.Verdict) {
        case TVerdict::Fail: return r.Finding.Recording.empty() ? 3 : 4;
        case TVerdict::Warn: return 2;
        case TVerdict::Pass: return 1;
        default: return 0;
        }
    };
    std::map<std::string, const TRuleResult*> best;
    for (const TRuleResult& r : found) {
        const TRuleResult*& kept = best[r.Rule];
        if (!kept || rank(r) > rank(*kept))
            kept = &r;
    }
    std::vector<TRuleResult> merged;
    for (std::size_t i = 0; i < RuleCount; ++i) {
        const auto it = best.find(Rules[i].Id);
        if (it != best.end())
            merged.push_back(*it->second);
        else
            merged.push_back(TRuleResult{Rules[i].Id, TVerdict::Skip, {}, reasonForMissing});
    }
    return merged;
}

} // namespace check
