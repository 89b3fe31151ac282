// ponderix-check: every COM and interface rule a driver breaks, each shown by the shortest call
// sequence that breaks it. No Qt.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace check {

constexpr int kExitKept = 0;
constexpr int kExitBroken = 1;
constexpr int kExitNothingChecked = 2; // no driver, not a server module, a bad option

// What --help prints, and a bad option after its reason.
extern const char* const UsageText;

struct TOptions {
    std::string Module;
    std::string Class;
    bool ComOnly = false;
    bool Strict = false; // a warning breaks the run as a failure does
    std::optional<std::uint64_t> Seed;
    std::string Out;
    std::chrono::milliseconds CallLimit{5000};
    int Sequences = 100;
};

// The arguments after the program's name; runtime::Exception saying what is wrong.
TOptions ParseArguments(const std::vector<std::string>& args);

// The whole program: rule lines and the closing counts on out, the seed, the calls made and
// errors on err. Returns the exit code. The calling thread must be free to enter a
// single-threaded apartment.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace check
