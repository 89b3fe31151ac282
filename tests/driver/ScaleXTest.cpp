// TScaleX against the fake driver: the result check, conversions, the automation error and the
// mapping of every wrapper operation to the interface member of the same name.
#include "DriverTestSupport.h"
#include "platform/comptr.h"
#include "platform/status.h"

#include "driver/ScaleX.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

using fakedriver::CallTexts;
using Texts = std::vector<std::string>;

class ScaleXTest : public TFakeDriverTest {
protected:
    void SetUp() override { FScale = std::make_unique<TScaleX>(FDriver.Get()); }
    void TearDown() override
    {
        FScale.reset();
        FDriver.Reset();
        TFakeDriverTest::TearDown();
    }

    platform::ComPtr<ITrutina> FDriver = CreateDriver();
    std::unique_ptr<TScaleX> FScale;
};

// ---------------------------------------------------------------- every operation
struct TOperation {
    std::string Call;   // the first call the fake must log
    bool Checked;       // followed by the result check
    std::function<void(TScaleX&)> Run;
};

#define READ(name) TOperation{"get " #name, false, [](TScaleX& s) { (void)s.name(); }}
#define WRITE(name, value, text) TOperation{"put " #name " " text, true, [](TScaleX& s) { s.Set##name(value); }}
#define METHOD(name) TOperation{"call " #name, true, [](TScaleX& s) { (void)s.name(); }}

const std::vector<TOperation>& AllOperations()
{
    static const std::vector<TOperation> operations = {
        READ(ResultCode), READ(ResultDescription), TOperation{"get DriverVersion", true, [](TScaleX& s) { (void)s.DriverVersion(); }},
        READ(CurrentDeviceIndex), READ(CurrentDeviceNumber), READ(CurrentDeviceName), READ(DeviceCount),
        READ(LockDevices), READ(PollingInterval), READ(EventNumber), READ(DataCount), READ(WeightStep),
        READ(Model), READ(AsyncMode), READ(PortNumber), READ(BaudRate), READ(Parity), READ(DeviceEnabled),
        READ(UnitPrice), READ(SalesPrice), READ(Weight), READ(TareWeight), READ(NettoWeight),
        READ(ZeroScaleWeight), READ(OutOfZero), READ(NegWeight), READ(BigWeight), READ(NonStable), READ(Value),
        READ(ValuePurpose), READ(ProtocolVersion), READ(DeviceType), READ(DeviceModel), READ(OperatingMode),
        READ(SoftwareVersion), READ(SoftwareSubVersion), READ(DeviceName), READ(CodePage), READ(SoftwareBuild),
        READ(UpdatePrice), READ(InvalidRange), READ(AutoDisable), READ(DataEventEnabled),
        // Each write sends its member's number, so a value arriving at another member shows.
        WRITE(CurrentDeviceIndex, 4, "4"), WRITE(CurrentDeviceNumber, 5, "5"),
        WRITE(CurrentDeviceName, "6", "\"6\""), WRITE(LockDevices, true, "-1"), WRITE(PollingInterval, 10, "10"),
        WRITE(WeightStep, 13.5, "13.5"), WRITE(Model, 14, "14"), WRITE(AsyncMode, true, "-1"),
        WRITE(PortNumber, 16, "16"), WRITE(BaudRate, 17, "17"), WRITE(Parity, 18, "18"),
        WRITE(DeviceEnabled, false, "0"), WRITE(UnitPrice, 200000, "200000"), WRITE(TareWeight, 0.1, "0.1"),
        WRITE(Value, 30, "30"), WRITE(ValuePurpose, 31, "31"), WRITE(UpdatePrice, true, "-1"),
        WRITE(AutoDisable, false, "0"), WRITE(DataEventEnabled, true, "-1"),
        METHOD(ShowProperties), METHOD(AddDevice), METHOD(DeleteDevice), METHOD(DeleteEvent), METHOD(ReadWeight),
        METHOD(Zero), METHOD(Tare), METHOD(SetTare), METHOD(GetDeviceMetrics), METHOD(ReadValue),
        METHOD(WriteValue), METHOD(Reset), METHOD(GenerateEvent),
    };
    return operations;
}

// The wrapped operations by the member table: reads of every property up to member 44 except
// member 9, writes of the read-write ones except EventNumber, and the methods 46 to 58.
std::set<std::string> WrappedCallsByMemberTable()
{
    std::set<std::string> calls;
    for (const auto& m : TrutinaMembers) {
        if (m.Number == 9 || m.Number == 45 || m.Number > 58)
            continue;
        if (m.Kind == TrutinaMemberKind::Method) {
            calls.insert(std::string("call ") + m.Name);
            continue;
        }
        calls.insert(std::string("get ") + m.Name);
        if (m.Kind == TrutinaMemberKind::ReadWrite && std::string(m.Name) != "EventNumber")
            calls.insert(std::string("put ") + m.Name);
    }
    return calls;
}

TEST_F(ScaleXTest, EveryOperationReachesTheMemberOfItsName)
{
    std::set<std::string> covered;
    for (const auto& op : AllOperations()) {
        SCOPED_TRACE(op.Call);
        fakedriver::ClearCalls();
        op.Run(*FScale);
        Texts expected{op.Call};
        if (op.Checked)
            expected.push_back("get ResultCode");
        EXPECT_EQ(CallTexts(), expected);
        covered.insert(op.Call.substr(0, op.Call.find(' ', op.Call.find(' ') + 1)));
    }
    EXPECT_EQ(covered, WrappedCallsByMemberTable()) << "the table above misses a wrapper operation";
}

TEST_F(ScaleXTest, EveryReadReturnsTheValueOfItsOwnMember)
{
    // Each member holds its own number; a read landing on a neighbour returns the wrong one.
    for (const auto& m : TrutinaMembers) {
        switch (m.Type) {
        case VT_I4: fakedriver::SetLong(m.Name, m.Number); break;
        case VT_R8: fakedriver::SetReal(m.Name, m.Number + 0.25); break;
        case VT_CY: fakedriver::SetMoney(m.Name, m.Number * 10000LL); break;
        case VT_BSTR: fakedriver::SetTextUtf8(m.Name, "#" + std::to_string(m.Number)); break;
        default: break;
        }
    }
    fakedriver::SetLong("ResultCode", 0); // no check may fail here
    EXPECT_EQ(FScale->CurrentDeviceIndex(), 4);
    EXPECT_EQ(FScale->CurrentDeviceNumber(), 5);
    EXPECT_EQ(FScale->CurrentDeviceName(), "#6");
    EXPECT_EQ(FScale->DeviceCount(), 7);
    EXPECT_EQ(FScale->PollingInterval(), 10);
    EXPECT_EQ(FScale->EventNumber(), 11);
    EXPECT_EQ(FScale->DataCount(), 12);
    EXPECT_EQ(FScale->WeightStep(), 13.25);
    EXPECT_EQ(FScale->Model(), 14);
    EXPECT_EQ(FScale->PortNumber(), 16);
    EXPECT_EQ(FScale->BaudRate(), 17);
    EXPECT_EQ(FScale->Parity(), 18);
    EXPECT_EQ(FScale->UnitPrice(), 200000);
    EXPECT_EQ(FScale->SalesPrice(), 210000);
    EXPECT_EQ(FScale->Weight(), 22.25);
    EXPECT_EQ(FScale->TareWeight(), 23.25);
    EXPECT_EQ(FScale->Value(), 30);
    EXPECT_EQ(FScale->ValuePurpose(), 31);
    EXPECT_EQ(FScale->ProtocolVersion(), 32);
    EXPECT_EQ(FScale->DeviceType(), 33);
    EXPECT_EQ(FScale->DeviceModel(), 34);
    EXPECT_EQ(FScale->OperatingMode(), 35);
    EXPECT_EQ(FScale->SoftwareVersion(), 36);
    EXPECT_EQ(FScale->SoftwareSubVersion(), 37);
    EXPECT_EQ(FScale->DeviceName(), u"#38");
    EXPECT_EQ(FScale->CodePage(), 39);
    EXPECT_EQ(FScale->SoftwareBuild(), 40);
    EXPECT_EQ(FScale->ResultDescription(), "#2");
    EXPECT_EQ(FScale->DriverVersion(), "#3");
    EXPECT_EQ(FScale->AddDevice(), 47);
}

TEST_F(ScaleXTest, EachFlagReadReportsItsOwnMember)
{
    const char* flags[] = {"LockDevices", "AsyncMode", "DeviceEnabled", "NettoWeight", "ZeroScaleWeight",
                           "OutOfZero", "NegWeight", "BigWeight", "NonStable", "UpdatePrice",
                           "InvalidRange", "AutoDisable", "DataEventEnabled"};
    std::function<bool(TScaleX&)> reads[] = {
        &TScaleX::LockDevices, &TScaleX::AsyncMode, &TScaleX::DeviceEnabled, &TScaleX::NettoWeight,
        &TScaleX::ZeroScaleWeight, &TScaleX::OutOfZero, &TScaleX::NegWeight, &TScaleX::BigWeight,
        &TScaleX::NonStable, &TScaleX::UpdatePrice, &TScaleX::InvalidRange, &TScaleX::AutoDisable,
        &TScaleX::DataEventEnabled};
    for (std::size_t i = 0; i < std::size(flags); ++i) {
        SCOPED_TRACE(flags[i]);
        fakedriver::SetFlagRaw(flags[i], 1); // only this flag set, and as 1 rather than -1
        for (std::size_t j = 0; j < std::size(flags); ++j)
            EXPECT_EQ(reads[j](*FScale), i == j) << flags[j];
        fakedriver::SetFlagRaw(flags[i], 0);
    }
}

// ---------------------------------------------------------------- the result check
TEST_F(ScaleXTest, ResultCheckReadsCodeDescriptionCodeAndRaises)
{
    fakedriver::SetLong("ResultCode", 5);
    fakedriver::SetTextUtf8("ResultDescription", "Устройство не включено");
    try {
        FScale->SetLockDevices(true);
        FAIL() << "no EScaleError";
    } catch (const EScaleError& e) {
        EXPECT_EQ(e.ResultCode(), 5);
        EXPECT_EQ(e.Message(), "Устройство не включено");
    }
    EXPECT_EQ(CallTexts(), (Texts{"put LockDevices -1", "get ResultCode", "get ResultDescription", "get ResultCode"}));
}

TEST_F(ScaleXTest, ResultCheckRaisesWithTheSecondCode)
{
    fakedriver::SetLong("ResultCode", 5);
    fakedriver::OnCall("ResultDescription", [] { fakedriver::SetLong("ResultCode", 6); });
    try {
        FScale->Zero();
        FAIL() << "no EScaleError";
    } catch (const EScaleError& e) {
        EXPECT_EQ(e.ResultCode(), 6);
    }
}

TEST_F(ScaleXTest, ZeroCodeWithDescriptionRaisesNothingAnywhere)
{
    fakedriver::SetTextUtf8("ResultDescription", "Ошибок нет");
    for (const auto& op : AllOperations()) {
        SCOPED_TRACE(op.Call);
        EXPECT_NO_THROW(op.Run(*FScale));
    }
}

TEST_F(ScaleXTest, NonZeroCodeRaisesExactlyWhereTheCheckRuns)
{
    fakedriver::SetLong("ResultCode", -3);
    fakedriver::SetTextUtf8("ResultDescription", "Нет связи");
    for (const auto& op : AllOperations()) {
        SCOPED_TRACE(op.Call);
        if (op.Checked) {
            EXPECT_THROW(op.Run(*FScale), EScaleError);
        } else {
            EXPECT_NO_THROW(op.Run(*FScale));
        }
    }
}

TEST_F(ScaleXTest, DriverVersionIsReadBeforeTheCheckRuns)
{
    fakedriver::SetTextUtf8("DriverVersion", "2.1.0.7");
    EXPECT_EQ(FScale->DriverVersion(), "2.1.0.7");
    fakedriver::SetLong("ResultCode", 1);
    fakedriver::ClearCalls();
    EXPECT_THROW(FScale->DriverVersion(), EScaleError);
    EXPECT_EQ(CallTexts(), (Texts{"get DriverVersion", "get ResultCode", "get ResultDescription", "get ResultCode"}));
}

TEST_F(ScaleXTest, AddDeviceReturnsItsResultOnlyWhenTheCheckPasses)
{
    fakedriver::SetLong("AddDevice", 12);
    EXPECT_EQ(FScale->AddDevice(), 12);
    fakedriver::ScriptResult("AddDevice", 9, "Список устройств заблокирован");
    try {
        (void)FScale->AddDevice();
        FAIL() << "no EScaleError";
    } catch (const EScaleError& e) {
        EXPECT_EQ(e.ResultCode(), 9);
        EXPECT_EQ(e.Message(), "Список устройств заблокирован");
    }
}

// ---------------------------------------------------------------- conversions
TEST_F(ScaleXTest, FlagsAreWrittenAsMinusOneAndZeroAndReadAsAnyNonZero)
{
    FScale->SetLockDevices(true);
    EXPECT_EQ(fakedriver::GetFlagRaw("LockDevices"), -1);
    FScale->SetLockDevices(false);
    EXPECT_EQ(fakedriver::GetFlagRaw("LockDevices"), 0);
    for (VARIANT_BOOL raw : {VARIANT_BOOL(1), VARIANT_BOOL(-1), VARIANT_BOOL(0x100), VARIANT_BOOL(0)}) {
        fakedriver::SetFlagRaw("NonStable", raw);
        EXPECT_EQ(FScale->NonStable(), raw != 0) << raw;
    }
}

TEST_F(ScaleXTest, MoneyPassesUnchangedBothWays)
{
    FScale->SetUnitPrice(125000);
    EXPECT_EQ(fakedriver::GetMoney("UnitPrice"), 125000);
    EXPECT_EQ(FScale->UnitPrice(), 125000);
    const std::int64_t extremes[] = {INT64_MIN, -1, INT64_MAX};
    for (std::int64_t money : extremes) {
        fakedriver::SetMoney("SalesPrice", money);
        EXPECT_EQ(FScale->SalesPrice(), money);
        FScale->SetUnitPrice(money);
        EXPECT_EQ(fakedriver::GetMoney("UnitPrice"), money);
    }
}

TEST_F(ScaleXTest, CyrillicTextSurvivesBothWays)
{
    FScale->SetCurrentDeviceName("Весы №1 «касса»");
    EXPECT_EQ(fakedriver::GetText("CurrentDeviceName"), u"Весы №1 «касса»");
    EXPECT_EQ(FScale->CurrentDeviceName(), "Весы №1 «касса»");
    fakedriver::SetText("ResultDescription", u"Вес не стабилен");
    EXPECT_EQ(FScale->ResultDescription(), "Вес не стабилен");
    FScale->SetCurrentDeviceName("");
    EXPECT_EQ(fakedriver::GetText("CurrentDeviceName"), u"");
}

TEST_F(ScaleXTest, DeviceNameIsHandedOverAsUtf16)
{
    using namespace std::string_literals;
    const std::u16string name = u"ВЕСЫ-\U0001F600\0x"s; // a surrogate pair and an embedded NUL stay
    ASSERT_EQ(name.size(), 9u);
    fakedriver::SetText("DeviceName", name);
    EXPECT_EQ(FScale->DeviceName(), name);
}

// ---------------------------------------------------------------- automation errors
class ScaleXErrorTest : public ScaleXTest {
protected:
    // Runs op, expects the automation error, returns it; the result check must not have run.
    runtime::EOleException Expect(const std::function<void()>& op, const std::string& call)
    {
        fakedriver::ClearCalls();
        try {
            op();
        } catch (const runtime::EOleException& e) {
            EXPECT_EQ(CallTexts(), Texts{call}) << "the result check ran after a failure status";
            return e;
        }
        ADD_FAILURE() << "no EOleException";
        return runtime::EOleException("", 0);
    }
};

TEST_F(ScaleXErrorTest, MessageIsTheComponentsDescriptionTrimmed)
{
    fakedriver::SetLong("ResultCode", 4); // must not be looked at
    fakedriver::ScriptFailure("Weight", E_FAIL, "Нет связи с весами. \r\n");
    auto e = Expect([&] { (void)FScale->Weight(); }, "get Weight");
    EXPECT_EQ(e.Message(), "Нет связи с весами");
    EXPECT_EQ(e.ErrorCode(), E_FAIL);

    fakedriver::ScriptFailure("Tare", E_FAIL, "Ошибка...\t");
    EXPECT_EQ(Expect([&] { FScale->Tare(); }, "call Tare").Message(), "Ошибка");
}

TEST_F(ScaleXErrorTest, WithoutErrorInfoTheMessageIsTheSystemText)
{
    std::string system;
    ASSERT_TRUE(platform::StatusText(E_INVALIDARG, system));
    while (!system.empty() && (system.back() == '.' || static_cast<unsigned char>(system.back()) <= ' '))
        system.pop_back();
    ASSERT_FALSE(system.empty());
    fakedriver::ScriptFailure("CurrentDeviceName", E_INVALIDARG);
    auto e = Expect([&] { FScale->SetCurrentDeviceName("Весы"); }, "put CurrentDeviceName \"Весы\"");
    EXPECT_EQ(e.Message(), system);
    EXPECT_EQ(e.ErrorCode(), E_INVALIDARG);
}

TEST_F(ScaleXErrorTest, UnknownStatusWithoutErrorInfoIsOleErrorInHex)
{
    const HRESULT status = static_cast<HRESULT>(0x80041234);
    std::string unused;
    ASSERT_FALSE(platform::StatusText(status, unused));
    fakedriver::ScriptFailure("ReadWeight", status);
    auto e = Expect([&] { FScale->ReadWeight(); }, "call ReadWeight");
    EXPECT_EQ(e.Message(), "OLE error 80041234");
    EXPECT_EQ(e.ErrorCode(), status);
}

TEST_F(ScaleXErrorTest, ErrorInfoLeftOverFromAnEarlierFailureIsNotTaken)
{
    // A failure whose error info nobody fetched...
    fakedriver::ScriptFailure("Zero", E_FAIL, "Старая ошибка", true);
    LONG unused = 0;
    EXPECT_EQ(FDriver->Zero(&unused), E_FAIL);
    // ...must not become the text of the next failure, which attached none.
    fakedriver::ScriptFailure("Tare", static_cast<HRESULT>(0x80041234));
    EXPECT_EQ(Expect([&] { FScale->Tare(); }, "call Tare").Message(), "OLE error 80041234");
}

TEST_F(ScaleXErrorTest, AFailureOnceLeavesTheNextCallWorking)
{
    fakedriver::ScriptFailure("UnitPrice", E_FAIL, "Сбой", true);
    Expect([&] { FScale->SetUnitPrice(1); }, "put UnitPrice 1");
    EXPECT_EQ(fakedriver::GetMoney("UnitPrice"), 0) << "a failed write stored its value";
    FScale->SetUnitPrice(2);
    EXPECT_EQ(fakedriver::GetMoney("UnitPrice"), 2);
}
