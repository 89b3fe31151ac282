// ponderix-replay with the driver in a child process against the same replay in-process, side by
// side: the same recording (PONDERIX_BENCH_REPLAY_LINES lines, 10^6 by default) over the
// misbehaving test driver with no rules (it only answers). Each run is a process of its own, so
// that its peak memory is its own. Counters: wall time (the benchmark's), CPU seconds of all its
// processes, peak_MB of the largest process (the tool, or its driver child) and sum_MB of the
// tool's and its child's peaks.
#include "tools/Replay.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string RecordingPath()
{
    static const std::string path = [] {
        const char* lines = std::getenv("PONDERIX_BENCH_REPLAY_LINES");
        const long count = lines ? std::atol(lines) : 1000000;
        const auto file = std::filesystem::temp_directory_path() / ("ponderix-replay-bench-" + std::to_string(getpid()) + ".jsonl");
        std::ofstream out(file, std::ios::binary);
        out << R"({"format":"ponderix-recording","version":1,"clsid":"{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}"})" "\n";
        // A sitting's shape: an action, then the reads and writes of its handler.
        for (long line = 1; line < count; ++line)
            out << (line % 10 == 1   ? R"({"action":"btnReadWeightClick","caption":"Получить массу"})"
                    : line % 10 == 5 ? R"({"put":"UnitPrice","value":"12.3400"})"
                    : line % 10 == 6 ? R"({"call":"ReadWeight"})"
                                     : R"({"get":"Weight"})")
                << "\n";
        return file.string();
    }();
    return path;
}

struct TRun {
    double CpuSeconds = 0;
    double PeakMb = 0, SumMb = 0;
};

// One replay in a process of its own; its CPU time and peak memory (with its driver child's).
TRun ReplayOnce(bool child)
{
    int report[2];
    if (pipe(report) != 0)
        std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        std::ostringstream out, err;
        const int code = replay::Run({RecordingPath(), "--module", ROGUE_DRIVER_PATH}, out, err,
                                     {child, child ? REPLAY_PROGRAM_PATH : ""});
        if (code != 0)
            std::fprintf(stderr, "replay: exit code %d\n%s%s", code, out.str().c_str(), err.str().c_str());
        rusage self{}, children{};
        getrusage(RUSAGE_SELF, &self);
        getrusage(RUSAGE_CHILDREN, &children);
        const double kb[2] = {static_cast<double>(std::max(self.ru_maxrss, children.ru_maxrss)),
                              static_cast<double>(self.ru_maxrss + children.ru_maxrss)};
        if (write(report[1], kb, sizeof kb) != sizeof kb)
            _exit(3);
        _exit(code == 0 ? 0 : 1);
    }
    close(report[1]);
    double kb[2] = {0, 0};
    if (read(report[0], kb, sizeof kb) != sizeof kb)
        kb[0] = kb[1] = 0;
    close(report[0]);
    int status = 0;
    rusage used{};
    wait4(pid, &status, 0, &used); // the tool; its driver child is in the tool's own children
    rusage all{};
    getrusage(RUSAGE_CHILDREN, &all);
    static double before = 0; // RUSAGE_CHILDREN adds up every run
    const double cpu = all.ru_utime.tv_sec + all.ru_stime.tv_sec + (all.ru_utime.tv_usec + all.ru_stime.tv_usec) / 1e6;
    TRun run{cpu - before, kb[0] / 1024, kb[1] / 1024};
    before = cpu;
    return run;
}

void Replay(benchmark::State& state, bool child)
{
    RecordingPath(); // written before the clock starts
    TRun all;
    for (auto _ : state) {
        const TRun run = ReplayOnce(child);
        all.CpuSeconds += run.CpuSeconds;
        all.PeakMb = std::max(all.PeakMb, run.PeakMb);
        all.SumMb = std::max(all.SumMb, run.SumMb);
    }
    state.counters["cpu_s"] = all.CpuSeconds / static_cast<double>(state.iterations());
    state.counters["peak_MB"] = all.PeakMb;
    state.counters["sum_MB"] = all.SumMb;
}

void BM_ReplayInProcess(benchmark::State& state) { Replay(state, false); }
void BM_ReplayInChild(benchmark::State& state) { Replay(state, true); }
BENCHMARK(BM_ReplayInProcess)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_ReplayInChild)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(3)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove(RecordingPath());
    return 0;
}
