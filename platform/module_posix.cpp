// Loading libraries with the system's dynamic loader.
#include "platform/platform.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <errno.h>
#include <unistd.h>

namespace platform {
namespace {

std::string LoaderError(const char* fallback)
{
    const char* message = dlerror();
    return message ? message : fallback;
}

} // namespace

Module::Module(const std::string& path)
{
    dlerror();
    FHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle)
        FError = LoaderError("cannot load the library");
}

Module::Module(Module&& other) noexcept : FHandle(other.FHandle), FError(std::move(other.FError))
{
    other.FHandle = nullptr;
}

Module& Module::operator=(Module&& other) noexcept
{
    if (this != &other) {
        Unload();
        FHandle = other.FHandle;
        FError = std::move(other.FError);
        other.FHandle = nullptr;
    }
    return *this;
}

Module::~Module() { Unload(); }

void* Module::Symbol(const char* name) const
{
    if (!FHandle) {
        FError = "the library is not loaded";
        return nullptr;
    }
    dlerror();
    void* address = dlsym(FHandle, name);
    if (!address)
        FError = LoaderError("symbol not found");
    return address;
}

void Module::Unload()
{
    if (FHandle) {
        dlclose(FHandle);
        FHandle = nullptr;
    }
}

std::string ModulePathOf(const void* addressInModule)
{
    Dl_info info{};
    if (!addressInModule || !dladdr(addressInModule, &info) || !info.dli_fname)
        return {};
    // The loader names the main program by the argv[0] it was started with, which need not
    // resolve from the current folder; the kernel knows its real file.
    if (info.dli_fname[0] == '\0' || std::strcmp(info.dli_fname, program_invocation_name) == 0) {
        char buffer[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
    char* resolved = realpath(info.dli_fname, nullptr);
    if (!resolved)
        return {};
    std::string path = resolved;
    std::free(resolved);
    return path;
}

} // namespace platform
