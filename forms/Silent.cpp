#include "forms/Silent.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

namespace forms {

void SetTextSilently(QLineEdit* edit, const std::string& text)
{
    const QString shown = ToQ(text);
    // The same text from its start is already what the edit shows: no new layout and repaint
    // (a refresh rewrites every field, most of them unchanged).
    if (edit->text() == shown && edit->cursorPosition() == 0 && !edit->hasSelectedText() && !edit->isModified())
        return;
    const QSignalBlocker blocker(edit);
    edit->setText(shown);
    // setText leaves the cursor at the end, which scrolls a long text's beginning out of view.
    edit->setCursorPosition(0);
}

void SetCheckedSilently(QCheckBox* box, bool checked)
{
    const QSignalBlocker blocker(box);
    box->setChecked(checked);
}

void SetItemIndexSilently(QComboBox* list, int index)
{
    const QSignalBlocker blocker(list);
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

} // namespace forms
