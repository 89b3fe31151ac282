#include "platform/comptr.h"
#include "platform/module.h"
#include "SimulatorEnvironment.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

constexpr const char* RegistryVariable = "PONDERIX_CLASS_REGISTRY";
constexpr const char* SettingsVariable = "TRUTINA_SETTINGS";

std::optional<std::string> Replace(const char* name, const std::string& value)
{
    std::optional<std::string> previous;
    if (const char* v = std::getenv(name))
        previous = v;
    testenv::SetVariable(name, value);
    return previous;
}

void Restore(const char* name, const std::optional<std::string>& previous)
{
    if (previous)
        testenv::SetVariable(name, *previous);
    else
        testenv::UnsetVariable(name);
}

template <typename F>
F Hook(const platform::Module& module, const char* name)
{
    auto* fn = reinterpret_cast<F>(module.Symbol(name));
    if (!fn)
        throw std::runtime_error(std::string("Trutina.dll has no ") + name);
    return fn;
}

} // namespace

TSimulatorEnvironment::TSimulatorEnvironment(bool manualClock)
{
    FFolder = testenv::MakeTempFolder("ponderix-sim-").string();
    FSettingsPath = FFolder + "/trutina.json";
    FPreviousRegistry = Replace(RegistryVariable, FFolder + "/classes.reg");
    FPreviousSettings = Replace(SettingsVariable, FSettingsPath);
    FComInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

    FModule = platform::Module(TRUTINA_MODULE_PATH);
    if (!FModule.Loaded())
        throw std::runtime_error("cannot load " + std::string(TRUTINA_MODULE_PATH) + ": " + FModule.Error());
    if (FAILED(Hook<HRESULT (*)()>(FModule, "DllRegisterServer")()))
        throw std::runtime_error("DllRegisterServer of Trutina.dll failed");
    Hook<void (*)(int)>(FModule, "TrutinaTestUseManualClock")(manualClock ? 1 : 0);
}

TSimulatorEnvironment::~TSimulatorEnvironment()
{
    Hook<void (*)(int)>(FModule, "TrutinaTestUseManualClock")(0);
#ifdef _WIN32
    Hook<HRESULT (*)()>(FModule, "DllUnregisterServer")(); // the system registry outlives the test
#endif
    if (FComInitialized)
        CoUninitialize();
    Restore(RegistryVariable, FPreviousRegistry);
    Restore(SettingsVariable, FPreviousSettings);
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
}

void TSimulatorEnvironment::WriteSettings(const std::string& json) const
{
    std::ofstream(FSettingsPath, std::ios::binary | std::ios::trunc) << json;
}

std::string TSimulatorEnvironment::ReadSettings() const
{
    std::ifstream in(FSettingsPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

platform::ComPtr<ITrutina> TSimulatorEnvironment::Create() const
{
    platform::ComPtr<ITrutina> driver;
    const HRESULT hr = CoCreateInstance(CLSID_Statera, nullptr, CLSCTX_INPROC_SERVER, IID_ITrutina, driver.OutVoid());
    EXPECT_EQ(hr, S_OK) << "CoCreateInstance of Statera";
    return driver;
}

void TSimulatorEnvironment::AdvanceClock(long long ms) const
{
    Hook<void (*)(long long)>(FModule, "TrutinaTestAdvanceClock")(ms);
}

int TSimulatorEnvironment::LivePollers() const { return Hook<int (*)()>(FModule, "TrutinaTestLivePollers")(); }

HRESULT TSimulatorEnvironment::CanUnloadNow() const { return Hook<HRESULT (*)()>(FModule, "DllCanUnloadNow")(); }
