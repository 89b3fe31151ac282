// "О программе" in the main window over the fake driver: the two version lines, the driver's
// refusal landing in the result fields, and no command frame around it.
#include "about/fmuAbout.h"
#include "app/fmuMain.h"
#include "forms/Application.h"
#include "platform/resources.h"
#include "platform/versioninfo.h"
#include "runtime/exceptions.h"

#include "../forms/QtTestApp.h"
#include "FakeDriverFixture.h"
#include "../support/ProgramTestSupport.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using testsupport::ActiveModal;
using testsupport::WhenReady;

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

using testsupport::NoAsk;

class AboutButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::UnregisterProgramResource(platform::RT_VERSION_ID, 1);
        Form = std::make_unique<TfmMain>(NoAsk);
        ASSERT_TRUE(testsupport::ShowActive(Form.get()));
        fakedriver::ClearCalls();
    }
    void TearDown() override
    {
        Form.reset();
        platform::UnregisterProgramResource(platform::RT_VERSION_ID, 1);
    }

    void RegisterVersion(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d)
    {
        FVersion = platform::BuildVersionInfo(a, b, c, d);
        platform::RegisterProgramResource(platform::RT_VERSION_ID, 1, FVersion.data(), FVersion.size());
    }

    struct TSeen {
        bool Opened = false;
        QString Title;
        QStringList Lines;
        QWidget* Parent = nullptr;
        bool ButtonsEnabled = false;
        std::vector<std::string> CallsWhileOpen;
    };

    // Clicks "О программе"; an About window that opens is looked at and closed with closeKey.
    TSeen ClickAbout(Qt::Key closeKey = Qt::Key_Return)
    {
        TSeen seen;
        WhenReady([&] {
            TfmAbout* about = ActiveModal<TfmAbout>();
            if (!about)
                return false;
            seen.Opened = true;
            seen.Title = about->NameLabel->text();
            for (int i = 0; i < about->lbVersion->count(); ++i)
                seen.Lines << about->lbVersion->item(i)->text();
            seen.Parent = about->parentWidget();
            seen.ButtonsEnabled = true;
            for (QPushButton* button : Form->CommandButtons())
                seen.ButtonsEnabled = seen.ButtonsEnabled && button->isEnabled();
            seen.CallsWhileOpen = fakedriver::CallTexts();
            QTest::keyClick(about, closeKey);
            return true;
        }, 20, 500);
        QTest::mouseClick(Form->btnAbout, Qt::LeftButton);
        // Outlasts the watch, so that it never looks at a later test's window: a window that
        // should not have opened would be seen and closed meanwhile.
        QTest::qWait(600);
        return seen;
    }

    TFakeDriverEnvironment Environment;
    std::unique_ptr<TfmMain> Form;

private:
    std::vector<std::uint8_t> FVersion;
};

TEST_F(AboutButtonTest, ShowsTheTestsAndTheDriversVersionAboveTheMainWindow)
{
    RegisterVersion(6, 0, 0, 2);
    fakedriver::SetTextUtf8("DriverVersion", "2.5.0.77 бета");
    const TSeen seen = ClickAbout();
    ASSERT_TRUE(seen.Opened);
    EXPECT_EQ(seen.Title, Text("Электронные весы"));
    EXPECT_EQ(seen.Lines, (QStringList{Text("Версия теста: 6.0.0.2"), Text("Версия драйвера: 2.5.0.77 бета")}));
    EXPECT_EQ(seen.Parent, Form.get());
}

TEST_F(AboutButtonTest, WithoutAVersionResourceAndAnEmptyDriverVersion)
{
    fakedriver::SetTextUtf8("DriverVersion", "");
    const TSeen seen = ClickAbout();
    ASSERT_TRUE(seen.Opened);
    EXPECT_EQ(seen.Lines, (QStringList{Text("Версия теста: 0.0.0.0"), Text("Версия драйвера: ")}));
}

TEST_F(AboutButtonTest, IsNotACommandButtonsStayEnabledResultAndValuesAreNotTouched)
{
    Form->edtResultCode->setText("keep");
    Form->edtResultDescription->setText("me");
    const TSeen seen = ClickAbout();
    ASSERT_TRUE(seen.Opened);
    EXPECT_TRUE(seen.ButtonsEnabled);
    const std::vector<std::string> versionRead = {"get DriverVersion", "get ResultCode"};
    EXPECT_EQ(seen.CallsWhileOpen, versionRead) << "the version read and its result check";
    EXPECT_EQ(fakedriver::CallTexts(), versionRead) << "no refresh after it";
    EXPECT_EQ(Form->edtResultCode->text(), "keep");
    EXPECT_EQ(Form->edtResultDescription->text(), "me");
}

TEST_F(AboutButtonTest, EscapeClosesOnlyTheAboutWindow)
{
    // Escape in the main window closes the program; in the About window only the About window.
    const TSeen seen = ClickAbout(Qt::Key_Escape);
    ASSERT_TRUE(seen.Opened);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(QApplication::topLevelWidgets().contains(Form.get()));
}

TEST_F(AboutButtonTest, ARefusedVersionReadOpensNoWindowAndShowsTheCodeAndText)
{
    RegisterVersion(6, 0, 0, 2);
    fakedriver::SetTextUtf8("DriverVersion", "2.5");
    fakedriver::ScriptResult("DriverVersion", -12, "Нет связи с весами");
    const TSeen seen = ClickAbout();
    EXPECT_FALSE(seen.Opened);
    EXPECT_EQ(Form->edtResultCode->text(), "-12");
    EXPECT_EQ(Form->edtResultDescription->text(), Text("Нет связи с весами"));
    for (QPushButton* button : Form->CommandButtons())
        EXPECT_TRUE(button->isEnabled());
}

TEST_F(AboutButtonTest, AFailedVersionCallLandsInTheResultFields)
{
    fakedriver::ScriptFailure("DriverVersion", E_FAIL, std::string("Сбой вызова"));
    const TSeen seen = ClickAbout();
    EXPECT_FALSE(seen.Opened);
    EXPECT_EQ(Form->edtResultDescription->text(), Text("Сбой вызова"));
}

} // namespace
