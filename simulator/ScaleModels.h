// The scale models the driver knows: the weighing platform and the identity each one reports.
#pragma once

#include <cstdint>
#include <span>

namespace trutina {

struct TScaleModel {
    std::int32_t Code;         // the driver's model code
    const char* Name;          // UTF-8, as the device reports it
    double Capacity;           // maximum capacity (НПВ), kg
    double Discreteness;       // the scale interval d, kg
    double ZeroRange;          // zero can be set within +-ZeroRange of the power-on zero, kg
    std::int64_t SettlingMs;   // time from a load change until the weight is stable
    std::int32_t ProtocolVersion;
    std::int32_t DeviceType;
    std::int32_t SoftwareVersion;
    std::int32_t SoftwareSubVersion;
    std::int32_t SoftwareBuild;
    std::int32_t CodePage;
    std::int64_t MaxUnitPrice; // the unit price display's largest amount, money units (x 10000)
};

std::span<const TScaleModel> ScaleModels();
// The model of a code, or nullptr when the driver does not know it.
const TScaleModel* FindScaleModel(std::int32_t code);

// The codes accepted for the serial line settings of a logical device.
bool IsBaudRateCode(std::int32_t code);  // 3, 4, 5, 7, 10, 12, 14, 18
bool IsParityCode(std::int32_t code);    // 0 none, 2 even
constexpr std::int32_t MinPortNumber = 1;
constexpr std::int32_t MaxPortNumber = 32;
constexpr std::int32_t MinDeviceNumber = 1;
constexpr std::int32_t MaxDeviceNumber = 99;

} // namespace trutina
