// One QApplication and one forms::TApplication for a whole test program (offscreen platform).
#pragma once

#include <QApplication>
#include <QWidget>

#include <functional>

namespace testsupport {

// Runs fn once the event loop is idle, again every intervalMs until it returns true or timeoutMs
// passes. Used to drive modal windows as a user would.
void WhenReady(std::function<bool()> fn, int intervalMs = 20, int timeoutMs = 5000);

// The active modal widget cast to T, or nullptr.
template <typename T>
T* ActiveModal()
{
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

// Shows the window and waits until it is active, so that focus changes happen as for a user.
bool ShowActive(QWidget* window);

} // namespace testsupport
