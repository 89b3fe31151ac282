// A limit on what the operator can type into an edit. Unlike QLineEdit::maxLength, which also cuts
// text that the program sets, it leaves the program's text whole: a longer text set by the program
// is shown and kept as it is, and the operator can still shorten it, but typing or pasting never
// makes the text grow beyond the limit (a paste is cut to what still fits, at a character
// boundary: a character of two UTF-16 units is kept whole or not at all).
#pragma once

class QLineEdit;

namespace forms {

void LimitTyping(QLineEdit* edit, int maxLength);

} // namespace forms
