#include "driver/DriverProcess.h"

#include "driver/OleError.h"
#include "driver/TrutinaProxy.h"
#include "platform/driverhost.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace driver {

namespace {

std::atomic<bool> GIsolated{false};

// A fault's code in hexadecimal (0xC0000005), an ordinary exit code in decimal.
std::string ExitCodeText(unsigned long code)
{
    char text[32];
    if (code >= 0xC0000000UL)
        std::snprintf(text, sizeof text, "0x%08lX", code);
    else
        std::snprintf(text, sizeof text, "%lu", code);
    return text;
}

// The statuses with which a call fails when the process on the other side has gone (or the call
// was given up): the marshalling's own, and a fault the system caught inside the call.
bool LooksLikeLostProcess(HRESULT status)
{
    const auto code = static_cast<unsigned long>(status);
    constexpr unsigned long kFacilityRpc = 0x80010000UL; // RPC_E_*: disconnected, server died, cancelled
    return (code & 0xFFFF0000UL) == kFacilityRpc
           || code == 0x800706BAUL  // RPC_S_SERVER_UNAVAILABLE
           || code == 0x800706BEUL  // RPC_S_CALL_FAILED
           || code == 0x800706BFUL  // RPC_S_CALL_FAILED_DNE
           || code == 0x800703E6UL; // ERROR_NOACCESS: a fault inside the call
}

// How long a call that failed as if the process were lost waits for the process to end.
constexpr unsigned long kEndWaitMs = 2000;

} // namespace

std::string CallWords(const char* member, TCallDirection direction)
{
    switch (direction) {
    case TCallDirection::Read:
        return std::string("чтение свойства ") + member;
    case TCallDirection::Write:
        return std::string("запись свойства ") + member;
    case TCallDirection::Call:
        return std::string("метод ") + member;
    case TCallDirection::Setup:
        return member;
    case TCallDirection::Event:
        break;
    }
    return std::string("событие ") + member;
}

void SetIsolatedMode(bool on) { GIsolated.store(on); }
bool IsolatedMode() { return GIsolated.load(); }

bool IsolatedModeFromEnvironment()
{
    const char* value = std::getenv("PONDERIX_ISOLATED");
    return value && std::strcmp(value, "1") == 0;
}

TDriverProcess::TDriverProcess(REFCLSID clsid)
{
    // This apartment marshals ITrutina with its own proxy from now on.
    static const HRESULT proxy = RegisterTrutinaProxy();
    if (FAILED(proxy))
        throw runtime::EOleException(OleErrorMessage(proxy, u"") + " (the proxy of ITrutina)", proxy);
    HRESULT status = S_OK;
    std::string why;
    FHost = platform::DriverHost::Start(clsid, FObject, status, why);
    if (!FHost)
        throw runtime::EOleException(OleErrorMessage(status, u"") + " (" + why + ")", status);
}

TDriverProcess::~TDriverProcess() = default; // the reference goes before the host: declared after it

unsigned long TDriverProcess::ProcessId() const { return FHost->ProcessId(); }

int TDriverProcess::Bitness() const { return FHost->Bitness(); }

bool TDriverProcess::Ended()
{
    unsigned long code = 0;
    return !FEndMessage.empty() || FHost->Ended(code);
}

void TDriverProcess::NoteEnd(const char* member, TCallDirection direction, bool before)
{
    unsigned long code = 0;
    FHost->Ended(code);
    FEndMessage = std::string(FEndedByOperator ? "Процесс драйвера завершён оператором во время вызова: "
                              : before         ? "Процесс драйвера завершился до вызова: "
                                               : "Процесс драйвера завершился во время вызова: ")
                  + CallWords(member, direction) + "; код выхода " + ExitCodeText(code)
                  + ". Следующая операция создаст драйвер заново.";
}

void TDriverProcess::RaiseEnded()
{
    throw EDriverProcessEnded(FEndMessage, RPC_E_DISCONNECTED);
}

void TDriverProcess::RequireRunning(const char* member, TCallDirection direction)
{
    if (FEndMessage.empty()) {
        unsigned long code = 0;
        if (!FHost->Ended(code))
            return;
        NoteEnd(member, direction, true);
    }
    RaiseEnded();
}

void TDriverProcess::CheckFailedCall(const char* member, TCallDirection direction, HRESULT status)
{
    if (FEndMessage.empty()) {
        unsigned long code = 0;
        if (!FHost->Ended(code, LooksLikeLostProcess(status) ? kEndWaitMs : 0))
            return;
        NoteEnd(member, direction, false);
    }
    RaiseEnded();
}

void TDriverProcess::EndByOperator(const char* member, TCallDirection direction)
{
    if (!FEndMessage.empty())
        return;
    FEndedByOperator = true;
    FHost->End();
    NoteEnd(member, direction, false);
}

} // namespace driver
