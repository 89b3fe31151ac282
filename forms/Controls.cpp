#include "forms/Controls.h"

#include "forms/Silent.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include <limits>

namespace forms {

QFont StandardFont()
{
    // Faces with the classic face's proportions first, then the platform's sans-serif.
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void SetTabOrder(std::initializer_list<QWidget*> order)
{
    QWidget* previous = nullptr;
    for (QWidget* control : order) {
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

QLineEdit* MakeEdit(QWidget* parent, int left, int top, int width, int height)
{
    auto* edit = Place(new QLineEdit(parent), left, top, width, height);
    edit->setMaxLength(std::numeric_limits<int>::max());
    return edit;
}

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top)
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {}

void TMemo::AddLine(const std::string& line)
{
    FLines.push_back(line);
    QString shown = ToQ(line);
    shown.remove(QLatin1Char('\r'));
    appendPlainText(shown);
}

void TMemo::ClearLines()
{
    FLines.clear();
    clear();
}

bool TMemo::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            key->accept();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

} // namespace forms
