// Showing a driver value in a control without running the control's change handlers: the
// control's signals are blocked while the value is set and unblocked afterwards, also when
// setting raised.
#pragma once

#include <QString>

#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace forms {

// The edit shows the text from its beginning, as a native edit does.
void SetTextSilently(QLineEdit* edit, const std::string& text);
void SetCheckedSilently(QCheckBox* box, bool checked);
// An index outside the list leaves no entry selected; nothing is raised.
void SetItemIndexSilently(QComboBox* list, int index);

// The program's UTF-8 text at the Qt boundary.
inline QString ToQ(const std::string& text) { return QString::fromStdString(text); }
inline std::string FromQ(const QString& text) { return text.toStdString(); }

} // namespace forms
