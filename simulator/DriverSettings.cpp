#include "simulator/DriverSettings.h"

#include "simulator/ScaleModels.h"
#include "driver/Trutina_TLB.h"

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

const TLoadStep* TLoadProfile::StepAt(TMillis elapsed, std::size_t* hint) const
{
    if (Steps.empty() || elapsed < 0)
        return nullptr;
    if (LoopMs > 0)
        elapsed %= LoopMs;
    // Time moves on by small steps: the step found last, or the one after it, is almost always the
    // one in force; otherwise a binary search. Either way the cost does not grow with the steps.
    auto holds = [&](std::size_t i) { return Steps[i].At <= elapsed && (i + 1 == Steps.size() || Steps[i + 1].At > elapsed); };
    std::size_t found = 0;
    if (hint && *hint < Steps.size() && holds(*hint)) {
        found = *hint;
    } else if (hint && *hint + 1 < Steps.size() && holds(*hint + 1)) {
        found = *hint + 1;
    } else {
        const auto after = std::upper_bound(Steps.begin(), Steps.end(), elapsed,
                                            [](TMillis t, const TLoadStep& step) { return t < step.At; });
        if (after == Steps.begin())
            return nullptr;
        found = static_cast<std::size_t>(after - Steps.begin()) - 1;
    }
    if (hint)
        *hint = found;
    return &Steps[found];
}

bool IsPriceStep(std::int64_t step) { return std::find(std::begin(PriceSteps), std::end(PriceSteps), step) != std::end(PriceSteps); }

bool IsRefusableOperation(std::string_view name)
{
#define TRUTINA_OPERATION_NONE(...)
#define TRUTINA_OPERATION_NAME(n, member, ...) #member,
    static constexpr std::string_view Names[] = {
        TRUTINA_MEMBERS(TRUTINA_OPERATION_NONE, TRUTINA_OPERATION_NAME, TRUTINA_OPERATION_NAME) "Poll"};
#undef TRUTINA_OPERATION_NONE
#undef TRUTINA_OPERATION_NAME
    return std::find(std::begin(Names), std::end(Names), name) != std::end(Names);
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
        return "devices: ожидалось хотя бы одно устройство";
    std::set<std::int32_t> numbers;
    for (std::size_t i = 0; i < Devices.size(); ++i) {
        const TDeviceSettings& d = Devices[i];
        const std::string which = "devices[" + std::to_string(i) + "].";
        if (d.Number < MinDeviceNumber || d.Number > MaxDeviceNumber)
            return which + "number: ожидался номер от 1 до 99";
        if (!numbers.insert(d.Number).second)
            return which + "number: номер " + std::to_string(d.Number) + " уже занят другим устройством";
        if (!IsValidDeviceName(d.Name))
            return which + "name: ожидалось от 1 до 64 символов";
        if (d.PortNumber < MinPortNumber || d.PortNumber > MaxPortNumber)
            return which + "port: ожидался порт от 1 до 32";
        if (!IsBaudRateCode(d.BaudRate))
            return which + "baudRate: ожидался код скорости 3, 4, 5, 7, 10, 12, 14 или 18";
        if (!IsParityCode(d.Parity))
            return which + "parity: ожидалось 0 или 2";
        if (!FindScaleModel(d.Model))
            return which + "model: ожидалась модель 3, 5 или 11";
        static constexpr const char* ParameterKeys[ValuePurposeCount] = {"protocolType", "baudRate", "sleepMode", "tareMode",
                                                                         "password"};
        for (std::int32_t p = 0; p < ValuePurposeCount; ++p)
            if (!TDeviceParameters::IsValid(TValuePurpose(p), d.Parameters.Get(TValuePurpose(p))))
                return which + "parameters." + ParameterKeys[p] + ": значение не подходит параметру";
        if (!IsPriceStep(d.PriceStep))
            return which + "priceRounding: ожидалось 0.0001, 0.01, 0.05, 0.1 или 1";
        if (!d.LoadProfile.empty() && !LoadProfiles.count(d.LoadProfile))
            return which + "loadProfile: нет сценария \"" + d.LoadProfile + "\" в loadProfiles";
    }
    if (!FindDevice(CurrentDeviceNumber))
        return "currentDevice: нет устройства с номером " + std::to_string(CurrentDeviceNumber);
    if (PollingInterval < 0 || PollingInterval >= PollingIntervalCount)
        return "pollingInterval: ожидался код от 0 до 4";
    if (!IsValidWeightStep(WeightStep))
        return "weightStep: ожидалось от 0 до 1000 кг";
    if (Timeout < MinTimeout || Timeout > MaxTimeout)
        return "timeout: ожидалось от 50 до 60000 мс";
    if (SimulatedMsPerReading < 0 || SimulatedMsPerReading > MaxSimulatedMsPerReading)
        return "simulatedMsPerReading: ожидалось от 0 до 60000 мс";
    for (const auto& [name, profile] : LoadProfiles) {
        TMillis last = -1;
        for (std::size_t j = 0; j < profile.Steps.size(); ++j) {
            const TLoadStep& step = profile.Steps[j];
            const std::string which = "loadProfiles." + name + ".steps[" + std::to_string(j) + "].";
            if (step.At < 0 || step.At < last || step.At > MaxProfileMs)
                return which + "at: ожидалось не меньше, чем у шага перед ним, и не больше 30 суток";
            if (!std::isfinite(step.Load) || std::fabs(step.Load) > MaxProfileLoad)
                return which + "load: ожидалось от -1000000 до 1000000 кг";
            if (!FindResult(static_cast<std::int32_t>(step.Refuse)))
                return which + "refuse: ожидался код из таблицы кодов";
            if (step.RefuseCount < 1 || step.RefuseCount > MaxRefuseCount)
                return which + "refuseCount: ожидалось от 1 до 1000";
            for (const std::string& operation : step.RefuseOperations)
                if (!IsRefusableOperation(operation))
                    return which + "refuseOperations: \"" + operation + "\" не запись свойства и не метод (или Poll)";
            if (step.DelayMs < 0 || step.DelayMs > MaxAnswerDelay)
                return which + "delayMs: ожидалось от 0 до 60000 мс";
            last = step.At;
        }
        if (profile.LoopMs < 0 || profile.LoopMs > MaxProfileMs || (profile.LoopMs > 0 && profile.LoopMs <= last))
            return "loadProfiles." + name + ".loopMs: ожидалось больше последнего шага и не больше 30 суток";
    }
    return {};
}

TMillis PollingPeriodMs(std::int32_t code)
{
    static constexpr TMillis Periods[PollingIntervalCount] = {50, 100, 200, 500, 1000};
    return code >= 0 && code < PollingIntervalCount ? Periods[code] : 0;
}

} // namespace trutina
