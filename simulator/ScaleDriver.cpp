#include "simulator/ScaleDriver.h"

#include "runtime/utf.h"

#include <algorithm>
#include <cmath>
#include <set>

#ifndef PROJECT_VERSION
#error "PROJECT_VERSION must come from the build (the project version)"
#endif

namespace trutina {

TMoney Cost(double weight, TMoney unitPrice)
{
    // Weight to 0.1 g (exact for every scale interval of the models), then the product divided by
    // 10000 in 64 bits: both factors split at 10000 (a = q*10000 + r, b = s*10000 + t, the parts
    // of one factor carrying its sign), so every partial product has the result's sign and none is
    // larger than the result; only r*t / 10000 has a fraction, which is rounded half away from zero.
    constexpr std::int64_t Unit = 10000;
    const std::int64_t tenthGrams = std::llround(weight * 10000);
    const std::int64_t q = tenthGrams / Unit, r = tenthGrams % Unit;
    const std::int64_t s = unitPrice / Unit, t = unitPrice % Unit;
    const std::int64_t low = r * t; // |low| < 10^8
    std::int64_t lowQuotient = low / Unit;
    if (2 * (low < 0 ? -(low % Unit) : low % Unit) >= Unit)
        lowQuotient += low < 0 ? -1 : 1;
    return q * s * Unit + q * t + r * s + lowQuotient;
}

TScaleDriver::TScaleDriver(TDriverSettings settings, ISettingsSink* sink, const IClock& clock)
    : FClock(clock), FSink(sink), FSettings(std::move(settings)), FPoller([this] { PollOnce(); })
{
    if (!FSettings.Problem().empty()) {
        const std::string kept = FSettings.DamagedCopy;
        FSettings = TDriverSettings::Defaults();
        FSettings.DamagedCopy = kept;
    }
    FFileCurrent = FSettings.CurrentDeviceNumber;
    FResultDescription = runtime::Utf8ToUtf16(trutina::ResultDescription(TResult::Ok));
}

TScaleDriver::~TScaleDriver() { FPoller.Stop(); }

void TScaleDriver::ReportSettingsRefused(std::string why)
{
    std::lock_guard lock(FMutex);
    FSettingsRefused = std::move(why);
}

void TScaleDriver::SetEventDue(std::function<void()> eventDue)
{
    std::lock_guard lock(FMutex);
    FEventDue = std::move(eventDue);
}

// ------------------------------------------------------------------ operation frame

template <typename Body> TResult TScaleDriver::Operation(Body&& body, bool stored)
{
    TResult result;
    {
        TLock lock(FMutex);
        if (FInjected) {
            const TResult injected = *FInjected;
            FInjected.reset();
            return Finish(injected);
        }
        // A load profile's refusal hits the operations made while its device is current.
        if (auto it = FPlatforms.find(FSettings.CurrentDeviceNumber); it != FPlatforms.end())
            if (const std::optional<TResult> refusal = it->second->TakeRefusal())
                return Finish(*refusal);
        FCurrentChosen = false;
        FFileLock = stored ? Reread() : nullptr;
        result = Finish(body());
        FFileLock.reset();
    }
    UpdatePoller();
    if (DataEventDue())
        NotifyEventDue();
    return result;
}

TResult TScaleDriver::Finish(TResult code, const std::string& detail)
{
    std::string text = trutina::ResultDescription(code);
    if (code == TResult::Ok) {
        // Notices wait for an operation that succeeded: the operation is done, the code reports them.
        if (!FSettingsRefused.empty()) {
            code = TResult::SettingsRefused;
            text = trutina::ResultDescription(code) + " (" + FSettingsRefused + ")";
            FSettingsRefused.clear();
        } else if (!FSettings.DamagedCopy.empty()) {
            code = TResult::SettingsDamaged;
            const std::string copy = FSettings.DamagedCopy;
            text = trutina::ResultDescription(code) +
                   (copy.front() == '(' ? " " + copy : " (повреждённый файл сохранён как " + copy + ")");
            // Cleared in the file as a change of its own: under the lock, over the latest settings.
            const std::shared_ptr<void> fileLock = FFileLock ? nullptr : Reread();
            FSettings.DamagedCopy.clear();
            if (Persist() != TResult::Ok)
                text += "; " + trutina::ResultDescription(TResult::SettingsNotSaved);
        } else if (const std::uint64_t lost = FMessages.TakeLost()) {
            code = TResult::MessagesLost;
            text = trutina::ResultDescription(code) + " (" + std::to_string(lost) + ")";
        }
    } else if (!detail.empty()) {
        text += " (" + detail + ")";
    }
    FResultCode = static_cast<std::int32_t>(code);
    FResultDescription = runtime::Utf8ToUtf16(text);
    return code;
}

TResult TScaleDriver::Persist()
{
    if (!FSink)
        return TResult::Ok;
    TDriverSettings stored = FSettings;
    // The file's current device changes only when this object chooses one: another's choice stays.
    if (!FCurrentChosen && std::any_of(stored.Devices.begin(), stored.Devices.end(),
                                       [&](const TDeviceSettings& d) { return d.Number == FFileCurrent; }))
        stored.CurrentDeviceNumber = FFileCurrent;
    FUnsaved = !FSink->Save(stored);
    if (FUnsaved)
        return TResult::SettingsNotSaved;
    FFileCurrent = stored.CurrentDeviceNumber;
    return TResult::Ok;
}

std::shared_ptr<void> TScaleDriver::Reread()
{
    if (!FSink)
        return nullptr;
    ISettingsSink::TLatest latest = FSink->Latest();
    // While a change of this object could not be written, its own settings are ahead of the file.
    if (latest.Settings && !FUnsaved)
        Adopt(std::move(*latest.Settings));
    if (!latest.DamagedCopy.empty())
        FSettings.DamagedCopy = latest.DamagedCopy;
    return latest.Lock;
}

void TScaleDriver::Adopt(TDriverSettings latest)
{
    FFileCurrent = latest.CurrentDeviceNumber;
    const std::int32_t own = FSettings.CurrentDeviceNumber;
    auto has = [&](std::int32_t number) {
        return std::any_of(latest.Devices.begin(), latest.Devices.end(),
                           [&](const TDeviceSettings& d) { return d.Number == number; });
    };
    // This object keeps its own current device while it exists.
    const std::int32_t current = has(own) ? own : latest.CurrentDeviceNumber;
    latest.CurrentDeviceNumber = own;
    FSettings = std::move(latest);
    // The scales of a device gone go with it; another model restarts a device's scales.
    for (auto it = FPlatforms.begin(); it != FPlatforms.end();) {
        const auto device = std::find_if(FSettings.Devices.begin(), FSettings.Devices.end(),
                                         [&](const TDeviceSettings& d) { return d.Number == it->first; });
        if (device == FSettings.Devices.end()) {
            it = FPlatforms.erase(it);
            continue;
        }
        if (device->Model != it->second->Model().Code)
            it->second->SetModel(*FindScaleModel(device->Model));
        it->second->SetTareMode(device->Parameters.TareMode);
        it->second->SetSimulatedTime(FSettings.SimulatedMsPerReading);
        ++it;
    }
    SelectDevice(current);
}

std::int32_t TScaleDriver::ResultCode() const
{
    std::lock_guard lock(FMutex);
    return FResultCode;
}

std::u16string TScaleDriver::ResultDescription() const
{
    std::lock_guard lock(FMutex);
    return FResultDescription;
}

void TScaleDriver::SetResult(TResult code)
{
    std::lock_guard lock(FMutex);
    Finish(code);
}

// ------------------------------------------------------------------ devices

TDeviceSettings& TScaleDriver::Current()
{
    for (auto& d : FSettings.Devices)
        if (d.Number == FSettings.CurrentDeviceNumber)
            return d;
    // The settings always hold the current device; fall back to the first one if they do not.
    FSettings.CurrentDeviceNumber = FSettings.Devices.front().Number;
    return FSettings.Devices.front();
}

const TDeviceSettings& TScaleDriver::Current() const
{
    for (const auto& d : FSettings.Devices)
        if (d.Number == FSettings.CurrentDeviceNumber)
            return d;
    return FSettings.Devices.front();
}

TScalePlatform& TScaleDriver::Platform(std::int32_t number)
{
    auto it = FPlatforms.find(number);
    if (it != FPlatforms.end())
        return *it->second;
    const TDeviceSettings* device = nullptr;
    for (const auto& d : FSettings.Devices)
        if (d.Number == number)
            device = &d;
    const TScaleModel* model = FindScaleModel(device ? device->Model : 5);
    auto platform = std::make_unique<TScalePlatform>(*model, FClock);
    platform->SetSimulatedTime(FSettings.SimulatedMsPerReading);
    if (device) {
        platform->SetTareMode(device->Parameters.TareMode);
        // The device's load profile runs from when the device is on: now, or when it is switched on.
        auto profile = FSettings.LoadProfiles.find(device->LoadProfile);
        if (profile != FSettings.LoadProfiles.end()) {
            platform->SetProfile(&profile->second, profile->first);
            if (device->Enabled)
                platform->RestartProfile();
        }
    }
    return *FPlatforms.emplace(number, std::move(platform)).first->second;
}

const TScalePlatform* TScaleDriver::FindPlatform(std::int32_t number) const
{
    const auto it = FPlatforms.find(number);
    return it == FPlatforms.end() ? nullptr : it->second.get();
}

std::int32_t TScaleDriver::CurrentDeviceIndex() const
{
    std::lock_guard lock(FMutex);
    const auto& devices = FSettings.Devices;
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (devices[i].Number == FSettings.CurrentDeviceNumber)
            return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t TScaleDriver::CurrentDeviceNumber() const
{
    std::lock_guard lock(FMutex);
    return Current().Number;
}

std::u16string TScaleDriver::CurrentDeviceName() const
{
    std::lock_guard lock(FMutex);
    return Current().Name;
}

std::int32_t TScaleDriver::DeviceCount() const
{
    std::lock_guard lock(FMutex);
    return static_cast<std::int32_t>(FSettings.Devices.size());
}

bool TScaleDriver::LockDevices() const
{
    std::lock_guard lock(FMutex);
    return FSettings.LockDevices;
}

bool TScaleDriver::Connected()
{
    std::lock_guard lock(FMutex);
    return Current().Enabled && CurrentPlatform().Connected();
}

std::int32_t TScaleDriver::Model() const
{
    std::lock_guard lock(FMutex);
    return Current().Model;
}

std::int32_t TScaleDriver::PortNumber() const
{
    std::lock_guard lock(FMutex);
    return Current().PortNumber;
}

std::int32_t TScaleDriver::BaudRate() const
{
    std::lock_guard lock(FMutex);
    return Current().BaudRate;
}

std::int32_t TScaleDriver::Parity() const
{
    std::lock_guard lock(FMutex);
    return Current().Parity;
}

bool TScaleDriver::DeviceEnabled() const
{
    std::lock_guard lock(FMutex);
    return Current().Enabled;
}

std::int32_t TScaleDriver::Timeout() const
{
    std::lock_guard lock(FMutex);
    return FSettings.Timeout;
}

TDeviceSettings TScaleDriver::CurrentDevice() const
{
    std::lock_guard lock(FMutex);
    return Current();
}

TDriverSettings TScaleDriver::Settings() const
{
    std::lock_guard lock(FMutex);
    return FSettings;
}

TResult TScaleDriver::SetCurrentDeviceIndex(std::int32_t index)
{
    return StoredOperation([&] {
        if (index < 0 || index >= static_cast<std::int32_t>(FSettings.Devices.size()))
            return TResult::NoSuchDevice;
        FCurrentChosen = true;
        SelectDevice(FSettings.Devices[static_cast<std::size_t>(index)].Number);
        return Persist();
    });
}

TResult TScaleDriver::SetCurrentDeviceNumber(std::int32_t number)
{
    return StoredOperation([&] {
        for (const auto& d : FSettings.Devices)
            if (d.Number == number) {
                FCurrentChosen = true;
                SelectDevice(number);
                return Persist();
            }
        return TResult::NoSuchDevice;
    });
}

void TScaleDriver::SelectDevice(std::int32_t number)
{
    if (number == FSettings.CurrentDeviceNumber)
        return;
    // Another device: nothing of it has been read yet, and the messages of the old one go (the
    // queue is the current device's; the new device's first stable reading is news).
    FSettings.CurrentDeviceNumber = number;
    FLastReading = TReading{};
    FMetrics = TDeviceMetrics{};
    FMessages.Clear();
    FLastQueuedWeight.reset();
}

TResult TScaleDriver::ChangeDevice(const std::function<TResult(TDeviceSettings&)>& change)
{
    return StoredOperation([&] {
        if (FSettings.LockDevices)
            return TResult::DevicesLocked;
        const TResult result = change(Current());
        return result == TResult::Ok ? Persist() : result;
    });
}

TResult TScaleDriver::SetCurrentDeviceName(const std::u16string& name)
{
    return ChangeDevice([&](TDeviceSettings& d) {
        if (!IsValidDeviceName(name))
            return TResult::InvalidParameter;
        d.Name = name;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetLockDevices(bool locked)
{
    return StoredOperation([&] {
        FSettings.LockDevices = locked;
        return Persist();
    });
}

TResult TScaleDriver::SetModel(std::int32_t model)
{
    return ChangeDevice([&](TDeviceSettings& d) {
        const TScaleModel* found = FindScaleModel(model);
        if (!found)
            return TResult::InvalidParameter;
        if (d.Model != model) {
            d.Model = model;
            Platform(d.Number).SetModel(*found);
        }
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetPortNumber(std::int32_t port)
{
    return ChangeDevice([&](TDeviceSettings& d) {
        if (port < MinPortNumber || port > MaxPortNumber)
            return TResult::OutOfRange;
        d.PortNumber = port;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetBaudRate(std::int32_t code)
{
    return ChangeDevice([&](TDeviceSettings& d) {
        if (!IsBaudRateCode(code))
            return TResult::InvalidParameter;
        d.BaudRate = code;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetParity(std::int32_t code)
{
    return ChangeDevice([&](TDeviceSettings& d) {
        if (!IsParityCode(code))
            return TResult::InvalidParameter;
        d.Parity = code;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetDeviceEnabled(bool enabled)
{
    // Switching a device on or off is operation, not configuration: LockDevices does not stop it.
    return StoredOperation([&] {
        if (enabled != Current().Enabled) {
            // A device's load profile runs from the moment it is switched on.
            TScalePlatform& platform = CurrentPlatform();
            if (enabled)
                platform.RestartProfile();
            else
                platform.StopProfile();
        }
        Current().Enabled = enabled;
        return Persist();
    });
}

TResult TScaleDriver::SetTimeout(std::int32_t ms)
{
    return StoredOperation([&] {
        if (ms < MinTimeout || ms > MaxTimeout)
            return TResult::OutOfRange;
        FSettings.Timeout = ms;
        return Persist();
    });
}

TResult TScaleDriver::SetLogicalNumber(std::int32_t number)
{
    return ChangeDevice([&](TDeviceSettings& d) {
        if (number < MinDeviceNumber || number > MaxDeviceNumber)
            return TResult::OutOfRange;
        if (number == d.Number)
            return TResult::Ok;
        for (const auto& other : FSettings.Devices)
            if (other.Number == number)
                return TResult::DeviceNumberInUse;
        auto platform = FPlatforms.extract(d.Number);
        if (!platform.empty()) {
            platform.key() = number;
            FPlatforms.insert(std::move(platform));
        }
        d.Number = number;
        FSettings.CurrentDeviceNumber = number;
        FCurrentChosen = true;
        return TResult::Ok;
    });
}

TResult TScaleDriver::AddDevice(std::int32_t& number)
{
    number = 0;
    return StoredOperation([&] {
        if (FSettings.LockDevices)
            return TResult::DevicesLocked;
        std::set<std::int32_t> used;
        for (const auto& d : FSettings.Devices)
            used.insert(d.Number);
        std::int32_t free = MinDeviceNumber;
        while (used.count(free))
            ++free;
        if (free > MaxDeviceNumber)
            return TResult::TooManyDevices;
        TDeviceSettings device;
        device.Number = free;
        device.Name = DefaultDeviceName(free);
        FPlatforms.erase(free);
        FSettings.Devices.push_back(device);
        FCurrentChosen = true;
        SelectDevice(free);
        number = free;
        return Persist();
    });
}

TResult TScaleDriver::DeleteDevice()
{
    return StoredOperation([&] {
        if (FSettings.LockDevices)
            return TResult::DevicesLocked;
        auto& devices = FSettings.Devices;
        if (devices.size() <= 1)
            return TResult::LastDevice;
        auto it = std::find_if(devices.begin(), devices.end(),
                               [&](const TDeviceSettings& d) { return d.Number == FSettings.CurrentDeviceNumber; });
        if (it == devices.end())
            return TResult::NoSuchDevice;
        FPlatforms.erase(it->Number);
        it = devices.erase(it);
        // The device that took its place becomes current, or the last one.
        FCurrentChosen = true;
        SelectDevice((it != devices.end() ? *it : devices.back()).Number);
        return Persist();
    });
}

// ------------------------------------------------------------------ weighing

const TReading& TScaleDriver::Shown() const
{
    const TDataMessage* message = FMessages.Current();
    return message ? message->Reading : FLastReading;
}

TReading TScaleDriver::ShownReading() const
{
    std::lock_guard lock(FMutex);
    return Shown();
}

double TScaleDriver::Weight() const
{
    std::lock_guard lock(FMutex);
    return Shown().Weight;
}

TMoney TScaleDriver::UnitPrice() const
{
    std::lock_guard lock(FMutex);
    return FUnitPrice;
}

TMoney TScaleDriver::SalesPrice() const
{
    std::lock_guard lock(FMutex);
    const double weight = Shown().Weight;
    // The scales price only a positive weight, and only with price updating on.
    if (!FSettings.UpdatePrice || weight <= 0)
        return 0;
    return Cost(weight, FUnitPrice);
}

double TScaleDriver::TareWeight() const
{
    std::lock_guard lock(FMutex);
    // The scales own the tare: a device whose scales were never addressed holds none.
    const TScalePlatform* platform = FindPlatform(Current().Number);
    return platform ? platform->TareWeight() : 0;
}

bool TScaleDriver::UpdatePrice() const
{
    std::lock_guard lock(FMutex);
    return FSettings.UpdatePrice;
}

TResult TScaleDriver::SetUnitPrice(TMoney price)
{
    return Operation([&] {
        if (price < 0 || price > MaxUnitPrice)
            return TResult::OutOfRange;
        FUnitPrice = price;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetTareWeight(double kg)
{
    return Operation([&] { return CurrentPlatform().SetTareWeight(kg); });
}

TResult TScaleDriver::SetUpdatePrice(bool on)
{
    return StoredOperation([&] {
        FSettings.UpdatePrice = on;
        return Persist();
    });
}

TResult TScaleDriver::CheckEnabledAndConnected()
{
    if (!Current().Enabled)
        return TResult::DeviceNotEnabled;
    if (!CurrentPlatform().Connected())
        return TResult::NoConnection;
    return TResult::Ok;
}

TResult TScaleDriver::ReadWeight()
{
    return Operation([&] {
        if (!Current().Enabled)
            return TResult::DeviceNotEnabled;
        // A reading is taken (and simulated time moves on) even when the scales do not answer.
        TReading reading = CurrentPlatform().Read();
        if (reading.Result == TResult::NoConnection)
            return reading.Result;
        // A refused reading still reports the scales' status flags; the weight keeps its last value.
        if (reading.Result != TResult::Ok)
            reading.Weight = FLastReading.Weight;
        FLastReading = reading;
        return reading.Result;
    });
}

TResult TScaleDriver::Zero()
{
    return Operation([&] {
        if (!Current().Enabled)
            return TResult::DeviceNotEnabled;
        const TResult r = CurrentPlatform().Zero();
        if (r == TResult::NoConnection)
            return r;
        const TReading after = CurrentPlatform().Look();
        if (r == TResult::Ok)
            FLastReading = after;
        else
            FLastReading.OutOfZero = after.OutOfZero;
        return r;
    });
}

TResult TScaleDriver::Tare()
{
    return Operation([&] {
        if (!Current().Enabled)
            return TResult::DeviceNotEnabled;
        const TResult r = CurrentPlatform().Tare();
        if (r == TResult::Ok)
            FLastReading = CurrentPlatform().Look();
        return r;
    });
}

TResult TScaleDriver::SetTare()
{
    return Operation([&] {
        if (TResult r = CheckEnabledAndConnected(); r != TResult::Ok)
            return r;
        TScalePlatform& platform = CurrentPlatform();
        const TResult r = platform.SetTare(platform.TareWeight());
        if (r == TResult::Ok)
            FLastReading = platform.Look();
        return r;
    });
}

TResult TScaleDriver::Reset()
{
    return Operation([&] {
        if (TResult r = CheckEnabledAndConnected(); r != TResult::Ok)
            return r;
        CurrentPlatform().PowerOn();
        FLastReading = CurrentPlatform().Look();
        return TResult::Ok;
    });
}

// ------------------------------------------------------------------ device parameters and report

std::int32_t TScaleDriver::Value() const
{
    std::lock_guard lock(FMutex);
    return FValue;
}

std::int32_t TScaleDriver::ValuePurpose() const
{
    std::lock_guard lock(FMutex);
    return FValuePurpose;
}

TResult TScaleDriver::SetValue(std::int32_t value)
{
    // Any number is taken; WriteValue checks it against the parameter it goes to.
    return Operation([&] {
        FValue = value;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetValuePurpose(std::int32_t purpose)
{
    return Operation([&] {
        if (purpose < 0 || purpose >= ValuePurposeCount)
            return TResult::InvalidParameter;
        FValuePurpose = purpose;
        return TResult::Ok;
    });
}

TResult TScaleDriver::ReadValue()
{
    return Operation([&] {
        if (TResult r = CheckEnabledAndConnected(); r != TResult::Ok)
            return r;
        FValue = Current().Parameters.Get(TValuePurpose(FValuePurpose));
        return TResult::Ok;
    });
}

TResult TScaleDriver::WriteValue()
{
    return StoredOperation([&] {
        if (TResult r = CheckEnabledAndConnected(); r != TResult::Ok)
            return r;
        const TValuePurpose purpose{FValuePurpose};
        if (!TDeviceParameters::IsValid(purpose, FValue))
            return TResult::InvalidParameter;
        Current().Parameters.Set(purpose, FValue);
        if (purpose == TValuePurpose::TareMode)
            CurrentPlatform().SetTareMode(FValue);
        return Persist();
    });
}

TDeviceMetrics TScaleDriver::Metrics() const
{
    std::lock_guard lock(FMutex);
    return FMetrics;
}

TResult TScaleDriver::GetDeviceMetrics()
{
    return Operation([&] {
        if (TResult r = CheckEnabledAndConnected(); r != TResult::Ok)
            return r;
        const TScaleModel& model = CurrentPlatform().Model();
        const TDeviceParameters& parameters = Current().Parameters;
        FMetrics.ProtocolVersion = model.ProtocolVersion;
        FMetrics.DeviceType = model.DeviceType;
        FMetrics.DeviceModel = model.Code;
        FMetrics.OperatingMode = parameters.SleepMode > 0 ? 1 : 0;
        FMetrics.SoftwareVersion = model.SoftwareVersion;
        FMetrics.SoftwareSubVersion = model.SoftwareSubVersion;
        FMetrics.SoftwareBuild = model.SoftwareBuild;
        FMetrics.CodePage = model.CodePage;
        FMetrics.DeviceName = runtime::Utf8ToUtf16(model.Name);
        return TResult::Ok;
    });
}

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

// ------------------------------------------------------------------ the rest

std::int32_t TScaleDriver::ApplicationHandle() const
{
    std::lock_guard lock(FMutex);
    return FApplicationHandle;
}

TResult TScaleDriver::SetApplicationHandle(std::int32_t handle)
{
    return Operation([&] {
        FApplicationHandle = handle;
        return TResult::Ok;
    });
}

std::u16string TScaleDriver::DriverVersion() const { return runtime::Utf8ToUtf16(PROJECT_VERSION); }

TScaleDriver::TLoadState TScaleDriver::LoadState()
{
    std::lock_guard lock(FMutex);
    auto& platform = CurrentPlatform();
    const bool connected = platform.Connected(); // brings a running profile up to now first
    return {platform.Load(), platform.Unstable(), connected};
}

void TScaleDriver::PutLoad(double kg)
{
    std::lock_guard lock(FMutex);
    if (std::isfinite(kg))
        CurrentPlatform().PutLoad(kg);
}

void TScaleDriver::SetUnstable(bool unstable)
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().SetUnstable(unstable);
}

void TScaleDriver::SetScalesConnected(bool connected)
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().SetConnected(connected);
}

std::vector<std::string> TScaleDriver::LoadProfileNames() const
{
    std::lock_guard lock(FMutex);
    std::vector<std::string> names;
    for (const auto& [name, profile] : FSettings.LoadProfiles)
        if (!profile.Steps.empty())
            names.push_back(name);
    return names;
}

bool TScaleDriver::StartLoadProfile(const std::string& name)
{
    std::lock_guard lock(FMutex);
    const auto profile = FSettings.LoadProfiles.find(name);
    if (profile == FSettings.LoadProfiles.end() || profile->second.Steps.empty())
        return false;
    CurrentPlatform().StartProfile(&profile->second, name);
    return true;
}

void TScaleDriver::StopLoadProfile()
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().StopProfile();
}

void TScaleDriver::RestartLoadProfile()
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().RestartProfile();
}

TScaleDriver::TProfileView TScaleDriver::LoadProfileView()
{
    std::lock_guard lock(FMutex);
    TScalePlatform& platform = CurrentPlatform();
    TProfileView view;
    view.Profile = platform.ProfileState();
    view.Enabled = Current().Enabled;
    view.Reading = platform.Look();
    return view;
}

void TScaleDriver::InjectRefusal(std::optional<TResult> code)
{
    std::lock_guard lock(FMutex);
    FInjected = code && *code != TResult::Ok ? code : std::nullopt;
}

std::optional<TResult> TScaleDriver::InjectedRefusal() const
{
    std::lock_guard lock(FMutex);
    return FInjected;
}

} // namespace trutina
