// The rules checked once per run on objects of the class: COM's (identity, QueryInterface,
// reference counts, unloading, the class factory, connection points, type information) and the
// dispatch interface's (names, Invoke's statuses, the two ways of a dual interface agreeing).
// Each check returns when the rule holds and raises EBroken, ESkipped or EInterrupted otherwise.
#pragma once

#include "tools/check/Target.h"

#include <string_view>

namespace check {

using TStaticCheck = void (*)(const TTarget& target);

// The check of a static rule; nullptr for the rules the random sequences check.
TStaticCheck StaticCheck(std::string_view rule);

// Runs posted calls (the driver's events) for ms milliseconds.
void PumpFor(int ms);

} // namespace check
