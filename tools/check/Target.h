// The object under test: the class registered for Statera (found as Ponderix finds it), another
// registered class (--class, a ProgID or a class id), or the class served by a module file loaded
// directly (--module, registering nothing).
#pragma once

#include "platform/comptr.h"
#include "platform/module.h"

#include <string>

namespace check {

struct TTargetOptions {
    std::string Module; // empty: the registered class
    std::string Class;  // empty: Statera
    bool ComOnly = false;
};

class TTarget {
public:
    // runtime::Exception with the reason when nothing can be checked (no class registered, a file
    // that is not a server module, a class it does not serve).
    explicit TTarget(const TTargetOptions& options);
    TTarget(const TTarget&) = delete;
    TTarget& operator=(const TTarget&) = delete;
    ~TTarget();

    const CLSID& ClassId() const { return FClassId; }
    std::string ClassIdText() const;
    // The module file serving the class; empty when it cannot be told.
    const std::string& ModulePath() const { return FModulePath; }
    // The interface rules apply (ITrutina), not only COM's.
    bool Trutina() const { return !FComOnly; }

    IClassFactory* Factory() const { return FFactory.Get(); }
    // A new object's IUnknown; runtime::Exception saying what CreateInstance answered when none is made.
    platform::ComPtr<IUnknown> Create() const;
    // DllCanUnloadNow of the module; false when the module or its export is not known.
    bool CanUnloadNow(HRESULT& answer) const;

private:
    CLSID FClassId{};
    std::string FModulePath;
    bool FComOnly;
    platform::Module FModule; // first: unloaded after the factory is released
    platform::ComPtr<IClassFactory> FFactory;
};

} // namespace check
