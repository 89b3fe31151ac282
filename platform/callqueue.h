// The single-threaded apartment's call queue, apart from how its thread is woken: calls run in
// posting order on the owning thread, a pump runs only the calls waiting when it starts, and a
// closed queue refuses new calls and drops the waiting ones. Not part of the platform's interface.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace platform::detail {

class TCallQueue {
public:
    TCallQueue(const TCallQueue&) = delete;
    TCallQueue& operator=(const TCallQueue&) = delete;

    // Any thread. False for an empty call, a closed queue or a wake-up that could not be sent.
    bool Post(std::function<void()> fn);

    // Runs the calls waiting when it starts, in posting order; calls posted meanwhile wait for the
    // next pump, so a call that posts again cannot keep the loop from returning. What a call
    // raises goes to the posted-call exception handler when one is set, else it leaves the pump
    // (the calls after it wait for the next one). Owning thread.
    int Pump();

    bool HasWaitingCalls();

protected:
    TCallQueue() = default;
    ~TCallQueue() = default;

    // No more calls are accepted; those waiting are dropped without running, outside the lock.
    // whileLocked runs under the queue's lock on the first close only.
    void CloseQueue(const std::function<void()>& whileLocked);

    // Wakes the thread again when calls still wait: for a wake-up that is used up when it is
    // received (a window message), after every pump.
    void WakeIfWaiting();

    // Called under the queue's lock: Wake when the queue stops being empty (false: the post
    // fails), Unwake when a pump empties it.
    virtual bool Wake() = 0;
    virtual void Unwake() = 0;
    // Called under the queue's lock by WakeIfWaiting, on the owning thread.
    virtual bool Rewake() { return Wake(); }

private:
    std::mutex FLock;
    std::deque<std::function<void()>> FCalls;
    bool FClosed = false;
};

} // namespace platform::detail
