// Test environment around the fake driver: a temporary class registry (PONDERIX_CLASS_REGISTRY)
// with the fake registered under CLSID_Statera, the calling thread in a single-threaded
// apartment, and the fake's script reset. Everything is undone on destruction. Usable from
// GoogleTest and Qt Test alike.
#pragma once

#include "fakedriver/FakeDriver.h"

#include <optional>
#include <string>

class TFakeDriverEnvironment {
public:
    // register_: whether the fake is registered at once (false: an empty registry).
    explicit TFakeDriverEnvironment(bool register_ = true);
    TFakeDriverEnvironment(const TFakeDriverEnvironment&) = delete;
    TFakeDriverEnvironment& operator=(const TFakeDriverEnvironment&) = delete;
    ~TFakeDriverEnvironment();

    // The temporary folder (for files a test needs) and the registry file in it.
    const std::string& Folder() const { return FFolder; }
    std::string RegistryPath() const;

private:
    void Restore();

    std::string FFolder;
    std::optional<std::string> FPreviousRegistry;
    bool FComInitialized = false;
};
