#include "platform/callqueue.h"

#include "platform/apartment.h"

namespace platform {
namespace {

std::mutex gHandlerLock;
PostedCallExceptionHandler gHandler;

// Hands the exception to the handler; false when none is set.
bool HandPostedCallException(std::exception_ptr e)
{
    PostedCallExceptionHandler handler;
    {
        std::lock_guard guard(gHandlerLock);
        handler = gHandler;
    }
    if (!handler)
        return false;
    try {
        handler(std::move(e));
    } catch (...) {
        // A failing handler must not take the pump down.
    }
    return true;
}

} // namespace

PostedCallExceptionHandler SetPostedCallExceptionHandler(PostedCallExceptionHandler handler)
{
    std::lock_guard guard(gHandlerLock);
    std::swap(gHandler, handler);
    return handler;
}

} // namespace platform

namespace platform::detail {

bool TCallQueue::Post(std::function<void()> fn)
{
    if (!fn)
        return false;
    std::lock_guard guard(FLock);
    if (FClosed)
        return false;
    if (FCalls.empty() && !Wake())
        return false;
    FCalls.push_back(std::move(fn));
    return true;
}

int TCallQueue::Pump()
{
    std::size_t waiting;
    {
        std::lock_guard guard(FLock);
        waiting = FCalls.size();
    }
    int ran = 0;
    for (; waiting > 0; --waiting) {
        std::function<void()> call;
        {
            std::lock_guard guard(FLock);
            if (FClosed || FCalls.empty())
                break;
            call = std::move(FCalls.front());
            FCalls.pop_front();
            if (FCalls.empty())
                Unwake();
        }
        ++ran;
        try {
            call();
        } catch (...) {
            if (!HandPostedCallException(std::current_exception()))
                throw;
        }
    }
    return ran;
}

void TCallQueue::WakeIfWaiting()
{
    std::lock_guard guard(FLock);
    if (!FClosed && !FCalls.empty())
        Rewake();
}

bool TCallQueue::HasWaitingCalls()
{
    std::lock_guard guard(FLock);
    return !FCalls.empty();
}

void TCallQueue::CloseQueue(const std::function<void()>& whileLocked)
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard guard(FLock);
        if (FClosed)
            return;
        FClosed = true;
        dropped.swap(FCalls);
        if (whileLocked)
            whileLocked();
    }
    // The dropped calls are destroyed here, outside the lock: what they hold may post again.
}

} // namespace platform::detail
