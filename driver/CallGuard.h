// The driver call in progress, kept for a watchdog that reports a call that does not return and
// for the last words written when the process dies inside the driver. Every call TScaleX makes
// marks itself here for as long as it runs: a few relaxed stores, no clock read, no lock.
#pragma once

#include "driver/CallTrace.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace driver {

namespace detail {
// The innermost call in progress: member, direction and a number no other call has (0: none).
inline std::atomic<const char*> GCallMember{nullptr};
inline std::atomic<TCallDirection> GCallDirection{TCallDirection::Read};
inline std::atomic<std::uint64_t> GCallNumber{0};
inline std::atomic<std::uint64_t> GLastCallNumber{0};
// The call the watchdog has reported overdue (0: none): its return is reported too.
inline std::atomic<std::uint64_t> GOverdueCall{0};

void ReportOverdueReturn(std::uint64_t number, const char* member, TCallDirection direction) noexcept;
void KeepCrashArgument(std::uint64_t number, const TCallValue& argument) noexcept;
} // namespace detail

// Told of every change of the call in progress (a call begins; it ends and the outer one, or none:
// a null member, is in progress again) and of a write's argument. A driver child passes them to
// its parent (driver/DriverChild.h), which then names the call also when the process ends
// without a word. Unset (as in Ponderix) it costs each call a load of one pointer.
struct TCallAnnouncer {
    void (*Call)(const char* member, TCallDirection direction) noexcept;
    void (*Argument)(const TCallValue& argument) noexcept;
};
// A null announcer removes it; the announcer must outlive its use.
void SetCallAnnouncer(const TCallAnnouncer* announcer) noexcept;
namespace detail {
inline std::atomic<const TCallAnnouncer*> GCallAnnouncer{nullptr};
}

// On the stack of every driver call: the call is in progress until this goes (also by an
// exception out of the driver). Nested calls (a data event's handler inside a call) restore the
// outer one.
class TCallInProgress {
public:
    TCallInProgress(const char* member, TCallDirection direction) noexcept
        : FOuterMember(detail::GCallMember.load(std::memory_order_relaxed)),
          FOuterDirection(detail::GCallDirection.load(std::memory_order_relaxed)),
          FOuterNumber(detail::GCallNumber.load(std::memory_order_relaxed)),
          FNumber(detail::GLastCallNumber.load(std::memory_order_relaxed) + 1), FMember(member),
          FDirection(direction)
    {
        detail::GLastCallNumber.store(FNumber, std::memory_order_relaxed);
        Mark(FMember, FDirection, FNumber);
    }
    TCallInProgress(const TCallInProgress&) = delete;
    TCallInProgress& operator=(const TCallInProgress&) = delete;
    ~TCallInProgress()
    {
        // Reported while still marked, so that the watchdog still times this call.
        if (detail::GOverdueCall.load(std::memory_order_relaxed) == FNumber) [[unlikely]]
            detail::ReportOverdueReturn(FNumber, FMember, FDirection);
        Mark(FOuterMember, FOuterDirection, FOuterNumber);
    }

    // A write's argument, kept for the last words (argument() gives it as a TCallValue).
    template <typename TArgument>
    void KeepArgument(TArgument&& argument) noexcept
    {
        try {
            detail::KeepCrashArgument(FNumber, argument());
        } catch (...) {
            // Without its argument the call is still named.
        }
    }

private:
    static void Mark(const char* member, TCallDirection direction, std::uint64_t number) noexcept
    {
        detail::GCallMember.store(member, std::memory_order_relaxed);
        detail::GCallDirection.store(direction, std::memory_order_relaxed);
        detail::GCallNumber.store(number, std::memory_order_release);
        if (const TCallAnnouncer* announcer = detail::GCallAnnouncer.load(std::memory_order_acquire)) [[unlikely]]
            announcer->Call(member, direction);
    }

    const char* FOuterMember;
    TCallDirection FOuterDirection;
    std::uint64_t FOuterNumber;
    std::uint64_t FNumber;
    const char* FMember;
    TCallDirection FDirection;
};

// The innermost driver call in progress, and whether the watchdog has reported it overdue.
struct TCallState {
    const char* Member = nullptr;
    TCallDirection Direction = TCallDirection::Read;
    std::uint64_t Number = 0;
    bool Overdue = false;
};
// False when no call is in progress.
inline bool CurrentCall(TCallState& call) noexcept
{
    call.Number = detail::GCallNumber.load(std::memory_order_acquire);
    if (call.Number == 0)
        return false;
    call.Member = detail::GCallMember.load(std::memory_order_relaxed);
    call.Direction = detail::GCallDirection.load(std::memory_order_relaxed);
    call.Overdue = detail::GOverdueCall.load(std::memory_order_relaxed) == call.Number;
    return call.Member != nullptr;
}

// Reports a driver call that has run longer than the limit: while it runs (at each multiple of the
// limit, from the watchdog's own thread) and once it returns (from the calling thread), e.g.
//   call ReadWeight has been running for 5.0 s
//   call ReadWeight returned after 8.1 s
// One watchdog at a time; it stops when destroyed.
class TCallWatchdog {
public:
    using TReport = std::function<void(const std::string& line)>;
    TCallWatchdog(std::chrono::milliseconds limit, TReport report);
    TCallWatchdog(const TCallWatchdog&) = delete;
    TCallWatchdog& operator=(const TCallWatchdog&) = delete;
    ~TCallWatchdog();

    struct TState;

private:
    std::unique_ptr<TState> FState;
};

// "5.0 s": a time as the watchdog says it, to the nearest tenth of a second.
std::string FormatSeconds(std::chrono::nanoseconds elapsed);

// The limit PONDERIX_CALL_LIMIT_MS sets (whole milliseconds; 0 switches the watchdog off); 5000
// when it is unset or not a number.
std::chrono::milliseconds CallLimitFromEnvironment();

// The last words when the process dies of a fault: which driver call was running, e.g.
//   ponderix: the driver crashed in put UnitPrice "12.3400": signal 11 (SIGSEGV)
// on standard error, and as a recording line in the crash file (platform::SetCrashFile):
//   {"put":"UnitPrice","value":"12.3400","crashed":"signal 11 (SIGSEGV)"}
void InstallDriverCrashReport();

} // namespace driver
