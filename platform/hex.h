// Hexadecimal digits both ways, for every text written or read in hexadecimal. Header only: the
// driver host, which links no library of ours, uses it too.
#pragma once

namespace platform {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The value of one hexadecimal digit of either case; -1 for any other character.
constexpr int HexDigitValue(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f')
        return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F')
        return static_cast<int>(c - U'A') + 10;
    return -1;
}

} // namespace platform
