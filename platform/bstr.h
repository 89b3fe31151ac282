// BSTR <-> std::u16string, and an owner of one BSTR.
#pragma once

#include "platform/ole.h"

#include <string>
#include <string_view>

namespace platform {

// nullptr is the empty string; embedded NULs are kept.
PLATFORM_API std::u16string BstrToU16(BSTR s);
// A new BSTR (caller frees with SysFreeString); nullptr only when out of memory.
PLATFORM_API BSTR U16ToBstr(std::u16string_view s);

// The same 16-bit text seen as the system's OLECHAR string (wchar_t on Windows) and back.
inline LPOLESTR AsOleStr(char16_t* s) { return reinterpret_cast<LPOLESTR>(s); }
inline LPCOLESTR AsOleStr(const char16_t* s) { return reinterpret_cast<LPCOLESTR>(s); }
inline const char16_t* AsU16(LPCOLESTR s) { return reinterpret_cast<const char16_t*>(s); }

// Owns one BSTR and frees it on every path.
class BStr {
public:
    BStr() = default;
    explicit BStr(BSTR owned) : FValue(owned) {}
    explicit BStr(std::u16string_view text) : FValue(U16ToBstr(text)) {}
    BStr(const BStr&) = delete;
    BStr& operator=(const BStr&) = delete;
    BStr(BStr&& other) noexcept : FValue(other.Detach()) {}
    BStr& operator=(BStr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            FValue = other.Detach();
        }
        return *this;
    }
    ~BStr() { Reset(); }

    BSTR Get() const { return FValue; }
    BSTR* Out() { Reset(); return &FValue; } // for out parameters
    BSTR Detach() { BSTR v = FValue; FValue = nullptr; return v; }
    void Reset() { if (FValue) { SysFreeString(FValue); FValue = nullptr; } }
    std::u16string Text() const { return BstrToU16(FValue); }

private:
    BSTR FValue = nullptr;
};

} // namespace platform
