#include "driver/CallGuard.h"

#include "platform/faults.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

namespace driver {

using Clock = std::chrono::steady_clock;

struct TCallWatchdog::TState {
    std::chrono::milliseconds Limit;
    TReport Report;
    std::mutex Lock;
    std::condition_variable Wake;
    bool Stop = false;
    std::uint64_t Seen = 0;   // the call in progress at the last look
    Clock::time_point Since;  // when it was first seen
    long long Reported = 0;   // the multiples of the limit reported for it
    Clock::time_point LastReport;
    std::thread Thread;
};

namespace {

std::mutex GWatchdogLock;
TCallWatchdog::TState* GWatchdog = nullptr;


// Looks every twentieth of the limit (at most every 50 ms), so a report comes at most that late.
void Watch(TCallWatchdog::TState& s)
{
    const auto tick = std::clamp(s.Limit / 20, std::chrono::milliseconds(1), std::chrono::milliseconds(50));
    std::unique_lock lock(s.Lock);
    while (!s.Wake.wait_for(lock, tick, [&] { return s.Stop; })) {
        const std::uint64_t number = detail::GCallNumber.load(std::memory_order_acquire);
        const char* member = detail::GCallMember.load(std::memory_order_relaxed);
        const TCallDirection direction = detail::GCallDirection.load(std::memory_order_relaxed);
        if (detail::GCallNumber.load(std::memory_order_acquire) != number)
            continue; // changed while looked at
        const Clock::time_point now = Clock::now();
        if (number != s.Seen) {
            s.Seen = number;
            s.Since = now;
            s.Reported = 0;
            continue;
        }
        if (number == 0 || !member || now - s.Since < s.Limit * (s.Reported + 1))
            continue;
        // Past the first report, at most one a second, whatever the limit.
        if (s.Reported > 0 && now - s.LastReport < std::chrono::seconds(1))
            continue;
        s.Reported = (now - s.Since) / s.Limit;
        s.LastReport = now;
        detail::GOverdueCall.store(number, std::memory_order_relaxed);
        const std::string line = TraceCallName(direction, member) + " has been running for " + FormatSeconds(now - s.Since);
        lock.unlock();
        s.Report(line);
        lock.lock();
    }
}

// A write's argument, kept raw (formatting it on every write would cost more than the write) and
// formatted as its recording line would hold it only when the last words are written.
enum class TArgumentKind { Integer, Money, Real, Text };
struct TArgument {
    TArgumentKind Kind = TArgumentKind::Integer;
    std::int64_t Integer = 0; // an integer, a flag as it came, money x 10000
    double Real = 0;
    char Text[400];
    std::size_t TextSize = 0;
};
TArgument GArgument;
std::atomic<std::uint64_t> GArgumentCall{0};

// Appends to a fixed buffer, cutting what does not fit; safe in a signal handler.
struct TWords {
    char* Buffer;
    std::size_t Capacity;
    std::size_t& Size;
    TWords& operator<<(const char* text)
    {
        while (text && *text && Size < Capacity)
            Buffer[Size++] = *text++;
        return *this;
    }
    TWords& operator<<(char c) { return *this << std::string_view(&c, 1); }
    TWords& operator<<(std::string_view text)
    {
        for (std::size_t i = 0; i < text.size() && Size < Capacity; ++i)
            Buffer[Size++] = text[i];
        return *this;
    }
    TWords& operator<<(std::uint64_t value)
    {
        char digits[24];
        std::size_t n = 0;
        do
            digits[n++] = static_cast<char>('0' + value % 10);
        while ((value /= 10) != 0);
        while (n > 0 && Size < Capacity)
            Buffer[Size++] = digits[--n];
        return *this;
    }
    TWords& Signed(std::int64_t value)
    {
        const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : value;
        return value < 0 ? *this << '-' << magnitude : *this << magnitude;
    }
};

// The kept argument as JSON: money as its decimal text, reals as numbers ("nan" and the infinities
// as texts), texts quoted with their control characters escaped.
void WriteArgument(TWords& out, const TArgument& argument)
{
    switch (argument.Kind) {
    case TArgumentKind::Integer: out.Signed(argument.Integer); return;
    case TArgumentKind::Money: {
        const std::uint64_t magnitude = argument.Integer < 0 ? 0 - static_cast<std::uint64_t>(argument.Integer)
                                                             : argument.Integer;
        const std::uint64_t fraction = magnitude % 10000;
        out << '"' << (argument.Integer < 0 ? "-" : "") << magnitude / 10000 << '.';
        for (std::uint64_t scale = 1000; scale > 0; scale /= 10)
            out << static_cast<char>('0' + fraction / scale % 10);
        out << '"';
        return;
    }
    case TArgumentKind::Real: {
        if (argument.Real != argument.Real || argument.Real - argument.Real != 0) {
            out << (argument.Real != argument.Real ? "\"nan\"" : argument.Real > 0 ? "\"inf\"" : "\"-inf\"");
            return;
        }
        char number[32];
        out << std::string_view(number, std::to_chars(number, number + sizeof number, argument.Real).ptr - number);
        return;
    }
    case TArgumentKind::Text:
        out << '"';
        for (std::size_t i = 0; i < argument.TextSize; ++i) {
            const unsigned char c = static_cast<unsigned char>(argument.Text[i]);
            if (c == '"' || c == '\\')
                out << '\\' << static_cast<char>(c);
            else if (c < 0x20)
                out << "\\u00" << "0123456789abcdef"[c >> 4] << "0123456789abcdef"[c & 0xF];
            else
                out << static_cast<char>(c);
        }
        out << '"';
        return;
    }
}

// The words of the process's end inside a driver call: how it ended ("crashed", "ended the
// process") and the recording line's key for it ("crashed", "exited").
void WriteLastWords(const char* code, platform::TCrashWords& words, const char* verb, const char* key, bool outside)
{
    TWords text{words.Text, sizeof words.Text, words.TextSize};
    TWords line{words.FileLine, sizeof words.FileLine - 1, words.FileLineSize};
    const std::uint64_t number = detail::GCallNumber.load(std::memory_order_acquire);
    const char* member = detail::GCallMember.load(std::memory_order_relaxed);
    if (number == 0 || !member) {
        if (outside)
            text << "ponderix: " << code << ", outside any driver call\n";
        return;
    }
    const TCallDirection direction = detail::GCallDirection.load(std::memory_order_relaxed);
    const char* word = TraceDirectionWord(direction);
    text << "ponderix: the driver " << verb << " in " << word << (*word ? " " : "") << member;
    if (direction == TCallDirection::Setup) {
        text << ": " << code << "\n"; // no recording line: the driver's making is not one of its calls
        return;
    }
    line << "{\"" << word << "\":\"" << member << "\"";
    if (GArgumentCall.load(std::memory_order_acquire) == number) {
        WriteArgument(text << ' ', GArgument);
        WriteArgument(line << ",\"value\":", GArgument);
    }
    text << ": " << code << "\n";
    line << ",\"" << key << "\":\"" << code << "\"}";
    words.FileLine[words.FileLineSize++] = '\n'; // room kept: the line always ends
}

void WriteCrashWords(const char* code, platform::TCrashWords& words)
{
    WriteLastWords(code, words, "crashed", "crashed", true);
}

// An ordinary end of the program says nothing: only an exit from inside a driver call does.
void WriteExitWords(const char* code, platform::TCrashWords& words)
{
    WriteLastWords(code, words, "ended the process", "exited", false);
}

} // namespace

std::string FormatSeconds(std::chrono::nanoseconds elapsed)
{
    const long long tenths = (std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

void SetCallAnnouncer(const TCallAnnouncer* announcer) noexcept
{
    detail::GCallAnnouncer.store(announcer, std::memory_order_release);
}

void detail::KeepCrashArgument(std::uint64_t number, const TCallValue& argument) noexcept
{
    if (const TCallAnnouncer* announcer = GCallAnnouncer.load(std::memory_order_acquire)) [[unlikely]]
        announcer->Argument(argument);
    GArgumentCall.store(0, std::memory_order_relaxed);
    struct TKeep {
        TArgument& Into;
        bool operator()(std::monostate) const { return false; }
        bool operator()(std::int32_t v) const { return Keep(TArgumentKind::Integer, v); }
        bool operator()(TTraceFlag v) const { return Keep(TArgumentKind::Integer, v.Raw); }
        bool operator()(TTraceMoney v) const { return Keep(TArgumentKind::Money, v.Raw); }
        bool operator()(double v) const
        {
            Into.Kind = TArgumentKind::Real;
            Into.Real = v;
            return true;
        }
        bool operator()(const std::string& v) const
        {
            if (v.size() > sizeof Into.Text)
                return false; // too long to keep whole: the call is named without it
            Into.Kind = TArgumentKind::Text;
            Into.TextSize = v.copy(Into.Text, v.size());
            return true;
        }
        bool Keep(TArgumentKind kind, std::int64_t value) const
        {
            Into.Kind = kind;
            Into.Integer = value;
            return true;
        }
    };
    if (std::visit(TKeep{GArgument}, argument))
        GArgumentCall.store(number, std::memory_order_release);
}

void detail::ReportOverdueReturn(std::uint64_t number, const char* member, TCallDirection direction) noexcept
{
    std::uint64_t expected = number;
    detail::GOverdueCall.compare_exchange_strong(expected, 0, std::memory_order_relaxed);
    try {
        TCallWatchdog::TReport report;
        Clock::duration elapsed{};
        {
            std::lock_guard global(GWatchdogLock);
            if (!GWatchdog)
                return;
            std::lock_guard lock(GWatchdog->Lock);
            report = GWatchdog->Report;
            elapsed = Clock::now() - GWatchdog->Since;
        }
        report(TraceCallName(direction, member) + " returned after " + FormatSeconds(elapsed));
    } catch (...) {
        // A report must not turn a driver call into a failure.
    }
}

TCallWatchdog::TCallWatchdog(std::chrono::milliseconds limit, TReport report) : FState(std::make_unique<TState>())
{
    FState->Limit = limit;
    FState->Report = std::move(report);
    FState->Thread = std::thread(Watch, std::ref(*FState));
    std::lock_guard global(GWatchdogLock);
    GWatchdog = FState.get();
}

TCallWatchdog::~TCallWatchdog()
{
    {
        std::lock_guard global(GWatchdogLock);
        if (GWatchdog == FState.get())
            GWatchdog = nullptr;
    }
    {
        std::lock_guard lock(FState->Lock);
        FState->Stop = true;
    }
    FState->Wake.notify_all();
    FState->Thread.join();
}

std::chrono::milliseconds CallLimitFromEnvironment(std::string* problem)
{
    constexpr std::chrono::milliseconds standard(5000);
    const char* text = std::getenv("PONDERIX_CALL_LIMIT_MS");
    if (!text || !*text)
        return standard;
    long long ms = -1;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, ms);
    if (stop == end && error == std::errc() && (ms == 0 || (ms >= MinCallLimit.count() && ms <= MaxCallLimit.count())))
        return std::chrono::milliseconds(ms);
    if (problem)
        *problem = "PONDERIX_CALL_LIMIT_MS is \"" + std::string(text, std::min<std::size_t>(end - text, 40))
                   + "\": it takes whole milliseconds from " + std::to_string(MinCallLimit.count()) + " to "
                   + std::to_string(MaxCallLimit.count()) + ", or 0 for no limit; "
                   + std::to_string(standard.count()) + " is used";
    return standard;
}

void InstallDriverCrashReport()
{
    platform::InstallCrashWriter(&WriteCrashWords);
    platform::InstallExitWriter(&WriteExitWords);
}

} // namespace driver
