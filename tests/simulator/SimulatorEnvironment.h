// The test environment around the real substitute driver: a temporary class registry with
// Trutina.dll registered through its own DllRegisterServer, a temporary settings file, the
// calling thread in a single-threaded apartment and the module's clock moved by hand.
#pragma once

#include "driver/Trutina_TLB.h"
#include "platform/apartment.h"
#include "platform/comptr.h"
#include "platform/module.h"

#include <optional>
#include <string>

class TSimulatorEnvironment {
public:
    // manualClock: the driver's time moves only through AdvanceClock.
    explicit TSimulatorEnvironment(bool manualClock = true);
    TSimulatorEnvironment(const TSimulatorEnvironment&) = delete;
    TSimulatorEnvironment& operator=(const TSimulatorEnvironment&) = delete;
    ~TSimulatorEnvironment();

    const std::string& Folder() const { return FFolder; }
    const std::string& SettingsPath() const { return FSettingsPath; }
    void WriteSettings(const std::string& json) const;
    std::string ReadSettings() const; // empty when there is no file

    // A new driver object through CoCreateInstance; fails the test when it cannot be created.
    platform::ComPtr<ITrutina> Create() const;

    void AdvanceClock(long long ms) const;
    int LivePollers() const;
    HRESULT CanUnloadNow() const; // the module's DllCanUnloadNow

private:
    std::string FFolder;
    std::string FSettingsPath;
    std::optional<std::string> FPreviousRegistry;
    std::optional<std::string> FPreviousSettings;
    bool FComInitialized = false;
    platform::Module FModule;
};

// Pumps the apartment until done() or timeoutMs passes; returns done().
template <typename Done>
bool PumpUntil(Done done, int timeoutMs = 5000)
{
    for (int waited = 0; !done() && waited < timeoutMs; waited += 10)
        platform::WaitAndPumpApartment(10);
    return done();
}
