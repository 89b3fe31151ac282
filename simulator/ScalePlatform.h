// The simulated weighing platform of one logical device: the load on it, how it settles, its zero,
// its tare and the reading with its status flags. Not thread-safe: TScaleDriver guards it.
#pragma once

#include "simulator/Clock.h"
#include "simulator/DriverSettings.h"
#include "simulator/ResultCodes.h"
#include "simulator/ScaleModels.h"

#include <cstdint>
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trutina {

// Auto-zero tracking follows slow drift only: at most half an interval per second.
constexpr double TrackingIntervalsPerSecond = 0.5;

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
    // Whether a cut line reports no connection at once (the dialog's choice, or a profile step's
    // answerAtOnce) rather than after the caller's Timeout.
    bool AnswersAtOnce();
    void SetAnswerAtOnce(bool atOnce) { FAnswerAtOnce = atOnce; }
    // Keeps a copy of the profile (named name) and runs it from now on; nullptr, or a profile
    // without steps, forgets the profile. The platform keeps the state it reached.
    void StartProfile(const TLoadProfile* profile, std::string name = {});
    // The same, without running it: RestartProfile starts it.
    void SetProfile(const TLoadProfile* profile, std::string name = {});
    // Stops the profile where it is (the load it put on stays); RestartProfile runs it again from
    // its beginning. Both do nothing without a profile.
    void StopProfile() { FProfileRunning = false; }
    void RestartProfile();
    struct TProfileState {
        std::string Name; // empty: no profile
        bool Running = false;
        std::int32_t Step = -1; // index of the step in force, -1 before the first one
        std::int32_t StepCount = 0;
        TMillis Elapsed = 0; // time in the profile (within its loop)
    };
    TProfileState ProfileState();
    // A refusal due from a profile step for the operation (a member name, "Poll" for the poller's
    // readings): its code, counting one operation off; nullopt when none is due. A step that names
    // no operations hits every write and method, not the poller.
    std::optional<TResult> TakeRefusal(std::string_view operation = {});
    // How late the scales answer (ms): set by the dialog or by the profile step in force.
    TMillis AnswerDelay();
    void SetAnswerDelay(TMillis ms) { FAnswerDelay = std::clamp<TMillis>(ms, 0, MaxAnswerDelay); }

    // Simulated time: each reading moves the platform's own clock on by msPerReading (settling,
    // swing and profile all run on it); 0 runs on the real clock.
    void SetSimulatedTime(TMillis msPerReading);
    // 0 = tare kept until cleared, 1 = tare cleared when the platform is emptied.
    void SetTareMode(std::int32_t mode) { FTareMode = mode; }

    // Weighing. Read, Zero and Tare each take one reading of the scales (one step of simulated
    // time); Look shows the indication now without taking one.
    TReading Read();
    TReading Look();
    TResult Zero();
    TResult Tare();
    TResult SetTare(double kg); // kg within 0..capacity, rounded to the scale interval
    // The TareWeight property: the tare held (after Tare or SetTare) or a value written for the
    // next SetTare; cleared with the tare (power-on, a new model, an emptied platform in tare mode 1).
    double TareWeight() const { return FTareWeight; }
    TResult SetTareWeight(double kg); // checked as a tare, not yet taken
    // The power-on state: zero at the factory zero, no tare, flags clear, settling from now.
    void PowerOn();
    // The scales as a new platform starts them (nothing on it, settled, connected, no swing, the
    // power-on state), then the profile from its beginning: a restarted run equals a fresh one.
    void Restart();
    // A reading asked for and not taken (refused before it reached the scales): time moves on as
    // for one taken.
    void SkipReading() { Tick(); }

private:
    TMillis Now() const;
    void Tick(); // one reading taken: simulated time moves on
    void ApplyProfile();
    void ChangeLoad(double kg, TMillis at);
    TReading Sample();
    double RawLoad(TMillis now) const; // what the load cell feels, before zero and rounding
    bool IsStable(TMillis now) const;
    std::int64_t Count(double kg) const; // kg in scale intervals, rounded half away from zero
    double Kilograms(std::int64_t counts) const;

    const TScaleModel* FModel;
    const IClock& FClock;
    TMillis FMsPerReading = 0;
    TMillis FSimulatedNow = 0;
    double FLoad = 0;
    double FLoadBefore = 0;
    TMillis FChangedAt;
    bool FForcedUnstable = false;
    TMillis FSwingStart = 0; // the swing's phase counts from here: the same swing every run
    bool FConnected = true;
    bool FAnswerAtOnce = false;
    double FZeroOffset = 0;
    std::int64_t FTareCounts = 0;
    double FTareWeight = 0;
    TMillis FTrackedAt; // when auto-zero tracking last moved the zero
    bool FOutOfZero = false;
    std::int32_t FTareMode = 0;
    std::optional<TLoadProfile> FProfile;
    std::string FProfileName;
    bool FProfileRunning = false;
    TMillis FProfileStart = 0;
    std::int64_t FAppliedStep = -1; // cycle * steps + index of the profile step last applied
    TResult FRefusal = TResult::Ok;  // refusal of the last step applied ...
    std::int32_t FRefusalsLeft = 0;  // ... for this many more operations ...
    std::vector<std::string> FRefused; // ... of these (empty: every write and method)
    std::size_t FStepHint = 0;       // the profile step found last
    TMillis FAnswerDelay = 0;
};

// Whether kg can be a tare of the model: 0 to its capacity. Tare and the TareWeight write share it.
bool IsValidTare(const TScaleModel& model, double kg);

} // namespace trutina
