// No clipped text: every caption of a label, button, check box and group box and every entry of a
// list in the three windows fits the room its control gives it, measured in the control's own font
// through the control's own style. Run also at QT_SCALE_FACTOR 1.5 and 2 (see CMakeLists.txt).
#include "WindowsTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>

#include <string>

namespace {

using testsupport::ThreeWindowsTest;

struct TRoom {
    QString Text;
    qreal Width; // pixels the control gives the text
};

QRect ComboTextRect(QComboBox* list)
{
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = list->isEditable();
    option.frame = list->hasFrame();
    // The style draws the entry one pixel in from each side of the edit field.
    return list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list)
        .adjusted(1, 0, -1, 0);
}

// The texts a control shows and the room each has; none for a control that shows no caption.
std::vector<TRoom> Rooms(QWidget* control)
{
    std::vector<TRoom> rooms;
    if (auto* label = qobject_cast<QLabel*>(control)) {
        const int room = label->contentsRect().width() - 2 * qMax(label->margin(), 0);
        for (const QString& line : label->text().split(QLatin1Char('\n')))
            rooms.push_back({line, qreal(room)});
    } else if (auto* button = qobject_cast<QPushButton*>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.features = button->isDefault() ? QStyleOptionButton::DefaultButton : QStyleOptionButton::None;
        rooms.push_back({button->text(),
                         qreal(button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width())});
    } else if (auto* box = qobject_cast<QCheckBox*>(control)) {
        QStyleOptionButton option;
        option.initFrom(box);
        rooms.push_back({box->text(), qreal(box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).width())});
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        rooms.push_back(
            {group->title(),
             qreal(group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group).width())});
    } else if (auto* list = qobject_cast<QComboBox*>(control)) {
        const qreal room = ComboTextRect(list).width();
        for (int i = 0; i < list->count(); ++i)
            rooms.push_back({list->itemText(i), room});
    } else if (auto* box = qobject_cast<QListWidget*>(control)) {
        // The item view keeps a focus-frame margin and one pixel on each side of an item's text.
        const int margin = box->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, box) + 1;
        for (int i = 0; i < box->count(); ++i)
            rooms.push_back({box->item(i)->text(), qreal(box->viewport()->width() - 2 * margin)});
    }
    return rooms;
}

TEST_F(ThreeWindowsTest, EveryCaptionAndListEntryFitsItsControl)
{
    int measured = 0;
    for (QWidget* window : Windows())
        for (QWidget* control : window->findChildren<QWidget*>()) {
            if (control->window() != window || control->isHidden())
                continue;
            const QFontMetricsF metrics(control->font());
            for (const TRoom& room : Rooms(control)) {
                ++measured;
                const qreal width = metrics.horizontalAdvance(room.Text);
                EXPECT_LE(width, room.Width) << control->objectName().toStdString() << " "
                                             << control->metaObject()->className() << " \"" << room.Text.toStdString()
                                             << "\" in " << QFontInfo(control->font()).family().toStdString();
            }
        }
    // Captions and entries of all three windows, lists included (99 + 99 selector entries).
    EXPECT_GT(measured, 300);
}

} // namespace
