// Asynchronous mode at 50 ms with data events for three seconds while the apartment thread keeps
// calling members: meant for ThreadSanitizer and AddressSanitizer builds as much as for the plain one.
#include "platform/apartment.h"
#include "SimulatorEnvironment.h"

#include "driver/ScaleX.h"
#include "driver/Statera.h"
#include "simulator/ResultCodes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>
#include <thread>

using trutina::TResult;

namespace {

TEST(StateraStressTest, AsyncAt50msWithEventsWhileMembersAreCalled)
{
    TSimulatorEnvironment env(/*manualClock=*/false);
    env.WriteSettings(R"({"pollingInterval": 0, "weightStep": 0.01,
      "devices": [{"number": 1, "enabled": true, "model": 3, "loadProfile": "busy"}],
      "loadProfiles": {"busy": {"loopMs": 3000, "steps": [
        {"at": 0, "load": 1.0}, {"at": 1000, "load": 2.0}, {"at": 2000, "load": 1.5, "unstable": true}]}}})");
    std::map<std::int32_t, int> refusals;
    int events = 0, inconsistent = 0;
    {
        TStatera control;
        TScaleX scale(control.DriverInterface().Get());
        control.OnDataEvent = [&](TStatera*) {
            ++events;
            const std::int32_t count = scale.DataCount();
            if (count < 1 || scale.EventNumber() < 1)
                ++inconsistent;
            scale.DeleteEvent();
        };
        scale.SetDataEventEnabled(true);
        scale.SetAsyncMode(true);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
            try {
                scale.ReadWeight();
                scale.SetUnitPrice(10000 + 100 * (i % 1000)); // whole kopecks
                scale.SalesPrice();
                scale.Weight();
                scale.NonStable();
                scale.DataCount();
                scale.EventNumber();
                if (i % 10 == 0)
                    scale.GenerateEvent();
                if (i % 150 == 0)
                    scale.SetPollingInterval(i % 300 == 0 ? 1 : 0);
                if (i % 200 == 100) { // the thread stops and starts again
                    scale.SetAsyncMode(false);
                    scale.SetAsyncMode(true);
                }
            } catch (const EScaleError& e) {
                ++refusals[e.ResultCode()];
            }
            platform::WaitAndPumpApartment(1);
        }
        scale.SetAsyncMode(false);
        EXPECT_EQ(env.LivePollers(), 0);
        PumpUntil([&] { return scale.DataCount() == 0; }, 2000);
        EXPECT_EQ(scale.DataCount(), 0); // one event per message, each deleting one
    }
    EXPECT_EQ(env.LivePollers(), 0);
    std::cout << "data events: " << events << ", refusals:";
    for (const auto& [code, times] : refusals)
        std::cout << ' ' << code << " x" << times;
    std::cout << '\n';
    EXPECT_GT(events, 10);
    EXPECT_EQ(inconsistent, 0);
    for (const auto& [code, times] : refusals)
        EXPECT_TRUE(code == static_cast<int>(TResult::QueueFull) || code == static_cast<int>(TResult::MessagesLost) ||
                    code == static_cast<int>(TResult::WeightNotStable))
            << "refused " << times << " times with " << code;
}

} // namespace
