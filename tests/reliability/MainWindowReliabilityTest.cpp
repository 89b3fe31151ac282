// The main window while the driver misbehaves: every driver operation it makes failing with a
// status (with and without error info) and every write and method refused with a result code;
// every editable field against bad texts; driver texts that are empty, huge or not valid UTF-16.
// Each time the window reports it, writes nothing it should not, and the next command works.
#include "../app/MainWindowTestSupport.h"
#include "ReliabilitySupport.h"

#include "runtime/utf.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <functional>

namespace {

using fakedriver::TCallKind;
using reliability::TFailure;
using testsupport::MainWindowTest;

struct TOperation {
    const char* Member;
    TCallKind Kind;
    std::function<void(TfmMain&)> Trigger;
};

void Click(TfmMain& w, QWidget* page, QAbstractButton* button)
{
    w.PageControl->setCurrentWidget(page);
    QTest::mouseClick(button, Qt::LeftButton);
}

// Each driver operation of the main window and the operator action that makes it.
std::vector<TOperation> Operations()
{
    const auto refresh = [](TfmMain& w) { Click(w, w.TabSheet2, w.btnUpdate); };
    const auto report = [](TfmMain& w) { Click(w, w.TabSheet1, w.btnGetDeviceMetrics); };
    const auto button = [](QPushButton* TfmMain::*b, QWidget* TfmMain::*page) {
        return [b, page](TfmMain& w) { Click(w, w.*page, w.*b); };
    };
    const auto box = [](QCheckBox* TfmMain::*b, QWidget* TfmMain::*page) {
        return [b, page](TfmMain& w) { Click(w, w.*page, w.*b); };
    };
    const auto nextEntry = [](QComboBox* TfmMain::*list, QWidget* TfmMain::*page) {
        return [list, page](TfmMain& w) {
            w.PageControl->setCurrentWidget(w.*page);
            (w.*list)->setFocus();
            QTest::keyClick(w.*list, Qt::Key_Down);
        };
    };
    const auto enter = [](QLineEdit* TfmMain::*edit, QWidget* TfmMain::*page) {
        return [edit, page](TfmMain& w) {
            w.PageControl->setCurrentWidget(w.*page);
            QTest::mouseClick(w.*edit, Qt::LeftButton);
            (w.*edit)->setText("1");
            QTest::keyClick(w.*edit, Qt::Key_Return);
        };
    };
    const auto P1 = &TfmMain::TabSheet1;
    const auto P2 = &TfmMain::TabSheet2;
    std::vector<TOperation> ops;
    // Reads of the refresh, in its order.
    for (const char* member :
         {"ResultCode", "ResultDescription", "LockDevices", "DeviceEnabled", "Weight", "UnitPrice", "SalesPrice",
          "AsyncMode", "TareWeight", "ValuePurpose", "Value", "WeightStep", "PollingInterval", "NettoWeight",
          "ZeroScaleWeight", "OutOfZero", "NegWeight", "BigWeight", "NonStable", "InvalidRange", "UpdatePrice",
          "AutoDisable", "EventNumber", "DataCount", "DataEventEnabled"})
        ops.push_back({member, TCallKind::Read, refresh});
    // Reads of the device report.
    for (const char* member : {"ProtocolVersion", "DeviceType", "DeviceModel", "SoftwareVersion", "SoftwareSubVersion",
                               "SoftwareBuild", "CodePage", "DeviceName", "OperatingMode"})
        ops.push_back({member, TCallKind::Read, report});
    ops.push_back({"DriverVersion", TCallKind::Read, button(&TfmMain::btnAbout, P1)});
    // Writes.
    ops.push_back({"LockDevices", TCallKind::Write, box(&TfmMain::chkLockDevices, P1)});
    ops.push_back({"DeviceEnabled", TCallKind::Write, box(&TfmMain::chkDeviceEnabled, P1)});
    ops.push_back({"UnitPrice", TCallKind::Write, enter(&TfmMain::edtUnitPrice, P1)});
    ops.push_back({"TareWeight", TCallKind::Write, enter(&TfmMain::edtTareWeight, P1)});
    ops.push_back({"UpdatePrice", TCallKind::Write, box(&TfmMain::chkUpdatePrice, P1)});
    ops.push_back({"ValuePurpose", TCallKind::Write, nextEntry(&TfmMain::cbValuePurpose, P1)});
    ops.push_back({"Value", TCallKind::Write, [](TfmMain& w) {
                       w.PageControl->setCurrentWidget(w.TabSheet1);
                       QTest::mouseClick(w.sbValue->UpButton(), Qt::LeftButton);
                   }});
    ops.push_back({"AsyncMode", TCallKind::Write, box(&TfmMain::chkAsyncMode, P2)});
    ops.push_back({"DataEventEnabled", TCallKind::Write, box(&TfmMain::chkDataEventEnabled, P2)});
    ops.push_back({"AutoDisable", TCallKind::Write, box(&TfmMain::chkAutoDisable, P2)});
    ops.push_back({"PollingInterval", TCallKind::Write, nextEntry(&TfmMain::cbPollingInterval, P2)});
    ops.push_back({"WeightStep", TCallKind::Write, [](TfmMain& w) {
                       w.PageControl->setCurrentWidget(w.TabSheet2);
                       QTest::mouseClick(w.sbWeightStep->UpButton(), Qt::LeftButton);
                   }});
    // Methods.
    ops.push_back({"ReadWeight", TCallKind::Call, button(&TfmMain::btnReadWeight, P1)});
    ops.push_back({"Zero", TCallKind::Call, button(&TfmMain::btnZero, P1)});
    ops.push_back({"Tare", TCallKind::Call, button(&TfmMain::btnTare, P1)});
    ops.push_back({"SetTare", TCallKind::Call, button(&TfmMain::btnSetTareWeight, P1)});
    ops.push_back({"GetDeviceMetrics", TCallKind::Call, report});
    ops.push_back({"ReadValue", TCallKind::Call, button(&TfmMain::btnGetValue, P1)});
    ops.push_back({"WriteValue", TCallKind::Call, button(&TfmMain::btnSetValue, P1)});
    ops.push_back({"Reset", TCallKind::Call, button(&TfmMain::btnReset, P1)});
    ops.push_back({"ShowProperties", TCallKind::Call, button(&TfmMain::btnProperties, P1)});
    ops.push_back({"GenerateEvent", TCallKind::Call, button(&TfmMain::btnGenerateAsyncMessage, P2)});
    ops.push_back({"DeleteEvent", TCallKind::Call, [](TfmMain& w) {
                       w.PageControl->setCurrentWidget(w.TabSheet2);
                       if (!w.chkDeleteEvents->isChecked())
                           QTest::mouseClick(w.chkDeleteEvents, Qt::LeftButton);
                       fakedriver::RaiseDataEvent();
                   }});
    return ops;
}

// While it lives, a modal window that a case opens by mistake (the About window after a read
// that should have failed) is closed, so that the case fails instead of hanging.
class TStrayModalCloser {
public:
    TStrayModalCloser()
    {
        QObject::connect(&FTimer, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        FTimer.start(50);
    }

private:
    QTimer FTimer;
};

bool CanBeRefused(const TOperation& op)
{
    // Reads have no result check, except the driver version.
    return op.Kind != TCallKind::Read || std::string(op.Member) == "DriverVersion";
}

// The next command after a failure: a plain measurement that the driver takes.
void ExpectTheNextCommandWorks(TfmMain& w)
{
    fakedriver::Reset();
    fakedriver::SetReal("Weight", 2.5);
    w.PageControl->setCurrentWidget(w.TabSheet1);
    QTest::mouseClick(w.btnReadWeight, Qt::LeftButton);
    EXPECT_TRUE(reliability::Called("ReadWeight", TCallKind::Call)) << "the next command did not run";
    EXPECT_EQ(w.edtResultCode->text(), "0");
    EXPECT_EQ(w.edtResultDescription->text(), "");
    EXPECT_EQ(w.edtWeight->text(), "2.5");
    for (QPushButton* b : w.CommandButtons())
        EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, EveryDriverOperationThatFailsIsReportedAndTheWindowStaysUsable)
{
    TStrayModalCloser closer;
    for (const TOperation& op : Operations()) {
        for (const TFailure failure :
             {TFailure::StatusWithErrorInfo, TFailure::StatusWithoutErrorInfo, TFailure::RefusedWithResultCode}) {
            if (failure == TFailure::RefusedWithResultCode && !CanBeRefused(op))
                continue;
            SCOPED_TRACE(std::string(op.Member) + ", " + reliability::FailureName(failure));
            fakedriver::Reset();
            Form->UpdateAll();
            const std::string message = reliability::ScriptFailure(op.Member, failure);
            fakedriver::ClearCalls();
            op.Trigger(*Form);
            EXPECT_TRUE(reliability::Called(op.Member, op.Kind)) << "the operation was not made";
            EXPECT_EQ(Text(Form->edtResultDescription), message);
            if (failure == TFailure::RefusedWithResultCode) {
                EXPECT_EQ(Text(Form->edtResultCode), "7");
            }
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
            ExpectTheNextCommandWorks(*Form);
        }
    }
}

// ------------------------------------------------------------------ bad texts in the number fields

TEST_F(MainWindowTest, EveryNumberFieldRefusesBadTextsWritesNothingAndShowsTheDriversValueAgain)
{
    struct TField {
        QLineEdit* TfmMain::*Edit;
        QWidget* TfmMain::*Page;
        bool Integer;
    };
    const TField fields[] = {
        {&TfmMain::edtUnitPrice, &TfmMain::TabSheet1, false},       {&TfmMain::edtTareWeight, &TfmMain::TabSheet1, false},
        {&TfmMain::edtValue, &TfmMain::TabSheet1, true},            {&TfmMain::edtWeightStep, &TfmMain::TabSheet2, false},
        {&TfmMain::edtUnitPriceAsync, &TfmMain::TabSheet2, false}, {&TfmMain::edtAsyncTareWeight, &TfmMain::TabSheet2, false},
    };
    fakedriver::SetLong("ResultCode", 4);
    fakedriver::SetMoney("UnitPrice", 25000);
    fakedriver::SetReal("TareWeight", 0.25);
    fakedriver::SetLong("Value", 17);
    fakedriver::SetReal("WeightStep", 1.5);
    for (const char separator : {'.', ','}) {
        runtime::FormatSettings().DecimalSeparator = separator;
        Form->UpdateAll();
        for (const TField& f : fields) {
            QLineEdit* edit = (*Form).*f.Edit;
            ShowPage((*Form).*f.Page);
            const QString shown = edit->text();
            for (const std::string& bad : reliability::BadNumberTexts(separator, f.Integer)) {
                SCOPED_TRACE(edit->objectName().toStdString() + " with '" + separator + "': \"" + bad.substr(0, 40) + "\"");
                QTest::mouseClick(edit, Qt::LeftButton);
                fakedriver::ClearCalls();
                edit->setText(QString::fromStdString(bad)); // as pasted
                QTest::keyClick(edit, Qt::Key_Tab);
                EXPECT_EQ(Text(Form->edtResultDescription), reliability::NotANumberMessage(bad, f.Integer));
                EXPECT_EQ(Text(Form->edtResultCode), "4");
                EXPECT_EQ(edit->text(), shown) << "the driver's value is shown again";
                for (const auto& call : Log())
                    EXPECT_NE(call.rfind("put ", 0), 0u) << call;
            }
        }
    }
}

// ------------------------------------------------------------------ odd texts from the driver

// The result fields and the device report show what the driver handed over; a lone surrogate
// shows as U+FFFD.
void ExpectTheDriverTextShown(TfmMain& w, const reliability::TDriverText& t)
{
    fakedriver::Reset();
    fakedriver::SetText("ResultDescription", t.Text);
    fakedriver::SetText("DeviceName", t.Text);
    QTest::mouseClick(w.btnGetDeviceMetrics, Qt::LeftButton);
    EXPECT_EQ(w.edtResultDescription->text().toStdString(), t.Shown)
        << "shown " << w.edtResultDescription->text().size() << " characters of " << t.Text.size();
    const auto& lines = w.Memo->Lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[6], "\"" + t.Shown + "\"") << "the device name's line";
    // An error carrying the text reaches the result fields the same way.
    fakedriver::ScriptFailure("ReadWeight", E_FAIL, runtime::Utf16ToUtf8(t.Text), true);
    QTest::mouseClick(w.btnReadWeight, Qt::LeftButton);
    EXPECT_EQ(w.edtResultDescription->text().toStdString(), t.Shown.empty() ? reliability::SystemText(E_FAIL) : t.Shown);
}

TEST_F(MainWindowTest, EmptyAndMalformedDriverTextsAreShown)
{
    for (const auto& t : reliability::OddDriverTexts()) {
        if (t.Text.size() > 32767)
            continue; // below
        SCOPED_TRACE(t.Name);
        ExpectTheDriverTextShown(*Form, t);
    }
}

// Qt's default maxLength (32767) would cut a longer text from the driver in the result fields.
TEST_F(MainWindowTest, AHugeDriverTextIsShownWhole)
{
    for (const auto& t : reliability::OddDriverTexts()) {
        if (t.Text.size() <= 32767)
            continue;
        SCOPED_TRACE(t.Name);
        ExpectTheDriverTextShown(*Form, t);
    }
}

} // namespace

namespace reliability {
std::vector<TOperationName> MainWindowOperations()
{
    std::vector<TOperationName> names;
    for (const auto& op : Operations())
        names.push_back({op.Member, op.Kind});
    return names;
}
} // namespace reliability
