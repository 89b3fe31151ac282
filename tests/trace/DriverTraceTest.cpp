// The category ponderix.driver of the program: switched on, one command of the main window over
// the fake driver writes exactly the fake's own call log, in order, one debug message per call;
// switched off (the default), nothing is written and the hook is not called.
#include "app/DriverTrace.h"
#include "app/fmuMain.h"
#include "driver/CallTrace.h"
#include "runtime/exceptions.h"
#include "runtime/numtext.h"

#include "../forms/QtTestApp.h"
#include "FakeDriverFixture.h"
#include "../support/ProgramTestSupport.h"

#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct TMessage {
    QtMsgType Type;
    std::string Category;
    std::string Text;
};

std::vector<TMessage>& Captured()
{
    static std::vector<TMessage> messages;
    return messages;
}

void Capture(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    Captured().push_back({type, context.category ? context.category : "", text.toStdString()});
}

// The trace messages captured so far.
std::vector<TMessage> TraceMessages()
{
    std::vector<TMessage> trace;
    for (const TMessage& m : Captured())
        if (m.Category == "ponderix.driver")
            trace.push_back(m);
    return trace;
}

// A trace line in the fake's log form: "get M", "put M <argument>", "call M"; the value read, the
// failure and the time left off. Money is written by the fake as the raw 64-bit value.
std::string AsFakeLog(std::string line)
{
    line = line.substr(0, line.rfind(" ("));
    if (auto failed = line.find(" failed: 0x"); failed != std::string::npos)
        line.resize(failed);
    if (auto equals = line.find(" = "); equals != std::string::npos && line.rfind("put ", 0) != 0)
        line.resize(equals);
    const std::string money = "put UnitPrice ";
    if (line.rfind(money, 0) == 0) {
        std::string amount = line.substr(money.size());
        const auto point = amount.find('.');
        if (point == std::string::npos || amount.size() - point != 5)
            return line + " <not an amount with four decimals>";
        amount.erase(point, 1); // exactly four decimals: the raw value
        line = money + std::to_string(std::stoll(amount));
    }
    return line;
}

std::vector<std::string> TracedCalls()
{
    std::vector<std::string> calls;
    for (const TMessage& m : TraceMessages())
        if (m.Text.rfind("event ", 0) != 0)
            calls.push_back(AsFakeLog(m.Text));
    return calls;
}

using testsupport::NoAsk;

class DriverTraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSeparator = runtime::FormatSettings().DecimalSeparator;
        runtime::FormatSettings().DecimalSeparator = '.';
        Captured().clear();
        FPreviousHandler = qInstallMessageHandler(Capture);
    }

    void TearDown() override
    {
        FForm.reset();
        qInstallMessageHandler(FPreviousHandler);
        QLoggingCategory::setFilterRules(QString());
        driver::SetDriverCallHook({});
        runtime::FormatSettings().DecimalSeparator = FSeparator;
    }

    // The program's start-up as far as the trace goes: the rules, the connection, the window.
    void Start(const char* rules)
    {
        QLoggingCategory::setFilterRules(QString::fromUtf8(rules));
        FTraceOn = ConnectDriverTrace();
        FForm = std::make_unique<TfmMain>(NoAsk);
        ASSERT_TRUE(testsupport::ShowActive(FForm.get()));
        Captured().clear();
        fakedriver::ClearCalls();
    }

    TFakeDriverEnvironment FEnvironment;
    std::unique_ptr<TfmMain> FForm;
    bool FTraceOn = false;

private:
    QtMessageHandler FPreviousHandler = nullptr;
    char FSeparator = '.';
};

TEST_F(DriverTraceTest, OffByDefault)
{
    QLoggingCategory::setFilterRules(QString());
    EXPECT_FALSE(lcDriver().isDebugEnabled());
    EXPECT_TRUE(lcDriver().isWarningEnabled());
}

TEST_F(DriverTraceTest, ACommandWritesTheFakesCallLogInOrder)
{
    fakedriver::SetReal("Weight", 1.25);
    fakedriver::SetMoney("UnitPrice", 123400);
    fakedriver::SetTextUtf8("ResultDescription", "Ошибок нет");
    fakedriver::ScriptResult("ReadWeight", 12, "Вес не стабилен");
    ASSERT_NO_FATAL_FAILURE(Start("ponderix.driver.debug=true"));
    ASSERT_TRUE(FTraceOn);

    QTest::mouseClick(FForm->btnReadWeight, Qt::LeftButton);

    const std::vector<std::string> log = fakedriver::CallTexts();
    ASSERT_GT(log.size(), 20u) << "the command and its refresh reached the driver";
    EXPECT_EQ(log.front(), "call ReadWeight");
    EXPECT_EQ(TracedCalls(), log);
    for (const TMessage& m : TraceMessages())
        EXPECT_EQ(m.Type, QtDebugMsg) << m.Text;

    // The answers are in the lines: the refusal read by the result check, the weight, the money.
    const auto trace = TraceMessages();
    ASSERT_GE(trace.size(), 4u);
    EXPECT_EQ(trace[1].Text.substr(0, trace[1].Text.rfind(" (")), "get ResultCode = 12");
    EXPECT_EQ(trace[2].Text.substr(0, trace[2].Text.rfind(" (")), "get ResultDescription = \"Вес не стабилен\"");
    auto has = [&](const std::string& prefix) {
        for (const TMessage& m : trace)
            if (m.Text.rfind(prefix, 0) == 0)
                return true;
        return false;
    };
    EXPECT_TRUE(has("get Weight = 1.25 ("));
    EXPECT_TRUE(has("get UnitPrice = 12.3400 ("));
    EXPECT_EQ(FForm->edtResultCode->text(), "12") << "the command ran as without the trace";
}

TEST_F(DriverTraceTest, AWriteShowsItsArgumentAndDataEventsTheirPlace)
{
    ASSERT_NO_FATAL_FAILURE(Start("ponderix.driver.debug=true"));
    FForm->edtUnitPrice->setFocus();
    FForm->edtUnitPrice->setText("12.34");
    QTest::keyClick(FForm->edtUnitPrice, Qt::Key_Return);
    const std::vector<std::string> writeLog = fakedriver::CallTexts();
    ASSERT_FALSE(writeLog.empty());
    EXPECT_EQ(writeLog.front(), "put UnitPrice 123400");
    EXPECT_EQ(TraceMessages().front().Text.substr(0, TraceMessages().front().Text.rfind(" (")),
              "put UnitPrice 12.3400");
    EXPECT_EQ(TracedCalls(), writeLog);

    // A data event from the driver's worker: its line comes before the calls its handler makes.
    Captured().clear();
    fakedriver::ClearCalls();
    ASSERT_TRUE(fakedriver::RaiseDataEventFromWorker());
    EXPECT_TRUE(QTest::qWaitFor([] { return !fakedriver::Calls().empty(); }, 2000)) << "the handler made no call";
    QCoreApplication::processEvents();
    const auto trace = TraceMessages();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front().Text, "event DataEvent");
    EXPECT_EQ(TracedCalls(), fakedriver::CallTexts());
}

TEST_F(DriverTraceTest, SwitchedOffNothingIsWrittenAndTheHookIsNotCalled)
{
    // A hook left on from before: the start-up connection must switch it off.
    int hookCalls = 0;
    driver::SetDriverCallHook([&](const driver::TDriverCall&) { ++hookCalls; });
    ASSERT_NO_FATAL_FAILURE(Start("ponderix.driver.debug=false"));
    EXPECT_FALSE(FTraceOn);
    EXPECT_FALSE(driver::DriverCallTraceOn());

    fakedriver::ScriptResult("ReadWeight", 12, "Вес не стабилен");
    QTest::mouseClick(FForm->btnReadWeight, Qt::LeftButton);
    EXPECT_GT(fakedriver::CallTexts().size(), 20u) << "the command reached the driver";
    EXPECT_TRUE(TraceMessages().empty());
    EXPECT_EQ(hookCalls, 0);
}

} // namespace
