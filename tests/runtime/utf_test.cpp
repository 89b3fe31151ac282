#include "runtime/utf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace runtime;

TEST(Utf, CyrillicSurvivesBothWays)
{
    const std::string utf8 = "Весы №1 — тест ЁЖЩ ёжщ";
    const std::u16string utf16 = u"Весы №1 — тест ЁЖЩ ёжщ";
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
    EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(utf8)), utf8);
}

TEST(Utf, SupplementaryCharactersUseSurrogatePairs)
{
    const std::string utf8 = "a\xF0\x9F\x98\x80z\xF4\x8F\xBF\xBF"; // U+1F600, U+10FFFF
    const std::u16string utf16 = u"a\U0001F600z\U0010FFFF";
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
    EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
}

TEST(Utf, EmbeddedNulIsKept)
{
    const std::string utf8("a\0b", 3);
    EXPECT_EQ(Utf8ToUtf16(utf8), std::u16string(u"a\0b", 3));
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a\0b", 3)), utf8);
}

struct TMalformedCase {
    std::string Utf8;
    std::u16string Utf16;
    const char* What;
};

TEST(Utf, MalformedUtf8BecomesOneReplacementPerMaximalSubpart)
{
    const std::vector<TMalformedCase> cases = {
        {"\x80", u"\uFFFD", "lone continuation"},
        {"\xFF", u"\uFFFD", "byte never used"},
        {"a\xC3", u"a\uFFFD", "truncated at the end"},
        {"\xE2\x82x", u"\uFFFDx", "truncated before ASCII"},
        {"\xF0\x9F\x98" "a", u"\uFFFDa", "truncated four-byte sequence"},
        {"\xD0\xD0\x92", u"\uFFFDВ", "lead followed by a lead"},
        {"\xC0\xAF", u"\uFFFD\uFFFD", "overlong two-byte"},
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", "overlong three-byte"},
        {"\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD", "overlong four-byte"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", "encoded surrogate"},
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", "above U+10FFFF"},
        {"\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", "five-byte form"},
        {"Ж\x80Ж", u"Ж\uFFFDЖ", "stray byte between letters"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8ToUtf16(c.Utf8), c.Utf16) << c.What;
}

TEST(Utf, LoneSurrogatesBecomeReplacementCharacters)
{
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), fffd);
    EXPECT_EQ(Utf16ToUtf8(u"a" + std::u16string(1, char16_t(0xDC00)) + u"b"), "a" + fffd + "b");
    // A high surrogate followed by a pair: the first is lone, the pair is U+10000.
    const std::u16string highThenPair = {char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)};
    EXPECT_EQ(Utf16ToUtf8(highThenPair), fffd + "\xF0\x90\x80\x80");
    // Reversed pair: two lone surrogates.
    const std::u16string reversed = {char16_t(0xDC00), char16_t(0xD800)};
    EXPECT_EQ(Utf16ToUtf8(reversed), fffd + fffd);
}

TEST(Utf, BoundaryCodePointsRoundTrip)
{
    for (char32_t code : {U'\u007F', U'\u0080', U'\u07FF', U'\u0800', U'\uD7FF', U'\uE000', U'\uFFFF',
                          U'\U00010000', U'\U0010FFFF'}) {
        const std::u32string one(1, code);
        std::u16string utf16;
        if (code < 0x10000) {
            utf16 += static_cast<char16_t>(code);
        } else {
            utf16 += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            utf16 += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
        EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(utf16)), utf16) << std::hex << static_cast<unsigned>(code);
    }
    EXPECT_EQ(Utf16ToUtf8(u"\u07FF\u0800"), "\xDF\xBF\xE0\xA0\x80");
}

} // namespace
