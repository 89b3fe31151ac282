// The command line and console off Windows: both are UTF-8 already.
#include "platform/commandline.h"

#include <csignal>
#include <unistd.h>

namespace platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

void UseUtf8Console() {}
void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

} // namespace platform
