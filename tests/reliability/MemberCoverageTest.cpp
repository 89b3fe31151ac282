// The reliability tables drive every member of the driver's interface that the program uses,
// each way the program uses it; a member the program gains later must join a table.
#include "ReliabilitySupport.h"

#include "driver/Trutina_TLB.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using fakedriver::TCallKind;

// Members the program never calls, and members it only reads although the driver lets them be
// written.
const std::set<std::string> NeverCalled = {"Connected", "ApplicationHandle", "Timeout", "LogicalNumber"};
const std::set<std::string> OnlyRead = {"EventNumber"};

TEST(MemberCoverageTest, TheTablesDriveEveryMemberTheProgramUses)
{
    std::set<std::pair<std::string, TCallKind>> driven;
    for (const auto& op : reliability::MainWindowOperations())
        driven.insert({op.Member, op.Kind});
    for (const auto& op : reliability::EditorOperations())
        driven.insert({op.Member, op.Kind});
    for (const TrutinaMemberInfo& m : TrutinaMembers) {
        SCOPED_TRACE(m.Name);
        const bool used = !NeverCalled.count(m.Name);
        if (m.Kind == TrutinaMemberKind::Method) {
            EXPECT_EQ(driven.count({m.Name, TCallKind::Call}) == 1, used);
            continue;
        }
        EXPECT_EQ(driven.count({m.Name, TCallKind::Read}) == 1, used) << "read";
        if (m.Kind == TrutinaMemberKind::ReadWrite) {
            EXPECT_EQ(driven.count({m.Name, TCallKind::Write}) == 1, used && !OnlyRead.count(m.Name)) << "write";
        }
    }
}

} // namespace
