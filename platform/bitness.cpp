// Telling a registered module of the other bitness by its file's header.
#include "platform/bitness.h"

#include "platform/classregistry.h"
#include "platform/internal.h"

#include <cstdint>
#include <cstring>

namespace platform {

namespace {

// How much of a module's file is read for its header: a PE signature lies within it in every
// module a linker writes.
constexpr std::size_t kHeadBytes = 4096;

std::uint32_t Little(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

} // namespace

int PeBitness(const unsigned char* head, std::size_t size)
{
    constexpr std::size_t kLfanewAt = 0x3C; // where the DOS header keeps the PE header's offset
    if (!head || size < kLfanewAt + 4 || head[0] != 'M' || head[1] != 'Z')
        return 0;
    const std::uint32_t pe = Little(head + kLfanewAt, 4);
    // The signature and the machine type after it, within the bytes (pe may be anything).
    if (pe > size || size - pe < 6 || std::memcmp(head + pe, "PE\0\0", 4) != 0)
        return 0;
    switch (Little(head + pe + 4, 2)) {
    case 0x014C: // IMAGE_FILE_MACHINE_I386
        return 32;
    case 0x8664: // IMAGE_FILE_MACHINE_AMD64
        return 64;
    default:
        return 0;
    }
}

namespace {
// The bitness of the module at path from its head; 0 when it cannot be read or is no PE module.
int ModuleFileBitness(const std::string& path)
{
    std::string head;
    if (!detail::ReadFileHead(path, kHeadBytes, head))
        return 0;
    return PeBitness(reinterpret_cast<const unsigned char*>(head.data()), head.size());
}
} // namespace

int detail::RegisteredServerBitness(REFCLSID clsid, std::string& modulePath)
{
    modulePath.clear();
    try {
        const std::string saved = ClassRegistryError();
        std::string path;
        HRESULT found = LookupInprocServer(clsid, path);
        if (found != S_OK)
            found = detail::LookupOtherViewInprocServer(clsid, path);
        detail::SetRegistryError(saved);
        if (found != S_OK)
            return 0;
        modulePath = path;
        return ModuleFileBitness(path);
    } catch (...) {
        return 0;
    }
}

bool FindServerOfOtherBitness(REFCLSID clsid, std::string& modulePath, int& bitness)
{
    modulePath.clear();
    bitness = 0;
    try {
        // A look that the caller did not ask for leaves its registry error as it was.
        const std::string saved = ClassRegistryError();
        std::string path;
        const HRESULT found = detail::LookupOtherViewInprocServer(clsid, path);
        detail::SetRegistryError(saved);
        if (found != S_OK)
            return false;
        const int moduleBitness = ModuleFileBitness(path);
        if (moduleBitness == 0 || moduleBitness == kProgramBitness)
            return false;
        modulePath = path;
        bitness = moduleBitness;
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace platform
