// The main window against the fake driver: real clicks, keys and focus changes; the fake's call
// log and the window's state are what is asserted.
#include "MainWindowTestSupport.h"

#include "forms/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QToolButton>

namespace {

using testsupport::Concat;
using testsupport::MainWindowTest;
using testsupport::UpdateAllCalls;

const std::vector<std::string> CheckResultPassed = {"get ResultCode"};

// ------------------------------------------------------------------ construction and refresh

class ConstructionTest : public MainWindowTest {
protected:
    void Script() override
    {
        fakedriver::SetLong("ResultCode", 0);
        fakedriver::SetReal("Weight", 1.25);
        fakedriver::SetMoney("UnitPrice", 125000);
        fakedriver::SetMoney("SalesPrice", 1234567890123456789LL);
        fakedriver::SetReal("TareWeight", 0.5);
        fakedriver::SetLong("Value", 41);
        fakedriver::SetReal("WeightStep", 0.01);
        fakedriver::SetLong("ValuePurpose", 3);
        fakedriver::SetLong("PollingInterval", 4);
        fakedriver::SetFlag("NegWeight", true);
        fakedriver::SetFlagRaw("InvalidRange", 1);
        fakedriver::SetLong("EventNumber", -3);
        fakedriver::SetLong("DataCount", 12);
    }
};

TEST_F(ConstructionTest, TheFirstRefreshShowsTheDriverStateOnBothPages)
{
    EXPECT_EQ(Text(Form->edtResultCode), "0");
    EXPECT_EQ(Text(Form->edtWeight), "1.25");
    EXPECT_EQ(Text(Form->edtAsyncWeight), "1.25");
    EXPECT_EQ(Text(Form->edtUnitPrice), "12.5");
    EXPECT_EQ(Text(Form->edtUnitPriceAsync), "12.5");
    // More than 15 significant digits: the synchronous page shows every digit.
    EXPECT_EQ(Text(Form->edtSalesPrice), "123456789012345.6789");
    EXPECT_EQ(Text(Form->edtAsyncSalesPrice), "123456789012346");
    EXPECT_EQ(Text(Form->edtTareWeight), "0.5");
    EXPECT_EQ(Text(Form->edtAsyncTareWeight), "0.5");
    EXPECT_EQ(Text(Form->edtValue), "41");
    EXPECT_EQ(Text(Form->edtWeightStep), "0.010");
    EXPECT_EQ(Form->cbValuePurpose->currentText(), QString::fromUtf8("Режим \"Тара\""));
    EXPECT_EQ(Form->cbPollingInterval->currentText(), QString::fromUtf8("1000 мс."));
    EXPECT_TRUE(Form->chkNegWeight->isChecked());
    EXPECT_TRUE(Form->chkInvalidRange->isChecked()) << "any non-zero flag is true";
    EXPECT_FALSE(Form->chkNettoWeight->isChecked());
    EXPECT_EQ(Text(Form->edtEventNumber), "-3");
    EXPECT_EQ(Text(Form->edtDataCount), "12");
    EXPECT_FALSE(Form->chkDeleteEvents->isChecked());
}

TEST_F(ConstructionTest, OpensOnTheSynchronousPageWithCloseFocusedAndItsHandlerInstalled)
{
    EXPECT_EQ(Form->PageControl->currentWidget(), Form->TabSheet1);
    EXPECT_EQ(QApplication::focusWidget(), Form->btnClose);
    EXPECT_EQ(forms::Application()->OnException().Target(), Form.get());
    EXPECT_EQ(fakedriver::InitNewCalls(), 1);
    EXPECT_EQ(fakedriver::LiveInstances(), 1) << "the registration check's instance is released";

    Form.reset();
    EXPECT_FALSE(static_cast<bool>(forms::Application()->OnException())) << "uninstalled with the window";
    EXPECT_EQ(fakedriver::LiveInstances(), 0);
}

TEST_F(ConstructionTest, FirstValueSpinClickStepsFromTheValueShown)
{
    QTest::mouseClick(Form->sbValue->UpButton(), Qt::LeftButton);
    EXPECT_EQ(Log().front(), "put Value 42");
}

TEST_F(MainWindowTest, OneRefreshReadsEveryValueInOrderAndWritesNothing)
{
    ShowPage(Form->TabSheet2);
    QTest::mouseClick(Form->btnUpdate, Qt::LeftButton);
    EXPECT_EQ(Log(), UpdateAllCalls());
}

TEST_F(MainWindowTest, ListValuesOutsideTheirEntriesShowNoSelectionAndNoError)
{
    fakedriver::SetLong("ValuePurpose", 7);
    fakedriver::SetLong("PollingInterval", -1);
    Form->UpdateAll();
    EXPECT_EQ(Form->cbValuePurpose->currentIndex(), -1);
    EXPECT_EQ(Form->cbPollingInterval->currentIndex(), -1);
    EXPECT_EQ(Text(Form->edtResultDescription), "");

    // Choosing an entry afterwards writes its index.
    ShowPage(Form->TabSheet2);
    fakedriver::ClearCalls();
    Form->cbPollingInterval->setFocus();
    QTest::keyClick(Form->cbPollingInterval, Qt::Key_Down);
    EXPECT_EQ(Log(), Concat({"put PollingInterval 0"}, Concat(CheckResultPassed, UpdateAllCalls())));
    EXPECT_EQ(Form->cbPollingInterval->currentIndex(), 0);
}

// ------------------------------------------------------------------ command frame

TEST_F(MainWindowTest, EveryTestCommandRunsInTheCommandFrame)
{
    struct TCommand {
        QPushButton* Button;
        const char* Method;
    };
    const TCommand commands[] = {
        {Form->btnReadWeight, "ReadWeight"}, {Form->btnZero, "Zero"},       {Form->btnTare, "Tare"},
        {Form->btnSetTareWeight, "SetTare"}, {Form->btnReset, "Reset"},     {Form->btnGetValue, "ReadValue"},
        {Form->btnSetValue, "WriteValue"},
    };
    for (const TCommand& c : commands) {
        SCOPED_TRACE(c.Method);
        Form->edtResultCode->setText("old");
        bool allDisabled = false;
        std::string codeDuringCall = "unset";
        fakedriver::OnCall(c.Method, [&] {
            allDisabled = true;
            for (QPushButton* b : Form->CommandButtons())
                allDisabled = allDisabled && !b->isEnabled();
            codeDuringCall = Text(Form->edtResultCode);
        });
        // The ordinary frame enables the buttons before its refresh (the last read of it).
        bool allEnabledDuringRefresh = false;
        fakedriver::OnCall("DataEventEnabled", [&] {
            allEnabledDuringRefresh = true;
            for (QPushButton* b : Form->CommandButtons())
                allEnabledDuringRefresh = allEnabledDuringRefresh && b->isEnabled();
        });
        fakedriver::ClearCalls();
        QTest::mouseClick(c.Button, Qt::LeftButton);
        fakedriver::OnCall(c.Method, nullptr);
        fakedriver::OnCall("DataEventEnabled", nullptr);
        EXPECT_TRUE(allDisabled);
        EXPECT_TRUE(allEnabledDuringRefresh);
        EXPECT_EQ(codeDuringCall, "");
        EXPECT_EQ(Log(), Concat({std::string("call ") + c.Method}, Concat(CheckResultPassed, UpdateAllCalls())));
        for (QPushButton* b : Form->CommandButtons())
            EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
        EXPECT_EQ(QApplication::focusWidget(), nullptr);
    }
}

TEST_F(MainWindowTest, AFailedCommandShowsItsErrorAfterEveryValueWasReadAgain)
{
    struct TCase {
        const char* Name;
        std::function<void()> Script;
        const char* Code;
        const char* Description;
    };
    const TCase cases[] = {
        {"driver refuses", [] { fakedriver::ScriptResult("ReadWeight", 5, "Нет связи с весами"); }, "5",
         "Нет связи с весами"},
        // A failure of the call itself: the code field keeps the code the refresh read.
        {"call fails",
         [] {
             fakedriver::SetLong("ResultCode", -7);
             fakedriver::ScriptFailure("ReadWeight", E_FAIL, std::string("Порт закрыт"));
         },
         "-7", "Порт закрыт"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fakedriver::Reset();
        c.Script();
        fakedriver::OnCall("ReadWeight", [] { fakedriver::SetReal("Weight", 3.75); });
        QTest::mouseClick(Form->btnReadWeight, Qt::LeftButton);

        EXPECT_EQ(Text(Form->edtResultCode), c.Code);
        EXPECT_EQ(Text(Form->edtResultDescription), c.Description);
        EXPECT_EQ(Text(Form->edtWeight), "3.75");
        EXPECT_EQ(Text(Form->edtAsyncWeight), "3.75");
        for (QPushButton* b : Form->CommandButtons())
            EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
        EXPECT_EQ(QApplication::focusWidget(), nullptr);
        const auto log = Log();
        const auto refresh = UpdateAllCalls();
        ASSERT_GE(log.size(), refresh.size());
        EXPECT_EQ(std::vector<std::string>(log.end() - refresh.size(), log.end()), refresh);
    }
}

TEST_F(MainWindowTest, AFailingRefreshAfterAFailedCommandIsTheOneReported)
{
    fakedriver::ScriptResult("Zero", 2, "Ноль не установлен");
    fakedriver::ScriptFailure("Weight", E_FAIL, std::string("Вес не прочитан"));
    Form->edtValue->setText("stale");
    QTest::mouseClick(Form->btnZero, Qt::LeftButton);
    EXPECT_EQ(Text(Form->edtResultDescription), "Вес не прочитан");
    EXPECT_EQ(Text(Form->edtValue), "stale") << "readers after the failing one do not run";
    EXPECT_EQ(Log().back(), "get Weight");
}

TEST_F(MainWindowTest, GenerateEventRefreshesBeforeEnablingAndKeepsTheResultFields)
{
    ShowPage(Form->TabSheet2);
    Form->edtResultDescription->setText("earlier");
    std::string descriptionDuringCall;
    bool disabledDuringCall = false;
    fakedriver::OnCall("GenerateEvent", [&] {
        descriptionDuringCall = Text(Form->edtResultDescription);
        disabledDuringCall = !Form->btnGenerateAsyncMessage->isEnabled() && !Form->btnClose->isEnabled();
    });
    bool disabledDuringRefresh = false;
    fakedriver::OnCall("DataEventEnabled", [&] { // the last read of the refresh
        disabledDuringRefresh = !Form->btnGenerateAsyncMessage->isEnabled() && !Form->btnClose->isEnabled();
    });
    QTest::mouseClick(Form->btnGenerateAsyncMessage, Qt::LeftButton);
    fakedriver::OnCall("DataEventEnabled", nullptr);
    EXPECT_EQ(descriptionDuringCall, "earlier");
    EXPECT_TRUE(disabledDuringCall);
    EXPECT_TRUE(disabledDuringRefresh) << "the buttons come back only after the refresh";
    EXPECT_EQ(Log(), Concat({"call GenerateEvent"}, Concat(CheckResultPassed, UpdateAllCalls())));
    EXPECT_TRUE(Form->btnGenerateAsyncMessage->isEnabled());
}

TEST_F(MainWindowTest, GenerateEventLeavesTheButtonsEnabledWhenItsRefreshFails)
{
    ShowPage(Form->TabSheet2);
    fakedriver::ScriptFailure("LockDevices", E_FAIL, std::string("Нет ответа"));
    QTest::mouseClick(Form->btnGenerateAsyncMessage, Qt::LeftButton);
    EXPECT_EQ(Text(Form->edtResultDescription), "Нет ответа");
    for (QPushButton* b : Form->CommandButtons())
        EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
}

// ------------------------------------------------------------------ value controls

TEST_F(MainWindowTest, ARefusedCheckBoxSnapsBackAndTheRefusalStandsInTheResult)
{
    struct TCase {
        QCheckBox* Box;
        const char* Member;
        QWidget* Page;
    };
    const TCase cases[] = {
        {Form->chkLockDevices, "LockDevices", Form->TabSheet1},
        {Form->chkDeviceEnabled, "DeviceEnabled", Form->TabSheet1},
        {Form->chkUpdatePrice, "UpdatePrice", Form->TabSheet1},
        {Form->chkAsyncMode, "AsyncMode", Form->TabSheet2},
        {Form->chkDataEventEnabled, "DataEventEnabled", Form->TabSheet2},
        {Form->chkAutoDisable, "AutoDisable", Form->TabSheet2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Member);
        fakedriver::Reset();
        fakedriver::RefuseWrites(c.Member);
        fakedriver::ScriptResult(c.Member, 3, "Изменение запрещено");
        ShowPage(c.Page);
        QTest::mouseClick(c.Box, Qt::LeftButton);
        EXPECT_FALSE(c.Box->isChecked());
        EXPECT_EQ(Text(Form->edtResultCode), "3");
        EXPECT_EQ(Text(Form->edtResultDescription), "Изменение запрещено");
        const auto log = Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front(), std::string("put ") + c.Member + " -1");
        EXPECT_TRUE(Form->btnClose->isEnabled());
    }
}

TEST_F(MainWindowTest, AnAcceptedCheckBoxWritesAndRefreshes)
{
    QTest::mouseClick(Form->chkDeviceEnabled, Qt::LeftButton);
    EXPECT_EQ(Log(), Concat({"put DeviceEnabled -1"}, Concat(CheckResultPassed, UpdateAllCalls())));
    EXPECT_TRUE(Form->chkDeviceEnabled->isChecked());
    EXPECT_EQ(Form->chkDeviceEnabled, QApplication::focusWidget());
}

TEST_F(MainWindowTest, TextThatIsNotANumberWritesNothingAndTheFieldShowsTheDriverValueAgain)
{
    struct TCase {
        QLineEdit* Edit;
        const char* Typed;
        bool Enter;
        const char* Message;
        QWidget* Page;
    };
    const TCase cases[] = {
        {Form->edtUnitPrice, "abc", true, "\"abc\" не является дробным числом", Form->TabSheet1},
        {Form->edtUnitPrice, "", false, "\"\" не является дробным числом", Form->TabSheet1},
        {Form->edtTareWeight, "1,2,3", true, "\"1,2,3\" не является дробным числом", Form->TabSheet1},
        {Form->edtValue, "x1", false, "\"x1\" не является целым числом", Form->TabSheet1},
        {Form->edtValue, "2147483648", false, "\"2147483648\" не является целым числом", Form->TabSheet1},
        {Form->edtWeightStep, "", true, "\"\" не является дробным числом", Form->TabSheet2},
        {Form->edtUnitPriceAsync, "12 kg", true, "\"12 kg\" не является дробным числом", Form->TabSheet2},
        {Form->edtAsyncTareWeight, "abc", false, "\"abc\" не является дробным числом", Form->TabSheet2},
    };
    fakedriver::SetLong("ResultCode", 4);
    fakedriver::SetMoney("UnitPrice", 25000);
    fakedriver::SetReal("TareWeight", 0.25);
    fakedriver::SetLong("Value", 17);
    fakedriver::SetReal("WeightStep", 1.5);
    Form->UpdateAll();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Message);
        ShowPage(c.Page);
        const std::string before = Text(c.Edit);
        Retype(c.Edit, c.Typed);
        fakedriver::ClearCalls();
        if (c.Enter)
            QTest::keyClick(c.Edit, Qt::Key_Return);
        else
            QTest::keyClick(c.Edit, Qt::Key_Tab);
        EXPECT_EQ(Text(Form->edtResultDescription), c.Message);
        EXPECT_EQ(Text(Form->edtResultCode), "4");
        EXPECT_EQ(Text(c.Edit), before);
        EXPECT_EQ(Log(), UpdateAllCalls()) << "nothing written";
        if (c.Enter) {
            EXPECT_TRUE(c.Edit->hasFocus());
        }
    }
}

TEST_F(MainWindowTest, TypedPricesAreRoundedToMoneyHalfToEven)
{
    struct TCase {
        char Separator;
        QLineEdit* Edit;
        const char* Typed;
        const char* Written;
        const char* Shown;
    };
    const TCase cases[] = {
        {',', Form->edtUnitPrice, "0,03125", "put UnitPrice 312", "0,0312"},
        {',', Form->edtUnitPrice, "0,03135", "put UnitPrice 314", "0,0314"},
        {'.', Form->edtUnitPriceAsync, "12.345678", "put UnitPrice 123457", "12.3457"},
        {'.', Form->edtUnitPrice, "-1.5e1", "put UnitPrice -150000", "-15"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Typed);
        runtime::FormatSettings().DecimalSeparator = c.Separator;
        ShowPage(c.Edit == Form->edtUnitPrice ? Form->TabSheet1 : Form->TabSheet2);
        Retype(c.Edit, c.Typed);
        fakedriver::ClearCalls();
        QTest::keyClick(c.Edit, Qt::Key_Return);
        ASSERT_FALSE(Log().empty());
        EXPECT_EQ(Log().front(), c.Written);
        EXPECT_EQ(Text(Form->edtUnitPrice), c.Shown);
        EXPECT_EQ(Text(Form->edtUnitPriceAsync), c.Shown);
    }
}

TEST_F(MainWindowTest, APriceOutsideTheMoneyRangeIsAnInvalidOperation)
{
    Retype(Form->edtUnitPrice, "1e30");
    fakedriver::ClearCalls();
    QTest::keyClick(Form->edtUnitPrice, Qt::Key_Return);
    EXPECT_EQ(Text(Form->edtResultDescription), "Invalid floating point operation");
    EXPECT_EQ(Log(), UpdateAllCalls());
}

TEST_F(MainWindowTest, EachTareFieldWritesItsOwnText)
{
    Form->edtTareWeight->setText("9");
    ShowPage(Form->TabSheet2);
    Retype(Form->edtAsyncTareWeight, "0.75");
    fakedriver::ClearCalls();
    QTest::keyClick(Form->edtAsyncTareWeight, Qt::Key_Tab);
    EXPECT_EQ(Log().front(), "put TareWeight 0.75");
    EXPECT_EQ(Text(Form->edtTareWeight), "0.75");
}

TEST_F(MainWindowTest, EnterAndSpacePressTheFocusedButton)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        Form->btnTare->setFocus(Qt::TabFocusReason);
        fakedriver::ClearCalls();
        QTest::keyClick(Form->btnTare, key);
        ASSERT_FALSE(Log().empty()) << key;
        EXPECT_EQ(Log().front(), "call Tare");
    }
}

TEST_F(MainWindowTest, EnterInTheValueFieldWritesNothingLeavingItDoes)
{
    Retype(Form->edtValue, "12");
    fakedriver::ClearCalls();
    QTest::keyClick(Form->edtValue, Qt::Key_Return);
    EXPECT_TRUE(Log().empty());
    QTest::keyClick(Form->edtValue, Qt::Key_Tab);
    EXPECT_EQ(Log(), Concat({"put Value 12"}, Concat(CheckResultPassed, UpdateAllCalls())));
}

TEST_F(MainWindowTest, ValueSpinWrapsAtThe32BitLimits)
{
    struct TCase {
        LONG Start;
        bool Up;
        const char* Written;
    };
    for (const TCase c : {TCase{2147483647, true, "put Value -2147483648"},
                          TCase{-2147483647 - 1, false, "put Value 2147483647"}, TCase{0, false, "put Value -1"}}) {
        SCOPED_TRACE(c.Written);
        fakedriver::SetLong("Value", c.Start);
        Form->UpdateAll();
        fakedriver::ClearCalls();
        QTest::mouseClick(c.Up ? Form->sbValue->UpButton() : Form->sbValue->DownButton(), Qt::LeftButton);
        EXPECT_EQ(Log(), Concat({c.Written}, Concat(CheckResultPassed, UpdateAllCalls())));
    }
}

TEST_F(MainWindowTest, RefusedValueSpinKeepsTheBaseAndRefreshes)
{
    fakedriver::SetLong("Value", 10);
    Form->UpdateAll();
    fakedriver::RefuseWrites("Value");
    fakedriver::ScriptResult("Value", 8, "Значение вне диапазона");
    QTest::mouseClick(Form->sbValue->UpButton(), Qt::LeftButton);
    QTest::mouseClick(Form->sbValue->UpButton(), Qt::LeftButton);
    const auto log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "put Value 11"), 2);
    EXPECT_EQ(Text(Form->edtValue), "10");
    EXPECT_EQ(Text(Form->edtResultDescription), "Значение вне диапазона");
}

// Only a write that succeeded moves the spin's base. The refresh after a refused write would read
// the value back and hide a base moved too early, so here that refresh fails too.
TEST_F(MainWindowTest, RefusedValueSpinKeepsTheBaseAlsoWhenItsRefreshFails)
{
    fakedriver::SetLong("Value", 10);
    Form->UpdateAll();
    fakedriver::RefuseWrites("Value");
    fakedriver::ScriptResult("Value", 8, "Значение вне диапазона");
    fakedriver::ScriptFailure("LockDevices", E_FAIL, std::string("Нет ответа"));
    fakedriver::ClearCalls();
    QTest::mouseClick(Form->sbValue->UpButton(), Qt::LeftButton);
    QTest::mouseClick(Form->sbValue->UpButton(), Qt::LeftButton);
    const auto log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "put Value 11"), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "get Value"), 0) << "the refresh stopped before the value";
}

TEST_F(MainWindowTest, WeightStepSpinStepsFromTheStoredStep)
{
    ShowPage(Form->TabSheet2);
    QTest::mouseClick(Form->sbWeightStep->DownButton(), Qt::LeftButton);
    EXPECT_EQ(Log(), Concat({"put WeightStep -0.001"},
                            Concat(CheckResultPassed, Concat({"get WeightStep", "get WeightStep"}, UpdateAllCalls()))));
    EXPECT_EQ(Text(Form->edtWeightStep), "-0.001");

    // The next step starts from what the driver then reports, not from the field's text.
    fakedriver::SetReal("WeightStep", 1.5);
    Form->UpdateAll();
    Form->edtWeightStep->setText("7");
    fakedriver::ClearCalls();
    QTest::mouseClick(Form->sbWeightStep->UpButton(), Qt::LeftButton);
    QTest::mouseClick(Form->sbWeightStep->UpButton(), Qt::LeftButton);
    const auto log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "put WeightStep 1.501"), 1);
    // 1.501 + 0.001 is not exactly 1.502 in binary; the field rounds it to three decimals.
    EXPECT_EQ(std::count(log.begin(), log.end(), "put WeightStep 1.5019999999999998"), 1);
    EXPECT_EQ(Text(Form->edtWeightStep), "1.502");
}

TEST_F(MainWindowTest, WeightStepTextIsShownWithThreeDecimals)
{
    for (const auto& [step, shown] : std::vector<std::pair<double, std::string>>{{0.01, "0.010"}, {1.5, "1.500"}}) {
        fakedriver::SetReal("WeightStep", step);
        Form->UpdateAll();
        EXPECT_EQ(Text(Form->edtWeightStep), shown);
    }
}

TEST_F(MainWindowTest, DeleteEventsBoxChangesNothingButTheHandlersState)
{
    ShowPage(Form->TabSheet2);
    Form->edtWeight->setText("untouched");
    QTest::mouseClick(Form->chkDeleteEvents, Qt::LeftButton);
    QTest::mouseClick(Form->chkDeleteEvents, Qt::LeftButton);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Text(Form->edtWeight), "untouched");
}

// ------------------------------------------------------------------ device report

TEST_F(MainWindowTest, DeviceReportHasItsEightLinesInReadOrder)
{
    fakedriver::SetLong("ProtocolVersion", 3);
    fakedriver::SetLong("DeviceType", 1);
    fakedriver::SetLong("DeviceModel", 12);
    fakedriver::SetLong("SoftwareVersion", 2);
    fakedriver::SetLong("SoftwareSubVersion", 1);
    fakedriver::SetLong("SoftwareBuild", 27);
    fakedriver::SetLong("CodePage", 1251);
    fakedriver::SetTextUtf8("DeviceName", "Весы \"Стол\" №1");
    fakedriver::SetLong("OperatingMode", -2);
    Form->Memo->AddLine("earlier text");

    QTest::mouseClick(Form->btnGetDeviceMetrics, Qt::LeftButton);
    const std::vector<std::string> expected = {
        "Версия протокола: 3",    "Тип устройства: 1", "Модель устройства: 12",
        "Версия программы: 2.1.0027", "Кодовая страница: 1251", "Название устройства: \r",
        "\"Весы \"Стол\" №1\"",   "Режим работы: -2"};
    EXPECT_EQ(Form->Memo->Lines(), expected);
    EXPECT_EQ(Form->Memo->toPlainText().split('\n').value(6), QString::fromUtf8("\"Весы \"Стол\" №1\""));
    EXPECT_EQ(Log(), Concat({"call GetDeviceMetrics", "get ResultCode", "get ProtocolVersion", "get DeviceType",
                             "get DeviceModel", "get SoftwareVersion", "get SoftwareSubVersion", "get SoftwareBuild",
                             "get CodePage", "get DeviceName", "get OperatingMode"},
                            UpdateAllCalls()));
}

TEST_F(MainWindowTest, AFailingReadCutsTheReportShort)
{
    fakedriver::SetLong("ProtocolVersion", 3);
    fakedriver::ScriptFailure("CodePage", E_FAIL, std::string("Чтение кодовой страницы не удалось"));
    QTest::mouseClick(Form->btnGetDeviceMetrics, Qt::LeftButton);
    ASSERT_EQ(Form->Memo->Lines().size(), 4u);
    EXPECT_EQ(Form->Memo->Lines()[0], "Версия протокола: 3");
    EXPECT_EQ(Form->Memo->Lines()[3], "Версия программы: 0.0.0000");
    EXPECT_EQ(Text(Form->edtResultDescription), "Чтение кодовой страницы не удалось");
    EXPECT_FALSE(Logged("get DeviceName"));
}

TEST_F(MainWindowTest, ARefusedDeviceMetricsKeepsTheOldReport)
{
    Form->Memo->AddLine("previous report");
    fakedriver::ScriptResult("GetDeviceMetrics", 1, "Нет данных");
    QTest::mouseClick(Form->btnGetDeviceMetrics, Qt::LeftButton);
    EXPECT_EQ(Form->Memo->Lines(), std::vector<std::string>{"previous report"});
    EXPECT_EQ(Text(Form->edtResultDescription), "Нет данных");
    EXPECT_FALSE(Logged("get ProtocolVersion"));
}

TEST_F(MainWindowTest, ClearEmptiesTheMemoWithoutADriverCall)
{
    Form->Memo->AddLine("line");
    Form->piClear->trigger();
    EXPECT_TRUE(Form->Memo->Lines().empty());
    EXPECT_TRUE(Form->Memo->toPlainText().isEmpty());
    EXPECT_TRUE(Log().empty());
}

// ------------------------------------------------------------------ data event

TEST_F(MainWindowTest, DataEventRefreshesDeletesWhenAskedAndRereadsTheCounters)
{
    ShowPage(Form->TabSheet2);
    const auto counters = std::vector<std::string>{"get DataCount", "get EventNumber"};
    struct TCase {
        bool Delete;
        std::vector<std::string> Expected;
    };
    const TCase cases[] = {
        {false, Concat(UpdateAllCalls(), counters)},
        {true, Concat(UpdateAllCalls(), Concat({"call DeleteEvent", "get ResultCode"}, counters))},
        {false, Concat(UpdateAllCalls(), counters)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Delete);
        if (Form->chkDeleteEvents->isChecked() != c.Delete)
            QTest::mouseClick(Form->chkDeleteEvents, Qt::LeftButton);
        fakedriver::ClearCalls();
        fakedriver::SetLong("DataCount", c.Delete ? 0 : 5);
        // From the driver's worker thread, through the apartment into the GUI thread's loop.
        ASSERT_TRUE(fakedriver::RaiseDataEventFromWorker());
        ASSERT_TRUE(QTest::qWaitFor([&] { return Log().size() >= c.Expected.size(); }));
        EXPECT_EQ(Log(), c.Expected);
        EXPECT_EQ(Text(Form->edtDataCount), c.Delete ? "0" : "5");
    }
}

TEST_F(MainWindowTest, AFailureInsideTheDataEventLandsInTheResultFields)
{
    QTest::mouseClick(Form->chkDeleteEvents, Qt::LeftButton);
    ShowPage(Form->TabSheet2);
    fakedriver::ScriptResult("DeleteEvent", 9, "Очередь пуста");
    fakedriver::ClearCalls();
    int sinks = -1;
    EXPECT_NO_THROW(sinks = fakedriver::RaiseDataEvent());
    EXPECT_EQ(sinks, 1);
    EXPECT_EQ(Text(Form->edtResultCode), "9");
    EXPECT_EQ(Text(Form->edtResultDescription), "Очередь пуста");
    const auto log = Log();
    const auto deleted = std::find(log.begin(), log.end(), "call DeleteEvent");
    ASSERT_NE(deleted, log.end());
    EXPECT_EQ(std::vector<std::string>(deleted, log.end()),
              (std::vector<std::string>{"call DeleteEvent", "get ResultCode", "get ResultDescription", "get ResultCode"}))
        << "the counters are not read again";
}

TEST_F(MainWindowTest, DataEventRunsWhileTheCommandButtonsAreDisabled)
{
    fakedriver::OnCall("ReadWeight", [] { fakedriver::RaiseDataEvent(); });
    QTest::mouseClick(Form->btnReadWeight, Qt::LeftButton);
    const auto log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "call ReadWeight");
    EXPECT_EQ(log[1], "get ResultCode") << "the event's refresh runs inside the call";
    EXPECT_EQ(std::count(log.begin(), log.end(), "get DataEventEnabled"), 2);
}

// ------------------------------------------------------------------ Escape

TEST_F(MainWindowTest, EscapeClosesTheWindowFromEveryControlButTheMemo)
{
    struct TCase {
        QWidget* Control;
        bool Closes;
    };
    const TCase cases[] = {
        {Form->edtUnitPrice, true},  {Form->btnReadWeight, true}, {Form->chkUpdatePrice, true},
        {Form->cbValuePurpose, true}, {Form->edtValue, true},     {Form->sbValue, true},
        {Form->Memo, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Control->metaObject()->className());
        ASSERT_TRUE(testsupport::ShowActive(Form.get()));
        QSignalSpy closed(Form.get(), &TfmMain::closed);
        c.Control->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(c.Control->hasFocus());
        fakedriver::ClearCalls();
        QTest::keyClick(c.Control, Qt::Key_Escape);
        EXPECT_EQ(closed.count(), c.Closes ? 1 : 0);
        EXPECT_EQ(Form->isVisible(), !c.Closes);
        EXPECT_EQ(Form->edtUnitPrice->text().contains(QChar(27)), false);
        for (const auto& call : Log())
            EXPECT_NE(call.rfind("put ", 0), 0u) << "closing wrote " << call;
    }
}

TEST_F(MainWindowTest, EscapeDoesNothingWhileCloseIsDisabled)
{
    Form->SetCommandButtonsEnabled(false);
    QTest::keyClick(Form.get(), Qt::Key_Escape);
    EXPECT_TRUE(Form->isVisible());
    Form->SetCommandButtonsEnabled(true);
    QTest::keyClick(Form.get(), Qt::Key_Escape);
    EXPECT_FALSE(Form->isVisible());
}

} // namespace
