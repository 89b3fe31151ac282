// A child process on POSIX: posix_spawn with three pipes, moved with poll. The child leads a
// process group of its own, which goes with it: what it starts cannot outlive it, nor signal the
// tool's group.
#include "platform/childprocess.h"
#include "platform/faults.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

extern char** environ;

namespace platform {
namespace {
const char* const kSharedName = "ponderix-child";
} // namespace

struct ChildProcess::TState {
    pid_t Pid = -1;
    int Input = -1, Output = -1, Errors = -1;
    std::string PendingInput;
    std::size_t InputWritten = 0;
    bool Reaped = false;
    ProcessEnd End;
    void* Shared = nullptr;
};

namespace {

void Close(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Writes without SIGPIPE: a child that closed its input makes the write fail with EPIPE instead.
ssize_t WriteQuietly(int fd, const char* data, std::size_t size)
{
    sigset_t pipe, previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &previous);
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EPIPE) {
        const timespec none{};
        sigtimedwait(&pipe, nullptr, &none); // the pending SIGPIPE is taken, not delivered later
        errno = EPIPE;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return written;
}

ProcessEnd EndOf(int status)
{
    ProcessEnd end;
    if (WIFSIGNALED(status)) {
        end.Faulted = true;
        end.Code = WTERMSIG(status);
        end.Words = FaultWords(static_cast<unsigned long>(end.Code));
    } else {
        end.Code = WEXITSTATUS(status);
        end.Words = "exit code " + std::to_string(end.Code);
    }
    return end;
}

// The child's end once it has come (blocking: waits for it). Its process group is ended first,
// while the child's id still names it.
bool Reap(ChildProcess::TState& s, bool block)
{
    if (s.Reaped)
        return true;
    siginfo_t info{};
    int ended;
    do
        ended = waitid(P_PID, static_cast<id_t>(s.Pid), &info, WEXITED | WNOWAIT | (block ? 0 : WNOHANG));
    while (ended < 0 && errno == EINTR);
    if (ended != 0 || info.si_pid != s.Pid)
        return false;
    kill(-s.Pid, SIGKILL);
    int status = 0;
    pid_t pid;
    do
        pid = waitpid(s.Pid, &status, 0);
    while (pid < 0 && errno == EINTR);
    if (pid != s.Pid)
        return false;
    s.Reaped = true;
    s.End = EndOf(status);
    return true;
}

} // namespace

std::string OwnProgramPath()
{
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

ChildProcess::ChildProcess() : FState(std::make_unique<TState>()) {}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                                                  std::string input, std::string& why)
{
    // The child holds only the three ends it is given as 0, 1 and 2: no other descriptor of ours.
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    auto closeAll = [&] {
        for (int* p : {in, out, err}) {
            Close(p[0]);
            Close(p[1]);
        }
    };
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        why = std::string("no pipe for the child: ") + std::strerror(errno);
        closeAll();
        return nullptr;
    }
    // The shared block: the child finds it as descriptor 3, by its name.
    int shared = memfd_create(kSharedName, MFD_CLOEXEC);
    if (shared >= 0 && shared < 10) {
        const int moved = fcntl(shared, F_DUPFD_CLOEXEC, 10); // clear of 0 to 3, which the child gets
        close(shared);
        shared = moved;
    }
    void* block = shared >= 0 && ftruncate(shared, SharedBytes) == 0
                      ? mmap(nullptr, SharedBytes, PROT_READ | PROT_WRITE, MAP_SHARED, shared, 0)
                      : MAP_FAILED;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (block != MAP_FAILED)
        posix_spawn_file_actions_adddup2(&actions, shared, 3);
    posix_spawn_file_actions_addclosefrom_np(&actions, block != MAP_FAILED ? 4 : 3);
    // A group of its own, with SIGPIPE as a fresh process has it (the tool may ignore it).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (shared >= 0)
        close(shared); // the mapping stays
    if (failed != 0) {
        why = "cannot start " + program + ": " + std::strerror(failed);
        if (block != MAP_FAILED)
            munmap(block, SharedBytes);
        closeAll();
        return nullptr;
    }
    std::unique_ptr<ChildProcess> child(new ChildProcess());
    TState& s = *child->FState;
    s.Pid = pid;
    s.Shared = block != MAP_FAILED ? block : nullptr;
    child->FProcessId = static_cast<unsigned long>(pid);
    std::swap(s.Input, in[1]);
    std::swap(s.Output, out[0]);
    std::swap(s.Errors, err[0]);
    closeAll(); // the child's ends
    fcntl(s.Input, F_SETFL, fcntl(s.Input, F_GETFL) | O_NONBLOCK);
    s.PendingInput = std::move(input);
    if (s.PendingInput.empty())
        Close(s.Input);
    return child;
}

ChildProcess::~ChildProcess()
{
    if (!FState->Reaped) {
        Kill();
        Wait();
    }
    Close(FState->Input);
    Close(FState->Output);
    Close(FState->Errors);
    if (FState->Shared)
        munmap(FState->Shared, SharedBytes);
}

const void* ChildProcess::Shared() const { return FState->Shared; }

void ChildProcess::Pump(int timeoutMs)
{
    TState& s = *FState;
    pollfd fds[3];
    nfds_t n = 0;
    auto watch = [&](int fd, short events) {
        if (fd >= 0)
            fds[n++] = pollfd{fd, events, 0};
    };
    watch(s.Output, POLLIN);
    watch(s.Errors, POLLIN);
    watch(s.Input, POLLOUT);
    // The child's end is looked at now and then, whatever its pipes do: a process it started may
    // hold them open, or keep writing, after it has ended.
    const int slice = timeoutMs < 0 || timeoutMs > 100 ? 100 : timeoutMs;
    const int ready = n == 0 ? 0 : poll(fds, n, slice);
    if (Reap(s, false) || n == 0 || (ready < 0 && errno != EINTR)) {
        TakeWhatIsLeft();
        return;
    }
    if (ready <= 0)
        return;
    char buffer[64 << 10];
    for (nfds_t i = 0; i < n; ++i) {
        if (fds[i].revents == 0)
            continue;
        if (fds[i].fd == s.Input) {
            const ssize_t written = WriteQuietly(s.Input, s.PendingInput.data() + s.InputWritten,
                                                 std::min<std::size_t>(s.PendingInput.size() - s.InputWritten, sizeof buffer));
            if (written > 0)
                s.InputWritten += static_cast<std::size_t>(written);
            if ((written < 0 && errno != EAGAIN && errno != EINTR) || s.InputWritten == s.PendingInput.size()) {
                Close(s.Input);
                std::string().swap(s.PendingInput);
            }
            continue;
        }
        const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (fds[i].fd == s.Output) {
            if (got <= 0) {
                Close(s.Output);
                FOutputEnded = true;
            } else {
                AddOutput(buffer, static_cast<std::size_t>(got));
            }
        } else if (got <= 0) {
            Close(s.Errors);
        } else {
            AddErrors(buffer, static_cast<std::size_t>(got));
        }
    }
}

void ChildProcess::TakeWhatIsLeft()
{
    // What the child wrote before it ended is in the pipes; their other writers are gone with its
    // group, or are not listened to.
    TState& s = *FState;
    char buffer[64 << 10];
    for (int* fd : {&s.Output, &s.Errors}) {
        if (*fd < 0)
            continue;
        fcntl(*fd, F_SETFL, fcntl(*fd, F_GETFL) | O_NONBLOCK);
        for (std::size_t taken = 0; taken < (1u << 20);) {
            const ssize_t got = read(*fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            (fd == &s.Output ? AddOutput(buffer, static_cast<std::size_t>(got)) : AddErrors(buffer, static_cast<std::size_t>(got)));
            taken += static_cast<std::size_t>(got);
        }
        Close(*fd);
    }
    Close(s.Input);
    FOutputEnded = true;
}

void ChildProcess::Kill()
{
    if (!FState->Reaped) {
        kill(-FState->Pid, SIGKILL); // the child and what it started
        kill(FState->Pid, SIGKILL);  // also when it left its group
    }
}

bool ChildProcess::WaitFor(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Reap(*FState, false)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (FState->Errors >= 0 || FState->Output >= 0)
            Pump(50);
        else
            usleep(10000);
        if (FOutput.size() > MaxLine)
            DropOutput(); // nobody reads it any more
    }
    return true;
}

ProcessEnd ChildProcess::Wait()
{
    // Its error output is still read meanwhile: a child blocked on a full pipe would never end.
    while (!Reap(*FState, false)) {
        if (FState->Errors >= 0 || FState->Output >= 0) {
            Pump(50);
            if (FOutput.size() > MaxLine)
                DropOutput(); // nobody reads it any more
        } else
            Reap(*FState, true);
    }
    return FState->End;
}

// ---------------------------------------------------------------- in the child
namespace {
std::mutex GParentLock;
int GParent = -1;
constexpr int kCopy = -2;          // GParent in a copy made by fork(): it writes nothing to the parent
constexpr int kCopyOrphaned = 125; // the exit code of a copy whose maker had already ended
pid_t GForkingProcess = 0;
void* GShared = nullptr;

// A copy of the child made by fork() (a driver's, daemon()'s) is not the child: the line to the
// parent is closed in it, and it ends with the process that made it.
void BeforeFork()
{
    GParentLock.lock();
    GForkingProcess = getpid();
}
void AfterForkInParent() { GParentLock.unlock(); }
void AfterForkInCopy()
{
    if (GParent >= 0)
        close(GParent);
    GParent = kCopy;
    if (GShared) // what the copy keeps there is its own
        mmap(GShared, ChildProcess::SharedBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    GParentLock.unlock();
    if (getppid() != GForkingProcess) // it ended before the copy asked to go with it
        _exit(kCopyOrphaned);
}
} // namespace

bool TakeStandardOutputForParent()
{
    std::lock_guard lock(GParentLock);
    if (GParent >= 0)
        return true;
    std::fflush(stdout);
    const int kept = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (kept < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        if (kept >= 0)
            close(kept);
        return false;
    }
    GParent = kept;
    prctl(PR_SET_PDEATHSIG, SIGKILL); // a child whose parent is gone has nobody to tell: it goes too
    static const bool watched = pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInCopy) == 0;
    return watched;
}

bool WriteToParent(std::string_view text)
{
    std::lock_guard lock(GParentLock);
    if (GParent == kCopy)
        return false;
    const int fd = GParent >= 0 ? GParent : STDOUT_FILENO;
    while (!text.empty()) {
        const ssize_t written = WriteQuietly(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void* SharedWithParent()
{
    static void* const block = [] {
        // Descriptor 3 is the block when it is the memory file the parent named so.
        char target[64] = {};
        const ssize_t n = readlink("/proc/self/fd/3", target, sizeof target - 1);
        if (n <= 0 || std::string_view(target, static_cast<std::size_t>(n)).rfind(std::string("/memfd:") + kSharedName, 0) != 0)
            return static_cast<void*>(nullptr);
        void* mapped = mmap(nullptr, ChildProcess::SharedBytes, PROT_READ | PROT_WRITE, MAP_SHARED, 3, 0);
        close(3); // nothing the driver starts inherits it
        return mapped == MAP_FAILED ? nullptr : mapped;
    }();
    std::lock_guard lock(GParentLock);
    GShared = block;
    return block;
}

bool ReadStandardInput(std::string& text, std::size_t maxBytes, std::string& why)
{
    text.clear();
    char buffer[64 << 10];
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = std::string("standard input cannot be read: ") + std::strerror(errno);
            return false;
        }
        if (got == 0)
            return true;
        if (text.size() + static_cast<std::size_t>(got) > maxBytes) {
            why = "standard input holds more than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

} // namespace platform
