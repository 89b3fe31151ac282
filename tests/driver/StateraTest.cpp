// TStatera against the fake driver: completion of the control, the data event, the published
// properties through IDispatch, and what happens when the object lacks ITrutina.
#include "DriverTestSupport.h"
#include "platform/apartment.h"
#include "platform/bstr.h"
#include "platform/comptr.h"

#include "driver/Statera.h"
#include "runtime/apphook.h"
#include "runtime/exceptions.h"

#include <memory>
#include <string>
#include <vector>

using Texts = std::vector<std::string>;

namespace {

struct TTestFailure : std::exception {};

// Catches what reaches the application-wide hook while it lives.
class THookCatcher {
public:
    THookCatcher()
    {
        FPrevious = runtime::SetApplicationExceptionHook([this](std::exception_ptr e) { FCaught.push_back(e); });
    }
    ~THookCatcher() { runtime::SetApplicationExceptionHook(FPrevious); }
    std::vector<std::exception_ptr> FCaught;

private:
    runtime::TExceptionHook FPrevious;
};

// The sinks advised on the object behind driver.
std::vector<platform::ComPtr<IUnknown>> AdvisedSinks(ITrutina* driver)
{
    platform::ComPtr<IConnectionPointContainer> container;
    platform::ComPtr<IConnectionPoint> point;
    platform::ComPtr<IEnumConnections> connections;
    std::vector<platform::ComPtr<IUnknown>> sinks;
    if (FAILED(driver->QueryInterface(IID_IConnectionPointContainer, container.OutVoid())) ||
        FAILED(container->FindConnectionPoint(DIID_ITrutinaEvents, point.Out())) ||
        FAILED(point->EnumConnections(connections.Out())))
        return sinks;
    CONNECTDATA data;
    while (connections->Next(1, &data, nullptr) == S_OK)
        sinks.push_back(platform::ComPtr<IUnknown>::Attach(data.pUnk));
    return sinks;
}

HRESULT InvokeDataEvent(IUnknown* sink)
{
    platform::ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(IID_IDispatch, dispatch.OutVoid())))
        return E_NOINTERFACE;
    DISPPARAMS none{};
    return dispatch->Invoke(DISPID_TRUTINA_DATAEVENT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                            nullptr, nullptr);
}

} // namespace

class StateraTest : public TFakeDriverTest {};

TEST_F(StateraTest, DriverInterfaceCompletesTheControlOnce)
{
    TStatera control;
    EXPECT_EQ(fakedriver::LiveInstances(), 1);
    EXPECT_EQ(fakedriver::InitNewCalls(), 0) << "completed before DriverInterface";
    platform::ComPtr<ITrutina> first = control.DriverInterface();
    platform::ComPtr<ITrutina> second = control.DriverInterface();
    ASSERT_TRUE(first);
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(fakedriver::InitNewCalls(), 1);
    EXPECT_EQ(AdvisedSinks(first.Get()).size(), 1u);
    EXPECT_TRUE(fakedriver::Calls().empty()) << "completing the control called a driver member";
}

TEST_F(StateraTest, EachDataEventCallsOnDataEventOnceWithTheControl)
{
    TStatera control;
    std::vector<TStatera*> senders;
    control.OnDataEvent = [&](TStatera* sender) { senders.push_back(sender); };
    control.DriverInterface();
    EXPECT_EQ(fakedriver::RaiseDataEvent(), 1);
    EXPECT_EQ(fakedriver::RaiseDataEvent(), 1);
    EXPECT_EQ(senders, (std::vector<TStatera*>{&control, &control}));
}

TEST_F(StateraTest, TheHandlerMayCallTheDriver)
{
    TStatera control;
    platform::ComPtr<ITrutina> driver = control.DriverInterface();
    control.OnDataEvent = [&](TStatera*) {
        LONG count = 0;
        driver->get_DataCount(&count);
    };
    fakedriver::RaiseDataEvent();
    EXPECT_EQ(fakedriver::CallTexts(), Texts{"get DataCount"});
}

TEST_F(StateraTest, AnEventFromAWorkerArrivesThroughTheApartment)
{
    TStatera control;
    int events = 0;
    control.OnDataEvent = [&](TStatera*) { ++events; };
    control.DriverInterface();
    ASSERT_TRUE(fakedriver::RaiseDataEventFromWorker());
    EXPECT_EQ(events, 0) << "delivered before the apartment pumped";
    EXPECT_EQ(platform::WaitAndPumpApartment(1000), 1);
    EXPECT_EQ(events, 1);
}

TEST_F(StateraTest, NoEventsReachTheHandlerBeforeDriverInterface)
{
    TStatera control;
    int events = 0;
    control.OnDataEvent = [&](TStatera*) { ++events; };
    EXPECT_EQ(fakedriver::RaiseDataEvent(), 0);
    EXPECT_EQ(events, 0);
}

TEST_F(StateraTest, AnExceptionFromTheHandlerGoesToTheHookNotToTheDriver)
{
    THookCatcher hook;
    TStatera control;
    control.OnDataEvent = [](TStatera*) { throw TTestFailure(); };
    platform::ComPtr<ITrutina> driver = control.DriverInterface();
    auto sinks = AdvisedSinks(driver.Get());
    ASSERT_EQ(sinks.size(), 1u);
    EXPECT_EQ(InvokeDataEvent(sinks[0].Get()), S_OK);
    ASSERT_EQ(hook.FCaught.size(), 1u);
    EXPECT_THROW(std::rethrow_exception(hook.FCaught[0]), TTestFailure);

    control.OnDataEvent = [](TStatera*) { throw 42; }; // not even an exception class
    EXPECT_EQ(fakedriver::RaiseDataEvent(), 1);
    EXPECT_EQ(hook.FCaught.size(), 2u);
}

TEST_F(StateraTest, NoEventAfterDestruction)
{
    int events = 0;
    platform::ComPtr<ITrutina> driver;
    platform::ComPtr<IUnknown> lateSink;
    {
        TStatera control;
        control.OnDataEvent = [&](TStatera*) { ++events; };
        driver = control.DriverInterface();
        auto sinks = AdvisedSinks(driver.Get());
        ASSERT_EQ(sinks.size(), 1u);
        lateSink = sinks[0];
    }
    EXPECT_TRUE(AdvisedSinks(driver.Get()).empty()) << "the sink stays advised";
    EXPECT_EQ(fakedriver::RaiseDataEvent(), 0);
    EXPECT_EQ(InvokeDataEvent(lateSink.Get()), S_OK); // a driver that kept the sink and calls late
    EXPECT_EQ(events, 0);
}

TEST_F(StateraTest, TheHandlerMayDestroyTheControl)
{
    auto control = std::make_unique<TStatera>();
    int events = 0;
    control->OnDataEvent = [&](TStatera*) {
        ++events;
        control.reset();
    };
    control->DriverInterface();
    EXPECT_EQ(fakedriver::RaiseDataEvent(), 1);
    EXPECT_EQ(events, 1);
    EXPECT_FALSE(control);
}

TEST_F(StateraTest, AnObjectWithoutTrutinaIsInterfaceNotSupported)
{
    fakedriver::OfferTrutina(false);
    TStatera control;
    try {
        control.DriverInterface();
        FAIL() << "no EIntfCastError";
    } catch (const runtime::EIntfCastError& e) {
        EXPECT_EQ(e.Message(), "Interface not supported");
    }
}

TEST(StateraWithoutDriverTest, AnUnregisteredClassCannotBeCreated)
{
    TFakeDriverEnvironment environment(false);
    try {
        TStatera control;
        FAIL() << "created without a registered class";
    } catch (const runtime::EOleException& e) {
        EXPECT_EQ(e.ErrorCode(), REGDB_E_CLASSNOTREG);
        EXPECT_FALSE(e.Message().empty());
    }
}

// ---------------------------------------------------------------- published properties
namespace {

VARIANT SampleValue(const TrutinaMemberInfo& m)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = m.Type;
    switch (m.Type) {
    case VT_I4: v.lVal = m.Number * 100; break;
    case VT_BOOL: v.boolVal = VARIANT_TRUE; break;
    case VT_R8: v.dblVal = m.Number + 0.5; break;
    case VT_CY: v.cyVal.int64 = m.Number * 10000LL; break;
    case VT_BSTR: v.bstrVal = SysAllocString(platform::AsOleStr(u"Весы")); break;
    }
    return v;
}

std::string SampleText(const TrutinaMemberInfo& m)
{
    switch (m.Type) {
    case VT_I4: return std::to_string(m.Number * 100);
    case VT_BOOL: return "-1";
    case VT_R8: return std::to_string(m.Number) + ".5";
    case VT_CY: return std::to_string(m.Number * 10000LL);
    default: return "\"Весы\"";
    }
}

} // namespace

TEST_F(StateraTest, EveryPublishedPropertyReachesItsMemberByDispatchId)
{
    TStatera control;
    int published = 0;
    for (const auto& m : TrutinaMembers) {
        if (m.Kind != TrutinaMemberKind::ReadWrite)
            continue;
        SCOPED_TRACE(m.Name);
        ++published;
        fakedriver::ClearCalls();
        VARIANT value = SampleValue(m);
        control.SetProperty(m.Number, value);
        VariantClear(&value);
        VARIANT read = control.GetProperty(m.Number);
        EXPECT_EQ(read.vt, m.Type);
        if (m.Type == VT_I4) {
            EXPECT_EQ(read.lVal, m.Number * 100);
        }
        VariantClear(&read);
        EXPECT_EQ(fakedriver::CallTexts(),
                  (Texts{std::string("put ") + m.Name + " " + SampleText(m), std::string("get ") + m.Name}));
    }
    EXPECT_EQ(published, 23); // 20 up to member 44, ApplicationHandle, Timeout and LogicalNumber
}

TEST_F(StateraTest, OnlyReadWriteMembersArePublished)
{
    TStatera control;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    for (DISPID id : {DISPID(1), DISPID(22), DISPID(50), DISPID(0), DISPID(99)}) {
        SCOPED_TRACE(id);
        EXPECT_THROW(control.GetProperty(id), runtime::EOleException);
        EXPECT_THROW(control.SetProperty(id, value), runtime::EOleException);
    }
    EXPECT_TRUE(fakedriver::Calls().empty());
}

TEST_F(StateraTest, APropertyFailureCarriesTheComponentsText)
{
    TStatera control;
    fakedriver::ScriptFailure("PortNumber", E_INVALIDARG, "Неверный номер порта.");
    try {
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_I4;
        value.lVal = 40;
        control.SetProperty(16, value);
        FAIL() << "no EOleException";
    } catch (const runtime::EOleException& e) {
        EXPECT_EQ(e.Message(), "Неверный номер порта");
        EXPECT_EQ(e.ErrorCode(), E_INVALIDARG);
    }
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(platform::AsOleStr(u"4"));
    EXPECT_THROW(control.SetProperty(16, text), runtime::EOleException) << "text for an integer";
    VariantClear(&text);
}
