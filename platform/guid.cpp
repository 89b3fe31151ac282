// Interface ids and the text form of GUIDs.
#include "platform/hex.h"
#include "platform/ole.h"

#ifndef _WIN32

#include <cstring>

extern "C" {
const IID IID_NULL = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_IConnectionPointContainer = {0xB196B284, 0xBAB4, 0x101A,
                                           {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnectionPoints = {0xB196B285, 0xBAB4, 0x101A,
                                       {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPoint = {0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnections = {0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IPersistStreamInit = {0x7FD52380, 0x4E07, 0x101B,
                                    {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};
const IID IID_IProvideClassInfo = {0xB196B283, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
}

namespace {

constexpr int kGuidTextLength = 38; // "{8-4-4-4-12}"

// The hex digit positions of each byte of the text form, in GUID field order as read left to right.
void PutHex(OLECHAR*& out, std::uint64_t value, int digits)
{
    for (int i = digits - 1; i >= 0; --i)
        *out++ = static_cast<OLECHAR>(platform::kHexDigits[(value >> (i * 4)) & 0xF]);
}

bool ReadHex(const OLECHAR*& in, int digits, std::uint64_t& value)
{
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = platform::HexDigitValue(static_cast<char32_t>(*in++));
        if (v < 0)
            return false;
        value = (value << 4) | static_cast<std::uint64_t>(v);
    }
    return true;
}

bool Expect(const OLECHAR*& in, OLECHAR c) { return *in++ == c; }

bool ParseGuid(const OLECHAR* s, GUID& g)
{
    for (int i = 0; i < kGuidTextLength; ++i)
        if (s[i] == 0)
            return false;
    if (s[kGuidTextLength] != 0)
        return false;
    std::uint64_t d1, d2, d3, d4a, d4b;
    const OLECHAR* p = s;
    if (!Expect(p, u'{') || !ReadHex(p, 8, d1) || !Expect(p, u'-') || !ReadHex(p, 4, d2) || !Expect(p, u'-')
        || !ReadHex(p, 4, d3) || !Expect(p, u'-') || !ReadHex(p, 4, d4a) || !Expect(p, u'-')
        || !ReadHex(p, 12, d4b) || !Expect(p, u'}'))
        return false;
    g.Data1 = static_cast<std::uint32_t>(d1);
    g.Data2 = static_cast<std::uint16_t>(d2);
    g.Data3 = static_cast<std::uint16_t>(d3);
    g.Data4[0] = static_cast<std::uint8_t>(d4a >> 8);
    g.Data4[1] = static_cast<std::uint8_t>(d4a);
    for (int i = 0; i < 6; ++i)
        g.Data4[2 + i] = static_cast<std::uint8_t>(d4b >> (8 * (5 - i)));
    return true;
}

} // namespace

extern "C" int StringFromGUID2(REFGUID g, LPOLESTR out, int cchMax)
{
    if (!out || cchMax < kGuidTextLength + 1)
        return 0;
    OLECHAR* p = out;
    *p++ = u'{';
    PutHex(p, g.Data1, 8);
    *p++ = u'-';
    PutHex(p, g.Data2, 4);
    *p++ = u'-';
    PutHex(p, g.Data3, 4);
    *p++ = u'-';
    PutHex(p, g.Data4[0], 2);
    PutHex(p, g.Data4[1], 2);
    *p++ = u'-';
    for (int i = 2; i < 8; ++i)
        PutHex(p, g.Data4[i], 2);
    *p++ = u'}';
    *p = 0;
    return kGuidTextLength + 1;
}

extern "C" HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid)
{
    if (!clsid)
        return E_INVALIDARG;
    GUID parsed{};
    if (!text || !ParseGuid(text, parsed)) {
        std::memset(clsid, 0, sizeof *clsid);
        return CO_E_CLASSSTRING;
    }
    *clsid = parsed;
    return S_OK;
}

#endif // !_WIN32
