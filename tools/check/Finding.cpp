#include "tools/check/Finding.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace check {

namespace {
std::atomic<std::uint64_t> GCalls{0};
std::chrono::milliseconds GLimit{5000};
} // namespace

std::string StatusWords(long status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status) & 0xFFFFFFFFul);
    return text;
}

void TCalls::SetLimit(std::chrono::milliseconds limit) { GLimit = limit.count() > 0 ? limit : std::chrono::hours(24 * 365); }
std::chrono::milliseconds TCalls::Limit() { return GLimit; }
std::uint64_t TCalls::Count() { return GCalls.load(std::memory_order_relaxed); }
void TCalls::Counted() noexcept { GCalls.fetch_add(1, std::memory_order_relaxed); }

std::string TCalls::Name(const char* member, driver::TCallDirection direction, const driver::TCallValue* argument)
{
    std::string name = std::string(driver::TraceDirectionWord(direction)) + " " + member;
    if (argument && !std::holds_alternative<std::monostate>(*argument))
        name += " " + driver::FormatTraceValue(*argument);
    return name;
}

void TCalls::Thrown(std::string call, std::exception_ptr e)
{
    std::string what = "a C++ exception";
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        what += ": " + std::string(x.what());
    } catch (...) {
    }
    throw EInterrupted{"exception", TFinding{std::move(call), "a status, no exception", what, {}}};
}

void TCalls::Overdue(std::string call, std::chrono::steady_clock::duration took)
{
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    throw EInterrupted{"hang", TFinding{std::move(call), "a return within " + std::to_string(GLimit.count()) + " ms",
                                       "it returned after " + std::to_string(ms) + " ms", {}}};
}

} // namespace check
