// Data events handled per second: a worker thread posts the fake driver's data event through the
// GUI thread's apartment as fast as it can; the GUI thread's event loop runs each one, and the
// main window's ScaleDataEvent refreshes everything for each. One iteration is a batch of events.
#include "BenchSupport.h"

#include "app/fmuMain.h"
#include "FakeDriver.h"
#include "platform/apartment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <thread>

namespace {

constexpr int EventsPerBatch = 200;

void BM_DataEvents(benchmark::State& state)
{
    bench::SharedMainWindow(true);
    const platform::ApartmentRef apartment = platform::CurrentApartment();
    if (!apartment) {
        state.SkipWithError("the GUI thread has no apartment");
        return;
    }
    // Each event's refresh reads DataEventEnabled once.
    int handled = 0;
    fakedriver::OnCall("DataEventEnabled", [&handled] { ++handled; });
    QTimer wake; // the loop below never sleeps longer than this, whatever happens
    wake.start(100);
    for (auto _ : state) {
        handled = 0;
        std::thread worker([&apartment] {
            for (int i = 0; i < EventsPerBatch; ++i)
                platform::PostToApartment(apartment, [] { fakedriver::RaiseDataEvent(); });
        });
        QElapsedTimer elapsed;
        elapsed.start();
        while (handled < EventsPerBatch && elapsed.elapsed() < 10'000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        worker.join();
        if (handled != EventsPerBatch) {
            state.SkipWithError("events were lost");
            break;
        }
        state.PauseTiming();
        fakedriver::ClearCalls();
        state.ResumeTiming();
    }
    fakedriver::OnCall("DataEventEnabled", nullptr);
    state.counters["events"] = benchmark::Counter(EventsPerBatch, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DataEvents)->Repetitions(9)->ReportAggregatesOnly(true)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
