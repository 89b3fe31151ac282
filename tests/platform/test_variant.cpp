#include "platform/bstr.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

VARIANT Make(VARTYPE vt, LONGLONG bits)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.llVal = bits;
    return v;
}

struct PlainCase {
    const char* Name;
    VARTYPE Type;
    LONGLONG Bits;
};
void PrintTo(const PlainCase& c, std::ostream* os) { *os << c.Name; }

class PlainVariant : public ::testing::TestWithParam<PlainCase> {};

TEST_P(PlainVariant, CopiesItsValueAndClearsToEmpty)
{
    const VARIANT src = Make(GetParam().Type, GetParam().Bits);
    VARIANT dest;
    VariantInit(&dest);
    ASSERT_EQ(VariantCopy(&dest, const_cast<VARIANT*>(&src)), S_OK);
    EXPECT_EQ(dest.vt, GetParam().Type);
    EXPECT_EQ(dest.llVal, GetParam().Bits);
    ASSERT_EQ(VariantClear(&dest), S_OK);
    EXPECT_EQ(dest.vt, VT_EMPTY);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlainVariant,
                         ::testing::Values(PlainCase{"Empty", VT_EMPTY, 0}, PlainCase{"I4", VT_I4, -123456},
                                           PlainCase{"BoolTrue", VT_BOOL, VARIANT_TRUE},
                                           PlainCase{"R8", VT_R8, 0x400921FB54442D18LL},
                                           PlainCase{"CyMostNegative", VT_CY, INT64_MIN}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Variant, BstrCopyIsDeep)
{
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_BSTR;
    const OLECHAR text[] = {u'в', 0, u'с'};
    src.bstrVal = SysAllocStringLen(text, 3);
    VARIANT dest;
    VariantInit(&dest);
    ASSERT_EQ(VariantCopy(&dest, const_cast<VARIANT*>(&src)), S_OK);
    EXPECT_NE(dest.bstrVal, src.bstrVal);
    VariantClear(&src);
    EXPECT_EQ(platform::BstrToU16(dest.bstrVal), std::u16string(platform::AsU16(text), 3));
    VariantClear(&dest);
}

TEST(Variant, NullBstrCopiesAsNull)
{
    VARIANT src = Make(VT_BSTR, 0);
    VARIANT dest;
    VariantInit(&dest);
    ASSERT_EQ(VariantCopy(&dest, const_cast<VARIANT*>(&src)), S_OK);
    EXPECT_EQ(dest.vt, VT_BSTR);
#ifdef _WIN32
    EXPECT_EQ(SysStringLen(dest.bstrVal), 0u); // the system's COM may hand out an empty string
    VariantClear(&dest);
#else
    EXPECT_EQ(dest.bstrVal, nullptr);
#endif
}

TEST(Variant, InterfacesAreCountedOnCopyAndReleasedOnClear)
{
    for (VARTYPE vt : {VT_UNKNOWN, VT_DISPATCH}) {
        testsupport::TCountedObject object;
        VARIANT src;
        VariantInit(&src);
        src.vt = vt;
        src.punkVal = &object;
        VARIANT dest;
        VariantInit(&dest);
        ASSERT_EQ(VariantCopy(&dest, const_cast<VARIANT*>(&src)), S_OK);
        EXPECT_EQ(object.Refs(), 2u);
        EXPECT_EQ(dest.punkVal, &object);
        ASSERT_EQ(VariantClear(&dest), S_OK);
        EXPECT_EQ(object.Refs(), 1u);
        EXPECT_EQ(dest.vt, VT_EMPTY);
    }
}

TEST(Variant, CopyFreesWhatTheDestinationHeld)
{
    testsupport::TCountedObject old;
    VARIANT dest;
    VariantInit(&dest);
    dest.vt = VT_UNKNOWN;
    dest.punkVal = &old;
    old.AddRef(); // the variant's reference
    const VARIANT src = Make(VT_I4, 7);
    ASSERT_EQ(VariantCopy(&dest, const_cast<VARIANT*>(&src)), S_OK);
    EXPECT_EQ(old.Refs(), 1u);
    EXPECT_EQ(dest.lVal, 7);
}

TEST(Variant, CopyOntoItselfKeepsTheValue)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(platform::AsOleStr(u"same"));
    ASSERT_EQ(VariantCopy(&v, &v), S_OK);
    EXPECT_EQ(platform::BstrToU16(v.bstrVal), u"same");
    VariantClear(&v);
}

#ifndef _WIN32
// The stand-in implements a subset of the types; the system's COM takes these.
TEST(Variant, UnsupportedTypesAreRefusedAndLeftAlone)
{
    for (VARTYPE vt : {VARTYPE(VT_BYREF | VT_I4), VARTYPE(VT_VARIANT), VARTYPE(0x2003) /* array */, VARTYPE(99)}) {
        VARIANT bad = Make(vt, 0x1234);
        EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE) << vt;
        EXPECT_EQ(bad.vt, vt);

        VARIANT dest;
        VariantInit(&dest);
        dest.vt = VT_BSTR;
        dest.bstrVal = SysAllocString(platform::AsOleStr(u"kept"));
        EXPECT_EQ(VariantCopy(&dest, &bad), DISP_E_BADVARTYPE) << vt;
        EXPECT_EQ(platform::BstrToU16(dest.bstrVal), u"kept");
        VariantClear(&dest);
    }
}
#else
TEST_ELSEWHERE(Variant, UnsupportedTypesAreRefusedAndLeftAlone, "the system's COM takes every type")
#endif

} // namespace
