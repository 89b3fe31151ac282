// VARIANT lifetime: the value types the program and its drivers exchange.
#include "platform/ole.h"

#ifndef _WIN32

namespace {

// Types whose value is plain data: copied bit for bit, nothing to free.
bool IsPlainType(VARTYPE vt)
{
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool IsInterfaceType(VARTYPE vt) { return vt == VT_UNKNOWN || vt == VT_DISPATCH; }

bool IsSupportedType(VARTYPE vt) { return IsPlainType(vt) || vt == VT_BSTR || IsInterfaceType(vt); }

void MakeEmpty(VARIANT* v)
{
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->llVal = 0;
}

} // namespace

extern "C" void VariantInit(VARIANTARG* v)
{
    if (v)
        MakeEmpty(v);
}

extern "C" HRESULT VariantClear(VARIANTARG* v)
{
    if (!v)
        return E_INVALIDARG;
    if (!IsSupportedType(v->vt))
        return DISP_E_BADVARTYPE;
    if (v->vt == VT_BSTR)
        SysFreeString(v->bstrVal);
    else if (IsInterfaceType(v->vt) && v->punkVal)
        v->punkVal->Release();
    MakeEmpty(v);
    return S_OK;
}

extern "C" HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (dest == src)
        return IsSupportedType(src->vt) ? S_OK : DISP_E_BADVARTYPE;
    if (!IsSupportedType(src->vt))
        return DISP_E_BADVARTYPE;

    BSTR copiedText = nullptr;
    if (src->vt == VT_BSTR && src->bstrVal) {
        copiedText = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!copiedText)
            return E_OUTOFMEMORY;
    }
    const HRESULT cleared = VariantClear(dest);
    if (FAILED(cleared)) {
        SysFreeString(copiedText);
        return cleared;
    }
    *dest = *src;
    if (src->vt == VT_BSTR)
        dest->bstrVal = copiedText;
    else if (IsInterfaceType(src->vt) && src->punkVal)
        src->punkVal->AddRef();
    return S_OK;
}

#endif // !_WIN32
