// The single-threaded apartment's call queue on the system's COM. The thread that entered the
// apartment owns a hidden message-only window; a worker queues its call and posts the window a
// wake message, so the thread's own message loop (the GUI's, or WaitAndPumpApartment) runs the
// queued calls. A wake message is used up when received, so every pump wakes the thread again
// while calls still wait: inside the thread's message loop by a timer of the window, since the
// system delivers posted messages before timers and a stream of calls would starve the loop's own
// timers. An initialisation spy on the owning thread closes the queue when the thread's last
// CoUninitialize leaves the apartment.
#include "platform/apartment.h"
#include "platform/callqueue.h"
#include "platform/internal_win.h"

#include <stdexcept>

namespace platform {
namespace {

constexpr UINT kWakeMessage = WM_APP + 0x5A1;
constexpr UINT_PTR kWakeTimer = 0x5A1;
constexpr const wchar_t* kWindowClass = L"PonderixApartmentWindow";
constexpr int kMaxDispatchedMessages = 10000; // one WaitAndPump never loops for ever

HINSTANCE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

LRESULT CALLBACK ApartmentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

bool RegisterWindowClass()
{
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = ApartmentWindowProc;
        wc.hInstance = ThisModule();
        wc.lpszClassName = kWindowClass;
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

} // namespace

class Apartment final : public detail::TCallQueue {
public:
    // Runs on the owning thread.
    Apartment()
    {
        if (!RegisterWindowClass())
            throw std::runtime_error("cannot register the apartment's window class");
        FWindow = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
        if (!FWindow)
            throw std::runtime_error("cannot create the apartment's window");
        SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Apartment() { Close(false); }

    // Waits for a message, delivers the thread's other messages to their windows (the system's
    // COM has windows of its own) and runs the waiting calls once. Owning thread.
    int WaitAndPump(int timeoutMs)
    {
        if (!HasWaitingCalls())
            MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs),
                                        QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG msg;
        for (int i = 0; i < kMaxDispatchedMessages && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam)); // left for the thread's own loop
                break;
            }
            if (msg.hwnd == FWindow && msg.message == WM_TIMER && msg.wParam == kWakeTimer)
                KillTimer(FWindow, kWakeTimer);
            if (msg.hwnd == FWindow && (msg.message == kWakeMessage || msg.message == WM_TIMER))
                continue; // the queue runs below, once
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return PumpAndWakeIfWaiting();
    }

    int PumpAndWakeIfWaiting()
    {
        const TWakeIfWaiting again{*this};
        return Pump();
    }

    // The window procedure's pump. The system's message dispatch called it: nothing may leave
    // here (without a posted-call exception handler, what a call raises is dropped).
    void PumpFromWindow() noexcept
    {
        FInWindowPump = true;
        try {
            PumpAndWakeIfWaiting();
        } catch (...) {
        }
        FInWindowPump = false;
    }

    // Owning thread. destroyWindow false: the thread is ending, and the system destroys its
    // windows itself.
    void Close(bool destroyWindow)
    {
        CloseQueue([this, destroyWindow] {
            if (destroyWindow) {
                RemoveWakeMessages();
                DestroyWindow(FWindow);
            }
        });
    }

private:
    struct TWakeIfWaiting {
        Apartment& Owner;
        ~TWakeIfWaiting() { Owner.WakeIfWaiting(); }
    };

    // One wake message stands in the thread's queue while calls wait.
    bool Wake() override { return PostMessageW(FWindow, kWakeMessage, 0, 0) != 0; }
    bool Rewake() override
    {
        if (FInWindowPump)
            return SetTimer(FWindow, kWakeTimer, USER_TIMER_MINIMUM, nullptr) != 0;
        return Wake();
    }
    void Unwake() override
    {
        RemoveWakeMessages();
        KillTimer(FWindow, kWakeTimer);
    }
    void RemoveWakeMessages()
    {
        MSG msg;
        while (PeekMessageW(&msg, FWindow, kWakeMessage, kWakeMessage, PM_REMOVE)) {
        }
    }

    HWND FWindow = nullptr;
    bool FInWindowPump = false;
};

namespace {

void CloseThreadApartment();

// Tells the thread's apartment when the thread's last CoUninitialize has left COM.
class TUninitializeSpy final : public IInitializeSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IInitializeSpy)) {
            *ppv = static_cast<IInitializeSpy*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // One object for every thread, never destroyed: the system may hold it while threads end.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT hrCoInit, DWORD, DWORD) override { return hrCoInit; }
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD remainingInits) override
    {
        if (remainingInits == 0)
            CloseThreadApartment();
        return S_OK;
    }
};

TUninitializeSpy& Spy()
{
    static auto* spy = new TUninitializeSpy;
    return *spy;
}

// The calling thread's apartment queue. A thread that ends without uninitialising closes it; its
// spy registration goes with the thread's COM data. Nothing here waits or sends messages at thread
// end, where the loader's lock is held.
struct ThreadApartmentState {
    ApartmentRef Own;
    bool SpyRegistered = false;

    ~ThreadApartmentState()
    {
        if (ApartmentRef apartment = std::move(Own))
            apartment->Close(false);
    }
};
ThreadApartmentState& ThisThread()
{
    static detail::TThreadObject<ThreadApartmentState> state;
    return state.Get();
}

void CloseThreadApartment()
{
    if (ApartmentRef apartment = std::move(ThisThread().Own))
        apartment->Close(true);
}

LRESULT CALLBACK ApartmentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kWakeMessage || (message == WM_TIMER && wParam == kWakeTimer)) {
        if (message == WM_TIMER)
            KillTimer(window, kWakeTimer);
        // The window is the thread's; the thread's reference keeps its apartment alive while the
        // calls run, since one of them may end the apartment (its CoUninitialize).
        const ApartmentRef apartment = ThisThread().Own;
        if (apartment && apartment.get() == reinterpret_cast<Apartment*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            apartment->PumpFromWindow();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool InSingleThreadedApartment()
{
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(CoGetApartmentType(&type, &qualifier)))
        return false;
    return type == APTTYPE_STA || type == APTTYPE_MAINSTA;
}

} // namespace

namespace {

// From the first apartment on, COM holds this module's initialisation spy and the system its
// window procedure, and both call into it after its last user may have let it go (a server
// module unloaded before the thread's last CoUninitialize): it stays loaded from then on.
void KeepModuleLoaded()
{
    static const bool pinned = [] {
        HMODULE module = nullptr;
        return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                  reinterpret_cast<LPCWSTR>(&KeepModuleLoaded), &module) != 0;
    }();
    (void)pinned;
}

} // namespace

ApartmentRef CurrentApartment()
{
    if (!InSingleThreadedApartment()) {
        CloseThreadApartment(); // left COM without our spy noticing (none was registered yet)
        return nullptr;
    }
    ThreadApartmentState& thread = ThisThread();
    if (!thread.Own) {
        try {
            KeepModuleLoaded();
            if (!thread.SpyRegistered) {
                ULARGE_INTEGER cookie{};
                thread.SpyRegistered = SUCCEEDED(CoRegisterInitializeSpy(&Spy(), &cookie));
            }
            thread.Own = std::make_shared<Apartment>();
        } catch (...) {
            return nullptr;
        }
    }
    return thread.Own;
}

bool PostToApartment(const ApartmentRef& apartment, std::function<void()> fn)
{
    try {
        return apartment && apartment->Post(std::move(fn));
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The system's message loop is the notification on Windows: posted calls arrive as window
// messages of the apartment's thread.
int ApartmentNotifyHandle() { return -1; }

int PumpApartment()
{
    const ApartmentRef apartment = ThisThread().Own; // kept alive while its calls run
    return apartment ? apartment->PumpAndWakeIfWaiting() : 0;
}

int WaitAndPumpApartment(int timeoutMs)
{
    const ApartmentRef apartment = CurrentApartment();
    if (apartment)
        return apartment->WaitAndPump(timeoutMs);
    return 0;
}

} // namespace platform
