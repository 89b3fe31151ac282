// The driver call trace: one process-wide hook that sees every interface call TScaleX makes
// (reads, writes, methods and the reads of the result check) and every data event TStatera
// delivers, in the order they happen. The program connects it to its logging; off, each call
// pays one test of a flag (no clock read, no value copied, no text built).
//
// The hook is set and switched on the GUI thread before the driver is used; driver calls and
// data events arrive on that thread only. A call is reported when it returns, so the trace reads
// in the order the calls completed.
#pragma once

#include "platform/ole.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>

namespace driver {

enum class TCallDirection {
    Read,  // a property read; the value is the one read
    Write, // a property write; the value is the argument
    Call,  // a method; the value is the method's LONG result
    Event, // a data event delivered to the control; no value
    Setup, // the driver's making, outside its interface: the member is the words for it
};

// The words for the driver's making, timed and named like its calls.
inline constexpr const char* LoadingTheModule = "loading the module"; // the module, its class object
inline constexpr const char* CreatingTheObject = "creating the object";

// A flag exactly as it crossed the interface (VARIANT_TRUE is -1; any non-zero reads as true).
struct TTraceFlag {
    VARIANT_BOOL Raw;
};
// Money as it crossed the interface: the amount x 10000.
struct TTraceMoney {
    std::int64_t Raw;
};

// No value (a failed read or method, an event), an integer, a flag, a real, money or a text
// (UTF-8).
using TCallValue = std::variant<std::monostate, std::int32_t, TTraceFlag, double, TTraceMoney, std::string>;

struct TDriverCall {
    const char* Member = ""; // the interface member's name, e.g. "ResultCode"; "DataEvent" for an event
    TCallDirection Direction = TCallDirection::Read;
    TCallValue Value;
    HRESULT Status = S_OK;    // the call's status
    std::string StatusText;   // the failure's text (as the raised error carries it), when it failed
    std::chrono::nanoseconds Duration{}; // the interface call itself; zero for an event
    std::string Notice;       // a word on how the driver broke a rule (an event: raised on a foreign thread)

    bool Failed() const noexcept { return FAILED(Status); }
};

using TDriverCallHook = std::function<void(const TDriverCall&)>;

// Installs the hook (an empty one removes it) and switches the trace on when enabled and a hook
// is installed, off otherwise.
void SetDriverCallHook(TDriverCallHook hook, bool enabled = true);

namespace detail {
inline std::atomic<bool> GDriverCallTraceOn{false};
}

// The one test each call pays.
inline bool DriverCallTraceOn() noexcept
{
    return detail::GDriverCallTraceOn.load(std::memory_order_relaxed);
}

// Hands the call to the hook. A hook's exception is swallowed: tracing never changes what the
// program does.
void ReportDriverCall(const TDriverCall& call) noexcept;

// One trace line, e.g.
//   get Weight = 1.25 (3.1 us)
//   put UnitPrice 12.3400 (2.0 us)
//   call ReadWeight = 0 (15.2 us)
//   get Weight failed: 0x80004005 "Unspecified error" (1.0 us)
//   event DataEvent
//   event DataEvent: <notice>
// Reads show " = " and the value read, writes the argument after a space, methods " = " and their
// result. Integers in decimal; flags raw (-1 true, 0 false, another value as it came); reals in
// the shortest text that reads back to the same double; money as the amount with four decimals
// (the 64-bit value / 10000, exactly); texts in double quotes, with \" \\ and control characters
// escaped (\n, \r, \t, \xNN) so that one call stays one line. A failure shows its status in hex
// and its text. The time is the interface call's, in microseconds.
std::string FormatDriverCall(const TDriverCall& call);

// The parts of a line, for whoever formats differently.
std::string FormatTraceValue(const TCallValue& value);
std::string FormatTraceMoney(std::int64_t raw);
std::string QuoteTraceText(const std::string& text);
std::string FormatTraceStatus(HRESULT status); // "0x80020009"
const char* TraceDirectionWord(TCallDirection direction); // "get", "put", "call", "event"
// The call as the trace names it: "get Weight", "put UnitPrice", "call ReadWeight".
std::string TraceCallName(TCallDirection direction, std::string_view member);

} // namespace driver
