// The dispatch interface's rules: names, Invoke's statuses, the two ways of a dual interface, and
// its type information. On another automation object (--com-only) only COM's part of each.
#include "driver/MemberCalls.h"
#include "driver/Recording.h"
#include "platform/bstr.h"
#include "platform/typelib.h"
#include "runtime/utf.h"
#include "tools/check/Finding.h"
#include "tools/check/MemberTable.h"
#include "tools/check/StaticRules.h"

#include <map>
#include <string>
#include <vector>

namespace check {

namespace {

using driver::TCallDirection;
using platform::ComPtr;

constexpr DISPID NoSuchDispatchId = 0x5EC0DE;
// What the checker puts in GetIDsOfNames' out id: a value no answer is.
constexpr DISPID LeftAsItWas = 0x7777;

ComPtr<IDispatch> DispatchOf(const TTarget& target, IUnknown* object)
{
    ComPtr<IDispatch> dispatch;
    TCalls::Make("QueryInterface", "IDispatch", [&] { return object->QueryInterface(IID_IDispatch, dispatch.OutVoid()); });
    if (!dispatch) {
        if (target.Trutina())
            Broken("QueryInterface(IDispatch)", "the dispatch side of the dual interface", "no such interface");
        throw ESkipped{"the object is no automation object: it has no IDispatch"};
    }
    return dispatch;
}

HRESULT IdOfName(IDispatch* dispatch, const char* name, DISPID& id)
{
    std::u16string text = runtime::Utf8ToUtf16(name);
    LPOLESTR names[1] = {platform::AsOleStr(text.data())};
    id = LeftAsItWas;
    return TCalls::Make("GetIDsOfNames", std::string(name),
                        [&] { return dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id); });
}

struct TInvoked {
    HRESULT Status = S_OK;
    VARIANT Result;
    EXCEPINFO Exception{};
    UINT ArgumentError = 99;
    TInvoked() { VariantInit(&Result); }
    ~TInvoked()
    {
        VariantClear(&Result);
        SysFreeString(Exception.bstrSource);
        SysFreeString(Exception.bstrDescription);
        SysFreeString(Exception.bstrHelpFile);
    }
    TInvoked(const TInvoked&) = delete;
    TInvoked& operator=(const TInvoked&) = delete;
};

// Invoke with the arguments in the order the call takes them.
void InvokeOf(IDispatch* dispatch, DISPID id, WORD flags, std::vector<VARIANT> arguments, TInvoked& out)
{
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    params.rgvarg = reversed.empty() ? nullptr : reversed.data();
    params.cArgs = static_cast<UINT>(reversed.size());
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &put;
        params.cNamedArgs = reversed.empty() ? 0 : 1;
    }
    const std::string words = "dispid " + std::to_string(id) + ", " + std::to_string(arguments.size())
                              + (arguments.size() == 1 ? " argument" : " arguments");
    out.Status = TCalls::Make("Invoke", words, [&] {
        return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &out.Result, &out.Exception,
                                &out.ArgumentError);
    });
}

VARIANT IntegerArgument(LONG value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// The value of a VARIANT of the member's type as the trace shows it; empty for another type.
std::string VariantText(const VARIANT& v, VARTYPE type)
{
    if (v.vt != type)
        return {};
    switch (type) {
    case VT_I4: return driver::FormatTraceValue(driver::ToCallValue(v.lVal));
    case VT_BOOL: return driver::FormatTraceValue(driver::ToCallValue(v.boolVal));
    case VT_R8: return driver::FormatTraceValue(driver::ToCallValue(v.dblVal));
    case VT_CY: return driver::FormatTraceValue(driver::ToCallValue(v.cyVal));
    case VT_BSTR: return driver::FormatTraceValue(driver::ToCallValue(v.bstrVal));
    default: return {};
    }
}

const char* TypeWord(VARTYPE type)
{
    switch (type) {
    case VT_I4: return "integer";
    case VT_BOOL: return "flag";
    case VT_R8: return "real";
    case VT_CY: return "money";
    case VT_BSTR: return "text";
    default: return "another type";
    }
}

} // namespace

// --------------------------------------------------------------- dispatch-names
void CheckDispatchNames(const TTarget& target)
{
    ComPtr<IDispatch> dispatch = DispatchOf(target, target.Create().Get());
    DISPID id = 0;
    HRESULT status = IdOfName(dispatch.Get(), "PonderixNoSuchMember", id);
    Require(status == DISP_E_UNKNOWNNAME && id == DISPID_UNKNOWN, "GetIDsOfNames(\"PonderixNoSuchMember\")",
            "DISP_E_UNKNOWNNAME and DISPID_UNKNOWN",
            StatusWords(status) + (id == LeftAsItWas ? " with the id left as it was" : " and id " + std::to_string(id)));
    if (!target.Trutina())
        return;
    std::map<DISPID, const char*> owners;
    for (const TrutinaMemberInfo& m : TrutinaMembers) {
        if (!NamedMember(m))
            continue;
        const std::string call = std::string("GetIDsOfNames(\"") + m.Name + "\")";
        status = IdOfName(dispatch.Get(), m.Name, id);
        Require(status == S_OK && id != DISPID_UNKNOWN, call, "S_OK and the member's dispatch id", StatusWords(status));
        if (FixedDispatchId(m))
            Require(id == m.Number, call, "dispatch id " + std::to_string(m.Number), "dispatch id " + std::to_string(id));
        const auto [owner, fresh] = owners.emplace(id, m.Name);
        Require(fresh, call, "a dispatch id of its own", "the dispatch id of " + std::string(owner->second));
        // Names are matched without regard to case: a script may write portnumber.
        std::string upper = m.Name;
        for (char& c : upper)
            c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        DISPID again = 0;
        status = IdOfName(dispatch.Get(), upper.c_str(), again);
        Require(status == S_OK && again == id, "GetIDsOfNames(\"" + upper + "\")",
                "the dispatch id of " + std::string(m.Name) + " (names match whatever their case)",
                status == S_OK ? "dispatch id " + std::to_string(again) : StatusWords(status));
        if (m.Kind != TrutinaMemberKind::Method && InVtable(m)) {
            // The id must be one Invoke knows: a client calls the member by it.
            TInvoked invoked;
            InvokeOf(dispatch.Get(), id, DISPATCH_PROPERTYGET, {}, invoked);
            Require(invoked.Status != DISP_E_MEMBERNOTFOUND && invoked.Status != DISP_E_UNKNOWNNAME, call,
                    "a dispatch id Invoke knows", "dispatch id " + std::to_string(id) + ", which Invoke answers "
                                                      + StatusWords(invoked.Status));
        }
    }
}

// --------------------------------------------------------------- dispatch-invoke
void CheckDispatchInvoke(const TTarget& target)
{
    ComPtr<IDispatch> dispatch = DispatchOf(target, target.Create().Get());
    {
        TInvoked invoked;
        InvokeOf(dispatch.Get(), NoSuchDispatchId, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, invoked);
        Require(invoked.Status == DISP_E_MEMBERNOTFOUND, "Invoke(an unknown dispatch id)", "DISP_E_MEMBERNOTFOUND",
                StatusWords(invoked.Status));
    }
    if (!target.Trutina())
        return;
    DISPID count = 0, port = 0, name = 0, metrics = 0;
    if (IdOfName(dispatch.Get(), "DeviceCount", count) != S_OK || IdOfName(dispatch.Get(), "PortNumber", port) != S_OK
        || IdOfName(dispatch.Get(), "CurrentDeviceName", name) != S_OK
        || IdOfName(dispatch.Get(), "GetDeviceMetrics", metrics) != S_OK)
        throw ESkipped{"GetIDsOfNames does not name the members (see dispatch-names)"};
    for (const auto& [member, id] : {std::pair{"DeviceCount", count}, std::pair{"PortNumber", port},
                                     std::pair{"CurrentDeviceName", name}, std::pair{"GetDeviceMetrics", metrics}})
        if (const TrutinaMemberInfo& m = MemberNamed(member); FixedDispatchId(m) && id != m.Number)
            throw ESkipped{"GetIDsOfNames gives the members other dispatch ids than the table's (see dispatch-names)"};
    struct TCase {
        const char* Call;
        DISPID Id;
        WORD Flags;
        int Arguments;
        HRESULT Expected;
        HRESULT AlsoRight; // the system's own Invoke (over type information) says a missing argument so
    } cases[] = {
        {"Invoke(put DeviceCount), a read-only property", count, DISPATCH_PROPERTYPUT, 1, DISP_E_MEMBERNOTFOUND,
         DISP_E_MEMBERNOTFOUND},
        {"Invoke(put PortNumber) without an argument", port, DISPATCH_PROPERTYPUT, 0, DISP_E_BADPARAMCOUNT,
         DISP_E_PARAMNOTOPTIONAL},
        {"Invoke(get PortNumber) with an argument", port, DISPATCH_PROPERTYGET, 1, DISP_E_BADPARAMCOUNT,
         DISP_E_BADPARAMCOUNT},
        {"Invoke(GetDeviceMetrics) with two arguments", metrics, DISPATCH_METHOD, 2, DISP_E_BADPARAMCOUNT,
         DISP_E_BADPARAMCOUNT},
    };
    for (const TCase& c : cases) {
        TInvoked invoked;
        InvokeOf(dispatch.Get(), c.Id, c.Flags, std::vector<VARIANT>(c.Arguments, IntegerArgument(1)), invoked);
        Require(invoked.Status == c.Expected || invoked.Status == c.AlsoRight, c.Call, StatusWords(c.Expected),
                StatusWords(invoked.Status));
    }
    // An object where a number or a text belongs: no conversion exists.
    for (const auto& [member, id] : {std::pair{"PortNumber", port}, std::pair{"CurrentDeviceName", name}}) {
        TInvoked invoked;
        VARIANT object;
        VariantInit(&object);
        object.vt = VT_UNKNOWN;
        object.punkVal = dispatch.Get();
        InvokeOf(dispatch.Get(), id, DISPATCH_PROPERTYPUT, {object}, invoked);
        const std::string call = std::string("Invoke(put ") + member + ") with an object";
        Require(invoked.Status == DISP_E_TYPEMISMATCH, call, "DISP_E_TYPEMISMATCH", StatusWords(invoked.Status));
        Require(invoked.ArgumentError == 0, call, "argument index 0", "argument index " + std::to_string(invoked.ArgumentError));
    }
}

// --------------------------------------------------------------- dual-agree
void CheckDualAgree(const TTarget& target)
{
    if (!target.Trutina())
        throw ESkipped{"an interface rule (--com-only)"};
    ComPtr<IUnknown> object = target.Create();
    ComPtr<IDispatch> dispatch = DispatchOf(target, object.Get());
    ComPtr<ITrutina> trutina;
    TCalls::Make("QueryInterface", "ITrutina", [&] { return object->QueryInterface(IID_ITrutina, trutina.OutVoid()); });
    if (!trutina)
        Broken("QueryInterface(ITrutina)", "the interface", "no such interface");
    for (const TrutinaMemberInfo& m : TrutinaMembers) {
        if (!InVtable(m) || m.Kind == TrutinaMemberKind::Method)
            continue;
        DISPID id = 0;
        if (IdOfName(dispatch.Get(), m.Name, id) != S_OK || (FixedDispatchId(m) && id != m.Number))
            continue; // dispatch-names tells
        auto readByTable = [&](driver::TCallValue& value) {
            return TCalls::Make(m.Name, TCallDirection::Read, [&] {
                return driver::CallMember(trutina.Get(), m, TCallDirection::Read, {}, value);
            });
        };
        driver::TCallValue first, last;
        const HRESULT status = readByTable(first);
        TInvoked invoked;
        InvokeOf(dispatch.Get(), id, DISPATCH_PROPERTYGET, {}, invoked);
        const HRESULT again = readByTable(last);
        const std::string call = std::string("get ") + m.Name + " through Invoke";
        if (invoked.Status == DISP_E_MEMBERNOTFOUND)
            continue; // an id GetIDsOfNames gave that Invoke does not know: dispatch-names tells
        if (FAILED(status) || FAILED(invoked.Status)) {
            const HRESULT invokeStatus =
                invoked.Status == DISP_E_EXCEPTION && invoked.Exception.scode ? invoked.Exception.scode : invoked.Status;
            Require(invokeStatus == status, call, "status " + StatusWords(status) + " as through the table",
                    "status " + StatusWords(invoked.Status));
            continue;
        }
        const std::string byTable = driver::FormatTraceValue(first);
        if (FAILED(again) || driver::FormatTraceValue(last) != byTable)
            continue; // the value moves by itself (a weight): nothing to compare
        const std::string byInvoke = VariantText(invoked.Result, m.Type);
        Require(invoked.Result.vt == m.Type, call, std::string("a ") + TypeWord(m.Type), std::string("a ") + TypeWord(invoked.Result.vt));
        if (byInvoke != byTable) {
            TFinding finding{call, byTable + " as through the table", byInvoke, {}};
            // Replayed as a read through the table, then one through Invoke that must give the same.
            finding.Recording.push_back(driver::RecordingDriveLine(m.Name, TCallDirection::Read));
            finding.Recording.push_back(driver::RecordingExpectLine(m.Name, TCallDirection::Read, {},
                                                                    driver::TExpectation::Same, true));
            throw EBroken{std::move(finding)};
        }
    }
}

// --------------------------------------------------------------- typeinfo
void CheckTypeInfo(const TTarget& target)
{
    ComPtr<IDispatch> dispatch = DispatchOf(target, target.Create().Get());
    UINT count = 77;
    HRESULT status = TCalls::Make("GetTypeInfoCount", TCallDirection::Call,
                                  [&] { return dispatch->GetTypeInfoCount(&count); });
    if (status == E_NOTIMPL)
        return; // documented: the object gives no type information
    Require(status == S_OK && count <= 1, "GetTypeInfoCount", "S_OK with 0 or 1",
            StatusWords(status) + " with " + std::to_string(count));
    if (count == 0)
        return;
    ITypeInfo* info = nullptr;
    status = TCalls::Make("GetTypeInfo", "index 0",
                          [&] { return dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info); });
    Require(status == S_OK && info, "GetTypeInfo(0)", "S_OK and the type information (GetTypeInfoCount said 1)",
            StatusWords(status));
    std::vector<platform::TypeMember> described;
    status = E_NOTIMPL;
    if (target.Trutina())
        status = TCalls::Make("ITypeInfo::GetFuncDesc", TCallDirection::Call,
                              [&] { return platform::DescribeInterface(info, described); });
    reinterpret_cast<IUnknown*>(info)->Release();
    if (status == E_NOTIMPL)
        return; // another object's description is its own; off Windows nothing reads one
    Require(SUCCEEDED(status), "GetTypeInfo(0)", "type information that can be read", StatusWords(status));
    using TKind = platform::TypeMember::TKind;
    std::size_t at = 0;
    auto expect = [&](const TrutinaMemberInfo& m, TKind kind) {
        const char* word = kind == TKind::Get ? "get " : kind == TKind::Put ? "put " : "";
        const std::string wanted = std::string(word) + m.Name + " (" + TypeWord(m.Type) + ")";
        Require(at < described.size(), "GetTypeInfo(0)", wanted + " at operation " + std::to_string(at + 1),
                "only " + std::to_string(described.size()) + " operations");
        const platform::TypeMember& d = described[at++];
        if (m.Number == 9)
            return; // one operation of the driver's own
        Require(d.Name == m.Name && d.Kind == kind && d.Type == m.Type, "GetTypeInfo(0)",
                wanted + " at operation " + std::to_string(at),
                std::string(d.Kind == TKind::Get ? "get " : d.Kind == TKind::Put ? "put " : "") + d.Name + " ("
                    + TypeWord(d.Type) + ")");
        if (FixedDispatchId(m))
            Require(d.DispatchId == m.Number, "GetTypeInfo(0)", std::string(m.Name) + " with dispatch id " + std::to_string(m.Number),
                    "dispatch id " + std::to_string(d.DispatchId));
    };
    for (const TrutinaMemberInfo& m : TrutinaMembers) {
        if (m.Number > 58)
            break;
        if (m.Number == 9) {
            expect(m, TKind::Method);
            continue;
        }
        expect(m, m.Kind == TrutinaMemberKind::Method ? TKind::Method : TKind::Get);
        if (m.Kind == TrutinaMemberKind::ReadWrite)
            expect(m, TKind::Put);
    }
}

} // namespace check
