#include "tools/check/Groups.h"

#include "tools/check/StaticRules.h"

#include <map>

namespace check {

std::vector<const TRule*> RulesOf(TGroup group, const TTarget& target)
{
    std::vector<const TRule*> rules;
    for (std::size_t i = 0; i < RuleCount; ++i)
        if (Rules[i].Group == group && (target.Trutina() || Rules[i].ComRule))
            rules.push_back(&Rules[i]);
    return rules;
}

TGroupRun RunGroupHere(const TTarget& target, TGroup group, TSequenceOptions sequences)
{
    TGroupRun run;
    const std::uint64_t before = TCalls::Count();
    if (group == TGroup::Sequences) {
        for (const TRule* rule : RulesOf(group, target))
            sequences.Rules.insert(rule->Id);
        if (!target.Trutina()) {
            // Another automation object has no member table to make sequences of.
            for (const std::string& rule : sequences.Rules)
                run.Results.push_back(TRuleResult{rule, TVerdict::Skip, {}, "the random sequences call ITrutina's members"});
            return run;
        }
        const TSequenceReport report = CheckSequences(target, sequences);
        run.Results = report.Results;
        run.SequenceCalls = report.Calls;
        run.SequenceSeconds = report.Seconds;
    } else {
        for (const TRule* rule : RulesOf(group, target)) {
            TRuleResult result;
            result.Rule = rule->Id;
            try {
                if (const TStaticCheck check = StaticCheck(rule->Id))
                    check(target);
            } catch (const EBroken& broken) {
                result.Verdict = TVerdict::Fail;
                result.Finding = broken.Finding;
            } catch (const ESkipped& skipped) {
                result.Verdict = TVerdict::Skip;
                result.Reason = skipped.Reason;
            } catch (const EInterrupted& interrupted) {
                result.Verdict = TVerdict::Skip;
                result.Reason = "not finished: the driver broke " + interrupted.Rule + " in "
                                + interrupted.Finding.Member;
                run.Results.push_back(TRuleResult{interrupted.Rule, TVerdict::Fail, interrupted.Finding, {}});
            } catch (const std::exception& e) {
                result.Verdict = TVerdict::Skip;
                result.Reason = std::string("not finished: ") + e.what();
            }
            run.Results.push_back(std::move(result));
        }
    }
    run.Calls = TCalls::Count() - before;
    return run;
}

std::vector<TRuleResult> MergeResults(const std::vector<TRuleResult>& found, const std::string& reasonForMissing)
{
    auto rank = [](TVerdict v) { return v == TVerdict::Fail ? 2 : v == TVerdict::Pass ? 1 : 0; };
    std::map<std::string, const TRuleResult*> best;
    for (const TRuleResult& r : found) {
        const TRuleResult*& kept = best[r.Rule];
        if (!kept || rank(r.Verdict) > rank(kept->Verdict))
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
