// Server modules: loading one, its class object, the module of an address.
#pragma once

#include "platform/ole.h"

#include <string>

namespace platform {

// One loaded library; unloaded when destroyed. The system's error box is suppressed on Windows.
class PLATFORM_API Module {
public:
    Module() = default;
    explicit Module(const std::string& path);
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    Module(Module&& other) noexcept;
    Module& operator=(Module&& other) noexcept;
    ~Module();

    bool Loaded() const { return FHandle != nullptr; }
    // nullptr when not loaded or not exported.
    void* Symbol(const char* name) const;
    // The loader's message for the last failure (load or lookup).
    const std::string& Error() const { return FError; }
    void Unload();
    // Leaves the library loaded until the process ends; this object then holds none.
    void KeepLoaded() { FHandle = nullptr; }

private:
    void* FHandle = nullptr;
    mutable std::string FError;
};

// The class object of clsid from a loaded server module itself, through its own DllGetClassObject
// and without the class registry. CO_E_ERRORINDLL when the module exports no DllGetClassObject.
PLATFORM_API HRESULT ModuleClassObject(const Module& module, REFCLSID clsid, REFIID riid, void** object);

// The file of the module (program or shared library) that contains the given address; what a
// server passes to RegisterInprocServer. Empty when it cannot be told.
PLATFORM_API std::string ModulePathOf(const void* addressInModule);

} // namespace platform
