// Creating objects of registered in-process servers: the registry names the module, the module is
// loaded once per path and asked for its class factory.
#include "platform/classregistry.h"
#include "platform/comptr.h"
#include "platform/internal.h"
#include "platform/module.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace platform {
namespace {

using DllGetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using DllCanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

struct LoadedServer {
    Module Library;
    DllGetClassObjectFn GetClassObject = nullptr;
    DllCanUnloadNowFn CanUnloadNow = nullptr;
};

// The loaded server modules by path. Never destroyed: objects may outlive static destruction, and
// unloading their code under them would crash at exit.
class ServerCache {
public:
    static ServerCache& Instance()
    {
        static auto* cache = new ServerCache;
        return *cache;
    }

    // why: the module and what is wrong with it, when it fails.
    HRESULT Load(const std::string& registeredPath, std::shared_ptr<LoadedServer>& out, std::string& why)
    {
        // Recursive: a module's initialisers may themselves create objects.
        std::lock_guard guard(FLock);
        if (auto found = FServers.find(registeredPath); found != FServers.end()) {
            out = found->second;
            return S_OK;
        }
        // Registrations are absolute; a bare name in a hand-edited registry would be searched for
        // by the loader among the system's libraries, which is not the file the registry names.
        why = "the registered module " + registeredPath + ": ";
        if (registeredPath.empty() || registeredPath.front() != '/')
            return why += "not an absolute path", CO_E_DLLNOTFOUND;
        // The path is resolved once; the file checked is the file loaded.
        char* real = realpath(registeredPath.c_str(), nullptr);
        if (!real)
            return why += std::strerror(errno), CO_E_DLLNOTFOUND;
        const std::string path = real;
        std::free(real);
        struct stat st{};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return why += "not a regular file", CO_E_DLLNOTFOUND;
        auto server = std::make_shared<LoadedServer>();
        server->Library = Module(path);
        if (!server->Library.Loaded())
            return why = "cannot load the registered module " + server->Library.Error(), CO_E_ERRORINDLL;
        server->GetClassObject = reinterpret_cast<DllGetClassObjectFn>(server->Library.Symbol("DllGetClassObject"));
        if (!server->GetClassObject)
            return why += "no DllGetClassObject", CO_E_ERRORINDLL;
        why.clear();
        server->CanUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(server->Library.Symbol("DllCanUnloadNow"));
        FServers.emplace(registeredPath, server);
        out = std::move(server);
        return S_OK;
    }

    // Unloads the modules that say they can go and that no caller is using at this moment.
    void FreeUnused()
    {
        std::lock_guard guard(FLock);
        for (auto it = FServers.begin(); it != FServers.end();) {
            const auto& server = it->second;
            if (server.use_count() == 1 && server->CanUnloadNow && server->CanUnloadNow() == S_OK)
                it = FServers.erase(it);
            else
                ++it;
        }
    }

private:
    std::recursive_mutex FLock;
    std::map<std::string, std::shared_ptr<LoadedServer>> FServers;
};

} // namespace
} // namespace platform

extern "C" HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, COSERVERINFO*, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (!platform::detail::ThreadComInitialised())
        return CO_E_NOTINITIALIZED;
    // Only in-process servers exist here; asking for any other kind finds no registered class.
    if (!(context & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    try {
        std::string path;
        HRESULT hr = platform::LookupInprocServer(clsid, path);
        if (FAILED(hr))
            return hr;
        std::shared_ptr<platform::LoadedServer> server;
        std::string why;
        hr = platform::ServerCache::Instance().Load(path, server, why);
        if (FAILED(hr)) {
            platform::detail::SetRegistryError(why); // ClassRegistryError names the module and why
            return hr;
        }
        hr = server->GetClassObject(clsid, riid, ppv);
        if (SUCCEEDED(hr) && !*ppv)
            return CO_E_ERRORINDLL;
        if (FAILED(hr))
            *ppv = nullptr;
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return CO_E_ERRORINDLL; // an exception thrown out of the module's entry point
    }
}

extern "C" HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    platform::ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.OutVoid());
    if (FAILED(hr))
        return hr;
    try {
        hr = factory->CreateInstance(outer, riid, ppv);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_UNEXPECTED; // a factory must not throw; its caller gets a status instead
    }
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

extern "C" void CoFreeUnusedLibraries()
{
    try {
        platform::ServerCache::Instance().FreeUnused();
    } catch (...) {
    }
}
