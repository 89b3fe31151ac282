// The device editor against the fake driver: real clicks, keys and focus changes; the fake's call
// log and the window's state are what is asserted.
#include "DevicesTestSupport.h"
#include "platform/comptr.h"

#include "forms/Controls.h"

#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace {

using testsupport::Accepted;
using testsupport::Choose;
using testsupport::DevicesTest;
using testsupport::EditorRefreshCalls;
using testsupport::Q;
using testsupport::Retype;
using testsupport::Text;

const std::vector<std::string> NoCalls;

// ------------------------------------------------------------------ refresh

class RefreshTest : public DevicesTest {
protected:
    void Script() override
    {
        fakedriver::SetLong("ResultCode", 0);
        fakedriver::SetTextUtf8("ResultDescription", "Ошибок нет");
        fakedriver::SetTextUtf8("CurrentDeviceName", "Весы в зале");
        fakedriver::SetLong("CurrentDeviceIndex", 2);
        fakedriver::SetLong("CurrentDeviceNumber", 7);
        fakedriver::SetFlag("DeviceEnabled", true);
        fakedriver::SetLong("DeviceCount", 3);
        fakedriver::SetLong("PortNumber", 4);
        fakedriver::SetLong("BaudRate", 14);
        fakedriver::SetLong("Parity", 2);
        fakedriver::SetLong("Model", 11);
    }
};

TEST_F(RefreshTest, ReadsTheTenStepsInOrderAndShowsEveryValue)
{
    Form->UpdateAll();
    EXPECT_EQ(Log(), EditorRefreshCalls());
    EXPECT_EQ(Text(Form->edtResultCode), "0");
    EXPECT_EQ(Form->edtResultDescription->text(), Q("Ошибок нет"));
    EXPECT_EQ(Form->edtDeviceName->text(), Q("Весы в зале"));
    EXPECT_EQ(Form->cbDeviceIndex->currentText(), "2");
    EXPECT_EQ(Form->cbDeviceNumber->currentText(), "7");
    EXPECT_TRUE(Form->chkDeviceEnabled->isChecked());
    EXPECT_EQ(Text(Form->edtDeviceCount), "3");
    EXPECT_EQ(Form->cboPortNumber->currentText(), "COM 4");
    EXPECT_EQ(Text(Form->edtPortNumber), "4");
    EXPECT_EQ(Form->udPortNumber->Position(), 4);
    EXPECT_EQ(Form->cboBaudRate->currentText(), "57600");
    EXPECT_EQ(Text(Form->edtBaudRate), "14");
    EXPECT_EQ(Form->cboParity->currentText(), Q("Четность"));
    EXPECT_EQ(Form->cboModelID->currentText(), Q("Ортикс-11"));
    EXPECT_EQ(Form->udModelID->Position(), 11);
}

// A code without a list entry still shows in the field and the spin, and the spin steps from it.
TEST_F(DevicesTest, CodeWithoutListEntryShowsInFieldAndSpinAndTheSpinStepsFromIt)
{
    struct Case {
        const char* Member;
        LONG Code;
        QComboBox* TfmDevices::*List;
        QLineEdit* TfmDevices::*Field;
        forms::TUpDown* TfmDevices::*Spin;
        const char* Written;
        const char* ShownAfter;
    };
    const Case cases[] = {
        {"BaudRate", 6, &TfmDevices::cboBaudRate, &TfmDevices::edtBaudRate, &TfmDevices::udBaudRate,
         "put BaudRate 7", "9600"},
        {"PortNumber", 0, &TfmDevices::cboPortNumber, &TfmDevices::edtPortNumber, &TfmDevices::udPortNumber,
         "put PortNumber 1", "COM 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Member);
        fakedriver::SetLong(c.Member, c.Code);
        Form->UpdateAll();
        QComboBox* list = (*Form).*c.List;
        EXPECT_EQ(list->currentIndex(), -1);
        EXPECT_EQ(list->currentText(), "");
        EXPECT_EQ(((*Form).*c.Field)->text().toInt(), c.Code);
        EXPECT_EQ(((*Form).*c.Spin)->Position(), c.Code);

        fakedriver::ClearCalls();
        QTest::mouseClick(((*Form).*c.Spin)->UpButton(), Qt::LeftButton);
        EXPECT_EQ(Log(), Accepted(c.Written));
        EXPECT_EQ(list->currentText(), Q(c.ShownAfter));
    }
}

TEST_F(DevicesTest, SpinThatCannotMoveWritesAndRefreshesNothing)
{
    struct Case {
        const char* Member;
        LONG Code;
        forms::TUpDown* TfmDevices::*Spin;
        bool Up;
    };
    const Case cases[] = {
        {"PortNumber", -1, &TfmDevices::udPortNumber, false}, {"BaudRate", 100, &TfmDevices::udBaudRate, true},
        {"Parity", -7, &TfmDevices::udParity, false},         {"Model", 250, &TfmDevices::udModelID, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Member);
        fakedriver::SetLong(c.Member, c.Code);
        Form->UpdateAll();
        fakedriver::ClearCalls();
        forms::TUpDown* spin = (*Form).*c.Spin;
        QTest::mouseClick(c.Up ? spin->UpButton() : spin->DownButton(), Qt::LeftButton);
        EXPECT_EQ(Log(), NoCalls);
    }
}

TEST_F(DevicesTest, ChoosingAnEntryWritesItsCode)
{
    struct Case {
        QComboBox* TfmDevices::*List;
        const char* Entry;
        const char* Written;
    };
    const Case cases[] = {
        {&TfmDevices::cboParity, "Четность", "put Parity 2"},
        {&TfmDevices::cboBaudRate, "115200", "put BaudRate 18"},
        {&TfmDevices::cboModelID, "Ортикс-11", "put Model 11"},
        {&TfmDevices::cboPortNumber, "COM 32", "put PortNumber 32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Entry);
        fakedriver::ClearCalls();
        Choose((*Form).*c.List, c.Entry);
        EXPECT_EQ(Log(), Accepted(c.Written));
        EXPECT_EQ(((*Form).*c.List)->currentText(), Q(c.Entry)) << "the driver took it and the refresh shows it";
    }
}

TEST_F(DevicesTest, KeyboardSelectionWritesAtOnceAndTheRefreshWritesNothing)
{
    fakedriver::SetLong("Parity", 0);
    Form->UpdateAll();
    fakedriver::ClearCalls();
    Form->cboParity->setFocus();
    QTest::keyClick(Form->cboParity, Qt::Key_Down);
    EXPECT_EQ(Log(), Accepted("put Parity 2"));
}

TEST_F(DevicesTest, DeviceSelectorsWriteThePositionAndThePositionPlusOne)
{
    Choose(Form->cbDeviceIndex, "5");
    EXPECT_EQ(Log(), Accepted("put CurrentDeviceIndex 5"));
    fakedriver::ClearCalls();
    Choose(Form->cbDeviceNumber, "99");
    EXPECT_EQ(Log(), Accepted("put CurrentDeviceNumber 99"));
}

TEST_F(DevicesTest, SelectorsOutsideTheirEntriesShowNoEntryAndNoMessage)
{
    struct Case {
        LONG Index;
        LONG Number;
        int IndexEntry;
        int NumberEntry;
    };
    const Case cases[] = {{-1, 0, -1, -1}, {99, 100, -1, -1}, {98, 99, 98, 98}, {0, 1, 0, 0},
                          {INT32_MIN, INT32_MIN, -1, -1}};
    fakedriver::SetTextUtf8("ResultDescription", "Ошибок нет");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Index);
        fakedriver::SetLong("CurrentDeviceIndex", c.Index);
        fakedriver::SetLong("CurrentDeviceNumber", c.Number);
        Form->UpdateAll();
        EXPECT_EQ(Form->cbDeviceIndex->currentIndex(), c.IndexEntry);
        EXPECT_EQ(Form->cbDeviceNumber->currentIndex(), c.NumberEntry);
        EXPECT_EQ(Form->edtResultDescription->text(), Q("Ошибок нет"));
    }
}

// ------------------------------------------------------------------ edit fields

TEST_F(DevicesTest, EnterWritesAndKeepsTheFocusThenLeavingWritesAgain)
{
    Retype(Form->edtPortNumber, "5");
    QTest::keyClick(Form->edtPortNumber, Qt::Key_Return);
    EXPECT_EQ(Log(), Accepted("put PortNumber 5"));
    EXPECT_TRUE(Form->edtPortNumber->hasFocus());

    fakedriver::ClearCalls();
    QTest::keyClick(Form->edtPortNumber, Qt::Key_Tab);
    EXPECT_TRUE(Form->cboBaudRate->hasFocus());
    EXPECT_EQ(Log(), Accepted("put PortNumber 5"));
}

TEST_F(DevicesTest, FieldTextThatIsNotAWholeNumberWritesNothingAndShowsTheMessage)
{
    struct Case {
        const char* Typed;
        bool ByEnter;
        const char* Message;
    };
    const Case cases[] = {
        {"12a", true, "\"12a\" не является целым числом"},
        {"", false, "\"\" не является целым числом"},
        {"2147483648", false, "\"2147483648\" не является целым числом"},
    };
    fakedriver::SetLong("PortNumber", 3);
    fakedriver::SetLong("ResultCode", 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Typed);
        Retype(Form->edtPortNumber, c.Typed); // may leave the field of the case before
        fakedriver::ClearCalls();
        if (c.ByEnter)
            QTest::keyClick(Form->edtPortNumber, Qt::Key_Return);
        else
            QTest::mouseClick(Form->edtBaudRate, Qt::LeftButton);
        EXPECT_EQ(Log(), EditorRefreshCalls()) << "no write, and the refresh ran";
        EXPECT_EQ(Form->edtResultDescription->text(), Q(c.Message));
        EXPECT_EQ(Text(Form->edtResultCode), "9") << "the code read by the refresh";
        EXPECT_EQ(Text(Form->edtPortNumber), "3") << "the driver's value again";
    }
}

TEST_F(DevicesTest, EveryFieldWritesItsOwnMember)
{
    struct Case {
        QLineEdit* TfmDevices::*Field;
        const char* Typed;
        const char* Written;
    };
    const Case cases[] = {
        {&TfmDevices::edtBaudRate, "-2147483648", "put BaudRate -2147483648"},
        {&TfmDevices::edtParity, " 1 ", "put Parity 1"},
        {&TfmDevices::edtModelID, "4", "put Model 4"},
        {&TfmDevices::edtDeviceName, "Склад №2", "put CurrentDeviceName \"Склад №2\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Written);
        Retype((*Form).*c.Field, c.Typed); // leaves the field of the case before
        fakedriver::ClearCalls();
        QTest::keyClick((*Form).*c.Field, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(Log(), Accepted(c.Written));
    }
}

TEST_F(DevicesTest, EscapeDoesNothingAnywhere)
{
    Retype(Form->edtParity, "1");
    fakedriver::ClearCalls();
    for (QWidget* target : std::initializer_list<QWidget*>{Form->edtParity, Form->cboModelID, Form->btnAdd,
                                                          Form->chkDeviceEnabled, Form->edtDeviceName}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_TRUE(Form->isVisible());
    }
    EXPECT_EQ(Text(Form->edtParity), "1") << "the Escape character never reached the field";
    // Leaving edtParity (for the combo box) wrote it once; Escape itself wrote nothing.
    const auto log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "put Parity 1"), 1);
    EXPECT_EQ(log.size(), Accepted("put Parity 1").size());
}

TEST_F(DevicesTest, EnterPressesOnlyTheFocusedButton)
{
    for (QWidget* target : std::initializer_list<QWidget*>{Form->cboModelID, Form->chkDeviceEnabled}) {
        QTest::mouseClick(target, Qt::LeftButton); // from "Закрыть", focused at opening
        if (target == Form->cboModelID)
            Form->cboModelID->hidePopup();
        fakedriver::ClearCalls();
        QTest::keyClick(target, Qt::Key_Return);
        EXPECT_TRUE(Form->isVisible());
        for (QPushButton* button : {Form->btnAdd, Form->btnDelete, Form->btnClose})
            EXPECT_FALSE(button->isDefault()) << "no default button to press";
    }
    EXPECT_EQ(Log(), NoCalls);

    Form->btnAdd->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Form->btnAdd, Qt::Key_Return);
    EXPECT_EQ(Log(), testsupport::Accepted("call AddDevice"));
    Form->btnClose->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Form->btnClose, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(Form->isVisible());
}

// ------------------------------------------------------------------ the device name

TEST_F(DevicesTest, TypingStopsAtTwentyCharactersButALongerDriverNameIsKeptWhole)
{
    Retype(Form->edtDeviceName, "123456789012345678901234");
    EXPECT_EQ(Text(Form->edtDeviceName), "12345678901234567890");
    // A paste is cut to what still fits, at the cursor.
    Retype(Form->edtDeviceName, "ab");
    QTest::keyClick(Form->edtDeviceName, Qt::Key_Home);
    QApplication::clipboard()->setText(Q("Весы весов и весовщиков"));
    QTest::keyClick(Form->edtDeviceName, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Form->edtDeviceName->text(), Q("Весы весов и весовab"));

    const std::string longName = "Весы самообслуживания у входа №12";
    fakedriver::SetTextUtf8("CurrentDeviceName", longName);
    Form->UpdateAll();
    EXPECT_EQ(Form->edtDeviceName->text().toStdString(), longName);

    // Typing into the long name adds nothing; deleting still works.
    QTest::mouseClick(Form->edtDeviceName, Qt::LeftButton);
    QTest::keyClick(Form->edtDeviceName, Qt::Key_End);
    QTest::keyClicks(Form->edtDeviceName, "X");
    EXPECT_EQ(Form->edtDeviceName->text().toStdString(), longName);

    fakedriver::ClearCalls();
    QTest::keyClick(Form->edtDeviceName, Qt::Key_Tab);
    EXPECT_EQ(Log(), Accepted("put CurrentDeviceName \"" + longName + "\""));

    QTest::mouseClick(Form->edtDeviceName, Qt::LeftButton);
    QTest::keyClick(Form->edtDeviceName, Qt::Key_End);
    QTest::keyClick(Form->edtDeviceName, Qt::Key_Backspace);
    EXPECT_EQ(Form->edtDeviceName->text().size(), Q(longName.c_str()).size() - 1);
}

class NameReadFailsTest : public DevicesTest {
protected:
    void Script() override
    {
        fakedriver::SetLong("DeviceCount", 2);
        fakedriver::ScriptFailure("CurrentDeviceName", E_FAIL, "Имя недоступно");
    }
};

TEST_F(NameReadFailsTest, MessageStandsInTheNameFieldAndIsNeverWrittenAsAName)
{
    EXPECT_EQ(Form->edtDeviceName->text(), Q("Имя недоступно"));
    EXPECT_EQ(Text(Form->edtDeviceCount), "2") << "the refresh went on";

    QTest::mouseClick(Form->edtDeviceName, Qt::LeftButton);
    QTest::keyClick(Form->edtDeviceName, Qt::Key_Return);
    QTest::keyClick(Form->edtDeviceName, Qt::Key_Tab);
    EXPECT_FALSE(Logged("put CurrentDeviceName \"Имя недоступно\""));
    EXPECT_EQ(Log(), testsupport::Concat(EditorRefreshCalls(), EditorRefreshCalls()));

    // A name the operator typed over it is written.
    fakedriver::ClearCalls();
    Retype(Form->edtDeviceName, "Новое имя");
    QTest::keyClick(Form->edtDeviceName, Qt::Key_Return);
    EXPECT_TRUE(Logged("put CurrentDeviceName \"Новое имя\""));
}

// ------------------------------------------------------------------ failures

TEST_F(DevicesTest, FailingDeviceEnabledReadEndsTheRefreshAndReachesTheHandler)
{
    fakedriver::SetLong("PortNumber", 5);
    Form->UpdateAll();
    fakedriver::SetLong("PortNumber", 6);
    fakedriver::ScriptFailure("DeviceEnabled", E_FAIL, "Нет связи");
    fakedriver::ClearCalls();

    QTest::mouseClick(Form->btnAdd, Qt::LeftButton);
    const std::vector<std::string> expected = {"call AddDevice",          "get ResultCode",
                                               "get ResultCode",          "get ResultDescription",
                                               "get CurrentDeviceName",   "get CurrentDeviceIndex",
                                               "get CurrentDeviceNumber", "get DeviceEnabled"};
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(Form->edtResultDescription->text(), Q("Нет связи"));
    EXPECT_EQ(Text(Form->edtPortNumber), "5") << "steps after the failure do not run";
}

TEST_F(DevicesTest, FailingParameterReadPutsItsMessageIntoThatFieldOnly)
{
    fakedriver::SetLong("PortNumber", 5);
    fakedriver::SetLong("Model", 3);
    Form->UpdateAll();
    fakedriver::ScriptFailure("PortNumber", E_FAIL, "Порт занят");
    fakedriver::ScriptFailure("DeviceCount", E_FAIL, "Нет списка");
    fakedriver::ScriptFailure("CurrentDeviceIndex", E_FAIL, "Нет индекса");
    fakedriver::SetLong("Model", 5);
    Form->UpdateAll();
    EXPECT_EQ(Form->edtPortNumber->text(), Q("Порт занят"));
    EXPECT_EQ(Form->cboPortNumber->currentText(), "COM 5") << "list keeps what it showed";
    EXPECT_EQ(Form->udPortNumber->Position(), 5);
    EXPECT_EQ(Form->edtDeviceCount->text(), Q("Нет списка"));
    EXPECT_EQ(Form->cbDeviceIndex->currentText(), "0") << "index failure ignored";
    EXPECT_EQ(Form->cboModelID->currentText(), Q("Ортикс-5")) << "the refresh went on";
}

TEST_F(DevicesTest, RefusedCommandsShowTheDriversCodeAndReadEverythingAgain)
{
    struct Case {
        const char* Method;
        QPushButton* TfmDevices::*Button;
    };
    const Case cases[] = {{"AddDevice", &TfmDevices::btnAdd}, {"DeleteDevice", &TfmDevices::btnDelete}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Method);
        fakedriver::ScriptResult(c.Method, -5, "Устройства заблокированы");
        fakedriver::ClearCalls();
        QTest::mouseClick((*Form).*c.Button, Qt::LeftButton);
        const auto refresh = EditorRefreshCalls();
        std::vector<std::string> expected = {std::string("call ") + c.Method, "get ResultCode",
                                             "get ResultDescription", "get ResultCode"};
        expected.insert(expected.end(), refresh.begin(), refresh.end());
        EXPECT_EQ(Log(), expected);
        EXPECT_EQ(Text(Form->edtResultCode), "-5");
        EXPECT_EQ(Form->edtResultDescription->text(), Q("Устройства заблокированы"));
        EXPECT_TRUE(Form->isVisible());
    }
}

TEST_F(DevicesTest, RefusedCheckBoxSnapsBackToTheDriversState)
{
    fakedriver::RefuseWrites("DeviceEnabled");
    fakedriver::ScriptResult("DeviceEnabled", 3, "Устройство не включено");
    QTest::mouseClick(Form->chkDeviceEnabled, Qt::LeftButton);
    EXPECT_TRUE(Logged("put DeviceEnabled -1"));
    EXPECT_FALSE(Form->chkDeviceEnabled->isChecked());
    EXPECT_EQ(Text(Form->edtResultCode), "3");
}

TEST_F(DevicesTest, CloseWritesNothing)
{
    QTest::mouseClick(Form->btnClose, Qt::LeftButton);
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(Log(), NoCalls);
}

// ------------------------------------------------------------------ layout

TEST_F(DevicesTest, WindowFrameAndLists)
{
    EXPECT_EQ(Form->windowTitle(), Q("Тест свойств устройств"));
    EXPECT_EQ(Form->size(), QSize(478, 352));
    EXPECT_EQ(Form->minimumSize(), Form->maximumSize()) << "fixed size";
    const Qt::WindowFlags flags = Form->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowContextHelpButtonHint));

    ASSERT_EQ(Form->cbDeviceIndex->count(), 99);
    ASSERT_EQ(Form->cbDeviceNumber->count(), 99);
    EXPECT_EQ(Form->cbDeviceIndex->itemText(0), "0");
    EXPECT_EQ(Form->cbDeviceIndex->itemText(98), "98");
    EXPECT_EQ(Form->cbDeviceNumber->itemText(0), "1");
    EXPECT_EQ(Form->cbDeviceNumber->itemText(98), "99");

    auto entries = [](const QComboBox* list) {
        std::vector<std::pair<std::string, int>> result;
        for (int i = 0; i < list->count(); ++i)
            result.emplace_back(list->itemText(i).toStdString(), list->itemData(i).toInt());
        return result;
    };
    using E = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(entries(Form->cboBaudRate), (E{{"1200", 3},
                                              {"2400", 4},
                                              {"4800", 5},
                                              {"9600", 7},
                                              {"19200", 10},
                                              {"38400", 12},
                                              {"57600", 14},
                                              {"115200", 18}}));
    EXPECT_EQ(entries(Form->cboParity), (E{{"Нет", 0}, {"Четность", 2}}));
    EXPECT_EQ(entries(Form->cboModelID), (E{{"Ортикс-3", 3}, {"Ортикс-5", 5}, {"Ортикс-11", 11}}));
    const auto ports = entries(Form->cboPortNumber);
    ASSERT_EQ(ports.size(), 32u);
    for (int n = 1; n <= 32; ++n)
        EXPECT_EQ(ports[n - 1], std::make_pair("COM " + std::to_string(n), n));
    for (QComboBox* list : {Form->cboPortNumber, Form->cboBaudRate, Form->cboParity, Form->cboModelID})
        EXPECT_FALSE(list->isEditable());

    Form->cboModelID->showPopup();
    EXPECT_GE(Form->cboModelID->view()->window()->width(), 200) << "the model list drops down 200 wide";
    Form->cboModelID->hidePopup();
}

TEST_F(DevicesTest, EveryControlAtItsPlace)
{
    struct Case {
        QWidget* Control;
        QWidget* Parent;
        QRect Geometry;
    };
    TfmDevices& f = *Form;
    const Case cases[] = {
        {f.topPanel, &f, {8, 24, 337, 61}},
        {f.cbDeviceIndex, f.topPanel, {88, 8, 153, 21}},
        {f.cbDeviceNumber, f.topPanel, {88, 32, 153, 21}},
        {f.edtDeviceCount, f.topPanel, {248, 32, 81, 21}},
        {f.bottomPanel, &f, {8, 112, 337, 169}},
        {f.edtDeviceName, f.bottomPanel, {88, 8, 153, 21}},
        {f.cboPortNumber, f.bottomPanel, {88, 32, 153, 21}},
        {f.edtPortNumber, f.bottomPanel, {248, 32, 65, 21}},
        {f.udPortNumber, f.bottomPanel, {312, 31, 16, 24}},
        {f.cboBaudRate, f.bottomPanel, {88, 56, 153, 21}},
        {f.edtBaudRate, f.bottomPanel, {248, 56, 65, 21}},
        {f.udBaudRate, f.bottomPanel, {312, 55, 16, 24}},
        {f.cboParity, f.bottomPanel, {88, 80, 153, 21}},
        {f.edtParity, f.bottomPanel, {248, 80, 65, 21}},
        {f.udParity, f.bottomPanel, {312, 79, 16, 24}},
        {f.cboModelID, f.bottomPanel, {88, 104, 153, 21}},
        {f.edtModelID, f.bottomPanel, {248, 104, 65, 21}},
        {f.udModelID, f.bottomPanel, {312, 103, 16, 24}},
        {f.chkDeviceEnabled, f.bottomPanel, {88, 140, 244, 18}},
        {f.edtResultCode, &f, {76, 296, 269, 21}},
        {f.edtResultDescription, &f, {76, 324, 269, 21}},
        {f.btnAdd, &f, {360, 24, 113, 25}},
        {f.btnDelete, &f, {360, 56, 113, 25}},
        {f.btnClose, &f, {360, 320, 113, 25}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Control->metaObject()->className() + (" " + std::to_string(c.Geometry.y())));
        EXPECT_EQ(c.Control->parentWidget(), c.Parent);
        EXPECT_EQ(c.Control->geometry(), c.Geometry);
    }
    EXPECT_EQ(f.lnDeviceEnabled->parentWidget(), f.bottomPanel);
    EXPECT_EQ(f.lnDeviceEnabled->geometry().topLeft(), QPoint(8, 137));
    EXPECT_EQ(f.lnDeviceEnabled->width(), 321);
    EXPECT_EQ(f.lnResult->geometry().topLeft(), QPoint(8, 288));
    EXPECT_EQ(f.lnResult->width(), 337);
    EXPECT_EQ(f.lnCommands->geometry().topLeft(), QPoint(352, 24));
    EXPECT_EQ(f.lnCommands->height(), 321);

    struct LabelCase {
        QLabel* Label;
        QWidget* Parent;
        const char* Text;
        QPoint At;
    };
    const LabelCase labels[] = {
        {f.lblDevices, &f, "Список логических устройств:", {8, 8}},
        {f.lblDeviceIndex, f.topPanel, "Индекс:", {8, 8}},
        {f.lblDeviceNumber, f.topPanel, "Номер:", {8, 32}},
        {f.lblDeviceCount, f.topPanel, "Общее кол-во:", {248, 8}},
        {f.lblParameters, &f, "Параметры активного устройства :", {8, 92}},
        {f.lblDeviceName, f.bottomPanel, "Название:", {8, 8}},
        {f.lblPortNumber, f.bottomPanel, "Номер порта:", {8, 32}},
        {f.lblBaudRate, f.bottomPanel, "Скорость:", {8, 56}},
        {f.lblParity, f.bottomPanel, "Чётность:", {8, 80}},
        {f.lblModelID, f.bottomPanel, "Модель:", {8, 104}},
        {f.lblResultCode, &f, "Результат:", {8, 296}},
        {f.lblResultDescription, &f, "Описание :", {8, 324}},
        {f.lblCommands, &f, "Команды:", {360, 8}},
    };
    for (const LabelCase& l : labels) {
        EXPECT_EQ(l.Label->text(), Q(l.Text));
        EXPECT_EQ(l.Label->parentWidget(), l.Parent) << l.Text;
        EXPECT_EQ(l.Label->pos(), l.At) << l.Text;
    }
    EXPECT_EQ(f.chkDeviceEnabled->text(), Q("Устройство включено"));
    EXPECT_EQ(f.btnAdd->text(), Q("Добавить"));
    EXPECT_EQ(f.btnDelete->text(), Q("Удалить"));
    EXPECT_EQ(f.btnClose->text(), Q("Закрыть"));
    EXPECT_TRUE(f.edtDeviceCount->isReadOnly());
    EXPECT_TRUE(f.edtResultCode->isReadOnly());
    EXPECT_TRUE(f.edtResultDescription->isReadOnly());
}

TEST_F(DevicesTest, TabVisitsTheControlsInOrderSkippingSpinsAndResults)
{
    TfmDevices& f = *Form;
    const std::vector<QWidget*> expected = {f.cbDeviceIndex, f.cbDeviceNumber, f.edtDeviceCount, f.edtDeviceName,
                                            f.cboPortNumber, f.edtPortNumber,  f.cboBaudRate,    f.edtBaudRate,
                                            f.cboParity,     f.edtParity,      f.cboModelID,     f.edtModelID,
                                            f.chkDeviceEnabled, f.btnAdd,      f.btnDelete,      f.btnClose,
                                            f.cbDeviceIndex};
    f.cbDeviceIndex->setFocus(Qt::TabFocusReason);
    std::vector<QWidget*> visited = {QApplication::focusWidget()};
    for (std::size_t i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(visited, expected);
}

// ------------------------------------------------------------------ opening and closing

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Driver = testsupport::CreateFakeDriver();
        Scale = std::make_unique<TScaleX>(Driver.Get());
    }
    void TearDown() override
    {
        forms::Application()->SetOnException({});
        Scale.reset();
        Driver.Reset();
    }

    // A handler of a stand-in main window that records what reached it.
    struct TRecorder : QObject {
        std::vector<std::string> Messages;
        void AppException(QObject*, const runtime::Exception& E) { Messages.push_back(E.Message()); }
    };

    TFakeDriverEnvironment Environment;
    platform::ComPtr<ITrutina> Driver;
    std::unique_ptr<TScaleX> Scale;
};

TEST_F(DialogTest, OpensModalWithCloseFocusedAndTheGivenFontThenPutsTheHandlerBack)
{
    TRecorder main;
    forms::Application()->SetOnException(forms::TExceptionHandler::Bind(&main, &TRecorder::AppException));
    QFont font = forms::StandardFont();
    font.setPointSize(13);

    bool seen = false;
    testsupport::WhenReady([&] {
        // Only the active window holds the focus: wait until the system has activated it.
        auto* form = testsupport::ActiveModal<TfmDevices>();
        if (!form || !form->isActiveWindow())
            return false;
        seen = true;
        EXPECT_TRUE(form->btnClose->hasFocus());
        EXPECT_EQ(form->font().pointSize(), 13);
        EXPECT_EQ(form->edtDeviceName->font().pointSize(), 13);
        EXPECT_EQ(forms::Application()->OnException().Target(), form);
        // A refused write reaches the editor's handler, not the main window's.
        fakedriver::ScriptResult("AddDevice", 4, "Нет места");
        QTest::mouseClick(form->btnAdd, Qt::LeftButton);
        EXPECT_EQ(Text(form->edtResultCode), "4");
        fakedriver::ClearCalls();
        QTest::mouseClick(form->btnClose, Qt::LeftButton);
        return true;
    });
    ShowDevicesDialog(*Scale, font);
    EXPECT_TRUE(seen);
    EXPECT_EQ(fakedriver::CallTexts(), NoCalls) << "closing writes nothing";
    EXPECT_TRUE(main.Messages.empty());
    EXPECT_EQ(forms::Application()->OnException().Target(), &main);
}

TEST_F(DialogTest, FailedFirstRefreshDestroysTheWindowAndPutsTheHandlerBack)
{
    for (const char* member : {"ResultCode", "DeviceEnabled"}) {
        SCOPED_TRACE(member);
        TRecorder main;
        forms::Application()->SetOnException(forms::TExceptionHandler::Bind(&main, &TRecorder::AppException));
        fakedriver::ScriptFailure(member, E_FAIL, "Драйвер не отвечает", true);
        bool shown = false;
        testsupport::WhenReady(
            [&] {
                if (auto* form = testsupport::ActiveModal<TfmDevices>()) {
                    shown = true;
                    form->close();
                    return true;
                }
                return false;
            },
            20, 300);
        try {
            ShowDevicesDialog(*Scale, forms::StandardFont());
            ADD_FAILURE() << "the failure did not reach the caller";
        } catch (const runtime::Exception& e) {
            EXPECT_EQ(e.Message(), "Драйвер не отвечает");
        }
        QTest::qWait(350);
        EXPECT_FALSE(shown);
        for (QWidget* window : QApplication::topLevelWidgets())
            EXPECT_EQ(qobject_cast<TfmDevices*>(window), nullptr) << "the editor was not destroyed";
        EXPECT_EQ(forms::Application()->OnException().Target(), &main);
    }
}

TEST_F(DialogTest, EachOpeningBuildsItsListsAnewAndReadsAfresh)
{
    for (LONG port : {3, 17}) {
        fakedriver::SetLong("PortNumber", port);
        fakedriver::ClearCalls();
        std::string shown;
        int entries = 0;
        testsupport::WhenReady([&] {
            auto* form = testsupport::ActiveModal<TfmDevices>();
            if (!form)
                return false;
            shown = form->cboPortNumber->currentText().toStdString();
            entries = form->cboPortNumber->count();
            form->close();
            return true;
        });
        ShowDevicesDialog(*Scale, forms::StandardFont());
        EXPECT_EQ(shown, "COM " + std::to_string(port));
        EXPECT_EQ(entries, 32);
        EXPECT_EQ(fakedriver::CallTexts(), EditorRefreshCalls());
    }
}

} // namespace
