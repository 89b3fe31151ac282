#include "runtime/apphook.h"

#include <mutex>
#include <utility>

namespace runtime {
namespace {

std::mutex& HookLock()
{
    static std::mutex lock;
    return lock;
}

TExceptionHook& InstalledHook()
{
    static TExceptionHook hook;
    return hook;
}

} // namespace

TExceptionHook SetApplicationExceptionHook(TExceptionHook hook)
{
    std::lock_guard guard(HookLock());
    return std::exchange(InstalledHook(), std::move(hook));
}

void HandleApplicationException(std::exception_ptr e) noexcept
{
    try {
        TExceptionHook hook;
        {
            std::lock_guard guard(HookLock());
            hook = InstalledHook(); // called outside the lock: the hook may reinstall hooks
        }
        if (hook)
            hook(std::move(e));
    } catch (...) {
        // Nothing may leave here: the caller is an event loop or a driver's event.
    }
}

} // namespace runtime
