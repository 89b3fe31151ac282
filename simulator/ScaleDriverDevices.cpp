// The logical devices of the driver: the list, the current device and the scales of each.
#include "simulator/ScaleDriver.h"

#include <algorithm>
#include <set>

namespace trutina {

namespace {

// The serial ports held in this process: each by one device of one object.
struct TPortHolder {
    const void* Object;
    std::int32_t Device;
    bool operator==(const TPortHolder&) const = default;
};

std::mutex& PortsMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::map<std::int32_t, TPortHolder>& Ports()
{
    static std::map<std::int32_t, TPortHolder> ports;
    return ports;
}

// Whether the port is free or the holder's already; taken when free.
bool TakePort(std::int32_t port, TPortHolder holder)
{
    std::lock_guard lock(PortsMutex());
    const auto [it, taken] = Ports().emplace(port, holder);
    return taken || it->second == holder;
}

void GivePort(std::int32_t port, TPortHolder holder)
{
    std::lock_guard lock(PortsMutex());
    if (auto it = Ports().find(port); it != Ports().end() && it->second == holder)
        Ports().erase(it);
}

// A device setting written through the interface: the member that writes it, the check of a value
// (Ok when it is taken, else the code it is refused with) and the field it goes to.
template <typename T>
struct TDeviceSetting {
    std::string_view Member;
    TResult (*Check)(const T& value);
    T TDeviceSettings::*Field;
};

TResult Valid(bool valid, TResult refusal = TResult::InvalidParameter) { return valid ? TResult::Ok : refusal; }

const TDeviceSetting<std::u16string> NameSetting{
    "CurrentDeviceName", [](const std::u16string& name) { return Valid(IsValidDeviceName(name)); }, &TDeviceSettings::Name};
const TDeviceSetting<std::int32_t> ModelSetting{
    "Model", [](const std::int32_t& model) { return Valid(FindScaleModel(model) != nullptr); }, &TDeviceSettings::Model};
const TDeviceSetting<std::int64_t> PriceStepSetting{
    "PriceRounding", [](const std::int64_t& step) { return Valid(IsPriceStep(step)); }, &TDeviceSettings::PriceStep};
const TDeviceSetting<std::int32_t> PortSetting{
    "PortNumber", [](const std::int32_t& port) { return Valid(port >= MinPortNumber && port <= MaxPortNumber, TResult::OutOfRange); },
    &TDeviceSettings::PortNumber};
const TDeviceSetting<std::int32_t> BaudRateSetting{
    "BaudRate", [](const std::int32_t& code) { return Valid(IsBaudRateCode(code)); }, &TDeviceSettings::BaudRate};
const TDeviceSetting<std::int32_t> ParitySetting{
    "Parity", [](const std::int32_t& code) { return Valid(IsParityCode(code)); }, &TDeviceSettings::Parity};

// The change of a setting to value: checked, then what it takes along (refused when that is), then
// written to the field.
template <typename T>
std::function<TResult(TDeviceSettings&)> Write(const TDeviceSetting<T>& setting, const T& value,
                                               std::function<TResult(TDeviceSettings&)> takeAlong = {})
{
    return [&setting, &value, takeAlong = std::move(takeAlong)](TDeviceSettings& device) {
        if (const TResult r = setting.Check(value); r != TResult::Ok)
            return r;
        if (const TResult r = takeAlong ? takeAlong(device) : TResult::Ok; r != TResult::Ok)
            return r;
        device.*setting.Field = value;
        return TResult::Ok;
    };
}

} // namespace

// ------------------------------------------------------------------ ports

TResult TScaleDriver::HoldPort(const TDeviceSettings& device)
{
    const auto held = FHolds.find(device.Number);
    if (held != FHolds.end() && held->second.Port == device.PortNumber)
        return TResult::Ok;
    const TPortHolder holder{this, device.Number};
    if (!TakePort(device.PortNumber, holder))
        return TResult::PortBusy;
    std::string problem;
    std::shared_ptr<void> file = FSink ? FSink->HoldPort(device.PortNumber, problem) : std::make_shared<int>(0);
    if (!file) {
        GivePort(device.PortNumber, holder);
        if (problem.empty())
            return TResult::PortBusy;
        FUnsavedWhy = std::move(problem); // said with -19, as an unusable settings lock is
        return TResult::SettingsNotSaved;
    }
    // The device moved to another port: the old one is given back once the new one is held.
    if (held != FHolds.end()) {
        GivePort(held->second.Port, holder);
        held->second = {device.PortNumber, std::move(file)};
    } else {
        FHolds.emplace(device.Number, TPortHold{device.PortNumber, std::move(file)});
    }
    return TResult::Ok;
}

void TScaleDriver::ReleasePort(std::int32_t number)
{
    if (auto it = FHolds.find(number); it != FHolds.end()) {
        GivePort(it->second.Port, {this, number});
        FHolds.erase(it);
    }
}

void TScaleDriver::ReleasePorts()
{
    while (!FHolds.empty())
        ReleasePort(FHolds.begin()->first);
}

// ------------------------------------------------------------------ devices

TDeviceSettings& TScaleDriver::Current()
{
    if (TDeviceSettings* device = FSettings.FindDevice(FSettings.CurrentDeviceNumber))
        return *device;
    // The settings always hold the current device; fall back to the first one if they do not.
    FSettings.CurrentDeviceNumber = FSettings.Devices.front().Number;
    return FSettings.Devices.front();
}

const TDeviceSettings& TScaleDriver::Current() const
{
    const TDeviceSettings* device = FSettings.FindDevice(FSettings.CurrentDeviceNumber);
    return device ? *device : FSettings.Devices.front();
}

TScalePlatform& TScaleDriver::Platform(std::int32_t number)
{
    auto it = FPlatforms.find(number);
    if (it != FPlatforms.end())
        return *it->second;
    const TDeviceSettings* device = FSettings.FindDevice(number);
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
    const TDeviceSettings* current = FSettings.FindDevice(FSettings.CurrentDeviceNumber);
    return current ? static_cast<std::int32_t>(current - FSettings.Devices.data()) : -1;
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
    // Connected names the current device's line as this object has it: open (its port held), the
    // scales there and the last exchange answered.
    return Current().Enabled && HoldPort(Current()) == TResult::Ok && CurrentPlatform().Connected() && FAnswered;
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

bool TScaleDriver::DeviceEnabled()
{
    std::lock_guard lock(FMutex);
    // On in the file is on here only with the port: a device another program switched on reads off
    // in this one, before a switch-on here is refused as after it (a refusal changes nothing).
    return Current().Enabled && HoldPort(Current()) == TResult::Ok;
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
    return StoredOperation("CurrentDeviceIndex", [&] {
        if (index < 0 || index >= static_cast<std::int32_t>(FSettings.Devices.size()))
            return TResult::NoSuchDevice;
        SelectDevice(FSettings.Devices[static_cast<std::size_t>(index)].Number);
        return Persist(TCurrentChoice::Chosen);
    });
}

TResult TScaleDriver::SetCurrentDeviceNumber(std::int32_t number)
{
    return StoredOperation("CurrentDeviceNumber", [&] {
        if (!FSettings.FindDevice(number))
            return TResult::NoSuchDevice;
        SelectDevice(number);
        return Persist(TCurrentChoice::Chosen);
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
    ForgetExchange();
}

TResult TScaleDriver::ChangeDevice(std::string_view name, const std::function<TResult(TDeviceSettings&)>& change)
{
    return StoredOperation(name, [&] {
        if (FSettings.LockDevices)
            return TResult::DevicesLocked;
        const TResult result = change(Current());
        return result == TResult::Ok ? Persist() : result;
    });
}

TResult TScaleDriver::SetCurrentDeviceName(const std::u16string& name)
{
    return ChangeDevice(NameSetting.Member, Write(NameSetting, name));
}

TResult TScaleDriver::SetLockDevices(bool locked)
{
    return StoredOperation("LockDevices", [&] {
        FSettings.LockDevices = locked;
        return Persist();
    });
}

TResult TScaleDriver::SetModel(std::int32_t model)
{
    // Another model on the platform: the scales restart with it.
    return ChangeDevice(ModelSetting.Member, Write(ModelSetting, model, [&](TDeviceSettings& d) {
        if (d.Model != model)
            Platform(d.Number).SetModel(*FindScaleModel(model));
        return TResult::Ok;
    }));
}

TResult TScaleDriver::SetPriceStep(std::int64_t step)
{
    return ChangeDevice(PriceStepSetting.Member, Write(PriceStepSetting, step));
}

TResult TScaleDriver::SetPortNumber(std::int32_t port)
{
    // A device switched on takes its new port with it: refused while another holds that one.
    return ChangeDevice(PortSetting.Member, Write(PortSetting, port, [&](TDeviceSettings& d) {
        if (!FHolds.count(d.Number))
            return TResult::Ok;
        TDeviceSettings moved = d;
        moved.PortNumber = port;
        return HoldPort(moved);
    }));
}

TResult TScaleDriver::SetBaudRate(std::int32_t code)
{
    return ChangeDevice(BaudRateSetting.Member, Write(BaudRateSetting, code));
}

TResult TScaleDriver::SetParity(std::int32_t code)
{
    return ChangeDevice(ParitySetting.Member, Write(ParitySetting, code));
}

TResult TScaleDriver::SetDeviceEnabled(bool enabled)
{
    // Switching a device on or off is operation, not configuration: LockDevices does not stop it.
    return StoredOperation("DeviceEnabled", [&] {
        // Switched on, the device opens its port: refused while another device, object or process
        // holds it. Switched off, it gives the port back.
        if (enabled) {
            if (const TResult r = HoldPort(Current()); r != TResult::Ok)
                return r;
        } else {
            ReleasePort(Current().Number);
        }
        if (enabled != Current().Enabled) {
            // A device's load profile runs from the moment it is switched on.
            // Switched on, the scales start as a fresh object starts them.
            TScalePlatform& platform = CurrentPlatform();
            if (enabled) {
                platform.Restart();
                ForgetExchange();
            } else {
                platform.StopProfile();
            }
        }
        Current().Enabled = enabled;
        return Persist();
    });
}

TResult TScaleDriver::SetTimeout(std::int32_t ms)
{
    return StoredOperation("Timeout", [&] {
        if (ms < MinTimeout || ms > MaxTimeout)
            return TResult::OutOfRange;
        FSettings.Timeout = ms;
        return Persist();
    });
}

TResult TScaleDriver::SetLogicalNumber(std::int32_t number)
{
    return StoredOperation("LogicalNumber", [&] {
        if (FSettings.LockDevices)
            return TResult::DevicesLocked;
        TDeviceSettings& d = Current();
        if (number < MinDeviceNumber || number > MaxDeviceNumber)
            return TResult::OutOfRange;
        if (number == d.Number)
            return Persist();
        if (FSettings.FindDevice(number))
            return TResult::DeviceNumberInUse;
        auto platform = FPlatforms.extract(d.Number);
        if (!platform.empty()) {
            platform.key() = number;
            FPlatforms.insert(std::move(platform));
        }
        // The port goes with the device under its new number.
        const bool held = FHolds.count(d.Number) > 0;
        ReleasePort(d.Number);
        if (held) {
            TDeviceSettings renumbered = d;
            renumbered.Number = number;
            HoldPort(renumbered); // given back just now: free
        }
        d.Number = number;
        FSettings.CurrentDeviceNumber = number;
        return Persist(TCurrentChoice::Chosen);
    });
}

TResult TScaleDriver::AddDevice(std::int32_t& number)
{
    number = 0;
    return StoredOperation("AddDevice", [&] {
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
        SelectDevice(free);
        number = free;
        return Persist(TCurrentChoice::Chosen);
    });
}

TResult TScaleDriver::DeleteDevice()
{
    return StoredOperation("DeleteDevice", [&] {
        if (FSettings.LockDevices)
            return TResult::DevicesLocked;
        auto& devices = FSettings.Devices;
        if (devices.size() <= 1)
            return TResult::LastDevice;
        const TDeviceSettings* current = FSettings.FindDevice(FSettings.CurrentDeviceNumber);
        if (!current)
            return TResult::NoSuchDevice;
        FPlatforms.erase(current->Number);
        ReleasePort(current->Number);
        const auto it = devices.erase(devices.begin() + (current - devices.data()));
        // The device that took its place becomes current, or the last one.
        SelectDevice((it != devices.end() ? *it : devices.back()).Number);
        return Persist(TCurrentChoice::Chosen);
    });
}

} // namespace trutina
