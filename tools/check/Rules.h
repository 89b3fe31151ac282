// The rules ponderix-check judges a driver by: each with a stable id, what the driver must do, and
// the COM or interface rule behind it. The table is the single source of the ids, the order of the
// output and the README's list.
#pragma once

#include <string>
#include <string_view>

namespace check {

// Which process runs a rule: the COM plumbing, the dispatch interface, or the random sequences.
enum class TGroup { Com, Dispatch, Sequences };

struct TRule {
    const char* Id;
    const char* Statement; // "the driver must ..."
    const char* Basis;     // the COM or interface rule behind it
    bool ComRule;          // applies to any automation object (--com-only), not only to ITrutina
    TGroup Group;
};

extern const TRule Rules[];
extern const std::size_t RuleCount;

// The rule with this id, or nullptr.
const TRule* FindRule(std::string_view id);

} // namespace check
