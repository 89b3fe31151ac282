// Type libraries off Windows: the platform has no type-library loader, so a server module's type
// library is neither registered nor handed out. Clients here bind by name (GetIDsOfNames) or by
// the vtable of the interface's header.
#include "platform/platform.h"

namespace platform {

HRESULT RegisterModuleTypeLibrary(const std::string&) { return S_FALSE; }

HRESULT UnregisterTypeLibrary(REFGUID, WORD, WORD) { return S_OK; }

HRESULT LoadModuleTypeInfo(const std::string&, REFGUID, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return E_NOTIMPL;
}

bool ModuleHasTypeInfo(const std::string&, REFGUID) { return false; }

HRESULT DescribeInterface(ITypeInfo*, std::vector<TypeMember>&) { return E_NOTIMPL; }

} // namespace platform
