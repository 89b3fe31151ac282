// A child process on Windows: CreateProcessW with three pipes. Anonymous pipes cannot be waited
// on, so the output is looked at (PeekNamedPipe) every few milliseconds, and the input is written
// by a thread of its own. The child and every process it starts are one job, which goes with it.
#include "platform/childprocess.h"
#include "platform/faults.h"
#include "platform/internal_win.h"
#include "platform/module.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <io.h>
#include <thread>
#include <vector>

namespace platform {

struct ChildProcess::TState {
    HANDLE Process = nullptr;
    HANDLE Job = nullptr; // ends its processes when closed
    HANDLE Output = nullptr, Errors = nullptr;
    std::thread InputWriter;
    bool Ended = false;
    ProcessEnd End;
};

namespace {

void Close(HANDLE& handle)
{
    if (handle && handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    handle = nullptr;
}

// One argument as CommandLineToArgvW reads it back: quoted when it must be, backslashes doubled
// before a quote.
void AppendArgument(std::wstring& line, const std::wstring& argument)
{
    line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < argument.size() && argument[i] == L'\\') {
            ++i;
            ++backslashes;
        }
        if (i == argument.size()) {
            line.append(backslashes * 2, L'\\');
            break;
        }
        if (argument[i] == L'"')
            line.append(backslashes * 2 + 1, L'\\');
        else
            line.append(backslashes, L'\\');
        line += argument[i];
    }
    line += L'"';
}

ProcessEnd EndOf(DWORD code)
{
    ProcessEnd end;
    end.Code = static_cast<int>(code);
    // An NTSTATUS error as the exit status: the exception that ended the process.
    end.Faulted = code >= 0xC0000000u;
    end.Words = end.Faulted ? FaultWords(code) : "exit code " + std::to_string(code);
    return end;
}

// Reads what the pipe holds now; false once it is closed and empty.
template <typename TAdd>
bool ReadAvailable(HANDLE pipe, TAdd&& add)
{
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
        return false; // broken: every writer has closed it
    while (available > 0) {
        char buffer[64 << 10];
        DWORD read = 0;
        if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : DWORD(sizeof buffer), &read, nullptr))
            return false;
        add(buffer, static_cast<std::size_t>(read));
        available -= read < available ? read : available;
    }
    return true;
}

} // namespace

std::string OwnProgramPath() { return ModulePathOf(GetModuleHandleW(nullptr)); }

ChildProcess::ChildProcess() : FState(std::make_unique<TState>()) {}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                                                  std::string input, std::string& why)
{
    // Only the child's ends are inherited.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr, errRead = nullptr,
           errWrite = nullptr;
    auto closeAll = [&] {
        for (HANDLE* h : {&inRead, &inWrite, &outRead, &outWrite, &errRead, &errWrite})
            Close(*h);
    };
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0) || !CreatePipe(&outRead, &outWrite, &inherit, 0) ||
        !CreatePipe(&errRead, &errWrite, &inherit, 0) || !SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0) ||
        !SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0) ||
        !SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0)) {
        why = "no pipe for the child: " + detail::SystemMessage(GetLastError());
        closeAll();
        return nullptr;
    }
    const std::wstring file = detail::WideFromUtf8(program);
    std::wstring commandLine = L"\"" + file + L"\"";
    for (const std::string& argument : arguments)
        AppendArgument(commandLine, detail::WideFromUtf8(argument));
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = inRead;
    startup.StartupInfo.hStdOutput = outWrite;
    startup.StartupInfo.hStdError = errWrite;
    // Of the tool's inheritable handles, only the child's three ends reach it.
    HANDLE inherited[] = {inRead, outWrite, errWrite};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED;
    if (size > 0 && InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited, nullptr,
                                      nullptr)) {
            startup.lpAttributeList = list;
            flags |= EXTENDED_STARTUPINFO_PRESENT;
        }
    }
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(file.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                        nullptr, &startup.StartupInfo, &process);
    const DWORD error = GetLastError();
    if (startup.lpAttributeList)
        DeleteProcThreadAttributeList(list);
    if (!started) {
        why = "cannot start " + program + ": " + detail::SystemMessage(error);
        closeAll();
        return nullptr;
    }
    // Its job, before it runs: what it starts belongs to the job too.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
                !AssignProcessToJobObject(job, process.hProcess)))
        Close(job); // a job the tool's own job forbids: the child alone is ended
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    Close(inRead);
    Close(outWrite);
    Close(errWrite);
    std::unique_ptr<ChildProcess> child(new ChildProcess());
    TState& s = *child->FState;
    s.Process = process.hProcess;
    s.Job = job;
    child->FProcessId = process.dwProcessId;
    s.Output = outRead;
    s.Errors = errRead;
    // Written on a thread of its own; a child that ends without reading it makes the write fail.
    s.InputWriter = std::thread([pipe = inWrite, text = std::move(input)] {
        std::size_t done = 0;
        DWORD written = 0;
        while (done < text.size() &&
               WriteFile(pipe, text.data() + done, static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20)),
                         &written, nullptr))
            done += written;
        CloseHandle(pipe);
    });
    return child;
}

ChildProcess::~ChildProcess()
{
    if (!FState->Ended) {
        Kill();
        Wait();
    }
    if (FState->InputWriter.joinable())
        FState->InputWriter.join(); // the child is gone: its input's write has failed
    Close(FState->Output);
    Close(FState->Errors);
    Close(FState->Job);
    Close(FState->Process);
}

void ChildProcess::Pump(int timeoutMs)
{
    TState& s = *FState;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 100 : timeoutMs);
    for (;;) {
        // Listened to until the child itself ends, whatever its pipes do: what it started goes
        // with it, and what the pipes hold then is the last of it.
        if (WaitForSingleObject(s.Process, 0) == WAIT_OBJECT_0) {
            if (s.Job)
                TerminateJobObject(s.Job, 1);
            if (s.Output)
                ReadAvailable(s.Output, [&](const char* d, std::size_t n) { AddOutput(d, n); });
            if (s.Errors)
                ReadAvailable(s.Errors, [&](const char* d, std::size_t n) { AddErrors(d, n); });
            Close(s.Output);
            Close(s.Errors);
            FOutputEnded = true;
            return;
        }
        std::size_t before = FOutput.size() + FErrors.size();
        bool moved = false;
        if (s.Output && !ReadAvailable(s.Output, [&](const char* d, std::size_t n) { AddOutput(d, n); moved = true; })) {
            Close(s.Output);
            FOutputEnded = true;
            return;
        }
        if (s.Errors && !ReadAvailable(s.Errors, [&](const char* d, std::size_t n) { AddErrors(d, n); moved = true; }))
            Close(s.Errors);
        if (moved || FOutput.size() + FErrors.size() != before)
            return;
        WaitForSingleObject(s.Process, 5);
        if (Clock::now() >= deadline)
            return;
    }
}

const void* ChildProcess::Shared() const { return nullptr; }

void ChildProcess::Kill()
{
    if (FState->Ended)
        return;
    if (FState->Job)
        TerminateJobObject(FState->Job, 1);
    TerminateProcess(FState->Process, 1);
}

bool ChildProcess::WaitFor(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (WaitForSingleObject(FState->Process, 0) != WAIT_OBJECT_0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        Pump(50);
        if (FOutput.size() > MaxLine)
            DropOutput(); // nobody reads it any more
    }
    return true;
}

ProcessEnd ChildProcess::Wait()
{
    TState& s = *FState;
    // Its error output is still read meanwhile: a child blocked on a full pipe would never end.
    while (!s.Ended) {
        if (WaitForSingleObject(s.Process, 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(s.Process, &code);
            s.Ended = true;
            s.End = EndOf(code);
            if (s.Job)
                TerminateJobObject(s.Job, 1); // what it started goes with it
            // What it wrote to its error output just before it ended is still in the pipe.
            if (s.Errors)
                ReadAvailable(s.Errors, [&](const char* d, std::size_t n) { AddErrors(d, n); });
            break;
        }
        Pump(50);
        if (FOutput.size() > MaxLine)
            DropOutput(); // nobody reads it any more
    }
    return s.End;
}

// ---------------------------------------------------------------- in the child
namespace {
std::mutex GParentLock;
HANDLE GParent = nullptr;
} // namespace

bool TakeStandardOutputForParent()
{
    std::lock_guard lock(GParentLock);
    if (GParent)
        return true;
    std::fflush(stdout);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE), errors = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE kept = nullptr;
    if (!output || output == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), output, GetCurrentProcess(), &kept, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    // The system's standard output and the C library's descriptor 1 both lead to standard error.
    SetStdHandle(STD_OUTPUT_HANDLE, errors);
    _dup2(_fileno(stderr), _fileno(stdout));
    GParent = kept;
    return true;
}

bool WriteToParent(std::string_view text)
{
    std::lock_guard lock(GParentLock);
    HANDLE pipe = GParent ? GParent : GetStdHandle(STD_OUTPUT_HANDLE);
    while (!text.empty()) {
        DWORD written = 0;
        if (!WriteFile(pipe, text.data(), static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20)), &written,
                       nullptr) ||
            written == 0)
            return false;
        text.remove_prefix(written);
    }
    return true;
}

void* SharedWithParent() { return nullptr; }

bool ReadStandardInput(std::string& text, std::size_t maxBytes, std::string& why)
{
    text.clear();
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[64 << 10];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_BROKEN_PIPE)
                return true; // the writer closed it: the end
            why = "standard input cannot be read: " + detail::SystemMessage(error);
            return false;
        }
        if (got == 0)
            return true;
        if (text.size() + got > maxBytes) {
            why = "standard input holds more than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
        text.append(buffer, got);
    }
}

} // namespace platform
