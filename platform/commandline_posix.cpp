// The command line and console off Windows: both are UTF-8 already.
#include "platform/commandline.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

void UseUtf8Console() {}
void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void SetProcessVariable(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

} // namespace platform
