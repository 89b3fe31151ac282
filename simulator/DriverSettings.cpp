#include "simulator/DriverSettings.h"

#include "simulator/ScaleModels.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace trutina {

std::int32_t TDeviceParameters::Get(TValuePurpose purpose) const
{
    switch (purpose) {
    case TValuePurpose::ProtocolType: return ProtocolType;
    case TValuePurpose::BaudRate: return BaudRate;
    case TValuePurpose::SleepMode: return SleepMode;
    case TValuePurpose::TareMode: return TareMode;
    case TValuePurpose::Password: return Password;
    }
    return 0;
}

void TDeviceParameters::Set(TValuePurpose purpose, std::int32_t value)
{
    switch (purpose) {
    case TValuePurpose::ProtocolType: ProtocolType = value; break;
    case TValuePurpose::BaudRate: BaudRate = value; break;
    case TValuePurpose::SleepMode: SleepMode = value; break;
    case TValuePurpose::TareMode: TareMode = value; break;
    case TValuePurpose::Password: Password = value; break;
    }
}

bool TDeviceParameters::IsValid(TValuePurpose purpose, std::int32_t value)
{
    switch (purpose) {
    case TValuePurpose::ProtocolType: return value >= 0 && value <= 2;
    case TValuePurpose::BaudRate: return IsBaudRateCode(value);
    case TValuePurpose::SleepMode: return value >= 0 && value <= 60;
    case TValuePurpose::TareMode: return value == 0 || value == 1;
    case TValuePurpose::Password: return value >= 0 && value <= 999999;
    }
    return false;
}

const TLoadStep* TLoadProfile::StepAt(TMillis elapsed) const
{
    if (Steps.empty() || elapsed < 0)
        return nullptr;
    if (LoopMs > 0)
        elapsed %= LoopMs;
    const TLoadStep* found = nullptr;
    for (const auto& step : Steps) {
        if (step.At > elapsed)
            break;
        found = &step;
    }
    return found;
}

bool IsValidWeightStep(double kg) { return std::isfinite(kg) && kg >= 0 && kg <= MaxWeightStep; }

bool IsValidDeviceName(std::u16string_view name)
{
    std::size_t characters = 0;
    for (std::size_t i = 0; i < name.size(); ++i, ++characters)
        if (i + 1 < name.size() && name[i] >= 0xD800 && name[i] <= 0xDBFF && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF)
            ++i; // a surrogate pair is one character
    return characters >= 1 && characters <= MaxDeviceNameLength;
}

std::u16string DefaultDeviceName(std::int32_t number)
{
    std::u16string name = u"Весы ";
    for (char c : std::to_string(number))
        name += static_cast<char16_t>(c);
    return name;
}

TDriverSettings TDriverSettings::Defaults()
{
    TDriverSettings s;
    TDeviceSettings device;
    device.Number = 1;
    device.Name = DefaultDeviceName(1);
    s.Devices.push_back(device);
    s.CurrentDeviceNumber = 1;
    return s;
}

TDeviceSettings* TDriverSettings::FindDevice(std::int32_t number)
{
    const auto it = std::find_if(Devices.begin(), Devices.end(), [&](const TDeviceSettings& d) { return d.Number == number; });
    return it == Devices.end() ? nullptr : &*it;
}

const TDeviceSettings* TDriverSettings::FindDevice(std::int32_t number) const
{
    return const_cast<TDriverSettings*>(this)->FindDevice(number);
}

std::string TDriverSettings::Problem() const
{
    if (Devices.empty())
        return "no logical devices";
    std::set<std::int32_t> numbers;
    for (const auto& d : Devices) {
        const std::string which = "device " + std::to_string(d.Number) + ": ";
        if (d.Number < MinDeviceNumber || d.Number > MaxDeviceNumber)
            return which + "number outside 1-99";
        if (!numbers.insert(d.Number).second)
            return which + "number used twice";
        if (!IsValidDeviceName(d.Name))
            return which + "bad name length";
        if (d.PortNumber < MinPortNumber || d.PortNumber > MaxPortNumber)
            return which + "port outside 1-32";
        if (!IsBaudRateCode(d.BaudRate))
            return which + "unknown baud-rate code";
        if (!IsParityCode(d.Parity))
            return which + "unknown parity code";
        if (!FindScaleModel(d.Model))
            return which + "unknown model";
        for (std::int32_t p = 0; p < ValuePurposeCount; ++p)
            if (!TDeviceParameters::IsValid(TValuePurpose(p), d.Parameters.Get(TValuePurpose(p))))
                return which + "device parameter " + std::to_string(p) + " invalid";
        if (!d.LoadProfile.empty() && !LoadProfiles.count(d.LoadProfile))
            return which + "unknown load profile \"" + d.LoadProfile + "\"";
    }
    if (!FindDevice(CurrentDeviceNumber))
        return "current device " + std::to_string(CurrentDeviceNumber) + " does not exist";
    if (PollingInterval < 0 || PollingInterval >= PollingIntervalCount)
        return "polling interval code outside 0-4";
    if (!IsValidWeightStep(WeightStep))
        return "weight step outside 0-1000 kg";
    if (Timeout < MinTimeout || Timeout > MaxTimeout)
        return "timeout outside range";
    if (SimulatedMsPerReading < 0 || SimulatedMsPerReading > MaxSimulatedMsPerReading)
        return "simulated time per reading outside 0-60000 ms";
    for (const auto& [name, profile] : LoadProfiles) {
        TMillis last = -1;
        for (const auto& step : profile.Steps) {
            if (step.At < 0 || step.At < last || step.At > MaxProfileMs)
                return "load profile \"" + name + "\": steps out of order or beyond 30 days";
            if (!std::isfinite(step.Load) || std::fabs(step.Load) > MaxProfileLoad)
                return "load profile \"" + name + "\": load outside +-1000 t";
            if (!FindResult(static_cast<std::int32_t>(step.Refuse)) || step.RefuseCount < 1 ||
                step.RefuseCount > MaxRefuseCount)
                return "load profile \"" + name + "\": a refusal outside the code table or its count outside 1-1000";
            last = step.At;
        }
        if (profile.LoopMs < 0 || profile.LoopMs > MaxProfileMs || (profile.LoopMs > 0 && profile.LoopMs <= last))
            return "load profile \"" + name + "\": loop shorter than its steps";
    }
    return {};
}

TMillis PollingPeriodMs(std::int32_t code)
{
    static constexpr TMillis Periods[PollingIntervalCount] = {50, 100, 200, 500, 1000};
    return code >= 0 && code < PollingIntervalCount ? Periods[code] : 0;
}

} // namespace trutina
