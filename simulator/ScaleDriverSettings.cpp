// Settings synchronisation of the driver: a stored operation takes the file's lock, adopts what the
// file holds, makes its change and writes it back before the lock goes.
#include "simulator/ScaleDriver.h"

namespace trutina {

TResult TScaleDriver::Persist(TCurrentChoice choice)
{
    if (!FSink)
        return TResult::Ok;
    TDriverSettings stored = FSettings;
    // The file's current device changes only when this object chooses one: another's choice stays.
    if (choice == TCurrentChoice::Kept && stored.FindDevice(FFileCurrent))
        stored.CurrentDeviceNumber = FFileCurrent;
    // A file whose lock cannot be used is not written: another process could not keep out either.
    FUnsaved = !FLockProblem.empty() || !FSink->Save(stored);
    if (FUnsaved) {
        FUnsavedWhy = !FLockProblem.empty() ? FLockProblem : FSink->SaveProblem();
        return TResult::SettingsNotSaved;
    }
    FUnsavedWhy.clear();
    FFileCurrent = stored.CurrentDeviceNumber;
    FKnownFile = std::move(stored);
    return TResult::Ok;
}

std::optional<std::shared_ptr<void>> TScaleDriver::Reread()
{
    if (!FSink)
        return nullptr;
    ISettingsSink::TLatest latest = FSink->Latest();
    // A change written without the lock could be overwritten by the holder's older copy: none is made.
    if (latest.Busy)
        return std::nullopt;
    FLockProblem = std::move(latest.LockProblem);
    // While a change of this object could not be written, its own settings are ahead of the file.
    if (latest.Settings && !FUnsaved) {
        if (ChangedByOthers(*latest.Settings))
            FOthersChanged = true;
        FKnownFile = latest.Settings;
        Adopt(std::move(*latest.Settings));
    }
    if (latest.Damaged)
        FSettings.Damaged = latest.Damaged;
    return latest.Lock;
}

TResult TScaleDriver::ClearDamaged()
{
    // Cleared in the file as a change of its own: under the lock, over the latest settings.
    const std::optional<std::shared_ptr<void>> fileLock = FFileLock ? nullptr : Reread();
    FSettings.Damaged.reset();
    return fileLock ? Persist() : TResult::SettingsLocked;
}

bool TScaleDriver::ChangedByOthers(const TDriverSettings& latest) const
{
    if (!FKnownFile)
        return false;
    TDriverSettings known = *FKnownFile;
    known.CurrentDeviceNumber = latest.CurrentDeviceNumber; // each object chooses its own
    return known != latest;
}

void TScaleDriver::Adopt(TDriverSettings latest)
{
    FFileCurrent = latest.CurrentDeviceNumber;
    const std::int32_t own = FSettings.CurrentDeviceNumber;
    // This object keeps its own current device while it exists.
    const std::int32_t current = latest.FindDevice(own) ? own : latest.CurrentDeviceNumber;
    latest.CurrentDeviceNumber = own;
    FSettings = std::move(latest);
    // A device switched off or deleted by another gives its port back.
    std::vector<std::int32_t> released;
    for (const auto& [number, hold] : FHolds)
        if (const TDeviceSettings* device = FSettings.FindDevice(number); !device || !device->Enabled)
            released.push_back(number);
    for (const std::int32_t number : released)
        ReleasePort(number);
    // The scales of a device gone go with it; another model restarts a device's scales.
    for (auto it = FPlatforms.begin(); it != FPlatforms.end();) {
        const TDeviceSettings* device = FSettings.FindDevice(it->first);
        if (!device) {
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

} // namespace trutina
