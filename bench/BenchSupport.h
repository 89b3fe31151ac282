// What the benchmarks share: the drivers they run against (each in its own temporary class
// registry), the bare window with the main window's controls, peak memory, and the medians collected for the summary.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>

class QByteArray;
class QWidget;
class TfmMain;

namespace bench {

// A temporary folder with two class registries: the substitute driver Trutina.dll registered by
// the regsvr tool (its settings file in the folder too), and the fake driver.
// Use...() points PONDERIX_CLASS_REGISTRY at one of them; new driver objects come from it.
class TDrivers {
public:
    TDrivers();
    ~TDrivers();
    void UseSubstitute();
    void UseFake();

private:
    std::filesystem::path FFolder;
};

// The one instance of the run (made by main before the benchmarks run).
TDrivers& Drivers();

// The registration check's prompt must not appear: the driver is registered.
void NoAsk(const std::string& format, const std::string& fileName);

// A new main window over the driver of the current registry, shown, its first paint done.
std::unique_ptr<TfmMain> ShowMainWindow();

// One main window per driver kept for the whole run (built on first use, over the substitute
// driver or the fake), and their release before the application ends.
TfmMain& SharedMainWindow(bool fake);
void ReleaseSharedWindows();

// The controls of window (classes, texts, list entries, places and sizes, pages), as JSON.
QByteArray WindowBlueprint(const QWidget& window);
// A plain top-level window built from a blueprint: the same controls, without any handler,
// driver or refresh; shown, its first paint done.
std::unique_ptr<QWidget> ShowBareWindow(const QByteArray& blueprint);

// Lets the window system's events of a show run (expose, paint, activation).
void SettleEvents();

// The process's peak resident set size in KiB (VmHWM), 0 when unknown.
long PeakResidentKiB();

// The median of one benchmark (seconds per iteration) and its median counters, by name, as the
// summary reporter collected them.
struct TMedian {
    double Seconds = 0;
    std::map<std::string, double> Counters;
};
void RecordMedian(const std::string& benchmark, double seconds, const std::map<std::string, double>& counters);
const TMedian* Median(const std::string& benchmark);

} // namespace bench
