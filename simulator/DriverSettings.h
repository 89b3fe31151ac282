// What the driver keeps between runs: the logical devices with their stored device parameters,
// the driver's own settings and the scripted load profiles. Plain data; TSettingsStore writes it.
#pragma once

#include "simulator/Clock.h"
#include "simulator/ResultCodes.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trutina {

// The parameters kept in the scales' own memory, chosen by ValuePurpose.
enum class TValuePurpose : std::int32_t {
    ProtocolType = 0, // 0..2
    BaudRate = 1,     // a baud-rate code of the scales' port
    SleepMode = 2,    // minutes of idleness before the display sleeps, 0 = never (0..60)
    TareMode = 3,     // 0 = tare kept until cleared, 1 = cleared when the platform is emptied
    Password = 4,     // 0..999999
};
constexpr std::int32_t ValuePurposeCount = 5;

struct TDeviceParameters {
    std::int32_t ProtocolType = 1;
    std::int32_t BaudRate = 7;
    std::int32_t SleepMode = 0;
    std::int32_t TareMode = 0;
    std::int32_t Password = 0;

    std::int32_t Get(TValuePurpose purpose) const;
    void Set(TValuePurpose purpose, std::int32_t value);
    // Whether value is acceptable for the parameter.
    static bool IsValid(TValuePurpose purpose, std::int32_t value);
    bool operator==(const TDeviceParameters&) const = default;
};

struct TLoadStep {
    TMillis At = 0;            // offset from the start of the profile
    double Load = 0;           // kg on the platform from then on
    bool Unstable = false;     // the weight swings (someone leans on the platform)
    bool Disconnected = false; // the scales do not answer
    TResult Refuse = TResult::Ok; // a code of the table: the next RefuseCount operations are refused with it
    std::int32_t RefuseCount = 1;
    // The operations the refusal hits (member names, "Poll" for the poller's readings); empty:
    // every write and method.
    std::vector<std::string> RefuseOperations = {};
    TMillis DelayMs = 0; // the scales answer this late
    // With Disconnected: the line reports no connection at once, not after Timeout (a port whose
    // adapter is gone rather than a cut cable).
    bool AnswerAtOnce = false;
    bool operator==(const TLoadStep&) const = default;
};

// A scripted load: each step holds from its offset until the next one. With LoopMs > 0 the
// script starts again every LoopMs.
struct TLoadProfile {
    std::vector<TLoadStep> Steps; // ordered by At
    TMillis LoopMs = 0;
    // The step in force at the elapsed time, or nullptr before the first one. hint: the index of
    // the step found last (looked at first, then the one after it), updated.
    const TLoadStep* StepAt(TMillis elapsed, std::size_t* hint = nullptr) const;
    bool operator==(const TLoadProfile&) const = default;
};

struct TDeviceSettings {
    std::int32_t Number = 1;
    std::u16string Name;
    std::int32_t PortNumber = 1;
    std::int32_t BaudRate = 7; // 9600
    std::int32_t Parity = 0;
    std::int32_t Model = 5;
    bool Enabled = false;
    TDeviceParameters Parameters;
    std::string LoadProfile; // name of a profile in TDriverSettings::LoadProfiles, empty = none
    std::int64_t PriceStep = 100; // SalesPrice is rounded to this many money units (0.01): a PriceSteps value
    bool operator==(const TDeviceSettings&) const = default;
};

// The price rounding steps a device offers, in money units (amount x 10000): 0.0001, 0.01, 0.05, 0.1, 1.
constexpr std::int64_t PriceSteps[] = {1, 100, 500, 1000, 10000};
bool IsPriceStep(std::int64_t step);

constexpr std::size_t MaxDeviceNameLength = 64; // characters: a surrogate pair counts as one
// Whether a device name is acceptable: 1 to MaxDeviceNameLength characters.
bool IsValidDeviceName(std::u16string_view name);

// Load profiles: offsets and loop lengths up to 30 days, loads within +-1000 t (far beyond every
// model's capacity, so an overload stays reachable). Beyond these a settings file is damaged.
constexpr TMillis MaxProfileMs = 30LL * 24 * 60 * 60 * 1000;
constexpr double MaxProfileLoad = 1e6; // kg
constexpr double MaxWeightStep = 1000; // kg
// Whether kg is a weight step the driver takes (0-1000 kg): the file and the interface share it.
bool IsValidWeightStep(double kg);
constexpr std::int32_t MaxRefuseCount = 1000;        // operations a profile step refuses
constexpr TMillis MaxAnswerDelay = 60'000;            // ms a profile step delays the scales' answers
// Whether name is an operation a profile step's refusal can aim at: a write or method of the
// interface, or "Poll" (the poller's readings).
bool IsRefusableOperation(std::string_view name);
constexpr TMillis MaxSimulatedMsPerReading = 60'000; // a minute of simulated time per reading

// A settings file found damaged and put aside.
struct TSettingsDamage {
    std::string KeptAs;  // the name the damaged file was kept under; empty: no copy could be made
    std::string Problem = {}; // what was wrong: the key or line and what was expected
    bool operator==(const TSettingsDamage&) const = default;
};

struct TDriverSettings {
    std::vector<TDeviceSettings> Devices;
    std::int32_t CurrentDeviceNumber = 1;
    bool LockDevices = false;
    std::int32_t PollingInterval = 2; // 200 ms
    double WeightStep = 0;
    bool UpdatePrice = true;
    bool AutoDisable = false;
    std::int32_t Timeout = 1000; // ms
    // Simulated time: each reading of a device's scales moves their clock on by this many ms
    // (settling, swing and load profile alike), so that a run of readings gives the same weights
    // on any machine; 0 runs the scales on the real clock.
    TMillis SimulatedMsPerReading = 0;
    std::map<std::string, TLoadProfile> LoadProfiles;
    // A damaged settings file not yet reported by an operation. Kept in the file so that whichever
    // instance makes the next operation reports it.
    std::optional<TSettingsDamage> Damaged;
    bool operator==(const TDriverSettings&) const = default;

    // The device with the number, or nullptr.
    TDeviceSettings* FindDevice(std::int32_t number);
    const TDeviceSettings* FindDevice(std::int32_t number) const;

    // One enabled-off device number 1 on COM 1 at 9600, model 5.
    static TDriverSettings Defaults();
    // An empty text when the settings hold together, else what is wrong (for the damaged-file
    // report): device numbers unique and 1-99, codes valid, current device present, profiles known.
    std::string Problem() const;
};

// The default name of the device with the given number: "Весы N".
std::u16string DefaultDeviceName(std::int32_t number);

// Polling interval codes 0-4 and their period.
constexpr std::int32_t PollingIntervalCount = 5;
TMillis PollingPeriodMs(std::int32_t code); // 50, 100, 200, 500, 1000; 0 for an invalid code

constexpr std::int32_t MinTimeout = 50;
constexpr std::int32_t MaxTimeout = 60000;

} // namespace trutina
