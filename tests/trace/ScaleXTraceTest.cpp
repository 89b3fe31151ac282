// The driver call hook against the fake driver: every interface call of TScaleX reaches it once,
// in the fake's own order, with the right direction and value; failures carry their status and
// text; data events fall between the calls; off, the hook is never called.
#include "../driver/DriverTestSupport.h"

#include "driver/CallTrace.h"
#include "driver/ScaleX.h"
#include "driver/Statera.h"
#include "runtime/exceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using driver::TCallDirection;
using driver::TDriverCall;

namespace {

// A TDriverCall kept beyond the hook's call (Member points at a literal of the wrapper).
struct TRecorded {
    std::string Member;
    TCallDirection Direction;
    driver::TCallValue Value;
    HRESULT Status;
    std::string StatusText;
    std::string Line;
};

// The fake's log text of a call: "get M", "put M <argument as the fake writes it>", "call M".
std::string FakeLogText(const TRecorded& call)
{
    switch (call.Direction) {
    case TCallDirection::Read: return "get " + call.Member;
    case TCallDirection::Call: return "call " + call.Member;
    case TCallDirection::Event: return "event " + call.Member;
    case TCallDirection::Setup: return call.Member;
    case TCallDirection::Write: break;
    }
    struct TFakeArgument {
        std::string operator()(std::monostate) const { return "?"; }
        std::string operator()(std::int32_t v) const { return std::to_string(v); }
        std::string operator()(driver::TTraceFlag v) const { return std::to_string(v.Raw); }
        std::string operator()(double v) const { return driver::FormatTraceValue(v); }
        std::string operator()(driver::TTraceMoney v) const { return std::to_string(v.Raw); }
        std::string operator()(const std::string& v) const { return "\"" + v + "\""; }
    };
    return "put " + call.Member + " " + std::visit(TFakeArgument{}, call.Value);
}

class ScaleXTraceTest : public TFakeDriverTest {
protected:
    void SetUp() override
    {
        driver::SetDriverCallHook([this](const TDriverCall& call) {
            FCalls.push_back({call.Member, call.Direction, call.Value, call.Status, call.StatusText,
                              driver::FormatDriverCall(call)});
        });
        fakedriver::ClearCalls();
    }
    void TearDown() override
    {
        driver::SetDriverCallHook({});
        TFakeDriverTest::TearDown();
    }

    std::vector<std::string> TracedAsFakeLog() const
    {
        std::vector<std::string> texts;
        for (const TRecorded& call : FCalls)
            if (call.Direction != TCallDirection::Event)
                texts.push_back(FakeLogText(call));
        return texts;
    }
    std::vector<std::string> TracedWithEvents() const
    {
        std::vector<std::string> texts;
        for (const TRecorded& call : FCalls)
            texts.push_back(FakeLogText(call));
        return texts;
    }

    std::vector<TRecorded> FCalls;
};

TEST_F(ScaleXTraceTest, EveryCallOfEveryKindIsTracedInTheFakesOrder)
{
    fakedriver::SetLong("DataCount", 4);
    fakedriver::SetFlag("NonStable", true);
    fakedriver::SetReal("Weight", 1.25);
    fakedriver::SetMoney("SalesPrice", 123456);
    fakedriver::SetTextUtf8("CurrentDeviceName", "Весы 1");
    fakedriver::SetText("DeviceName", u"Модель");
    fakedriver::SetLong("AddDevice", 7);
    {
        TScaleX scale(CreateDriver().Get());
        fakedriver::ClearCalls();
        EXPECT_EQ(scale.DataCount(), 4);
        EXPECT_TRUE(scale.NonStable());
        EXPECT_EQ(scale.Weight(), 1.25);
        EXPECT_EQ(scale.SalesPrice(), 123456);
        EXPECT_EQ(scale.CurrentDeviceName(), "Весы 1");
        EXPECT_EQ(scale.DeviceName(), u"Модель");
        scale.SetPortNumber(-3);
        scale.SetLockDevices(true);
        scale.SetWeightStep(0.1);
        scale.SetUnitPrice(-5);
        scale.SetCurrentDeviceName("Касса №2");
        EXPECT_EQ(scale.AddDevice(), 7);
        EXPECT_EQ(scale.DriverVersion(), "");
    }
    EXPECT_EQ(TracedAsFakeLog(), fakedriver::CallTexts());

    // The values read and the method's result, as the driver answered them.
    std::vector<std::string> lines;
    for (const TRecorded& call : FCalls)
        lines.push_back(call.Line.substr(0, call.Line.rfind(" (")));
    const std::vector<std::string> expected{
        "get DataCount = 4", "get NonStable = -1", "get Weight = 1.25", "get SalesPrice = 12.3456",
        "get CurrentDeviceName = \"Весы 1\"", "get DeviceName = \"Модель\"",
        "put PortNumber -3", "get ResultCode = 0", "put LockDevices -1", "get ResultCode = 0",
        "put WeightStep 0.1", "get ResultCode = 0", "put UnitPrice -0.0005", "get ResultCode = 0",
        "put CurrentDeviceName \"Касса №2\"", "get ResultCode = 0", "call AddDevice = 7", "get ResultCode = 0",
        "get DriverVersion = \"\"", "get ResultCode = 0"};
    EXPECT_EQ(lines, expected);
    for (const TRecorded& call : FCalls)
        EXPECT_EQ(call.Status, S_OK) << call.Line;
}

TEST_F(ScaleXTraceTest, ARefusalTracesTheReadsOfTheResultCheck)
{
    fakedriver::ScriptResult("ReadWeight", 12, "Вес не стабилен");
    TScaleX scale(CreateDriver().Get());
    fakedriver::ClearCalls();
    EXPECT_THROW(scale.ReadWeight(), EScaleError);
    EXPECT_EQ(TracedAsFakeLog(), (std::vector<std::string>{"call ReadWeight", "get ResultCode", "get ResultDescription",
                                                            "get ResultCode"}));
    EXPECT_EQ(TracedAsFakeLog(), fakedriver::CallTexts());
    ASSERT_EQ(FCalls.size(), 4u);
    EXPECT_EQ(FCalls[1].Line.substr(0, FCalls[1].Line.rfind(" (")), "get ResultCode = 12");
    EXPECT_EQ(FCalls[2].Line.substr(0, FCalls[2].Line.rfind(" (")), "get ResultDescription = \"Вес не стабилен\"");
}

TEST_F(ScaleXTraceTest, AFailedCallCarriesItsStatusAndTheRaisedText)
{
    fakedriver::ScriptFailure("Weight", DISP_E_EXCEPTION, std::string("Нет связи с весами"));
    fakedriver::ScriptFailure("UnitPrice", E_FAIL); // no error info: the system's text
    TScaleX scale(CreateDriver().Get());
    fakedriver::ClearCalls();

    std::string readMessage, writeMessage;
    try {
        scale.Weight();
    } catch (const runtime::EOleException& e) {
        readMessage = e.Message();
    }
    try {
        scale.SetUnitPrice(20000);
    } catch (const runtime::EOleException& e) {
        writeMessage = e.Message();
    }
    ASSERT_EQ(FCalls.size(), 2u) << "a failed call is traced once, and the result check does not run";
    EXPECT_EQ(FCalls[0].Status, DISP_E_EXCEPTION);
    EXPECT_EQ(FCalls[0].StatusText, readMessage);
    EXPECT_EQ(readMessage, "Нет связи с весами");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(FCalls[0].Value)) << "a failed read has no value";
    EXPECT_EQ(FCalls[0].Line.substr(0, FCalls[0].Line.rfind(" (")),
              "get Weight failed: 0x80020009 \"Нет связи с весами\"");
    EXPECT_EQ(FCalls[1].Status, E_FAIL);
    EXPECT_FALSE(writeMessage.empty());
    EXPECT_EQ(FCalls[1].Line.substr(0, FCalls[1].Line.rfind(" (")),
              "put UnitPrice 2.0000 failed: 0x80004005 \"" + writeMessage + "\"");
    EXPECT_EQ(TracedAsFakeLog(), fakedriver::CallTexts());
}

TEST_F(ScaleXTraceTest, DataEventsFallBetweenTheCallsAroundThem)
{
    TStatera control;
    TScaleX scale(control.DriverInterface().Get());
    control.OnDataEvent = [&](TStatera*) { scale.DataCount(); };
    FCalls.clear();

    scale.ResultCode();
    ASSERT_EQ(fakedriver::RaiseDataEvent(), 1);
    scale.Weight();
    EXPECT_EQ(TracedWithEvents(), (std::vector<std::string>{"get ResultCode", "event DataEvent", "get DataCount",
                                                          "get Weight"}));
    EXPECT_EQ(FCalls[1].Line, "event DataEvent");
}

TEST_F(ScaleXTraceTest, SwitchedOffTheHookIsNeverCalled)
{
    int called = 0;
    driver::SetDriverCallHook([&](const TDriverCall&) { ++called; }, false);
    EXPECT_FALSE(driver::DriverCallTraceOn());
    {
        TStatera control;
        TScaleX scale(control.DriverInterface().Get());
        control.OnDataEvent = [&](TStatera*) { scale.DataCount(); };
        fakedriver::ScriptResult("Zero", 3, "refused");
        fakedriver::ScriptFailure("Weight", E_FAIL);
        scale.ResultCode();
        scale.SetUnitPrice(1);
        EXPECT_THROW(scale.Zero(), EScaleError);
        EXPECT_THROW(scale.Weight(), runtime::EOleException);
        fakedriver::RaiseDataEvent();
        EXPECT_GT(fakedriver::Calls().size(), 5u);
    }
    EXPECT_EQ(called, 0);

    // Removing the hook switches the trace off too.
    driver::SetDriverCallHook({}, true);
    EXPECT_FALSE(driver::DriverCallTraceOn());
}

TEST_F(ScaleXTraceTest, AHookThatThrowsChangesNothing)
{
    driver::SetDriverCallHook([](const TDriverCall&) { throw std::runtime_error("trace sink broken"); });
    fakedriver::SetLong("DataCount", 9);
    fakedriver::ScriptResult("Tare", 5, "Перегрузка");
    TScaleX scale(CreateDriver().Get());
    EXPECT_EQ(scale.DataCount(), 9);
    try {
        scale.Tare();
        FAIL() << "the refusal was lost";
    } catch (const EScaleError& e) {
        EXPECT_EQ(e.ResultCode(), 5);
        EXPECT_EQ(e.Message(), "Перегрузка");
    }
}

} // namespace
