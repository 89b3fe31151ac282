// Small helpers around the platform services that have no single Windows API call of their own:
// the class registry writes of DllRegisterServer, module loading, the apartment's call queue,
// status texts and the program's own resources. Each has a Windows form and a Linux form.
#pragma once

#include "platform/ole.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// ---------------------------------------------------------------- command line and console
// The command line's arguments in UTF-8: on Windows from the system's UTF-16 command line, since
// the ANSI argv cannot hold every file name.
PLATFORM_API std::vector<std::string> CommandLineArguments(int argc, char** argv);
// Text written to the console is UTF-8 (on Windows the console's code page is set to it).
PLATFORM_API void UseUtf8Console();

// ---------------------------------------------------------------- BSTR <-> std::u16string
// nullptr is the empty string; embedded NULs are kept.
PLATFORM_API std::u16string BstrToU16(BSTR s);
// A new BSTR (caller frees with SysFreeString); nullptr only when out of memory.
PLATFORM_API BSTR U16ToBstr(std::u16string_view s);

// The same 16-bit text seen as the system's OLECHAR string (wchar_t on Windows) and back.
inline LPOLESTR AsOleStr(char16_t* s) { return reinterpret_cast<LPOLESTR>(s); }
inline LPCOLESTR AsOleStr(const char16_t* s) { return reinterpret_cast<LPCOLESTR>(s); }
inline const char16_t* AsU16(LPCOLESTR s) { return reinterpret_cast<const char16_t*>(s); }

// Owns one BSTR and frees it on every path.
class BStr {
public:
    BStr() = default;
    explicit BStr(BSTR owned) : FValue(owned) {}
    explicit BStr(std::u16string_view text) : FValue(U16ToBstr(text)) {}
    BStr(const BStr&) = delete;
    BStr& operator=(const BStr&) = delete;
    BStr(BStr&& other) noexcept : FValue(other.Detach()) {}
    BStr& operator=(BStr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            FValue = other.Detach();
        }
        return *this;
    }
    ~BStr() { Reset(); }

    BSTR Get() const { return FValue; }
    BSTR* Out() { Reset(); return &FValue; } // for out parameters
    BSTR Detach() { BSTR v = FValue; FValue = nullptr; return v; }
    void Reset() { if (FValue) { SysFreeString(FValue); FValue = nullptr; } }
    std::u16string Text() const { return BstrToU16(FValue); }

private:
    BSTR FValue = nullptr;
};

// ---------------------------------------------------------------- ComPtr
// A counted interface reference: AddRef on copy, Release on destruction.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a reference the caller already holds (no AddRef).
    static ComPtr Attach(T* p) { ComPtr r; r.FPtr = p; return r; }
    // Adds a reference of its own.
    static ComPtr Share(T* p) { if (p) p->AddRef(); return Attach(p); }
    ComPtr(const ComPtr& o) : FPtr(o.FPtr) { if (FPtr) FPtr->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : FPtr(o.FPtr) { o.FPtr = nullptr; }
    ComPtr& operator=(ComPtr o) noexcept { std::swap(FPtr, o.FPtr); return *this; }
    ~ComPtr() { Reset(); }

    T* Get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    // For out parameters: releases what is held and hands out the slot.
    T** Out() { Reset(); return &FPtr; }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    T* Detach() { T* p = FPtr; FPtr = nullptr; return p; }
    void Reset() { if (FPtr) { T* p = FPtr; FPtr = nullptr; p->Release(); } }
    // QueryInterface into another ComPtr.
    template <typename U>
    HRESULT As(REFIID iid, ComPtr<U>& out) const
    {
        if (!FPtr) return E_POINTER;
        return FPtr->QueryInterface(iid, out.OutVoid());
    }

private:
    T* FPtr = nullptr;
};

// ---------------------------------------------------------------- user configuration folder
// The user's own configuration folder, absolute: off Windows $XDG_CONFIG_HOME, else $HOME/.config
// (HOME, else the user database's home folder); on Windows %APPDATA%. Relative values are invalid
// and ignored. Empty, with the reason in problem, when there is none: the caller then refuses
// rather than write under the current folder. The class registry and the substitute driver's
// settings file both live here.
PLATFORM_API std::string UserConfigFolder(std::string* problem = nullptr);

// ---------------------------------------------------------------- files from outside
// Every file the program reads or writes may have been put there by someone else: only a regular
// file is read, with a size bound, and what is not one is never opened in a way that could block
// (a FIFO) or act (a device). A write never follows a symbolic link another user owns. Reasons
// are the system's own words; the caller says them with the file's name in its own language.
struct PLATFORM_API FileRead {
    enum class TOutcome { Read, Missing, TooLarge, NotRegular, DanglingLink, Denied, Failed };
    TOutcome Outcome = TOutcome::Missing;
    std::string Text;  // Read: the whole file
    std::string Error; // Failed: the system's reason
    // The outcome in English ("not a regular file", "larger than 1024 KiB", ...); empty when read.
    std::string Reason(std::uintmax_t maxBytes) const;
};

// Reads the regular file at path (a symbolic link to one is followed) of at most maxBytes.
PLATFORM_API FileRead ReadFileBounded(const std::string& path, std::uintmax_t maxBytes);

// Replaces the file at path with text, atomically: written beside it, flushed and renamed over it,
// so that a reader sees the old or the new file whole. An existing file's mode (and, for root, its
// owner) and a symbolic link to it are kept: the file the link names is replaced. Refuses what is
// not a regular file and a link of another user. Empty on success, else the reason.
PLATFORM_API std::string ReplaceFileAtomically(const std::string& path, std::string_view text);

// A file written line by line from its start: a new file, or an existing empty regular file (a
// non-empty one is never appended to). Each write goes to the system at once.
class PLATFORM_API NewFileWriter {
public:
    NewFileWriter() = default;
    ~NewFileWriter();
    NewFileWriter(const NewFileWriter&) = delete;
    NewFileWriter& operator=(const NewFileWriter&) = delete;
    // Empty when the file is open, else the reason.
    std::string Open(const std::string& path);
    // Writes all of text; false with the system's reason when it could not.
    bool Write(std::string_view text, std::string& why);
    bool IsOpen() const { return FHandle != -1; }

private:
    std::intptr_t FHandle = -1; // a descriptor, or a HANDLE's value
};

// ---------------------------------------------------------------- file lock
// An exclusive advisory lock on the file lockPath (created when missing; only a regular file is
// used), between processes and between separate holders in one process: flock on Linux,
// LockFileEx on Windows. Waits up to timeoutMs. A handle that is not Locked() when the lock could
// not be had (the caller goes on unlocked or gives up); Holder() then says who holds it, as the
// holder wrote itself into the lock file ("held by process 1234"). Released when the handle goes.
class PLATFORM_API FileLock {
public:
    FileLock(const std::string& lockPath, int timeoutMs);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Locked() const { return FHandle != -1; }
    // Not locked: who holds the lock ("held by process 1234"), or why the lock file could not be used.
    const std::string& Holder() const { return FHolder; }

private:
    std::intptr_t FHandle = -1; // a descriptor, or a HANDLE's value
    std::string FHolder;
};

// ---------------------------------------------------------------- class registry
// The per-user registry of in-process servers. Off Windows it is a text file, by default
// <UserConfigFolder>/ponderix/classes.reg (empty when there is no such folder); the environment
// variable PONDERIX_CLASS_REGISTRY names another file (tests use a temporary one). Only a regular
// file (or a symbolic link to one) is read or replaced; a rewrite keeps the file's comments, its
// mode and its symbolic link, and registrations from several processes are serialised by a lock
// on the file "<registry>.lock" beside it.
PLATFORM_API std::string ClassRegistryPath();

// What DllRegisterServer calls: records the class as an in-process server in modulePath with the
// threading model ("Apartment", "Both", ...). Written atomically. SELFREG_E_CLASS on failure.
PLATFORM_API HRESULT RegisterInprocServer(REFCLSID clsid, const std::string& modulePath,
                                          const std::string& threadingModel, const std::string& description);
// What DllUnregisterServer calls. Removing a class that is not registered is S_OK.
PLATFORM_API HRESULT UnregisterInprocServer(REFCLSID clsid);
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
// system's calls); empty after one that succeeded.
PLATFORM_API std::string ClassRegistryError();
// Sets it again: a server that undoes a failed registration keeps the reason of the failure.
PLATFORM_API void RestoreClassRegistryError(std::string why);
// Why the class registry cannot be used at all (damaged, unreadable, not a regular file), naming
// the file; empty when it can be, or does not exist yet.
PLATFORM_API std::string ClassRegistryProblem();

// ---------------------------------------------------------------- module bitness
// The bitness of this program: an in-process server module must be of the same.
constexpr int kProgramBitness = static_cast<int>(sizeof(void*) * 8);
// The bitness of a Windows (PE) module from the first bytes of its file: the DOS header's e_lfanew
// leads to the "PE\0\0" signature and the machine type after it, IMAGE_FILE_MACHINE_I386 (32) or
// IMAGE_FILE_MACHINE_AMD64 (64). 0 when the bytes hold no such header (another format, another
// machine, cut short).
PLATFORM_API int PeBitness(const unsigned char* head, std::size_t size);
// The module registered for the class where a program of the other bitness finds it, when it is a
// module of the other bitness, which this program cannot load: on Windows the class's entry in the
// other registry view (the 32-bit view from a 64-bit program, and the reverse); off Windows the one
// registry file has no views, so the class's registered module itself. True with its path and
// bitness (32 or 64); false when there is none, or it cannot be read (only the head of a regular
// file is read).
PLATFORM_API bool FindServerOfOtherBitness(REFCLSID clsid, std::string& modulePath, int& bitness);

// ---------------------------------------------------------------- the driver in a process of its own
// A host process of the registered module's own bitness (ponderix-host32.exe or ponderix-host64.exe
// beside the program) creates the class's object through the system's COM and hands it back
// marshalled: calls then reach it through the system's marshalling, and its events come back to
// the calling apartment. Windows only: elsewhere Start refuses (E_NOTIMPL), since there is no
// marshalling to reach another process.
class PLATFORM_API DriverHost {
public:
    // Starts a host for the class (the module registered in this program's registry view, else
    // the one of the other bitness) and creates the object there. The object's IUnknown, or
    // nullptr with the failure's status in status and the reason in why (in English, naming the
    // host or the module): CO_E_SERVER_EXEC_FAILURE when the host itself is missing, could not
    // start or did not answer; the host's own status when it could not create the object.
    static std::unique_ptr<DriverHost> Start(REFCLSID clsid, ComPtr<IUnknown>& object, HRESULT& status,
                                             std::string& why);
    // Asks the host to end (its input closes), and ends it when it has not within two seconds.
    ~DriverHost();
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    unsigned long ProcessId() const { return FProcessId; }
    int Bitness() const { return FBitness; }
    // Whether the host has ended, waiting up to waitMs for it; its exit code when it has.
    bool Ended(unsigned long& exitCode, unsigned long waitMs = 0) const;
    // Ends the host at once, with exit code 1.
    void End();

private:
    DriverHost() = default;
    std::intptr_t FProcess = 0; // the process's HANDLE
    std::intptr_t FInput = 0;   // the write end of the host's standard input
    unsigned long FProcessId = 0;
    int FBitness = 0;
};

// While a call to another process waits on the calling thread (a single-threaded apartment), the
// handler is asked each time a message arrives whether to wait on or to cancel the call, which
// then fails with RPC_E_CALL_CANCELED. The thread paints meanwhile; input waits for the call.
// Installs the system's message filter on the calling thread; an empty handler removes it. Off
// Windows, where calls never leave the process, nothing.
enum class OutgoingCallChoice { Wait, Cancel };
using OutgoingCallHandler = std::function<OutgoingCallChoice()>;
PLATFORM_API void SetOutgoingCallHandler(OutgoingCallHandler handler);

// ---------------------------------------------------------------- type libraries
// The type library embedded in a server module (its TYPELIB resource) entered into the system's
// registry, so that LoadRegTypeLib finds it (RegisterTypeLib). Off Windows the platform has no
// type-library loader: S_FALSE, nothing is written.
PLATFORM_API HRESULT RegisterModuleTypeLibrary(const std::string& modulePath);
// Removes a type library's registration (UnRegisterTypeLib for the build's system kind); S_OK
// when it was not registered. Off Windows S_OK, nothing to remove.
PLATFORM_API HRESULT UnregisterTypeLibrary(REFGUID libid, WORD major, WORD minor);
// The type information of guid (an interface or a class) from the type library of the module
// file itself, loaded without registering it. Off Windows E_NOTIMPL: IDispatch::GetTypeInfoCount
// then answers 0 and IProvideClassInfo is not offered.
PLATFORM_API HRESULT LoadModuleTypeInfo(const std::string& modulePath, REFGUID guid, ITypeInfo** info);
// Whether LoadModuleTypeInfo would succeed (ITypeInfo is an incomplete type off Windows).
PLATFORM_API bool ModuleHasTypeInfo(const std::string& modulePath, REFGUID guid);

// One operation of an interface as its type information describes it.
struct TypeMember {
    enum class TKind { Get, Put, Method };
    std::string Name;
    long DispatchId = 0;
    TKind Kind = TKind::Method;
    VARTYPE Type = VT_EMPTY; // the property's type; a method's result
};
// The operations of the interface that info describes (the interface of a dual one), in vtable
// order, without those of IUnknown and IDispatch. Off Windows E_NOTIMPL: there is no type-library
// support to read it with.
PLATFORM_API HRESULT DescribeInterface(ITypeInfo* info, std::vector<TypeMember>& members);

// The file of the module (program or shared library) that contains the given address; what a
// server passes to RegisterInprocServer. Empty when it cannot be told.
PLATFORM_API std::string ModulePathOf(const void* addressInModule);

// ---------------------------------------------------------------- module loading
// One loaded library; unloaded when destroyed. The system's error box is suppressed on Windows.
class PLATFORM_API Module {
public:
    Module() = default;
    explicit Module(const std::string& path);
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    Module(Module&& other) noexcept;
    Module& operator=(Module&& other) noexcept;
    ~Module();

    bool Loaded() const { return FHandle != nullptr; }
    // nullptr when not loaded or not exported.
    void* Symbol(const char* name) const;
    // The loader's message for the last failure (load or lookup).
    const std::string& Error() const { return FError; }
    void Unload();

private:
    void* FHandle = nullptr;
    mutable std::string FError;
};

// The class object of clsid from a loaded server module itself, through its own DllGetClassObject
// and without the class registry. CO_E_ERRORINDLL when the module exports no DllGetClassObject.
PLATFORM_API HRESULT ModuleClassObject(const Module& module, REFCLSID clsid, REFIID riid, void** object);

// ---------------------------------------------------------------- apartment
// A single-threaded apartment: the thread that called CoInitializeEx(COINIT_APARTMENTTHREADED).
// A worker thread posts calls to it; they run on the apartment's thread, in posting order, when
// its event loop pumps. After CoUninitialize of that thread, posting fails and waiting calls are
// dropped without running.
class Apartment;
using ApartmentRef = std::shared_ptr<Apartment>;

// The apartment of the calling thread, or nullptr when the thread has not entered one.
PLATFORM_API ApartmentRef CurrentApartment();
// Queues fn to run on the apartment's thread. false when the apartment is gone (fn not queued).
PLATFORM_API bool PostToApartment(const ApartmentRef& apartment, std::function<void()> fn);
// Off Windows: a file descriptor of the calling thread's apartment that is readable while calls
// wait (-1 without an apartment). The GUI watches it and then calls PumpApartment.
PLATFORM_API int ApartmentNotifyHandle();
// Runs the calls waiting for the calling thread's apartment; returns how many ran.
PLATFORM_API int PumpApartment();
// Waits up to timeoutMs for posted calls and runs them (for code without an event loop, e.g.
// tests); returns how many ran.
PLATFORM_API int WaitAndPumpApartment(int timeoutMs);
// Where an exception that a posted call raises goes (the GUI's application object sets it); the
// process has one. Without a handler it leaves PumpApartment or WaitAndPumpApartment; on Windows,
// where the system's message dispatch runs the calls and no exception may cross it, it is dropped
// there. Returns the previous handler; an empty function removes it.
using PostedCallExceptionHandler = std::function<void(std::exception_ptr)>;
PLATFORM_API PostedCallExceptionHandler SetPostedCallExceptionHandler(PostedCallExceptionHandler handler);

// ---------------------------------------------------------------- status texts
// The system's text for a status (FormatMessage on Windows; a table of the common statuses here).
// false when the system has none.
PLATFORM_API bool StatusText(HRESULT status, std::string& text);

// ---------------------------------------------------------------- resources
// The program's own resources: bytes registered with RegisterProgramResource first, then the
// program file's (FindResource/LoadResource/LockResource on Windows). Off Windows a module
// registers its resource bytes at start-up through a static registrar.
struct ResourceData {
    const void* Data = nullptr;
    std::size_t Size = 0;
};
constexpr int RT_VERSION_ID = 16;
constexpr int RT_BITMAP_ID = 2;
// Looks up a resource by type and numeric id; false when absent.
PLATFORM_API bool FindProgramResource(int type, int id, ResourceData& out);
// Looks up a resource by type and name (e.g. the bitmap "LOGOBMP"); false when absent.
PLATFORM_API bool FindProgramResource(int type, const char* name, ResourceData& out);
// The bytes of a version resource are built by BuildVersionInfo, declared in platform/versioninfo.h.
// The bytes stay the caller's and must outlive the registration; a registration replaces the
// one of the same type and id or name.
PLATFORM_API void RegisterProgramResource(int type, int id, const void* data, std::size_t size);
PLATFORM_API void RegisterProgramResource(int type, const char* name, const void* data, std::size_t size);
PLATFORM_API void UnregisterProgramResource(int type, int id);

} // namespace platform

#include "platform/versioninfo.h"
