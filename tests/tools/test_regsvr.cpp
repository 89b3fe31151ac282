#include "driver/Trutina_TLB.h"
#include "platform/bstr.h"
#include "platform/classregistry.h"
#include "platform/comptr.h"
#include "platform/status.h"
#include "testserver.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include <cstdlib>

namespace {

struct RunResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

#ifdef _WIN32
// cmd.exe's quoting; the test paths hold no quotes. Paths become the system's own form.
std::string Quoted(const std::string& s) { return "\"" + s + "\""; }
std::string Native(const std::string& path) { return std::filesystem::absolute(path).make_preferred().string(); }

// Runs a command line through cmd.exe; its exit code.
int RunShell(const std::string& command)
{
    return std::system(("\"" + command + "\"").c_str()); // cmd strips the outer quotes
}
#else
std::string Quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
std::string Native(const std::string& path) { return path; }

int RunShell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

// Whether the class is registered (in the temporary registry file, or the system registry).
bool TestClassRegistered()
{
    std::string path;
    return platform::LookupInprocServer(CLSID_TestCounter, path) == S_OK;
}

class Regsvr : public ::testing::Test {
protected:
    RunResult Run(const std::string& arguments, const std::filesystem::path& folder = {})
    {
        const char* binDir = std::getenv("PONDERIX_BIN_DIR");
        EXPECT_NE(binDir, nullptr) << "PONDERIX_BIN_DIR names the folder of the built tools";
        const std::string out = (FRegistry.Folder() / "out.txt").string();
        const std::string err = (FRegistry.Folder() / "err.txt").string();
#ifdef _WIN32
        const std::string changeFolder = "cd /d ";
#else
        const std::string changeFolder = "cd ";
#endif
        const std::string command =
            (folder.empty() ? std::string() : changeFolder + Quoted(Native(folder.string())) + " && ")
            + Quoted(Native(std::string(binDir ? binDir : ".") + "/regsvr")) + " " + arguments + " >" + Quoted(out)
            + " 2>" + Quoted(err);
        RunResult r;
        r.ExitCode = RunShell(command);
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
#ifdef _WIN32
    EXPECT_TRUE(std::filesystem::equivalent(path, TEST_SERVER_PATH)) << path;
#else
    EXPECT_EQ(path, std::filesystem::canonical(TEST_SERVER_PATH).string());
#endif

    r = Run("-u " + Quoted(TEST_SERVER_PATH));
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("DllUnregisterServer"), std::string::npos) << r.Out;
    EXPECT_EQ(platform::LookupInprocServer(CLSID_TestCounter, path), REGDB_E_CLASSNOTREG);
}

#ifdef TRUTINA_MODULE_PATH
HRESULT ClassOfProgId(const char* progId, CLSID& clsid)
{
    const std::string text(progId);
    const std::u16string name(text.begin(), text.end());
    return CLSIDFromProgID(platform::AsOleStr(name.c_str()), &clsid);
}

// The substitute driver is found by both its ProgIDs once registered (with its type library
// where the system has one); unregistered, all of that is gone and another class's entries stay.
TEST_F(Regsvr, SubstituteDriverIsFoundByItsProgIdsUntilUnregistered)
{
    const char* const names[] = {"Trutina.Statera", "Trutina.Statera.1"};
    // regsvr runs as by hand, without the tests' suppressions: in the sanitizer build it exits 0
    // only when nothing leaks, the libraries the Qt-based driver pulls in included.
    const char* lsan = std::getenv("LSAN_OPTIONS");
    const std::string lsanBefore = lsan ? lsan : "";
    testenv::UnsetVariable("LSAN_OPTIONS");
    ASSERT_EQ(platform::RegisterInprocServer(CLSID_TestCounter, TEST_SERVER_PATH, "Apartment", ""), S_OK);
    ASSERT_EQ(platform::RegisterProgIds(CLSID_TestCounter, "Ponderix.Counter.1", "Ponderix.Counter", ""), S_OK);

    RunResult r = Run(Quoted(TRUTINA_MODULE_PATH));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    CLSID clsid{};
    for (const char* name : names) {
        EXPECT_EQ(ClassOfProgId(name, clsid), S_OK) << name;
        EXPECT_TRUE(clsid == CLSID_Statera) << name;
    }
#ifdef _WIN32
    ITypeLib* library = nullptr;
    EXPECT_EQ(LoadRegTypeLib(LIBID_Trutina, TRUTINA_TYPELIB_MAJOR, TRUTINA_TYPELIB_MINOR, 0, &library), S_OK);
    if (library)
        library->Release();
#endif

    r = Run("-u " + Quoted(TRUTINA_MODULE_PATH));
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    for (const char* name : names)
        EXPECT_EQ(ClassOfProgId(name, clsid), CO_E_CLASSSTRING) << name;
    std::string path;
    EXPECT_EQ(platform::LookupInprocServer(CLSID_Statera, path), REGDB_E_CLASSNOTREG);
#ifdef _WIN32
    library = nullptr;
    EXPECT_TRUE(FAILED(LoadRegTypeLib(LIBID_Trutina, TRUTINA_TYPELIB_MAJOR, TRUTINA_TYPELIB_MINOR, 0, &library)));
    if (library)
        library->Release();
#endif
    EXPECT_EQ(ClassOfProgId("Ponderix.Counter", clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_TestCounter);
    EXPECT_EQ(platform::LookupInprocServer(CLSID_TestCounter, path), S_OK);
    // Uninstallers unregister twice: nothing left to remove is success.
    r = Run("-u " + Quoted(TRUTINA_MODULE_PATH));
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    platform::UnregisterProgIds(CLSID_TestCounter, "Ponderix.Counter.1", "Ponderix.Counter");
    testenv::SetVariable("LSAN_OPTIONS", lsanBefore);
}
#endif

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

#ifdef _WIN32
// The system's own regsvr32 registers and unregisters a server module built here, and the class
// is then created by its id through the system's COM.
TEST_F(Regsvr, SystemRegsvr32RegistersTheModule)
{
    const std::string module = Native(TEST_SERVER_PATH);
    ASSERT_EQ(RunShell("regsvr32 /s " + Quoted(module)), 0);
    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(CLSID_TestCounter, path), S_OK);
    EXPECT_TRUE(std::filesystem::equivalent(path, module)) << path;

    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
        platform::ComPtr<ICounter> counter;
        ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter,
                                   counter.OutVoid()),
                  S_OK);
        LONG value = 0;
        EXPECT_EQ(counter->Increment(&value), S_OK);
        EXPECT_EQ(value, 1);
    }
    CoUninitialize();

    EXPECT_EQ(RunShell("regsvr32 /u /s " + Quoted(module)), 0);
    EXPECT_FALSE(TestClassRegistered());
    EXPECT_NE(RunShell("regsvr32 /s " + Quoted(Native(NO_ENTRY_MODULE_PATH))), 0); // its entry point fails
    EXPECT_FALSE(TestClassRegistered());
}
#else
TEST_F_ELSEWHERE(Regsvr, SystemRegsvr32RegistersTheModule, "the system's regsvr32 is on Windows only")
#endif

#ifndef _WIN32
// What keeps a registration from happening is said, naming the file: a module that is no regular
// file (a FIFO, which the loader would wait on for ever) and a damaged class registry.
TEST_F(Regsvr, SaysWhyTheModuleOrTheRegistryIsRefused)
{
    const std::string fifo = (FRegistry.Folder() / "Trutina.dll").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunResult r = Run(Quoted(fifo));
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("cannot load " + fifo + ": " + fifo + ": not a regular file"), std::string::npos) << r.Err;

    testsupport::WriteFile(FRegistry.Path(), "[{6A1D2F11-3B4C-4D5E-8F01-23456789ABCD}]\nInprocServer32 /a.so\n");
    r = Run(Quoted(TEST_SERVER_PATH));
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("regsvr: class registry " + FRegistry.Path() + ": damaged, line 2"), std::string::npos)
        << r.Err;
    EXPECT_EQ(r.Out.find("succeeded"), std::string::npos) << r.Out;
}

// A module file that is gone cannot run its DllUnregisterServer: -u removes its entry all the same.
// An entry the program would never load (a relative path) is no answer to --registered.
TEST_F(Regsvr, AGoneModuleIsUnregisteredAndARelativeEntryRefused)
{
    const std::string gone = (FRegistry.Folder() / "gone.dll").string();
    testsupport::WriteFile(FRegistry.Path(), "[{6A1D2F11-3B4C-4D5E-8F01-23456789ABCD}]\nInprocServer32=" + gone
                                                 + "\n[{7A1D2F11-3B4C-4D5E-8F01-23456789ABCD}]\nInprocServer32=relative.so\n");
    RunResult r = Run("-u " + Quoted(gone));
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(testsupport::ReadFile(FRegistry.Path()), "[{7A1D2F11-3B4C-4D5E-8F01-23456789ABCD}]\nInprocServer32=relative.so\n");

    r = Run("--registered {7A1D2F11-3B4C-4D5E-8F01-23456789ABCD}");
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("no absolute path and is never loaded: relative.so"), std::string::npos) << r.Err;
}
#else
TEST_F_ELSEWHERE(Regsvr, SaysWhyTheModuleOrTheRegistryIsRefused,
                 "FIFOs and the class registry's text file are the stand-in's, not Windows'")
TEST_F_ELSEWHERE(Regsvr, AGoneModuleIsUnregisteredAndARelativeEntryRefused,
                 "the class registry's text file is the stand-in's, not Windows'")
#endif

struct FailureCase {
    const char* Name;
    std::string Arguments;
    int ExitCode;
    const char* Message;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.Name; }

// The modules' paths in the form the tool prints them, and the system's text for access denied.
std::string Expand(std::string text)
{
    std::string denied;
    platform::StatusText(E_ACCESSDENIED, denied);
    const std::pair<const char*, std::string> fields[] = {{"@NOENTRY@", Native(NO_ENTRY_MODULE_PATH)},
                                                          {"@PLATFORM@", Native(PLATFORM_LIBRARY_PATH)},
                                                          {"@DENIED@", denied}};
    for (const auto& [name, value] : fields)
        for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
            text.replace(at, std::string_view(name).size(), value);
    return text;
}

class RegsvrFailure : public Regsvr, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RegsvrFailure, ExplainsOnStandardErrorAndExitsNonZero)
{
    const FailureCase& c = GetParam();
    testsupport::WriteFile((FRegistry.Folder() / "text.dll").string(), "not a library\n");
    std::string arguments = Expand(c.Arguments);
    if (const auto at = arguments.find("@DIR@"); at != std::string::npos)
        arguments.replace(at, 5, FRegistry.Folder().string());
    const RunResult r = Run(arguments);
    EXPECT_EQ(r.ExitCode, c.ExitCode);
    EXPECT_NE(r.Err.find(Expand(c.Message)), std::string::npos) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(FRegistry.Path())); // nothing was registered
    EXPECT_FALSE(TestClassRegistered());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegsvrFailure,
    ::testing::Values(
        FailureCase{"MissingFile", "@DIR@/absent.dll", 1, "regsvr: cannot load"},
        FailureCase{"NotALibrary", "@DIR@/text.dll", 1, "regsvr: cannot load"},
        FailureCase{"NoEntryPoint", "@PLATFORM@", 1, "the entry point DllRegisterServer was not found"},
        FailureCase{"NoUnregisterEntryPoint", "-u @PLATFORM@", 1,
                    "the entry point DllUnregisterServer was not found"},
        FailureCase{"EntryPointFails", "@NOENTRY@", 1, "DllRegisterServer in @NOENTRY@ failed: 0x80070005 (@DENIED@)"},
        FailureCase{"NoModule", "", 2, "usage: regsvr [-u] [--user] <module>"},
        FailureCase{"OnlyOption", "-u", 2, "usage:"},
        FailureCase{"UnknownOption", "-x @NOENTRY@", 2, "unknown option -x"},
        FailureCase{"TwoModules", "a.dll b.dll", 2, "only one module"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
