#include "driver/CallGuard.h"

#include "driver/Recording.h"
#include "platform/faults.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
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
    std::thread Thread;
};

namespace {

std::mutex GWatchdogLock;
TCallWatchdog::TState* GWatchdog = nullptr;

std::string CallName(const char* member, TCallDirection direction)
{
    return std::string(TraceDirectionWord(direction)) + " " + member;
}

std::string Seconds(Clock::duration elapsed)
{
    const long long tenths = (std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

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
        ++s.Reported;
        detail::GOverdueCall.store(number, std::memory_order_relaxed);
        const std::string line = CallName(member, direction) + " has been running for " + Seconds(now - s.Since);
        lock.unlock();
        s.Report(line);
        lock.lock();
    }
}

// A write's argument as its recording line holds it, for the last words.
char GArgument[512];
std::atomic<std::size_t> GArgumentSize{0};
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
    TWords& Append(const char* text, std::size_t count)
    {
        for (std::size_t i = 0; i < count && Size < Capacity; ++i)
            Buffer[Size++] = text[i];
        return *this;
    }
};

void WriteCrashWords(const char* code, platform::TCrashWords& words)
{
    TWords text{words.Text, sizeof words.Text, words.TextSize};
    TWords line{words.FileLine, sizeof words.FileLine - 1, words.FileLineSize};
    const std::uint64_t number = detail::GCallNumber.load(std::memory_order_acquire);
    const char* member = detail::GCallMember.load(std::memory_order_relaxed);
    if (number == 0 || !member) {
        text << "ponderix: " << code << ", outside any driver call\n";
        return;
    }
    const char* word = TraceDirectionWord(detail::GCallDirection.load(std::memory_order_relaxed));
    const bool withArgument = GArgumentCall.load(std::memory_order_acquire) == number;
    const std::size_t argumentSize = withArgument ? GArgumentSize.load(std::memory_order_relaxed) : 0;
    text << "ponderix: the driver crashed in " << word << " " << member;
    line << "{\"" << word << "\":\"" << member << "\"";
    if (argumentSize > 0) {
        text << " ";
        text.Append(GArgument, argumentSize);
        line << ",\"value\":";
        line.Append(GArgument, argumentSize);
    }
    text << ": " << code << "\n";
    line << ",\"crashed\":\"" << code << "\"}";
    words.FileLine[words.FileLineSize++] = '\n'; // room kept: the line always ends
}

} // namespace

void detail::KeepCrashArgument(std::uint64_t number, const TCallValue& argument) noexcept
{
    GArgumentCall.store(0, std::memory_order_relaxed);
    const std::string text = RecordingValueText(argument);
    if (text.size() > sizeof GArgument)
        return; // too long to keep whole: the call is named without it
    text.copy(GArgument, text.size());
    GArgumentSize.store(text.size(), std::memory_order_relaxed);
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
        report(CallName(member, direction) + " returned after " + Seconds(elapsed));
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

std::chrono::milliseconds CallLimitFromEnvironment()
{
    constexpr std::chrono::milliseconds standard(5000);
    const char* text = std::getenv("PONDERIX_CALL_LIMIT_MS");
    if (!text || !*text)
        return standard;
    char* end = nullptr;
    const long long ms = std::strtoll(text, &end, 10);
    if (*end != '\0' || ms < 0 || ms > 24LL * 3600 * 1000)
        return standard;
    return std::chrono::milliseconds(ms);
}

void InstallDriverCrashReport() { platform::InstallCrashWriter(&WriteCrashWords); }

} // namespace driver
