// Every bound event runs through here: the handler is called inside try/catch and whatever it
// raises goes to the application's exception handler, so no exception crosses Qt's event loop.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <string_view>

namespace forms {

// Runs fn; an exception from it is handed to the application object with Sender.
void Protect(QObject* Sender, const std::function<void()>& fn) noexcept;

// The start of a user action: the bound handler about to run and the control that raised it. The
// program's driver recording writes it as the marker of the operator's step. Unset, each handler
// pays one test of a flag.
using TActionHook = std::function<void(std::string_view Handler, QObject* Sender)>;
void SetActionHook(TActionHook hook);

namespace detail {
inline std::atomic<bool> GActionHookOn{false};
void CallActionHook(std::string_view Handler, QObject* Sender) noexcept;
} // namespace detail

inline void ReportAction(std::string_view Handler, QObject* Sender) noexcept
{
    if (detail::GActionHookOn.load(std::memory_order_relaxed)) [[unlikely]]
        detail::CallActionHook(Handler, Sender);
}

// "btnReadWeightClick" from the spelling "&TfmMain::btnReadWeightClick".
constexpr std::string_view HandlerName(std::string_view spelled)
{
    const auto colon = spelled.rfind(':');
    return colon == std::string_view::npos ? spelled : spelled.substr(colon + 1);
}

// A member handler together with its own name: Bind(btnTare, &QPushButton::clicked, this,
// FORMS_HANDLER(&TfmMain::btnTareClick)).
#define FORMS_HANDLER(handler) handler, ::forms::HandlerName(#handler)

// Connects sender's signal to receiver->handler(sender), protected and reported as an action
// under Name. The signal's own arguments are dropped: handlers read the control's state
// themselves. The connection ends with the receiver.
template <typename TSender, typename TSignal, typename TReceiver>
QMetaObject::Connection Bind(TSender* sender, TSignal signal, TReceiver* receiver,
                             void (TReceiver::*handler)(QObject* Sender), std::string_view Name)
{
    return QObject::connect(sender, signal, receiver, [sender, receiver, handler, Name]() {
        Protect(sender, [&] {
            ReportAction(Name, sender);
            (receiver->*handler)(sender);
        });
    });
}

// The same for a plain function.
template <typename TSender, typename TSignal>
QMetaObject::Connection Bind(TSender* sender, TSignal signal, QObject* context, std::function<void()> fn)
{
    return QObject::connect(sender, signal, context, [sender, fn = std::move(fn)]() { Protect(sender, fn); });
}

} // namespace forms
