#include "FakeDriverFixture.h"

#include "platform/platform.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {
constexpr const char* RegistryVariable = "PONDERIX_CLASS_REGISTRY";
}

TFakeDriverEnvironment::TFakeDriverEnvironment(bool register_)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ponderix-fake-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    FFolder = pattern;
    if (const char* previous = std::getenv(RegistryVariable))
        FPreviousRegistry = previous;
    setenv(RegistryVariable, RegistryPath().c_str(), 1);
    FComInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    fakedriver::Reset();
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
    if (FComInitialized)
        CoUninitialize();
    if (FPreviousRegistry)
        setenv(RegistryVariable, FPreviousRegistry->c_str(), 1);
    else
        unsetenv(RegistryVariable);
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
}

std::string TFakeDriverEnvironment::RegistryPath() const { return FFolder + "/classes.reg"; }
