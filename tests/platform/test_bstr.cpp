#include "platform/bstr.h"
#include "platform/module.h"
#include "testserver.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::uint32_t BytePrefix(BSTR s)
{
    std::uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<const char*>(s) - 4, 4);
    return prefix;
}

TEST(Bstr, LayoutIsByteCountPrefixCharactersAndNul)
{
    const OLECHAR text[] = {u'a', 0, u'b', u'Ж'};
    BSTR s = SysAllocStringLen(text, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(BytePrefix(s), 8u);
    EXPECT_EQ(SysStringLen(s), 4u);
    EXPECT_EQ(s[4], 0);
    EXPECT_EQ(platform::BstrToU16(s), std::u16string(platform::AsU16(text), 4)); // the embedded NUL is kept
    SysFreeString(s);
}

TEST(Bstr, AllocStringStopsAtTheFirstNul)
{
    BSTR s = SysAllocString(platform::AsOleStr(u"ab\0cd"));
    EXPECT_EQ(SysStringLen(s), 2u);
    EXPECT_EQ(BytePrefix(s), 4u);
    SysFreeString(s);
}

TEST(Bstr, NullIsTheEmptyString)
{
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_TRUE(platform::BstrToU16(nullptr).empty());
    SysFreeString(nullptr);

    BSTR empty = SysAllocString(platform::AsOleStr(u""));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(empty[0], 0);
    SysFreeString(empty);
}

TEST(Bstr, AllocStringLenWithoutTextReservesTerminatedSpace)
{
    BSTR s = SysAllocStringLen(nullptr, 5);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 5u);
    EXPECT_EQ(s[5], 0);
    for (int i = 0; i < 5; ++i)
        s[i] = static_cast<OLECHAR>(u'0' + i); // the space is writable
    EXPECT_EQ(platform::BstrToU16(s), u"01234");
    SysFreeString(s);
}

TEST(Bstr, ImpossibleLengthFailsInsteadOfWrapping)
{
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, OwnerFreesAndConvertsBothWays)
{
    const std::u16string text(u"Весы\0x", 6);
    platform::BStr owned(text);
    EXPECT_EQ(owned.Text(), text);
    BSTR* out = owned.Out(); // frees what it held
    EXPECT_EQ(*out, nullptr);
    *out = SysAllocString(platform::AsOleStr(u"new"));
    EXPECT_EQ(owned.Text(), u"new");
}

// The host and the server module share libplatform's allocator: either side frees what the other
// allocated, and both read the same length prefix.
TEST(Bstr, CrossesTheModuleBoundaryBothWays)
{
    platform::Module server(TEST_SERVER_PATH);
    ASSERT_TRUE(server.Loaded()) << server.Error();
    auto alloc = reinterpret_cast<TestServerAllocBstrFn>(server.Symbol("TestServerAllocBstr"));
    auto free = reinterpret_cast<TestServerFreeBstrFn>(server.Symbol("TestServerFreeBstr"));
    auto length = reinterpret_cast<TestServerBstrLenFn>(server.Symbol("TestServerBstrLen"));
    ASSERT_TRUE(alloc && free && length);

    const OLECHAR text[] = {u'x', 0, u'y'};
    BSTR fromServer = alloc(text, 3);
    EXPECT_EQ(SysStringLen(fromServer), 3u);
    EXPECT_EQ(platform::BstrToU16(fromServer), std::u16string(platform::AsU16(text), 3));
    SysFreeString(fromServer);

    BSTR fromHost = SysAllocStringLen(text, 3);
    EXPECT_EQ(length(fromHost), 3u);
    free(fromHost);
}

} // namespace
