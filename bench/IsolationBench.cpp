// The cost of isolated mode (Windows, run by the Wine pass): one full refresh of the main window
// (UpdateAll: 33 driver reads) and data events per second (each one handled by the window with its
// full refresh), with the driver in a process of its own against in-process. The driver is the
// rogue test driver behaving (it answers at once), so that what is measured is the way to it.
// Medians of 9 repetitions; no Google Benchmark, which this toolchain does not have.
#include "app/fmuMain.h"
#include "driver/DriverProcess.h"
#include "forms/Application.h"
#include "RogueDriver.h"

#include <QApplication>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Repetitions = 9;
constexpr int RefreshesPerRepetition = 20;
constexpr int EventsPerRepetition = 20;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct TCost {
    double RefreshMs;
    double EventsPerSecond;
};

TCost Measure(bool isolated)
{
    driver::SetIsolatedMode(isolated);
    const std::string rules = "GenerateEvent=call-events:" + std::to_string(EventsPerRepetition);
    _putenv_s(roguedriver::ConfigVariable, rules.c_str());
    TfmMain window([](const std::string&, const std::string&) { throw std::runtime_error("the driver is not registered"); });
    std::vector<double> refresh, events;
    for (int i = 0; i < Repetitions; ++i) {
        Clock::time_point start = Clock::now();
        for (int j = 0; j < RefreshesPerRepetition; ++j)
            window.UpdateAll();
        refresh.push_back(Seconds(Clock::now() - start) * 1000 / RefreshesPerRepetition);
        start = Clock::now();
        window.btnGenerateAsyncMessage->click();
        events.push_back(EventsPerRepetition / Seconds(Clock::now() - start));
    }
    return {Median(refresh), Median(events)};
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        _putenv_s("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApplication(argc, argv);
    forms::TApplication application;
    if (FAILED(roguedriver::Register())) {
        std::fprintf(stderr, "isolation_bench: the rogue test driver could not be registered\n");
        return 1;
    }
    try {
        const TCost inProcess = Measure(false);
        const TCost isolated = Measure(true);
        std::printf("%-28s %12s %12s %8s\n", "median of 9", "in-process", "isolated", "ratio");
        std::printf("%-28s %12.3f %12.3f %8.1f\n", "full refresh, ms", inProcess.RefreshMs, isolated.RefreshMs,
                    isolated.RefreshMs / inProcess.RefreshMs);
        std::printf("%-28s %12.0f %12.0f %8.2f\n", "data events per second", inProcess.EventsPerSecond,
                    isolated.EventsPerSecond, isolated.EventsPerSecond / inProcess.EventsPerSecond);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "isolation_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
