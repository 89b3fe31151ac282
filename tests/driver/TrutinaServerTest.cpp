// The server-side base, through the fake driver module: IDispatch by name and dispatch id with
// argument coercion and errors, the connection point, error info support and the module count.
#include "CountingSink.h"
#include "DriverTestSupport.h"
#include "platform/bstr.h"
#include "platform/classregistry.h"
#include "platform/comptr.h"
#include "platform/module.h"
#include "platform/typelib.h"

#include "server/TrutinaServer.h"

#include <cstring>
#include <string>
#include <vector>

using Texts = std::vector<std::string>;

namespace {

VARIANT Var(VARTYPE vt)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}
VARIANT I2(SHORT x) { VARIANT v = Var(VT_I2); v.iVal = x; return v; }
VARIANT I4(LONG x) { VARIANT v = Var(VT_I4); v.lVal = x; return v; }
VARIANT R8(double x) { VARIANT v = Var(VT_R8); v.dblVal = x; return v; }
VARIANT Cy(std::int64_t x) { VARIANT v = Var(VT_CY); v.cyVal.int64 = x; return v; }
VARIANT Bool(VARIANT_BOOL x) { VARIANT v = Var(VT_BOOL); v.boolVal = x; return v; }


} // namespace

class TrutinaServerTest : public TFakeDriverTest {
protected:
    void TearDown() override
    {
        FDriver.Reset();
        TFakeDriverTest::TearDown();
    }

    HRESULT Put(DISPID id, VARIANT value, UINT* argErr = nullptr)
    {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&value, &named, 1, 1};
        HRESULT hr = FDriver->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                                     nullptr, argErr);
        VariantClear(&value);
        return hr;
    }
    HRESULT Get(DISPID id, VARIANT& result, WORD flags = DISPATCH_PROPERTYGET)
    {
        VariantInit(&result);
        DISPPARAMS none{};
        return FDriver->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, &result, nullptr, nullptr);
    }

    platform::ComPtr<ITrutina> FDriver = CreateDriver();
};

TEST_F(TrutinaServerTest, CoCreateInstanceUsesTheCopyTheTestLinked)
{
    std::string registered;
    ASSERT_EQ(platform::LookupInprocServer(CLSID_Statera, registered), S_OK);
    EXPECT_EQ(registered, fakedriver::ModulePath());
    // The instance created by path shows in the state of the linked copy.
    EXPECT_EQ(fakedriver::LiveInstances(), 1);
    LONG value = 0;
    fakedriver::SetLong("DeviceCount", 77);
    ASSERT_EQ(FDriver->get_DeviceCount(&value), S_OK);
    EXPECT_EQ(value, 77);
}

// The ways to the type information agree: where the module's type library loads (Windows) there
// is one, GetTypeInfo hands it out and IProvideClassInfo is offered; where the platform has no
// type-library loader, there is none and the interface is not offered.
TEST_F(TrutinaServerTest, TypeInformationIsOfferedExactlyWhereTheModuleHasIt)
{
    const bool has = platform::ModuleHasTypeInfo(fakedriver::ModulePath(), IID_ITrutina);
#ifndef _WIN32
    EXPECT_FALSE(has);
#endif
    UINT count = 7;
    ASSERT_EQ(FDriver->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, has ? 1u : 0u);
    ITypeInfo* info = nullptr;
    const HRESULT hr = FDriver->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    EXPECT_EQ(hr, has ? S_OK : E_NOTIMPL);
    EXPECT_EQ(info != nullptr, has);
#ifdef _WIN32
    if (info)
        info->Release();
#endif
    EXPECT_EQ(FDriver->GetTypeInfo(1, LOCALE_USER_DEFAULT, &info), DISP_E_BADINDEX);
    platform::ComPtr<IProvideClassInfo> provide;
    EXPECT_EQ(FDriver->QueryInterface(IID_IProvideClassInfo, provide.OutVoid()), has ? S_OK : E_NOINTERFACE);
}

TEST_F(TrutinaServerTest, NamesMapToDispatchIdsIgnoringCase)
{
    std::u16string names[] = {u"LogicalNumber", u"readweight", u"CURRENTDEVICENAME", u"NoSuchMember"};
    DISPID expected[] = {60, 50, 6, DISPID_UNKNOWN};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        LPOLESTR name = platform::AsOleStr(names[i].data());
        DISPID id = 0;
        HRESULT hr = FDriver->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        EXPECT_EQ(hr, expected[i] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK);
        EXPECT_EQ(id, expected[i]);
    }
}

TEST_F(TrutinaServerTest, InvokeDeliversEveryKindThroughTheVtable)
{
    fakedriver::SetMoney("SalesPrice", 125000);
    fakedriver::SetLong("AddDevice", 3);
    fakedriver::SetTextUtf8("DeviceName", "Весы");
    VARIANT r;
    ASSERT_EQ(Get(21, r), S_OK);
    EXPECT_EQ(r.vt, VT_CY);
    EXPECT_EQ(r.cyVal.int64, 125000);
    ASSERT_EQ(Get(47, r, DISPATCH_METHOD), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 3);
    ASSERT_EQ(Get(38, r), S_OK);
    ASSERT_EQ(r.vt, VT_BSTR);
    EXPECT_EQ(platform::BstrToU16(r.bstrVal), u"Весы");
    VariantClear(&r);
    ASSERT_EQ(Put(13, R8(0.05)), S_OK);
    EXPECT_EQ(fakedriver::CallTexts(), (Texts{"get SalesPrice", "call AddDevice", "get DeviceName", "put WeightStep 0.05"}));
}

TEST_F(TrutinaServerTest, InvokeRefusesWhatTheMemberDoesNotTake)
{
    VARIANT r;
    EXPECT_EQ(Get(99, r), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(22, R8(1)), DISP_E_MEMBERNOTFOUND) << "a write of the read-only Weight";
    EXPECT_EQ(Get(50, r, DISPATCH_PROPERTYPUT), DISP_E_MEMBERNOTFOUND) << "a write of a method";
    VARIANT arg = I4(1);
    DISPPARAMS oneArg{&arg, nullptr, 1, 0};
    EXPECT_EQ(FDriver->Invoke(22, IID_NULL, 0, DISPATCH_PROPERTYGET, &oneArg, &r, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    DISPPARAMS none{};
    EXPECT_EQ(FDriver->Invoke(16, IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, nullptr, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(FDriver->Invoke(22, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_TRUE(fakedriver::Calls().empty()) << "a refused Invoke reached the member";
}

TEST_F(TrutinaServerTest, ArgumentsAreCoercedToTheMembersType)
{
    struct TCase {
        DISPID Id;
        VARIANT Value;
        HRESULT Expected;
        const char* Logged; // nullptr: nothing reaches the member
    };
    VARIANT text = Var(VT_BSTR);
    text.bstrVal = SysAllocString(platform::AsOleStr(u"16"));
    const TCase cases[] = {
        {16, I2(7), S_OK, "put PortNumber 7"},
        {16, R8(2.5), S_OK, "put PortNumber 2"},   // half to even
        {16, R8(3.5), S_OK, "put PortNumber 4"},
        {16, Cy(25000), S_OK, "put PortNumber 2"},  // 2.5 to even
        {16, Bool(VARIANT_TRUE), S_OK, "put PortNumber -1"},
        {16, R8(3e9), DISP_E_OVERFLOW, nullptr},
        {16, text, DISP_E_TYPEMISMATCH, nullptr},
        {20, I4(12), S_OK, "put UnitPrice 120000"},
        {20, R8(12.34567), S_OK, "put UnitPrice 123457"},
        {23, Cy(15000), S_OK, "put TareWeight 1.5"},
        {8, I4(1), S_OK, "put LockDevices -1"},
        {8, Bool(1), S_OK, "put LockDevices 1"}, // a boolean passes as it came
        {6, Var(VT_EMPTY), S_OK, "put CurrentDeviceName \"\""},
        {6, I4(1), DISP_E_TYPEMISMATCH, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Logged ? c.Logged : "refused");
        fakedriver::ClearCalls();
        UINT argErr = 99;
        EXPECT_EQ(Put(c.Id, c.Value, &argErr), c.Expected);
        if (c.Logged) {
            EXPECT_EQ(fakedriver::CallTexts(), Texts{c.Logged});
        } else {
            EXPECT_TRUE(fakedriver::Calls().empty());
            EXPECT_EQ(argErr, 0u);
        }
    }
}

TEST_F(TrutinaServerTest, AFailingMemberIsAnExceptionWithItsErrorInfo)
{
    fakedriver::ScriptFailure("Zero", E_FAIL, "Ноль вне диапазона");
    EXCEPINFO info{};
    DISPPARAMS none{};
    VARIANT r;
    VariantInit(&r);
    EXPECT_EQ(FDriver->Invoke(51, IID_NULL, 0, DISPATCH_METHOD, &none, &r, &info, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_FAIL);
    EXPECT_EQ(platform::BstrToU16(info.bstrDescription), u"Ноль вне диапазона");
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    // Without EXCEPINFO the status comes back as it is.
    EXPECT_EQ(FDriver->Invoke(51, IID_NULL, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr), E_FAIL);

    platform::ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(FDriver->QueryInterface(IID_ISupportErrorInfo, support.OutVoid()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ITrutina), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE);
}

TEST_F(TrutinaServerTest, TheConnectionPointCountsAndLimitsItsSinks)
{
    platform::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(FDriver->QueryInterface(IID_IConnectionPointContainer, container.OutVoid()), S_OK);
    platform::ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, point.Out()), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(DIID_ITrutinaEvents, point.Out()), S_OK);

    TCountingSink sinks[trutina_server::TTrutinaServerBase::MaxSinks + 1];
    std::vector<DWORD> cookies;
    for (std::size_t i = 0; i < trutina_server::TTrutinaServerBase::MaxSinks; ++i) {
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(&sinks[i], &cookie), S_OK);
        cookies.push_back(cookie);
    }
    DWORD refused = 0;
    EXPECT_EQ(point->Advise(&sinks[trutina_server::TTrutinaServerBase::MaxSinks], &refused), CONNECT_E_ADVISELIMIT);

    EXPECT_EQ(fakedriver::RaiseDataEvent(), static_cast<int>(cookies.size()));
    EXPECT_EQ(sinks[0].Events.load(), 1);
    EXPECT_EQ(sinks[trutina_server::TTrutinaServerBase::MaxSinks].Events.load(), 0);

    platform::ComPtr<IEnumConnections> connections;
    ASSERT_EQ(point->EnumConnections(connections.Out()), S_OK);
    std::vector<CONNECTDATA> listed(cookies.size() + 1);
    ULONG fetched = 0;
    EXPECT_EQ(connections->Next(static_cast<ULONG>(listed.size()), listed.data(), &fetched), S_FALSE);
    EXPECT_EQ(fetched, cookies.size());
    for (ULONG i = 0; i < fetched; ++i)
        listed[i].pUnk->Release();
    connections.Reset();

    for (DWORD cookie : cookies)
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(point->Unadvise(cookies[0]), CONNECT_E_NOCONNECTION);
    for (const auto& sink : sinks)
        EXPECT_EQ(sink.References.load(), 1u) << "a sink reference was kept or lost";
}

TEST_F(TrutinaServerTest, TheModuleCanUnloadOnlyWithoutLiveObjects)
{
    using TCanUnload = HRESULT (*)();
    platform::Module module(fakedriver::ModulePath());
    auto canUnload = reinterpret_cast<TCanUnload>(module.Symbol("DllCanUnloadNow"));
    ASSERT_TRUE(canUnload);
    EXPECT_EQ(canUnload(), S_FALSE);
    FDriver.Reset();
    EXPECT_EQ(canUnload(), S_OK);
}
