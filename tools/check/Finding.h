// What a rule's check finds, and the one way every check calls the driver: counted, marked for the
// crash words and the watchdog, and guarded against the faults every call is judged by (a C++
// exception out of the driver, a call over the limit).
#pragma once

#include "driver/CallGuard.h"
#include "driver/CallTrace.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace check {

struct TFinding {
    std::string Member;   // the call that showed it: "QueryInterface", "put PortNumber"
    std::string Expected;
    std::string Observed;
    // Its shortest sequence as recording lines after the header; empty when it has none.
    std::vector<std::string> Recording;
};

// Warn: a departure from the documentation that Windows' own objects make too; it breaks no client.
enum class TVerdict { Pass, Fail, Skip, Warn };

struct TRuleResult {
    std::string Rule;
    TVerdict Verdict = TVerdict::Pass;
    TFinding Finding;   // Fail, Warn
    std::string Reason; // Skip
};

// Ends the check of a rule: the driver broke it.
struct EBroken {
    TFinding Finding;
};
// Ends the check of a rule: it cannot be checked on this object.
struct ESkipped {
    std::string Reason;
};
// Ends the check of a rule: the driver broke a rule every call is judged by (exception, hang).
struct EInterrupted {
    std::string Rule;
    TFinding Finding;
};

[[noreturn]] inline void Broken(std::string member, std::string expected, std::string observed)
{
    throw EBroken{TFinding{std::move(member), std::move(expected), std::move(observed), {}}};
}
inline void Require(bool kept, const std::string& member, const std::string& expected, const std::string& observed)
{
    if (!kept)
        Broken(member, expected, observed);
}

// Notes a warning of the rule being checked; the first one stands, and a failure wins over it.
void Warn(std::string member, std::string expected, std::string observed);
// The warning noted since the last call, if any (the rule's check has ended).
bool TakeWarning(TFinding& warning);

// "E_FAIL"; "0x80004321" for a status without a name here.
std::string StatusWords(long status);

// Every driver call the checker makes.
class TCalls {
public:
    // The limit a call must return within (--call-limit).
    static void SetLimit(std::chrono::milliseconds limit);
    static std::chrono::milliseconds Limit();
    static std::uint64_t Count();

    // Makes one call: call() gives its status; a write's argument is kept for the crash words.
    // An exception out of it, or a return after the limit, raises EInterrupted naming the call
    // ("get Weight").
    template <typename TCall>
    static long Make(const char* member, driver::TCallDirection direction, TCall&& call,
                     const driver::TCallValue* argument = nullptr)
    {
        driver::TCallInProgress inProgress(member, direction);
        if (argument)
            inProgress.KeepArgument([argument] { return *argument; });
        Counted();
        const auto start = std::chrono::steady_clock::now();
        long status;
        try {
            status = call();
        } catch (...) {
            Thrown(Name(member, direction, argument), std::current_exception());
        }
        if (std::chrono::steady_clock::now() - start > Limit()) [[unlikely]]
            Overdue(Name(member, direction, argument), std::chrono::steady_clock::now() - start);
        return status;
    }

    // A COM-level call (QueryInterface, Invoke, CreateInstance), its argument given as words
    // ("IUnknown, null out pointer") that name it in a crash, a hang or an exception.
    template <typename TCall>
    static long Make(const char* member, std::string argument, TCall&& call)
    {
        const driver::TCallValue words = std::move(argument);
        return Make(member, driver::TCallDirection::Call, std::forward<TCall>(call), &words);
    }

    // "get Weight", "put UnitPrice", "call ReadWeight", "call QueryInterface"; with its argument
    // when one is given: "put UnitPrice \"1.5000\"", "call QueryInterface \"IUnknown\"".
    static std::string Name(const char* member, driver::TCallDirection direction,
                            const driver::TCallValue* argument = nullptr);

private:
    static void Counted() noexcept;
    [[noreturn]] static void Thrown(std::string call, std::exception_ptr e);
    [[noreturn]] static void Overdue(std::string call, std::chrono::steady_clock::duration took);
};

} // namespace check
