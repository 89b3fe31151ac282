// The memo keeps its lines as added and keeps Escape for itself; an edit keeps the program's
// text whole, however long.
#include "forms/Controls.h"
#include "forms/TypingLimit.h"

#include "QtTestApp.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLineEdit>
#include <QShortcut>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(Memo, KeepsLinesAsAddedAndShowsNoCarriageReturn)
{
    forms::TMemo memo;
    memo.AddLine("Название устройства: \r");
    memo.AddLine("\"Весы 1\"");
    ASSERT_EQ(memo.Lines().size(), 2u);
    EXPECT_EQ(memo.Lines()[0], "Название устройства: \r");
    EXPECT_EQ(memo.toPlainText(), QString::fromUtf8("Название устройства: \n\"Весы 1\""));
    memo.ClearLines();
    EXPECT_TRUE(memo.Lines().empty());
    EXPECT_TRUE(memo.toPlainText().isEmpty());
}

TEST(Memo, EscapeInTheMemoDoesNotFireTheWindowShortcut)
{
    QWidget window;
    window.resize(300, 200);
    auto* memo = new forms::TMemo(&window);
    memo->setGeometry(10, 10, 160, 100);
    auto* edit = new QLineEdit(&window);
    edit->setGeometry(10, 120, 100, 21);
    int escapes = 0;
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    QObject::connect(escape, &QShortcut::activated, [&] { ++escapes; });
    ASSERT_TRUE(testsupport::ShowActive(&window));

    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_Escape);
    EXPECT_EQ(escapes, 0);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(escapes, 1);
}

// Qt's default maxLength would cut a text longer than 32767 characters, also one the program
// sets; a typing limit still holds for what the operator types.
TEST(Edit, ShowsTheProgramsTextWholeAndTypingLimitsOnlyTheOperator)
{
    QWidget window;
    window.resize(300, 100);
    auto* edit = forms::MakeEdit(&window, 10, 10, 160, 21);
    auto* limited = forms::MakeEdit(&window, 10, 40, 160, 21);
    forms::LimitTyping(limited, 20);
    ASSERT_TRUE(testsupport::ShowActive(&window));
    const QString huge(100000, QChar(0x0416));
    for (QLineEdit* e : {edit, limited}) {
        e->setText(huge);
        EXPECT_EQ(e->text().size(), huge.size());
        e->setFocus();
        QTest::keyClick(e, Qt::Key_End);
        QTest::keyClicks(e, "ab");
    }
    EXPECT_EQ(edit->text().size(), huge.size() + 2) << "the operator types on";
    EXPECT_EQ(limited->text(), huge) << "typing never makes a text beyond the limit grow";
    limited->setText(QString());
    QTest::keyClicks(limited, QString(25, QLatin1Char('x')));
    EXPECT_EQ(limited->text().size(), 20);
}

// A paste cut to the typing limit keeps characters whole: "a" and ten emoji (21 UTF-16 units)
// into a limit of 20 leaves "a" and nine emoji, not half of the tenth.
TEST(Edit, APasteCutToTheTypingLimitNeverSplitsACharacter)
{
    QWidget window;
    window.resize(300, 100);
    auto* limited = forms::MakeEdit(&window, 10, 10, 160, 21);
    forms::LimitTyping(limited, 20);
    ASSERT_TRUE(testsupport::ShowActive(&window));
    struct Row {
        QString Before, Pasted, After;
    };
    const QString emoji = QString::fromUtf8("😀");
    for (const Row& row : {Row{"", "a" + emoji.repeated(10), "a" + emoji.repeated(9)},
                           Row{"", "a" + emoji.repeated(10) + "b", "a" + emoji.repeated(9)},
                           Row{"x", emoji.repeated(10), "x" + emoji.repeated(9)},
                           Row{"", emoji.repeated(11), emoji.repeated(10)}}) { // a cut between two
        SCOPED_TRACE(row.Pasted.toStdString());
        limited->setText(row.Before);
        limited->setFocus();
        QTest::keyClick(limited, Qt::Key_End);
        QGuiApplication::clipboard()->setText(row.Pasted);
        QTest::keyClick(limited, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(limited->text(), row.After);
    }
}

TEST(StandardFont, AskedForTheClassicFaceAtEightPoints)
{
    const QFont font = forms::StandardFont();
    EXPECT_EQ(font.family(), "MS Sans Serif");
    EXPECT_EQ(font.families().value(1), "Liberation Sans") << "a face of the same proportions next";
    EXPECT_EQ(font.pointSize(), 8);
}

// A face missing here (or without Cyrillic) would leave the Russian runs of a text with a Latin path
// to a fallback face: one installed face is chosen that draws both, at the font's size.
TEST(StandardFont, ATextOfTwoScriptsGetsOneFaceThatDrawsBoth)
{
    if (QFontDatabase::families(QFontDatabase::Cyrillic).isEmpty())
        GTEST_SKIP() << "no installed face draws Cyrillic here (Qt's offscreen platform has no fonts on Windows)";
    QFont missing(QStringLiteral("No Such Face Here"), 11);
    const QFont font = forms::FontForText(missing, QStringLiteral("Зарегистрируйте C:\\Тест\\Trutina.dll, --isolated"));
    const QList<QFontDatabase::WritingSystem> systems = QFontDatabase::writingSystems(font.family());
    EXPECT_TRUE(systems.contains(QFontDatabase::Cyrillic) && systems.contains(QFontDatabase::Latin)) << font.family().toStdString();
    EXPECT_EQ(font.families(), QStringList{font.family()});
    EXPECT_EQ(font.pointSize(), 11);
}

} // namespace
