// The version set once in the top CMakeLists reaches the program's version resource.
#include "about/fmuAbout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

TEST(ProjectVersionTest, TheVersionResourceCarriesTheProjectVersion)
{
    std::string expected = PROJECT_VERSION;
    // A version with fewer than four parts has zeros for the missing ones.
    for (auto dots = std::count(expected.begin(), expected.end(), '.'); dots < 3; ++dots)
        expected += ".0";
    EXPECT_EQ(GetVersionString(), expected);
}
