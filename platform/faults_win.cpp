// Unhandled exceptions: the process's top-level filter writes the words, then the process ends
// with the exception's code as its exit status (no debugger is started, and the C runtime's own
// filter, which would pass an access violation on, is replaced).
#include "platform/faults.h"
#include "platform/hex.h"
#include "platform/internal_win.h"

#include <atomic>
#include <cstdlib>

namespace platform {
namespace {

std::atomic<TCrashWriter> GWriter{nullptr};
std::atomic<HANDLE> GCrashFile{INVALID_HANDLE_VALUE};
TCrashWords GWords;

// Names for the last words only: every exception that reaches this filter ends the process, named
// or not. Not the driver host's list of faults that end it (tools/ponderix-host.cpp): that one
// picks which exceptions are fatal at all, since the host must let the driver's C++ exceptions pass.
struct TKnownException {
    DWORD Code;
    const char* Name;
};
const TKnownException KnownExceptions[] = {
    {EXCEPTION_ACCESS_VIOLATION, "access violation"},
    {EXCEPTION_STACK_OVERFLOW, "stack overflow"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, "illegal instruction"},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, "integer division by zero"},
    {EXCEPTION_IN_PAGE_ERROR, "in-page error"},
    {0xE06D7363, "C++ exception"},
    {0x20474343, "C++ exception"},
};

void WriteAll(HANDLE file, const char* data, std::size_t size)
{
    DWORD written = 0;
    while (size > 0 && WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written > 0) {
        data += written;
        size -= written;
    }
}

// "exception 0xC0000005 (access violation)", without the C library.
void FormatCode(DWORD code, char* out)
{
    const char* prefix = "exception 0x";
    char* p = out;
    while (*prefix)
        *p++ = *prefix++;
    for (int shift = 28; shift >= 0; shift -= 4)
        *p++ = kHexDigits[(code >> shift) & 0xF];
    for (const TKnownException& known : KnownExceptions)
        if (known.Code == code) {
            *p++ = ' ';
            *p++ = '(';
            for (const char* n = known.Name; *n;)
                *p++ = *n++;
            *p++ = ')';
        }
    *p = '\0';
}

// The crash line goes on a line of its own: after a write cut short (a full disk), the file ends
// inside a line.
void WriteCrashLine(HANDLE file, const char* line, std::size_t size)
{
    LARGE_INTEGER length{};
    OVERLAPPED at{};
    char last = '\n';
    DWORD read = 0;
    if (GetFileSizeEx(file, &length) && length.QuadPart > 0) {
        at.Offset = static_cast<DWORD>(length.QuadPart - 1);
        at.OffsetHigh = static_cast<DWORD>((length.QuadPart - 1) >> 32);
        if (ReadFile(file, &last, 1, &read, &at) && read == 1 && last != '\n')
            WriteAll(file, "\n", 1);
    }
    WriteAll(file, line, size);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info)
{
    if (TCrashWriter writer = GWriter.load()) {
        char code[64];
        FormatCode(info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0, code);
        GWords.TextSize = GWords.FileLineSize = 0;
        writer(code, GWords);
        WriteAll(GetStdHandle(STD_ERROR_HANDLE), GWords.Text, GWords.TextSize);
        if (HANDLE file = GCrashFile.load(); file != INVALID_HANDLE_VALUE)
            WriteCrashLine(file, GWords.FileLine, GWords.FileLineSize);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

std::atomic<TCrashWriter> GExitWriter{nullptr};
TCrashWords GExitWords;

// Registered in this library, so that it runs when the library is told of the process's end:
// ExitProcess, from whatever module, tells every library.
void OnExit()
{
    TCrashWriter writer = GExitWriter.load();
    if (!writer)
        return;
    GExitWords.TextSize = GExitWords.FileLineSize = 0;
    writer("ExitProcess", GExitWords);
    if (GExitWords.TextSize + GExitWords.FileLineSize == 0)
        return;
    // Said once: a fault in the rest of the exit (code whose state the exit broke) adds nothing.
    GWriter.store(nullptr);
    WriteAll(GetStdHandle(STD_ERROR_HANDLE), GExitWords.Text, GExitWords.TextSize);
    if (HANDLE file = GCrashFile.load(); file != INVALID_HANDLE_VALUE)
        WriteCrashLine(file, GExitWords.FileLine, GExitWords.FileLineSize);
}

} // namespace

void InstallExitWriter(TCrashWriter writer)
{
    static const bool registered = std::atexit(&OnExit) == 0; // once: handlers cannot be removed
    (void)registered;
    GExitWriter.store(writer);
}

unsigned long CurrentThreadId() { return GetCurrentThreadId(); }

void InstallCrashWriter(TCrashWriter writer)
{
    GWriter.store(writer);
    SetUnhandledExceptionFilter(writer ? &OnUnhandledException : nullptr);
}

std::string FaultWords(unsigned long code)
{
    char text[64];
    FormatCode(static_cast<DWORD>(code), text);
    return text;
}

bool SetCrashFile(const std::string& path)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!path.empty())
        file = CreateFileW(detail::WideFromUtf8(path).c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (HANDLE previous = GCrashFile.exchange(file); previous != INVALID_HANDLE_VALUE)
        CloseHandle(previous);
    return path.empty() || file != INVALID_HANDLE_VALUE;
}

} // namespace platform
