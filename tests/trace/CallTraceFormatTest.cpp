// One trace line for each kind of value, a failed call and an event.
#include "driver/CallTrace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

using namespace std::chrono_literals;
using driver::TCallDirection;
using driver::TDriverCall;

namespace {

TDriverCall Make(const char* member, TCallDirection direction, driver::TCallValue value,
                 std::chrono::nanoseconds duration = 12'345ns)
{
    TDriverCall call;
    call.Member = member;
    call.Direction = direction;
    call.Value = std::move(value);
    call.Duration = duration;
    return call;
}

struct TLineCase {
    const char* Name;
    TDriverCall Call;
    std::string Line;
};

void PrintTo(const TLineCase& c, std::ostream* os) { *os << c.Name; }

class TraceLineTest : public ::testing::TestWithParam<TLineCase> {};

TEST_P(TraceLineTest, FormatsOneLine)
{
    EXPECT_EQ(driver::FormatDriverCall(GetParam().Call), GetParam().Line);
}

const driver::TTraceFlag True{VARIANT_TRUE}, False{VARIANT_FALSE};

INSTANTIATE_TEST_SUITE_P(
    Values, TraceLineTest,
    ::testing::Values(
        TLineCase{"IntegerRead", Make("ResultCode", TCallDirection::Read, std::int32_t{-7}), "get ResultCode = -7 (12.3 us)"},
        TLineCase{"IntegerWrite", Make("PortNumber", TCallDirection::Write, std::int32_t{32}), "put PortNumber 32 (12.3 us)"},
        TLineCase{"FlagTrue", Make("LockDevices", TCallDirection::Write, True), "put LockDevices -1 (12.3 us)"},
        TLineCase{"FlagFalse", Make("NonStable", TCallDirection::Read, False), "get NonStable = 0 (12.3 us)"},
        // A driver that answers a non-standard true: shown as it came, not as -1.
        TLineCase{"FlagRaw", Make("NegWeight", TCallDirection::Read, driver::TTraceFlag{1}), "get NegWeight = 1 (12.3 us)"},
        TLineCase{"Real", Make("Weight", TCallDirection::Read, 1.25), "get Weight = 1.25 (12.3 us)"},
        TLineCase{"RealRoundTrip", Make("WeightStep", TCallDirection::Write, 0.1), "put WeightStep 0.1 (12.3 us)"},
        TLineCase{"RealNegative", Make("TareWeight", TCallDirection::Read, -0.005), "get TareWeight = -0.005 (12.3 us)"},
        TLineCase{"Money", Make("UnitPrice", TCallDirection::Write, driver::TTraceMoney{123456}), "put UnitPrice 12.3456 (12.3 us)"},
        TLineCase{"MoneyWhole", Make("SalesPrice", TCallDirection::Read, driver::TTraceMoney{50000}), "get SalesPrice = 5.0000 (12.3 us)"},
        TLineCase{"MoneySmallNegative", Make("SalesPrice", TCallDirection::Read, driver::TTraceMoney{-5}), "get SalesPrice = -0.0005 (12.3 us)"},
        TLineCase{"MoneyMin", Make("UnitPrice", TCallDirection::Read, driver::TTraceMoney{std::numeric_limits<std::int64_t>::min()}),
                  "get UnitPrice = -922337203685477.5808 (12.3 us)"},
        TLineCase{"MoneyMax", Make("UnitPrice", TCallDirection::Read, driver::TTraceMoney{std::numeric_limits<std::int64_t>::max()}),
                  "get UnitPrice = 922337203685477.5807 (12.3 us)"},
        TLineCase{"Text", Make("CurrentDeviceName", TCallDirection::Write, std::string("Весы 1")),
                  "put CurrentDeviceName \"Весы 1\" (12.3 us)"},
        TLineCase{"TextEmpty", Make("ResultDescription", TCallDirection::Read, std::string()), "get ResultDescription = \"\" (12.3 us)"},
        TLineCase{"TextEscaped", Make("ResultDescription", TCallDirection::Read, std::string("a \"b\" \\ c\nd\te\x01")),
                  "get ResultDescription = \"a \\\"b\\\" \\\\ c\\nd\\te\\x01\" (12.3 us)"},
        TLineCase{"MethodResult", Make("AddDevice", TCallDirection::Call, std::int32_t{3}), "call AddDevice = 3 (12.3 us)"},
        TLineCase{"SubMicrosecond", Make("DataCount", TCallDirection::Read, std::int32_t{0}, 850ns), "get DataCount = 0 (0.8 us)"},
        TLineCase{"Event", Make("DataEvent", TCallDirection::Event, std::monostate{}, 0ns), "event DataEvent"}),
    [](const ::testing::TestParamInfo<TLineCase>& info) { return std::string(info.param.Name); });

TEST(TraceLine, FailedReadShowsStatusInHexAndTextWithoutValue)
{
    TDriverCall call = Make("Weight", TCallDirection::Read, std::monostate{}, 2'000ns);
    call.Status = static_cast<HRESULT>(0x80020009);
    call.StatusText = "Нет связи с весами";
    EXPECT_EQ(driver::FormatDriverCall(call), "get Weight failed: 0x80020009 \"Нет связи с весами\" (2.0 us)");
}

TEST(TraceLine, FailedWriteKeepsItsArgument)
{
    TDriverCall call = Make("UnitPrice", TCallDirection::Write, driver::TTraceMoney{10000}, 1'000ns);
    call.Status = E_FAIL;
    call.StatusText = "OLE error 80004005";
    EXPECT_EQ(driver::FormatDriverCall(call), "put UnitPrice 1.0000 failed: 0x80004005 \"OLE error 80004005\" (1.0 us)");
}

} // namespace
