#include "FakeDriverFixture.h"
#include "TestEnv.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {
constexpr const char* RegistryVariable = "PONDERIX_CLASS_REGISTRY";
}

TFakeDriverEnvironment::TFakeDriverEnvironment(bool register_)
{
    FFolder = testenv::MakeTempFolder("ponderix-fake-").string();
    if (const char* previous = std::getenv(RegistryVariable))
        FPreviousRegistry = previous;
    testenv::SetVariable(RegistryVariable, RegistryPath());
    FComInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    fakedriver::Reset();
#ifdef _WIN32
    // The system registry outlives the environment: start without the class registered.
    fakedriver::Unregister();
#endif
    if (register_ && FAILED(fakedriver::Register())) {
        std::string registry = RegistryPath();
        Restore();
        throw std::runtime_error("cannot register the fake driver in " + registry);
    }
}

TFakeDriverEnvironment::~TFakeDriverEnvironment() { Restore(); }

void TFakeDriverEnvironment::Restore()
{
    fakedriver::Reset();
#ifdef _WIN32
    fakedriver::Unregister(); // the registry is the system's, not a temporary file
#endif
    if (FComInitialized)
        CoUninitialize();
    if (FPreviousRegistry)
        testenv::SetVariable(RegistryVariable, *FPreviousRegistry);
    else
        testenv::UnsetVariable(RegistryVariable);
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
}

std::string TFakeDriverEnvironment::RegistryPath() const { return FFolder + "/classes.reg"; }
