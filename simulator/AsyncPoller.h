// The worker thread of the asynchronous mode: calls the poll function once per period until it is
// stopped. Stop wakes the thread at once and joins it.
#pragma once

#include "simulator/Clock.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace trutina {

class TAsyncPoller {
public:
    explicit TAsyncPoller(std::function<void()> poll);
    TAsyncPoller(const TAsyncPoller&) = delete;
    TAsyncPoller& operator=(const TAsyncPoller&) = delete;
    ~TAsyncPoller();

    // Starts the thread, or changes the period of the running one.
    void Start(TMillis periodMs);
    // Stops the thread and waits for it; a poll in progress finishes first. Must not be called
    // from the poll function or while holding a lock the poll function takes.
    void Stop();
    bool Running() const { return FThread.joinable(); }

    // Polling threads alive in this module, for tests that check nothing is left running.
    static int LiveThreads() { return FLiveThreads.load(); }

private:
    void Run();

    std::function<void()> FPoll;
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FStopping = false;
    TMillis FPeriodMs = 0;
    std::thread FThread;
    static inline std::atomic<int> FLiveThreads{0};
};

} // namespace trutina
