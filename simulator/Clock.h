// The time source of the simulation. Settling, load profiles and the polling of the asynchronous
// mode ask it for the time, so that tests can step time by hand.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace trutina {

// Milliseconds on a monotonic scale; only differences mean anything.
using TMillis = std::int64_t;

class IClock {
public:
    virtual ~IClock() = default;
    virtual TMillis Now() const = 0;
    // Lets ms pass (the scales answering late).
    virtual void Wait(TMillis ms) const = 0;
};

// The steady system clock.
class TSystemClock final : public IClock {
public:
    TMillis Now() const override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void Wait(TMillis ms) const override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

// A clock that moves only when told to; safe to read from the polling thread while a test moves it.
class TManualClock final : public IClock {
public:
    explicit TManualClock(TMillis start = 1'000'000) : FNow(start) {}
    TMillis Now() const override { return FNow.load(); }
    void Advance(TMillis ms) { FNow.fetch_add(ms); }
    void Wait(TMillis ms) const override { FNow.fetch_add(ms); } // the wait passes at once

private:
    mutable std::atomic<TMillis> FNow;
};

} // namespace trutina
