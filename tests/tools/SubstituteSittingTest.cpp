// A sitting at the bench recorded now against the substitute driver, through the program's own
// windows, replays against the substitute driver without a difference. The sitting goes through
// every command of both pages and of the device editor, a refused operation (a weighing on a
// switched-off device) and data events in asynchronous mode.
//
// PONDERIX_SAVE_SITTING=<file> keeps a copy of the recording: that is how
// data/substitute-sitting.jsonl was made.
#include "../forms/QtTestApp.h"
#include "../devices/EditorFromMain.h"
#include "../devices/EditorInput.h"
#include "../support/ProgramTestSupport.h"
#include "TestEnv.h"

#include "app/DriverTrace.h"
#include "app/fmuMain.h"
#include "devices/fmuDevice.h"
#include "driver/Registration.h"
#include "forms/EditKeys.h"
#include "forms/Spin.h"
#include "runtime/numtext.h"
#include "tools/Replay.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using testsupport::Retype;

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountOf(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

// The operator's choice in a list: the entry, then the list's activation.
void Pick(QComboBox* list, int index)
{
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void Step(forms::TUpDown* spin, int delta)
{
    spin->SetPosition(spin->Position() + delta);
    emit spin->clicked(spin->Position());
}

// Types into the edit and leaves it with Enter, as the operator confirms a value.
void Enter(QLineEdit* edit, const char* text)
{
    Retype(edit, text);
    forms::RunLeaveHandler(edit);
}

// Pumps the events until the recording holds count data events.
bool WaitForEvents(const std::string& path, int count)
{
    for (int waited = 0; waited < 10000; waited += 20) {
        if (CountOf(ReadText(path), "{\"event\":") >= count)
            return true;
        QTest::qWait(20);
    }
    return false;
}

class SubstituteSitting : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSeparator = runtime::FormatSettings().DecimalSeparator;
        runtime::FormatSettings().DecimalSeparator = '.';
        FFolder = testenv::MakeTempFolder("ponderix-sitting-").string();
        testenv::SetVariable("PONDERIX_CLASS_REGISTRY", FFolder + "/classes.reg");
        testenv::SetVariable("TRUTINA_SETTINGS", FFolder + "/recorded.json");
        RegisterServerFile(TRUTINA_MODULE_PATH);
    }
    void TearDown() override
    {
        StopDriverRecording();
        testenv::UnsetVariable("PONDERIX_CLASS_REGISTRY");
        testenv::UnsetVariable("TRUTINA_SETTINGS");
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
        runtime::FormatSettings().DecimalSeparator = FSeparator;
    }

    std::string FFolder;
    char FSeparator = '.';
};

// Longer than the substitute scales take to settle after a power-on (1 s). The replay keeps the
// pace, so the answers that depend on settling are the same.
constexpr int SettleMs = 1300;

void SyncPage(TfmMain& w)
{
    w.PageControl->setCurrentIndex(0);
    QTest::mouseClick(w.btnReadWeight, Qt::LeftButton); // refused: the device is switched off
    QTest::mouseClick(w.chkDeviceEnabled, Qt::LeftButton);
    QTest::qWait(SettleMs); // the scales settle after they are switched on
    QTest::mouseClick(w.btnReadWeight, Qt::LeftButton);
    QTest::mouseClick(w.btnZero, Qt::LeftButton);
    QTest::mouseClick(w.btnTare, Qt::LeftButton);
    Enter(w.edtTareWeight, "0.1");
    QTest::mouseClick(w.btnSetTareWeight, Qt::LeftButton);
    QTest::mouseClick(w.btnGetDeviceMetrics, Qt::LeftButton);
    w.piClear->trigger();
    Enter(w.edtUnitPrice, "12.34");
    QTest::mouseClick(w.chkUpdatePrice, Qt::LeftButton);
    Pick(w.cbValuePurpose, 2); // sleep mode
    QTest::mouseClick(w.btnGetValue, Qt::LeftButton);
    Enter(w.edtValue, "5");
    emit w.sbValue->upClicked();
    emit w.sbValue->downClicked();
    QTest::mouseClick(w.btnSetValue, Qt::LeftButton);
    Enter(w.edtTareWeight, "0");
    QTest::mouseClick(w.btnSetTareWeight, Qt::LeftButton);
}

void AsyncPage(TfmMain& w, const std::string& recording)
{
    w.PageControl->setCurrentIndex(1);
    Pick(w.cbPollingInterval, 4); // 1000 ms: the refreshes of a step come before the next poll
    Enter(w.edtWeightStep, "0.005");
    emit w.sbWeightStep->upClicked();
    emit w.sbWeightStep->downClicked();
    Enter(w.edtUnitPriceAsync, "2.5");
    Enter(w.edtAsyncTareWeight, "0");
    QTest::mouseClick(w.chkDataEventEnabled, Qt::LeftButton);
    QTest::mouseClick(w.chkAsyncMode, Qt::LeftButton);
    ASSERT_TRUE(WaitForEvents(recording, 1)) << "the first stable reading raises the data event";
    QTest::mouseClick(w.btnGenerateAsyncMessage, Qt::LeftButton);
    ASSERT_TRUE(WaitForEvents(recording, 2));
    QTest::mouseClick(w.chkDeleteEvents, Qt::LeftButton); // the handler deletes each message from now on
    QTest::mouseClick(w.chkAutoDisable, Qt::LeftButton);
    QTest::mouseClick(w.btnGenerateAsyncMessage, Qt::LeftButton);
    ASSERT_TRUE(WaitForEvents(recording, 3));
    QTest::mouseClick(w.btnUpdate, Qt::LeftButton);
    QTest::mouseClick(w.chkAsyncMode, Qt::LeftButton);
    QTest::mouseClick(w.chkDeleteEvents, Qt::LeftButton);
}

void DeviceEditor(TfmDevices& d)
{
    QTest::mouseClick(d.btnAdd, Qt::LeftButton);
    QTest::qWait(SettleMs);
    Enter(d.edtDeviceName, "Склад №2");
    Pick(d.cboPortNumber, 2);
    Step(d.udPortNumber, +1);
    Enter(d.edtPortNumber, "7");
    Pick(d.cboBaudRate, 1);
    Step(d.udBaudRate, +1);
    Enter(d.edtBaudRate, "5");
    Pick(d.cboParity, 1);
    Step(d.udParity, -1);
    Enter(d.edtParity, "2");
    Pick(d.cboModelID, 0);
    Step(d.udModelID, +1);
    Enter(d.edtModelID, "11");
    QTest::mouseClick(d.chkDeviceEnabled, Qt::LeftButton);
    Pick(d.cbDeviceIndex, 0);
    Pick(d.cbDeviceNumber, 1);
    QTest::mouseClick(d.btnDelete, Qt::LeftButton);
    QTest::mouseClick(d.btnAdd, Qt::LeftButton);
    QTest::mouseClick(d.btnDelete, Qt::LeftButton);
}

TEST_F(SubstituteSitting, ARecordedSittingReplaysWithoutADifference)
{
    const std::string recording = FFolder + "/sitting.jsonl";
    StartDriverRecording(recording);
    {
        TfmMain main(testsupport::NoAsk);
        ASSERT_TRUE(testsupport::ShowActive(&main));
        SyncPage(main);
        AsyncPage(main, recording);
        QTest::mouseClick(main.chkLockDevices, Qt::LeftButton);
        QTest::mouseClick(main.chkLockDevices, Qt::LeftButton);
        ASSERT_TRUE(testsupport::WorkInEditorFromMain(main, DeviceEditor));
        main.PageControl->setCurrentIndex(0);
        QTest::mouseClick(main.btnReset, Qt::LeftButton); // last: the scales are unsettled after it
        QTest::mouseClick(main.chkDeviceEnabled, Qt::LeftButton);
    }
    StopDriverRecording();

    const std::string text = ReadText(recording);
    EXPECT_GE(CountOf(text, "{\"get\":\"ResultCode\",\"value\":-2}"), 1) << "a refused operation";
    EXPECT_EQ(CountOf(text, "{\"event\":\"DataEvent\"}"), 3);
    if (const char* keep = std::getenv("PONDERIX_SAVE_SITTING"); keep && *keep)
        std::ofstream(keep, std::ios::binary) << text;

    // The replay starts from the driver's defaults, as the sitting did.
    testenv::SetVariable("TRUTINA_SETTINGS", FFolder + "/replayed.json");
    std::ostringstream out, err;
    const int code = replay::Run({recording, "--module", TRUTINA_MODULE_PATH}, out, err);
    EXPECT_EQ(code, 0) << out.str() << err.str();
    EXPECT_NE(out.str().find(" passed, 0 failed"), std::string::npos) << out.str();
}

} // namespace
