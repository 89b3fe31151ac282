// The time source of the simulation. Settling, load profiles and the polling of the asynchronous
// mode ask it for the time, so that tests can step time by hand.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace trutina {

// Milliseconds on a monotonic scale; only differences mean anything.
using TMillis = std::int64_t;

class IClock {
public:
    virtual ~IClock() = default;
    virtual TMillis Now() const = 0;
};

// The steady system clock.
class TSystemClock final : public IClock {
public:
    TMillis Now() const override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

// A clock that moves only when told to; safe to read from the polling thread while a test moves it.
class TManualClock final : public IClock {
public:
    explicit TManualClock(TMillis start = 1'000'000) : FNow(start) {}
    TMillis Now() const override { return FNow.load(); }
    void Advance(TMillis ms) { FNow.fetch_add(ms); }

private:
    std::atomic<TMillis> FNow;
};

} // namespace trutina
