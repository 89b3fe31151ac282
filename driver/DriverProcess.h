// The driver in a process of its own (Windows): the host that runs it, and what the bench says
// when that process ends under a call, so that a crash, an exit or a hang of the driver costs the
// operator nothing but a new driver.
#pragma once

#include "driver/CallTrace.h"
#include "platform/comptr.h"
#include "runtime/exceptions.h"

#include <memory>
#include <string>

namespace platform {
class DriverHost; // the host process, known to DriverProcess.cpp only
}

namespace driver {

// Whether drivers are created in a process of their own (--isolated, PONDERIX_ISOLATED=1); off
// by default. Set once at start-up.
void SetIsolatedMode(bool on);
bool IsolatedMode();
// PONDERIX_ISOLATED: "1" switches isolated mode on, "0" or unset leaves it off.
bool IsolatedModeFromEnvironment();

// A call as the window's texts name it: "чтение свойства Weight", "запись свойства UnitPrice",
// "метод ReadWeight".
std::string CallWords(const char* member, TCallDirection direction);

// A call failed because the driver's process has ended: its message names the call it ended
// during (or the call that found it ended) and the exit code, in the window's language.
class EDriverProcessEnded : public runtime::EOleException {
public:
    using runtime::EOleException::EOleException;
};

class TDriverProcess {
public:
    // Starts a host of the registered module's bitness and creates the class's object there.
    // Raises runtime::EOleException with the reason when it cannot (no module registered, no
    // host for its bitness, the host could not create the object).
    explicit TDriverProcess(REFCLSID clsid);
    TDriverProcess(const TDriverProcess&) = delete;
    TDriverProcess& operator=(const TDriverProcess&) = delete;
    // Ends the host (asked first, then forced).
    ~TDriverProcess();

    // The object in the host, as this apartment reaches it.
    platform::ComPtr<IUnknown> Object() const { return FObject; }
    unsigned long ProcessId() const;
    int Bitness() const;

    // Before a call: raises EDriverProcessEnded once the process has ended.
    void RequireRunning(const char* member, TCallDirection direction);
    // After a call failed with status: raises EDriverProcessEnded when the process has ended
    // (waiting a moment for a process whose failure looks like a lost connection); returns when
    // it still runs, and the failure is the driver's own.
    void CheckFailedCall(const char* member, TCallDirection direction, HRESULT status);
    // Whether the process has ended (by itself or by the operator).
    bool Ended();
    // Whether its end has been told: a call raised EDriverProcessEnded. Until then the window
    // keeps this driver, so that an end between calls is named before a new driver is made.
    bool EndTold() const { return !FEndMessage.empty(); }
    // The operator's choice while a call hangs: the process is ended, and the call that hung is
    // named as the one it was ended during.
    void EndByOperator(const char* member, TCallDirection direction);

private:
    [[noreturn]] void RaiseEnded();
    void NoteEnd(const char* member, TCallDirection direction, bool before);

    std::unique_ptr<platform::DriverHost> FHost;
    platform::ComPtr<IUnknown> FObject;
    std::string FEndMessage; // set once the end is known
    bool FEndedByOperator = false;
};

} // namespace driver
