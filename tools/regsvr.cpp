// regsvr [-u] [--user] <module>: registers a server module by calling its DllRegisterServer, or
// with -u removes it by calling DllUnregisterServer; -u of a module file that is gone removes the
// classes registered in it. For the current user only with --user, or when the user cannot
// register for all (on Windows: HKEY_CURRENT_USER\Software\Classes). Exit code 0 on success, 1 on
// failure, 2 on misuse.
// regsvr --registered [--user] <class id>: prints the module registered for the class (with --user
// among the current user's own classes on Windows); exit code 0 when
// one is that the program would load, 1 when none is, the registry cannot be read or the entry
// is no absolute path (saying why), 2 on misuse.
#include "platform/bstr.h"
#include "platform/classregistry.h"
#include "platform/commandline.h"
#include "platform/module.h"
#include "platform/status.h"
#include "runtime/commandinfo.h"
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

std::string UsageText(const std::string& name)
{
    return "usage: " + name + " [-u] [--user] <module>\n"
           "       " + name + " --registered [--user] <class id>\n"
           "  registers the server module by calling its DllRegisterServer;\n"
           "  -u unregisters it by calling DllUnregisterServer;\n"
           "  --user: for the current user only (so without administrator rights; on Windows the\n"
           "  classes under HKEY_CURRENT_USER\\Software\\Classes)\n"
           "  --registered prints the module registered for the class {xxxxxxxx-...}\n"
           "  exit code 0: done, 1: failed, 2: misuse\n";
}

std::string gName = "regsvr"; // as called: ponderix-regsvr on the path

int Usage()
{
    std::fputs(UsageText(gName).c_str(), stderr);
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

std::string ClassIdText(REFCLSID clsid)
{
    OLECHAR text[40] = {};
    return StringFromGUID2(clsid, text, 40) > 0 ? runtime::Utf16ToUtf8(platform::AsU16(text)) : std::string();
}

// A module file that is gone cannot unregister itself: the classes registered in it are removed.
int UnregisterGone(const std::string& moduleFile, const std::string& loadError)
{
    std::vector<CLSID> removed;
    if (FAILED(platform::UnregisterServersOfModule(moduleFile, removed))) {
        std::fprintf(stderr, "regsvr: %s is gone, and its classes cannot be removed: %s\n", moduleFile.c_str(),
                     platform::ClassRegistryError().c_str());
        return kExitFailure;
    }
    if (removed.empty()) {
        std::fprintf(stderr, "regsvr: cannot load %s: %s; no class is registered in it\n", moduleFile.c_str(),
                     loadError.c_str());
        return kExitFailure;
    }
    for (const CLSID& clsid : removed)
        std::printf("regsvr: %s is gone; its class %s was removed from the registry.\n", moduleFile.c_str(),
                    ClassIdText(clsid).c_str());
    return 0;
}

int Run(const std::string& moduleFile, bool unregister, bool forCurrentUser)
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
        std::error_code ec;
        if (unregister && !std::filesystem::exists(runtime::PathFromUtf8(moduleFile), ec) && !ec)
            return UnregisterGone(moduleFile, module.Error());
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
        const platform::RegistrationDeadline deadline; // one wait for the registry's lock, not one per change
        const platform::CurrentUserRegistration user(forCurrentUser || !platform::CanRegisterForAllUsers());
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
    // A relative entry would be searched for among the system's libraries: it is never loaded.
    if (!runtime::PathFromUtf8(module).is_absolute()) {
        std::fprintf(stderr, "regsvr: the module registered for %s is no absolute path and is never loaded: %s\n",
                     classId.c_str(), module.c_str());
        return kExitFailure;
    }
    std::printf("%s\n", module.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    bool unregister = false, query = false, forCurrentUser = false;
    std::string module;
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    if (!args.empty())
        gName = runtime::CommandName(args);
    if (const auto answer = runtime::HelpOrVersion(args, UsageText(gName)))
        return std::fputs(answer->c_str(), stdout), 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "-u")
            unregister = true;
        else if (arg == "--user")
            forCurrentUser = true;
        else if (arg == "--registered")
            query = true;
        else if (arg == "-h")
            return std::fputs(UsageText(gName).c_str(), stdout), 0;
        else if (arg.size() > 1 && arg.front() == '-')
            return std::fprintf(stderr, "%s: unknown option %s\n", gName.c_str(), args[i].c_str()), Usage();
        else if (!module.empty())
            return std::fprintf(stderr, "regsvr: only one module may be named\n"), Usage();
        else
            module = arg;
    }
    if (module.empty() || (query && unregister))
        return Usage();
    if (query) {
        // With --user, the current user's own classes rather than all that the user sees.
        const platform::CurrentUserRegistration user(forCurrentUser);
        return PrintRegistered(module); // the argument is the class id
    }

    // A server's registration code may use COM, as under the Windows tool.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = Run(ModuleFile(module), unregister, forCurrentUser);
    if (SUCCEEDED(init))
        CoUninitialize();
    return result;
}
