// Small helpers of the tests that run the program's windows over a driver.
#pragma once

#include "runtime/exceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

// An ask that must not happen: the driver is registered.
inline void NoAsk(const std::string&, const std::string&)
{
    ADD_FAILURE() << "the registration prompt was shown";
    throw runtime::EAbort();
}

// Two expected call logs, one after the other.
inline std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace testsupport
