// Against the substitute driver Trutina.dll: what the operator does in the device editor is still
// there after the program starts again (a new main window with a new driver object, which reads
// the driver's settings file afresh).
#include "../forms/QtTestApp.h"
#include "EditorFromMain.h"
#include "EditorInput.h"
#include "../support/ProgramTestSupport.h"
#include "TestEnv.h"

#include "app/fmuMain.h"
#include "devices/fmuDevice.h"
#include "driver/Registration.h"
#include "platform/module.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace {

using testsupport::Choose;
using testsupport::Retype;

// A temporary class registry with Trutina.dll registered, and a temporary settings file.
class TSubstituteDriver {
public:
    TSubstituteDriver()
    {
        FFolder = testenv::MakeTempFolder("ponderix-devices-").string();
        FPreviousRegistry = Replace("PONDERIX_CLASS_REGISTRY", FFolder + "/classes.reg");
        FPreviousSettings = Replace("TRUTINA_SETTINGS", FFolder + "/trutina.json");
        RegisterServerFile(TRUTINA_MODULE_PATH);
    }
    ~TSubstituteDriver()
    {
#ifdef _WIN32
        UnregisterServerFile(); // the system registry outlives the test
#endif
        Restore("PONDERIX_CLASS_REGISTRY", FPreviousRegistry);
        Restore("TRUTINA_SETTINGS", FPreviousSettings);
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }
    bool SettingsWritten() const { return std::filesystem::exists(FFolder + "/trutina.json"); }

private:
    static std::optional<std::string> Replace(const char* name, const std::string& value)
    {
        std::optional<std::string> previous;
        if (const char* v = std::getenv(name))
            previous = v;
        testenv::SetVariable(name, value);
        return previous;
    }
    static void Restore(const char* name, const std::optional<std::string>& previous)
    {
        if (previous)
            testenv::SetVariable(name, *previous);
        else
            testenv::UnsetVariable(name);
    }
    static void UnregisterServerFile()
    {
        platform::Module module(TRUTINA_MODULE_PATH);
        if (auto unregister = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(module.Symbol("DllUnregisterServer")))
            unregister();
    }

    std::string FFolder;
    std::optional<std::string> FPreviousRegistry;
    std::optional<std::string> FPreviousSettings;
};

using testsupport::NoAsk;

// One run of the program: a main window over a new driver object; "Работа с ЛУ" opens the editor,
// in which work runs, then "Закрыть".
void RunProgram(const std::function<void(TfmDevices&)>& work)
{
    TfmMain main(NoAsk);
    ASSERT_TRUE(testsupport::ShowActive(&main));
    EXPECT_TRUE(testsupport::WorkInEditorFromMain(main, work)) << "the editor did not open";
}

TEST(DevicesPersistenceTest, AddedRenamedAndDeletedDevicesOutliveTheProgram)
{
    TSubstituteDriver driver;
    const QString name = QString::fromUtf8("Склад №2");

    RunProgram([&](TfmDevices& editor) {
        EXPECT_EQ(editor.edtDeviceCount->text(), "1");
        QTest::mouseClick(editor.btnAdd, Qt::LeftButton);
        EXPECT_EQ(editor.edtResultCode->text(), "0") << editor.edtResultDescription->text().toStdString();
        EXPECT_EQ(editor.edtDeviceCount->text(), "2");
        EXPECT_EQ(editor.cbDeviceNumber->currentText(), "2") << "the new device is current";
        Retype(editor.edtDeviceName, "Склад №2");
        QTest::keyClick(editor.edtDeviceName, Qt::Key_Return);
        EXPECT_EQ(editor.edtResultCode->text(), "0") << editor.edtResultDescription->text().toStdString();
        Choose(editor.cboPortNumber, "COM 7");
        EXPECT_EQ(editor.edtPortNumber->text(), "7");
    });
    EXPECT_TRUE(driver.SettingsWritten());

    RunProgram([&](TfmDevices& editor) {
        EXPECT_EQ(editor.edtDeviceCount->text(), "2");
        Choose(editor.cbDeviceNumber, "1");
        EXPECT_NE(editor.edtDeviceName->text(), name);
        Choose(editor.cbDeviceNumber, "2");
        EXPECT_EQ(editor.edtDeviceName->text(), name);
        EXPECT_EQ(editor.cboPortNumber->currentText(), "COM 7");
        QTest::mouseClick(editor.btnDelete, Qt::LeftButton);
        EXPECT_EQ(editor.edtResultCode->text(), "0") << editor.edtResultDescription->text().toStdString();
        EXPECT_EQ(editor.edtDeviceCount->text(), "1");
    });

    RunProgram([&](TfmDevices& editor) {
        EXPECT_EQ(editor.edtDeviceCount->text(), "1");
        EXPECT_NE(editor.edtDeviceName->text(), name);
        Choose(editor.cbDeviceNumber, "2");
        EXPECT_NE(editor.edtResultCode->text(), "0") << "device 2 is gone";
        EXPECT_NE(editor.edtDeviceName->text(), name);
    });
}

} // namespace
