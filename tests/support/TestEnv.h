// Environment variables and temporary folders for tests, on Linux and on Windows alike.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <atomic>
#include <process.h>
#endif

// A case that applies only on another system, in the #else of its #ifdef: listed and skipped
// here with the reason, so that every system's run names every case.
#define TEST_ELSEWHERE(suite, name, reason) \
    TEST(suite, name) { GTEST_SKIP() << reason; }
#define TEST_F_ELSEWHERE(fixture, name, reason) \
    TEST_F(fixture, name) { GTEST_SKIP() << reason; }

namespace testenv {

// Whether calls reach another process through the system's marshalling (Windows): only there can
// the driver run in a process of its own.
#ifdef _WIN32
constexpr bool kMarshallingBetweenProcesses = true;
#else
constexpr bool kMarshallingBetweenProcesses = false;
#endif

inline void SetVariable(const char* name, const std::string& value)
{
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetVariable(const char* name)
{
#ifdef _WIN32
    _putenv_s(name, ""); // an empty value removes the variable
#else
    unsetenv(name);
#endif
}

// A new, empty folder under the system's temporary folder whose name starts with prefix.
inline std::filesystem::path MakeTempFolder(const std::string& prefix)
{
#ifdef _WIN32
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto folder = std::filesystem::temp_directory_path()
                            / (prefix + std::to_string(_getpid()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (std::filesystem::create_directory(folder, ec))
            return folder;
    }
    throw std::runtime_error("cannot create a temporary folder");
#else
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    return pattern;
#endif
}

} // namespace testenv
