// The driver model without COM: money, result bookkeeping and notices, the message queue and the
// asynchronous mode, on a hand-moved clock and an in-memory settings sink.
#include "simulator/ScaleDriver.h"

#include "runtime/utf.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <tuple>
#include <vector>

using namespace trutina;

namespace {

class TMemorySink final : public ISettingsSink {
public:
    bool Save(const TDriverSettings& settings) override
    {
        ++Saves;
        if (!Works)
            return false;
        Saved = settings;
        return true;
    }
    bool Works = true;
    int Saves = 0;
    TDriverSettings Saved;
};

TDriverSettings EnabledDevice()
{
    TDriverSettings s = TDriverSettings::Defaults();
    s.Devices[0].Enabled = true;
    return s;
}

std::string Description(const TScaleDriver& d) { return runtime::Utf16ToUtf8(d.ResultDescription()); }

class ScaleDriverTest : public testing::Test {
protected:
    TManualClock Clock;
    TMemorySink Sink;
    std::unique_ptr<TScaleDriver> Driver = std::make_unique<TScaleDriver>(EnabledDevice(), &Sink, Clock);

    void Load(double kg)
    {
        Driver->PutLoad(kg);
        Clock.Advance(1000);
    }
};

TEST(CostTest, WeightTimesUnitPriceRoundedToTheMoneyUnitHalvesAwayFromZero)
{
    struct Row {
        double Weight;
        TMoney Price, Cost;
    };
    const Row rows[] = {
        {1.235, 125'000, 154'375},                // 1.235 kg x 12.50 = 15.4375
        {2.345, 9'999, 23'448},                   // x 0.9999 = 2.3447655 -> 2.3448
        {0.5, 1, 1},                              // 0.00005 -> up to 0.0001
        {0.5, 3, 2},                              // 0.00015 -> 0.0002
        {0.4, 1, 0},                              // 0.00004 -> 0
        {-0.5, 1, -1},                            // away from zero on both sides
        {150.0, MaxUnitPrice, 1'500'000'000'000}, // the largest: no overflow
        {0.1, 3, 0},                              // 0.00003
        {0.3, 5, 2},                              // 0.00015 from 0.1 + 0.2 style binary noise
        {-1.2345, 12'345, -15'240},               // -1.52399025: every part of both factors non-zero
        {1'000'000.0, MaxUnitPrice, 10'000'000'000'000'000}, // the product exceeds 64 bits, the cost not
        {-1'000'000.0, MaxUnitPrice - 1, -9'999'999'999'000'000},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Cost(row.Weight, row.Price), row.Cost) << row.Weight << " x " << row.Price;
}

// SalesPrice as the register sees it: the exact cost rounded once to the device's price step,
// halves away from zero.
TEST(PriceRoundingTest, SalesPriceIsRoundedToTheDevicesStep)
{
    struct Row {
        TMoney Step;
        double Load;
        TMoney UnitPrice, SalesPrice;
    };
    const Row rows[] = {
        {1, 1.235, 125'000, 154'375},     // 1.235 kg x 12.50 = 15.4375
        {100, 1.235, 125'000, 154'400},   // 15.44
        {500, 1.235, 125'000, 154'500},   // 15.45
        {1000, 1.235, 125'000, 154'000},  // 15.4
        {10000, 1.235, 125'000, 150'000}, // 15
        {500, 2.455, 50'000, 123'000},    // 12.275: a half, away from zero
        {100, 0.995, 10'100, 10'000},     // 1.00495 -> 1.00, not 1.0050 -> 1.01
        {100, 0.505, 999'900, 504'900},   // 50.49495 -> 50.49, not 50.4950 -> 50.50
        {500, 2.505, 999'900, 2'504'500}, // 250.47495 -> 250.45, not 250.4750 -> 250.50
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Step);
        TDriverSettings s = EnabledDevice();
        s.Devices[0].PriceStep = row.Step;
        TManualClock clock;
        TScaleDriver driver(s, nullptr, clock);
        driver.PutLoad(row.Load);
        clock.Advance(1000);
        ASSERT_EQ(driver.SetUnitPrice(row.UnitPrice), TResult::Ok);
        ASSERT_EQ(driver.ReadWeight(), TResult::Ok);
        EXPECT_EQ(driver.SalesPrice(), row.SalesPrice);
    }
}

TEST(MessageQueueTest, NumbersMessagesKeepsOrderAndDropsTheNewestWhenFull)
{
    TMessageQueue queue;
    TReading r;
    for (std::size_t i = 1; i <= TMessageQueue::Bound; ++i) {
        r.Weight = static_cast<double>(i);
        ASSERT_EQ(queue.Push(r, 0), static_cast<std::int32_t>(i));
    }
    r.Weight = 999;
    EXPECT_EQ(queue.Push(r, 0), 0);
    EXPECT_EQ(queue.Push(r, 0), 0);
    EXPECT_EQ(queue.Count(), TMessageQueue::Bound);
    EXPECT_EQ(queue.Current()->Reading.Weight, 1.0);
    EXPECT_EQ(queue.TakeLost(), 2u);
    EXPECT_EQ(queue.TakeLost(), 0u);

    EXPECT_FALSE(queue.DropBefore(500));
    EXPECT_EQ(queue.Count(), TMessageQueue::Bound);
    EXPECT_TRUE(queue.DropBefore(40));
    EXPECT_EQ(queue.Current()->Number, 40);
    ASSERT_TRUE(queue.PopCurrent());
    EXPECT_EQ(queue.Current()->Number, 41);
    EXPECT_EQ(queue.Push(r, 0), 101); // numbers go on after the drops
}

TEST_F(ScaleDriverTest, InjectedRefusalHitsOnlyTheNextOperationAndChangesNothing)
{
    Driver->InjectRefusal(TResult::Overload);
    EXPECT_EQ(Driver->SetPortNumber(7), TResult::Overload);
    EXPECT_EQ(Driver->ResultCode(), -11);
    EXPECT_EQ(Description(*Driver), ResultDescription(TResult::Overload));
    EXPECT_EQ(Driver->PortNumber(), 1);
    EXPECT_EQ(Driver->SetPortNumber(7), TResult::Ok);
    EXPECT_EQ(Driver->PortNumber(), 7);
    EXPECT_EQ(Description(*Driver), "Ошибок нет");
}

TEST_F(ScaleDriverTest, ReadsLeaveTheResultOfTheLastOperation)
{
    EXPECT_EQ(Driver->SetBaudRate(6), TResult::InvalidParameter);
    Driver->Weight();
    Driver->CurrentDeviceName();
    Driver->DataCount();
    EXPECT_EQ(Driver->ResultCode(), static_cast<int>(TResult::InvalidParameter));
}

TEST_F(ScaleDriverTest, DamagedSettingsAreReportedOnceByTheNextSuccessfulOperation)
{
    TDriverSettings s = TDriverSettings::Defaults();
    s.Damaged = TSettingsDamage{"trutina.json.damaged-20261207-101500"};
    Driver = std::make_unique<TScaleDriver>(s, &Sink, Clock);
    EXPECT_EQ(Driver->ResultCode(), 0);
    // A refusal does not swallow the notice.
    EXPECT_EQ(Driver->SetParity(1), TResult::InvalidParameter);
    EXPECT_EQ(Driver->SetParity(2), TResult::SettingsDamaged);
    EXPECT_EQ(Driver->Parity(), 2); // the operation itself was done
    EXPECT_NE(Description(*Driver).find("trutina.json.damaged-20261207-101500"), std::string::npos);
    EXPECT_FALSE(Sink.Saved.Damaged);
    EXPECT_EQ(Driver->SetParity(0), TResult::Ok);
}

TEST_F(ScaleDriverTest, InconsistentSettingsGiveTheDefaults)
{
    TDriverSettings s = TDriverSettings::Defaults();
    s.Devices.push_back(s.Devices[0]); // number 1 twice
    TScaleDriver driver(s, &Sink, Clock);
    EXPECT_EQ(driver.DeviceCount(), 1);
    EXPECT_EQ(driver.CurrentDeviceNumber(), 1);
}

TEST_F(ScaleDriverTest, UnwritableSettingsKeepTheChangeAndSaySo)
{
    Sink.Works = false;
    EXPECT_EQ(Driver->SetPortNumber(3), TResult::SettingsNotSaved);
    EXPECT_EQ(Driver->PortNumber(), 3);
    Sink.Works = true;
    EXPECT_EQ(Driver->SetPortNumber(4), TResult::Ok);
    EXPECT_EQ(Sink.Saved.Devices[0].PortNumber, 4);
}

TEST_F(ScaleDriverTest, EveryChangeOfTheStoredSettingsIsWrittenAtOnce)
{
    const int before = Sink.Saves;
    Driver->SetCurrentDeviceName(u"Весы в зале");
    EXPECT_EQ(Sink.Saves, before + 1);
    EXPECT_EQ(Sink.Saved.Devices[0].Name, u"Весы в зале");
    std::int32_t number = 0;
    Driver->AddDevice(number);
    EXPECT_EQ(Sink.Saves, before + 2);
    EXPECT_EQ(Sink.Saved.Devices.size(), 2u);
    EXPECT_EQ(Sink.Saved.CurrentDeviceNumber, number);
    // Session values are not settings.
    Driver->SetUnitPrice(10000);
    Driver->SetAsyncMode(false);
    EXPECT_EQ(Sink.Saves, before + 2);
}

TEST_F(ScaleDriverTest, LockDevicesLeavesSwitchingOnAndSelectingFree)
{
    std::int32_t number = 0;
    ASSERT_EQ(Driver->AddDevice(number), TResult::Ok);
    ASSERT_EQ(Driver->SetLockDevices(true), TResult::Ok);
    EXPECT_EQ(Driver->SetCurrentDeviceIndex(0), TResult::Ok);
    EXPECT_EQ(Driver->SetDeviceEnabled(false), TResult::Ok);
    EXPECT_EQ(Driver->SetLogicalNumber(50), TResult::DevicesLocked);
    EXPECT_EQ(Driver->SetModel(3), TResult::DevicesLocked);
}

TEST_F(ScaleDriverTest, AnotherDeviceShowsNothingUntilItIsRead)
{
    Load(2.0);
    ASSERT_EQ(Driver->ReadWeight(), TResult::Ok);
    ASSERT_EQ(Driver->GetDeviceMetrics(), TResult::Ok);
    std::int32_t number = 0;
    ASSERT_EQ(Driver->AddDevice(number), TResult::Ok);
    EXPECT_EQ(Driver->Weight(), 0.0);
    EXPECT_EQ(Driver->Metrics().DeviceModel, 0);
    ASSERT_EQ(Driver->SetCurrentDeviceNumber(1), TResult::Ok);
    EXPECT_EQ(Driver->Weight(), 0.0);
    ASSERT_EQ(Driver->ReadWeight(), TResult::Ok);
    EXPECT_EQ(Driver->Weight(), 2.0); // the first device's scales kept their load
}

TEST_F(ScaleDriverTest, RenumberingKeepsTheDeviceAndRefusesATakenNumber)
{
    std::int32_t number = 0;
    ASSERT_EQ(Driver->AddDevice(number), TResult::Ok);
    ASSERT_EQ(number, 2);
    EXPECT_EQ(Driver->SetLogicalNumber(1), TResult::DeviceNumberInUse);
    EXPECT_EQ(Driver->SetLogicalNumber(100), TResult::OutOfRange);
    EXPECT_EQ(Driver->SetLogicalNumber(42), TResult::Ok);
    EXPECT_EQ(Driver->CurrentDeviceNumber(), 42);
    EXPECT_EQ(Driver->CurrentDeviceIndex(), 1);
    ASSERT_EQ(Driver->AddDevice(number), TResult::Ok);
    EXPECT_EQ(number, 2); // the lowest free number
}

TEST_F(ScaleDriverTest, PollerQueuesStableChangesOfAtLeastTheStep)
{
    ASSERT_EQ(Driver->SetWeightStep(0.1), TResult::Ok);
    ASSERT_EQ(Driver->SetAsyncMode(true), TResult::Ok);
    Load(1.0);
    Driver->PollOnce();
    EXPECT_EQ(Driver->DataCount(), 1); // the first stable weight is news
    Driver->PollOnce();
    Load(1.05);
    Driver->PollOnce();
    EXPECT_EQ(Driver->DataCount(), 1); // below the step
    Driver->PutLoad(3.0);              // unstable while settling
    Clock.Advance(500);
    Driver->PollOnce();
    EXPECT_EQ(Driver->DataCount(), 1);
    Clock.Advance(500);
    Driver->PollOnce();
    Load(3.1);
    Driver->PollOnce();
    EXPECT_EQ(Driver->DataCount(), 3);

    // The weight members show the oldest message until it is deleted.
    EXPECT_EQ(Driver->EventNumber(), 1);
    EXPECT_EQ(Driver->Weight(), 1.0);
    ASSERT_EQ(Driver->DeleteEvent(), TResult::Ok);
    EXPECT_EQ(Driver->EventNumber(), 2);
    EXPECT_EQ(Driver->Weight(), 3.0);
    EXPECT_EQ(Driver->SetEventNumber(3), TResult::Ok);
    EXPECT_EQ(Driver->DataCount(), 1);
    EXPECT_EQ(Driver->Weight(), 3.1);
    EXPECT_EQ(Driver->SetEventNumber(2), TResult::NoSuchMessage);
    ASSERT_EQ(Driver->DeleteEvent(), TResult::Ok);
    EXPECT_EQ(Driver->DeleteEvent(), TResult::NoMessages);
    EXPECT_EQ(Driver->EventNumber(), 0);
    Driver->SetAsyncMode(false);
}

// A register confirms a weight with ReadWeight: an older queued message must not stand for it (a
// wrong receipt), and a message keeps the price of its weighing whatever the register keys next.
TEST_F(ScaleDriverTest, ASynchronousReadingHidesTheCurrentMessageWhichKeepsItsPrice)
{
    ASSERT_EQ(Driver->SetUnitPrice(100'000), TResult::Ok);
    Load(1.0);
    ASSERT_EQ(Driver->GenerateEvent(), TResult::Ok);
    ASSERT_EQ(Driver->SetUnitPrice(200'000), TResult::Ok);
    EXPECT_EQ(Driver->SalesPrice(), 100'000);
    Load(2.0);
    ASSERT_EQ(Driver->ReadWeight(), TResult::Ok);
    EXPECT_EQ(Driver->Weight(), 2.0);
    EXPECT_EQ(Driver->SalesPrice(), 400'000);
    Load(3.0);
    ASSERT_EQ(Driver->GenerateEvent(), TResult::Ok);
    ASSERT_EQ(Driver->DeleteEvent(), TResult::Ok); // the next message becomes current and is shown
    ASSERT_EQ(Driver->SetUpdatePrice(false), TResult::Ok);
    EXPECT_EQ(Driver->Weight(), 3.0);
    EXPECT_EQ(Driver->SalesPrice(), 600'000);
    // Leaving the asynchronous mode empties the queue.
    ASSERT_EQ(Driver->SetAsyncMode(true), TResult::Ok);
    ASSERT_EQ(Driver->SetAsyncMode(false), TResult::Ok);
    EXPECT_EQ(Driver->DataCount(), 0);
    EXPECT_EQ(Driver->SalesPrice(), 0);
}

// An overload or underload is no weight to price: never a message, and GenerateEvent refuses it as
// ReadWeight does.
TEST_F(ScaleDriverTest, OutOfRangeReadingsAreRefusedAndNeverQueued)
{
    ASSERT_EQ(Driver->SetUnitPrice(100'000), TResult::Ok);
    for (const auto& [load, code] : {std::pair{16.0, TResult::Overload}, std::pair{-0.2, TResult::WeightOutOfRange}}) {
        SCOPED_TRACE(load);
        Load(1.0);
        ASSERT_EQ(Driver->ReadWeight(), TResult::Ok);
        Load(load);
        ASSERT_EQ(Driver->SetAsyncMode(true), TResult::Ok);
        Driver->PollOnce();
        // The weight members keep the last good weight, in both modes.
        EXPECT_EQ(Driver->Weight(), 1.0);
        EXPECT_EQ(Driver->SalesPrice(), 100'000);
        EXPECT_EQ(Driver->GenerateEvent(), code);
        EXPECT_EQ(Driver->DataCount(), 0);
        Driver->SetAsyncMode(false);
        EXPECT_EQ(Driver->ReadWeight(), code);
        EXPECT_EQ(Driver->Weight(), 1.0);
    }
}

// The poller waits for the scales as a call does, without holding the driver: slow scales give a
// late message; scales slower than Timeout, or a cut line, give none and Connected false once
// Timeout has passed. After the line comes back, or a restart, the first stable reading is news
// even when it weighs what the last message did; off the line no weight is shown.
TEST(ScalesAnswerTest, ThePollerWaitsForTheScalesAndWhatFollowsAnInterruptionIsNews)
{
    struct Row {
        const char* Name;
        std::function<void(TScaleDriver&, TManualClock&)> Interrupt;
        TMillis Wait; // until the poll is answered or given up
        bool Answered;
        double Shown;
    };
    const Row rows[] = {
        {"answering in 300 ms", [](TScaleDriver& d, TManualClock& c) {
             d.SetAnswerDelay(300);
             d.PutLoad(2.0);
             c.Advance(1000); }, 300, true, 2.0},
        {"answering in 1500 ms", [](TScaleDriver& d, TManualClock&) { d.SetAnswerDelay(1500); }, 1000, false, 0.0},
        {"line cut", [](TScaleDriver& d, TManualClock&) { d.SetScalesConnected(false); }, 1000, false, 0.0},
        {"switched off and on", [](TScaleDriver& d, TManualClock&) {
             d.SetDeviceEnabled(false);
             d.SetDeviceEnabled(true); }, 1000, true, 1.0},
        {"restarted from the dialog", [](TScaleDriver& d, TManualClock&) { d.RestartLoadProfile(); }, 1000, true, 1.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        TDriverSettings s = EnabledDevice();
        s.PollingInterval = 4; // the thread stays out of the way: the test polls by hand
        s.LoadProfiles["p"] = TLoadProfile{{TLoadStep{0, 1.0}}, 0};
        s.Devices[0].LoadProfile = "p";
        TManualClock clock;
        TScaleDriver d(s, nullptr, clock);
        d.ReadWeight(); // the profile starts
        clock.Advance(1000);
        ASSERT_EQ(d.SetAsyncMode(true), TResult::Ok);
        d.PollOnce();
        ASSERT_EQ(d.DeleteEvent(), TResult::Ok); // 1 kg reported
        row.Interrupt(d, clock);
        d.PollOnce(); // the request goes out (a restart settles meanwhile)
        clock.Advance(row.Wait - 1);
        d.PollOnce();
        EXPECT_EQ(d.DataCount(), 0);
        clock.Advance(1);
        d.PollOnce();
        EXPECT_EQ(d.DataCount(), row.Answered ? 1 : 0);
        EXPECT_EQ(d.Connected(), row.Answered);
        EXPECT_EQ(d.Weight(), row.Shown);
        if (!row.Answered) { // the scales answer again: their first stable reading is news
            d.SetAnswerDelay(0);
            d.SetScalesConnected(true);
            d.PollOnce();
            EXPECT_EQ(d.DataCount(), 1);
        }
    }
}

// A cut line costs each call that asks the scales (a unit price goes to their display too) Timeout,
// nothing with a step's answerAtOnce; other calls never wait. A scripted "no answer" (-1, -25)
// costs the same, other scripted refusals nothing.
TEST(ScalesAnswerTest, ACutLineCostsTimeoutPerCallThatAsksTheScales)
{
    const auto metrics = [](TScaleDriver& d) { return d.GetDeviceMetrics(); };
    const auto readWeight = [](TScaleDriver& d) { return d.ReadWeight(); };
    const struct {
        const char* Name;
        bool Cut, AtOnce;
        std::optional<TResult> Scripted;
        std::function<TResult(TScaleDriver&)> Call;
        TResult Code;
        TMillis Waited;
    } rows[] = {
        {"metrics, cut line", true, false, {}, metrics, TResult::NoConnection, 700},
        {"unit price, cut line", true, false, {}, [](TScaleDriver& d) { return d.SetUnitPrice(100); }, TResult::NoConnection, 700},
        {"value purpose, cut line", true, false, {}, [](TScaleDriver& d) { return d.SetValuePurpose(1); }, TResult::Ok, 0},
        {"metrics, cut line said at once", true, true, {}, metrics, TResult::NoConnection, 0},
        {"scripted -1", false, false, TResult::NoConnection, readWeight, TResult::NoConnection, 700},
        {"scripted -25", false, false, TResult::AnswerTimeout, readWeight, TResult::AnswerTimeout, 700},
        {"scripted -10", false, false, TResult::WeightNotStable, readWeight, TResult::WeightNotStable, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TDriverSettings s = EnabledDevice();
        s.Timeout = 700;
        TLoadStep cut{0, 0, false, row.Cut};
        cut.AnswerAtOnce = row.AtOnce;
        s.LoadProfiles["p"] = TLoadProfile{{cut}, 0};
        s.Devices[0].LoadProfile = "p";
        TManualClock clock; // its Wait moves it on at once
        TScaleDriver d(s, nullptr, clock);
        d.InjectRefusal(row.Scripted);
        const TMillis before = clock.Now();
        EXPECT_EQ(row.Call(d), row.Code);
        EXPECT_EQ(clock.Now() - before, row.Waited);
    }
}

// Zero at the edges: with a tare set it is refused (the tare stays, net zero shown); at the edge of
// the zero range it leaves zero on display.
TEST_F(ScaleDriverTest, ZeroIsRefusedWithATareAndLeavesZeroAtTheEdgeOfItsRange)
{
    struct Row {
        double Load;
        bool Tare;
        TResult Code;
        double Shown;
    };
    for (const Row& row : {Row{0.2, true, TResult::TareSet, 0.0}, Row{0.3025, false, TResult::Ok, 0.0}}) {
        SCOPED_TRACE(row.Load);
        Driver = std::make_unique<TScaleDriver>(EnabledDevice(), &Sink, Clock);
        Load(row.Load);
        if (row.Tare) {
            ASSERT_EQ(Driver->Tare(), TResult::Ok);
        }
        EXPECT_EQ(Driver->Zero(), row.Code);
        ASSERT_EQ(Driver->ReadWeight(), TResult::Ok);
        EXPECT_EQ(Driver->Weight(), row.Shown);
        EXPECT_FALSE(Driver->ShownReading().Negative);
    }
}

// Switching the device off and on, or the dialog's restart, starts its scales as a fresh object
// does: the same readings, not ones settling from the old load with the old tare and zero.
TEST(RestartTest, ARestartedRunEqualsAFreshOne)
{
    TDriverSettings s = EnabledDevice();
    s.SimulatedMsPerReading = 100;
    s.LoadProfiles["p"] = TLoadProfile{{TLoadStep{0, 2.0}, TLoadStep{1500, 0.25}}, 0};
    s.Devices[0].LoadProfile = "p";
    TManualClock clock;
    auto run = [](TScaleDriver& d) {
        std::vector<TReading> readings;
        for (int i = 0; i < 30; ++i) {
            d.ReadWeight();
            readings.push_back(d.ShownReading());
        }
        return readings;
    };
    std::vector<TReading> expected;
    {
        TScaleDriver fresh(s, nullptr, clock); // gone before the next object opens the port
        expected = run(fresh);
    }
    for (const bool byDialog : {false, true}) {
        SCOPED_TRACE(byDialog);
        TScaleDriver used(s, nullptr, clock);
        run(used);
        ASSERT_EQ(used.Zero(), TResult::Ok);
        ASSERT_EQ(used.SetTareWeight(1.0), TResult::Ok);
        ASSERT_EQ(used.SetTare(), TResult::Ok);
        used.PutLoad(7);
        if (byDialog) {
            used.RestartLoadProfile();
        } else {
            ASSERT_EQ(used.SetDeviceEnabled(false), TResult::Ok);
            ASSERT_EQ(used.SetDeviceEnabled(true), TResult::Ok);
        }
        EXPECT_EQ(run(used), expected);
    }
}

// One rule for simulated time: every reading asked of a switched-on device moves its clock on,
// answered or refused.
TEST(SimulatedTimeTest, ARefusedReadingMovesTheClockAsAnAnsweredOneDoes)
{
    TDriverSettings s = EnabledDevice();
    s.SimulatedMsPerReading = 100;
    TLoadStep refusing{100, 1.0};
    refusing.Refuse = TResult::WeightNotStable;
    s.LoadProfiles["p"] = TLoadProfile{{TLoadStep{0, 1.0}, refusing}, 0};
    s.Devices[0].LoadProfile = "p";
    TManualClock clock;
    TScaleDriver driver(s, nullptr, clock);
    ASSERT_EQ(driver.ReadWeight(), TResult::Ok);
    ASSERT_EQ(driver.ReadWeight(), TResult::WeightNotStable);
    EXPECT_EQ(driver.LoadProfileView().Profile.Elapsed, 200);
}

TEST_F(ScaleDriverTest, DataEventsAreDueOncePerMessageAndAutoDisableStopsThem)
{
    int due = 0;
    Driver->SetEventDue([&] { ++due; });
    ASSERT_EQ(Driver->GenerateEvent(), TResult::Ok);
    EXPECT_FALSE(Driver->TakeDataEvent()); // events not enabled
    EXPECT_EQ(due, 0);
    ASSERT_EQ(Driver->SetDataEventEnabled(true), TResult::Ok);
    EXPECT_EQ(due, 1); // the waiting message is announced
    EXPECT_TRUE(Driver->TakeDataEvent());
    EXPECT_FALSE(Driver->TakeDataEvent()); // one event per message
    ASSERT_EQ(Driver->SetAutoDisable(true), TResult::Ok);
    ASSERT_EQ(Driver->GenerateEvent(), TResult::Ok);
    ASSERT_EQ(Driver->GenerateEvent(), TResult::Ok);
    EXPECT_TRUE(Driver->TakeDataEvent());
    EXPECT_FALSE(Driver->DataEventEnabled());
    EXPECT_FALSE(Driver->TakeDataEvent());
    EXPECT_EQ(Driver->DataCount(), 3);
    ASSERT_EQ(Driver->SetDataEventEnabled(true), TResult::Ok);
    EXPECT_TRUE(Driver->TakeDataEvent()); // the third message
    EXPECT_FALSE(Driver->DataEventDue());
}

TEST_F(ScaleDriverTest, ReadingsLostToAFullQueueAreReportedByTheNextOperation)
{
    Driver->SetAsyncMode(true);
    for (std::size_t i = 0; i < TMessageQueue::Bound; ++i)
        ASSERT_EQ(Driver->GenerateEvent(), TResult::Ok);
    EXPECT_EQ(Driver->GenerateEvent(), TResult::QueueFull);
    Load(5.0);
    Driver->PollOnce(); // dropped: the queue is full
    EXPECT_EQ(Driver->DataCount(), static_cast<std::int32_t>(TMessageQueue::Bound));
    EXPECT_EQ(Driver->DeleteEvent(), TResult::MessagesLost);
    EXPECT_EQ(Driver->DataCount(), static_cast<std::int32_t>(TMessageQueue::Bound) - 1);
    EXPECT_EQ(Driver->DeleteEvent(), TResult::Ok);
    Driver->SetAsyncMode(false);
}

TEST_F(ScaleDriverTest, PollingThreadRunsOnlyInAsyncModeOnAnEnabledDevice)
{
    EXPECT_FALSE(Driver->PollerRunning());
    Driver->SetAsyncMode(true);
    EXPECT_TRUE(Driver->PollerRunning());
    Driver->SetDeviceEnabled(false);
    EXPECT_FALSE(Driver->PollerRunning());
    Driver->SetDeviceEnabled(true);
    EXPECT_TRUE(Driver->PollerRunning());
    std::int32_t number = 0;
    Driver->AddDevice(number); // a new device is switched off
    EXPECT_FALSE(Driver->PollerRunning());
    Driver->SetCurrentDeviceNumber(1);
    EXPECT_TRUE(Driver->PollerRunning());
    Driver.reset();
    EXPECT_EQ(TAsyncPoller::LiveThreads(), 0);
}

TEST_F(ScaleDriverTest, PollingThreadFillsTheQueueByItself)
{
    Driver->SetPollingInterval(0);
    Load(2.0);
    Driver->SetAsyncMode(true);
    for (int i = 0; i < 200 && Driver->DataCount() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Driver->DataCount(), 1);
    EXPECT_EQ(Driver->Weight(), 2.0);
    Driver->SetAsyncMode(false);
    EXPECT_FALSE(Driver->PollerRunning());
}

// One settings "file" for several drivers: what the file holds is read again before each change.
class TSharedFileSink final : public ISettingsSink {
public:
    explicit TSharedFileSink(TDriverSettings& file) : File(file) {}
    bool Save(const TDriverSettings& settings) override
    {
        if (Works)
            File = settings;
        return Works;
    }
    TLatest Latest() override { return {nullptr, File, {}}; }
    TDriverSettings& File;
    bool Works = true;
};

// Two objects over one file: each change lands on the other's, each object keeps its own current
// device, and what the other did to a device (deleted it, changed its model) reaches the scales.
TEST(SharedSettingsTest, EachChangeIsMadeOnTheLatestSettings)
{
    TManualClock clock;
    TDriverSettings file = EnabledDevice();
    TSharedFileSink sinkA(file), sinkB(file);
    TScaleDriver a(file, &sinkA, clock), b(file, &sinkB, clock);
    std::int32_t number = 0;
    ASSERT_EQ(a.AddDevice(number), TResult::Ok); // a: device 2, current in the file
    ASSERT_EQ(b.SetWeightStep(0.5), TResult::Ok);
    EXPECT_EQ(file.Devices.size(), 2u);
    EXPECT_EQ(file.WeightStep, 0.5);
    EXPECT_EQ(file.CurrentDeviceNumber, 2); // b did not choose a device: a's choice stays
    EXPECT_EQ(b.CurrentDeviceNumber(), 1);

    // b holds a tare on device 1; a changes device 1's model: b's scales restart at b's next change.
    b.PutLoad(1.0);
    clock.Advance(1000);
    ASSERT_EQ(b.Tare(), TResult::Ok);
    ASSERT_EQ(a.SetCurrentDeviceNumber(1), TResult::Ok);
    ASSERT_EQ(a.SetModel(3), TResult::Ok);
    ASSERT_EQ(b.SetTimeout(2000), TResult::Ok);
    EXPECT_EQ(b.Model(), 3);
    EXPECT_EQ(b.TareWeight(), 0.0);
    EXPECT_EQ(file.Timeout, 2000);

    // b works on device 2; a deletes it: b's next change finds b on the file's current device.
    ASSERT_EQ(b.SetCurrentDeviceNumber(2), TResult::Ok);
    ASSERT_EQ(a.SetCurrentDeviceNumber(2), TResult::Ok);
    ASSERT_EQ(a.DeleteDevice(), TResult::Ok);
    EXPECT_EQ(b.SetAutoDisable(true), TResult::Ok);
    EXPECT_EQ(b.CurrentDeviceNumber(), 1);
    EXPECT_EQ(b.DeviceCount(), 1);
    EXPECT_TRUE(file.AutoDisable);

    // A change b could not write stays b's own until b writes again.
    sinkB.Works = false;
    EXPECT_EQ(b.SetPollingInterval(4), TResult::SettingsNotSaved);
    sinkB.Works = true;
    ASSERT_EQ(b.SetUpdatePrice(false), TResult::Ok);
    EXPECT_EQ(file.PollingInterval, 4);
    EXPECT_FALSE(file.UpdatePrice);
}

TEST_F(ScaleDriverTest, DeviceParametersAreCheckedStoredAndReadBack)
{
    struct Row {
        TValuePurpose Purpose;
        std::int32_t Good, Bad;
    };
    const Row rows[] = {{TValuePurpose::ProtocolType, 2, 3},
                        {TValuePurpose::BaudRate, 18, 6},
                        {TValuePurpose::SleepMode, 60, -1},
                        {TValuePurpose::TareMode, 1, 2},
                        {TValuePurpose::Password, 999999, 1000000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.Purpose));
        ASSERT_EQ(Driver->SetValuePurpose(static_cast<std::int32_t>(row.Purpose)), TResult::Ok);
        ASSERT_EQ(Driver->SetValue(row.Bad), TResult::Ok);
        EXPECT_EQ(Driver->WriteValue(), TResult::InvalidParameter);
        ASSERT_EQ(Driver->SetValue(row.Good), TResult::Ok);
        EXPECT_EQ(Driver->WriteValue(), TResult::Ok);
        Driver->SetValue(12345);
        EXPECT_EQ(Driver->ReadValue(), TResult::Ok);
        EXPECT_EQ(Driver->Value(), row.Good);
        EXPECT_EQ(Sink.Saved.Devices[0].Parameters.Get(row.Purpose), row.Good);
    }
}

} // namespace
