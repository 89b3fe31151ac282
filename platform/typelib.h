// Type libraries: a server module's own, registered and loaded.
#pragma once

#include "platform/ole.h"

#include <string>
#include <vector>

namespace platform {

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

} // namespace platform
