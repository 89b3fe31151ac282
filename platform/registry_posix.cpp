// The class registry as a per-user text file (its form: registryfile.h). A file that exists but
// is damaged, unreadable, too large or no regular file is reported and never replaced. A change is
// a read-modify-write under an exclusive lock on "<registry>.lock", held from the read to the
// rename of the new file over the old one, so that registrations from several processes at once
// all survive.
#include "platform/classregistry.h"
#include "platform/configfolder.h"
#include "platform/filelock.h"
#include "platform/internal.h"
#include "platform/registryfile.h"
#include "platform/safefile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

namespace platform {

std::string& detail::ThreadRegistryError()
{
    thread_local std::string text;
    return text;
}

namespace {

namespace fs = std::filesystem;
using detail::TRegistryText;

constexpr const char* kServerKey = "InprocServer32";
constexpr const char* kThreadingKey = "ThreadingModel";
constexpr const char* kDescriptionKey = "Description";
constexpr const char* kProgIdKey = "ProgID";
constexpr const char* kIndependentProgIdKey = "VersionIndependentProgID";
// A registration waits this long for another one to finish, then says who holds the lock.
constexpr int kRegistryLockTimeoutMs = 10000;

// When the registration that the calling thread makes ends (RegistrationDeadline), if it makes one.
std::optional<std::chrono::steady_clock::time_point>& ThreadRegistrationEnds()
{
    thread_local std::optional<std::chrono::steady_clock::time_point> ends;
    return ends;
}

// How long a registry call waits for the lock: its own time, or what is left of its registration's.
int LockWaitMs()
{
    const auto& ends = ThreadRegistrationEnds();
    if (!ends)
        return kRegistryLockTimeoutMs;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*ends - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

// Sets the thread's registry error; always false, for returning.
bool Fail(const std::string& path, const std::string& why)
{
    detail::SetRegistryError("class registry" + (path.empty() ? "" : " " + path) + ": " + why);
    return false;
}

// There is no registry file because there is no configuration folder.
bool NoRegistryFile()
{
    std::string why;
    UserConfigFolder(&why);
    detail::SetRegistryError("class registry: " + why);
    return false;
}

// Serialises the registrations made from this process's threads (the file lock does too; this
// keeps them from waiting on each other in the kernel).
std::mutex& ProcessLock()
{
    static std::mutex lock;
    return lock;
}

enum class ReadStatus { Read, Missing, Refused };

// Reads the registry. Missing when there is no file (a symbolic link to nothing is refused: a
// write would replace the link); Refused, with the thread's registry error set, when the file
// cannot be used.
ReadStatus ReadRegistry(const std::string& path, TRegistryText& registry)
{
    const FileRead read = ReadOwnFileBounded(path, detail::kMaxRegistryBytes); // another user's names no module
    if (read.Outcome == FileRead::TOutcome::Missing)
        return ReadStatus::Missing;
    if (read.Outcome != FileRead::TOutcome::Read)
        return Fail(path, read.Reason(detail::kMaxRegistryBytes)), ReadStatus::Refused;
    std::string problem;
    if (!registry.Parse(read.Text, problem))
        return Fail(path, "damaged, " + problem), ReadStatus::Refused;
    return ReadStatus::Read;
}

// Writes the whole registry atomically (ReplaceFileAtomically), never larger than it will read back.
bool WriteRegistry(const std::string& path, const TRegistryText& registry)
{
    const std::string text = registry.Format();
    if (text.size() > detail::kMaxRegistryBytes)
        return Fail(path, "the change would make it larger than " + std::to_string(detail::kMaxRegistryBytes / 1024)
                              + " KiB, which is not read back: nothing was written");
    if (const std::string why = ReplaceFileAtomically(path, text); !why.empty())
        return Fail(path, why);
    return true;
}

// Runs edit on the registry under the lock and writes the result when edit says it changed
// anything. create: a missing registry is created (its folders too); otherwise nothing is done.
template <typename Edit>
bool ModifyRegistry(const std::string& path, bool create, Edit edit)
{
    if (path.empty())
        return NoRegistryFile();
    struct stat info {};
    if (!create && lstat(path.c_str(), &info) != 0 && errno == ENOENT)
        return true;
    // What is no regular file is refused before anything is created beside it (checked again
    // under the lock).
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return Fail(path, "not a regular file");
    std::error_code ec;
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty())
        fs::create_directories(folder, ec);
    if (ec)
        return Fail(path, "cannot create its folder: " + ec.message());

    std::lock_guard processGuard(ProcessLock());
    const std::string lockPath = path + ".lock";
    const FileLock lock(lockPath, LockWaitMs());
    if (lock.Held())
        return Fail(path, "its lock " + lockPath + " could not be had within " + std::to_string(kRegistryLockTimeoutMs / 1000)
                              + " s: " + lock.Holder());
    if (!lock.Locked())
        return Fail(path, lock.Holder());

    TRegistryText registry;
    switch (ReadRegistry(path, registry)) {
    case ReadStatus::Refused:
        return false;
    case ReadStatus::Missing:
        if (!create)
            return true;
        break;
    case ReadStatus::Read:
        break;
    }
    return !edit(registry) || WriteRegistry(path, registry);
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return pw->pw_dir;
    return {};
}

} // namespace

RegistrationDeadline::RegistrationDeadline(int timeoutMs)
{
    auto& ends = ThreadRegistrationEnds();
    if (ends)
        return; // within an outer registration: its deadline holds
    ends = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    FOuter = true;
}

RegistrationDeadline::~RegistrationDeadline()
{
    if (FOuter)
        ThreadRegistrationEnds().reset();
}

bool CanRegisterForAllUsers() { return true; }
CurrentUserRegistration::CurrentUserRegistration(bool) {}
CurrentUserRegistration::~CurrentUserRegistration() = default;

std::string UserConfigFolder(std::string* problem)
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return config;
    if (std::string home = HomeFolder(); !home.empty())
        return home + "/.config";
    if (problem)
        *problem = "no configuration folder: neither XDG_CONFIG_HOME nor HOME names an absolute folder, "
                   "and the user database gives no home folder";
    return {};
}

std::string ClassRegistryPath()
{
    if (const char* explicitPath = std::getenv("PONDERIX_CLASS_REGISTRY"); explicitPath && *explicitPath)
        return explicitPath;
    const std::string folder = UserConfigFolder();
    return folder.empty() ? std::string() : folder + "/ponderix/classes.reg";
}

HRESULT RegisterInprocServer(REFCLSID clsid, const std::string& modulePath, const std::string& threadingModel,
                             const std::string& description)
{
    try {
        detail::SetRegistryError({});
        const std::string path = ClassRegistryPath();
        if (const std::string why = detail::UnregistrableEntry(modulePath, threadingModel, description); !why.empty())
            return Fail(path, why), SELFREG_E_CLASS;
        std::error_code ec;
        const std::string absolutePath = fs::absolute(modulePath, ec).lexically_normal().string();
        if (ec)
            return Fail(path, "cannot make the module path absolute: " + ec.message()), SELFREG_E_CLASS;

        detail::TRegistryValues values{{kServerKey, absolutePath}};
        if (!threadingModel.empty())
            values.emplace_back(kThreadingKey, threadingModel);
        if (!description.empty())
            values.emplace_back(kDescriptionKey, description);
        const bool done = ModifyRegistry(path, true, [&](TRegistryText& registry) {
            registry.Set(clsid, values);
            return true;
        });
        return done ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return SELFREG_E_CLASS;
    }
}

HRESULT UnregisterInprocServer(REFCLSID clsid)
{
    try {
        detail::SetRegistryError({});
        const bool done =
            ModifyRegistry(ClassRegistryPath(), false, [&](TRegistryText& registry) { return registry.Remove(clsid); });
        return done ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return SELFREG_E_CLASS;
    }
}

HRESULT RegisterProgIds(REFCLSID clsid, const std::string& progId, const std::string& versionIndependentProgId,
                        const std::string&)
{
    try {
        detail::SetRegistryError({});
        const std::string path = ClassRegistryPath();
        for (const std::string* name : {&progId, &versionIndependentProgId})
            if (const std::string why = detail::InvalidProgId(*name); !why.empty())
                return Fail(path, why), E_INVALIDARG;
        bool registered = true;
        const bool done = ModifyRegistry(path, false, [&](TRegistryText& registry) {
            registered = registry.Contains(clsid);
            if (!registered)
                return false;
            // One class per name, as one key per name on Windows: the last registration takes it.
            for (const std::string* name : {&progId, &versionIndependentProgId})
                registry.RemoveValues(clsid, true, {kProgIdKey, kIndependentProgIdKey}, *name);
            registry.SetValue(clsid, kProgIdKey, progId);
            registry.SetValue(clsid, kIndependentProgIdKey, versionIndependentProgId);
            return true;
        });
        if (done && !registered)
            return Fail(path, "the class of " + progId + " is not registered"), SELFREG_E_CLASS;
        return done ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return SELFREG_E_CLASS;
    }
}

HRESULT UnregisterProgIds(REFCLSID clsid, const std::string& progId, const std::string& versionIndependentProgId)
{
    try {
        detail::SetRegistryError({});
        const bool done = ModifyRegistry(ClassRegistryPath(), false, [&](TRegistryText& registry) {
            return registry.RemoveValues(clsid, false, {kProgIdKey}, progId) +
                       registry.RemoveValues(clsid, false, {kIndependentProgIdKey}, versionIndependentProgId) >
                   0;
        });
        return done ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return SELFREG_E_CLASS;
    }
}

HRESULT LookupInprocServer(REFCLSID clsid, std::string& modulePath)
{
    try {
        detail::SetRegistryError({});
        modulePath.clear();
        const std::string path = ClassRegistryPath();
        if (path.empty())
            return NoRegistryFile(), REGDB_E_CLASSNOTREG;
        // No lock: the file is only ever replaced whole, by a rename.
        TRegistryText registry;
        switch (ReadRegistry(path, registry)) {
        case ReadStatus::Missing:
            return REGDB_E_CLASSNOTREG;
        case ReadStatus::Refused:
            return REGDB_E_READREGDB;
        case ReadStatus::Read:
            break;
        }
        const std::string* server = registry.Find(clsid, kServerKey);
        if (!server || server->empty())
            return REGDB_E_CLASSNOTREG;
        modulePath = *server;
        return S_OK;
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return E_OUTOFMEMORY;
    }
}

HRESULT UnregisterServersOfModule(const std::string& modulePath, std::vector<CLSID>& removed)
{
    try {
        detail::SetRegistryError({});
        removed.clear();
        const std::string path = ClassRegistryPath();
        const bool done = ModifyRegistry(path, false, [&](TRegistryText& registry) {
            removed = registry.ClassesWith(kServerKey, modulePath);
            for (const CLSID& clsid : removed)
                registry.Remove(clsid); // its ProgIDs are values of its own section
            return !removed.empty();
        });
        return done ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return SELFREG_E_CLASS;
    }
}

// The registry file has no views: a module of either bitness is registered in the one entry.
HRESULT detail::LookupOtherViewInprocServer(REFCLSID clsid, std::string& modulePath)
{
    return LookupInprocServer(clsid, modulePath);
}

} // namespace platform

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid)
{
    using namespace platform;
    if (!progId || !clsid)
        return E_INVALIDARG;
    *clsid = CLSID{};
    try {
        detail::SetRegistryError({});
        // A name with anything but ASCII letters, digits and periods names no class.
        std::string name;
        for (const OLECHAR* c = progId; *c; ++c) {
            if (*c > 0x7F || name.size() > 39)
                return CO_E_CLASSSTRING;
            name += static_cast<char>(*c);
        }
        if (!detail::InvalidProgId(name).empty())
            return CO_E_CLASSSTRING;
        const std::string path = ClassRegistryPath();
        if (path.empty())
            return NoRegistryFile(), CO_E_CLASSSTRING;
        TRegistryText registry;
        switch (ReadRegistry(path, registry)) {
        case ReadStatus::Missing:
            return CO_E_CLASSSTRING;
        case ReadStatus::Refused:
            return REGDB_E_READREGDB;
        case ReadStatus::Read:
            break;
        }
        return registry.FindClass({kProgIdKey, kIndependentProgIdKey}, name, *clsid) ? S_OK : CO_E_CLASSSTRING;
    } catch (...) {
        detail::SetRegistryError("class registry: out of memory");
        return E_OUTOFMEMORY;
    }
}

namespace platform {

std::string ClassRegistryProblem()
{
    try {
        const std::string path = ClassRegistryPath();
        if (path.empty())
            return {};
        TRegistryText registry;
        const std::string saved = ClassRegistryError();
        std::string problem;
        if (ReadRegistry(path, registry) == ReadStatus::Refused)
            problem = ClassRegistryError();
        detail::SetRegistryError(saved);
        return problem;
    } catch (...) {
        return {};
    }
}

} // namespace platform
