// Type libraries on Windows: the system's own, from the TYPELIB resource of a server module.
#include "platform/internal_win.h"
#include "platform/typelib.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace platform {

HRESULT RegisterModuleTypeLibrary(const std::string& modulePath)
{
    std::wstring path = detail::WideFromUtf8(modulePath);
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    // Registered under the module's path as given (the system's loader may note another form of
    // it): the library and its interfaces go into HKEY_CLASSES_ROOT.
    if (SUCCEEDED(hr))
        hr = RegisterTypeLib(library, path.data(), nullptr);
    if (library)
        library->Release();
    if (FAILED(hr))
        detail::SetRegistryError("type library of " + modulePath + ": " + detail::SystemMessage(static_cast<DWORD>(hr)));
    return hr;
}

HRESULT UnregisterTypeLibrary(REFGUID libid, WORD major, WORD minor)
{
#ifdef _WIN64
    constexpr SYSKIND kind = SYS_WIN64;
    constexpr const wchar_t* kindKey = L"win64";
#else
    constexpr SYSKIND kind = SYS_WIN32;
    constexpr const wchar_t* kindKey = L"win32";
#endif
    // Not registered (any more) for this system kind: nothing to remove. Asked first, because what
    // UnRegisterTypeLib answers then differs between systems (Wine: E_INVALIDARG, which a second
    // uninstall would report as a failure). Asked of the kind's own entry: QueryPathOfRegTypeLib
    // falls back to the other bitness's, which the other bitness's driver may still hold.
    wchar_t id[40] = {};
    StringFromGUID2(libid, id, 40);
    std::wostringstream entry;
    entry << L"TypeLib\\" << id << L"\\" << std::hex << major << L'.' << minor << L"\\0\\" << kindKey;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, entry.str().c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return S_OK;
    RegCloseKey(key);
    const HRESULT hr = UnRegisterTypeLib(libid, major, minor, LOCALE_NEUTRAL, kind);
    if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED || hr == TYPE_E_CANTLOADLIBRARY)
        return S_OK;
    return hr;
}

HRESULT LoadModuleTypeInfo(const std::string& modulePath, REFGUID guid, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    const std::wstring path = detail::WideFromUtf8(modulePath);
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr))
        return hr;
    hr = library->GetTypeInfoOfGuid(guid, info);
    library->Release();
    return hr;
}

bool ModuleHasTypeInfo(const std::string& modulePath, REFGUID guid)
{
    ITypeInfo* info = nullptr;
    if (FAILED(LoadModuleTypeInfo(modulePath, guid, &info)))
        return false;
    info->Release();
    return true;
}

namespace {

// The type an element describes, through one pointer (an out or retval parameter).
VARTYPE ElementType(const TYPEDESC& type)
{
    return type.vt == VT_PTR && type.lptdesc ? type.lptdesc->vt : type.vt;
}

// The vtable interface behind a dual interface's dispatch description; the description itself
// otherwise. Owned by the caller.
ITypeInfo* VtableInfo(ITypeInfo* info, bool& dispatchOnly)
{
    TYPEATTR* attr = nullptr;
    dispatchOnly = false;
    if (FAILED(info->GetTypeAttr(&attr)) || !attr)
        return nullptr;
    const bool dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
    dispatchOnly = attr->typekind == TKIND_DISPATCH && !dual;
    info->ReleaseTypeAttr(attr);
    ITypeInfo* vtable = nullptr;
    HREFTYPE ref = 0;
    if (dual && SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref))
        && SUCCEEDED(info->GetRefTypeInfo(ref, &vtable)))
        return vtable;
    info->AddRef();
    return info;
}

} // namespace

HRESULT DescribeInterface(ITypeInfo* described, std::vector<TypeMember>& members)
{
    members.clear();
    if (!described)
        return E_POINTER;
    bool dispatchOnly = false;
    ITypeInfo* info = VtableInfo(described, dispatchOnly);
    if (!info)
        return E_FAIL;
    TYPEATTR* attr = nullptr;
    HRESULT hr = info->GetTypeAttr(&attr);
    if (FAILED(hr) || !attr) {
        info->Release();
        return FAILED(hr) ? hr : E_FAIL;
    }
    struct TSlot {
        short Offset;
        TypeMember Member;
    };
    std::vector<TSlot> slots;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        if (FAILED(info->GetFuncDesc(i, &func)) || !func)
            continue;
        TypeMember member;
        member.DispatchId = func->memid;
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr)) && name)
            member.Name = detail::Utf8FromWide(std::wstring(name, SysStringLen(name)));
        SysFreeString(name);
        const SHORT params = func->cParams;
        if (func->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) {
            member.Kind = TypeMember::TKind::Put;
            member.Type = params > 0 ? func->lprgelemdescParam[0].tdesc.vt : VT_EMPTY;
        } else {
            member.Kind = func->invkind & INVOKE_PROPERTYGET ? TypeMember::TKind::Get : TypeMember::TKind::Method;
            // A vtable operation hands its value out through its last parameter, a dispatch-only
            // one as its result.
            member.Type = dispatchOnly || params == 0 ? func->elemdescFunc.tdesc.vt
                                                      : ElementType(func->lprgelemdescParam[params - 1].tdesc);
        }
        slots.push_back({func->oVft, std::move(member)});
        info->ReleaseFuncDesc(func);
    }
    info->ReleaseTypeAttr(attr);
    info->Release();
    std::stable_sort(slots.begin(), slots.end(), [](const TSlot& a, const TSlot& b) { return a.Offset < b.Offset; });
    for (TSlot& slot : slots)
        members.push_back(std::move(slot.Member));
    return S_OK;
}

} // namespace platform
