// The data messages of the asynchronous mode: a bounded FIFO of numbered readings. When it is full a
// new reading is dropped (the older ones are kept, in order) and counted as lost. Not thread-safe:
// TScaleDriver guards it.
#pragma once

#include "simulator/ScalePlatform.h"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace trutina {

// Money: the amount times 10000.
using TMoney = std::int64_t;

struct TDataMessage {
    std::int32_t Number = 0;
    TReading Reading;
    TMoney SalesPrice = 0; // the price of its weighing, as the unit price was when it was taken
};

class TMessageQueue {
public:
    static constexpr std::size_t Bound = 100;

    // Queues the reading under the next number and returns that number; 0 when the queue is full
    // (the reading is dropped and counted as lost).
    std::int32_t Push(const TReading& reading, TMoney salesPrice);
    // The oldest message, or nullptr.
    const TDataMessage* Current() const { return FMessages.empty() ? nullptr : &FMessages.front(); }
    // Removes the oldest message; false when there is none.
    bool PopCurrent();
    // Makes the message with the number the current one by removing those before it; false (and
    // nothing removed) when no queued message has that number.
    bool DropBefore(std::int32_t number);
    bool Contains(std::int32_t number) const;
    // The oldest queued message numbered above the given number, or nullptr.
    const TDataMessage* FirstAfter(std::int32_t number) const;
    std::size_t Count() const { return FMessages.size(); }
    bool Full() const { return FMessages.size() >= Bound; }
    // The readings lost since the last call.
    std::uint64_t TakeLost();
    void Clear() { FMessages.clear(); }

private:
    std::deque<TDataMessage> FMessages;
    std::int32_t FLastNumber = 0;
    std::uint64_t FLost = 0;
};

} // namespace trutina
