// What the windows share for building themselves: the standard font, absolute placing, and the
// multi-line edit with its list of lines.
#pragma once

#include <QCheckBox>
#include <QFont>
#include <QPlainTextEdit>

#include <initializer_list>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace forms {

// "MS Sans Serif" 8 pt, falling back to the platform's sans-serif face.
QFont StandardFont();
// font in the first installed face, of its own faces and then the standard font's, that draws
// every writing system of text (Latin, Cyrillic), so that no run of it (a path in a Russian
// sentence) is drawn in a fallback face of its own; font as it is when no face does.
QFont FontForText(QFont font, const QString& text);

// Places a control at left, top, width, height (pixels at 96 dpi) in its parent.
template <typename T>
T* Place(T* control, int left, int top, int width, int height)
{
    control->setGeometry(left, top, width, height);
    return control;
}

// A single-line edit placed at left, top, width, height that shows any text the program sets whole:
// Qt's default maxLength (32767) would cut a longer driver text, and an edit that is written back
// on leave would then write the cut text to the driver. A limit on what the operator types is
// LimitTyping's (forms/TypingLimit.h), never maxLength.
QLineEdit* MakeEdit(QWidget* parent, int left, int top, int width, int height);

// Sets the Tab order of the controls, in the order given.
void SetTabOrder(std::initializer_list<QWidget*> order);

// A label sized to its text, its top-left corner at left, top.
QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top);

// A check box that only shows a state the program sets: it takes neither the focus nor the mouse,
// is drawn as an ordinary box (not greyed) and tells assistive technology it is read-only.
class TStatusFlag : public QCheckBox {
    Q_OBJECT
public:
    TStatusFlag(const QString& caption, QWidget* parent);
};

// Gives the list a narrower drop-down arrow than the platform style draws, so that its entries
// fit lists laid out for the classic arrow; the list keeps its place and size.
void UseCompactDropDown(QComboBox* list);

// Makes each label the buddy of its field, so that the field is read out with the label's caption
// (and the label's mnemonic, if any, focuses the field). Label and field share a parent.
struct TLabelled {
    QLabel* Label;
    QWidget* Field;
};
void NameByLabels(std::initializer_list<TLabelled> pairs);

// A multi-line edit that holds its text as a list of lines, each kept exactly as added (a carriage
// return inside a line is kept in the line and not shown). It keeps the Escape key for itself, so
// the window's Escape shortcut does not fire while it has the focus.
class TMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TMemo(QWidget* parent = nullptr);

    const std::vector<std::string>& Lines() const { return FLines; }
    void AddLine(const std::string& line);
    void ClearLines();

protected:
    bool event(QEvent* event) override;

private:
    std::vector<std::string> FLines;
};

} // namespace forms
