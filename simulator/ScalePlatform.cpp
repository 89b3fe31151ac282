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
// Below this many intervals a weight is rounded on its decimal value in micrograms (within 64 bits
// for every interval of the models); beyond it lies far past every capacity.
constexpr double DecimalCountLimit = 1e9;
} // namespace

bool IsValidTare(const TScaleModel& model, double kg) { return std::isfinite(kg) && kg >= 0 && kg <= model.Capacity; }

TScalePlatform::TScalePlatform(const TScaleModel& model, const IClock& clock)
    : FModel(&model), FClock(clock), FChangedAt(clock.Now() - model.SettlingMs), // standing idle: settled
      FTrackedAt(clock.Now())
{
}

TMillis TScalePlatform::Now() const { return FMsPerReading > 0 ? FSimulatedNow : FClock.Now(); }

void TScalePlatform::Tick()
{
    if (FMsPerReading > 0)
        FSimulatedNow += FMsPerReading;
}

void TScalePlatform::SetSimulatedTime(TMillis msPerReading)
{
    msPerReading = std::max<TMillis>(msPerReading, 0);
    if ((msPerReading > 0) == (FMsPerReading > 0)) {
        FMsPerReading = msPerReading;
        return;
    }
    // Another time base: every moment the platform keeps moves with it, so nothing jumps.
    const TMillis before = Now();
    FMsPerReading = msPerReading;
    FSimulatedNow = FClock.Now();
    const TMillis shift = Now() - before;
    FChangedAt += shift;
    FTrackedAt += shift;
    FProfileStart += shift;
    FSwingStart += shift;
}

void TScalePlatform::SetModel(const TScaleModel& model)
{
    FModel = &model;
    PowerOn();
}

void TScalePlatform::PutLoad(double kg) { ChangeLoad(kg, Now()); }

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
        const TMillis now = Now();
        FLoadBefore = RawLoad(now);
        FChangedAt = now;
    }
    if (!FForcedUnstable && unstable)
        FSwingStart = Now();
    FForcedUnstable = unstable;
}

void TScalePlatform::SetConnected(bool connected) { FConnected = connected; }

bool TScalePlatform::AnswersAtOnce()
{
    ApplyProfile();
    return FAnswerAtOnce;
}

bool TScalePlatform::Connected()
{
    ApplyProfile();
    return FConnected;
}

void TScalePlatform::StartProfile(const TLoadProfile* profile, std::string name)
{
    SetProfile(profile, std::move(name));
    RestartProfile();
}

void TScalePlatform::SetProfile(const TLoadProfile* profile, std::string name)
{
    if (profile && !profile->Steps.empty()) {
        FProfile = *profile;
        FProfileName = std::move(name);
    } else {
        FProfile.reset();
        FProfileName.clear();
    }
    FProfileRunning = false;
    FRefusalsLeft = 0;
}

void TScalePlatform::RestartProfile()
{
    FProfileRunning = FProfile.has_value();
    FProfileStart = Now();
    FAppliedStep = -1;
    FRefusalsLeft = 0;
    ApplyProfile();
}

TScalePlatform::TProfileState TScalePlatform::ProfileState()
{
    ApplyProfile();
    TProfileState state;
    if (!FProfile)
        return state;
    state.Name = FProfileName;
    state.Running = FProfileRunning;
    state.StepCount = static_cast<std::int32_t>(FProfile->Steps.size());
    if (FAppliedStep >= 0)
        state.Step = static_cast<std::int32_t>(FAppliedStep % state.StepCount);
    if (FProfileRunning) {
        const TMillis elapsed = Now() - FProfileStart;
        state.Elapsed = FProfile->LoopMs > 0 ? elapsed % FProfile->LoopMs : elapsed;
    }
    return state;
}

std::optional<TResult> TScalePlatform::TakeRefusal(std::string_view operation)
{
    ApplyProfile();
    if (FRefusalsLeft <= 0)
        return std::nullopt;
    const bool aimed = FRefused.empty() ? operation != "Poll"
                                        : std::find(FRefused.begin(), FRefused.end(), operation) != FRefused.end();
    if (!aimed)
        return std::nullopt;
    --FRefusalsLeft;
    return FRefusal;
}

void TScalePlatform::ApplyProfile()
{
    if (!FProfile || !FProfileRunning)
        return;
    const TMillis elapsed = Now() - FProfileStart;
    const TLoadStep* step = FProfile->StepAt(elapsed, &FStepHint);
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
    if (!FForcedUnstable && step->Unstable)
        FSwingStart = stepTime;
    FForcedUnstable = step->Unstable;
    FConnected = !step->Disconnected;
    FAnswerAtOnce = step->AnswerAtOnce;
    FRefusal = step->Refuse;
    FRefusalsLeft = step->Refuse != TResult::Ok ? step->RefuseCount : 0;
    FRefused = step->RefuseOperations;
    FAnswerDelay = step->DelayMs;
}

TMillis TScalePlatform::AnswerDelay()
{
    ApplyProfile();
    return FAnswerDelay;
}

double TScalePlatform::RawLoad(TMillis now) const
{
    if (FForcedUnstable) {
        const double phase = 2 * std::numbers::pi * static_cast<double>((now - FSwingStart) % SwingPeriodMs) / SwingPeriodMs;
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
    if (std::fabs(counts) >= DecimalCountLimit)
        return std::llround(counts);
    // Halves are rounded on the decimal value: 1.0005 kg is a half gram above 1.000 though its
    // double lies just below. Whole micrograms carry the decimal value; the division is exact.
    const std::int64_t micrograms = std::llround(kg * 1e9);
    const std::int64_t interval = std::llround(FModel->Discreteness * 1e9);
    std::int64_t quotient = micrograms / interval;
    const std::int64_t remainder = micrograms % interval;
    if (2 * (remainder < 0 ? -remainder : remainder) >= interval)
        quotient += remainder < 0 ? -1 : 1;
    return quotient;
}

double TScalePlatform::Kilograms(std::int64_t counts) const
{
    // Integer micrograms-of-a-kilogram then one division: the nearest double to the decimal value.
    const std::int64_t micro = std::llround(FModel->Discreteness * 1e6);
    // Counts come saturated from Count; a net count (gross less tare) is within twice the limit.
    const std::int64_t limited = std::clamp(counts, -2 * CountLimit, 2 * CountLimit);
    return static_cast<double>(limited * micro) / 1e6;
}

TReading TScalePlatform::Read()
{
    const TReading r = Sample();
    Tick();
    return r;
}

TReading TScalePlatform::Look() { return Sample(); }

TReading TScalePlatform::Sample()
{
    ApplyProfile();
    TReading r;
    if (!FConnected) {
        r.Result = TResult::NoConnection;
        return r;
    }
    const TMillis now = Now();
    r.Stable = IsStable(now);
    double gross = RawLoad(now) - FZeroOffset;
    std::int64_t grossCounts = Count(gross);
    if (r.Stable && grossCounts == 0) {
        // Auto-zero tracking: a stable remainder within half an interval is taken into the zero,
        // as slow drift only (a rate per second) and never beyond the zero-setting range.
        const double seconds = static_cast<double>(std::clamp<TMillis>(now - FTrackedAt, 0, 3'600'000)) / 1000;
        const double most = TrackingIntervalsPerSecond * FModel->Discreteness * seconds;
        // A zero set at the edge of the range (up to half an interval beyond it) is kept, not pulled back.
        const double limit = std::max(FModel->ZeroRange, std::fabs(FZeroOffset));
        const double zero = std::clamp(FZeroOffset + std::clamp(gross, -most, most), -limit, limit);
        if (zero != FZeroOffset) {
            FZeroOffset = zero;
            FTrackedAt = now;
        }
        gross = RawLoad(now) - FZeroOffset;
        grossCounts = Count(gross);
        r.ZeroTracking = true;
    }
    if (r.Stable && grossCounts == 0 && FTareMode == 1) {
        FTareCounts = 0; // the platform was emptied: the tare goes
        FTareWeight = 0;
    }
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
    const TReading r = Sample();
    const TMillis now = Now();
    Tick();
    if (r.Result == TResult::NoConnection)
        return r.Result;
    // The scales zero in gross mode only: the tare is cleared first.
    if (FTareCounts != 0)
        return TResult::TareSet;
    if (!r.Stable)
        return TResult::WeightNotStable;
    const double raw = RawLoad(now);
    if (std::fabs(raw) > FModel->ZeroRange + FModel->Discreteness / 2) {
        FOutOfZero = true;
        return TResult::ZeroOutOfRange;
    }
    FZeroOffset = raw;
    FTrackedAt = now;
    FOutOfZero = false;
    return TResult::Ok;
}

TResult TScalePlatform::Tare()
{
    const TReading r = Sample();
    Tick();
    if (r.Result != TResult::Ok)
        return r.Result;
    if (!r.Stable)
        return TResult::WeightNotStable;
    // Tare on an empty (or lighter than zero) platform clears the tare.
    if (!IsValidTare(*FModel, std::max(r.Gross, 0.0)))
        return TResult::OutOfRange;
    const std::int64_t grossCounts = Count(r.Gross);
    FTareCounts = grossCounts > 0 ? grossCounts : 0;
    FTareWeight = Kilograms(FTareCounts);
    return TResult::Ok;
}

TResult TScalePlatform::SetTareWeight(double kg)
{
    if (!IsValidTare(*FModel, kg))
        return TResult::OutOfRange;
    FTareWeight = kg;
    return TResult::Ok;
}

TResult TScalePlatform::SetTare(double kg)
{
    if (!Connected())
        return TResult::NoConnection;
    if (!IsValidTare(*FModel, kg))
        return TResult::OutOfRange;
    FTareCounts = Count(kg);
    FTareWeight = Kilograms(FTareCounts);
    return TResult::Ok;
}

void TScalePlatform::Restart()
{
    FLoad = 0;
    FForcedUnstable = false;
    FConnected = true;
    FAnswerAtOnce = false;
    FAnswerDelay = 0;
    PowerOn();
    FChangedAt = Now() - FModel->SettlingMs; // standing idle: settled
    FSwingStart = Now();
    RestartProfile();
}

void TScalePlatform::PowerOn()
{
    const TMillis now = Now();
    FZeroOffset = 0;
    FTrackedAt = now;
    FTareCounts = 0;
    FTareWeight = 0;
    FOutOfZero = false;
    FLoadBefore = FLoad;
    FChangedAt = now;
}

} // namespace trutina
