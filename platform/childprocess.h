// A child process of this program, talked to through its standard streams: what a tool uses to
// call a driver that may crash, hang or end the process, without dying with it. No Qt.
//
//   std::string why;
//   auto child = platform::ChildProcess::Start(platform::OwnProgramPath(), {"--work"}, input, why);
//   std::string line;
//   while (child->ReadLine(line, 1000) != platform::ChildProcess::ReadOutcome::Ended) ...
//   const platform::ChildProcess::TEnd end = child->Wait(); // "exit code 0", "signal 11 (SIGSEGV)"
//
// POSIX: posix_spawn with three pipes, read with poll. Windows: CreateProcessW with three pipes.
#pragma once

#include "platform/ole.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The file of this program (the running executable), absolute; empty when it cannot be told.
PLATFORM_API std::string OwnProgramPath();

// How a process ended, in the words the crash report uses: "exit code 3", "signal 11 (SIGSEGV)"
// (POSIX), "exception 0xC0000005 (access violation)" (Windows: an exit status of an NTSTATUS
// error, 0xC0000000 and above, is the exception that ended the process).
struct PLATFORM_API ProcessEnd {
    bool Faulted = false; // a fatal signal or an exception, rather than an exit
    int Code = 0;         // the exit code, the signal's number, or the exception's code
    std::string Words;
};

class PLATFORM_API ChildProcess {
public:
    // Starts program with arguments (without the program's name). input goes to the child's
    // standard input, which is then closed; it is written while the child's output is read, so
    // that neither waits for the other. Standard output is read line by line, standard error is
    // kept (the first MaxErrorOutput bytes). nullptr, with the reason in why, when it cannot start.
    static std::unique_ptr<ChildProcess> Start(const std::string& program, const std::vector<std::string>& arguments,
                                               std::string input, std::string& why);
    // Kills the child when it still runs, and waits for it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    static constexpr std::size_t MaxLine = 1 << 20;          // a longer line is cut there
    static constexpr std::size_t MaxErrorOutput = 64 << 10; // standard error kept

    enum class ReadOutcome { Line, TimedOut, Ended };
    // The next line of the child's standard output, without its line end, waiting up to timeoutMs
    // (negative: without limit). Ended once the output is closed (the child ended, or closed it)
    // and every whole line was read; a last line without its end is handed out first.
    ReadOutcome ReadLine(std::string& line, int timeoutMs);
    // What the child wrote to standard error so far (at most MaxErrorOutput bytes).
    const std::string& ErrorOutput() const { return FErrors; }
    // Ends the child at once (SIGKILL, TerminateProcess with exit code 1).
    void Kill();
    // Waits for the child's end and tells it; later calls tell it again.
    ProcessEnd Wait();
    // Waits up to timeoutMs for the child's end; true once it has ended.
    bool WaitFor(int timeoutMs);
    unsigned long ProcessId() const { return FProcessId; }

    // A block of SharedBytes that the child sees too (SharedWithParent), zeroed at the start; what
    // the child keeps there costs it no call of the system, and survives its end. nullptr where
    // the system gives none (Windows: the child says everything on its standard output).
    static constexpr std::size_t SharedBytes = 4096;
    const void* Shared() const;

    struct TState; // the system's handles and the end once known

private:
    ChildProcess();
    // Waits up to timeoutMs for the child's output, error output or input to move, and moves
    // what it can; notes when the output has ended (closed, or the child ended and left none).
    void Pump(int timeoutMs);
    // The child has ended: what its pipes hold now is the last of it; they are closed.
    void TakeWhatIsLeft();
    void AddOutput(const char* data, std::size_t size);
    void AddErrors(const char* data, std::size_t size);
    bool TakeLine(std::string& line);
    void DropOutput()
    {
        FOutput.clear();
        FTaken = 0;
    }

    std::unique_ptr<TState> FState;
    unsigned long FProcessId = 0;
    std::string FOutput;   // read; handed out up to FTaken
    std::size_t FTaken = 0;
    bool FCutting = false; // dropping the rest of a line longer than MaxLine
    bool FOutputEnded = false;
    std::string FErrors;
};

// ---------------------------------------------------------------- in the child
// Keeps the child's standard output for the lines to its parent: the handle moves aside and
// standard output (the C library's and the system's) goes to standard error from now on, so
// that what the code it hosts prints cannot pass for a line. On Linux the child is also ended
// when its parent ends. false when it cannot be done.
PLATFORM_API bool TakeStandardOutputForParent();
// Writes text (whole lines) to the parent, one thread at a time; false when it could not.
PLATFORM_API bool WriteToParent(std::string_view text);
// The whole of standard input, read as bytes; false, with the reason in why, when it could not be
// read or holds more than maxBytes.
PLATFORM_API bool ReadStandardInput(std::string& text, std::size_t maxBytes, std::string& why);
// The block its parent shares with it (ChildProcess::Shared), or nullptr; the same on every call.
// A copy made by fork() writes to a private copy of it.
PLATFORM_API void* SharedWithParent();

} // namespace platform
