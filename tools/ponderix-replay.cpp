// ponderix-replay RECORDING [--module FILE] [--tolerance X] [--ignore MEMBER,...]
//                 [--junit REPORT.xml] [--event-timeout MS]
// Replays a driver recording against a driver and reports every difference (tools/Replay.h).
// The driver is called in a child process of this program (driver/DriverChild.h), so that a
// driver that crashes, hangs or ends the process is reported rather than taking the replay along.
// Exit code 0 when nothing differs, 1 on differences and driver faults, 2 on misuse, when the
// driver cannot be created or a call was given up.
#include "driver/DriverChild.h"
#include "platform/commandline.h"
#include "runtime/commandinfo.h"
#include "tools/Replay.h"

#include <iostream>

int main(int argc, char** argv)
{
    platform::UseUtf8Console();
    std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    if (args.size() > 1 && args[1] == driver::DriverChildArgument)
        return replay::RunAsDriverChild({args.begin() + 2, args.end()});
    if (const auto answer = runtime::HelpOrVersion(args, replay::UsageText))
        return std::cout << *answer, 0;
    if (!args.empty())
        args.erase(args.begin());
    platform::IgnoreBrokenPipe(); // standard output closed early (| head): the report is still written
    return replay::Run(args, std::cout, std::cerr, {true, {}});
}
