// The simulated weighing platform: settling, rounding, zero, tare, flags and scripted loads, on a
// hand-moved clock.
#include "simulator/ScalePlatform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace trutina;

namespace {

class ScalePlatformTest : public testing::Test {
protected:
    // Model 5: capacity 15 kg, d = 5 g, zero range 0.3 kg, settling 1000 ms.
    TManualClock Clock;
    TScalePlatform Platform{*FindScaleModel(5), Clock};

    TReading Settled(double load)
    {
        Platform.PutLoad(load);
        Clock.Advance(1000);
        return Platform.Read();
    }
};

TEST_F(ScalePlatformTest, WeightIsUnstableWhileSettlingAndMovesTowardTheNewLoad)
{
    Settled(0);
    Platform.PutLoad(2.0);
    Clock.Advance(500);
    const TReading half = Platform.Read();
    EXPECT_FALSE(half.Stable);
    EXPECT_GT(half.Weight, 0.5);
    EXPECT_LT(half.Weight, 1.5);
    Clock.Advance(500);
    const TReading done = Platform.Read();
    EXPECT_TRUE(done.Stable);
    EXPECT_EQ(done.Weight, 2.0);
}

TEST(ScalePlatformRoundingTest, WeightIsRoundedToTheNearestScaleIntervalHalvesAwayFromZero)
{
    struct Row {
        std::int32_t Model;
        double Load, Shown;
    };
    // Halves are decimal halves: 1.0005 is half a gram above 1.000 though its double lies below.
    for (const Row& row : {Row{5, 1.2372, 1.235}, Row{5, 1.2378, 1.24}, Row{5, 0.0126, 0.015}, Row{5, 14.9999, 15.0},
                           Row{3, 1.0005, 1.001}, Row{11, 1.025, 1.05}, Row{5, 1.2375, 1.24}}) {
        TManualClock clock;
        TScalePlatform platform{*FindScaleModel(row.Model), clock};
        platform.PutLoad(row.Load);
        clock.Advance(2000);
        EXPECT_EQ(platform.Read().Weight, row.Shown) << "model " << row.Model << ", load " << row.Load;
    }
}

TEST_F(ScalePlatformTest, OverloadStartsNineIntervalsAboveCapacity)
{
    const TReading atLimit = Settled(15.045);
    EXPECT_FALSE(atLimit.Overload);
    EXPECT_EQ(atLimit.Result, TResult::Ok);
    const TReading over = Settled(15.05);
    EXPECT_TRUE(over.Overload);
    EXPECT_EQ(over.Result, TResult::Overload);
}

// Loads far beyond any count the scales can hold: an overload (or an underload for a negative
// one), a finite weight, and no overflow on the way (the sanitizer build checks the casts).
TEST_F(ScalePlatformTest, AbsurdLoadsSaturateToOverloadOrUnderloadNeverTheOpposite)
{
    struct Row {
        double Load;
        TResult Result;
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (const Row& row : {Row{1e13, TResult::Overload}, Row{1e300, TResult::Overload},
                           Row{std::numeric_limits<double>::max(), TResult::Overload}, Row{inf, TResult::Overload},
                           Row{std::numeric_limits<double>::quiet_NaN(), TResult::Overload},
                           Row{-1e13, TResult::WeightOutOfRange}, Row{-1e300, TResult::WeightOutOfRange}}) {
        SCOPED_TRACE(row.Load);
        Settled(0);
        const TReading r = Settled(row.Load);
        EXPECT_EQ(r.Result, row.Result);
        EXPECT_EQ(r.Overload, row.Result == TResult::Overload);
        EXPECT_EQ(r.InvalidRange, row.Result == TResult::WeightOutOfRange);
        EXPECT_TRUE(std::isfinite(r.Weight) && std::isfinite(r.Gross));
        EXPECT_EQ(r.Weight > 0, row.Result == TResult::Overload);
    }
}

TEST_F(ScalePlatformTest, ZeroWithinRangeSetsZeroAndOutsideIsRefusedWithFlag)
{
    Settled(0.25);
    EXPECT_EQ(Platform.Zero(), TResult::Ok);
    EXPECT_EQ(Platform.Read().Weight, 0.0);
    EXPECT_FALSE(Platform.Read().OutOfZero);

    Settled(0.35);
    EXPECT_EQ(Platform.Zero(), TResult::ZeroOutOfRange);
    EXPECT_TRUE(Platform.Read().OutOfZero);
    EXPECT_EQ(Platform.Read().Weight, 0.1); // the earlier zero stays

    Platform.PutLoad(0.1);
    EXPECT_EQ(Platform.Zero(), TResult::WeightNotStable);
}

TEST_F(ScalePlatformTest, UnloadingBelowTheZeroSetIsAnUnderload)
{
    Settled(0.25);
    ASSERT_EQ(Platform.Zero(), TResult::Ok);
    const TReading under = Settled(0);
    EXPECT_TRUE(under.InvalidRange);
    EXPECT_TRUE(under.Negative);
    EXPECT_EQ(under.Result, TResult::WeightOutOfRange);
}

TEST_F(ScalePlatformTest, TareGivesNetWeightAndNegativeWeightWhenTheContainerGoes)
{
    Settled(0.5);
    ASSERT_EQ(Platform.Tare(), TResult::Ok);
    EXPECT_EQ(Platform.TareWeight(), 0.5);
    TReading r = Platform.Read();
    EXPECT_TRUE(r.Netto);
    EXPECT_EQ(r.Weight, 0.0);
    r = Settled(2.0);
    EXPECT_EQ(r.Weight, 1.5);
    EXPECT_EQ(r.Gross, 2.0);
    r = Settled(0);
    EXPECT_EQ(r.Weight, -0.5);
    EXPECT_TRUE(r.Negative);
    EXPECT_FALSE(r.InvalidRange);
    // Tare on the empty platform clears it.
    ASSERT_EQ(Platform.Tare(), TResult::Ok);
    EXPECT_FALSE(Platform.Read().Netto);
}

TEST_F(ScalePlatformTest, TareNeedsAStableWeightAndPresetTareIsCheckedAndRounded)
{
    Platform.PutLoad(1.0);
    EXPECT_EQ(Platform.Tare(), TResult::WeightNotStable);
    EXPECT_EQ(Platform.TareWeight(), 0.0);
    EXPECT_EQ(Platform.SetTare(15.5), TResult::OutOfRange);
    EXPECT_EQ(Platform.SetTare(-0.1), TResult::OutOfRange);
    EXPECT_EQ(Platform.SetTare(0.1234), TResult::Ok);
    EXPECT_EQ(Platform.TareWeight(), 0.125);
}

TEST_F(ScalePlatformTest, TareModeOneClearsTheTareWhenThePlatformIsEmptied)
{
    Platform.SetTareMode(1);
    Settled(0.5);
    ASSERT_EQ(Platform.Tare(), TResult::Ok);
    EXPECT_TRUE(Settled(1.0).Netto);
    EXPECT_FALSE(Settled(0).Netto);
    EXPECT_EQ(Platform.TareWeight(), 0.0);
}

TEST_F(ScalePlatformTest, AutoZeroTrackingTakesAStableRemainderBelowHalfAnInterval)
{
    const TReading dust = Settled(0.002);
    EXPECT_TRUE(dust.ZeroTracking);
    EXPECT_EQ(dust.Weight, 0.0);
    // 1.0042 rounds to 1.005 from the factory zero but to 1.000 from the tracked one.
    const TReading loaded = Settled(1.0042);
    EXPECT_FALSE(loaded.ZeroTracking);
    EXPECT_EQ(loaded.Weight, 1.0);
}

// Tracking moves the zero by at most half an interval per second: on model 3 (d = 1 g, settling
// 0.8 s) a remainder of 0.45 g met 0.8 s after the last tracking is taken only up to 0.4 g, which
// the next weighing shows (1.00094 kg less 0.4 g rounds up, less 0.45 g would round down).
TEST(ScalePlatformTrackingTest, ZeroTrackingFollowsDriftAtHalfAnIntervalPerSecondAtMost)
{
    TManualClock clock;
    TScalePlatform platform(*FindScaleModel(3), clock);
    platform.PutLoad(0.00045);
    clock.Advance(800);
    EXPECT_TRUE(platform.Read().ZeroTracking);
    platform.PutLoad(1.00094);
    clock.Advance(800);
    EXPECT_EQ(platform.Read().Weight, 1.001);
}

TEST_F(ScalePlatformTest, ForcedSwingIsUnstableUntilReleasedAndSettled)
{
    Settled(1.0);
    Platform.SetUnstable(true);
    Clock.Advance(5000);
    EXPECT_FALSE(Platform.Read().Stable);
    Platform.SetUnstable(false);
    EXPECT_FALSE(Platform.Read().Stable);
    Clock.Advance(1000);
    const TReading r = Platform.Read();
    EXPECT_TRUE(r.Stable);
    EXPECT_EQ(r.Weight, 1.0);
}

TEST_F(ScalePlatformTest, CutConnectionRefusesEverything)
{
    Settled(1.0);
    Platform.SetConnected(false);
    EXPECT_EQ(Platform.Read().Result, TResult::NoConnection);
    EXPECT_EQ(Platform.Zero(), TResult::NoConnection);
    EXPECT_EQ(Platform.Tare(), TResult::NoConnection);
    EXPECT_EQ(Platform.SetTare(1), TResult::NoConnection);
    Platform.SetConnected(true);
    EXPECT_EQ(Platform.Read().Weight, 1.0);
}

TEST_F(ScalePlatformTest, PowerOnDropsZeroTareAndFlagsAndSettlesAgain)
{
    Settled(0.2);
    ASSERT_EQ(Platform.Zero(), TResult::Ok);
    Settled(0.7);
    ASSERT_EQ(Platform.Tare(), TResult::Ok);
    Platform.PowerOn();
    EXPECT_FALSE(Platform.Read().Stable);
    Clock.Advance(1000);
    const TReading r = Platform.Read();
    EXPECT_EQ(r.Weight, 0.7);
    EXPECT_FALSE(r.Netto);
}

TEST_F(ScalePlatformTest, LoadProfileDrivesLoadSwingAndConnectionAndLoops)
{
    TLoadProfile profile;
    profile.Steps = {{0, 0.0, false, false}, {1000, 2.0, false, false}, {3000, 2.0, true, false}, {4000, 0.0, false, true}};
    profile.LoopMs = 5000;
    Platform.StartProfile(&profile);
    EXPECT_EQ(Platform.Read().Weight, 0.0);
    Clock.Advance(2000); // 2.0 put on at 1000, settled at 2000
    EXPECT_EQ(Platform.Read().Weight, 2.0);
    EXPECT_TRUE(Platform.Read().Stable);
    Clock.Advance(1000); // 3000: swinging
    EXPECT_FALSE(Platform.Read().Stable);
    Clock.Advance(1000); // 4000: cable cut
    EXPECT_EQ(Platform.Read().Result, TResult::NoConnection);
    EXPECT_FALSE(Platform.Connected());
    Clock.Advance(3000); // 7000 = 2000 of the second round
    EXPECT_TRUE(Platform.Connected());
    EXPECT_EQ(Platform.Read().Weight, 2.0);
}

// Simulated time: reading k sees the profile at k x 100 ms whatever the real clock does, so two
// runs give the same readings; between readings nothing moves.
TEST(ScalePlatformSimulatedTimeTest, ReadingsFollowTheirCountNotTheClock)
{
    TLoadProfile profile;
    profile.Steps = {{0, 1.0, false, false}, {500, 2.0, false, false}, {1800, 2.0, true, false}};
    auto run = [&](TMillis realStep) {
        TManualClock clock;
        TScalePlatform platform(*FindScaleModel(5), clock);
        platform.SetSimulatedTime(100);
        platform.StartProfile(&profile);
        std::vector<TReading> readings;
        for (int k = 0; k < 25; ++k) {
            readings.push_back(platform.Read());
            clock.Advance(realStep);
        }
        return readings;
    };
    const std::vector<TReading> first = run(0), second = run(12345);
    EXPECT_EQ(first, second);
    EXPECT_FALSE(first[14].Stable); // 1400: still settling from 0.5 toward 2.0
    EXPECT_TRUE(first[15].Stable);  // 1500: settled
    EXPECT_EQ(first[15].Weight, 2.0);
    EXPECT_FALSE(first[18].Stable); // 1800: swinging
}

TEST_F(ScalePlatformTest, ProfileStepsRefuseTheirCountOfOperationsAndStopAndRestart)
{
    TLoadProfile profile;
    profile.Steps = {{0, 1.0, false, false, TResult::NoConnection, 2}, {1000, 3.0, false, false}};
    Platform.StartProfile(&profile, "p");
    EXPECT_EQ(Platform.TakeRefusal(), TResult::NoConnection);
    EXPECT_EQ(Platform.TakeRefusal(), TResult::NoConnection);
    EXPECT_EQ(Platform.TakeRefusal(), std::nullopt);
    Platform.StopProfile();
    Clock.Advance(2000); // stopped: the 3 kg step does not come
    EXPECT_EQ(Platform.Read().Weight, 1.0);
    EXPECT_EQ(Platform.ProfileState().Step, 0);
    EXPECT_FALSE(Platform.ProfileState().Running);
    Platform.RestartProfile(); // from the beginning: its refusals again
    EXPECT_EQ(Platform.TakeRefusal(), TResult::NoConnection);
    Clock.Advance(1000);
    const TScalePlatform::TProfileState state = Platform.ProfileState();
    EXPECT_EQ(state.Name, "p");
    EXPECT_EQ(state.Step, 1);
    EXPECT_EQ(state.StepCount, 2);
    EXPECT_EQ(state.Elapsed, 1000);
    EXPECT_EQ(Platform.TakeRefusal(), std::nullopt); // the step without a refusal ends the earlier one
}

TEST_F(ScalePlatformTest, ChangingTheModelRestartsWithItsInterval)
{
    Settled(1.2372);
    Platform.SetModel(*FindScaleModel(3)); // d = 1 g, settling 800 ms
    Clock.Advance(800);
    EXPECT_EQ(Platform.Read().Weight, 1.237);
}

} // namespace
