// ponderix-check [--module FILE] [--class PROGID|{CLSID}] [--com-only] [--seed N] [--out DIR]
//                [--call-limit MS] [--sequences N]
// Checks a driver against every COM and interface rule (tools/check/Check.h). Exit code 0 when
// no rule is broken, 1 when one is, 2 when nothing could be checked.
#include "platform/commandline.h"
#include "runtime/commandinfo.h"
#include "tools/check/Check.h"

#include <iostream>

int main(int argc, char** argv)
{
    platform::UseUtf8Console();
    std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    if (const auto answer = runtime::HelpOrVersion(args, check::UsageText))
        return std::cout << *answer, 0;
    if (!args.empty())
        args.erase(args.begin());
    return check::Run(args, std::cout, std::cerr);
}
