// ponderix-host32.exe / ponderix-host64.exe: the process a driver runs in when Ponderix keeps it
// apart. It creates one object of the class named on its command line in its own single-threaded
// apartment, through the system's COM (so the module of its own bitness is loaded), and hands it
// to Ponderix marshalled: one line on standard output,
//   OK <the marshalled reference, hexadecimal>
//   ERR <status, 8 hexadecimal digits> <what failed>
// Then it serves the calls until its standard input ends (Ponderix closed it, or ended), and exits.
// The object is handed out with its connection point for the data event relayed, so that events
// the driver raises on threads of its own reach Ponderix too (below).
//
// Self-contained (system libraries, the proxy of ITrutina and header-only parts of ours, linked
// statically): each Windows build also builds the host of the other bitness with the other compiler.
#include "driver/TrutinaProxy.h"
#include "driver/Trutina_TLB.h"
#include "platform/comobject.h"
#include "platform/hostevents.h"
#include "platform/hostline.h"

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>

#include <deque>
#include <new>

namespace {

DWORD GMainThread = 0;

void WriteLine(const char* text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    WriteFile(out, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
    WriteFile(out, "\n", 1, &written, nullptr);
}

int Refuse(HRESULT status, const char* what)
{
    char line[256];
    platform::hostline::FormatRefusal(static_cast<unsigned long>(status), what, line, sizeof line);
    WriteLine(line);
    return 1;
}

// Ponderix closes the host's input to end it; a Ponderix that died closes it as well.
DWORD WINAPI WatchInput(void*)
{
    char buffer[64];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    PostThreadMessageW(GMainThread, WM_QUIT, 0, 0);
    return 0;
}

// A processor fault in the driver ends the host with the fault's code, as it would end an
// in-process bench: the system's call stub would otherwise swallow it and leave the driver
// running on broken state. The driver's own C++ exceptions pass.
// Which exceptions are fatal is decided here, before any handler: the processor faults, not the
// C++ exceptions, which the driver may raise and catch itself. The platform's list of exception
// names (platform/faults_win.cpp) only names codes for the last words of a process that is ending.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS* info)
{
    switch (info->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
        TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
        break;
    default:
        break;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// The system's stubs catch a fault inside a call unless told not to.
void LetFaultsEndTheProcess()
{
    IGlobalOptions* options = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_GlobalOptions, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalOptions,
                                   reinterpret_cast<void**>(&options)))) {
        options->Set(COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_DONOT_HANDLE_ANY);
        options->Release();
    }
    AddVectoredExceptionHandler(1, &EndOnFault);
}

// ---------------------------------------------------------------- events from the driver's threads
// Ponderix's event sink reaches the driver as a proxy that may be called on this apartment's
// thread only: a data event that the driver raises on a thread of its own would answer it
// RPC_E_WRONG_THREAD and never reach Ponderix. So the driver is advised a relay instead, which
// takes calls on any thread. On the apartment's thread it passes them straight through; from
// another thread it queues the event for the apartment's thread, which passes it on in the order
// raised, naming both threads (platform/hostevents.h) so that Ponderix names the fault as it does
// for a driver in its own process. The driver is answered S_OK, as in its own process.

constexpr UINT kRelayMessage = WM_APP + 1; // an event is queued
constexpr UINT kReleaseMessage = WM_APP + 2; // a sink proxy to release (lParam) on this thread
HWND GRelayWindow = nullptr;                   // message-only, on the apartment's thread

class TEventRelay;
struct TQueuedEvent {
    TEventRelay* Relay; // one reference held by the entry
    DWORD RaisedOn;
};
SRWLOCK GQueueLock = SRWLOCK_INIT;
std::deque<TQueuedEvent> GQueue;
bool GDelivering = false; // the apartment's thread is passing queued events on (it may re-enter)

class TEventRelay final : public platform::TUnknownImpl<IDispatch, IID_IDispatch, DIID_ITrutinaEvents> {
public:
    explicit TEventRelay(IDispatch* sink) : FSink(sink) { FSink->AddRef(); }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return FSink->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override
    {
        return FSink->GetTypeInfo(index, lcid, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        return FSink->GetIDsOfNames(riid, names, count, lcid, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argument) override
    {
        if (GetCurrentThreadId() == GMainThread)
            return FSink->Invoke(id, riid, lcid, flags, params, result, exception, argument);
        if (id != DISPID_TRUTINA_DATAEVENT)
            return DISP_E_MEMBERNOTFOUND; // as Ponderix's own sink answers
        if (result)
            VariantInit(result);
        AddRef();
        AcquireSRWLockExclusive(&GQueueLock);
        bool queued = true;
        try {
            GQueue.push_back({this, GetCurrentThreadId()});
        } catch (...) {
            queued = false;
        }
        ReleaseSRWLockExclusive(&GQueueLock);
        if (!queued) {
            Release();
            return E_OUTOFMEMORY;
        }
        // Without the window (the host is ending) the entry is released with the queue.
        PostMessageW(GRelayWindow, kRelayMessage, 0, 0);
        return S_OK;
    }

    // On the apartment's thread: the event raised on the thread raisedOn, passed on.
    void Deliver(DWORD raisedOn)
    {
        VARIANTARG where[2];
        DISPID names[2] = {platform::hostevents::kCreatedOnArgument, platform::hostevents::kRaisedOnArgument};
        VariantInit(&where[0]);
        where[0].vt = VT_I4;
        where[0].lVal = static_cast<LONG>(GMainThread);
        VariantInit(&where[1]);
        where[1].vt = VT_I4;
        where[1].lVal = static_cast<LONG>(raisedOn);
        DISPPARAMS params{where, names, 2, 2};
        FSink->Invoke(DISPID_TRUTINA_DATAEVENT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                      nullptr, nullptr);
    }

private:
    ~TEventRelay() override
    {
        // The proxy is released on the apartment's thread, whichever thread released the relay last.
        if (GetCurrentThreadId() == GMainThread || !PostMessageW(GRelayWindow, kReleaseMessage, 0, reinterpret_cast<LPARAM>(FSink)))
            FSink->Release();
    }

    IDispatch* const FSink;
};

// Takes the next queued event, if any.
bool NextQueued(TQueuedEvent& next)
{
    AcquireSRWLockExclusive(&GQueueLock);
    const bool any = !GQueue.empty();
    if (any) {
        next = GQueue.front();
        GQueue.pop_front();
    }
    ReleaseSRWLockExclusive(&GQueueLock);
    return any;
}

LRESULT CALLBACK RelayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kReleaseMessage) {
        reinterpret_cast<IUnknown*>(lParam)->Release();
        return 0;
    }
    if (message != kRelayMessage)
        return DefWindowProcW(window, message, wParam, lParam);
    // Passing an event on waits for Ponderix, and the system dispatches this window's messages
    // meanwhile: the outer loop passes on what is queued, so the events keep their order.
    if (GDelivering)
        return 0;
    GDelivering = true;
    TQueuedEvent next{};
    while (NextQueued(next)) {
        next.Relay->Deliver(next.RaisedOn);
        next.Relay->Release();
    }
    GDelivering = false;
    return 0;
}

bool CreateRelayWindow()
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &RelayWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PonderixHostEventRelay";
    if (!RegisterClassW(&windowClass))
        return false;
    GRelayWindow = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   windowClass.hInstance, nullptr);
    return GRelayWindow != nullptr;
}

// The driver's connection point for the data event, advising relays instead of the sinks given.
class TRelayingPoint final : public platform::TUnknownImpl<IConnectionPoint, IID_IConnectionPoint> {
public:
    TRelayingPoint(IConnectionPoint* inner, IConnectionPointContainer* container)
        : FInner(inner), FContainer(container)
    {
        FContainer->AddRef();
    }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override { return FInner->GetConnectionInterface(iid); }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override
    {
        if (!container)
            return E_POINTER;
        FContainer->AddRef();
        *container = FContainer;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override
    {
        IDispatch* dispatch = nullptr;
        if (!sink || FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch)
            return FInner->Advise(sink, cookie);
        TEventRelay* relay = new (std::nothrow) TEventRelay(dispatch);
        dispatch->Release();
        if (!relay)
            return E_OUTOFMEMORY;
        const HRESULT status = FInner->Advise(relay, cookie);
        relay->Release();
        return status;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override { return FInner->Unadvise(cookie); }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override
    {
        return FInner->EnumConnections(connections);
    }

private:
    ~TRelayingPoint() override
    {
        FInner->Release();
        FContainer->Release();
    }

    IConnectionPoint* const FInner; // owned
    IConnectionPointContainer* const FContainer;
};

// What Ponderix is handed: the driver's object, whose connection point for the data event relays.
// Every other interface is the driver's own; the identity (IUnknown) is this object's, so that
// the system marshals it and asks it for each interface Ponderix wants.
class TRelayingObject final
    : public platform::TUnknownImpl<IConnectionPointContainer, IID_IConnectionPointContainer> {
public:
    explicit TRelayingObject(IUnknown* inner) : FInner(inner) { FInner->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (riid == IID_IConnectionPointContainer) {
            IConnectionPointContainer* container = Container();
            if (!container)
                return E_NOINTERFACE;
            container->Release();
        }
        if (riid == IID_IUnknown || riid == IID_IConnectionPointContainer)
            return TUnknownImpl::QueryInterface(riid, out);
        if (riid == IID_IMarshal)
            return E_NOINTERFACE; // marshalled by the system, as this object
        return FInner->QueryInterface(riid, out);
    }
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override
    {
        IConnectionPointContainer* container = Container();
        if (!container)
            return E_NOINTERFACE;
        const HRESULT status = container->EnumConnectionPoints(points);
        container->Release();
        return status;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override
    {
        IConnectionPointContainer* container = Container();
        if (!container)
            return E_NOINTERFACE;
        HRESULT status = container->FindConnectionPoint(riid, point);
        container->Release();
        if (SUCCEEDED(status) && point && *point && riid == DIID_ITrutinaEvents) {
            IConnectionPoint* relaying = new (std::nothrow) TRelayingPoint(*point, this);
            if (!relaying) {
                (*point)->Release();
                status = E_OUTOFMEMORY;
            }
            *point = relaying;
        }
        return status;
    }

private:
    ~TRelayingObject() override { FInner->Release(); }

    IConnectionPointContainer* Container() const
    {
        IConnectionPointContainer* container = nullptr;
        FInner->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
        return container;
    }

    IUnknown* const FInner;
};

// The object's IUnknown, marshalled for another process of this machine, as the line "OK <hex>".
HRESULT Marshal(IUnknown* object, char* line, SIZE_T capacity)
{
    IStream* stream = nullptr;
    HRESULT status = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (FAILED(status))
        return status;
    status = CoMarshalInterface(stream, IID_IUnknown, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL);
    HGLOBAL memory = nullptr;
    if (SUCCEEDED(status))
        status = GetHGlobalFromStream(stream, &memory);
    if (SUCCEEDED(status)) {
        STATSTG stat{};
        status = stream->Stat(&stat, STATFLAG_NONAME);
        const auto* bytes = static_cast<const unsigned char*>(GlobalLock(memory));
        if (SUCCEEDED(status) && (!bytes || !platform::hostline::FormatReference(bytes, static_cast<std::size_t>(stat.cbSize.QuadPart), line, capacity)))
            status = E_OUTOFMEMORY;
        if (bytes)
            GlobalUnlock(memory);
    }
    stream->Release();
    return status;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    GMainThread = GetCurrentThreadId();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    if (argc != 2)
        return Refuse(E_INVALIDARG, "usage: ponderix-host <class id>");
    CLSID clsid{};
    if (FAILED(CLSIDFromString(argv[1], &clsid)))
        return Refuse(E_INVALIDARG, "the argument is not a class id");
    if (HRESULT status = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); FAILED(status))
        return Refuse(status, "CoInitializeEx");
    LetFaultsEndTheProcess();
    if (HRESULT status = RegisterTrutinaProxy(); FAILED(status))
        return Refuse(status, "the proxy of ITrutina");

    IUnknown* object = nullptr;
    if (HRESULT status = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                          reinterpret_cast<void**>(&object));
        FAILED(status) || !object)
        return Refuse(FAILED(status) ? status : E_POINTER, "CoCreateInstance");
    if (!CreateRelayWindow())
        return Refuse(HRESULT_FROM_WIN32(GetLastError()), "the window that relays events");
    IUnknown* relaying = new (std::nothrow) TRelayingObject(object);
    object->Release();
    if (!relaying)
        return Refuse(E_OUTOFMEMORY, "the object that relays events");
    object = relaying;
    static char line[platform::hostline::kMaxLine];
    if (HRESULT status = Marshal(object, line, sizeof line); FAILED(status))
        return Refuse(status, "CoMarshalInterface");
    // The message queue exists before Ponderix can ask this thread to quit.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    if (HANDLE watcher = CreateThread(nullptr, 0, &WatchInput, nullptr, 0, nullptr))
        CloseHandle(watcher);
    WriteLine(line);

    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    object->Release();
    for (TQueuedEvent left{}; NextQueued(left);)
        left.Relay->Release();
    CoUninitialize();
    return 0;
}
