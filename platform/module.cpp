// The parts of Module that do not depend on the system's loader.
#include "platform/module.h"

namespace platform {

Module::Module(Module&& other) noexcept : FHandle(other.FHandle), FError(std::move(other.FError))
{
    other.FHandle = nullptr;
}

Module& Module::operator=(Module&& other) noexcept
{
    if (this != &other) {
        Unload();
        FHandle = other.FHandle;
        FError = std::move(other.FError);
        other.FHandle = nullptr;
    }
    return *this;
}

Module::~Module() { Unload(); }

} // namespace platform
