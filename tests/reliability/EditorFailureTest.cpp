// The device editor while the driver misbehaves: every driver operation it makes failing with a
// status (with and without error info), every write and method refused with a result code; its
// number fields against bad texts; driver texts that are empty, huge or not valid UTF-16. Each
// time the editor reports it, writes nothing it should not, and the next change works.
#include "../devices/DevicesTestSupport.h"
#include "Operations.h"

#include <QCheckBox>
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
