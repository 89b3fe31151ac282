#include "forms/Binding.h"

#include "forms/Application.h"

namespace forms {

void Protect(QObject* Sender, const std::function<void()>& fn) noexcept
{
    try {
        fn();
    } catch (...) {
        if (TApplication* app = Application())
            app->HandleException(Sender, std::current_exception());
    }
}

namespace {
TActionHook& ActionHook()
{
    static TActionHook hook;
    return hook;
}
} // namespace

void SetActionHook(TActionHook hook)
{
    detail::GActionHookOn.store(false, std::memory_order_relaxed);
    const bool on = static_cast<bool>(hook);
    ActionHook() = std::move(hook);
    detail::GActionHookOn.store(on, std::memory_order_relaxed);
}

void detail::CallActionHook(std::string_view Handler, QObject* Sender) noexcept
{
    try {
        if (const TActionHook& hook = ActionHook())
            hook(Handler, Sender);
    } catch (...) {
        // Recording an action never changes what the action does.
    }
}

} // namespace forms
