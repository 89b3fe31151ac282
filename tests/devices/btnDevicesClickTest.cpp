// "Работа с ЛУ" on the main window over the fake driver: the editor opens modally over the main
// window's wrapper, the main window refreshes afterwards, and its exception handler is back.
#include "DevicesTestSupport.h"
#include "EditorFromMain.h"

#include "app/fmuMain.h"

#include <QCheckBox>
#include <QPushButton>

namespace {

using testsupport::NoAsk;
using testsupport::Q;
using testsupport::Text;

class DevicesButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakedriver::SetTextUtf8("ResultDescription", "Ошибок нет");
        Main = std::make_unique<TfmMain>(NoAsk);
        ASSERT_TRUE(testsupport::ShowActive(Main.get()));
        fakedriver::ClearCalls();
    }
    void TearDown() override { Main.reset(); }

    static std::vector<std::string> Log() { return fakedriver::CallTexts(); }

    TFakeDriverEnvironment Environment;
    std::unique_ptr<TfmMain> Main;
};

TEST_F(DevicesButtonTest, MainWindowShowsWhatTheEditorLeftInTheDriver)
{
    ASSERT_FALSE(Main->chkDeviceEnabled->isChecked());
    ASSERT_TRUE(testsupport::WorkInEditorFromMain(*Main, [&](TfmDevices& editor) {
        // No command frame: nothing disabled, the result fields kept.
        EXPECT_TRUE(Main->btnDevices->isEnabled());
        EXPECT_EQ(Main->edtResultDescription->text(), Q("Ошибок нет"));
        EXPECT_EQ(forms::Application()->OnException().Target(), &editor);
        QTest::mouseClick(editor.chkDeviceEnabled, Qt::LeftButton);
    }));

    const auto log = Log();
    const auto put = std::find(log.begin(), log.end(), "put DeviceEnabled -1");
    ASSERT_NE(put, log.end());
    // The main window's own refresh (the only reader of LockDevices) comes after the editor's.
    EXPECT_NE(std::find(put, log.end(), "get LockDevices"), log.end());
    EXPECT_EQ(log.back(), "get DataEventEnabled") << "the main window's refresh ran last";
    EXPECT_TRUE(Main->chkDeviceEnabled->isChecked());
    EXPECT_EQ(forms::Application()->OnException().Target(), Main.get());
}

TEST_F(DevicesButtonTest, FailedOpeningIsReportedInTheMainWindowAfterItsRefresh)
{
    fakedriver::ScriptFailure("DeviceEnabled", E_FAIL, "Нет связи с весами", true);
    fakedriver::SetLong("ResultCode", 17);
    bool shown = false;
    testsupport::WhenReady(
        [&] {
            if (auto* editor = testsupport::ActiveModal<TfmDevices>()) {
                shown = true;
                editor->close();
                return true;
            }
            return false;
        },
        20, 300);
    QTest::mouseClick(Main->btnDevices, Qt::LeftButton);
    QTest::qWait(350);
    EXPECT_FALSE(shown);
    EXPECT_EQ(Main->edtResultDescription->text(), Q("Нет связи с весами"));
    EXPECT_EQ(Text(Main->edtResultCode), "17") << "the code of the main window's refresh";
    EXPECT_EQ(Log().back(), "get DataEventEnabled");
    EXPECT_EQ(forms::Application()->OnException().Target(), Main.get());
}

} // namespace
