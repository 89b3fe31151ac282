#include "runtime/numtext.h"

#include "runtime/exceptions.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace runtime {
namespace {

// A positive decimal number d1.d2d3...dn x 10^Exponent; Digits has no leading zero.
struct TDecimal {
    std::string Digits;
    int Exponent = 0;
};

// Splits the text of std::to_chars in scientific form ("d.ddde+XX") into digits and exponent.
TDecimal SplitScientific(std::string_view text)
{
    TDecimal result;
    const std::size_t ePos = text.find('e');
    for (char c : text.substr(0, ePos))
        if (c != '.')
            result.Digits += c;
    std::string_view exponent = text.substr(ePos + 1);
    if (!exponent.empty() && exponent.front() == '+')
        exponent.remove_prefix(1);
    std::from_chars(exponent.data(), exponent.data() + exponent.size(), result.Exponent);
    return result;
}

// The decimal digits of a finite, positive value: rounded to `significant` digits, or the
// shortest digits that read back as the same double when significant is 0. Trailing zeros are
// dropped.
TDecimal ToDecimal(double positive, int significant)
{
    std::array<char, 64> buffer{};
    const auto [end, ec] = significant > 0
        ? std::to_chars(buffer.data(), buffer.data() + buffer.size(), positive, std::chars_format::scientific, significant - 1)
        : std::to_chars(buffer.data(), buffer.data() + buffer.size(), positive, std::chars_format::scientific);
    TDecimal result = SplitScientific(std::string_view(buffer.data(), end - buffer.data()));
    const std::size_t last = result.Digits.find_last_not_of('0');
    result.Digits.erase(last == std::string::npos ? 1 : last + 1);
    return result;
}

std::string NonFiniteText(double value)
{
    if (std::isnan(value))
        return "NAN";
    return value < 0 ? "-INF" : "INF";
}

std::string FixedText(const TDecimal& d, char separator)
{
    if (d.Exponent >= 0) {
        const std::size_t intDigits = static_cast<std::size_t>(d.Exponent) + 1;
        if (d.Digits.size() <= intDigits)
            return d.Digits + std::string(intDigits - d.Digits.size(), '0');
        return d.Digits.substr(0, intDigits) + separator + d.Digits.substr(intDigits);
    }
    return std::string("0") + separator + std::string(static_cast<std::size_t>(-d.Exponent - 1), '0') + d.Digits;
}

std::string ScientificText(const TDecimal& d, char separator)
{
    std::string text(1, d.Digits.front());
    if (d.Digits.size() > 1)
        text += separator + d.Digits.substr(1);
    return text + 'E' + std::to_string(d.Exponent);
}

// Blanks (spaces) around a number are tolerated; anything else around it is an error.
std::string_view TrimBlanks(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Takes an optional sign from the front of text; true when it was '-'.
bool TakeSign(std::string_view& text)
{
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        const bool negative = text.front() == '-';
        text.remove_prefix(1);
        return negative;
    }
    return false;
}

std::string_view TakeDigits(std::string_view& text)
{
    std::size_t count = 0;
    while (count < text.size() && IsDigit(text[count]))
        ++count;
    const std::string_view digits = text.substr(0, count);
    text.remove_prefix(count);
    return digits;
}

// A decimal exponent's digits as a number, saturated far beyond any double's range.
long long SaturatedExponent(std::string_view digits)
{
    constexpr long long limit = 1'000'000'000;
    long long value = 0;
    for (char c : digits)
        value = std::min(limit, value * 10 + (c - '0'));
    return value;
}

// The parsed form of a float text: value = 0.Digits x 10^Exponent, with Digits free of
// leading and trailing zeros (empty for zero).
struct TParsedFloat {
    bool Negative = false;
    std::string Digits;
    long long Exponent = 0;
};

bool ParseFloatSyntax(std::string_view text, char separator, TParsedFloat& parsed)
{
    parsed.Negative = TakeSign(text);
    const std::string_view intPart = TakeDigits(text);
    std::string_view fracPart;
    if (!text.empty() && text.front() == separator) {
        text.remove_prefix(1);
        fracPart = TakeDigits(text);
    }
    if (intPart.empty() && fracPart.empty())
        return false;
    long long exponent = 0;
    if (!text.empty() && (text.front() == 'e' || text.front() == 'E')) {
        text.remove_prefix(1);
        const bool negativeExponent = TakeSign(text);
        const std::string_view expDigits = TakeDigits(text);
        if (expDigits.empty())
            return false;
        exponent = negativeExponent ? -SaturatedExponent(expDigits) : SaturatedExponent(expDigits);
    }
    if (!text.empty())
        return false;

    std::string digits = std::string(intPart) + std::string(fracPart);
    exponent += static_cast<long long>(intPart.size());
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        parsed.Digits.clear();
        parsed.Exponent = 0;
        return true;
    }
    exponent -= static_cast<long long>(first);
    digits.erase(0, first);
    digits.erase(digits.find_last_not_of('0') + 1);
    parsed.Digits = std::move(digits);
    parsed.Exponent = exponent;
    return true;
}

// Converts the parsed form; false on overflow. Underflow gives a (signed) zero.
bool ParsedFloatValue(const TParsedFloat& parsed, double& value)
{
    const double zero = parsed.Negative ? -0.0 : 0.0;
    // 0.D x 10^E is below 10^-330 (far under the smallest subnormal) or at least 10^310.
    if (parsed.Digits.empty() || parsed.Exponent < -330) {
        value = zero;
        return true;
    }
    if (parsed.Exponent > 310)
        return false;
    const std::string text = (parsed.Negative ? "-0." : "0.") + parsed.Digits + 'e' + std::to_string(parsed.Exponent);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        if (parsed.Exponent > 0)
            return false;
        value = zero;
        return true;
    }
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

[[noreturn]] void RaiseNotA(std::string_view text, const char* kind)
{
    throw EConvertError("\"" + std::string(text) + "\" не является " + kind);
}

} // namespace

TFormatSettings& FormatSettings()
{
    static TFormatSettings settings;
    return settings;
}

std::string IntToStr(std::int64_t value)
{
    return std::to_string(value);
}

std::string FloatToStr(double value)
{
    if (!std::isfinite(value))
        return NonFiniteText(value);
    if (value == 0)
        return "0";
    const TDecimal d = ToDecimal(std::fabs(value), 15);
    const char separator = FormatSettings().DecimalSeparator;
    const bool fixed = d.Exponent >= -4 && d.Exponent < 15;
    const std::string text = fixed ? FixedText(d, separator) : ScientificText(d, separator);
    return value < 0 ? "-" + text : text;
}

std::string CurrToStr(std::int64_t money)
{
    // The magnitude as unsigned, so that the most negative value keeps every digit.
    const std::uint64_t magnitude = money < 0 ? 0 - static_cast<std::uint64_t>(money) : static_cast<std::uint64_t>(money);
    std::string text = (money < 0 ? "-" : "") + std::to_string(magnitude / 10000);
    std::string fraction = std::to_string(magnitude % 10000 + 10000).substr(1); // four digits
    fraction.erase(fraction.find_last_not_of('0') + 1);
    if (!fraction.empty())
        text += FormatSettings().DecimalSeparator + fraction;
    return text;
}

std::string CurrToFloatStr(std::int64_t money)
{
    return FloatToStr(static_cast<double>(static_cast<long double>(money) / 10000.0L));
}

std::string FormatFixed3(double value)
{
    if (!std::isfinite(value))
        return NonFiniteText(value);
    // Up to 309 integer digits, the point and three decimals; never shorter than the width 2.
    std::array<char, 400> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 3);
    std::string text(buffer.data(), end);
    text[text.find('.')] = FormatSettings().DecimalSeparator;
    return text;
}

double StrToFloatChecked(std::string_view text)
{
    TParsedFloat parsed;
    double value = 0;
    if (!ParseFloatSyntax(TrimBlanks(text), FormatSettings().DecimalSeparator, parsed) || !ParsedFloatValue(parsed, value))
        RaiseNotA(text, "дробным числом");
    return value;
}

std::int32_t StrToIntChecked(std::string_view text)
{
    std::string_view rest = TrimBlanks(text);
    const bool negative = TakeSign(rest);
    const std::string_view digits = TakeDigits(rest);
    if (digits.empty() || !rest.empty())
        RaiseNotA(text, "целым числом");
    const std::string normalised = (negative ? "-" : "") + std::string(digits);
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(normalised.data(), normalised.data() + normalised.size(), value);
    if (ec != std::errc() || end != normalised.data() + normalised.size())
        RaiseNotA(text, "целым числом");
    return value;
}

std::int64_t AmountToMoney(double amount)
{
    if (!std::isfinite(amount))
        throw EInvalidOp();
    if (amount == 0)
        return 0;
    // The amount's shortest decimal digits (what was typed, when it came from a text) scaled by
    // 10^4, so that a typed half such as 0.00005 is an exact half and goes to the even integer.
    const TDecimal d = ToDecimal(std::fabs(amount), 0);
    const int intDigits = d.Exponent + 4 + 1; // digits before the point of amount x 10^4
    if (intDigits > 19)                         // at least 10^19, beyond 2^63
        throw EInvalidOp();

    std::uint64_t magnitude = 0;
    for (int i = 0; i < intDigits; ++i)
        magnitude = magnitude * 10 + (i < static_cast<int>(d.Digits.size()) ? d.Digits[i] - '0' : 0);
    if (intDigits >= 0 && intDigits < static_cast<int>(d.Digits.size())) {
        const int firstDropped = d.Digits[intDigits] - '0';
        const bool moreDropped = static_cast<int>(d.Digits.size()) > intDigits + 1; // no trailing zeros
        if (firstDropped > 5 || (firstDropped == 5 && (moreDropped || magnitude % 2 == 1)))
            ++magnitude;
    }

    constexpr std::uint64_t limit = std::uint64_t(1) << 63; // |INT64_MIN|
    if (amount < 0) {
        if (magnitude > limit)
            throw EInvalidOp();
        return static_cast<std::int64_t>(0 - magnitude);
    }
    if (magnitude >= limit)
        throw EInvalidOp();
    return static_cast<std::int64_t>(magnitude);
}

} // namespace runtime
