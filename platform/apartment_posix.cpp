// COM initialisation per thread and the single-threaded apartment's call queue. A thread that
// enters the apartment model owns an Apartment: other threads post calls to it, and an eventfd
// stays readable while calls wait so that the owner's event loop knows when to pump.
#include "platform/apartment.h"
#include "platform/callqueue.h"
#include "platform/internal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace platform {

class Apartment final : public detail::TCallQueue {
public:
    Apartment() : FEventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        if (FEventFd < 0)
            throw std::runtime_error("cannot create the apartment's notification handle");
    }
    ~Apartment() { close(FEventFd); }

    int NotifyHandle() const { return FEventFd; }

    int WaitAndPump(int timeoutMs)
    {
        if (!HasWaitingCalls()) {
            pollfd p{FEventFd, POLLIN, 0};
            while (poll(&p, 1, timeoutMs) < 0 && errno == EINTR) {
            }
        }
        return Pump();
    }

    void Close()
    {
        CloseQueue([this] { ClearSignal(); });
    }

private:
    // The eventfd stays readable while calls wait.
    bool Wake() override
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(FEventFd, &one, sizeof one);
        return true;
    }
    void Unwake() override { ClearSignal(); }
    void ClearSignal()
    {
        std::uint64_t count;
        [[maybe_unused]] ssize_t n = read(FEventFd, &count, sizeof count);
    }

    const int FEventFd;
};

namespace {

// The calling thread's COM state. A thread that ends without uninitialising closes its apartment.
struct ThreadComState {
    int InitCount = 0;
    DWORD Model = COINIT_MULTITHREADED;
    ApartmentRef Own;
    ~ThreadComState()
    {
        if (Own)
            Own->Close();
    }
};
thread_local ThreadComState tCom;

DWORD ModelOf(DWORD coInit) { return (coInit & COINIT_APARTMENTTHREADED) ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED; }

} // namespace

namespace detail {
bool ThreadComInitialised() { return tCom.InitCount > 0; }
} // namespace detail

ApartmentRef CurrentApartment() { return tCom.Own; }

bool PostToApartment(const ApartmentRef& apartment, std::function<void()> fn)
{
    try {
        return apartment && apartment->Post(std::move(fn));
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int ApartmentNotifyHandle() { return tCom.Own ? tCom.Own->NotifyHandle() : -1; }

int PumpApartment()
{
    const ApartmentRef apartment = tCom.Own; // kept alive while its calls run
    return apartment ? apartment->Pump() : 0;
}

int WaitAndPumpApartment(int timeoutMs)
{
    const ApartmentRef apartment = tCom.Own;
    return apartment ? apartment->WaitAndPump(timeoutMs) : 0;
}

} // namespace platform

using platform::tCom;

extern "C" HRESULT CoInitializeEx(LPVOID, DWORD coInit)
{
    const DWORD model = platform::ModelOf(coInit);
    if (tCom.InitCount > 0) {
        if (tCom.Model != model)
            return RPC_E_CHANGED_MODE;
        ++tCom.InitCount;
        return S_FALSE;
    }
    if (model == COINIT_APARTMENTTHREADED) {
        try {
            tCom.Own = std::make_shared<platform::Apartment>();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (const std::exception&) {
            return E_UNEXPECTED;
        }
    }
    tCom.Model = model;
    tCom.InitCount = 1;
    return S_OK;
}

extern "C" void CoUninitialize()
{
    if (tCom.InitCount == 0 || --tCom.InitCount > 0)
        return;
    if (platform::ApartmentRef apartment = std::move(tCom.Own))
        apartment->Close();
}
