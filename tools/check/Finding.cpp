#include "tools/check/Finding.h"

#include "platform/ole.h"
#include "tools/check/Rules.h"

#include <atomic>
#include <cstdio>
#include <optional>
#include <stdexcept>

namespace check {

namespace {
std::atomic<std::uint64_t> GCalls{0};
std::chrono::milliseconds GLimit{5000};
} // namespace

namespace {
std::optional<TFinding> GWarning;
} // namespace

void Warn(std::string member, std::string expected, std::string observed)
{
    if (!GWarning)
        GWarning = TFinding{std::move(member), std::move(expected), std::move(observed), {}};
}

bool TakeWarning(TFinding& warning)
{
    const bool warned = GWarning.has_value();
    if (warned)
        warning = std::move(*GWarning);
    GWarning.reset();
    return warned;
}

std::string StatusWords(long status)
{
    struct TNamed {
        HRESULT Status;
        const char* Name;
    };
    // The statuses the rules expect or an automation object commonly answers.
    static constexpr TNamed Named[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_POINTER, "E_POINTER"},
        {E_ABORT, "E_ABORT"},
        {E_FAIL, "E_FAIL"},
        {E_UNEXPECTED, "E_UNEXPECTED"},
        {E_ACCESSDENIED, "E_ACCESSDENIED"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
        {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
        {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
        {RPC_E_WRONG_THREAD, "RPC_E_WRONG_THREAD"},
        {static_cast<HRESULT>(0x80040004L), "OLE_E_NOCONNECTION"},
        {DISP_E_UNKNOWNINTERFACE, "DISP_E_UNKNOWNINTERFACE"},
        {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND"},
        {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND"},
        {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH"},
        {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME"},
        {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE"},
        {DISP_E_EXCEPTION, "DISP_E_EXCEPTION"},
        {DISP_E_OVERFLOW, "DISP_E_OVERFLOW"},
        {DISP_E_BADINDEX, "DISP_E_BADINDEX"},
        {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT"},
        {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL"},
        {CONNECT_E_NOCONNECTION, "CONNECT_E_NOCONNECTION"},
        {CONNECT_E_ADVISELIMIT, "CONNECT_E_ADVISELIMIT"},
        {CONNECT_E_CANNOTCONNECT, "CONNECT_E_CANNOTCONNECT"},
        {static_cast<HRESULT>(0x8002801DL), "TYPE_E_LIBNOTREGISTERED"},
        {static_cast<HRESULT>(0x8002802BL), "TYPE_E_ELEMENTNOTFOUND"},
    };
    for (const TNamed& named : Named)
        if (named.Status == static_cast<HRESULT>(status))
            return named.Name;
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status) & 0xFFFFFFFFul);
    return text;
}

void TCalls::SetLimit(std::chrono::milliseconds limit) { GLimit = limit; }
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
    throw EInterrupted{rule::Exception, TFinding{std::move(call), "a status, no exception", what, {}}};
}

void TCalls::Overdue(std::string call, std::chrono::steady_clock::duration took)
{
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    throw EInterrupted{rule::Hang, TFinding{std::move(call), "a return within " + std::to_string(GLimit.count()) + " ms",
                                       "it returned after " + std::to_string(ms) + " ms", {}}};
}

} // namespace check
