// The rules checked once per run on objects of the class: COM's (identity, QueryInterface,
// reference counts, unloading, the class factory, connection points, type information) and the
// dispatch interface's (names, Invoke's statuses, the two ways of a dual interface agreeing).
// Each check returns when the rule holds and raises EBroken, ESkipped or EInterrupted otherwise.
#pragma once

#include "tools/check/Target.h"


namespace check {

// The static rules' checks (the rule table names each with its rule).
void CheckQiIdentity(const TTarget& target);
void CheckQiRules(const TTarget& target);
void CheckRefcount(const TTarget& target);
void CheckUnload(const TTarget& target);
void CheckClassFactory(const TTarget& target);
void CheckConnectionPoint(const TTarget& target);
void CheckEventAfterUnadvise(const TTarget& target);
void CheckTypeInfo(const TTarget& target);
void CheckDispatchNames(const TTarget& target);
void CheckDispatchInvoke(const TTarget& target);
void CheckDualAgree(const TTarget& target);

// Runs posted calls (the driver's events) for ms milliseconds.
void PumpFor(int ms);

} // namespace check
