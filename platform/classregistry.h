// The per-user registry of in-process servers.
#pragma once

#include "platform/ole.h"

#include <string>
#include <vector>

namespace platform {

// The per-user registry of in-process servers. Off Windows it is a text file, by default
// <UserConfigFolder>/ponderix/classes.reg (empty when there is no such folder); the environment
// variable PONDERIX_CLASS_REGISTRY names another file (tests use a temporary one). Only a regular
// file (or a symbolic link to one) is read or replaced; a rewrite keeps the file's comments, its
// mode and its symbolic link, and registrations from several processes are serialised by a lock
// on the file "<registry>.lock" beside it.
PLATFORM_API std::string ClassRegistryPath();

// One wait for the registry's lock for a whole registration: while one lives on a thread, the
// registry calls that thread makes (DllRegisterServer makes several, and undoes them when one
// fails) wait together at most timeoutMs, 10 s by default, for another process's registration to
// end; after that each tries once. What calls a module's DllRegisterServer or DllUnregisterServer
// holds one around the call. On Windows the system's registry has no such lock: nothing.
class PLATFORM_API RegistrationDeadline {
public:
    explicit RegistrationDeadline(int timeoutMs = 10000);
    ~RegistrationDeadline();
    RegistrationDeadline(const RegistrationDeadline&) = delete;
    RegistrationDeadline& operator=(const RegistrationDeadline&) = delete;

private:
    bool FOuter = false;
};

// Whether a registration can reach the machine's classes: false for a user without administrator
// rights (a process that is not elevated) on Windows, who can register for himself only. Off
// Windows the class registry is the user's own: true.
PLATFORM_API bool CanRegisterForAllUsers();

// While one lives, the registrations that modules make (DllRegisterServer, DllUnregisterServer,
// RegisterTypeLib) write the current user's classes, when forCurrentUser: on Windows
// HKEY_CLASSES_ROOT stands for HKEY_CURRENT_USER\Software\Classes (which COM reads before the
// machine's classes) in this process. Off Windows, and when not forCurrentUser: nothing changes.
class PLATFORM_API CurrentUserRegistration {
public:
    explicit CurrentUserRegistration(bool forCurrentUser);
    ~CurrentUserRegistration();
    CurrentUserRegistration(const CurrentUserRegistration&) = delete;
    CurrentUserRegistration& operator=(const CurrentUserRegistration&) = delete;

private:
    bool FActive = false;
};

// What DllRegisterServer calls: records the class as an in-process server in modulePath with the
// threading model ("Apartment", "Both", ...). Written atomically. SELFREG_E_CLASS on failure.
PLATFORM_API HRESULT RegisterInprocServer(REFCLSID clsid, const std::string& modulePath,
                                          const std::string& threadingModel, const std::string& description);
// What DllUnregisterServer calls. Removing a class that is not registered is S_OK.
PLATFORM_API HRESULT UnregisterInprocServer(REFCLSID clsid);
// What regsvr -u does for a module file that is gone, whose DllUnregisterServer cannot run: removes
// every class registered in modulePath (absolute, as registered), with the ProgIDs that name it.
// S_OK with the classes removed (none when there were none), SELFREG_E_CLASS when the registry
// cannot be changed (ClassRegistryError says why).
PLATFORM_API HRESULT UnregisterServersOfModule(const std::string& modulePath, std::vector<CLSID>& removed);
// The module registered for the class: S_OK with the path, REGDB_E_CLASSNOTREG when absent,
// REGDB_E_READREGDB when the registry file is damaged or unreadable.
PLATFORM_API HRESULT LookupInprocServer(REFCLSID clsid, std::string& modulePath);
// What DllRegisterServer calls after RegisterInprocServer: names the registered class by its
// ProgID ("Vendor.Class.1") and its version-independent ProgID ("Vendor.Class"), so that
// CLSIDFromProgID finds it by either. On Windows: the keys HKEY_CLASSES_ROOT\<ProgID> (CLSID)
// and \<version-independent ProgID> (CLSID, CurVer), and the class's keys ProgID and
// VersionIndependentProgID; off Windows the class's values ProgID and VersionIndependentProgID
// in the registry file. A name another class held is taken over, as a registration on Windows
// does. E_INVALIDARG for a text that is no ProgID, SELFREG_E_CLASS when the class is not
// registered or the registry cannot be written.
PLATFORM_API HRESULT RegisterProgIds(REFCLSID clsid, const std::string& progId,
                                     const std::string& versionIndependentProgId, const std::string& description);
// What DllUnregisterServer calls before UnregisterInprocServer: removes the two names where they
// name this class; a name that another class holds now stays. S_OK when there is nothing to remove.
PLATFORM_API HRESULT UnregisterProgIds(REFCLSID clsid, const std::string& progId,
                                       const std::string& versionIndependentProgId);
// Why the calling thread's last call of the five above (or of CLSIDFromProgID, or a failed
// RegisterModuleTypeLibrary) failed, naming the registry file (what GetLastError is to the
// system's calls); empty after one that succeeded. After CoGetClassObject or CoCreateInstance
// failed with CO_E_DLLNOTFOUND or CO_E_ERRORINDLL: the registered module and what is wrong with it.
PLATFORM_API std::string ClassRegistryError();
// Sets it again: a server that undoes a failed registration keeps the reason of the failure.
PLATFORM_API void RestoreClassRegistryError(std::string why);
// Why the class registry cannot be used at all (damaged, unreadable, not a regular file), naming
// the file; empty when it can be, or does not exist yet.
PLATFORM_API std::string ClassRegistryProblem();

} // namespace platform
