// ponderix-replay RECORDING [--module FILE] [--tolerance X] [--ignore MEMBER,...]
//                 [--junit REPORT.xml] [--event-timeout MS]
// Replays a driver recording against a driver and reports every difference (tools/Replay.h).
// Exit code 0 when nothing differs, 1 on differences, 2 on misuse or when the driver cannot be
// created.
#include "platform/commandline.h"
#include "tools/Replay.h"

#include <iostream>

int main(int argc, char** argv)
{
    platform::UseUtf8Console();
    std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    if (!args.empty())
        args.erase(args.begin());
    return replay::Run(args, std::cout, std::cerr);
}
