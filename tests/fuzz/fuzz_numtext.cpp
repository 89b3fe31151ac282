// Fuzz target for the number text, the number parsers, money rounding and the UTF conversion.
// The first input byte picks the decimal separator; the rest is the text. Every property that
// fails aborts, which libFuzzer reports as a crash and the corpus replay as a failed test.
#include "runtime/exceptions.h"
#include "runtime/numtext.h"
#include "runtime/utf.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <string>
#include <string_view>

using namespace runtime;

namespace {

[[noreturn]] void Fail(const char* what, std::string_view detail)
{
    std::fprintf(stderr, "property failed: %s [%.*s]\n", what, static_cast<int>(std::min<std::size_t>(detail.size(), 200)),
                 detail.data());
    std::abort();
}

#define CHECK(condition, detail)             \
    do {                                     \
        if (!(condition))                    \
            Fail(#condition, (detail));      \
    } while (false)

// The value rounded to 15 significant digits, computed apart from the code under test; false
// when that rounding leaves the double range (the largest doubles round up to 1.79769313486232E308).
bool RoundedTo15Digits(double value, double& rounded)
{
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14).ptr;
    return std::from_chars(buffer, end, rounded, std::chars_format::scientific).ec == std::errc();
}

std::string Quoted(std::string_view text, const char* kind)
{
    return "\"" + std::string(text) + "\" не является " + kind;
}

// Number text of a finite value reads back as the value rounded to 15 digits, and the fixed
// three-decimal text has the separator followed by exactly three digits.
void CheckNumberText(double value)
{
    const char separator = FormatSettings().DecimalSeparator;
    const std::string text = FloatToStr(value);
    CHECK(!text.empty() && text.size() <= 24, text);
    const std::string fixed = FormatFixed3(value);
    if (!std::isfinite(value)) {
        CHECK(text == fixed, text);
        return;
    }
    const std::size_t point = fixed.find(separator);
    CHECK(point != std::string::npos && point + 4 == fixed.size(), fixed);

    double rounded = 0;
    if (!RoundedTo15Digits(value, rounded)) {
        // Beyond the double range once rounded: the text must not read back as a number.
        CHECK(std::fabs(value) > 1.79769313486231e308, text);
        bool parsed = true;
        try {
            StrToFloatChecked(text);
        } catch (const EConvertError&) {
            parsed = false;
        }
        CHECK(!parsed, text);
        return;
    }
    double back = 0;
    try {
        back = StrToFloatChecked(text);
    } catch (const EConvertError&) {
        Fail("number text does not parse", text);
    }
    CHECK(back == rounded, text);
    CHECK(FloatToStr(back) == text, text);
}

// Money text of any 64-bit value parses back, and below 10^15 ten-thousandths (15 digits) the
// amount converts back to the very same money.
void CheckMoneyText(std::int64_t money)
{
    const std::string text = CurrToStr(money);
    const std::string floatText = CurrToFloatStr(money);
    double amount = 0;
    try {
        amount = StrToFloatChecked(text);
        StrToFloatChecked(floatText);
    } catch (const EConvertError&) {
        Fail("money text does not parse", text + " / " + floatText);
    }
    if (money > -1'000'000'000'000'000 && money < 1'000'000'000'000'000)
        CHECK(AmountToMoney(amount) == money, text);
}

void CheckMoneyFromAmount(double amount)
{
    std::int64_t money = 0;
    try {
        money = AmountToMoney(amount);
    } catch (const EInvalidOp&) {
        CHECK(!std::isfinite(amount) || std::fabs(amount) >= 9.2e14, FloatToStr(amount));
        return;
    }
    CHECK(std::isfinite(amount) && std::fabs(amount) < 9.3e14, FloatToStr(amount));
    // Within half a ten-thousandth, allowing for the double's own precision.
    const long double error = std::fabs(static_cast<long double>(money) / 10000.0L - amount);
    CHECK(error <= 0.00005L + std::fabs(amount) * 1e-15L, FloatToStr(amount));
    CheckMoneyText(money);
}

void CheckParsers(std::string_view text)
{
    bool isFloat = false;
    double value = 0;
    try {
        value = StrToFloatChecked(text);
        isFloat = true;
    } catch (const EConvertError& e) {
        CHECK(e.Message() == Quoted(text, "дробным числом"), text);
    }
    if (isFloat) {
        CHECK(std::isfinite(value), text);
        CheckNumberText(value);
        CheckMoneyFromAmount(value);
    }

    try {
        const std::int32_t number = StrToIntChecked(text);
        // Every integer text is a float text of the same value.
        CHECK(isFloat && value == number, text);
        CHECK(StrToIntChecked(IntToStr(number)) == number, text);
    } catch (const EConvertError& e) {
        CHECK(e.Message() == Quoted(text, "целым числом"), text);
    }
}

void CheckUtf(std::string_view bytes)
{
    const std::u16string utf16 = Utf8ToUtf16(bytes);
    const std::string utf8 = Utf16ToUtf8(utf16);
    // One conversion leaves well-formed text, which then round-trips unchanged.
    CHECK(Utf8ToUtf16(utf8) == utf16, bytes);
    if (utf16.find(u'\uFFFD') == std::u16string::npos)
        CHECK(utf8 == bytes, bytes);

    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    const std::string fromUnits = Utf16ToUtf8(units);
    CHECK(Utf16ToUtf8(Utf8ToUtf16(fromUnits)) == fromUnits, bytes);
    CHECK(Utf8ToUtf16(fromUnits).size() == units.size(), bytes); // one unit per unit or pair
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    FormatSettings().DecimalSeparator = (data[0] & 1) ? ',' : '.';
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    CheckParsers(text);
    CheckUtf(text);

    // The raw bytes as a double and as money: every bit pattern, NaNs and infinities included.
    if (text.size() >= 8) {
        double value = 0;
        std::int64_t money = 0;
        std::memcpy(&value, text.data(), 8);
        std::memcpy(&money, text.data(), 8);
        CheckNumberText(value);
        CheckMoneyFromAmount(value);
        CheckMoneyText(money);
    }
    return 0;
}
