// The message channel of the asynchronous mode: the queue of data messages, the poller that fills
// it and the announcements of the data event.
#include "simulator/ScaleDriver.h"

#include <cmath>

namespace trutina {

// ------------------------------------------------------------------ asynchronous mode

bool TScaleDriver::AsyncMode() const
{
    std::lock_guard lock(FMutex);
    return FAsyncMode;
}

std::int32_t TScaleDriver::PollingInterval() const
{
    std::lock_guard lock(FMutex);
    return FSettings.PollingInterval;
}

double TScaleDriver::WeightStep() const
{
    std::lock_guard lock(FMutex);
    return FSettings.WeightStep;
}

std::int32_t TScaleDriver::EventNumber() const
{
    std::lock_guard lock(FMutex);
    const TDataMessage* message = FMessages.Current();
    return message ? message->Number : 0;
}

std::int32_t TScaleDriver::DataCount() const
{
    std::lock_guard lock(FMutex);
    return static_cast<std::int32_t>(FMessages.Count());
}

bool TScaleDriver::AutoDisable() const
{
    std::lock_guard lock(FMutex);
    return FSettings.AutoDisable;
}

bool TScaleDriver::DataEventEnabled() const
{
    std::lock_guard lock(FMutex);
    return FDataEventEnabled;
}

TResult TScaleDriver::SetAsyncMode(bool on)
{
    return Operation([&] {
        if (on && !FAsyncMode)
            FLastQueuedWeight.reset(); // the first stable reading is news
        FAsyncMode = on;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetPollingInterval(std::int32_t code)
{
    return StoredOperation([&] {
        if (code < 0 || code >= PollingIntervalCount)
            return TResult::InvalidParameter;
        FSettings.PollingInterval = code;
        return Persist();
    });
}

TResult TScaleDriver::SetWeightStep(double kg)
{
    return StoredOperation([&] {
        if (!IsValidWeightStep(kg))
            return TResult::OutOfRange;
        FSettings.WeightStep = kg;
        return Persist();
    });
}

TResult TScaleDriver::SetEventNumber(std::int32_t number)
{
    // Writing the number of a queued message makes it current: the older ones count as handled.
    return Operation([&] { return FMessages.DropBefore(number) ? TResult::Ok : TResult::NoSuchMessage; });
}

TResult TScaleDriver::SetAutoDisable(bool on)
{
    return StoredOperation([&] {
        FSettings.AutoDisable = on;
        return Persist();
    });
}

TResult TScaleDriver::SetDataEventEnabled(bool on)
{
    return Operation([&] {
        FDataEventEnabled = on;
        return TResult::Ok;
    });
}

TResult TScaleDriver::DeleteEvent()
{
    return Operation([&] { return FMessages.PopCurrent() ? TResult::Ok : TResult::NoMessages; });
}

TResult TScaleDriver::GenerateEvent()
{
    return Operation([&] {
        if (!Current().Enabled)
            return TResult::DeviceNotEnabled;
        const TReading reading = CurrentPlatform().Read();
        if (reading.Result == TResult::NoConnection)
            return reading.Result;
        if (FMessages.Full())
            return TResult::QueueFull;
        FMessages.Push(reading);
        return TResult::Ok;
    });
}

void TScaleDriver::PollOnce()
{
    {
        std::lock_guard lock(FMutex);
        if (!FAsyncMode || !Current().Enabled)
            return;
        const TReading reading = CurrentPlatform().Read();
        if (reading.Result == TResult::NoConnection)
            return;
        // The newest reading the poller took is what the weight members show when no message
        // waits; a refused one keeps the last good weight, as ReadWeight does.
        FLastReading = reading;
        if (reading.Result != TResult::Ok)
            FLastReading.Weight = Shown().Weight;
        if (!reading.Stable)
            return;
        if (FLastQueuedWeight) {
            const double change = std::fabs(reading.Weight - *FLastQueuedWeight);
            // A change must be real (not zero) and at least the step; half an interval absorbs
            // the binary rounding of the weights.
            const double interval = CurrentPlatform().Model().Discreteness;
            if (change < interval / 2 || change + interval / 1000 < FSettings.WeightStep)
                return;
        }
        FLastQueuedWeight = reading.Weight;
        FMessages.Push(reading); // a full queue drops it and counts it lost
    }
    if (DataEventDue())
        NotifyEventDue();
}

bool TScaleDriver::DataEventDue() const
{
    std::lock_guard lock(FMutex);
    return FDataEventEnabled && FMessages.FirstAfter(FLastAnnounced) != nullptr;
}

bool TScaleDriver::TakeDataEvent()
{
    std::lock_guard lock(FMutex);
    if (!FDataEventEnabled)
        return false;
    const TDataMessage* next = FMessages.FirstAfter(FLastAnnounced);
    if (!next)
        return false;
    FLastAnnounced = next->Number;
    if (FSettings.AutoDisable)
        FDataEventEnabled = false;
    return true;
}

void TScaleDriver::NotifyEventDue()
{
    std::function<void()> due;
    {
        std::lock_guard lock(FMutex);
        due = FEventDue;
    }
    if (due)
        due();
}

void TScaleDriver::UpdatePoller()
{
    bool wanted;
    TMillis period;
    {
        std::lock_guard lock(FMutex);
        wanted = FAsyncMode && Current().Enabled;
        period = PollingPeriodMs(FSettings.PollingInterval);
    }
    if (wanted)
        FPoller.Start(period);
    else
        FPoller.Stop();
}

} // namespace trutina
