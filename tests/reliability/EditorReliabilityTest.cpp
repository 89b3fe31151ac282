// The device editor while the driver misbehaves: every driver operation it makes failing with a
// status (with and without error info), every write and method refused with a result code; its
// number fields against bad texts; driver texts that are empty, huge or not valid UTF-16. Each
// time the editor reports it, writes nothing it should not, and the next change works.
#include "../devices/DevicesTestSupport.h"
#include "ReliabilitySupport.h"

#include "runtime/numtext.h"

#include <QCheckBox>
#include <QClipboard>
#include <QPushButton>

#include <functional>

namespace {

using fakedriver::TCallKind;
using reliability::TFailure;
using testsupport::DevicesTest;

struct TOperation {
    const char* Member;
    TCallKind Kind;
    std::function<void(TfmDevices&)> Trigger;
    // Where the editor shows a failure of this operation (a parameter's or the name's read shows
    // in its own field); nullptr: the editor passes over it by design (the device selectors keep
    // what they showed).
    QLineEdit* TfmDevices::*Shown = &TfmDevices::edtResultDescription;
};

void Enter(QLineEdit* edit, const char* text)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    edit->setText(QString::fromUtf8(text));
    QTest::keyClick(edit, Qt::Key_Return);
}

std::vector<TOperation> Operations()
{
    const auto enter = [](QLineEdit* TfmDevices::*edit, const char* text) {
        return [edit, text](TfmDevices& w) { Enter(w.*edit, text); };
    };
    const auto nextEntry = [](QComboBox* TfmDevices::*list) {
        return [list](TfmDevices& w) {
            (w.*list)->setFocus();
            QTest::keyClick(w.*list, Qt::Key_Down);
        };
    };
    const auto click = [](auto member) { return [member](TfmDevices& w) { QTest::mouseClick(w.*member, Qt::LeftButton); }; };
    // A write of one parameter refreshes everything: the trigger for each read but the parity's.
    const auto refresh = enter(&TfmDevices::edtParity, "2");
    std::vector<TOperation> ops = {
        {"ResultCode", TCallKind::Read, refresh},
        {"ResultDescription", TCallKind::Read, refresh},
        {"CurrentDeviceName", TCallKind::Read, refresh, &TfmDevices::edtDeviceName},
        {"CurrentDeviceIndex", TCallKind::Read, refresh, nullptr},
        {"CurrentDeviceNumber", TCallKind::Read, refresh, nullptr},
        {"DeviceEnabled", TCallKind::Read, refresh},
        {"DeviceCount", TCallKind::Read, refresh, &TfmDevices::edtDeviceCount},
        {"PortNumber", TCallKind::Read, refresh, &TfmDevices::edtPortNumber},
        {"BaudRate", TCallKind::Read, refresh, &TfmDevices::edtBaudRate},
        {"Parity", TCallKind::Read, enter(&TfmDevices::edtPortNumber, "2"), &TfmDevices::edtParity},
        {"Model", TCallKind::Read, refresh, &TfmDevices::edtModelID},
        {"CurrentDeviceIndex", TCallKind::Write, nextEntry(&TfmDevices::cbDeviceIndex)},
        {"CurrentDeviceNumber", TCallKind::Write, nextEntry(&TfmDevices::cbDeviceNumber)},
        {"CurrentDeviceName", TCallKind::Write, enter(&TfmDevices::edtDeviceName, "Склад")},
        {"DeviceEnabled", TCallKind::Write, click(&TfmDevices::chkDeviceEnabled)},
        {"PortNumber", TCallKind::Write, enter(&TfmDevices::edtPortNumber, "3")},
        {"BaudRate", TCallKind::Write, enter(&TfmDevices::edtBaudRate, "7")},
        {"Parity", TCallKind::Write, enter(&TfmDevices::edtParity, "2")},
        {"Model", TCallKind::Write, enter(&TfmDevices::edtModelID, "5")},
        {"AddDevice", TCallKind::Call, click(&TfmDevices::btnAdd)},
        {"DeleteDevice", TCallKind::Call, click(&TfmDevices::btnDelete)},
    };
    return ops;
}

// Three devices, so that the selectors have entries to move to.
void ScriptDevices()
{
    fakedriver::SetLong("DeviceCount", 3);
    fakedriver::SetLong("CurrentDeviceNumber", 1);
    fakedriver::SetTextUtf8("CurrentDeviceName", "Весы 1");
}

void ExpectTheNextChangeWorks(TfmDevices& w)
{
    fakedriver::Reset();
    ScriptDevices();
    fakedriver::ClearCalls();
    Enter(w.edtPortNumber, "9");
    EXPECT_TRUE(reliability::Called("PortNumber", TCallKind::Write)) << "the next change was not written";
    EXPECT_EQ(w.edtResultCode->text(), "0");
    EXPECT_EQ(w.edtPortNumber->text(), "9");
    EXPECT_TRUE(w.isVisible());
}

TEST_F(DevicesTest, EveryDriverOperationThatFailsIsReportedAndTheEditorStaysUsable)
{
    for (const TOperation& op : Operations()) {
        for (const TFailure failure :
             {TFailure::StatusWithErrorInfo, TFailure::StatusWithoutErrorInfo, TFailure::RefusedWithResultCode}) {
            if (failure == TFailure::RefusedWithResultCode && op.Kind == TCallKind::Read)
                continue; // reads have no result check
            SCOPED_TRACE(std::string(op.Member) + (op.Kind == TCallKind::Read ? " read, " : ", ") +
                         reliability::FailureName(failure));
            // Leaving the field of the case before writes it: done before the failure is scripted.
            Form->btnClose->setFocus();
            fakedriver::Reset();
            ScriptDevices();
            Form->UpdateAll();
            const std::string message = reliability::ScriptFailure(op.Member, failure);
            fakedriver::ClearCalls();
            op.Trigger(*Form);
            EXPECT_TRUE(reliability::Called(op.Member, op.Kind)) << "the operation was not made";
            if (op.Shown) {
                EXPECT_EQ(((*Form).*op.Shown)->text().toStdString(), message);
            }
            if (failure == TFailure::RefusedWithResultCode) {
                EXPECT_EQ(Form->edtResultCode->text(), "7");
            }
            ExpectTheNextChangeWorks(*Form);
        }
    }
}

// ------------------------------------------------------------------ bad texts in the number fields

TEST_F(DevicesTest, EveryNumberFieldRefusesBadTextsWritesNothingAndShowsTheDriversValueAgain)
{
    QLineEdit* const fields[] = {Form->edtPortNumber, Form->edtBaudRate, Form->edtParity, Form->edtModelID};
    fakedriver::SetLong("ResultCode", 9);
    fakedriver::SetLong("PortNumber", 3);
    fakedriver::SetLong("BaudRate", 14);
    fakedriver::SetLong("Parity", 2);
    fakedriver::SetLong("Model", 11);
    struct TRestoreSeparator {
        char Saved = runtime::FormatSettings().DecimalSeparator;
        ~TRestoreSeparator() { runtime::FormatSettings().DecimalSeparator = Saved; }
    } restore;
    for (const char separator : {'.', ','}) {
        runtime::FormatSettings().DecimalSeparator = separator;
        Form->UpdateAll();
        for (QLineEdit* edit : fields) {
            const QString shown = edit->text();
            for (const std::string& bad : reliability::BadNumberTexts(separator, true)) {
                SCOPED_TRACE(edit->objectName().toStdString() + " with '" + separator + "': \"" + bad.substr(0, 40) + "\"");
                QTest::mouseClick(edit, Qt::LeftButton); // leaves the field before, which writes its value
                fakedriver::ClearCalls();
                edit->setText(QString::fromStdString(bad)); // as pasted
                QTest::keyClick(edit, Qt::Key_Return);
                EXPECT_EQ(Form->edtResultDescription->text().toStdString(), reliability::NotANumberMessage(bad, true));
                EXPECT_EQ(testsupport::Text(Form->edtResultCode), "9");
                EXPECT_EQ(edit->text(), shown) << "the driver's value is shown again";
                for (const auto& call : Log())
                    EXPECT_NE(call.rfind("put ", 0), 0u) << call;
            }
        }
    }
}

TEST_F(DevicesTest, TheNameTakesAPasteOf10000CharactersCutToItsLimitAndAnEmptyNameGoesToTheDriver)
{
    QTest::mouseClick(Form->edtDeviceName, Qt::LeftButton);
    QTest::keyClick(Form->edtDeviceName, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Form->edtDeviceName, Qt::Key_Delete);
    QApplication::clipboard()->setText(QString(10'000, QChar(u'Ж')));
    QTest::keyClick(Form->edtDeviceName, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Form->edtDeviceName->text(), QString(20, QChar(u'Ж')));
    fakedriver::ClearCalls();
    QTest::keyClick(Form->edtDeviceName, Qt::Key_Return);
    EXPECT_TRUE(Logged("put CurrentDeviceName \"" + QString(20, QChar(u'Ж')).toStdString() + "\""));

    // Empty: the driver decides (and its refusal is shown).
    fakedriver::RefuseWrites("CurrentDeviceName");
    fakedriver::ScriptResult("CurrentDeviceName", -3, "Недопустимое значение параметра");
    QTest::keyClick(Form->edtDeviceName, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Form->edtDeviceName, Qt::Key_Delete);
    fakedriver::ClearCalls();
    QTest::keyClick(Form->edtDeviceName, Qt::Key_Return);
    EXPECT_TRUE(Logged("put CurrentDeviceName \"\""));
    EXPECT_EQ(Form->edtResultDescription->text(), testsupport::Q("Недопустимое значение параметра"));
}

// ------------------------------------------------------------------ odd texts from the driver

void ExpectTheDriverTextShown(TfmDevices& w, const reliability::TDriverText& t)
{
    fakedriver::Reset();
    fakedriver::SetText("ResultDescription", t.Text);
    fakedriver::SetText("CurrentDeviceName", t.Text);
    w.UpdateAll();
    EXPECT_EQ(w.edtResultDescription->text().toStdString(), t.Shown)
        << "shown " << w.edtResultDescription->text().size() << " characters of " << t.Text.size();
    EXPECT_EQ(w.edtDeviceName->text().toStdString(), t.Shown)
        << "shown " << w.edtDeviceName->text().size() << " characters of " << t.Text.size();
}

TEST_F(DevicesTest, EmptyAndMalformedDriverTextsAreShown)
{
    for (const auto& t : reliability::OddDriverTexts()) {
        if (t.Text.size() > 32767)
            continue; // below
        SCOPED_TRACE(t.Name);
        ExpectTheDriverTextShown(*Form, t);
    }
}

// Qt's default maxLength (32767) would cut a longer text from the driver in the result
// description and the name field, and leaving the name field would then write the cut name back
// to the driver.
TEST_F(DevicesTest, AHugeDriverNameIsShownWholeAndNeverWrittenBackCut)
{
    for (const auto& t : reliability::OddDriverTexts()) {
        if (t.Text.size() <= 32767)
            continue;
        SCOPED_TRACE(t.Name);
        ExpectTheDriverTextShown(*Form, t);
        QTest::mouseClick(Form->edtDeviceName, Qt::LeftButton);
        fakedriver::ClearCalls();
        QTest::keyClick(Form->edtDeviceName, Qt::Key_Tab);
        for (const auto& call : fakedriver::Calls()) {
            if (call.Member == "CurrentDeviceName" && call.Kind == TCallKind::Write) {
                EXPECT_EQ(call.Argument, "\"" + t.Shown + "\"") << "written back cut";
            }
        }
    }
}

} // namespace

namespace reliability {
std::vector<TOperationName> EditorOperations()
{
    std::vector<TOperationName> names;
    for (const auto& op : Operations())
        names.push_back({op.Member, op.Kind});
    return names;
}
} // namespace reliability
