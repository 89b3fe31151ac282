#include "simulator/MessageQueue.h"

#include <limits>

namespace trutina {

std::int32_t TMessageQueue::Push(const TReading& reading, TMoney salesPrice)
{
    if (Full()) {
        ++FLost;
        return 0;
    }
    FLastNumber = FLastNumber == std::numeric_limits<std::int32_t>::max() ? 1 : FLastNumber + 1;
    FMessages.push_back({FLastNumber, reading, salesPrice});
    return FLastNumber;
}

bool TMessageQueue::PopCurrent()
{
    if (FMessages.empty())
        return false;
    FMessages.pop_front();
    return true;
}

bool TMessageQueue::Contains(std::int32_t number) const
{
    for (const auto& m : FMessages)
        if (m.Number == number)
            return true;
    return false;
}

bool TMessageQueue::DropBefore(std::int32_t number)
{
    if (!Contains(number))
        return false;
    while (FMessages.front().Number != number)
        FMessages.pop_front();
    return true;
}

const TDataMessage* TMessageQueue::FirstAfter(std::int32_t number) const
{
    for (const auto& m : FMessages)
        if (m.Number > number)
            return &m;
    return nullptr;
}

std::uint64_t TMessageQueue::TakeLost()
{
    const std::uint64_t lost = FLost;
    FLost = 0;
    return lost;
}

} // namespace trutina
