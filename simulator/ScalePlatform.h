// The simulated weighing platform of one logical device: the load on it, how it settles, its zero,
// its tare and the reading with its status flags. Not thread-safe: TScaleDriver guards it.
#pragma once

#include "simulator/Clock.h"
#include "simulator/DriverSettings.h"
#include "simulator/ResultCodes.h"
#include "simulator/ScaleModels.h"

#include <cstdint>

namespace trutina {

// One indication of the scales. Weights are multiples of the scale interval.
struct TReading {
    TResult Result = TResult::Ok; // Ok, NoConnection, Overload or WeightOutOfRange
    double Weight = 0;            // net while a tare is set, else gross (kg)
    double Gross = 0;
    bool Stable = true; // nothing is known to be unstable before the first reading
    bool Netto = false;        // a tare is set
    bool ZeroTracking = false; // stable at the centre of zero: auto-zero tracking holds the zero
    bool OutOfZero = false;    // the last zero setting was refused as out of range
    bool Negative = false;     // the weight shown is below zero
    bool Overload = false;     // gross above capacity + 9 d
    bool InvalidRange = false; // gross below -20 d (underload)
    bool operator==(const TReading&) const = default;
};

class TScalePlatform {
public:
    TScalePlatform(const TScaleModel& model, const IClock& clock);

    const TScaleModel& Model() const { return *FModel; }
    // Another model on the same platform: the scales restart.
    void SetModel(const TScaleModel& model);

    // Load control, as the operator or a load profile drives it.
    void PutLoad(double kg);
    double Load() const { return FLoad; }
    void SetUnstable(bool unstable);
    bool Unstable() const { return FForcedUnstable; }
    void SetConnected(bool connected);
    bool Connected();
    // Runs the profile from now on (nullptr stops it; the platform keeps the state it reached).
    void StartProfile(const TLoadProfile* profile);
    // 0 = tare kept until cleared, 1 = tare cleared when the platform is emptied.
    void SetTareMode(std::int32_t mode) { FTareMode = mode; }

    // Weighing.
    TReading Read();
    TResult Zero();
    TResult Tare();
    TResult SetTare(double kg); // kg within 0..capacity, rounded to the scale interval
    double TareWeight() const;
    // The power-on state: zero at the factory zero, no tare, flags clear, settling from now.
    void PowerOn();

private:
    void ApplyProfile();
    void ChangeLoad(double kg, TMillis at);
    double RawLoad(TMillis now) const; // what the load cell feels, before zero and rounding
    bool IsStable(TMillis now) const;
    std::int64_t Count(double kg) const; // kg in scale intervals, rounded half away from zero
    double Kilograms(std::int64_t counts) const;

    const TScaleModel* FModel;
    const IClock& FClock;
    double FLoad = 0;
    double FLoadBefore = 0;
    TMillis FChangedAt;
    bool FForcedUnstable = false;
    bool FConnected = true;
    double FZeroOffset = 0;
    std::int64_t FTareCounts = 0;
    bool FOutOfZero = false;
    std::int32_t FTareMode = 0;
    const TLoadProfile* FProfile = nullptr;
    TMillis FProfileStart = 0;
    std::int64_t FAppliedStep = -1; // cycle * steps + index of the profile step last applied
};

} // namespace trutina
