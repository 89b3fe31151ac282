#include "platform/bstr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Text(REFGUID g)
{
    OLECHAR buffer[39];
    EXPECT_EQ(StringFromGUID2(g, buffer, 39), 39);
    return platform::AsU16(buffer);
}

struct KnownIid {
    const char* Name;
    const IID* Iid;
    const char16_t* Text;
};
void PrintTo(const KnownIid& k, std::ostream* os) { *os << k.Name; }

class InterfaceIds : public ::testing::TestWithParam<KnownIid> {};

TEST_P(InterfaceIds, HaveTheirSystemValues)
{
    EXPECT_EQ(Text(*GetParam().Iid), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InterfaceIds,
    ::testing::Values(
        KnownIid{"IUnknown", &IID_IUnknown, u"{00000000-0000-0000-C000-000000000046}"},
        KnownIid{"IDispatch", &IID_IDispatch, u"{00020400-0000-0000-C000-000000000046}"},
        KnownIid{"IClassFactory", &IID_IClassFactory, u"{00000001-0000-0000-C000-000000000046}"},
        KnownIid{"IPersist", &IID_IPersist, u"{0000010C-0000-0000-C000-000000000046}"},
        KnownIid{"IErrorInfo", &IID_IErrorInfo, u"{1CF2B120-547D-101B-8E65-08002B2BD119}"},
        KnownIid{"ICreateErrorInfo", &IID_ICreateErrorInfo, u"{22F03340-547D-101B-8E65-08002B2BD119}"},
        KnownIid{"ISupportErrorInfo", &IID_ISupportErrorInfo, u"{DF0B3D60-548F-101B-8E65-08002B2BD119}"},
        KnownIid{"IConnectionPointContainer", &IID_IConnectionPointContainer,
                 u"{B196B284-BAB4-101A-B69C-00AA00341D07}"},
        KnownIid{"IEnumConnectionPoints", &IID_IEnumConnectionPoints, u"{B196B285-BAB4-101A-B69C-00AA00341D07}"},
        KnownIid{"IConnectionPoint", &IID_IConnectionPoint, u"{B196B286-BAB4-101A-B69C-00AA00341D07}"},
        KnownIid{"IEnumConnections", &IID_IEnumConnections, u"{B196B287-BAB4-101A-B69C-00AA00341D07}"},
        KnownIid{"IPersistStreamInit", &IID_IPersistStreamInit, u"{7FD52380-4E07-101B-AE2D-08002B2EC713}"},
        KnownIid{"NULL", &IID_NULL, u"{00000000-0000-0000-0000-000000000000}"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(GuidText, RoundTripsInEitherCase)
{
    const GUID g = {0x89ABCDEF, 0x0123, 0xFEDC, {0xBA, 0x98, 0x76, 0x54, 0x32, 0x10, 0x0F, 0xF0}};
    EXPECT_EQ(Text(g), u"{89ABCDEF-0123-FEDC-BA98-765432100FF0}");
    CLSID parsed{};
    ASSERT_EQ(CLSIDFromString(platform::AsOleStr(u"{89abcdef-0123-fedc-ba98-76543210 0ff0}"), &parsed), CO_E_CLASSSTRING);
    ASSERT_EQ(CLSIDFromString(platform::AsOleStr(u"{89abcdef-0123-fedc-ba98-765432100ff0}"), &parsed), S_OK);
    EXPECT_EQ(parsed, g);
    ASSERT_EQ(CLSIDFromString(platform::AsOleStr(Text(g).c_str()), &parsed), S_OK);
    EXPECT_EQ(parsed, g);
}

TEST(GuidText, SmallBufferGetsNothing)
{
    OLECHAR buffer[39] = {u'x'};
    EXPECT_EQ(StringFromGUID2(IID_IDispatch, buffer, 38), 0);
    EXPECT_EQ(buffer[0], u'x');
}

class MalformedGuidText : public ::testing::TestWithParam<const char16_t*> {};

TEST_P(MalformedGuidText, IsRefused)
{
    CLSID parsed = IID_IDispatch;
#ifdef _WIN32
    // The system's COM takes no text as the null class id and leaves the result of a refused text
    // unspecified.
    if (!GetParam()) {
        EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
        EXPECT_EQ(parsed, IID_NULL);
        return;
    }
    EXPECT_EQ(CLSIDFromString(platform::AsOleStr(GetParam()), &parsed), CO_E_CLASSSTRING);
#else
    EXPECT_EQ(CLSIDFromString(platform::AsOleStr(GetParam()), &parsed), CO_E_CLASSSTRING);
    EXPECT_EQ(parsed, IID_NULL);
#endif
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedGuidText,
                         ::testing::Values(u"", u"{}", u"00020400-0000-0000-C000-000000000046",
                                           u"{00020400-0000-0000-C000-000000000046",
                                           u"{00020400-0000-0000-C000-000000000046}x",
                                           u"{00020400-0000-0000-C000-00000000004}",
                                           u"{00020400+0000-0000-C000-000000000046}",
                                           u"{0002040G-0000-0000-C000-000000000046}",
                                           u"{00020400-0000-0000-C0000-00000000046}", u"Trutina.Statera",
                                           static_cast<const char16_t*>(nullptr)));

} // namespace
