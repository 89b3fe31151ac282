// Every bound event runs through here: the handler is called inside try/catch and whatever it
// raises goes to the application's exception handler, so no exception crosses Qt's event loop.
#pragma once

#include <QObject>

#include <functional>

namespace forms {

// Runs fn; an exception from it is handed to the application object with Sender.
void Protect(QObject* Sender, const std::function<void()>& fn) noexcept;

// Connects sender's signal to receiver->handler(sender), protected. The signal's own arguments
// are dropped: handlers read the control's state themselves. The connection ends with the receiver.
template <typename TSender, typename TSignal, typename TReceiver>
QMetaObject::Connection Bind(TSender* sender, TSignal signal, TReceiver* receiver,
                             void (TReceiver::*handler)(QObject* Sender))
{
    return QObject::connect(sender, signal, receiver, [sender, receiver, handler]() {
        Protect(sender, [&] { (receiver->*handler)(sender); });
    });
}

// The same for a plain function.
template <typename TSender, typename TSignal>
QMetaObject::Connection Bind(TSender* sender, TSignal signal, QObject* context, std::function<void()> fn)
{
    return QObject::connect(sender, signal, context, [sender, fn = std::move(fn)]() { Protect(sender, fn); });
}

} // namespace forms
