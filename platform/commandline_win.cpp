// The command line and console on Windows: the UTF-16 command line, the console set to UTF-8.
#include "platform/commandline.h"
#include "platform/internal_win.h"

#include <cstdio>
#include <cstdlib>
#include <io.h>

namespace platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return {argv, argv + argc};
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i)
        args.push_back(detail::Utf8FromWide(wide[i]));
    LocalFree(wide);
    return args;
}

void UseUtf8Console() { SetConsoleOutputCP(CP_UTF8); }
void IgnoreBrokenPipe() {}

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// Through the C library, whose getenv reads its own copy of the environment (_putenv copies the
// text it is given).
void SetProcessVariable(const std::string& name, const std::string& value) { _putenv((name + "=" + value).c_str()); }

} // namespace platform
