// What the command-line tools share about their command line and console.
#pragma once

#include <string>
#include <vector>

namespace tools {

// The command line's arguments in UTF-8: on Windows from the system's UTF-16 command line, since
// the ANSI argv cannot hold every file name.
std::vector<std::string> Arguments(int argc, char** argv);

// Text written to the console is UTF-8 (on Windows the console's code page is set to it).
void UseUtf8Console();

} // namespace tools
