// The cost of one reading of the substitute driver's scales against the length of the load
// profile they run: an hour of one-second steps against a looped ten-second one, on simulated time
// (the same readings on any machine). Finding the step in force must not grow with the steps.
#include "simulator/ScaleDriver.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int Repetitions = 9;

trutina::TDriverSettings Profiled(int steps, bool looped)
{
    trutina::TDriverSettings s = trutina::TDriverSettings::Defaults();
    s.Devices[0].Enabled = true;
    s.Devices[0].LoadProfile = "p";
    s.SimulatedMsPerReading = 100;
    trutina::TLoadProfile profile;
    for (int i = 0; i < steps; ++i)
        profile.Steps.push_back({i * 1000LL, 0.5 + (i % 7) * 0.25});
    profile.LoopMs = looped ? steps * 1000LL : 0;
    s.LoadProfiles["p"] = profile;
    return s;
}

// One ReadWeight per iteration; state.range(0) steps of 1 s; a profile of 10 steps loops.
void BM_ProfileReading(benchmark::State& state)
{
    const int steps = static_cast<int>(state.range(0));
    trutina::TManualClock clock;
    trutina::TScaleDriver driver(Profiled(steps, steps <= 10), nullptr, clock);
    int readings = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(driver.ReadWeight());
        // An hour is 36 000 readings: start again before the profile ends, as a long run would loop.
        if (++readings == 30'000) {
            state.PauseTiming();
            driver.RestartLoadProfile();
            readings = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_ProfileReading)->Arg(10)->Arg(3600)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
