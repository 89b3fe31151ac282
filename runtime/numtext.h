// Number text and number parsing with the user's locale decimal separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace runtime {

// The format settings of the program, filled once at start-up from the user's locale.
struct TFormatSettings {
    char DecimalSeparator = '.';
};
TFormatSettings& FormatSettings();

// Decimal text of an integer, "-" when negative.
std::string IntToStr(std::int64_t value);

// The shortest decimal text with at most 15 significant digits: fixed notation when
// 0.0001 <= |value| < 1e15 (after rounding to 15 digits), else mantissa "E" exponent ("1E-5",
// "1.5E20", "-2E15"); "0" for zero; no trailing zeros, no thousands separators. Non-finite
// values give "NAN", "INF" and "-INF".
std::string FloatToStr(double value);

// Money (the amount x 10000 in a 64-bit integer) in fixed notation with every digit: 125000 ->
// "12.5", -9223372036854775808 -> "-922337203685477.5808".
std::string CurrToStr(std::int64_t money);

// Money converted to floating point and shown with FloatToStr.
std::string CurrToFloatStr(std::int64_t money);

// printf "%2.3f" with the locale separator: at least two characters, exactly three decimals
// (a negative value that rounds to zero keeps its sign, "-0.000", as printf does). Non-finite
// values give the texts of FloatToStr.
std::string FormatFixed3(double value);

// Parses a decimal number: optional sign, digits with the locale separator (at least one digit
// before or after it), optional exponent ("e" or "E", optional sign, digits). Spaces before and
// after the number are ignored; any other character, the other separator, "NaN"/"INF" and a
// value beyond the double range fail. A value below the smallest subnormal reads as zero.
// On failure raises EConvertError "\"<text>\" не является дробным числом" with the text as given.
double StrToFloatChecked(std::string_view text);

// Parses a 32-bit signed decimal integer: optional sign and digits, spaces around ignored. On
// failure (including overflow) raises EConvertError "\"<text>\" не является целым числом".
std::int32_t StrToIntChecked(std::string_view text);

// Money from an amount: amount x 10000 rounded to the nearest integer, an exact half to even.
// The amount is taken at its shortest decimal digits that read back as the same double (the
// digits typed, for a parsed text), so a typed half such as 0.00005 is a half: 0.00005 -> 0,
// 0.00015 -> 2, 0.03125 -> 312. Outside the 64-bit range (or not finite) raises EInvalidOp.
std::int64_t AmountToMoney(double amount);

} // namespace runtime
