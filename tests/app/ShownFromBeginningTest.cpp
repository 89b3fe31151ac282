// A text the program sets into an edit is shown from its beginning (the cursor at its start), as a
// native edit shows it: long driver texts, long numbers and error messages keep their start and
// their sign in view.
#include "WindowsTestSupport.h"

#include <QLineEdit>

namespace {

using testsupport::ThreeWindowsTest;

class ShownFromBeginningTest : public ThreeWindowsTest {
protected:
    void Script() override
    {
        const std::string longText(120, 'x');
        fakedriver::SetTextUtf8("ResultDescription", "Начало: " + longText);
        fakedriver::SetReal("Weight", -123456789.123456);
        fakedriver::SetReal("TareWeight", -987654321.654321);
        fakedriver::SetMoney("UnitPrice", -1234567890123456LL);
        fakedriver::SetMoney("SalesPrice", -1234567890123456LL);
        fakedriver::SetLong("Value", -2147483647);
        fakedriver::SetReal("WeightStep", -123456789.5);
        fakedriver::SetLong("EventNumber", -2147483647);
        fakedriver::SetLong("DataCount", -2147483647);
        fakedriver::SetTextUtf8("CurrentDeviceName", "Название: " + longText);
        fakedriver::SetLong("DeviceCount", -2147483647);
        for (const char* member : {"PortNumber", "BaudRate", "Parity", "Model"})
            fakedriver::SetLong(member, -2147483647);
    }
};

TEST_F(ShownFromBeginningTest, EveryEditTheWindowsFillShowsItsBeginning)
{
    int filled = 0;
    for (QWidget* window : {static_cast<QWidget*>(Form.get()), static_cast<QWidget*>(Editor.get())})
        for (QLineEdit* edit : window->findChildren<QLineEdit*>()) {
            if (edit->text().isEmpty() || edit->parentWidget()->inherits("QComboBox"))
                continue;
            ++filled;
            EXPECT_EQ(edit->cursorPosition(), 0) << edit->text().toStdString();
        }
    EXPECT_EQ(filled, 14 + 8) << "the main window's and the editor's edits all filled";
}

TEST_F(ShownFromBeginningTest, AnErrorAfterEnterIsShownFromItsBeginning)
{
    Editor.reset(); // the main window's handler is the current one again
    Retype(Form->edtUnitPrice, "1234567890123456789012345678901234567890_end");
    QTest::keyClick(Form->edtUnitPrice, Qt::Key_Return);
    ASSERT_TRUE(Form->edtResultDescription->text().endsWith(QString::fromUtf8("не является дробным числом")))
        << Text(Form->edtResultDescription);
    EXPECT_EQ(Form->edtResultDescription->cursorPosition(), 0);
    EXPECT_EQ(Form->edtUnitPrice->cursorPosition(), 0) << "the refresh after the failure";
}

} // namespace
