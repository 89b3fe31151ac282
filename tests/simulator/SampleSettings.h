// A settings record in which every field differs from the defaults, for the settings file's
// round-trip tests.
#pragma once

#include "simulator/DriverSettings.h"

namespace testenv {

inline trutina::TDriverSettings SampleSettings()
{
    using namespace trutina;
    TDriverSettings s = TDriverSettings::Defaults();
    TDeviceSettings second;
    second.Number = 7;
    second.Name = u"Весы «Фасовка» №7";
    second.PortNumber = 32;
    second.BaudRate = 18;
    second.Parity = 2;
    second.Model = 11;
    second.Enabled = true;
    second.Parameters.Password = 4321;
    second.Parameters.TareMode = 1;
    second.LoadProfile = "demo";
    second.PriceStep = 500;
    s.Devices.push_back(second);
    s.CurrentDeviceNumber = 7;
    s.LockDevices = true;
    s.PollingInterval = 4;
    s.WeightStep = 0.125;
    s.UpdatePrice = false;
    s.AutoDisable = true;
    s.Timeout = 2500;
    s.SimulatedMsPerReading = 250;
    s.LoadProfiles["demo"] = TLoadProfile{
        {{0, 0.0, false, false}, {1500, 2.5, true, false}, {4000, 0, false, true, TResult::NoConnection, 3, {"ReadWeight", "Poll"}, 250, true}}, 6000};
    return s;
}

} // namespace testenv
