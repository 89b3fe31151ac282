// Leaving an edit and the keys of the value edits. "Leave" is the focus moving from the edit to
// another control of its window; a window losing activation or a popup opening is not a leave.
#pragma once

#include <QObject>

#include "forms/Binding.h"

#include <functional>

class QLineEdit;
class QWidget;

namespace forms {

// Runs handler (protected, with the edit as sender) each time the edit is left.
void OnLeave(QLineEdit* edit, std::function<void()> handler);

// Reports leaving the edit as an action under Name (forms::ReportAction).
void ReportLeave(std::string_view Name, QLineEdit* edit) noexcept;

// A member handler, reported as an action under Name (see FORMS_HANDLER).
template <typename TReceiver>
void OnLeave(QLineEdit* edit, TReceiver* receiver, void (TReceiver::*handler)(QObject* Sender), std::string_view Name)
{
    OnLeave(edit, [edit, receiver, handler, Name] {
        ReportLeave(Name, edit);
        (receiver->*handler)(edit);
    });
}

// The value-edit keys: Enter, whatever the modifiers, runs the edit's leave handler at once and
// the edit keeps the focus; the Enter and Escape characters never reach the edit. Escape still
// works as a shortcut of the window (it is taken before the edit sees the key).
void HandleValueKeys(QLineEdit* edit);

// Runs the edit's leave handler now, as Enter does (protected). Nothing when it has none.
void RunLeaveHandler(QLineEdit* edit);

// Stops the leave and key handling of every edit under root: a window calls it first when it is
// destroyed, so that focus moving during the teardown runs none of its handlers.
void DetachEditEvents(QWidget* root);

} // namespace forms
