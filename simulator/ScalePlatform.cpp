#include "simulator/ScalePlatform.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace trutina {

namespace {
constexpr double SwingIntervals = 4;     // amplitude of a forced swing, in scale intervals
constexpr TMillis SwingPeriodMs = 700;
constexpr std::int64_t OverloadMargin = 9;    // shown up to capacity + 9 d
constexpr std::int64_t UnderloadMargin = 20;  // shown down to -20 d
// Counts saturate here: beyond every capacity by far, and small enough that counts times the
// interval in micrograms (at most 50 000) stays within 64 bits.
constexpr std::int64_t CountLimit = 1'000'000'000'000;
} // namespace

TScalePlatform::TScalePlatform(const TScaleModel& model, const IClock& clock)
    : FModel(&model), FClock(clock), FChangedAt(clock.Now() - model.SettlingMs) // standing idle: settled
{
}

void TScalePlatform::SetModel(const TScaleModel& model)
{
    FModel = &model;
    PowerOn();
}

void TScalePlatform::PutLoad(double kg) { ChangeLoad(kg, FClock.Now()); }

void TScalePlatform::ChangeLoad(double kg, TMillis at)
{
    FLoadBefore = RawLoad(at);
    FLoad = kg;
    FChangedAt = at;
}

void TScalePlatform::SetUnstable(bool unstable)
{
    if (FForcedUnstable && !unstable) {
        // The swing stops; the platform settles from where it was.
        const TMillis now = FClock.Now();
        FLoadBefore = RawLoad(now);
        FChangedAt = now;
    }
    FForcedUnstable = unstable;
}

void TScalePlatform::SetConnected(bool connected) { FConnected = connected; }

bool TScalePlatform::Connected()
{
    ApplyProfile();
    return FConnected;
}

void TScalePlatform::StartProfile(const TLoadProfile* profile)
{
    FProfile = profile && !profile->Steps.empty() ? profile : nullptr;
    FProfileStart = FClock.Now();
    FAppliedStep = -1;
    ApplyProfile();
}

void TScalePlatform::ApplyProfile()
{
    if (!FProfile)
        return;
    const TMillis elapsed = FClock.Now() - FProfileStart;
    const TLoadStep* step = FProfile->StepAt(elapsed);
    if (!step)
        return;
    const std::int64_t cycle = FProfile->LoopMs > 0 ? elapsed / FProfile->LoopMs : 0;
    const std::int64_t key = cycle * static_cast<std::int64_t>(FProfile->Steps.size()) + (step - FProfile->Steps.data());
    if (key == FAppliedStep)
        return;
    FAppliedStep = key;
    // The step took effect at its own time, however late the platform is looked at.
    const TMillis stepTime = FProfileStart + cycle * FProfile->LoopMs + step->At;
    if (step->Load != FLoad)
        ChangeLoad(step->Load, stepTime);
    if (FForcedUnstable && !step->Unstable)
        ChangeLoad(FLoad, stepTime);
    FForcedUnstable = step->Unstable;
    FConnected = !step->Disconnected;
}

double TScalePlatform::RawLoad(TMillis now) const
{
    if (FForcedUnstable) {
        const double phase = 2 * std::numbers::pi * static_cast<double>(now % SwingPeriodMs) / SwingPeriodMs;
        return FLoad + SwingIntervals * FModel->Discreteness * std::sin(phase);
    }
    const TMillis since = now - FChangedAt;
    if (since >= FModel->SettlingMs || FModel->SettlingMs <= 0)
        return FLoad;
    // Approaches the new load linearly over the settling time.
    const double part = static_cast<double>(since) / static_cast<double>(FModel->SettlingMs);
    return FLoadBefore + (FLoad - FLoadBefore) * part;
}

bool TScalePlatform::IsStable(TMillis now) const
{
    return !FForcedUnstable && now - FChangedAt >= FModel->SettlingMs;
}

std::int64_t TScalePlatform::Count(double kg) const
{
    const double counts = kg / FModel->Discreteness;
    // An absurd load reads as an overload, never as an underload (llround of a number beyond 64
    // bits gives the most negative count); a NaN is taken as absurd.
    if (std::isnan(counts) || counts >= static_cast<double>(CountLimit))
        return CountLimit;
    if (counts <= -static_cast<double>(CountLimit))
        return -CountLimit;
    return std::llround(counts);
}

double TScalePlatform::Kilograms(std::int64_t counts) const
{
    // Integer micrograms-of-a-kilogram then one division: the nearest double to the decimal value.
    const std::int64_t micro = std::llround(FModel->Discreteness * 1e6);
    // Counts come saturated from Count; a net count (gross less tare) is within twice the limit.
    const std::int64_t limited = std::clamp(counts, -2 * CountLimit, 2 * CountLimit);
    return static_cast<double>(limited * micro) / 1e6;
}

double TScalePlatform::TareWeight() const { return Kilograms(FTareCounts); }

TReading TScalePlatform::Read()
{
    ApplyProfile();
    TReading r;
    if (!FConnected) {
        r.Result = TResult::NoConnection;
        return r;
    }
    const TMillis now = FClock.Now();
    r.Stable = IsStable(now);
    double gross = RawLoad(now) - FZeroOffset;
    std::int64_t grossCounts = Count(gross);
    if (r.Stable && grossCounts == 0) {
        // Auto-zero tracking: a stable remainder within half an interval is taken into the zero.
        FZeroOffset += gross;
        r.ZeroTracking = true;
    }
    if (r.Stable && grossCounts == 0 && FTareMode == 1)
        FTareCounts = 0; // the platform was emptied: the tare goes
    const std::int64_t capacityCounts = Count(FModel->Capacity);
    r.Overload = grossCounts > capacityCounts + OverloadMargin;
    r.InvalidRange = grossCounts < -UnderloadMargin;
    r.Netto = FTareCounts != 0;
    r.OutOfZero = FOutOfZero;
    r.Gross = Kilograms(grossCounts);
    const std::int64_t shown = grossCounts - FTareCounts;
    r.Weight = Kilograms(shown);
    r.Negative = shown < 0;
    if (r.Overload)
        r.Result = TResult::Overload;
    else if (r.InvalidRange)
        r.Result = TResult::WeightOutOfRange;
    return r;
}

TResult TScalePlatform::Zero()
{
    TReading r = Read();
    if (r.Result == TResult::NoConnection)
        return r.Result;
    if (!r.Stable)
        return TResult::WeightNotStable;
    const double raw = RawLoad(FClock.Now());
    if (std::fabs(raw) > FModel->ZeroRange + FModel->Discreteness / 2) {
        FOutOfZero = true;
        return TResult::ZeroOutOfRange;
    }
    FZeroOffset = raw;
    FOutOfZero = false;
    return TResult::Ok;
}

TResult TScalePlatform::Tare()
{
    TReading r = Read();
    if (r.Result != TResult::Ok)
        return r.Result;
    if (!r.Stable)
        return TResult::WeightNotStable;
    // Tare on an empty (or lighter than zero) platform clears the tare.
    const std::int64_t grossCounts = Count(r.Gross);
    FTareCounts = grossCounts > 0 ? grossCounts : 0;
    return TResult::Ok;
}

TResult TScalePlatform::SetTare(double kg)
{
    if (!Connected())
        return TResult::NoConnection;
    if (!std::isfinite(kg) || kg < 0 || kg > FModel->Capacity)
        return TResult::OutOfRange;
    FTareCounts = Count(kg);
    return TResult::Ok;
}

void TScalePlatform::PowerOn()
{
    const TMillis now = FClock.Now();
    FZeroOffset = 0;
    FTareCounts = 0;
    FOutOfZero = false;
    FLoadBefore = FLoad;
    FChangedAt = now;
}

} // namespace trutina
