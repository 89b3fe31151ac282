#include "driver/MemberCalls.h"

#include "platform/bstr.h"
#include "runtime/utf.h"

#include <type_traits>

namespace driver {

TCallValue ToCallValue(LONG v) { return std::int32_t(v); }
TCallValue ToCallValue(VARIANT_BOOL v) { return TTraceFlag{v}; }
TCallValue ToCallValue(DOUBLE v) { return double(v); }
TCallValue ToCallValue(CY v) { return TTraceMoney{v.int64}; }
TCallValue ToCallValue(BSTR v) { return runtime::Utf16ToUtf8(platform::BstrToU16(v)); }

namespace {

// The interface value of a call value of the member's type.
LONG FromCallValue(const TCallValue& v, LONG*) { return *std::get_if<std::int32_t>(&v); }
VARIANT_BOOL FromCallValue(const TCallValue& v, VARIANT_BOOL*) { return std::get_if<TTraceFlag>(&v)->Raw; }
DOUBLE FromCallValue(const TCallValue& v, DOUBLE*) { return *std::get_if<double>(&v); }
CY FromCallValue(const TCallValue& v, CY*)
{
    CY money;
    money.int64 = std::get_if<TTraceMoney>(&v)->Raw;
    return money;
}

using TRead = HRESULT (*)(ITrutina*, TCallValue&);
using TWrite = HRESULT (*)(ITrutina*, const TCallValue&);

template <typename T, HRESULT (STDMETHODCALLTYPE ITrutina::*Getter)(T*)>
HRESULT Read(ITrutina* d, TCallValue& out)
{
    if constexpr (std::is_same_v<T, BSTR>) {
        platform::BStr text;
        const HRESULT status = (d->*Getter)(text.Out());
        if (SUCCEEDED(status))
            out = ToCallValue(text.Get());
        return status;
    } else {
        T value{};
        const HRESULT status = (d->*Getter)(&value);
        if (SUCCEEDED(status))
            out = ToCallValue(value);
        return status;
    }
}

template <typename T, HRESULT (STDMETHODCALLTYPE ITrutina::*Putter)(T)>
HRESULT Write(ITrutina* d, const TCallValue& argument)
{
    if constexpr (std::is_same_v<T, BSTR>) {
        platform::BStr text(runtime::Utf8ToUtf16(*std::get_if<std::string>(&argument)));
        return (d->*Putter)(text.Get());
    } else {
        return (d->*Putter)(FromCallValue(argument, static_cast<T*>(nullptr)));
    }
}

template <HRESULT (STDMETHODCALLTYPE ITrutina::*Method)(LONG*)>
HRESULT Invoke(ITrutina* d, TCallValue& out)
{
    return Read<LONG, Method>(d, out);
}

struct TMemberCalls {
    TRead Get;
    TWrite Put;
    TRead Call;
};

#define CALLS_RO(n, name, type, ...) {&Read<type, &ITrutina::get_##name>, nullptr, nullptr},
#define CALLS_RW(n, name, type, ...) {&Read<type, &ITrutina::get_##name>, &Write<type, &ITrutina::put_##name>, nullptr},
#define CALLS_METHOD(n, name, ...) {nullptr, nullptr, &Invoke<&ITrutina::name>},
// In the order of the member table, so that a member's row has its number - 1.
constexpr TMemberCalls MemberCalls[] = {TRUTINA_MEMBERS(CALLS_RO, CALLS_RW, CALLS_METHOD)};
#undef CALLS_RO
#undef CALLS_RW
#undef CALLS_METHOD
static_assert(sizeof MemberCalls / sizeof MemberCalls[0] == TrutinaMemberCount);

} // namespace

HRESULT CallMember(ITrutina* d, const TrutinaMemberInfo& member, TCallDirection direction,
                   const TCallValue& argument, TCallValue& answer)
{
    const TMemberCalls& calls = MemberCalls[member.Number - 1];
    switch (direction) {
    case TCallDirection::Read: return calls.Get(d, answer);
    case TCallDirection::Write: return calls.Put(d, argument);
    default: return calls.Call(d, answer);
    }
}

} // namespace driver
