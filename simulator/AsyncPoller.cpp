#include "simulator/AsyncPoller.h"

namespace trutina {

TAsyncPoller::TAsyncPoller(std::function<void()> poll) : FPoll(std::move(poll)) {}

TAsyncPoller::~TAsyncPoller() { Stop(); }

void TAsyncPoller::Start(TMillis periodMs)
{
    {
        std::lock_guard lock(FMutex);
        FPeriodMs = periodMs;
        FStopping = false;
    }
    if (FThread.joinable()) {
        FWake.notify_all(); // the new period counts from now
        return;
    }
    ++FLiveThreads;
    FThread = std::thread([this] { Run(); });
}

void TAsyncPoller::Stop()
{
    if (!FThread.joinable())
        return;
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FWake.notify_all();
    FThread.join();
}

void TAsyncPoller::Run()
{
    std::unique_lock lock(FMutex);
    while (!FStopping) {
        const TMillis period = FPeriodMs;
        const bool stopped = FWake.wait_for(lock, std::chrono::milliseconds(period),
                                            [&] { return FStopping || FPeriodMs != period; });
        if (FStopping)
            break;
        if (stopped)
            continue; // the period changed: wait the new one
        lock.unlock();
        FPoll();
        lock.lock();
    }
    --FLiveThreads;
}

} // namespace trutina
