// The asynchronous mode of Trutina.dll: the polling thread queues numbered messages and the data
// event reaches the apartment's thread, through the program's own control TStatera.
#include "CountingSink.h"
#include "platform/apartment.h"
#include "platform/comptr.h"
#include "SimulatorEnvironment.h"

#include "driver/ScaleX.h"
#include "driver/Statera.h"
#include "simulator/ResultCodes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using trutina::TResult;

namespace {

// Device 1 on, its load stepping up every two seconds from 1 kg.
const char* const SteppingLoad = R"({"pollingInterval": 0,
  "devices": [{"number": 1, "enabled": true, "loadProfile": "steps"}],
  "loadProfiles": {"steps": {"steps": [{"at": 0, "load": 1.0}, {"at": 2000, "load": 2.0}, {"at": 4000, "load": 2.02},
                                       {"at": 6000, "load": 3.0}]}}})";

struct TEventSeen {
    std::thread::id Thread;
    std::int32_t EventNumber, DataCount;
    double Weight;
};

class StateraAsyncTest : public testing::Test {
protected:
    void SetUp() override { Recreate(SteppingLoad); }
    // A new object over the settings.
    void Recreate(const char* settings)
    {
        Scale.reset();
        Control.reset();
        Env.WriteSettings(settings);
        Control = std::make_unique<TStatera>();
        Scale = std::make_unique<TScaleX>(Control->DriverInterface().Get());
        Control->OnDataEvent = [this](TStatera*) {
            Seen.push_back({std::this_thread::get_id(), Scale->EventNumber(), Scale->DataCount(), Scale->Weight()});
            if (DeleteInHandler)
                Scale->DeleteEvent();
        };
    }
    void TearDown() override
    {
        Scale.reset();
        Control.reset();
    }

    // The scripted load starts and its first kilogram settles (GenerateEvent takes a stable weight).
    void Settle()
    {
        Scale->ReadWeight();
        Env.AdvanceClock(1000);
    }

    // Moves the scripted load on and waits for the event it brings.
    void StepAndWait(long long ms, std::size_t events)
    {
        Env.AdvanceClock(ms);
        ASSERT_TRUE(PumpUntil([&] { return Seen.size() >= events; })) << "events seen: " << Seen.size();
    }

    TSimulatorEnvironment Env;
    std::unique_ptr<TStatera> Control;
    std::unique_ptr<TScaleX> Scale;
    std::vector<TEventSeen> Seen;
    bool DeleteInHandler = false;
};

TEST_F(StateraAsyncTest, StableChangesBecomeNumberedEventsOnTheApartmentThread)
{
    DeleteInHandler = true;
    Scale->SetWeightStep(0.05);
    Scale->ReadWeight(); // the scripted load starts
    Scale->SetDataEventEnabled(true);
    Scale->SetAsyncMode(true);
    EXPECT_EQ(Env.LivePollers(), 1);
    StepAndWait(1000, 1); // 1.0 settled
    StepAndWait(2000, 2); // 2.0 settled
    Env.AdvanceClock(2000); // 2.02: below the step, no event
    platform::WaitAndPumpApartment(300);
    EXPECT_EQ(Seen.size(), 2u);
    StepAndWait(2000, 3); // 3.0
    ASSERT_EQ(Seen.size(), 3u);
    const double weights[] = {1.0, 2.0, 3.0};
    for (std::size_t i = 0; i < Seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Seen[i].Thread, std::this_thread::get_id());
        EXPECT_EQ(Seen[i].EventNumber, static_cast<std::int32_t>(i + 1));
        EXPECT_EQ(Seen[i].DataCount, 1);
        EXPECT_EQ(Seen[i].Weight, weights[i]);
    }
    EXPECT_EQ(Scale->DataCount(), 0);
    EXPECT_EQ(Scale->EventNumber(), 0);
}

TEST_F(StateraAsyncTest, UndeletedMessagesPileUpAndTheOldestIsShown)
{
    Scale->ReadWeight();
    Scale->SetDataEventEnabled(true);
    Scale->SetAsyncMode(true);
    StepAndWait(1000, 1);
    StepAndWait(2000, 2);
    Scale->GenerateEvent();
    ASSERT_TRUE(PumpUntil([&] { return Seen.size() >= 3; }));
    EXPECT_EQ(Seen[1].EventNumber, 1);
    EXPECT_EQ(Seen[1].DataCount, 2);
    EXPECT_EQ(Seen[2].DataCount, 3);
    EXPECT_EQ(Scale->Weight(), 1.0); // the oldest message's reading
    Scale->DeleteEvent();
    EXPECT_EQ(Scale->EventNumber(), 2);
    EXPECT_EQ(Scale->Weight(), 2.0);
    Scale->DeleteEvent();
    EXPECT_EQ(Scale->EventNumber(), 3);
    Scale->DeleteEvent();
    EXPECT_THROW(Scale->DeleteEvent(), EScaleError);
    EXPECT_EQ(Scale->ResultCode(), static_cast<std::int32_t>(TResult::NoMessages));
}

TEST_F(StateraAsyncTest, AutoDisableAllowsOneEventUntilEventsAreEnabledAgain)
{
    Settle();
    Scale->SetAutoDisable(true);
    Scale->SetDataEventEnabled(true);
    Scale->GenerateEvent();
    Scale->GenerateEvent();
    Scale->GenerateEvent();
    ASSERT_TRUE(PumpUntil([&] { return Seen.size() >= 1; }));
    platform::WaitAndPumpApartment(200);
    EXPECT_EQ(Seen.size(), 1u);
    EXPECT_FALSE(Scale->DataEventEnabled());
    EXPECT_EQ(Scale->DataCount(), 3);
    Scale->SetDataEventEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return Seen.size() >= 2; }));
    platform::WaitAndPumpApartment(200);
    EXPECT_EQ(Seen.size(), 2u);
    Scale->SetAutoDisable(false);
    Scale->SetDataEventEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return Seen.size() >= 3; }));
    EXPECT_EQ(Scale->DataCount(), 3); // events announce messages; only DeleteEvent removes them
}

TEST_F(StateraAsyncTest, EventsWaitWhileDisabledAndTheQueueStopsAtItsBound)
{
    Settle();
    for (int i = 0; i < 100; ++i)
        Scale->GenerateEvent();
    platform::WaitAndPumpApartment(100);
    EXPECT_TRUE(Seen.empty());
    EXPECT_THROW(Scale->GenerateEvent(), EScaleError);
    EXPECT_EQ(Scale->ResultCode(), static_cast<std::int32_t>(TResult::QueueFull));
    EXPECT_EQ(Scale->DataCount(), 100);
    EXPECT_EQ(Scale->EventNumber(), 1);
    DeleteInHandler = true;
    Scale->SetDataEventEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return Seen.size() >= 100; }));
    EXPECT_EQ(Seen.back().EventNumber, 100);
    EXPECT_EQ(Scale->DataCount(), 0);
}

TEST_F(StateraAsyncTest, TurningAsyncModeOffOrTheDeviceOffStopsTheThreadAtOnce)
{
    Scale->SetPollingInterval(4); // 1 s: stopping must not wait for the next poll
    Scale->SetAsyncMode(true);
    EXPECT_EQ(Env.LivePollers(), 1);
    Scale->SetAsyncMode(false);
    EXPECT_EQ(Env.LivePollers(), 0);
    Scale->SetAsyncMode(true);
    Scale->SetDeviceEnabled(false);
    EXPECT_EQ(Env.LivePollers(), 0);
    Scale->SetDeviceEnabled(true);
    EXPECT_EQ(Env.LivePollers(), 1);
}


// After the last message is deleted the weight members show the newest reading the poller took,
// not an old synchronous one.
TEST_F(StateraAsyncTest, AfterTheLastMessageIsDeletedThePollersNewestReadingIsShown)
{
    DeleteInHandler = true;
    Scale->ReadWeight(); // the load settles from now: unstable, nothing on it yet
    ASSERT_TRUE(Scale->NonStable());
    Scale->SetDataEventEnabled(true);
    Scale->SetAsyncMode(true);
    StepAndWait(1000, 1);
    EXPECT_EQ(Seen[0].Weight, 1.0);
    EXPECT_EQ(Scale->DataCount(), 0);
    EXPECT_EQ(Scale->Weight(), 1.0);
    EXPECT_FALSE(Scale->NonStable());
}

// A change of the current device empties the queue: the old device's messages are not shown for
// the new one, and the new device's first stable reading is news even when it weighs the same.
TEST_F(StateraAsyncTest, ADeviceChangeEmptiesTheQueueAndTheNewDevicesFirstReadingIsQueued)
{
    Recreate(R"({"pollingInterval": 0,
      "devices": [{"number": 1, "enabled": true, "loadProfile": "two"}, {"number": 2, "enabled": true, "port": 2, "loadProfile": "two"}],
      "loadProfiles": {"two": {"steps": [{"at": 0, "load": 2.0}]}}})");
    Scale->ReadWeight();
    Scale->SetDataEventEnabled(true);
    Scale->SetAsyncMode(true);
    StepAndWait(1000, 1);
    ASSERT_EQ(Scale->DataCount(), 1);
    Scale->SetCurrentDeviceNumber(2);
    EXPECT_EQ(Scale->DataCount(), 0);
    EXPECT_EQ(Scale->EventNumber(), 0);
    EXPECT_EQ(Scale->Weight(), 0.0);
    Scale->ReadWeight(); // device 2's load settles from now
    StepAndWait(1000, 2);
    ASSERT_EQ(Seen.size(), 2u);
    EXPECT_EQ(Seen[1].Weight, 2.0);
    EXPECT_EQ(Seen[1].EventNumber, 2);
    EXPECT_EQ(Seen[1].DataCount, 1);
}

TEST(StateraReleaseTest, NoEventAndNoThreadAfterTheObjectIsReleased)
{
    TSimulatorEnvironment env;
    env.WriteSettings(SteppingLoad);
    TCountingSink sink;
    auto driver = env.Create();
    platform::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(driver.As(IID_IConnectionPointContainer, container), S_OK);
    platform::ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID_ITrutinaEvents, point.Out()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    point.Reset();
    container.Reset();

    auto scale = std::make_unique<TScaleX>(driver.Get());
    scale->ReadWeight();
    env.AdvanceClock(1000); // settled: GenerateEvent takes a stable weight
    scale->SetDataEventEnabled(true);
    scale->SetAsyncMode(true);
    scale->GenerateEvent();
    ASSERT_TRUE(PumpUntil([&] { return sink.Events.load() == 1; }));
    scale->GenerateEvent(); // its delivery is now waiting in the apartment
    EXPECT_EQ(env.LivePollers(), 1);
    // Released without Unadvise, with a delivery waiting.
    scale.reset();
    driver.Reset();
    EXPECT_EQ(env.LivePollers(), 0);
    // The waiting delivery is code of the module: it must stay loaded until the call is gone.
    EXPECT_EQ(env.CanUnloadNow(), S_FALSE);
    platform::WaitAndPumpApartment(300);
    EXPECT_EQ(sink.Events.load(), 1);
    EXPECT_EQ(env.CanUnloadNow(), S_OK);
}

} // namespace
