// What every command answers to --help and --version.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace runtime {

// The project's version ("1.0.0.1").
const char* ProjectVersion();

// The command's name as it was called: the file name of args[0] without a ".exe", so that a link
// (ponderix-regsvr to regsvr) answers by its own name.
std::string CommandName(const std::vector<std::string>& args);

// When the arguments after the program name hold --help or --version (the first of them counts):
// the usage for --help, "<name> (Ponderix) <version>" and a line for --version, to be printed on
// standard output with exit code 0. Nothing otherwise.
std::optional<std::string> HelpOrVersion(const std::vector<std::string>& args, std::string_view usage);

} // namespace runtime
