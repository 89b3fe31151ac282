// ponderix-check's random sequences in-process over the substitute driver: driver calls per
// second, each step's rules included (the figure the run prints, measured alone). The driver's
// settings file lives in a temporary folder, on whatever disk that is: the substitute driver
// writes it on every change of a stored setting, so a slow disk slows the driver, not the checker.
#include "tools/check/Finding.h"
#include "tools/check/Sequences.h"
#include "tools/check/Target.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

void BM_RandomSequences(benchmark::State& state)
{
    const auto folder = std::filesystem::temp_directory_path() / "ponderix-check-bench";
    std::filesystem::create_directories(folder);
    setenv("TRUTINA_SETTINGS", (folder / "settings.json").c_str(), 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        const check::TTarget target(check::TTargetOptions{TRUTINA_MODULE_PATH, "", false});
        check::TSequenceOptions options;
        options.Sequences = 20;
        options.Rules = {"result-code", "failure-described", "refused-write-keeps-value", "device-list",
                         "event-thread", "exception", "hang"};
        std::uint64_t calls = 0;
        // The same sequences each time: RapidCheck takes its seed once a process.
        for (auto _ : state) {
            calls += check::CheckSequences(target, options).Calls;
        }
        state.counters["calls/s"] = benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate);
    }
    CoUninitialize();
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_RandomSequences)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
