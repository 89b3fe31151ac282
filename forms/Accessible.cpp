#include "forms/Accessible.h"

#include "forms/Controls.h"
#include "forms/Spin.h"

#include <QAccessibleWidget>

namespace forms {
namespace {

// A check box the user cannot change: its state and caption, read-only, no toggle action.
class TStatusFlagAccessible : public QAccessibleWidget {
public:
    explicit TStatusFlagAccessible(TStatusFlag* flag) : QAccessibleWidget(flag, QAccessible::CheckBox) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const auto* flag = static_cast<const TStatusFlag*>(widget());
        state.checkable = true;
        state.checked = flag->isChecked();
        state.readOnly = true;
        state.editable = false;
        state.focusable = false;
        return state;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const TStatusFlag*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* Factory(const QString& className, QObject* object)
{
    if (className == QLatin1String(TStatusFlag::staticMetaObject.className()))
        return new TStatusFlagAccessible(static_cast<TStatusFlag*>(object));
    // The pair's name is its field's (set by the window); its two arrows carry their own.
    if (className == QLatin1String(TSpinButton::staticMetaObject.className()) ||
        className == QLatin1String(TUpDown::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::SpinBox);
    return nullptr;
}

} // namespace

void InstallAccessibleControls()
{
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

} // namespace forms
