// Automation strings: a 32-bit byte count stored just before the characters, which end in a NUL
// that the count does not include. Embedded NULs are allowed; a null BSTR is the empty string.
#include "platform/bstr.h"

#include <cstdlib>
#include <cstring>

#ifndef _WIN32

namespace {

constexpr std::size_t kPrefixBytes = sizeof(std::uint32_t);
constexpr UINT kMaxChars = (0xFFFFFFFFu - kPrefixBytes - sizeof(OLECHAR)) / sizeof(OLECHAR);

std::uint32_t* PrefixOf(BSTR s) { return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(s) - kPrefixBytes); }

} // namespace

extern "C" BSTR SysAllocStringLen(const OLECHAR* text, UINT length)
{
    if (length > kMaxChars)
        return nullptr;
    const std::size_t bytes = std::size_t(length) * sizeof(OLECHAR);
    void* block = std::malloc(kPrefixBytes + bytes + sizeof(OLECHAR));
    if (!block)
        return nullptr;
    *static_cast<std::uint32_t*>(block) = static_cast<std::uint32_t>(bytes);
    BSTR s = reinterpret_cast<BSTR>(static_cast<char*>(block) + kPrefixBytes);
    if (text)
        std::memcpy(s, text, bytes);
    s[length] = 0;
    return s;
}

extern "C" BSTR SysAllocString(const OLECHAR* text)
{
    if (!text)
        return nullptr;
    UINT length = 0;
    while (text[length] != 0)
        ++length;
    return SysAllocStringLen(text, length);
}

extern "C" void SysFreeString(BSTR s)
{
    if (s)
        std::free(PrefixOf(s));
}

extern "C" UINT SysStringLen(BSTR s) { return s ? *PrefixOf(s) / sizeof(OLECHAR) : 0; }

#endif // !_WIN32

namespace platform {

// OLECHAR is a 16-bit unit on every system (wchar_t on Windows, char16_t elsewhere).
static_assert(sizeof(OLECHAR) == sizeof(char16_t));

std::u16string BstrToU16(BSTR s)
{
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s), SysStringLen(s)) : std::u16string();
}

BSTR U16ToBstr(std::u16string_view s)
{
    if (s.size() > 0xFFFFFFFFu)
        return nullptr;
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
}

} // namespace platform
