// Operator input for the editor's tests: typing, retyping an edit, choosing a list entry.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

// Failure messages show a QString as its text.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace testsupport {

inline std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }
inline QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// Types the text key by key (QTest::keyClicks takes ASCII only).
inline void Type(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        const auto key = ch.isLetterOrNumber() && ch.unicode() < 0x80 ? Qt::Key(ch.toUpper().unicode()) : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, widget, key, QString(ch), Qt::NoModifier);
    }
}

// Replaces an edit's text as a user would: click into it, select all, type.
inline void Retype(QLineEdit* edit, const char* text)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    Type(edit, QString::fromUtf8(text));
}

// Chooses the entry with the mouse: opens the list and clicks the entry.
inline void Choose(QComboBox* list, const char* text)
{
    const int index = list->findText(QString::fromUtf8(text));
    ASSERT_GE(index, 0) << text;
    list->showPopup();
    QAbstractItemView* view = list->view();
    const QModelIndex item = view->model()->index(index, list->modelColumn(), view->rootIndex());
    // The list ignores a release that comes right after it opened (the click that opened it).
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    // Scrolled to the entry once the list is open: where the system animates the opening (Windows),
    // the animation sets the list's position itself.
    view->scrollTo(item);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center());
}

} // namespace testsupport
