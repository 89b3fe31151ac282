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

} // namespace forms
