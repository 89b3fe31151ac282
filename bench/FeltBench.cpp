// What a user feels of performance, each measured in a child process of the benchmark program:
// the CPU share of one core while the window runs (data events at the fastest polling, idle, a
// bare window), and the time from a data event to its new value painted on the screen.
#include "FeltBench.h"

#include "BenchSupport.h"

#include "app/fmuMain.h"
#include "FakeDriver.h"
#include "platform/apartment.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void RunEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

// ------------------------------------------------------------------ CPU share

int MeasureCpuShare(const std::string& mode, int seconds)
{
    std::unique_ptr<QWidget> window;
    QTimer generator;
    int generated = 0;
    if (mode == "events" || mode == "idle") {
        Drivers().UseSubstitute();
        auto main = ShowMainWindow();
        if (mode == "events") {
            // Asynchronous mode at the fastest polling, data events on, each message deleted by
            // the window once shown. The simulated load settles in about a second, so the 20
            // messages a second come from GenerateEvent, which queues the current reading.
            TScaleX& scale = main->Scale();
            scale.SetDeviceEnabled(true);
            scale.SetPollingInterval(0);
            scale.SetAsyncMode(true);
            scale.SetDataEventEnabled(true);
            main->chkDeleteEvents->click();
            main->UpdateAll();
            main->PageControl->setCurrentWidget(main->TabSheet2);
            TfmMain* target = main.get();
            QObject::connect(&generator, &QTimer::timeout, [target, &generated] {
                try {
                    target->Scale().GenerateEvent();
                    ++generated;
                } catch (...) {
                }
            });
            generator.setTimerType(Qt::PreciseTimer);
        }
        window = std::move(main);
    } else if (mode.rfind("bare=", 0) == 0) {
        QFile file(QString::fromStdString(mode.substr(5)));
        if (!file.open(QIODevice::ReadOnly))
            return 2;
        window = ShowBareWindow(file.readAll());
    } else {
        return 2;
    }
    if (mode == "events")
        generator.start(50);
    RunEventLoopFor(1000); // settle: first paints, the poller started
    generated = 0;
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    RunEventLoopFor(seconds * 1000);
    const double cpu = CpuSeconds() - cpu0;
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    generator.stop();
    std::printf("%.6f %.6f %d\n", cpu, elapsed, generated);
    return 0;
}

// ------------------------------------------------------------------ event to paint

namespace {

// Records when the watched edit has painted a new text, as soon as the paint and the flush of
// the window that follows it are done (a call queued from the paint runs after them).
class TPaintWatch : public QObject {
public:
    TPaintWatch(QLineEdit* edit, std::vector<Clock::time_point>& painted, std::atomic<int>& current)
        : FEdit(edit), FPainted(painted), FCurrent(current)
    {
        edit->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == FEdit && event->type() == QEvent::Paint && FEdit->text() != FLastText) {
            FLastText = FEdit->text();
            const int index = FCurrent.load();
            QMetaObject::invokeMethod(
                this,
                [this, index] {
                    if (index >= 0 && index < int(FPainted.size()) && FPainted[index] == Clock::time_point{})
                        FPainted[index] = Clock::now();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QLineEdit* FEdit;
    QString FLastText;
    std::vector<Clock::time_point>& FPainted;
    std::atomic<int>& FCurrent;
};

} // namespace

int MeasureEventToPaint(int events)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::printf("skipped: the platform is %s, not xcb\n", qPrintable(QGuiApplication::platformName()));
        return 0;
    }
    Drivers().UseFake();
    auto window = ShowMainWindow();
    window->PageControl->setCurrentWidget(window->TabSheet2);
    window->activateWindow();
    RunEventLoopFor(500);
    const platform::ApartmentRef apartment = platform::CurrentApartment();
    if (!apartment)
        return 3;

    std::vector<Clock::time_point> raised(events), painted(events);
    std::atomic<int> current{-1};
    TPaintWatch watch(window->edtAsyncWeight, painted, current);

    // The driver's worker: every 50 ms a new reading, announced by the data event through the
    // GUI thread's apartment, as the substitute driver does at its fastest polling.
    std::atomic<bool> done{false};
    std::thread worker([&] {
        auto next = Clock::now();
        for (int i = 0; i < events; ++i) {
            next += std::chrono::milliseconds(50);
            std::this_thread::sleep_until(next);
            raised[i] = Clock::now();
            platform::PostToApartment(apartment, [i, &current] {
                fakedriver::SetReal("Weight", 1.0 + 0.005 * (i % 1000) + (i / 1000));
                current = i;
                fakedriver::RaiseDataEvent();
                fakedriver::ClearCalls();
            });
        }
        done = true;
    });
    while (!done)
        RunEventLoopFor(100);
    worker.join();
    RunEventLoopFor(200);

    std::vector<double> ms;
    for (int i = 0; i < events; ++i)
        if (painted[i] != Clock::time_point{})
            ms.push_back(std::chrono::duration<double, std::milli>(painted[i] - raised[i]).count());
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        std::printf("no paint seen\n");
        return 4;
    }
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size())))]; };
    std::printf("%zu %d %.3f %.3f %.3f\n", ms.size(), events, at(0.5), at(0.99), ms.back());
    return 0;
}

} // namespace bench
