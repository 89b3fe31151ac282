// The program file's own resources, compiled into it by the resource compiler.
#include "platform/internal_win.h"
#include "platform/resources.h"

namespace platform::detail {
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

bool FindFileResource(int type, int id, const char* name, ResourceData& out)
{
    if (name)
        return LoadFound(FindResourceA(nullptr, name, MAKEINTRESOURCEA(type)), out);
    return LoadFound(FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type)), out);
}

} // namespace platform::detail
