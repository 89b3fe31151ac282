// The main window over a driver that breaks the rules on purpose (RogueTrutina.dll): one row per
// misdeed, each with what Ponderix must make of it.
#include "app/DriverTrace.h"
#include "app/fmuMain.h"
#include "driver/DriverProcess.h"
#include "driver/Recording.h"
#include "platform/bitness.h"
#include "runtime/numtext.h"
#include "tools/Replay.h"

#include "../support/ProgramTestSupport.h"
#include "FakeDriverFixture.h"
#include "RogueDriver.h"
#include "TestEnv.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#endif

namespace {

// A process that died of an access through a null pointer.
bool DiedOfAccessViolation(int status)
{
#ifdef _WIN32
    return static_cast<unsigned>(status) == 0xC0000005u;
#else
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
#endif
}

// What a row saw: the trace's events (and whether each came on this thread) and the warnings of
// the category ponderix.driver.
struct TSeen {
    std::mutex Lock;
    std::atomic<int> Events{0};
    std::atomic<int> EventsElsewhere{0};
    std::vector<std::string> Notices;
    std::vector<std::string> Warnings;
    std::vector<std::string> FailedCalls; // as the recording holds them
};
TSeen* GSeen = nullptr;

void CollectWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg && GSeen && context.category && std::string(context.category) == "ponderix.driver") {
        std::lock_guard lock(GSeen->Lock);
        GSeen->Warnings.push_back(text.toStdString());
    }
}

struct TRow {
    const char* Rules;
    std::function<void(TfmMain&)> Act;
    std::function<void(TfmMain&, TSeen&)> Check;
};

void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

bool Has(const std::vector<std::string>& lines, const std::string& start)
{
    for (const std::string& line : lines)
        if (line.rfind(start, 0) == 0)
            return true;
    return false;
}

// The seconds of the first line that starts so ("... 0.7 s"); -1 without one.
double SecondsAfter(const std::vector<std::string>& lines, const std::string& start)
{
    for (const std::string& line : lines)
        if (line.rfind(start, 0) == 0)
            return std::atof(line.c_str() + start.size());
    return -1;
}

class RogueDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        ASSERT_TRUE(SUCCEEDED(roguedriver::Register()));
    }
    void TearDown() override { testenv::UnsetVariable(roguedriver::ConfigVariable); }

    TFakeDriverEnvironment Environment{false};
};

TEST_F(RogueDriverTest, PonderixNamesEachMisdeedAndKeepsGoing)
{
    const long mainThreadCalls = roguedriver::WrongThreadCalls();
    const std::vector<TRow> rows = {
        // Events from the driver's own thread: delivered here, in full, the operator told once.
        {"GenerateEvent=thread-events:20", [](TfmMain& w) { Click(w.btnGenerateAsyncMessage); },
         [&](TfmMain& w, TSeen& seen) {
             EXPECT_TRUE(QTest::qWaitFor([&] { return seen.Events == 20; }, 10000)) << seen.Events.load() << " events";
             EXPECT_EQ(seen.EventsElsewhere, 0);
             ASSERT_EQ(seen.Notices.size(), 1u);
             EXPECT_NE(seen.Notices[0].find("вызвал DataEvent в своём потоке"), std::string::npos) << seen.Notices[0];
             EXPECT_EQ(w.Memo->toPlainText().count(QStringLiteral("вызвал DataEvent в своём потоке")), 1);
             EXPECT_EQ(roguedriver::WrongThreadCalls(), mainThreadCalls);
         }},
        // Events inside a call, on this thread: handled at once, no notice.
        {"ReadWeight=call-events:3", [](TfmMain& w) { Click(w.btnReadWeight); },
         [](TfmMain& w, TSeen& seen) {
             EXPECT_EQ(seen.Events, 3);
             EXPECT_TRUE(seen.Notices.empty());
             EXPECT_FALSE(w.Memo->toPlainText().contains(QStringLiteral("вызвал DataEvent")));
         }},
        // A call that does not return for a while: named while it runs, timed when it returns.
        {"ReadWeight=hang:700", [](TfmMain& w) { Click(w.btnReadWeight); },
         [](TfmMain&, TSeen& seen) {
             EXPECT_TRUE(Has(seen.Warnings, "call ReadWeight has been running for 0.")) << seen.Warnings.size();
             const double took = SecondsAfter(seen.Warnings, "call ReadWeight returned after ");
             EXPECT_TRUE(took >= 0.6 && took < 2) << ::testing::PrintToString(seen.Warnings);
         }},
        // A long hang under a short limit: reported again while it runs, but not at every multiple.
        {"ReadWeight=hang:2600", [](TfmMain& w) { Click(w.btnReadWeight); },
         [](TfmMain&, TSeen& seen) {
             const auto reports = std::count_if(seen.Warnings.begin(), seen.Warnings.end(), [](const std::string& line) {
                 return line.rfind("call ReadWeight has been running for ", 0) == 0;
             });
             EXPECT_TRUE(reports >= 2 && reports <= 3) << ::testing::PrintToString(seen.Warnings);
         }},
        // A C++ exception out of a call: its text in the result, and recorded as the failed call it is.
        {"ReadWeight=throw", [](TfmMain& w) { Click(w.btnReadWeight); },
         [](TfmMain& w, TSeen& seen) {
             EXPECT_EQ(w.edtResultDescription->text(), QStringLiteral("the rogue driver threw"));
             EXPECT_EQ(seen.FailedCalls, std::vector<std::string>{
                                             R"({"call":"ReadWeight","status":"0x8000FFFF","error":"the rogue driver threw"})"});
         }},
    };
    testenv::SetVariable("PONDERIX_CALL_LIMIT_MS", "150");
    const auto watchdog = StartCallWatchdog();
    const QtMessageHandler previous = qInstallMessageHandler(CollectWarnings);
    const auto mainThread = std::this_thread::get_id();
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Rules);
        TSeen seen;
        GSeen = &seen;
        testenv::SetVariable(roguedriver::ConfigVariable, row.Rules);
        auto window = std::make_unique<TfmMain>(testsupport::NoAsk);
        driver::SetDriverCallHook([&](const driver::TDriverCall& call) {
            if (call.Failed())
                seen.FailedCalls.push_back(driver::RecordingCallLine(call));
            if (call.Direction != driver::TCallDirection::Event)
                return;
            std::lock_guard lock(seen.Lock);
            ++seen.Events;
            seen.EventsElsewhere += std::this_thread::get_id() != mainThread;
            if (!call.Notice.empty())
                seen.Notices.push_back(call.Notice);
        });
        row.Act(*window);
        row.Check(*window, seen);
        window.reset();
        driver::SetDriverCallHook({});
        GSeen = nullptr;
    }
    qInstallMessageHandler(previous);
    testenv::UnsetVariable("PONDERIX_CALL_LIMIT_MS");
}

// Sinks kept past their release and raised then: nothing reaches the destroyed window.
TEST_F(RogueDriverTest, EventsAfterTheDriverWasReleasedReachNothing)
{
    testenv::SetVariable(roguedriver::ConfigVariable, "ReadWeight=late-events");
    int events = 0;
    auto window = std::make_unique<TfmMain>(testsupport::NoAsk);
    Click(window->btnReadWeight);
    driver::SetDriverCallHook([&](const driver::TDriverCall& call) { events += call.Direction == driver::TCallDirection::Event; });
    const long raised = roguedriver::EventsRaised();
    window.reset();
    driver::SetDriverCallHook({});
    EXPECT_EQ(roguedriver::EventsRaised(), raised + 1);
    EXPECT_EQ(events, 0);
}

// A crash in the driver, or its exit() (in a child process): the call it was in, with a write's
// argument, on standard error and as the recording's last line, and the process ends as the
// driver made it; ponderix-replay counts that place as its action's error.
TEST_F(RogueDriverTest, ACrashInTheDriverLeavesTheCallItWasIn)
{
    struct TCrash {
        const char* Rules;
        std::function<void(TfmMain&)> Act;
        std::string Call; // as the words name it
        std::function<bool(int)> Ended = DiedOfAccessViolation;
        std::string Words = "crashed"; // "the driver <words> in <call>: "
    };
    const std::string price = std::string("12") + runtime::FormatSettings().DecimalSeparator + "34";
    const TCrash crashes[] = {
        {"ReadWeight=crash", [](TfmMain& w) { Click(w.btnReadWeight); }, "call ReadWeight"},
        {"put UnitPrice=crash",
         [&](TfmMain& w) {
             w.edtUnitPrice->setFocus();
             w.edtUnitPrice->setText(QString::fromStdString(price));
             QTest::keyClick(w.edtUnitPrice, Qt::Key_Return);
         },
         "put UnitPrice \"12.3400\""},
        // exit() inside the call: the program's own exit handlers then run with its window still up,
        // and may fail; the words come first.
        {"ReadWeight=c-exit:0", [](TfmMain& w) { Click(w.btnReadWeight); }, "call ReadWeight",
         [](int status) { return ::testing::ExitedWithCode(0)(status) || DiedOfAccessViolation(status); },
         "ended the process"},
    };
    // The child runs this test again from its start: it takes the parent's folder, not its own.
    const char* const variable = "PONDERIX_TEST_CRASH_FOLDER";
    const char* inherited = std::getenv(variable);
    const std::string folder = inherited ? inherited : Environment.Folder();
    testenv::SetVariable(variable, folder);
    for (const TCrash& crash : crashes) {
        SCOPED_TRACE(crash.Rules);
        const std::string recording = folder + "/" + crash.Rules + ".jsonl";
        EXPECT_EXIT(
            {
                testenv::SetVariable(roguedriver::ConfigVariable, crash.Rules);
                driver::InstallDriverCrashReport();
                StartDriverRecording(recording);
                TfmMain window(testsupport::NoAsk);
                crash.Act(window);
            },
            crash.Ended, "ponderix: the driver " + crash.Words + " in " + crash.Call + ": ");
        const driver::TRecording sitting = driver::ReadRecordingFile(recording);
        ASSERT_FALSE(sitting.Steps.empty());
        const driver::TRecordedStep& last = sitting.Steps.back();
        ASSERT_NE(last.Member, nullptr);
        std::string call = driver::TraceCallName(last.Direction, last.Member->Name);
        if (!std::holds_alternative<std::monostate>(last.Value))
            call += " \"" + driver::FormatTraceValue(last.Value) + "\"";
        EXPECT_EQ(call, crash.Call);
        EXPECT_FALSE((crash.Words == "crashed" ? last.Crashed : last.Exited).empty());

        // The replay of that sitting (against the driver now behaving) counts it as its action's error.
        std::ostringstream out, err;
        EXPECT_EQ(replay::Run({recording}, out, err), 1) << err.str();
        EXPECT_NE(out.str().find("): the sitting ended here: the driver " + crash.Words + " in "
                                 + call.substr(0, call.find(" \"")) + ": "),
                  std::string::npos)
            << out.str();
        EXPECT_NE(out.str().find(" failed, 1 error\n"), std::string::npos) << out.str();
    }
    testenv::UnsetVariable(variable);
}

// Why the cases of a driver in a process of its own are skipped where there is none.
const char* const kNoProcessOfItsOwn =
    "no marshalling between processes here: the driver runs in a process of its own on Windows only";

// Presses the button of that caption in the next message box that comes up.
void AnswerNextMessageBox(const QString& caption)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, caption] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        for (QAbstractButton* button : box->buttons())
            if (button->text() == caption) {
                poll->deleteLater();
                button->click();
            }
    });
    poll->start(50);
}

// The members and directions of every call and event a sitting made ("elsewhere" before one
// reported on another thread than this).
std::vector<std::string> CallSequence(const std::function<void()>& sitting)
{
    std::vector<std::string> calls;
    const auto thread = std::this_thread::get_id();
    driver::SetDriverCallHook([&](const driver::TDriverCall& call) {
        calls.push_back(std::string(std::this_thread::get_id() == thread ? "" : "elsewhere ") +
                        driver::TraceCallName(call.Direction, call.Member));
    });
    sitting();
    driver::SetDriverCallHook({});
    return calls;
}

class IsolatedRogueDriverTest : public RogueDriverTest {
protected:
    void SetUp() override
    {
        RogueDriverTest::SetUp();
        if (!testenv::kMarshallingBetweenProcesses)
            GTEST_SKIP() << kNoProcessOfItsOwn;
        driver::SetIsolatedMode(true);
    }
    void TearDown() override
    {
        driver::SetIsolatedMode(false);
        testenv::UnsetVariable("PONDERIX_CALL_LIMIT_MS");
        RogueDriverTest::TearDown();
    }
};

// Each way the driver's own process ends is named in the result fields; the window lives on and
// its next operation creates the driver again, in a new process that works.
TEST_F(IsolatedRogueDriverTest, EachEndOfTheDriverProcessIsNamedAndTheNextOperationRecreatesIt)
{
    struct TEnd {
        const char* Rules;
        std::function<void(TfmMain&)> Act;
        const char* Said;
    };
    const TEnd ends[] = {
        {"ReadWeight=crash", [](TfmMain& w) { Click(w.btnReadWeight); },
         "Процесс драйвера завершился во время вызова: метод ReadWeight; код выхода 0xC0000005."},
        {"ReadWeight=exit:7", [](TfmMain& w) { Click(w.btnReadWeight); },
         "Процесс драйвера завершился во время вызова: метод ReadWeight; код выхода 7."},
        // Between calls: told by the next call, and only the one after that makes a new driver.
        {"ReadWeight=thread-crash:200",
         [](TfmMain& w) {
             Click(w.btnReadWeight);
             QTest::qWait(1500);
             Click(w.btnUpdate);
         },
         "Процесс драйвера завершился до вызова: чтение свойства ResultCode; код выхода 0xC0000005."},
        // A hang: the operator is asked at the limit and ends the process.
        {"ReadWeight=hang:60000",
         [](TfmMain& w) {
             AnswerNextMessageBox(QStringLiteral("Завершить процесс драйвера"));
             Click(w.btnReadWeight);
         },
         "Процесс драйвера завершён оператором во время вызова: метод ReadWeight; код выхода 1."},
    };
    testenv::SetVariable("PONDERIX_CALL_LIMIT_MS", "500");
    const auto watchdog = StartCallWatchdog(); // its warnings wake the waiting call's loop
    const std::string recording = Environment.Folder() + "/isolated.jsonl";
    StartDriverRecording(recording);
    for (const TEnd& end : ends) {
        SCOPED_TRACE(end.Rules);
        testenv::SetVariable(roguedriver::ConfigVariable, end.Rules);
        TfmMain window(testsupport::NoAsk);
        end.Act(window);
        EXPECT_EQ(window.edtResultDescription->text().toStdString(),
                  std::string(end.Said) + " Следующая операция создаст драйвер заново.");

        testenv::UnsetVariable(roguedriver::ConfigVariable);
        Click(window.btnUpdate);
        Click(window.btnReadWeight);
        EXPECT_EQ(window.edtResultCode->text(), QStringLiteral("0"));
        EXPECT_FALSE(window.edtResultDescription->text().contains(QStringLiteral("Процесс драйвера")));
    }
    // The new drivers went on in the same sitting: one recording that replays.
    StopDriverRecording();
    EXPECT_NO_THROW(driver::ReadRecordingFile(recording));
}

// In a process of its own the driver is called exactly as in-process, its events included, and
// they are handled on the window's thread.
TEST_F(IsolatedRogueDriverTest, CallsAndEventsAreTheOnesOfTheInProcessMode)
{
    testenv::SetVariable(roguedriver::ConfigVariable, "ReadWeight=call-events:2");
    auto sitting = [] {
        TfmMain window(testsupport::NoAsk);
        Click(window.btnReadWeight);
    };
    const std::vector<std::string> isolated = CallSequence(sitting);
    driver::SetIsolatedMode(false);
    const std::vector<std::string> inProcess = CallSequence(sitting);
    EXPECT_EQ(isolated, inProcess);
    EXPECT_EQ(std::count(isolated.begin(), isolated.end(), "event DataEvent"), 2);
}

// Events the driver raises on a thread of its own reach the window in both modes, on its thread,
// and the fault is named once, in the same words (the trace's notice, the memo line).
TEST_F(IsolatedRogueDriverTest, EventsFromTheDriversOwnThreadAreNamedAsInProcess)
{
    testenv::SetVariable(roguedriver::ConfigVariable, "GenerateEvent=thread-events:5");
    for (const bool isolated : {true, false}) {
        SCOPED_TRACE(isolated ? "isolated" : "in-process");
        driver::SetIsolatedMode(isolated);
        std::vector<std::string> notices;
        int events = 0;
        TfmMain window(testsupport::NoAsk);
        driver::SetDriverCallHook([&](const driver::TDriverCall& call) {
            if (call.Direction != driver::TCallDirection::Event)
                return;
            ++events; // on another thread: a data race the thread sanitizer names
            if (!call.Notice.empty())
                notices.push_back(call.Notice);
        });
        Click(window.btnGenerateAsyncMessage);
        EXPECT_TRUE(QTest::qWaitFor([&] { return events == 5; }, 10000)) << events << " events";
        driver::SetDriverCallHook({});
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].rfind("драйвер вызвал DataEvent в своём потоке ", 0), 0u) << notices[0];
        EXPECT_EQ(window.Memo->toPlainText().count(QString::fromStdString(notices[0])), 1);
    }
}

// Run by the Wine pass in a prefix where only the other bitness's rogue driver is registered: it
// runs in the host of its bitness, and its crash and the new driver after it are as above.
TEST(CrossBitnessTest, ADriverOfTheOtherBitnessRunsInAHostOfItsBitness)
{
    if (!testenv::kMarshallingBetweenProcesses)
        GTEST_SKIP() << kNoProcessOfItsOwn;
    if (!std::getenv("PONDERIX_OTHER_BITNESS_DRIVER"))
        GTEST_SKIP() << "needs only a driver of the other bitness registered: the Wine pass sets that up";
    driver::SetIsolatedMode(true);
    EXPECT_EQ(driver::TDriverProcess(CLSID_Statera).Bitness(), 96 - platform::kProgramBitness);
    testenv::SetVariable(roguedriver::ConfigVariable, "ReadWeight=crash");
    {
        TfmMain window(testsupport::NoAsk);
        Click(window.btnReadWeight);
        EXPECT_TRUE(window.edtResultDescription->text().startsWith(
            QStringLiteral("Процесс драйвера завершился во время вызова: метод ReadWeight; код выхода 0xC0000005.")))
            << window.edtResultDescription->text().toStdString();
        testenv::UnsetVariable(roguedriver::ConfigVariable);
        Click(window.btnUpdate);
        Click(window.btnReadWeight);
        EXPECT_EQ(window.edtResultCode->text(), QStringLiteral("0"));
    }
    driver::SetIsolatedMode(false);
}

// No marshalling between processes: isolated mode is refused at start-up, with the reason.
TEST_F(RogueDriverTest, IsolatedModeIsRefusedWhereThereIsNoMarshalling)
{
    if (testenv::kMarshallingBetweenProcesses)
        GTEST_SKIP() << "the system's marshalling reaches a driver in a process of its own here";
    driver::SetIsolatedMode(true);
    try {
        TfmMain window(testsupport::NoAsk);
        ADD_FAILURE() << "the window was made";
    } catch (const runtime::EOleException& e) {
        EXPECT_NE(std::string(e.what()).find("offered on Windows only"), std::string::npos) << e.what();
    }
    driver::SetIsolatedMode(false);
}

} // namespace
