// Off Windows there is no marshalling between processes, so no driver of a process of its own.
#include "platform/comptr.h"
#include "platform/driverhost.h"

namespace platform {

std::unique_ptr<DriverHost> DriverHost::Start(REFCLSID, ComPtr<IUnknown>& object, HRESULT& status, std::string& why)
{
    object.Reset();
    status = E_NOTIMPL;
    why = "a driver in a process of its own is offered on Windows only";
    return nullptr;
}

DriverHost::~DriverHost() = default;

bool DriverHost::Ended(unsigned long&, unsigned long) const { return false; }

void DriverHost::End() {}

} // namespace platform
