// The benchmark program: a QApplication on the offscreen platform and the program's application
// object around Google Benchmark, a reporter that keeps each benchmark's median, and a summary of
// the ratios at the end. For peak memory the program runs copies of itself as children, each of
// which shows one window ("--peak=main", "--peak=bare=<blueprint file>") or none ("--peak=none")
// and prints its VmHWM. The CPU share ("--cpu=<mode>") and the event-to-paint latency
// ("--latency") run in children too; PONDERIX_BENCH_CPU_SECONDS (60) and
// PONDERIX_BENCH_LATENCY_EVENTS (1000) set their length.
#include "BenchSupport.h"
#include "FeltBench.h"

#include "app/fmuMain.h"
#include "forms/Application.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace bench {
void ReleaseDriverLink();
}

namespace {

constexpr double FastestPollingRate = 20; // events per second at the driver's shortest interval (50 ms)
constexpr int PeakRuns = 5;

class TMedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median" || run.error_occurred)
                continue;
            std::map<std::string, double> counters;
            for (const auto& [name, counter] : run.counters)
                counters[name] = counter.value;
            bench::RecordMedian(run.run_name.function_name,
                                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit), counters);
        }
    }
};

// ------------------------------------------------------------------ peak memory

// In the child: shows what was asked, prints the peak resident size in KiB.
int ShowAndReportPeak(const std::string& mode)
{
    std::unique_ptr<QWidget> window;
    if (mode == "main") {
        bench::Drivers().UseSubstitute();
        window = bench::ShowMainWindow();
    } else if (mode.rfind("bare=", 0) == 0) {
        QFile file(QString::fromStdString(mode.substr(5)));
        if (!file.open(QIODevice::ReadOnly))
            return 2;
        window = bench::ShowBareWindow(file.readAll());
    } else if (mode != "none") {
        return 2;
    }
    std::printf("%ld\n", bench::PeakResidentKiB());
    return 0;
}

// In the parent: the median peak of PeakRuns children, 0 when they failed.
long MedianPeakKiB(const QString& mode)
{
    std::vector<long> peaks;
    for (int i = 0; i < PeakRuns; ++i) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--peak=" + mode});
        if (!child.waitForFinished(60'000) || child.exitCode() != 0)
            return 0;
        peaks.push_back(child.readAllStandardOutput().trimmed().toLong());
    }
    std::sort(peaks.begin(), peaks.end());
    return peaks[peaks.size() / 2];
}

// ------------------------------------------------------------------ summary

double Seconds(const char* name)
{
    const bench::TMedian* m = bench::Median(name);
    return m ? m->Seconds : 0;
}

double Ratio(double a, double b) { return b > 0 ? a / b : 0; }

void PrintSummary(long peakMain, long peakBare, long peakNone)
{
    const double updateAll = Seconds("BM_UpdateAll"), floor = Seconds("BM_UpdateAllFloor");
    const double traceOff = Seconds("BM_UpdateAllTraceOff"), traceOn = Seconds("BM_UpdateAllTraceOn");
    const double recordOff = Seconds("BM_UpdateAllRecordingOff"), recordOn = Seconds("BM_UpdateAllRecordingOn");
    const double showMain = Seconds("BM_ShowMainWindow"), showBare = Seconds("BM_ShowBareWindow");
    const bench::TMedian* events = bench::Median("BM_DataEvents");
    const double eventRate = events && events->Counters.count("events") ? events->Counters.at("events") : 0;

    std::printf("\nSummary (medians of the repetitions above)\n");
    std::printf("  refresh (UpdateAll, substitute driver)   %9.2f us\n", updateAll * 1e6);
    std::printf("  the same 31 widget updates directly      %9.2f us\n", floor * 1e6);
    std::printf("  refresh ratio (UpdateAll / floor)        %9.2f\n", Ratio(updateAll, floor));
    const double changing = Seconds("BM_UpdateAllChanging"), changingFloor = Seconds("BM_UpdateAllChangingFloor");
    std::printf("  refresh, values changing (fake driver)   %9.2f us\n", changing * 1e6);
    std::printf("  the same changing updates directly       %9.2f us\n", changingFloor * 1e6);
    std::printf("  changing ratio (refresh / direct)        %9.2f\n", Ratio(changing, changingFloor));
    std::printf("  refresh, trace category off              %9.2f us  (%.3f x the refresh above)\n", traceOff * 1e6,
                Ratio(traceOff, updateAll));
    std::printf("  refresh, trace category on               %9.2f us  (%.2f x off)\n", traceOn * 1e6,
                Ratio(traceOn, traceOff));
    std::printf("  refresh, recording off                   %9.2f us  (%.3f x the refresh above)\n", recordOff * 1e6,
                Ratio(recordOff, updateAll));
    std::printf("  refresh, recording on (PONDERIX_RECORD)  %9.2f us  (%.2f x off)\n", recordOn * 1e6,
                Ratio(recordOn, recordOff));
    std::printf("  data events handled per second           %9.0f      (%.0f x the fastest polling rate, 20/s)\n",
                eventRate, Ratio(eventRate, FastestPollingRate));
    std::printf("  read:  wrapper / raw interface call      %9.2f      (%.1f ns / %.1f ns)\n",
                Ratio(Seconds("BM_ReadWrapper"), Seconds("BM_ReadRaw")), Seconds("BM_ReadWrapper") * 1e9,
                Seconds("BM_ReadRaw") * 1e9);
    std::printf("  write: wrapper / raw interface call      %9.2f      (%.1f ns / %.1f ns; the wrapper adds the result check)\n",
                Ratio(Seconds("BM_WriteWrapper"), Seconds("BM_WriteRaw")), Seconds("BM_WriteWrapper") * 1e9,
                Seconds("BM_WriteRaw") * 1e9);
    std::printf("  build and show TfmMain                   %9.2f ms\n", showMain * 1e3);
    std::printf("  show a bare window, same controls        %9.2f ms\n", showBare * 1e3);
    std::printf("  start-up ratio (TfmMain / bare)          %9.2f\n", Ratio(showMain, showBare));
    std::printf("  peak memory (VmHWM, median of %d runs):  TfmMain %ld KiB, bare window %ld KiB, "
                "no window %ld KiB\n",
                PeakRuns, peakMain, peakBare, peakNone);
}

// ------------------------------------------------------------------ felt performance

int EnvInt(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

QStringList RunChild(const QString& argument, int timeoutMs)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {argument});
    if (!child.waitForFinished(timeoutMs) || child.exitCode() != 0)
        return {};
    return QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
}

void PrintFelt(const QString& blueprintPath)
{
    const int seconds = EnvInt("PONDERIX_BENCH_CPU_SECONDS", 60);
    const int events = EnvInt("PONDERIX_BENCH_LATENCY_EVENTS", 1000);
    std::printf("\nFelt performance (%s platform)\n", qPrintable(QGuiApplication::platformName()));
    const std::pair<const char*, QString> runs[] = {
        {"data events, async mode, 50 ms polling", "events"},
        {"idle TfmMain", "idle"},
        {"bare window, same controls", "bare=" + blueprintPath}};
    for (const auto& [title, mode] : runs) {
        const QStringList f = RunChild("--cpu=" + mode, (seconds + 60) * 1000);
        if (f.size() != 3) {
            std::printf("  CPU share, %-40s failed\n", title);
            continue;
        }
        const double cpu = f[0].toDouble(), wall = f[1].toDouble();
        std::printf("  CPU share, %-40s %6.2f %% of a core  (%.2f s CPU in %.1f s", title, 100 * Ratio(cpu, wall), cpu,
                    wall);
        if (mode == "events")
            std::printf(", %d messages, %.1f per second", f[2].toInt(), Ratio(f[2].toDouble(), wall));
        std::printf(")\n");
    }
    const QStringList l = RunChild("--latency=" + QString::number(events), (events / 10 + 120) * 1000);
    if (l.size() == 5)
        std::printf("  data event to painted value: median %.2f ms, p99 %.2f ms, max %.2f ms (%d of %d events "
                    "painted, the others overtaken by the next)\n",
                    l[2].toDouble(), l[3].toDouble(), l[4].toDouble(), l[0].toInt(), l[1].toInt());
    else
        std::printf("  data event to painted value: %s\n", qPrintable(l.join(' ')));
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    forms::TApplication application;
    bench::Drivers();

    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--peak=", 7) == 0)
            return ShowAndReportPeak(argv[i] + 7);
        if (std::strncmp(argv[i], "--cpu=", 6) == 0)
            return bench::MeasureCpuShare(argv[i] + 6, EnvInt("PONDERIX_BENCH_CPU_SECONDS", 60));
        if (std::strncmp(argv[i], "--latency=", 10) == 0)
            return bench::MeasureEventToPaint(std::atoi(argv[i] + 10));
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TMedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    QTemporaryDir folder;
    const QString blueprintPath = folder.filePath("blueprint.json");
    {
        QFile blueprint(blueprintPath);
        if (blueprint.open(QIODevice::WriteOnly))
            blueprint.write(bench::WindowBlueprint(bench::SharedMainWindow(false)));
    }
    bench::ReleaseSharedWindows();
    bench::ReleaseDriverLink();
    PrintSummary(MedianPeakKiB("main"), MedianPeakKiB("bare=" + blueprintPath), MedianPeakKiB("none"));
    PrintFelt(blueprintPath);
    return 0;
}
