// The driver's result codes: 0 for success, a negative code with a Russian description for every
// refusal and notice. The table in README.md is this table.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace trutina {

enum class TResult : std::int32_t {
    Ok = 0,
    NoConnection = -1,       // the scales do not answer (cable cut, device gone)
    DeviceNotEnabled = -2,   // the current logical device is switched off
    InvalidParameter = -3,   // a code outside its set (baud rate 6, parity 1, purpose 5 ...)
    OutOfRange = -4,         // a number outside its range (port 33, negative price ...)
    DevicesLocked = -5,      // LockDevices is on: the device list and settings are read-only
    NoSuchDevice = -6,       // no logical device with that index or number
    DeviceNumberInUse = -7,  // another logical device already has that number
    TooManyDevices = -8,     // all 99 device numbers are taken
    LastDevice = -9,         // the only logical device cannot be deleted
    WeightNotStable = -10,   // the operation needs a stable weight
    Overload = -11,          // the gross weight is above the capacity
    WeightOutOfRange = -12,  // the gross weight is below the weighing range (underload)
    ZeroOutOfRange = -13,    // the weight is outside the zero-setting range
    NoMessages = -14,        // no data message is queued
    NoSuchMessage = -15,     // no queued message has that number
    QueueFull = -16,         // the data message queue holds its maximum
    MessagesLost = -17,      // notice: readings were dropped because the queue was full
    SettingsDamaged = -18,   // notice: the settings file was damaged and put aside
    SettingsNotSaved = -19,  // notice: the change is made but the settings file could not be written
    NoGui = -20,             // the settings dialog needs a graphical user interface
    DialogOpen = -21,        // the settings dialog is already open
    SettingsRefused = -22,   // notice: the settings file cannot be used; the defaults are used, nothing is written
    TareSet = -23,           // Zero while a tare is set: the scales zero in gross mode only
    SettingsLocked = -24,    // another process holds the settings file's lock: the change is not made
    AnswerTimeout = -25,     // the scales did not answer within Timeout
    PortBusy = -26,          // the device's port is held by another device, object or process
};

struct TResultInfo {
    TResult Code;
    const char* Description; // UTF-8
    bool Notice;             // the operation was carried out; the code only reports a condition
};

// Every code, in the order of the table.
std::span<const TResultInfo> ResultTable();
// The table row of a code, or nullptr for a code outside the table.
const TResultInfo* FindResult(std::int32_t code);
// The description of a code ("Неизвестная ошибка" for a code outside the table).
std::string ResultDescription(TResult code);

} // namespace trutina
