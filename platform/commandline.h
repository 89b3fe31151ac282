// The command line, the console and the process's environment, in UTF-8.
#pragma once

#include "platform/ole.h"

#include <string>
#include <vector>

namespace platform {

// The command line's arguments in UTF-8: on Windows from the system's UTF-16 command line, since
// the ANSI argv cannot hold every file name.
PLATFORM_API std::vector<std::string> CommandLineArguments(int argc, char** argv);
// Text written to the console is UTF-8 (on Windows the console's code page is set to it).
PLATFORM_API void UseUtf8Console();
// A write to a closed pipe fails (EPIPE) instead of ending the program (POSIX's SIGPIPE); nothing
// to do on Windows, where such a write only fails.
PLATFORM_API void IgnoreBrokenPipe();
// Whether standard error is a terminal (a console), not a file or a pipe.
PLATFORM_API bool StandardErrorIsTerminal();
// Sets a variable of this process's environment (seen by getenv and by children started after).
PLATFORM_API void SetProcessVariable(const std::string& name, const std::string& value);

} // namespace platform
