// The driver in a process of its own: the host it runs in.
#pragma once

#include "platform/comptr.h"
#include "platform/ole.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// A host process of the registered module's own bitness (ponderix-host32.exe or ponderix-host64.exe
// beside the program) creates the class's object through the system's COM and hands it back
// marshalled: calls then reach it through the system's marshalling, and its events come back to
// the calling apartment. Windows only: elsewhere Start refuses (E_NOTIMPL), since there is no
// marshalling to reach another process.
class PLATFORM_API DriverHost {
public:
    // Starts a host for the class (the module registered in this program's registry view, else
    // the one of the other bitness) and creates the object there. The object's IUnknown, or
    // nullptr with the failure's status in status and the reason in why (in English, naming the
    // host or the module): CO_E_SERVER_EXEC_FAILURE when the host itself is missing, could not
    // start or did not answer; the host's own status when it could not create the object.
    static std::unique_ptr<DriverHost> Start(REFCLSID clsid, ComPtr<IUnknown>& object, HRESULT& status,
                                             std::string& why);
    // Asks the host to end (its input closes), and ends it when it has not within two seconds.
    ~DriverHost();
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    unsigned long ProcessId() const { return FProcessId; }
    int Bitness() const { return FBitness; }
    // Whether the host has ended, waiting up to waitMs for it; its exit code when it has.
    bool Ended(unsigned long& exitCode, unsigned long waitMs = 0) const;
    // Ends the host at once, with exit code 1.
    void End();

private:
    DriverHost() = default;
    std::intptr_t FProcess = 0; // the process's HANDLE
    std::intptr_t FInput = 0;   // the write end of the host's standard input
    unsigned long FProcessId = 0;
    int FBitness = 0;
};

} // namespace platform
