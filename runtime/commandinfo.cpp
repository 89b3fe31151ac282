#include "runtime/commandinfo.h"

#include "runtime/utf.h"

#include <filesystem>

#ifndef PONDERIX_VERSION
#error "PONDERIX_VERSION must come from the build (the project version)"
#endif

namespace runtime {

const char* ProjectVersion() { return PONDERIX_VERSION; }

std::string CommandName(const std::vector<std::string>& args)
{
    std::string name = args.empty() ? std::string() : Utf8FromPath(PathFromUtf8(args[0]).filename());
    if (name.size() > 4 && (name.ends_with(".exe") || name.ends_with(".EXE")))
        name.resize(name.size() - 4);
    return name;
}

std::optional<std::string> HelpOrVersion(const std::vector<std::string>& args, std::string_view usage)
{
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--help")
            return std::string(usage);
        if (args[i] == "--version")
            return CommandName(args) + " (Ponderix) " + ProjectVersion() + "\n";
    }
    return std::nullopt;
}

} // namespace runtime
