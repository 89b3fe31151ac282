// The interface's members called by name, and the conversions between an interface value and a
// call value (the trace's and the recording's), beside the member table they are generated from.
// TScaleX traces its calls with these conversions; a replay performs recorded calls through them.
#pragma once

#include "driver/CallTrace.h"
#include "driver/Trutina_TLB.h"

namespace driver {

// An interface value as a call value.
TCallValue ToCallValue(LONG v);
TCallValue ToCallValue(VARIANT_BOOL v);
TCallValue ToCallValue(DOUBLE v);
TCallValue ToCallValue(CY v);
TCallValue ToCallValue(BSTR v);

// Performs one call of member on d: a read or a method sets answer, a write passes argument (of
// the member's type, as the recording's parser makes it). The status of the call.
HRESULT CallMember(ITrutina* d, const TrutinaMemberInfo& member, TCallDirection direction,
                   const TCallValue& argument, TCallValue& answer);

} // namespace driver
