// regsvr [-u] <module>: registers a server module by calling its DllRegisterServer, or with -u
// removes it by calling DllUnregisterServer. Exit code 0 on success, 1 on failure, 2 on misuse.
// regsvr --registered <class id>: prints the module registered for the class; exit code 0 when
// one is, 1 when none is or the registry cannot be read (saying why), 2 on misuse.
#include "platform/bstr.h"
#include "platform/classregistry.h"
#include "platform/commandline.h"
#include "platform/module.h"
#include "platform/status.h"
#include "runtime/utf.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int Usage()
{
    std::fprintf(stderr, "usage: regsvr [-u] <module>\n"
                         "       regsvr --registered <class id>\n"
                         "  registers the server module by calling its DllRegisterServer;\n"
                         "  -u unregisters it by calling DllUnregisterServer;\n"
                         "  --registered prints the module registered for the class {xxxxxxxx-...}\n");
    return kExitUsage;
}

std::string DescribeStatus(HRESULT status)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(status));
    std::string text;
    if (platform::StatusText(status, text))
        return std::string(hex) + " (" + text + ")";
    return hex;
}

// The loader searches its own folders for a bare file name; a module named on the command line is
// a file relative to the current folder, as on Windows.
std::string ModuleFile(const std::string& argument)
{
    std::error_code ec;
    // The system's own separators in what is printed and loaded.
    const auto absolute = std::filesystem::absolute(runtime::PathFromUtf8(argument), ec).make_preferred();
    return ec ? argument : runtime::Utf8FromPath(absolute);
}

int Run(const std::string& moduleFile, bool unregister)
{
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    platform::Module module(moduleFile);
    // Loaded until regsvr exits, as the process's end unloads it anyway: what the module and the
    // libraries it pulls in keep in their globals counts as leaked (and nameless) to LeakSanitizer
    // once they are unloaded before its check at exit.
    struct TKeep {
        platform::Module& Module;
        ~TKeep() { Module.KeepLoaded(); }
    } keep{module};
    if (!module.Loaded()) {
        std::fprintf(stderr, "regsvr: cannot load %s: %s\n", moduleFile.c_str(), module.Error().c_str());
        return kExitFailure;
    }
    using EntryPoint = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<EntryPoint>(module.Symbol(entryName));
    if (!entry) {
        std::fprintf(stderr, "regsvr: %s was loaded, but the entry point %s was not found.\n", moduleFile.c_str(),
                     entryName);
        return kExitFailure;
    }
    HRESULT status;
    try {
        status = entry();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "regsvr: %s in %s raised an exception: %s\n", entryName, moduleFile.c_str(), e.what());
        return kExitFailure;
    } catch (...) {
        std::fprintf(stderr, "regsvr: %s in %s raised an exception\n", entryName, moduleFile.c_str());
        return kExitFailure;
    }
    if (FAILED(status)) {
        std::fprintf(stderr, "regsvr: %s in %s failed: %s\n", entryName, moduleFile.c_str(),
                     DescribeStatus(status).c_str());
        // Why the class registry refused, naming its file (damaged, unwritable, ...).
        if (const std::string why = platform::ClassRegistryError(); !why.empty())
            std::fprintf(stderr, "regsvr: %s\n", why.c_str());
        return kExitFailure;
    }
    std::printf("regsvr: %s in %s succeeded.\n", entryName, moduleFile.c_str());
    return 0;
}

// The lookup the class registry makes for CoCreateInstance, so that a script asks it instead of
// reading the registry by rules of its own.
int PrintRegistered(const std::string& classId)
{
    const std::u16string text(classId.begin(), classId.end()); // a class id is ASCII; others fail to parse
    CLSID clsid;
    if (FAILED(CLSIDFromString(platform::AsOleStr(text.c_str()), &clsid))) {
        std::fprintf(stderr, "regsvr: not a class id: %s\n", classId.c_str());
        return Usage();
    }
    std::string module;
    const HRESULT status = platform::LookupInprocServer(clsid, module);
    if (FAILED(status)) {
        std::fprintf(stderr, "regsvr: no module found for %s: %s\n", classId.c_str(),
                     DescribeStatus(status).c_str());
        if (const std::string why = platform::ClassRegistryError(); !why.empty())
            std::fprintf(stderr, "regsvr: %s\n", why.c_str());
        return kExitFailure;
    }
    std::printf("%s\n", module.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    bool unregister = false, query = false;
    std::string module;
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "-u")
            unregister = true;
        else if (arg == "--registered")
            query = true;
        else if (arg == "-h" || arg == "--help")
            return Usage(), 0;
        else if (arg.size() > 1 && arg.front() == '-')
            return std::fprintf(stderr, "regsvr: unknown option %s\n", args[i].c_str()), Usage();
        else if (!module.empty())
            return std::fprintf(stderr, "regsvr: only one module may be named\n"), Usage();
        else
            module = arg;
    }
    if (module.empty() || (query && unregister))
        return Usage();
    if (query)
        return PrintRegistered(module); // the argument is the class id

    // A server's registration code may use COM, as under the Windows tool.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = Run(ModuleFile(module), unregister);
    if (SUCCEEDED(init))
        CoUninitialize();
    return result;
}
