// Fatal signals: the handler writes the words with write(2) only, then the signal is raised again
// with its default action (the handler is installed with SA_RESETHAND).
#include "platform/faults.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <cstring>

namespace platform {
namespace {

std::atomic<TCrashWriter> GWriter{nullptr};
std::atomic<int> GCrashFile{-1};
TCrashWords GWords;

struct TFatalSignal {
    int Number;
    const char* Code;
};
const TFatalSignal FatalSignals[] = {
    {SIGSEGV, "signal 11 (SIGSEGV)"}, {SIGBUS, "signal 7 (SIGBUS)"},  {SIGILL, "signal 4 (SIGILL)"},
    {SIGFPE, "signal 8 (SIGFPE)"},    {SIGABRT, "signal 6 (SIGABRT)"},
};

void WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// The crash line goes on a line of its own: after a write cut short (a full disk), the file ends
// inside a line.
void WriteCrashLine(int fd, const char* line, std::size_t size)
{
    struct stat file;
    char last = '\n';
    if (fstat(fd, &file) == 0 && file.st_size > 0 && pread(fd, &last, 1, file.st_size - 1) == 1 && last != '\n')
        WriteAll(fd, "\n", 1);
    WriteAll(fd, line, size);
}

void OnFatalSignal(int number, siginfo_t*, void*)
{
    const int savedErrno = errno;
    const char* code = "a fatal signal";
    for (const TFatalSignal& s : FatalSignals)
        if (s.Number == number)
            code = s.Code;
    if (TCrashWriter writer = GWriter.load()) {
        GWords.TextSize = GWords.FileLineSize = 0;
        writer(code, GWords);
        WriteAll(STDERR_FILENO, GWords.Text, GWords.TextSize);
        if (const int fd = GCrashFile.load(); fd >= 0)
            WriteCrashLine(fd, GWords.FileLine, GWords.FileLineSize);
    }
    errno = savedErrno;
    raise(number); // blocked until the handler returns, then taken with the default action
}

std::atomic<TCrashWriter> GExitWriter{nullptr};
TCrashWords GExitWords;

void OnExit(int status, void*)
{
    TCrashWriter writer = GExitWriter.load();
    if (!writer)
        return;
    const std::string code = "exit code " + std::to_string(status);
    GExitWords.TextSize = GExitWords.FileLineSize = 0;
    writer(code.c_str(), GExitWords);
    if (GExitWords.TextSize + GExitWords.FileLineSize == 0)
        return;
    // Said once: a fault in the rest of the exit (code whose state the exit broke) adds nothing.
    GWriter.store(nullptr);
    WriteAll(STDERR_FILENO, GExitWords.Text, GExitWords.TextSize);
    if (const int fd = GCrashFile.load(); fd >= 0)
        WriteCrashLine(fd, GExitWords.FileLine, GExitWords.FileLineSize);
}

} // namespace

void InstallExitWriter(TCrashWriter writer)
{
    static const bool registered = on_exit(&OnExit, nullptr) == 0; // once: handlers cannot be removed
    (void)registered;
    GExitWriter.store(writer);
}

unsigned long CurrentThreadId() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

void InstallCrashWriter(TCrashWriter writer)
{
    GWriter.store(writer);
    static char alternateStack[64 * 1024]; // a stack overflow still leaves room for the words
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);
    struct sigaction action{};
    sigemptyset(&action.sa_mask);
    if (writer) {
        action.sa_sigaction = &OnFatalSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    } else {
        action.sa_handler = SIG_DFL;
    }
    for (const TFatalSignal& s : FatalSignals)
        sigaction(s.Number, &action, nullptr);
}

std::string FaultWords(unsigned long code)
{
    const char* name = sigabbrev_np(static_cast<int>(code));
    return "signal " + std::to_string(code) + (name ? std::string(" (SIG") + name + ")" : std::string());
}

bool SetCrashFile(const std::string& path)
{
    const int fd = path.empty() ? -1 : open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (const int previous = GCrashFile.exchange(fd); previous >= 0)
        close(previous);
    return path.empty() || fd >= 0;
}

} // namespace platform
