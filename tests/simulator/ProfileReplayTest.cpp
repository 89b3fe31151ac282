// A load profile under simulated time is a repeatable test: the same run of calls against it
// records the same weights, flags, results and data events every time, and the recording of one
// run replays (ponderix-replay) against a new object without a difference, on the real clock.
#include "platform/apartment.h"
#include "platform/comptr.h"
#include "SimulatorEnvironment.h"

#include "driver/CallTrace.h"
#include "driver/Recording.h"
#include "driver/ScaleX.h"
#include "driver/Statera.h"
#include "tools/Replay.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

// 100 ms of the scales' time per reading; the script loads, swings, overloads, refuses and cuts,
// first for synchronous readings (to 7 s), then for the poller of the asynchronous mode.
// A cut line costs Timeout per reading: a short one keeps the run quick.
const char* const ProfileSettings = R"({"simulatedMsPerReading": 100, "pollingInterval": 0, "timeout": 100,
  "devices": [{"number": 1, "enabled": true, "model": 5, "loadProfile": "script"}],
  "loadProfiles": {"script": {"steps": [
    {"at": 0, "load": 0}, {"at": 500, "load": 1.25}, {"at": 2000, "load": 1.25, "unstable": true},
    {"at": 2500, "load": 3.0}, {"at": 4000, "load": 3.0, "refuse": -10, "refuseCount": 2},
    {"at": 4200, "load": 16.0}, {"at": 5500, "load": 0.0, "disconnected": true}, {"at": 6000, "load": 0.7},
    {"at": 7000, "load": 2.0}, {"at": 8500, "load": 2.0, "unstable": true}, {"at": 8800, "load": 4.5},
    {"at": 10000, "load": 0}, {"at": 11200, "load": 0, "disconnected": true}]}}})";

// One run against a new object: 70 synchronous readings, then the asynchronous mode until the
// script has cut the connection and every message has been handled. Returns the recording.
std::string RecordRun(const TSimulatorEnvironment& env)
{
    env.WriteSettings(ProfileSettings);
    std::ostringstream recording;
    recording << driver::RecordingHeaderLine({"{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}", TRUTINA_MODULE_PATH, ""}) << "\n";
    driver::SetDriverCallHook([&](const driver::TDriverCall& call) { recording << driver::RecordingCallLine(call) << "\n"; });
    {
        TStatera control;
        platform::ComPtr<ITrutina> trutina = control.DriverInterface();
        TScaleX scale(trutina.Get());
        control.OnDataEvent = [&](TStatera*) {
            scale.EventNumber();
            scale.Weight();
            scale.NonStable();
            scale.BigWeight();
            scale.DeleteEvent();
        };
        for (int i = 0; i < 70; ++i) {
            try {
                scale.ReadWeight();
            } catch (const EScaleError&) {
            }
            scale.Weight();
            scale.NonStable();
            scale.BigWeight();
            scale.NegWeight();
            scale.ZeroScaleWeight();
        }
        scale.SetDataEventEnabled(true);
        scale.SetAsyncMode(true);
        // Not recorded (straight through the interface): whether the script is over yet.
        auto over = [&] {
            VARIANT_BOOL connected = VARIANT_TRUE;
            LONG count = -1;
            trutina->get_Connected(&connected);
            trutina->get_DataCount(&count);
            return connected == VARIANT_FALSE && count == 0;
        };
        EXPECT_TRUE(PumpUntil(over, 20000));
        platform::WaitAndPumpApartment(100);
        scale.SetAsyncMode(false);
    }
    driver::SetDriverCallHook({});
    return recording.str();
}

int Count(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

TEST(ProfileReplayTest, ARunUnderSimulatedTimeRecordsTheSameTwiceAndReplaysWithoutADifference)
{
    TSimulatorEnvironment env(false); // the real clock: simulated time alone makes it repeatable
    const std::string first = RecordRun(env);
    const std::string second = RecordRun(env);
    EXPECT_EQ(first, second);
    // The run saw what the script puts on: loads, swing, overload, the refusals, the cut cable
    // and data events.
    for (const char* seen : {R"({"get":"Weight","value":1.25})", R"({"get":"Weight","value":3.0})",
                             R"({"get":"BigWeight","value":-1})", R"({"call":"ReadWeight","value":-10})",
                             R"({"call":"ReadWeight","value":-1})", R"({"get":"Weight","value":4.5})"})
        EXPECT_NE(first.find(seen), std::string::npos) << seen;
    EXPECT_EQ(Count(first, R"({"call":"ReadWeight","value":-10})"), 2);
    EXPECT_EQ(Count(first, R"({"event":"DataEvent"})"), 3); // 2.0, 4.5 and 0 kg, each once stable

    const std::string path = env.Folder() + "/run.jsonl";
    std::ofstream(path, std::ios::binary) << first;
    env.WriteSettings(ProfileSettings);
    std::ostringstream out, err;
    const int code = replay::Run({path, "--module", TRUTINA_MODULE_PATH}, out, err);
    EXPECT_EQ(code, replay::kExitSame) << out.str() << err.str();
    EXPECT_EQ(out.str(), "1 passed, 0 failed\n");
}

} // namespace
