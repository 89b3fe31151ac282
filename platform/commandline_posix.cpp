// The command line and console off Windows: both are UTF-8 already.
#include "platform/commandline.h"

#include <unistd.h>

namespace platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

void UseUtf8Console() {}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

} // namespace platform
