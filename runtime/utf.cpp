#include "runtime/utf.h"

#include <cstdint>

namespace runtime {
namespace {

constexpr char32_t ReplacementChar = 0xFFFD;

// The allowed range of the second byte of a sequence led by lead (the first continuation
// byte carries the overlong, surrogate and above-U+10FFFF checks).
void SecondByteRange(unsigned char lead, unsigned char& low, unsigned char& high)
{
    low = 0x80;
    high = 0xBF;
    if (lead == 0xE0)
        low = 0xA0;
    else if (lead == 0xED)
        high = 0x9F;
    else if (lead == 0xF0)
        low = 0x90;
    else if (lead == 0xF4)
        high = 0x8F;
}

// Length of the sequence that lead starts, 0 when it cannot start one.
int SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Decodes one code point at pos and advances pos. A malformed sequence gives U+FFFD for its
// maximal subpart (the longest valid prefix, at least one byte), as Unicode recommends.
char32_t DecodeOne(std::string_view text, std::size_t& pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    const int length = SequenceLength(lead);
    ++pos;
    if (length == 1)
        return lead;
    if (length == 0)
        return ReplacementChar;

    char32_t code = lead & (0xFF >> (length + 1));
    for (int i = 1; i < length; ++i) {
        if (pos >= text.size())
            return ReplacementChar;
        const auto byte = static_cast<unsigned char>(text[pos]);
        unsigned char low = 0x80, high = 0xBF;
        if (i == 1)
            SecondByteRange(lead, low, high);
        if (byte < low || byte > high)
            return ReplacementChar; // this byte starts the next sequence
        code = (code << 6) | (byte & 0x3F);
        ++pos;
    }
    return code;
}

void AppendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

} // namespace

std::u16string Utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char32_t code = DecodeOne(text, pos);
        if (code < 0x10000) {
            out += static_cast<char16_t>(code);
        } else {
            const char32_t offset = code - 0x10000;
            out += static_cast<char16_t>(0xD800 | (offset >> 10));
            out += static_cast<char16_t>(0xDC00 | (offset & 0x3FF));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size() * 3 / 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            const char32_t code = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
            AppendUtf8(out, code);
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendUtf8(out, ReplacementChar);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::filesystem::path PathFromUtf8(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace runtime
