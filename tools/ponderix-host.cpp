// ponderix-host32.exe / ponderix-host64.exe: the process a driver runs in when Ponderix keeps it
// apart. It creates one object of the class named on its command line in its own single-threaded
// apartment, through the system's COM (so the module of its own bitness is loaded), and hands it
// to Ponderix marshalled: one line on standard output,
//   OK <the marshalled reference, hexadecimal>
//   ERR <status, 8 hexadecimal digits> <what failed>
// Then it serves the calls until its standard input ends (Ponderix closed it, or ended), and exits.
//
// Self-contained (system libraries and the proxy of ITrutina only, linked statically): each
// Windows build also builds the host of the other bitness with the other compiler.
#include "driver/TrutinaProxy.h"
#include "platform/hostline.h"

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>

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
    CoUninitialize();
    return 0;
}
