// The calling thread's message filter: while a call to another process waits, it lets the thread
// paint and asks the handler whether to wait on or to cancel the call.
#include "platform/outgoingcalls.h"

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace platform {
namespace {

class TMessageFilter final : public IMessageFilter {
public:
    explicit TMessageFilter(OutgoingCallHandler handler) : FHandler(std::move(handler)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMessageFilter)) {
            *out = static_cast<IMessageFilter*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&FReferences); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&FReferences);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override
    {
        return SERVERCALL_ISHANDLED;
    }
    // A busy callee: give up at once, the caller reports the failure.
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override { return static_cast<DWORD>(-1); }

    // Asked for every message that arrives while a call waits (the time the system passes is
    // not reliable everywhere: Wine's stays 0): the handler keeps its own count.
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override
    {
        if (FAsking)
            return PENDINGMSG_WAITDEFPROCESS;
        FAsking = true;
        const OutgoingCallChoice choice = FHandler();
        FAsking = false;
        return choice == OutgoingCallChoice::Cancel ? PENDINGMSG_CANCELCALL : PENDINGMSG_WAITDEFPROCESS;
    }

private:
    ~TMessageFilter() = default;

    LONG FReferences = 1;
    const OutgoingCallHandler FHandler;
    bool FAsking = false;
};

} // namespace

void SetOutgoingCallHandler(OutgoingCallHandler handler)
{
    IMessageFilter* previous = nullptr;
    if (!handler) {
        CoRegisterMessageFilter(nullptr, &previous);
    } else {
        auto* filter = new TMessageFilter(std::move(handler));
        CoRegisterMessageFilter(filter, &previous);
        filter->Release(); // COM holds it now
    }
    if (previous)
        previous->Release();
}

} // namespace platform
