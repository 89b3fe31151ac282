#include "forms/EditKeys.h"

#include "forms/Binding.h"

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace forms {
namespace {

class TEditEvents : public QObject {
public:
    explicit TEditEvents(QLineEdit* edit) : QObject(edit), FEdit(edit) { edit->installEventFilter(this); }

    std::function<void()> Leave;
    bool ValueKeys = false;

    void RunLeave()
    {
        if (Leave)
            Protect(FEdit, Leave);
    }

    // The edit's own, or nullptr.
    static TEditEvents* Find(QObject* edit)
    {
        for (QObject* child : edit->children())
            if (auto* events = dynamic_cast<TEditEvents*>(child))
                return events;
        return nullptr;
    }

    static TEditEvents* Of(QLineEdit* edit)
    {
        if (TEditEvents* events = Find(edit))
            return events;
        return new TEditEvents(edit);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != FEdit)
            return false;
        switch (event->type()) {
        case QEvent::FocusOut: {
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                RunLeave();
            return false;
        }
        case QEvent::KeyPress: {
            if (!ValueKeys)
                return false;
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                RunLeave();
                return true;
            }
            return key == Qt::Key_Escape;
        }
        default:
            return false;
        }
    }

private:
    QLineEdit* FEdit;
};

} // namespace

void ReportLeave(std::string_view Name, QLineEdit* edit) noexcept { ReportAction(Name, edit); }

void OnLeave(QLineEdit* edit, std::function<void()> handler)
{
    TEditEvents::Of(edit)->Leave = std::move(handler);
}

void HandleValueKeys(QLineEdit* edit)
{
    TEditEvents::Of(edit)->ValueKeys = true;
}

void RunLeaveHandler(QLineEdit* edit)
{
    if (TEditEvents* events = TEditEvents::Find(edit))
        events->RunLeave();
}

void DetachEditEvents(QWidget* root)
{
    for (QLineEdit* edit : root->findChildren<QLineEdit*>())
        delete TEditEvents::Find(edit);
}

} // namespace forms
