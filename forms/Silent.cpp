#include "forms/Silent.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

namespace forms {

void SetTextSilently(QLineEdit* edit, const std::string& text)
{
    const QSignalBlocker blocker(edit);
    edit->setText(ToQ(text));
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
