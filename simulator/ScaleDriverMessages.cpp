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
    return Operation("AsyncMode", [&] {
        if (on && !FAsyncMode) {
            FLastQueuedWeight.reset(); // the first stable reading is news
            FPollAskedAt.reset();
        }
        // Messages are the asynchronous mode's: a register that leaves it reads the scales itself.
        if (!on && FAsyncMode)
            FMessages.Clear();
        FAsyncMode = on;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetPollingInterval(std::int32_t code)
{
    return StoredOperation("PollingInterval", [&] {
        if (code < 0 || code >= PollingIntervalCount)
            return TResult::InvalidParameter;
        FSettings.PollingInterval = code;
        return Persist();
    });
}

TResult TScaleDriver::SetWeightStep(double kg)
{
    return StoredOperation("WeightStep", [&] {
        if (!IsValidWeightStep(kg))
            return TResult::OutOfRange;
        FSettings.WeightStep = kg;
        return Persist();
    });
}

TResult TScaleDriver::SetEventNumber(std::int32_t number)
{
    // Writing the number of a queued message makes it current: the older ones count as handled.
    return Operation("EventNumber", [&] { return FMessages.DropBefore(number) ? TResult::Ok : TResult::NoSuchMessage; });
}

TResult TScaleDriver::SetAutoDisable(bool on)
{
    return StoredOperation("AutoDisable", [&] {
        FSettings.AutoDisable = on;
        return Persist();
    });
}

TResult TScaleDriver::SetDataEventEnabled(bool on)
{
    return Operation("DataEventEnabled", [&] {
        FDataEventEnabled = on;
        return TResult::Ok;
    });
}

TResult TScaleDriver::DeleteEvent()
{
    return Operation("DeleteEvent", [&] { return FMessages.PopCurrent() ? TResult::Ok : TResult::NoMessages; });
}

TResult TScaleDriver::GenerateEvent()
{
    return Operation("GenerateEvent", [&] {
        // The reading is taken as ReadWeight takes it: an overload or underload is refused, not
        // queued; so is a weight still moving (the scales report a weight for sale once stable).
        if (const TResult r = TakeReading(true); r != TResult::Ok)
            return r;
        if (FMessages.Full())
            return TResult::QueueFull;
        FMessages.Push(FLastReading, PriceOf(FLastReading.Weight));
        return TResult::Ok;
    });
}

void TScaleDriver::PollOnce()
{
    {
        std::lock_guard lock(FMutex);
        if (!FAsyncMode || !Current().Enabled)
            return;
        if (HoldPort(Current()) != TResult::Ok) {
            LoseLine(); // the port is another's: no scales to read
            return;
        }
        TScalePlatform& platform = CurrentPlatform();
        if (!FPollAskedAt) {
            if (const std::optional<TResult> refusal = platform.TakeRefusal("Poll")) {
                platform.SkipReading(); // a refused reading: nothing is queued
                NoteAnswer(*refusal, true);
                return;
            }
        }
        switch (AwaitPollAnswer(platform)) {
        case TPollAnswer::Waiting:
            return;
        case TPollAnswer::None:
            platform.SkipReading();
            LoseLine();
            return;
        case TPollAnswer::Answered:
            break;
        }
        const TReading reading = platform.Read();
        if (reading.Result == TResult::NoConnection) {
            LoseLine();
            return;
        }
        FAnswered = true;
        // The newest reading the poller took is what the weight members show when no message
        // waits; a refused one (overload, underload) keeps the last good weight, as ReadWeight does.
        const double lastGood = FLastReading.Weight;
        FLastReading = reading;
        if (reading.Result != TResult::Ok)
            FLastReading.Weight = lastGood;
        // Only a stable weight within the weighing range is news: an overload or underload is no
        // weight to price.
        if (!reading.Stable || reading.Result != TResult::Ok)
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
        FMessages.Push(reading, PriceOf(reading.Weight)); // a full queue drops it and counts it lost
    }
    if (DataEventDue())
        NotifyEventDue();
}

TScaleDriver::TPollAnswer TScaleDriver::AwaitPollAnswer(TScalePlatform& platform)
{
    const bool cut = !platform.Connected();
    const TMillis timeout = FSettings.Timeout;
    const TMillis delay = cut ? (platform.AnswersAtOnce() ? 0 : timeout) : platform.AnswerDelay();
    if (delay > 0) {
        // The request was sent at the first poll; a later one takes the answer once it is due.
        const TMillis now = FClock.Now();
        if (!FPollAskedAt)
            FPollAskedAt = now;
        if (now - *FPollAskedAt < std::min(delay, timeout))
            return TPollAnswer::Waiting;
    }
    FPollAskedAt.reset();
    return cut || delay > timeout ? TPollAnswer::None : TPollAnswer::Answered;
}

void TScaleDriver::LoseLine()
{
    // Off the line: no weight is shown, and the first stable reading after it is news.
    FLastReading = TReading{};
    FLastReading.Result = TResult::NoConnection;
    FLastQueuedWeight.reset();
    FPollAskedAt.reset();
    FAnswered = false;
}

void TScaleDriver::ForgetExchange()
{
    FLastQueuedWeight.reset();
    FPollAskedAt.reset();
    FAnswered = true;
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
