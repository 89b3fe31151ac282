#include "platform/platform.h"
#include "testserver.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

namespace {

struct RunResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

std::string Quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class Regsvr : public ::testing::Test {
protected:
    RunResult Run(const std::string& arguments, const std::filesystem::path& folder = {})
    {
        const char* binDir = std::getenv("PONDERIX_BIN_DIR");
        EXPECT_NE(binDir, nullptr) << "PONDERIX_BIN_DIR names the folder of the built tools";
        const std::string out = (FRegistry.Folder() / "out.txt").string();
        const std::string err = (FRegistry.Folder() / "err.txt").string();
        const std::string command = (folder.empty() ? std::string() : "cd " + Quoted(folder.string()) + " && ")
                                    + Quoted(std::string(binDir ? binDir : ".") + "/regsvr") + " " + arguments + " >"
                                    + Quoted(out) + " 2>" + Quoted(err);
        const int status = std::system(command.c_str());
        RunResult r;
        r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.Out = testsupport::ReadFile(out);
        r.Err = testsupport::ReadFile(err);
        return r;
    }

    testsupport::TTempRegistry FRegistry;
};

TEST_F(Regsvr, RegistersAndUnregistersTheModule)
{
    RunResult r = Run(Quoted(TEST_SERVER_PATH));
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("DllRegisterServer"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("succeeded"), std::string::npos) << r.Out;
    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(CLSID_TestCounter, path), S_OK);
    EXPECT_EQ(path, std::filesystem::canonical(TEST_SERVER_PATH).string());

    r = Run("-u " + Quoted(TEST_SERVER_PATH));
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("DllUnregisterServer"), std::string::npos) << r.Out;
    EXPECT_EQ(platform::LookupInprocServer(CLSID_TestCounter, path), REGDB_E_CLASSNOTREG);
}

// A bare file name is a file in the current folder, not a name for the loader to search for.
TEST_F(Regsvr, ModuleNamedRelativeToTheCurrentFolder)
{
    const std::filesystem::path server(TEST_SERVER_PATH);
    RunResult r = Run(Quoted(server.filename().string()), FRegistry.Folder());
    EXPECT_EQ(r.ExitCode, 1) << r.Out;
    EXPECT_NE(r.Err.find((FRegistry.Folder() / server.filename()).string()), std::string::npos) << r.Err;

    r = Run(Quoted(server.filename().string()), server.parent_path());
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    std::string path;
    EXPECT_EQ(platform::LookupInprocServer(CLSID_TestCounter, path), S_OK);
}

struct FailureCase {
    const char* Name;
    std::string Arguments;
    int ExitCode;
    const char* Message;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.Name; }

class RegsvrFailure : public Regsvr, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RegsvrFailure, ExplainsOnStandardErrorAndExitsNonZero)
{
    const FailureCase& c = GetParam();
    testsupport::WriteFile((FRegistry.Folder() / "text.dll").string(), "not a library\n");
    std::string arguments = c.Arguments;
    if (const auto at = arguments.find("@DIR@"); at != std::string::npos)
        arguments.replace(at, 5, FRegistry.Folder().string());
    const RunResult r = Run(arguments);
    EXPECT_EQ(r.ExitCode, c.ExitCode);
    EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(FRegistry.Path())); // nothing was registered
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegsvrFailure,
    ::testing::Values(
        FailureCase{"MissingFile", "@DIR@/absent.dll", 1, "regsvr: cannot load"},
        FailureCase{"NotALibrary", "@DIR@/text.dll", 1, "regsvr: cannot load"},
        FailureCase{"NoEntryPoint", PLATFORM_LIBRARY_PATH, 1, "the entry point DllRegisterServer was not found"},
        FailureCase{"NoUnregisterEntryPoint", std::string("-u ") + PLATFORM_LIBRARY_PATH, 1,
                    "the entry point DllUnregisterServer was not found"},
        FailureCase{"EntryPointFails", NO_ENTRY_MODULE_PATH, 1,
                    "DllRegisterServer in " NO_ENTRY_MODULE_PATH " failed: 0x80070005 (Access is denied.)"},
        FailureCase{"NoModule", "", 2, "usage: regsvr [-u] <module>"},
        FailureCase{"OnlyOption", "-u", 2, "usage:"},
        FailureCase{"UnknownOption", "-x " NO_ENTRY_MODULE_PATH, 2, "unknown option -x"},
        FailureCase{"TwoModules", "a.dll b.dll", 2, "only one module"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
