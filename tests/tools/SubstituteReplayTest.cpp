// The sitting at the substitute driver committed in data/ (every command of both pages and of the
// device editor, a refused operation, data events in asynchronous mode), replayed against
// Trutina.dll: whatever the substitute driver answers differently now is a regression.
#include "TestEnv.h"

#include "tools/Replay.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

// Under LeakSanitizer: the full stack of every allocation, so that tests/lsan.supp can tell the
// start-up allocations of the system libraries the substitute driver pulls in (lost when it is
// unloaded from this process without Qt) from our own; the fast unwinder stops in those
// frame-pointer-less libraries. Read only by a sanitized build.
extern "C" const char* __lsan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace {

int CountActions(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    int actions = 0;
    bool startUp = false, first = true;
    for (std::string line; std::getline(in, line); first = false) {
        if (line.rfind("{\"action\":", 0) == 0)
            ++actions;
        else if (!first && actions == 0)
            startUp = true;
    }
    return actions + (startUp ? 1 : 0);
}

TEST(SubstituteSitting, ReplaysAgainstTheSubstituteDriverWithoutADifference)
{
    const auto folder = testenv::MakeTempFolder("ponderix-sitting-");
    const int actions = CountActions(SUBSTITUTE_SITTING);
    EXPECT_GT(actions, 40); // the sitting is all there
    // In this process, and as the program does it: in its driver child, told over its lines.
    for (const replay::TDriverPlace& place : {replay::TDriverPlace{}, replay::TDriverPlace{true, REPLAY_PROGRAM_PATH}}) {
        SCOPED_TRACE(place.Child ? "in the driver child" : "in this process");
        // The driver's defaults: the sitting changes its settings.
        testenv::SetVariable("TRUTINA_SETTINGS", (folder / (place.Child ? "child.json" : "here.json")).string());
        std::ostringstream out, err;
        const int code = replay::Run({SUBSTITUTE_SITTING, "--module", TRUTINA_MODULE_PATH}, out, err, place);
        EXPECT_EQ(code, 0) << out.str() << err.str();
        EXPECT_EQ(out.str(), std::to_string(actions) + " passed, 0 failed\n");
    }
    testenv::UnsetVariable("TRUTINA_SETTINGS");
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace
