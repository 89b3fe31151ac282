// The program's own resources, compiled into the program file by the resource compiler.
#include "platform/platform.h"

namespace platform {
namespace {

bool LoadFound(HRSRC found, ResourceData& out)
{
    if (!found)
        return false;
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return false;
    out = {data, static_cast<std::size_t>(SizeofResource(nullptr, found))};
    return true;
}

} // namespace

bool FindProgramResource(int type, int id, ResourceData& out)
{
    return LoadFound(FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type)), out);
}

bool FindProgramResource(int type, const char* name, ResourceData& out)
{
    if (!name || !*name)
        return false;
    return LoadFound(FindResourceA(nullptr, name, MAKEINTRESOURCEA(type)), out);
}

} // namespace platform
