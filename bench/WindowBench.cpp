// The main window against the substitute driver: one refresh (UpdateAll) against the same widget
// updates done directly (the floor); the refresh with the driver call trace off and on; building
// and showing the window against showing a bare window with the same controls.
#include "BenchSupport.h"

#include "app/DriverTrace.h"
#include "app/fmuMain.h"
#include "driver/CallTrace.h"
#include "forms/Silent.h"
#include "FakeDriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <benchmark/benchmark.h>

#include <array>
#include <vector>
#include <string>

namespace {

using forms::SetCheckedSilently;
using forms::SetItemIndexSilently;
using forms::SetTextSilently;

constexpr int Repetitions = 9;

// What one refresh shows, taken from the window after a refresh.
struct TShown {
    std::string Code, Description, Weight, UnitPrice, UnitPriceAsync, SalesPrice, SalesPriceAsync, Tare, Value,
        WeightStep, EventNumber, DataCount;
    bool LockDevices, DeviceEnabled, AsyncMode, UpdatePrice, AutoDisable, DataEventEnabled;
    std::array<bool, 7> Flags;
    int ValuePurpose, PollingInterval;
};

std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

TShown Shown(const TfmMain& w)
{
    return TShown{Text(w.edtResultCode),  Text(w.edtResultDescription), Text(w.edtWeight),
                  Text(w.edtUnitPrice),   Text(w.edtUnitPriceAsync),    Text(w.edtSalesPrice),
                  Text(w.edtAsyncSalesPrice), Text(w.edtTareWeight),    Text(w.edtValue),
                  Text(w.edtWeightStep),  Text(w.edtEventNumber),       Text(w.edtDataCount),
                  w.chkLockDevices->isChecked(), w.chkDeviceEnabled->isChecked(), w.chkAsyncMode->isChecked(),
                  w.chkUpdatePrice->isChecked(), w.chkAutoDisable->isChecked(), w.chkDataEventEnabled->isChecked(),
                  {w.chkNettoWeight->isChecked(), w.chkZeroScaleWeight->isChecked(), w.chkOutOfZero->isChecked(),
                   w.chkNegWeight->isChecked(), w.chkBigWeight->isChecked(), w.chkNonStable->isChecked(),
                   w.chkInvalidRange->isChecked()},
                  w.cbValuePurpose->currentIndex(), w.cbPollingInterval->currentIndex()};
}

// The 31 widget updates of UpdateAll, in its order, with the values it showed.
void UpdateWidgetsDirectly(TfmMain& w, const TShown& s)
{
    SetTextSilently(w.edtResultCode, s.Code);
    SetTextSilently(w.edtResultDescription, s.Description);
    SetCheckedSilently(w.chkLockDevices, s.LockDevices);
    SetCheckedSilently(w.chkDeviceEnabled, s.DeviceEnabled);
    SetTextSilently(w.edtWeight, s.Weight);
    SetTextSilently(w.edtAsyncWeight, s.Weight);
    SetTextSilently(w.edtUnitPrice, s.UnitPrice);
    SetTextSilently(w.edtUnitPriceAsync, s.UnitPriceAsync);
    SetTextSilently(w.edtSalesPrice, s.SalesPrice);
    SetTextSilently(w.edtAsyncSalesPrice, s.SalesPriceAsync);
    SetCheckedSilently(w.chkAsyncMode, s.AsyncMode);
    SetTextSilently(w.edtTareWeight, s.Tare);
    SetTextSilently(w.edtAsyncTareWeight, s.Tare);
    SetItemIndexSilently(w.cbValuePurpose, s.ValuePurpose);
    SetTextSilently(w.edtValue, s.Value);
    SetTextSilently(w.edtWeightStep, s.WeightStep);
    SetItemIndexSilently(w.cbPollingInterval, s.PollingInterval);
    QCheckBox* const flags[] = {w.chkNettoWeight, w.chkZeroScaleWeight, w.chkOutOfZero, w.chkNegWeight,
                                w.chkBigWeight,   w.chkNonStable,       w.chkInvalidRange};
    for (std::size_t i = 0; i < s.Flags.size(); ++i)
        SetCheckedSilently(flags[i], s.Flags[i]);
    SetTextSilently(w.edtSalesPrice, s.SalesPrice);
    SetTextSilently(w.edtAsyncSalesPrice, s.SalesPriceAsync);
    SetCheckedSilently(w.chkUpdatePrice, s.UpdatePrice);
    SetCheckedSilently(w.chkAutoDisable, s.AutoDisable);
    SetTextSilently(w.edtEventNumber, s.EventNumber);
    SetTextSilently(w.edtDataCount, s.DataCount);
    SetCheckedSilently(w.chkDataEventEnabled, s.DataEventEnabled);
}

TfmMain& RefreshWindow() { return bench::SharedMainWindow(false); }

void BM_UpdateAll(benchmark::State& state)
{
    TfmMain& window = RefreshWindow();
    for (auto _ : state)
        window.UpdateAll();
}
BENCHMARK(BM_UpdateAll)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

void BM_UpdateAllFloor(benchmark::State& state)
{
    TfmMain& window = RefreshWindow();
    window.UpdateAll();
    const TShown shown = Shown(window);
    for (auto _ : state)
        UpdateWidgetsDirectly(window, shown);
}
BENCHMARK(BM_UpdateAllFloor)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

// The refresh while the scales settle: weight, prices and counters differ from one refresh to
// the next. Over the fake driver, whose values are set before each refresh; the floor sets the
// same values in the fake (the same cost) and makes the same widget updates directly with the
// texts that refresh showed.
constexpr int ChangingStates = 16;

void ScriptChangingValues(int k)
{
    fakedriver::SetReal("Weight", 1.234 + 0.005 * k);
    fakedriver::SetMoney("UnitPrice", 125'000 + 100 * k);
    fakedriver::SetMoney("SalesPrice", 154'250 + 1'237 * k);
    fakedriver::SetLong("EventNumber", 1000 + k);
    fakedriver::SetLong("DataCount", 1 + k % 5);
}

// The fake logs every call: cleared every so many refreshes, outside the timing.
constexpr int LogClearInterval = 512;

void BM_UpdateAllChanging(benchmark::State& state)
{
    TfmMain& window = bench::SharedMainWindow(true);
    int k = 0;
    for (auto _ : state) {
        ScriptChangingValues(k % ChangingStates);
        window.UpdateAll();
        if (++k % LogClearInterval == 0) {
            state.PauseTiming();
            fakedriver::ClearCalls();
            state.ResumeTiming();
        }
        k %= ChangingStates * LogClearInterval;
    }
    fakedriver::ClearCalls();
}
BENCHMARK(BM_UpdateAllChanging)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

void BM_UpdateAllChangingFloor(benchmark::State& state)
{
    TfmMain& window = bench::SharedMainWindow(true);
    std::vector<TShown> shown;
    for (int k = 0; k < ChangingStates; ++k) {
        ScriptChangingValues(k % ChangingStates);
        window.UpdateAll();
        shown.push_back(Shown(window));
    }
    fakedriver::ClearCalls();
    if (shown.front().Weight == shown.back().Weight || shown.front().EventNumber == shown.back().EventNumber)
        state.SkipWithError("the values did not change");
    int k = 0;
    for (auto _ : state) {
        ScriptChangingValues(k % ChangingStates);
        UpdateWidgetsDirectly(window, shown[k % ChangingStates]);
        if (++k % LogClearInterval == 0) {
            state.PauseTiming();
            state.ResumeTiming();
        }
        k %= ChangingStates * LogClearInterval;
    }
}
BENCHMARK(BM_UpdateAllChangingFloor)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

// The driver call trace through the program's logging category, as at start-up: the rule
// decides whether ConnectDriverTrace installs the hook. Messages on are formatted and dropped
// (not written), so the trace's own cost is measured, not the terminal's.
void DropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

void RefreshWithTrace(benchmark::State& state, bool on)
{
    TfmMain& window = RefreshWindow();
    QLoggingCategory::setFilterRules(on ? "ponderix.driver.debug=true" : "ponderix.driver.debug=false");
    const QtMessageHandler previous = qInstallMessageHandler(DropMessage);
    if (ConnectDriverTrace() != on)
        state.SkipWithError("the trace did not follow the category");
    for (auto _ : state)
        window.UpdateAll();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules("ponderix.driver.debug=false");
    ConnectDriverTrace();
}

void BM_UpdateAllTraceOff(benchmark::State& state) { RefreshWithTrace(state, false); }
void BM_UpdateAllTraceOn(benchmark::State& state) { RefreshWithTrace(state, true); }
BENCHMARK(BM_UpdateAllTraceOff)->Repetitions(Repetitions)->ReportAggregatesOnly(true);
BENCHMARK(BM_UpdateAllTraceOn)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

// The driver recording (PONDERIX_RECORD) as at start-up: off, the hook is not installed; on,
// every call of the refresh becomes one JSON line, written and flushed to a file at once.
void RefreshWithRecording(benchmark::State& state, bool on)
{
    TfmMain& window = RefreshWindow();
    QLoggingCategory::setFilterRules("ponderix.driver.debug=false");
    ConnectDriverTrace();
    const QString file = QDir::temp().filePath(QStringLiteral("ponderix-bench-%1.jsonl").arg(QCoreApplication::applicationPid()));
    if (on)
        StartDriverRecording(file.toStdString());
    for (auto _ : state)
        window.UpdateAll();
    StopDriverRecording();
    QFile::remove(file);
}

void BM_UpdateAllRecordingOff(benchmark::State& state) { RefreshWithRecording(state, false); }
void BM_UpdateAllRecordingOn(benchmark::State& state) { RefreshWithRecording(state, true); }
BENCHMARK(BM_UpdateAllRecordingOff)->Repetitions(Repetitions)->ReportAggregatesOnly(true);
BENCHMARK(BM_UpdateAllRecordingOn)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

// Start-up: the registration check, the control, the wrapper and the first refresh, then the
// show; the window is destroyed outside the timing.
void BM_ShowMainWindow(benchmark::State& state)
{
    bench::Drivers().UseSubstitute();
    for (auto _ : state) {
        auto window = bench::ShowMainWindow();
        state.PauseTiming();
        window.reset();
        bench::SettleEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ShowMainWindow)->Repetitions(Repetitions)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);

void BM_ShowBareWindow(benchmark::State& state)
{
    bench::Drivers().UseSubstitute();
    const QByteArray blueprint = bench::WindowBlueprint(RefreshWindow());
    for (auto _ : state) {
        auto window = bench::ShowBareWindow(blueprint);
        state.PauseTiming();
        window.reset();
        bench::SettleEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ShowBareWindow)->Repetitions(Repetitions)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);

} // namespace
