#include "driver/CallTrace.h"

#include <charconv>
#include <cstdio>
#include <utility>

namespace driver {
namespace {

TDriverCallHook& Hook()
{
    static TDriverCallHook hook;
    return hook;
}

std::string FormatReal(double value)
{
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

std::string FormatDuration(std::chrono::nanoseconds duration)
{
    const long long ns = duration.count() < 0 ? 0 : static_cast<long long>(duration.count());
    return std::to_string(ns / 1000) + "." + std::to_string(ns % 1000 / 100) + " us";
}

} // namespace

const char* TraceDirectionWord(TCallDirection direction)
{
    switch (direction) {
    case TCallDirection::Read: return "get";
    case TCallDirection::Write: return "put";
    case TCallDirection::Call: return "call";
    case TCallDirection::Event: return "event";
    case TCallDirection::Setup: return "";
    }
    return "?";
}

std::string TraceCallName(TCallDirection direction, std::string_view member)
{
    std::string name = TraceDirectionWord(direction);
    if (!name.empty())
        name += ' ';
    name += member;
    return name;
}

std::string FormatTraceStatus(HRESULT status)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(status));
    return buffer;
}

void SetDriverCallHook(TDriverCallHook hook, bool enabled)
{
    detail::GDriverCallTraceOn.store(false, std::memory_order_relaxed);
    const bool on = enabled && static_cast<bool>(hook);
    Hook() = std::move(hook);
    detail::GDriverCallTraceOn.store(on, std::memory_order_relaxed);
}

void ReportDriverCall(const TDriverCall& call) noexcept
{
    try {
        if (const TDriverCallHook& hook = Hook())
            hook(call);
    } catch (...) {
        // A diagnostic must not turn a driver call into a failure.
    }
}

std::string FormatTraceMoney(std::int64_t raw)
{
    // The magnitude as unsigned, so that the most negative value has one too.
    const bool negative = raw < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(raw) : static_cast<std::uint64_t>(raw);
    std::string fraction = std::to_string(magnitude % 10000);
    fraction.insert(0, 4 - fraction.size(), '0');
    return (negative ? "-" : "") + std::to_string(magnitude / 10000) + "." + fraction;
}

std::string QuoteTraceText(const std::string& text)
{
    std::string quoted = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
                quoted += buffer;
            } else {
                quoted += static_cast<char>(c); // UTF-8 bytes pass unchanged
            }
        }
    }
    return quoted + "\"";
}

std::string FormatTraceValue(const TCallValue& value)
{
    struct TFormat {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(std::int32_t v) const { return std::to_string(v); }
        std::string operator()(TTraceFlag v) const { return std::to_string(v.Raw); }
        std::string operator()(double v) const { return FormatReal(v); }
        std::string operator()(TTraceMoney v) const { return FormatTraceMoney(v.Raw); }
        std::string operator()(const std::string& v) const { return QuoteTraceText(v); }
    };
    return std::visit(TFormat{}, value);
}

std::string FormatDriverCall(const TDriverCall& call)
{
    std::string line = TraceCallName(call.Direction, call.Member);
    if (!std::holds_alternative<std::monostate>(call.Value))
        line += (call.Direction == TCallDirection::Write ? " " : " = ") + FormatTraceValue(call.Value);
    if (call.Failed())
        line += " failed: " + FormatTraceStatus(call.Status) + " " + QuoteTraceText(call.StatusText);
    if (call.Direction != TCallDirection::Event)
        line += " (" + FormatDuration(call.Duration) + ")";
    if (!call.Notice.empty())
        line += ": " + call.Notice;
    return line;
}

} // namespace driver
