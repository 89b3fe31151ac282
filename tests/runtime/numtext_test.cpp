#include "runtime/exceptions.h"
#include "runtime/numtext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace runtime;

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Every text rule runs under both separators. Expected texts are written with '.', which the
// fixture turns into the separator under test.
class NumText : public ::testing::TestWithParam<char> {
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        FormatSettings().DecimalSeparator = GetParam();
    }
    void TearDown() override { FormatSettings() = FSaved; }

    std::string Localised(std::string text) const
    {
        for (char& c : text)
            if (c == '.')
                c = GetParam();
        return text;
    }
    char OtherSeparator() const { return GetParam() == '.' ? ',' : '.'; }
    std::string WithOtherSeparator(std::string text) const
    {
        for (char& c : text)
            if (c == '.')
                c = OtherSeparator();
        return text;
    }

private:
    TFormatSettings FSaved;
};

INSTANTIATE_TEST_SUITE_P(Separators, NumText, ::testing::Values('.', ','),
                         [](const auto& info) { return info.param == '.' ? "Point" : "Comma"; });

struct TFloatCase {
    double Value;
    const char* Text;
};

TEST_P(NumText, FloatToStrFollowsTheFifteenDigitRule)
{
    const std::vector<TFloatCase> cases = {
        {0.0, "0"},
        {-0.0, "0"},
        {1.0, "1"},
        {-1.0, "-1"},
        {100.0, "100"},
        {12.5, "12.5"},
        {-12.5, "-12.5"},
        {0.1 + 0.2, "0.3"},                         // rounded at the 15th digit
        {1.23456789012345678, "1.23456789012346"},  // 15 significant digits, rounded up
        {123456789012345.6, "123456789012346"},
        {0.0001, "0.0001"},                         // lowest fixed value
        {-0.0001, "-0.0001"},
        {0.00009999, "9.999E-5"},                   // just below: scientific
        {0.00009999999999999999, "0.0001"},         // rounds up to 0.0001: fixed
        {1e-5, "1E-5"},
        {-2.5e-7, "-2.5E-7"},
        {999999999999999.0, "999999999999999"},     // just below 10^15: fixed
        {999999999999999.9, "1E15"},                // rounds to 10^15: scientific
        {1e15, "1E15"},
        {-2e15, "-2E15"},
        {1.5e20, "1.5E20"},
        {1e100, "1E100"},
        {1e-100, "1E-100"},
        {std::numeric_limits<double>::max(), "1.79769313486232E308"},
        {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
        {NaN, "NAN"},
        {Inf, "INF"},
        {-Inf, "-INF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FloatToStr(c.Value), Localised(c.Text)) << "value " << c.Value;
}

struct TMoneyCase {
    std::int64_t Money;
    const char* Text;
};

TEST_P(NumText, CurrToStrShowsEveryDigit)
{
    const std::vector<TMoneyCase> cases = {
        {0, "0"},
        {10000, "1"},
        {-10000, "-1"},
        {125000, "12.5"},
        {-125000, "-12.5"},
        {1, "0.0001"},
        {-1, "-0.0001"},
        {312, "0.0312"},
        {123457, "12.3457"},
        {std::numeric_limits<std::int64_t>::min(), "-922337203685477.5808"},
        {std::numeric_limits<std::int64_t>::max(), "922337203685477.5807"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CurrToStr(c.Money), Localised(c.Text)) << "money " << c.Money;
}

TEST_P(NumText, CurrToFloatStrAppliesTheFifteenDigitRule)
{
    const std::vector<TMoneyCase> cases = {
        {0, "0"},
        {125000, "12.5"},
        {1, "0.0001"},
        {-5, "-0.0005"},
        {123457, "12.3457"},
        {std::numeric_limits<std::int64_t>::min(), "-922337203685478"},
        {std::numeric_limits<std::int64_t>::max(), "922337203685478"},
        {1234567890123456789, "123456789012346"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CurrToFloatStr(c.Money), Localised(c.Text)) << "money " << c.Money;
}

TEST_P(NumText, FormatFixed3GivesThreeDecimals)
{
    const std::vector<TFloatCase> cases = {
        {0.0, "0.000"},
        {0.01, "0.010"},
        {1.5, "1.500"},
        {-0.001, "-0.001"},
        {1234.5678, "1234.568"},
        {0.0004, "0.000"},
        {1e15, "1000000000000000.000"},
        {NaN, "NAN"},
        {Inf, "INF"},
        {-Inf, "-INF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatFixed3(c.Value), Localised(c.Text)) << "value " << c.Value;
    EXPECT_EQ(FormatFixed3(std::numeric_limits<double>::max()).size(), 309u + 4u);
}

struct TParseCase {
    double Value;
    std::string Text;
};

TEST_P(NumText, StrToFloatCheckedReadsLocaleNumbers)
{
    const std::vector<TParseCase> cases = {
        {1.5, "1.5"},
        {-1.5, "-1.5"},
        {2.0, "+2"},
        {0.5, ".5"},
        {5.0, "5."},
        {0.0, "0"},
        {0.0, "-0.000"},
        {1e5, "1e5"},
        {1e-5, "1E-5"},
        {-2500.0, "-2.5e+3"},
        {0.03125, "0.03125"},
        {7.0, "  7  "},
        {0.0, "1e-400"},  // below the smallest subnormal
        {0.0, "0e999999999999999999999"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
        {1e300, "1" + std::string(300, '0')},
        {1.0 / 3.0, "0." + std::string(400, '3')},
        {1e-300, "0." + std::string(299, '0') + "1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StrToFloatChecked(Localised(c.Text)), c.Value) << c.Text.substr(0, 40);
}

TEST_P(NumText, StrToFloatCheckedRejectsWhatIsNotANumber)
{
    const std::vector<std::string> texts = {
        "", " ", "abc", "1.2.3", "1e", "e5", ".", "-", "+", "-.", ".e1", "1e+", "NaN", "INF", "-inf",
        "1e400", "-1e400", "1e99999999999999999999", "1.8e308", "1 5", "1e5.5", "\t1", "1\n", "0x10",
        "1.5abc", "--1", "+-1", "1_000", "١",
        std::string(10000, '1'),           // 10^9999: beyond the double range
        std::string(10000, 'x'),
    };
    for (const auto& text : texts) {
        const std::string localised = Localised(text);
        EXPECT_THROW(StrToFloatChecked(localised), EConvertError) << localised.substr(0, 40);
    }
}

TEST_P(NumText, ParsersRejectTheOtherSeparator)
{
    for (const char* text : {"1.5", "-0.25", ".5", "1.5e3"})
        EXPECT_THROW(StrToFloatChecked(WithOtherSeparator(text)), EConvertError) << text;
    EXPECT_THROW(StrToIntChecked(Localised("1.0")), EConvertError);
    EXPECT_THROW(StrToIntChecked(WithOtherSeparator("1.0")), EConvertError);
}

TEST_P(NumText, NumberTextReadsBackThroughTheParser)
{
    for (double value : {0.3, -12.5, 1e-5, 0.0001, 999999999999999.0, 1.5e20, -2.5e-7, 123.456})
        EXPECT_EQ(StrToFloatChecked(FloatToStr(value)), value) << value;
    for (std::int64_t money : {std::int64_t(312), std::int64_t(-125000), std::int64_t(123457)})
        EXPECT_EQ(AmountToMoney(StrToFloatChecked(CurrToStr(money))), money) << money;
}

TEST_P(NumText, TypedHalfOfATenThousandthGoesToEven)
{
    // 0,03125 in a comma locale (or 0.03125 in a point locale) is exactly 312.5 ten-thousandths.
    EXPECT_EQ(AmountToMoney(StrToFloatChecked(Localised("0.03125"))), 312);
    EXPECT_EQ(AmountToMoney(StrToFloatChecked(Localised("0.00005"))), 0);
    EXPECT_EQ(AmountToMoney(StrToFloatChecked(Localised("0.00015"))), 2);
}

struct TIntCase {
    std::int32_t Value;
    const char* Text;
};

TEST(StrToIntChecked, ReadsThirtyTwoBitIntegers)
{
    const std::vector<TIntCase> cases = {
        {0, "0"},          {0, "-0"},       {5, "+5"},       {-5, "-5"},        {7, "007"},
        {42, " 42 "},      {2147483647, "2147483647"},       {-2147483647 - 1, "-2147483648"},
        {12, "0000000000000000000000000000012"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StrToIntChecked(c.Text), c.Value) << c.Text;
}

TEST(StrToIntChecked, RejectsWhatIsNotA32BitInteger)
{
    const std::vector<std::string> texts = {
        "", " ", "abc", "1,0", "1.0", "2147483648", "-2147483649", "99999999999999999999", "1e3", "--1",
        "+-1", "-", "+", "1 2", "\t1", "0x10", "12abc", std::string(400, '9'), std::string(10000, 'x'),
    };
    for (const auto& text : texts)
        EXPECT_THROW(StrToIntChecked(text), EConvertError) << text.substr(0, 40);
}

TEST(ParserMessages, QuoteTheTextAsGiven)
{
    const auto messageOf = [](auto parse, const std::string& text) {
        try {
            parse(text);
        } catch (const EConvertError& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    const auto parseFloat = [](const std::string& t) { StrToFloatChecked(t); };
    const auto parseInt = [](const std::string& t) { StrToIntChecked(t); };

    EXPECT_EQ(messageOf(parseFloat, ""), "\"\" не является дробным числом");
    EXPECT_EQ(messageOf(parseFloat, " abc "), "\" abc \" не является дробным числом");
    EXPECT_EQ(messageOf(parseFloat, "вес"), "\"вес\" не является дробным числом");
    EXPECT_EQ(messageOf(parseInt, ""), "\"\" не является целым числом");
    EXPECT_EQ(messageOf(parseInt, "2147483648"), "\"2147483648\" не является целым числом");
    EXPECT_EQ(messageOf(parseInt, "цена"), "\"цена\" не является целым числом");
}

TEST(AmountToMoney, RoundsToNearestTenThousandthHalfToEven)
{
    const std::vector<std::pair<double, std::int64_t>> cases = {
        {0.0, 0},
        {-0.0, 0},
        {0.03125, 312},    // exactly 312.5
        {-0.03125, -312},
        {0.09375, 938},    // exactly 937.5
        {12.345678, 123457},
        {12.5, 125000},
        {-12.5, -125000},
        {0.00005, 0},      // the typed half goes to even
        {0.00015, 2},
        {0.00025, 2},
        {-0.00015, -2},
        {1.00005, 10000},
        {0.00004999, 0},
        {0.00005001, 1},
        {1e-300, 0},
        {922337203685477.5, 9223372036854775000},
        {-922337203685477.5, -9223372036854775000},
    };
    for (const auto& [amount, money] : cases)
        EXPECT_EQ(AmountToMoney(amount), money) << amount;
}

TEST(AmountToMoney, OutsideTheSixtyFourBitRangeIsAnInvalidOperation)
{
    for (double amount : {1e16, -1e16, 922337203685477.6, -922337203685477.7, 9223372036854775808.0, 1e300,
                          std::numeric_limits<double>::max(), NaN, Inf, -Inf}) {
        try {
            AmountToMoney(amount);
            ADD_FAILURE() << "no error for " << amount;
        } catch (const EInvalidOp& e) {
            EXPECT_EQ(e.Message(), "Invalid floating point operation");
        }
    }
}

TEST(IntToStr, WritesDecimalText)
{
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-42), "-42");
    EXPECT_EQ(IntToStr(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

} // namespace
