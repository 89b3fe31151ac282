// What the program needs when code it hosts breaks the rules: the system's id of a thread, and
// last words when the process dies of a fault (a fatal signal here, an unhandled exception on
// Windows), written before it ends.
#pragma once

#include "platform/ole.h"

#include <cstddef>
#include <string>

namespace platform {

// The calling thread's id as the system's tools show it (gettid, GetCurrentThreadId).
PLATFORM_API unsigned long CurrentThreadId();

// The last words: a text for standard error and a line for the crash file.
struct TCrashWords {
    char Text[1024];
    std::size_t TextSize;
    char FileLine[1024];
    std::size_t FileLineSize;
};
// Fills words for the fault named by code ("signal 11 (SIGSEGV)", "exception 0xC0000005 (access
// violation)"). It runs in the fault's handler: formatting into words only, no allocation, no lock.
using TCrashWriter = void (*)(const char* code, TCrashWords& words);

// Installs the handler of the process's fatal faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT
// here, on an alternate stack for the calling thread; the unhandled-exception filter on Windows).
// It writes the words, then lets the fault take its default course, so that the exit status is
// the fault's. An empty writer leaves the faults to their default.
PLATFORM_API void InstallCrashWriter(TCrashWriter writer);
// The file the words' line is appended to (an existing one: the recording), opened now, since it
// cannot be opened in the handler; an empty path closes it. false when it cannot be opened.
PLATFORM_API bool SetCrashFile(const std::string& path);

// The fault named as the words name it: a signal's number here ("signal 11 (SIGSEGV)"), an
// exception's code on Windows ("exception 0xC0000005 (access violation)").
PLATFORM_API std::string FaultWords(unsigned long code);

} // namespace platform
