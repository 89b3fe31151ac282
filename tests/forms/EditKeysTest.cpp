// Leaving an edit and the value-edit keys, with real focus changes and key presses.
#include "forms/Application.h"
#include "forms/EditKeys.h"

#include "QtTestApp.h"

#include <QLineEdit>
#include <QShortcut>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

class EditKeysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FWindow.setGeometry(100, 100, 300, 100);
        FValueEdit = new QLineEdit(&FWindow);
        FValueEdit->setGeometry(10, 10, 100, 21);
        FOther = new QLineEdit(&FWindow);
        FOther->setGeometry(10, 40, 100, 21);
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &FWindow);
        QObject::connect(escape, &QShortcut::activated, [this] { ++FEscapes; });
        forms::OnLeave(FValueEdit, [this] {
            ++FLeaves;
            FTextSeen = FValueEdit->text();
        });
        ASSERT_TRUE(testsupport::ShowActive(&FWindow));
        FValueEdit->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(FValueEdit->hasFocus());
    }

    QWidget FWindow;
    QLineEdit* FValueEdit = nullptr;
    QLineEdit* FOther = nullptr;
    int FLeaves = 0;
    int FEscapes = 0;
    QString FTextSeen;
};

TEST_F(EditKeysTest, LeavingByTabOrClickRunsTheLeaveHandlerOnce)
{
    QTest::keyClicks(FValueEdit, "12");
    QTest::keyClick(FValueEdit, Qt::Key_Tab);
    EXPECT_TRUE(FOther->hasFocus());
    EXPECT_EQ(FLeaves, 1);
    EXPECT_EQ(FTextSeen, "12");

    QTest::mouseClick(FValueEdit, Qt::LeftButton);
    EXPECT_EQ(FLeaves, 1) << "entering is not leaving";
    QTest::mouseClick(FOther, Qt::LeftButton);
    EXPECT_EQ(FLeaves, 2);
}

TEST_F(EditKeysTest, EnterRunsTheLeaveHandlerAndKeepsTheFocusWhateverTheModifiers)
{
    forms::HandleValueKeys(FValueEdit);
    QTest::keyClicks(FValueEdit, "7");
    for (const auto modifiers : {Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) {
        QTest::keyClick(FValueEdit, Qt::Key_Return, modifiers);
    }
    QTest::keyClick(FValueEdit, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(FLeaves, 5);
    EXPECT_TRUE(FValueEdit->hasFocus());
    EXPECT_EQ(FValueEdit->text(), "7");
}

TEST_F(EditKeysTest, EscapeCharacterNeverReachesTheEditButTheWindowShortcutStillFires)
{
    forms::HandleValueKeys(FValueEdit);
    QTest::keyClicks(FValueEdit, "5");
    QTest::keyClick(FValueEdit, Qt::Key_Escape);
    EXPECT_EQ(FEscapes, 1);
    EXPECT_EQ(FValueEdit->text(), "5");
    EXPECT_EQ(FLeaves, 0);
}

TEST_F(EditKeysTest, WithoutValueKeysEnterWritesNothing)
{
    QTest::keyClicks(FValueEdit, "9");
    QTest::keyClick(FValueEdit, Qt::Key_Return);
    EXPECT_EQ(FLeaves, 0);
}

TEST_F(EditKeysTest, LeaveHandlerExceptionGoesToTheApplicationWithTheEditAsSender)
{
    struct TRecorder : QObject {
        QObject* Sender = nullptr;
        std::string Message;
        void Handle(QObject* s, const runtime::Exception& e) { Sender = s, Message = e.Message(); }
    } recorder;
    const auto saved = forms::Application()->OnException();
    forms::Application()->SetOnException(forms::TExceptionHandler::Bind(&recorder, &TRecorder::Handle));
    forms::OnLeave(FValueEdit, [] { throw runtime::EConvertError("\"\" не является дробным числом"); });
    forms::HandleValueKeys(FValueEdit);
    QTest::keyClick(FValueEdit, Qt::Key_Return);
    forms::Application()->SetOnException(saved);
    EXPECT_EQ(recorder.Sender, FValueEdit);
    EXPECT_EQ(recorder.Message, "\"\" не является дробным числом");
}

TEST_F(EditKeysTest, DetachedEditsRunNoHandler)
{
    forms::HandleValueKeys(FValueEdit);
    forms::DetachEditEvents(&FWindow);
    QTest::keyClick(FValueEdit, Qt::Key_Return);
    QTest::keyClick(FValueEdit, Qt::Key_Tab);
    EXPECT_EQ(FLeaves, 0);
}

} // namespace
