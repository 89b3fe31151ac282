// What IDispatch::Invoke accepts for an argument of each interface type: the type itself, the
// integer, real, boolean and currency types converted as VariantChangeType would (rounding half
// to even, DISP_E_OVERFLOW out of range), VT_EMPTY as zero, one level of VT_BYREF. Text accepts
// only text (or VT_EMPTY as the empty string). Anything else is DISP_E_TYPEMISMATCH.
#pragma once

#include "platform/ole.h"

namespace trutina_server {

HRESULT CoerceArgument(const VARIANT& in, LONG& out);
HRESULT CoerceArgument(const VARIANT& in, VARIANT_BOOL& out);
HRESULT CoerceArgument(const VARIANT& in, DOUBLE& out);
HRESULT CoerceArgument(const VARIANT& in, CY& out);
// out is borrowed from in (nullptr, the empty BSTR, for VT_EMPTY): not to be freed.
HRESULT CoerceArgument(const VARIANT& in, BSTR& out);

} // namespace trutina_server
