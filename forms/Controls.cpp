#include "forms/Controls.h"

#include "forms/Accessible.h"
#include "forms/Silent.h"

#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionComplex>

#include <limits>

namespace forms {
namespace {

// The arrow's width in pixels at 96 dpi: room for the style's arrow glyph and no more.
constexpr int CompactArrowWidth = 9;

// The platform style with the drop-down arrow of lists narrowed to CompactArrowWidth; the room
// taken from the arrow goes to the field that shows the entry, which also starts one pixel
// nearer to the frame.
class TCompactListStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override
    {
        const QRect base = QProxyStyle::subControlRect(control, option, sub, widget);
        if (control != CC_ComboBox || (sub != SC_ComboBoxArrow && sub != SC_ComboBoxEditField))
            return base;
        const int cut = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget).width() - CompactArrowWidth;
        if (cut <= 0)
            return base;
        // Both rectangles are in screen order: the arrow is on the left in a right-to-left layout.
        const bool rightToLeft = option->direction == Qt::RightToLeft;
        if (sub == SC_ComboBoxArrow)
            return rightToLeft ? base.adjusted(0, 0, -cut, 0) : base.adjusted(cut, 0, 0, 0);
        return rightToLeft ? base.adjusted(-cut, 0, 1, 0) : base.adjusted(-1, 0, cut, 0);
    }
};

} // namespace

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

QFont FontForText(QFont font, const QString& text)
{
    bool latin = false, cyrillic = false;
    for (const QChar c : text) {
        latin = latin || c.script() == QChar::Script_Latin;
        cyrillic = cyrillic || c.script() == QChar::Script_Cyrillic;
    }
    QStringList faces = font.families();
    faces.prepend(font.family());
    faces += StandardFont().families();
    const QStringList installed = QFontDatabase::families();
    for (const QString& face : faces) {
        if (!installed.contains(face))
            continue;
        const QList<QFontDatabase::WritingSystem> systems = QFontDatabase::writingSystems(face);
        if ((!latin || systems.contains(QFontDatabase::Latin)) && (!cyrillic || systems.contains(QFontDatabase::Cyrillic))) {
            font.setFamilies({face});
            return font;
        }
    }
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

void UseCompactDropDown(QComboBox* list)
{
    // One style for every list of the process, made from the application's style when first
    // needed and owned by the application.
    static QPointer<QStyle> style;
    if (!style) {
        style = new TCompactListStyle(QApplication::style()->name());
        style->setParent(QCoreApplication::instance());
    }
    list->setStyle(style);
}

void NameByLabels(std::initializer_list<TLabelled> pairs)
{
    for (const TLabelled& pair : pairs)
        pair.Label->setBuddy(pair.Field);
}

TStatusFlag::TStatusFlag(const QString& caption, QWidget* parent) : QCheckBox(caption, parent)
{
    InstallAccessibleControls();
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
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
