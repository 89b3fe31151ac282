// PONDERIX_RECORD: the main window over the fake driver writes its sitting as the operator's
// steps: the header, the start-up reads, then each action's marker (handler and caption) followed
// by the calls it made; each line is in the file as soon as it is made.
#include "app/DriverTrace.h"
#include "app/fmuMain.h"
#include "driver/Recording.h"
#include "forms/EditKeys.h"
#include "runtime/numtext.h"

#include "../app/MainWindowTestSupport.h"
#include "../forms/QtTestApp.h"
#include "FakeDriverFixture.h"
#include "../support/ProgramTestSupport.h"

#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "action btnReadWeightClick Получить массу", "get Weight", "put UnitPrice 12.3400", "event".
std::vector<std::string> Steps(const driver::TRecording& recording)
{
    std::vector<std::string> steps;
    for (const driver::TRecordedStep& step : recording.Steps) {
        switch (step.Kind) {
        case driver::TStepKind::Action: steps.push_back("action " + step.Handler + " " + step.Caption); break;
        case driver::TStepKind::Event: steps.push_back("event"); break;
        case driver::TStepKind::Call: {
            const char* word = step.Direction == driver::TCallDirection::Read    ? "get "
                               : step.Direction == driver::TCallDirection::Write ? "put "
                                                                                 : "call ";
            std::string text = word + std::string(step.Member->Name);
            if (step.Direction == driver::TCallDirection::Write)
                text += " " + driver::FormatTraceValue(step.Value);
            steps.push_back(text);
        }
        }
    }
    return steps;
}

std::size_t IndexOf(const std::vector<std::string>& steps, const std::string& step)
{
    return static_cast<std::size_t>(std::find(steps.begin(), steps.end(), step) - steps.begin());
}

class DriverRecordingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSeparator = runtime::FormatSettings().DecimalSeparator;
        runtime::FormatSettings().DecimalSeparator = '.';
        fakedriver::SetTextUtf8("DriverVersion", "7.1.0");
        FPath = FEnvironment.Folder() + "/sitting.jsonl";
    }

    void TearDown() override
    {
        FForm.reset();
        StopDriverRecording();
        QLoggingCategory::setFilterRules(QString());
        ConnectDriverTrace();
        runtime::FormatSettings().DecimalSeparator = FSeparator;
    }

    void Start()
    {
        StartDriverRecording(FPath);
        FForm = std::make_unique<TfmMain>(testsupport::NoAsk);
        ASSERT_TRUE(testsupport::ShowActive(FForm.get()));
    }

    TFakeDriverEnvironment FEnvironment;
    std::unique_ptr<TfmMain> FForm;
    std::string FPath;
    char FSeparator = '.';
};

TEST_F(DriverRecordingTest, TheSittingReadsAsTheOperatorsSteps)
{
    Start();
    QTest::mouseClick(FForm->btnReadWeight, Qt::LeftButton);
    FForm->edtUnitPrice->setText("12.34");
    forms::RunLeaveHandler(FForm->edtUnitPrice);
    fakedriver::RaiseDataEvent();

    // Read while the recording is still open: every line is already written.
    const driver::TRecording recording = driver::ParseRecording(ReadText(FPath));
    EXPECT_EQ(recording.Header.ClassId, "{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}");
    EXPECT_EQ(recording.Header.Module, fakedriver::ModulePath());
    EXPECT_EQ(recording.Header.DriverVersion, "7.1.0");

    const std::vector<std::string> steps = Steps(recording);
    for (const driver::TRecordedStep& step : recording.Steps) {
        if (step.Kind == driver::TStepKind::Action) {
            EXPECT_GE(step.AtMs, 0) << "the time of " << step.Handler;
        }
    }
    const auto read = IndexOf(steps, "action btnReadWeightClick Получить массу");
    ASSERT_LT(read, steps.size());
    EXPECT_EQ(read, testsupport::UpdateAllCalls().size()) << "the start-up refresh comes first";
    EXPECT_EQ(steps[read + 1], "call ReadWeight");
    const auto leave = IndexOf(steps, "action edtUnitPriceExit 12.34");
    ASSERT_LT(leave, steps.size());
    EXPECT_GT(leave, read);
    EXPECT_EQ(steps[leave + 1], "put UnitPrice 12.3400");
    const auto event = IndexOf(steps, "event");
    ASSERT_LT(event, steps.size());
    EXPECT_GT(event, leave);
    EXPECT_EQ(steps[event + 1], "get ResultCode") << "the event's refresh follows it";
    // Every call the fake saw is in the file, but the header's own read of DriverVersion.
    const auto calls = fakedriver::CallTexts();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "get DriverVersion");
    EXPECT_EQ(std::count_if(steps.begin(), steps.end(),
                            [](const std::string& s) { return s.rfind("action", 0) != 0 && s != "event"; }),
              static_cast<long>(calls.size()) - 1);
}

TEST_F(DriverRecordingTest, TheTraceAndTheRecordingBothSeeEveryCall)
{
    QLoggingCategory::setFilterRules("ponderix.driver.debug=true");
    int traced = 0;
    static int* counter = nullptr;
    counter = &traced;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString&) {
        if (context.category && std::string(context.category) == "ponderix.driver")
            ++*counter;
    });
    ASSERT_TRUE(ConnectDriverTrace());
    Start(); // after the trace: the recording joins the hook the trace holds
    QTest::mouseClick(FForm->btnTare, Qt::LeftButton);
    qInstallMessageHandler(previous);

    const auto steps = Steps(driver::ParseRecording(ReadText(FPath)));
    const long calls = std::count_if(steps.begin(), steps.end(), [](const std::string& s) { return s.rfind("action", 0) != 0; });
    EXPECT_EQ(calls, traced);
    EXPECT_LT(IndexOf(steps, "action btnTareClick Тара"), steps.size());
}

TEST_F(DriverRecordingTest, StoppedNothingMoreIsWritten)
{
    Start();
    StopDriverRecording();
    const std::string before = ReadText(FPath);
    QTest::mouseClick(FForm->btnReadWeight, Qt::LeftButton);
    EXPECT_EQ(ReadText(FPath), before);
    EXPECT_FALSE(DriverRecordingOn());
}

// A line that cannot be written (here the file size limit, as a full disk) is said at once in the
// result fields; the file keeps whole lines only.
TEST_F(DriverRecordingTest, AWriteFailureIsShownInTheResultFields)
{
#ifdef _WIN32
    GTEST_SKIP() << "the file size limit that stands in for a full disk is POSIX's";
#else
    // The driver's code stays, with its own text and the recording's, whether the call succeeded.
    const std::pair<LONG, std::string> results[] = {{0, "Ошибок нет"}, {-10, "Масса не стабильна"}};
    for (const auto& [code, text] : results) {
        SCOPED_TRACE(code);
        fakedriver::ScriptResult("ReadWeight", code, text);
        std::filesystem::remove(FPath);
        Start();
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit full = saved;
        full.rlim_cur = ReadText(FPath).size();
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
        QTest::mouseClick(FForm->btnReadWeight, Qt::LeftButton);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        EXPECT_EQ(FForm->edtResultCode->text().toStdString(), std::to_string(code));
        const std::string said = FForm->edtResultDescription->text().toStdString();
        EXPECT_EQ(said.rfind(text + "; Запись сеанса в файл " + FPath + " прервана", 0), 0u) << said;
        EXPECT_EQ(ReadText(FPath).back(), '\n');
        FForm.reset();
        StopDriverRecording();
    }
#endif
}

} // namespace
