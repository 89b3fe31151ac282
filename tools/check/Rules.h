// The rules ponderix-check judges a driver by: each with a stable id, what the driver must do, the
// COM or interface rule behind it, and its check. The table is the single source of the ids, the
// order of the output and the README's list.
#pragma once

#include <string>
#include <string_view>

namespace check {

class TTarget;

// The rules' ids.
namespace rule {
inline constexpr char QiIdentity[] = "qi-identity";
inline constexpr char QiRules[] = "qi-rules";
inline constexpr char Refcount[] = "refcount";
inline constexpr char Unload[] = "unload";
inline constexpr char ClassFactory[] = "class-factory";
inline constexpr char ConnectionPoint[] = "connection-point";
inline constexpr char EventAfterUnadvise[] = "event-after-unadvise";
inline constexpr char Typeinfo[] = "typeinfo";
inline constexpr char DispatchNames[] = "dispatch-names";
inline constexpr char DispatchInvoke[] = "dispatch-invoke";
inline constexpr char DualAgree[] = "dual-agree";
inline constexpr char ResultCode[] = "result-code";
inline constexpr char FailureDescribed[] = "failure-described";
inline constexpr char RefusedWriteKeepsValue[] = "refused-write-keeps-value";
inline constexpr char DeviceList[] = "device-list";
inline constexpr char EventThread[] = "event-thread";
inline constexpr char Exception[] = "exception";
inline constexpr char Crash[] = "crash";
inline constexpr char Hang[] = "hang";
} // namespace rule

// Which process runs a rule: the COM plumbing, the dispatch interface, or the random sequences.
enum class TGroup { Com, Dispatch, Sequences };

struct TRule {
    const char* Id;
    const char* Statement; // "the driver must ..."
    const char* Basis;     // the COM or interface rule behind it
    bool ComRule;          // applies to any automation object (--com-only), not only to ITrutina
    TGroup Group;
    // The check of a static rule (it returns when the rule holds and raises EBroken, ESkipped or
    // EInterrupted otherwise); nullptr for the rules the random sequences check.
    void (*Check)(const TTarget& target);
};

extern const TRule Rules[];
extern const std::size_t RuleCount;

// The rule with this id, or nullptr.
const TRule* FindRule(std::string_view id);

} // namespace check
