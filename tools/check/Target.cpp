#include "tools/check/Target.h"

#include "driver/CallGuard.h"
#include "driver/OleError.h"
#include "platform/bstr.h"
#include "platform/classregistry.h"
#include "driver/Trutina_TLB.h"
#include "runtime/exceptions.h"
#include "runtime/utf.h"
#include "tools/check/Finding.h"

namespace check {

namespace {

// A class id in braces, else a ProgID.
CLSID ClassNamed(const std::string& name)
{
    CLSID clsid{};
    const std::u16string text = runtime::Utf8ToUtf16(name);
    if (!name.empty() && name[0] == '{') {
        if (FAILED(CLSIDFromString(platform::AsOleStr(text.c_str()), &clsid)))
            throw runtime::Exception(name + " is not a class id");
        return clsid;
    }
    if (FAILED(CLSIDFromProgID(platform::AsOleStr(text.c_str()), &clsid))) {
        const std::string why = platform::ClassRegistryError();
        throw runtime::Exception("no class is registered as " + name + (why.empty() ? "" : ": " + why));
    }
    return clsid;
}

} // namespace

TTarget::TTarget(const TTargetOptions& options) : FComOnly(options.ComOnly)
{
    FClassId = options.Class.empty() ? CLSID_Statera : ClassNamed(options.Class);
    HRESULT status;
    driver::TCallInProgress loading(driver::LoadingTheModule, driver::TCallDirection::Setup);
    if (!options.Module.empty()) {
        FModulePath = options.Module;
        FModule = platform::Module(FModulePath);
        if (!FModule.Loaded())
            throw runtime::Exception("cannot load " + FModulePath + ": " + FModule.Error());
        status = platform::ModuleClassObject(FModule, FClassId, IID_IClassFactory, FFactory.OutVoid());
        if (status == CO_E_ERRORINDLL)
            throw runtime::Exception(FModulePath + " is not a server module: it has no DllGetClassObject");
    } else {
        if (platform::LookupInprocServer(FClassId, FModulePath) != S_OK)
            FModulePath.clear();
        status = CoGetClassObject(FClassId, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, FFactory.OutVoid());
        // The module the system loaded, for its DllCanUnloadNow (loading it again shares it).
        if (SUCCEEDED(status) && !FModulePath.empty())
            FModule = platform::Module(FModulePath);
    }
    if (FAILED(status) || !FFactory) {
        std::string why = driver::OleErrorMessage(status, u"");
        if (const std::string registry = platform::ClassRegistryError(); options.Module.empty() && !registry.empty())
            why += " (" + registry + ")";
        throw runtime::Exception("no class factory for the class " + ClassIdText()
                                 + (options.Module.empty() ? "" : " in " + FModulePath) + ": " + why);
    }
}

TTarget::~TTarget()
{
    FFactory.Reset();
    // Left loaded until the process ends, as regsvr and the replay leave theirs: unloaded before
    // LeakSanitizer's check at exit, what the module keeps in its globals would count as a leak.
    FModule.KeepLoaded();
}

std::string TTarget::ClassIdText() const
{
    OLECHAR text[40] = {};
    StringFromGUID2(FClassId, text, 40);
    return runtime::Utf16ToUtf8(platform::AsU16(text));
}

platform::ComPtr<IUnknown> TTarget::Create() const
{
    platform::ComPtr<IUnknown> object;
    const HRESULT status = TCalls::Make("CreateInstance", "IUnknown", [&] {
        return FFactory->CreateInstance(nullptr, IID_IUnknown, object.OutVoid());
    });
    if (FAILED(status))
        throw runtime::Exception("CreateInstance answered " + StatusWords(status));
    if (!object)
        throw runtime::Exception("CreateInstance answered " + StatusWords(status) + " without an object");
    return object;
}

bool TTarget::CanUnloadNow(HRESULT& answer) const
{
    using TCanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    const auto canUnload = reinterpret_cast<TCanUnloadNow>(FModule.Loaded() ? FModule.Symbol("DllCanUnloadNow") : nullptr);
    if (!canUnload)
        return false;
    answer = TCalls::Make("DllCanUnloadNow", driver::TCallDirection::Call, [&] { return canUnload(); });
    return true;
}

} // namespace check
