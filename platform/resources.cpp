// The program's own resources: bytes registered at run time (off Windows every module registers
// its resources at start-up) are found first, then the program file's own (on Windows, those
// the resource compiler put there).
#include "platform/internal.h"
#include "platform/resources.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <vector>

namespace platform {
namespace {

struct ResourceEntry {
    int Type;
    int Id;           // used when Name is empty
    std::string Name; // resource names compare without regard to case, as on Windows
    ResourceData Bytes;
};

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

class ResourceTable {
public:
    static ResourceTable& Instance()
    {
        static auto* table = new ResourceTable; // outlives every static registrar
        return *table;
    }

    void Put(ResourceEntry entry)
    {
        std::lock_guard guard(FLock);
        Erase(entry.Type, entry.Id, entry.Name);
        FEntries.push_back(std::move(entry));
    }
    void Remove(int type, int id, std::string_view name)
    {
        std::lock_guard guard(FLock);
        Erase(type, id, name);
    }
    bool Find(int type, int id, std::string_view name, ResourceData& out)
    {
        std::lock_guard guard(FLock);
        for (const auto& e : FEntries)
            if (Matches(e, type, id, name)) {
                out = e.Bytes;
                return true;
            }
        return false;
    }

private:
    static bool Matches(const ResourceEntry& e, int type, int id, std::string_view name)
    {
        if (e.Type != type)
            return false;
        return name.empty() ? (e.Name.empty() && e.Id == id) : SameName(e.Name, name);
    }
    void Erase(int type, int id, std::string_view name)
    {
        std::erase_if(FEntries, [&](const ResourceEntry& e) { return Matches(e, type, id, name); });
    }

    std::mutex FLock;
    std::vector<ResourceEntry> FEntries;
};

} // namespace

bool FindProgramResource(int type, int id, ResourceData& out)
{
    return ResourceTable::Instance().Find(type, id, {}, out) || detail::FindFileResource(type, id, nullptr, out);
}

bool FindProgramResource(int type, const char* name, ResourceData& out)
{
    if (!name || !*name)
        return false;
    return ResourceTable::Instance().Find(type, 0, name, out) || detail::FindFileResource(type, 0, name, out);
}

void RegisterProgramResource(int type, int id, const void* data, std::size_t size)
{
    ResourceTable::Instance().Put({type, id, {}, {data, size}});
}

void RegisterProgramResource(int type, const char* name, const void* data, std::size_t size)
{
    if (name && *name)
        ResourceTable::Instance().Put({type, 0, name, {data, size}});
}

void UnregisterProgramResource(int type, int id) { ResourceTable::Instance().Remove(type, id, {}); }

} // namespace platform
