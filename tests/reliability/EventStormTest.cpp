// A storm of data events: a worker thread posts the fake driver's data event through the GUI
// thread's apartment as fast as the apartment takes them, for a few seconds and until the window
// has shown it stays responsive. Every event is handled in order (with its full refresh), timers
// and a queued click still run during the storm, and the process's memory stays flat. Nothing
// here depends on the machine's speed or load: a busy machine makes the storm last longer (rates
// are measured in bench/).
#include "../app/MainWindowTestSupport.h"

#include "platform/apartment.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <fstream>
#include <thread>

namespace {

using testsupport::MainWindowTest;

constexpr int StormMs = 3000;           // at least
constexpr int StormLimitMs = 120000;    // a window that stays responsive ends the storm long before
constexpr int WarmUpMs = 500;
constexpr long MinEvents = 100;
constexpr int MinTicks = 5;
constexpr int MaxWaiting = 16; // events posted and not yet run, at most
constexpr long RssGrowthBoundKiB = 16 * 1024;

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

constexpr bool UnderAddressSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return false;
#endif
}

TEST_F(MainWindowTest, AStormOfDataEventsIsHandledWholeWhileTheWindowStaysResponsive)
{
    ShowPage(Form->TabSheet2);
    const platform::ApartmentRef apartment = platform::CurrentApartment();
    ASSERT_TRUE(apartment);

    // Each event's handler reads DataCount twice and DataEventEnabled once, a plain refresh each
    // once: the difference counts the events handled.
    long dataCountReads = 0, dataEventEnabledReads = 0;
    fakedriver::OnCall("DataCount", [&] { ++dataCountReads; });
    fakedriver::OnCall("DataEventEnabled", [&] { ++dataEventEnabledReads; });
    const auto handled = [&] { return dataCountReads - dataEventEnabledReads; };

    std::atomic<long> posted{0}, run{0}, sinksCalled{0}, outOfOrder{0};
    std::atomic<bool> storming{true};
    std::thread worker([&] {
        while (storming) {
            if (posted - run >= MaxWaiting) {
                std::this_thread::yield();
                continue;
            }
            const long number = ++posted;
            ASSERT_TRUE(platform::PostToApartment(apartment, [&, number] {
                if (number != run + 1)
                    ++outOfOrder;
                sinksCalled += fakedriver::RaiseDataEvent();
                ++run;
            }));
        }
    });

    // The GUI thread's own work during the storm: a timer, the call log kept short, and one
    // click queued for the middle of the storm.
    QElapsedTimer clock;
    clock.start();
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        fakedriver::ClearCalls();
    });
    ticker.start(50);
    long handledAtClick = -1;
    qint64 clickedAtMs = -1;
    fakedriver::OnCall("ReadWeight", [&] {
        handledAtClick = handled();
        clickedAtMs = clock.elapsed();
    });
    QTimer::singleShot(StormMs / 2, Form->btnReadWeight, &QPushButton::click);

    QTest::qWait(WarmUpMs);
    const long rssBefore = ResidentKiB();
    const bool responsive = QTest::qWaitFor(
        [&] {
            return clock.elapsed() >= StormMs && posted >= MinEvents && ticks >= MinTicks && handledAtClick >= 0 &&
                   handled() > handledAtClick;
        },
        StormLimitMs);
    const long rssAfter = ResidentKiB();
    storming = false;
    worker.join();
    ticker.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return run == posted; }, 5000)) << "posted events left unrun";

    EXPECT_TRUE(responsive) << "in " << StormLimitMs << " ms of storm: " << posted << " events, " << ticks
                            << " timer ticks, the queued click " << (handledAtClick >= 0 ? "ran" : "did not run")
                            << ", " << handled() - handledAtClick << " events handled after it";
    EXPECT_EQ(outOfOrder, 0) << "events ran out of the order they were posted in";
    EXPECT_EQ(sinksCalled, posted) << "every event reached the window's control";
    EXPECT_EQ(handled(), posted) << "every event ran ScaleDataEvent";
    EXPECT_GT(handledAtClick, 0) << "the queued click ran before the storm or not at all";
    EXPECT_EQ(Text(Form->edtResultCode), "0");
    if (!UnderAddressSanitizer()) { // its quarantine holds freed memory on purpose
        EXPECT_LT(rssAfter - rssBefore, RssGrowthBoundKiB) << rssBefore << " KiB before, " << rssAfter << " after";
    }
    std::printf("storm: %ld events in %lld ms, %d timer ticks, the click at %lld ms, RSS %ld -> %ld KiB\n",
                posted.load(), static_cast<long long>(clock.elapsed()), ticks, static_cast<long long>(clickedAtMs),
                rssBefore, rssAfter);
    fakedriver::Reset();
}

} // namespace
