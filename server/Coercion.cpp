#include "server/Coercion.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace trutina_server {

namespace {

// A numeric argument in the widest form of its kind.
struct TScalar {
    enum Kind { Integer, Real, Money } Kind = Integer;
    std::int64_t Int = 0;  // Integer: the value; Money: the amount x 10000
    double Dbl = 0;        // Real
};

const VARIANT* Dereference(const VARIANT& in, VARTYPE& vt, const void*& data)
{
    vt = in.vt;
    data = &in.llVal;
    if (vt == (VT_BYREF | VT_VARIANT))
        return in.pvarVal ? Dereference(*in.pvarVal, vt, data) : nullptr;
    if (vt & VT_BYREF) {
        if (!in.byref)
            return nullptr;
        vt = static_cast<VARTYPE>(vt & ~VT_BYREF);
        data = in.byref;
    }
    return &in;
}

template <typename T>
T Load(const void* data) { return *static_cast<const T*>(data); }

HRESULT ReadScalar(const VARIANT& in, TScalar& out)
{
    VARTYPE vt;
    const void* data;
    if (!Dereference(in, vt, data))
        return DISP_E_TYPEMISMATCH;
    out = TScalar{};
    switch (vt) {
    case VT_EMPTY: out.Int = 0; return S_OK;
    case VT_I1: out.Int = Load<std::int8_t>(data); return S_OK;
    case VT_UI1: out.Int = Load<std::uint8_t>(data); return S_OK;
    case VT_I2: out.Int = Load<std::int16_t>(data); return S_OK;
    case VT_UI2: out.Int = Load<std::uint16_t>(data); return S_OK;
    case VT_BOOL: out.Int = Load<VARIANT_BOOL>(data); return S_OK;
    case VT_I4: case VT_INT: out.Int = Load<std::int32_t>(data); return S_OK;
    case VT_UI4: case VT_UINT: out.Int = Load<std::uint32_t>(data); return S_OK;
    case VT_I8: out.Int = Load<std::int64_t>(data); return S_OK;
    case VT_UI8: {
        auto v = Load<std::uint64_t>(data);
        if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return DISP_E_OVERFLOW;
        out.Int = static_cast<std::int64_t>(v);
        return S_OK;
    }
    case VT_R4: out.Kind = TScalar::Real; out.Dbl = Load<float>(data); return S_OK;
    case VT_R8: out.Kind = TScalar::Real; out.Dbl = Load<double>(data); return S_OK;
    case VT_CY: out.Kind = TScalar::Money; out.Int = Load<CY>(data).int64; return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}

// Rounds half to even and checks the range [lo, hi].
HRESULT RoundToInt(double v, double lo, double hi, std::int64_t& out)
{
    if (!std::isfinite(v))
        return DISP_E_OVERFLOW;
    double r = std::nearbyint(v); // the default rounding mode: to nearest, ties to even
    if (r < lo || r > hi)
        return DISP_E_OVERFLOW;
    out = static_cast<std::int64_t>(r);
    return S_OK;
}

// Money / 10000 rounded half to even.
std::int64_t MoneyToInteger(std::int64_t money)
{
    std::int64_t q = money / 10000, r = money % 10000;
    if (r > 5000 || (r == 5000 && (q & 1)))
        ++q;
    else if (r < -5000 || (r == -5000 && (q & 1)))
        --q;
    return q;
}

} // namespace

HRESULT CoerceArgument(const VARIANT& in, LONG& out)
{
    TScalar s;
    if (HRESULT hr = ReadScalar(in, s); FAILED(hr))
        return hr;
    std::int64_t v = s.Int;
    if (s.Kind == TScalar::Real) {
        if (HRESULT hr = RoundToInt(s.Dbl, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), v);
            FAILED(hr))
            return hr;
    } else if (s.Kind == TScalar::Money) {
        v = MoneyToInteger(s.Int);
    }
    if (v < std::numeric_limits<LONG>::min() || v > std::numeric_limits<LONG>::max())
        return DISP_E_OVERFLOW;
    out = static_cast<LONG>(v);
    return S_OK;
}

HRESULT CoerceArgument(const VARIANT& in, VARIANT_BOOL& out)
{
    VARTYPE vt;
    const void* data;
    if (Dereference(in, vt, data) && vt == VT_BOOL) {
        out = Load<VARIANT_BOOL>(data); // passed on as it came
        return S_OK;
    }
    TScalar s;
    if (HRESULT hr = ReadScalar(in, s); FAILED(hr))
        return hr;
    bool value = s.Kind == TScalar::Real ? s.Dbl != 0 : s.Int != 0;
    out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CoerceArgument(const VARIANT& in, DOUBLE& out)
{
    TScalar s;
    if (HRESULT hr = ReadScalar(in, s); FAILED(hr))
        return hr;
    switch (s.Kind) {
    case TScalar::Real: out = s.Dbl; break;
    case TScalar::Money: out = static_cast<double>(s.Int) / 10000.0; break;
    case TScalar::Integer: out = static_cast<double>(s.Int); break;
    }
    return S_OK;
}

HRESULT CoerceArgument(const VARIANT& in, CY& out)
{
    TScalar s;
    if (HRESULT hr = ReadScalar(in, s); FAILED(hr))
        return hr;
    constexpr std::int64_t scale = 10000;
    switch (s.Kind) {
    case TScalar::Money: out.int64 = s.Int; return S_OK;
    case TScalar::Integer:
        if (s.Int > std::numeric_limits<std::int64_t>::max() / scale ||
            s.Int < std::numeric_limits<std::int64_t>::min() / scale)
            return DISP_E_OVERFLOW;
        out.int64 = s.Int * scale;
        return S_OK;
    case TScalar::Real: {
        // 2^63 is exactly representable; anything at or beyond it is out of range.
        constexpr double limit = 9223372036854775808.0;
        double v = std::nearbyint(s.Dbl * scale);
        if (!std::isfinite(v) || v >= limit || v < -limit)
            return DISP_E_OVERFLOW;
        out.int64 = static_cast<std::int64_t>(v);
        return S_OK;
    }
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT CoerceArgument(const VARIANT& in, BSTR& out)
{
    VARTYPE vt;
    const void* data;
    if (!Dereference(in, vt, data))
        return DISP_E_TYPEMISMATCH;
    if (vt == VT_EMPTY) {
        out = nullptr; // the empty BSTR
        return S_OK;
    }
    if (vt != VT_BSTR)
        return DISP_E_TYPEMISMATCH;
    out = Load<BSTR>(data);
    return S_OK;
}

} // namespace trutina_server
