// Trutina.dll as the program meets it: created through CoCreateInstance from the class registry,
// called through the program's own TScaleX, with scripted loads on the module's hand-moved clock.
#include "platform/bstr.h"
#include "platform/classregistry.h"
#include "platform/comptr.h"
#include "SimulatorEnvironment.h"

#include "driver/ScaleX.h"
#include "runtime/utf.h"
#include "simulator/ResultCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <cmath>
#include <functional>
#include <fstream>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include "TestEnv.h"

using trutina::TResult;

namespace {

// Nine devices on ports of their own, each showing one condition of the scales through its load
// profile, and a tenth on the first one's port.
const char* const ConditionsSettings = R"({
  "devices": [
    {"number": 1, "name": "Весы 1", "enabled": true, "priceRounding": 0.01},
    {"number": 2, "name": "Выключенные", "enabled": false, "port": 2},
    {"number": 3, "name": "Без связи", "enabled": true, "port": 3, "loadProfile": "cut"},
    {"number": 4, "name": "Перегруз", "enabled": true, "port": 4, "loadProfile": "heavy"},
    {"number": 5, "name": "Качаются", "enabled": true, "port": 5, "loadProfile": "swing"},
    {"number": 6, "name": "Полкило", "enabled": true, "port": 6, "loadProfile": "half"},
    {"number": 7, "name": "Разгрузка", "enabled": true, "port": 7, "loadProfile": "unload"},
    {"number": 8, "name": "Медленные", "enabled": true, "port": 8, "loadProfile": "slow"},
    {"number": 9, "name": "Отказ взвешивания", "enabled": true, "port": 9, "loadProfile": "aimed"},
    {"number": 10, "name": "На порту первых", "enabled": false}
  ],
  "loadProfiles": {
    "cut": {"steps": [{"at": 0, "load": 0, "disconnected": true}]},
    "heavy": {"steps": [{"at": 0, "load": 16}]},
    "swing": {"steps": [{"at": 0, "load": 1, "unstable": true}]},
    "half": {"steps": [{"at": 0, "load": 0.5}]},
    "unload": {"steps": [{"at": 0, "load": 0.25}, {"at": 5000, "load": 0}]},
    "slow": {"steps": [{"at": 0, "load": 0, "delayMs": 100}]},
    "aimed": {"steps": [{"at": 0, "load": 0.5, "refuse": -10, "refuseOperations": ["ReadWeight"]}]}
  }
})";

// Everything a refusal must leave as it was.
struct TSnapshot {
    std::string File;
    std::int32_t Count, Index, Number, Port, Baud, Parity, Model, Purpose, Value, Polling, DataCount;
    std::string Name;
    bool Enabled, Locked, Async;
    std::int64_t Price;
    double Tare, Weight, Step;
    bool operator==(const TSnapshot&) const = default;
};

TSnapshot Snapshot(const TSimulatorEnvironment& env, TScaleX& s)
{
    return {env.ReadSettings(), s.DeviceCount(), s.CurrentDeviceIndex(), s.CurrentDeviceNumber(), s.PortNumber(),
            s.BaudRate(), s.Parity(), s.Model(), s.ValuePurpose(), s.Value(), s.PollingInterval(), s.DataCount(),
            s.CurrentDeviceName(), s.DeviceEnabled(), s.LockDevices(), s.AsyncMode(), s.UnitPrice(),
            s.TareWeight(), s.Weight(), s.WeightStep()};
}

// Calls a member without a wrapper operation, then checks the result as the wrapper would.
void Checked(TScaleX& scale, const std::function<HRESULT()>& call)
{
    ASSERT_EQ(call(), S_OK);
    if (const std::int32_t code = scale.ResultCode())
        throw EScaleError(code, scale.ResultDescription());
}

struct TRefusalCase {
    const char* Name;
    TResult Code;
    std::function<void(const TSimulatorEnvironment&, TScaleX&, ITrutina*)> Prepare;
    std::function<void(TScaleX&, ITrutina*)> Act;
};

void Nothing(const TSimulatorEnvironment&, TScaleX&, ITrutina*) {}

auto Select(std::int32_t number, long long settleMs = 0)
{
    return [=](const TSimulatorEnvironment& env, TScaleX& s, ITrutina*) {
        s.SetCurrentDeviceNumber(number);
        s.ReadWeight(); // the device's load profile starts when its scales are first addressed
        env.AdvanceClock(settleMs);
    };
}

const TRefusalCase RefusalCases[] = {
    {"ReadWeightOnASwitchedOffDevice", TResult::DeviceNotEnabled,
     [](auto&, TScaleX& s, ITrutina*) { s.SetCurrentDeviceNumber(2); }, [](TScaleX& s, ITrutina*) { s.ReadWeight(); }},
    {"ZeroWithTheCableCut", TResult::NoConnection, [](auto&, TScaleX& s, ITrutina*) { s.SetCurrentDeviceNumber(3); },
     [](TScaleX& s, ITrutina*) { s.Zero(); }},
    {"DeviceMetricsWithTheCableCut", TResult::NoConnection,
     [](auto&, TScaleX& s, ITrutina*) { s.SetCurrentDeviceNumber(3); },
     [](TScaleX& s, ITrutina*) { s.GetDeviceMetrics(); }},
    {"BaudRateCode6", TResult::InvalidParameter, Nothing, [](TScaleX& s, ITrutina*) { s.SetBaudRate(6); }},
    {"ParityCode1", TResult::InvalidParameter, Nothing, [](TScaleX& s, ITrutina*) { s.SetParity(1); }},
    {"Model4", TResult::InvalidParameter, Nothing, [](TScaleX& s, ITrutina*) { s.SetModel(4); }},
    {"ValuePurpose5", TResult::InvalidParameter, Nothing, [](TScaleX& s, ITrutina*) { s.SetValuePurpose(5); }},
    {"PollingIntervalMinus1", TResult::InvalidParameter, Nothing,
     [](TScaleX& s, ITrutina*) { s.SetPollingInterval(-1); }},
    {"EmptyDeviceName", TResult::InvalidParameter, Nothing, [](TScaleX& s, ITrutina*) { s.SetCurrentDeviceName(""); }},
    {"DeviceNameOf65Characters", TResult::InvalidParameter, Nothing,
     [](TScaleX& s, ITrutina*) { s.SetCurrentDeviceName(std::string(65, 'x')); }},
    {"ProtocolType3Written", TResult::InvalidParameter,
     [](auto&, TScaleX& s, ITrutina*) {
         s.SetValuePurpose(0);
         s.SetValue(3);
     },
     [](TScaleX& s, ITrutina*) { s.WriteValue(); }},
    {"Port33", TResult::OutOfRange, Nothing, [](TScaleX& s, ITrutina*) { s.SetPortNumber(33); }},
    {"Port0", TResult::OutOfRange, Nothing, [](TScaleX& s, ITrutina*) { s.SetPortNumber(0); }},
    {"NegativeUnitPrice", TResult::OutOfRange, Nothing, [](TScaleX& s, ITrutina*) { s.SetUnitPrice(-1); }},
    {"UnitPriceInFractionsOfAKopeck", TResult::InvalidParameter, Nothing, // rounded to 0.01
     [](TScaleX& s, ITrutina*) { s.SetUnitPrice(12345); }},
    {"TareAboveCapacity", TResult::OutOfRange, Nothing, [](TScaleX& s, ITrutina*) { s.SetTareWeight(15.5); }},
    {"UnitPriceBeyondTheDisplay", TResult::OutOfRange, Nothing, // 9 999.99 on model 5
     [](TScaleX& s, ITrutina*) { s.SetUnitPrice(100'000'000); }},
    {"NegativeWeightStep", TResult::OutOfRange, Nothing, [](TScaleX& s, ITrutina*) { s.SetWeightStep(-0.001); }},
    {"Timeout10", TResult::OutOfRange, Nothing,
     [](TScaleX& s, ITrutina* d) { Checked(s, [&] { return d->put_Timeout(10); }); }},
    {"PortWhileLocked", TResult::DevicesLocked, [](auto&, TScaleX& s, ITrutina*) { s.SetLockDevices(true); },
     [](TScaleX& s, ITrutina*) { s.SetPortNumber(2); }},
    {"NameWhileLocked", TResult::DevicesLocked, [](auto&, TScaleX& s, ITrutina*) { s.SetLockDevices(true); },
     [](TScaleX& s, ITrutina*) { s.SetCurrentDeviceName("Склад"); }},
    {"AddWhileLocked", TResult::DevicesLocked, [](auto&, TScaleX& s, ITrutina*) { s.SetLockDevices(true); },
     [](TScaleX& s, ITrutina*) { s.AddDevice(); }},
    {"DeleteWhileLocked", TResult::DevicesLocked, [](auto&, TScaleX& s, ITrutina*) { s.SetLockDevices(true); },
     [](TScaleX& s, ITrutina*) { s.DeleteDevice(); }},
    {"DeviceIndex10", TResult::NoSuchDevice, Nothing, [](TScaleX& s, ITrutina*) { s.SetCurrentDeviceIndex(10); }},
    {"DeviceIndexMinus1", TResult::NoSuchDevice, Nothing, [](TScaleX& s, ITrutina*) { s.SetCurrentDeviceIndex(-1); }},
    {"DeviceNumber42", TResult::NoSuchDevice, Nothing, [](TScaleX& s, ITrutina*) { s.SetCurrentDeviceNumber(42); }},
    {"RenumberToATakenNumber", TResult::DeviceNumberInUse, Nothing,
     [](TScaleX& s, ITrutina* d) { Checked(s, [&] { return d->put_LogicalNumber(2); }); }},
    {"HundredthDevice", TResult::TooManyDevices,
     [](auto&, TScaleX& s, ITrutina*) {
         while (s.DeviceCount() < 99)
             s.AddDevice();
     },
     [](TScaleX& s, ITrutina*) { s.AddDevice(); }},
    {"DeleteTheOnlyDevice", TResult::LastDevice,
     [](auto&, TScaleX& s, ITrutina*) {
         while (s.DeviceCount() > 1)
             s.DeleteDevice();
     },
     [](TScaleX& s, ITrutina*) { s.DeleteDevice(); }},
    {"TareWhileSwinging", TResult::WeightNotStable, Select(5, 5000), [](TScaleX& s, ITrutina*) { s.Tare(); }},
    {"ZeroWhileSwinging", TResult::WeightNotStable, Select(5, 5000), [](TScaleX& s, ITrutina*) { s.Zero(); }},
    {"GenerateEventWhileSwinging", TResult::WeightNotStable, Select(5, 5000),
     [](TScaleX& s, ITrutina*) { s.GenerateEvent(); }},
    {"RefusalStepAtZeroHitsTheFirstReading", TResult::WeightNotStable,
     [](auto&, TScaleX& s, ITrutina*) { s.SetCurrentDeviceNumber(9); }, [](TScaleX& s, ITrutina*) { s.ReadWeight(); }},
    {"SwitchingOnADeviceOnAPortInUse", TResult::PortBusy,
     [](auto&, TScaleX& s, ITrutina*) {
         s.ReadWeight(); // device 1 opens port 1
         s.SetCurrentDeviceNumber(10);
     },
     [](TScaleX& s, ITrutina*) { s.SetDeviceEnabled(true); }},
    {"ReadSixteenKilograms", TResult::Overload, Select(4, 2000), [](TScaleX& s, ITrutina*) { s.ReadWeight(); }},
    {"GenerateEventOfSixteenKilograms", TResult::Overload, Select(4, 2000), [](TScaleX& s, ITrutina*) { s.GenerateEvent(); }},
    {"ZeroWithATareSet", TResult::TareSet,
     [](const TSimulatorEnvironment& env, TScaleX& s, ITrutina* d) {
         Select(6, 2000)(env, s, d);
         s.Tare();
     },
     [](TScaleX& s, ITrutina*) { s.Zero(); }},
    {"ReadingSlowerThanTheTimeout", TResult::AnswerTimeout,
     [](const TSimulatorEnvironment& env, TScaleX& s, ITrutina* d) {
         Select(8)(env, s, d); // answered within the default Timeout
         d->put_Timeout(50);
     },
     [](TScaleX& s, ITrutina*) { s.ReadWeight(); }},
    {"WeighingAimedAtAfterThePriceIsWritten", TResult::WeightNotStable,
     [](auto&, TScaleX& s, ITrutina* d) {
         s.SetCurrentDeviceNumber(9);
         VARIANT_BOOL connected = VARIANT_FALSE;
         d->get_Connected(&connected); // the scales are addressed: the profile starts
         s.SetUnitPrice(10000); // not aimed at
     },
     [](TScaleX& s, ITrutina*) { s.ReadWeight(); }},
    {"TareSixteenKilograms", TResult::Overload, Select(4, 2000), [](TScaleX& s, ITrutina*) { s.Tare(); }},
    {"ReadBelowTheZeroSet", TResult::WeightOutOfRange,
     [](const TSimulatorEnvironment& env, TScaleX& s, ITrutina* d) {
         Select(7, 1000)(env, s, d);
         s.Zero();
         env.AdvanceClock(5000);
     },
     [](TScaleX& s, ITrutina*) { s.ReadWeight(); }},
    {"ZeroHalfAKilogram", TResult::ZeroOutOfRange, Select(6, 2000), [](TScaleX& s, ITrutina*) { s.Zero(); }},
    {"DeleteEventWithoutMessages", TResult::NoMessages, Nothing, [](TScaleX& s, ITrutina*) { s.DeleteEvent(); }},
    {"EventNumberNotQueued", TResult::NoSuchMessage,
     [](auto&, TScaleX& s, ITrutina*) { s.GenerateEvent(); },
     [](TScaleX& s, ITrutina* d) { Checked(s, [&] { return d->put_EventNumber(7); }); }},
    {"HundredAndFirstMessage", TResult::QueueFull,
     [](auto&, TScaleX& s, ITrutina*) {
         for (int i = 0; i < 100; ++i)
             s.GenerateEvent();
     },
     [](TScaleX& s, ITrutina*) { s.GenerateEvent(); }},
    {"PropertiesWithoutAGui", TResult::NoGui, Nothing, [](TScaleX& s, ITrutina*) { s.ShowProperties(); }},
};

class RefusalTest : public testing::TestWithParam<TRefusalCase> {};

TEST_P(RefusalTest, GivesItsCodeAndTextAndChangesNothing)
{
    const TRefusalCase& c = GetParam();
    TSimulatorEnvironment env;
    env.WriteSettings(ConditionsSettings);
    auto driver = env.Create();
    ASSERT_TRUE(driver);
    TScaleX scale(driver.Get());
    c.Prepare(env, scale, driver.Get());
    ASSERT_EQ(scale.ResultCode(), 0) << runtime::Utf16ToUtf8(runtime::Utf8ToUtf16(scale.ResultDescription()));
    const TSnapshot before = Snapshot(env, scale);
    try {
        c.Act(scale, driver.Get());
        FAIL() << "the driver took it";
    } catch (const EScaleError& e) {
        EXPECT_EQ(e.ResultCode(), static_cast<std::int32_t>(c.Code));
        EXPECT_EQ(e.Message(), trutina::ResultDescription(c.Code));
    }
    EXPECT_TRUE(Snapshot(env, scale) == before);
    // No answer from the scales: Connected says so until they answer again.
    if (c.Code == TResult::NoConnection || c.Code == TResult::AnswerTimeout) {
        VARIANT_BOOL connected = VARIANT_TRUE;
        driver->get_Connected(&connected);
        EXPECT_EQ(connected, VARIANT_FALSE);
    }
    // The refusal stays readable until the next operation (one that does not ask the scales).
    EXPECT_EQ(scale.ResultCode(), static_cast<std::int32_t>(c.Code));
    scale.SetValuePurpose(0);
    EXPECT_EQ(scale.ResultCode(), 0);
    EXPECT_EQ(scale.ResultDescription(), "Ошибок нет");
}

INSTANTIATE_TEST_SUITE_P(EveryRefusal, RefusalTest, testing::ValuesIn(RefusalCases),
                         [](const testing::TestParamInfo<TRefusalCase>& info) { return std::string(info.param.Name); });

TEST(CodeTableTest, EveryRefusalOfTheTableIsReachedThroughTheInterface)
{
    // Codes the refusal cases above cannot show: notices and the dialog's own refusal, which
    // StateraNoticeTest, the driver model tests and the dialog test reach.
    const TResult elsewhere[] = {TResult::MessagesLost, TResult::SettingsDamaged, TResult::SettingsNotSaved,
                                 TResult::DialogOpen, TResult::SettingsRefused, TResult::SettingsLocked};
    for (const auto& row : trutina::ResultTable()) {
        if (row.Code == TResult::Ok || std::find(std::begin(elsewhere), std::end(elsewhere), row.Code) != std::end(elsewhere))
            continue;
        const bool covered = std::any_of(std::begin(RefusalCases), std::end(RefusalCases),
                                         [&](const TRefusalCase& c) { return c.Code == row.Code; });
        EXPECT_TRUE(covered) << "code " << static_cast<int>(row.Code) << " has no refusal case";
    }
}

// ------------------------------------------------------------------ logical devices

TEST(StateraDevicesTest, AddSelectRenameEditDeleteAndFindThemAgainInANewInstance)
{
    TSimulatorEnvironment env;
    {
        auto driver = env.Create();
        TScaleX scale(driver.Get());
        EXPECT_EQ(scale.DeviceCount(), 1); // no file: one default device
        EXPECT_EQ(scale.CurrentDeviceName(), "Весы 1");
        EXPECT_EQ(scale.AddDevice(), 2);
        EXPECT_EQ(scale.CurrentDeviceNumber(), 2);
        EXPECT_EQ(scale.CurrentDeviceIndex(), 1);
        scale.SetCurrentDeviceName("Весы «Фасовка»");
        scale.SetPortNumber(32);
        scale.SetBaudRate(18);
        scale.SetParity(2);
        scale.SetModel(11);
        scale.SetDeviceEnabled(true);
        EXPECT_EQ(scale.AddDevice(), 3);
        scale.SetCurrentDeviceName("Третьи");
        scale.SetCurrentDeviceIndex(0);
        scale.SetCurrentDeviceName("Первые");
        scale.SetCurrentDeviceNumber(3);
        scale.DeleteDevice();
        EXPECT_EQ(scale.DeviceCount(), 2);
        EXPECT_EQ(scale.CurrentDeviceNumber(), 2); // the last one when the deleted one was last
        scale.SetCurrentDeviceNumber(1);
        scale.SetWeightStep(0.05);
        scale.SetPollingInterval(3);
        scale.SetLockDevices(true);
    }
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    EXPECT_EQ(scale.DeviceCount(), 2);
    EXPECT_EQ(scale.CurrentDeviceNumber(), 1);
    EXPECT_EQ(scale.CurrentDeviceName(), "Первые");
    EXPECT_TRUE(scale.LockDevices());
    EXPECT_EQ(scale.PollingInterval(), 3);
    EXPECT_EQ(scale.WeightStep(), 0.05);
    scale.SetCurrentDeviceIndex(1);
    EXPECT_EQ(scale.CurrentDeviceNumber(), 2);
    EXPECT_EQ(scale.CurrentDeviceName(), "Весы «Фасовка»");
    EXPECT_EQ(scale.PortNumber(), 32);
    EXPECT_EQ(scale.BaudRate(), 18);
    EXPECT_EQ(scale.Parity(), 2);
    EXPECT_EQ(scale.Model(), 11);
    EXPECT_TRUE(scale.DeviceEnabled());
}

TEST(StateraDevicesTest, DeletingInTheMiddleMakesTheNextDeviceCurrent)
{
    TSimulatorEnvironment env;
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    scale.AddDevice();
    scale.AddDevice();
    scale.SetCurrentDeviceIndex(1);
    scale.DeleteDevice();
    EXPECT_EQ(scale.CurrentDeviceIndex(), 1);
    EXPECT_EQ(scale.CurrentDeviceNumber(), 3);
}

// ------------------------------------------------------------------ the settings file

TEST(StateraNoticeTest, DamagedSettingsAreKeptAsideReportedOnceAndDefaultsUsed)
{
    TSimulatorEnvironment env;
    env.WriteSettings("{\"devices\": [{\"number\": 1, \"name\": \"оборвано");
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    EXPECT_EQ(scale.DeviceCount(), 1);
    EXPECT_EQ(scale.CurrentDeviceName(), "Весы 1");
    try {
        scale.SetUnitPrice(10000);
        FAIL() << "the damaged file was not reported";
    } catch (const EScaleError& e) {
        EXPECT_EQ(e.ResultCode(), static_cast<std::int32_t>(TResult::SettingsDamaged));
        EXPECT_NE(e.Message().find(trutina::ResultDescription(TResult::SettingsDamaged)), std::string::npos);
        EXPECT_NE(e.Message().find("trutina.json.damaged-"), std::string::npos);
    }
    EXPECT_EQ(scale.UnitPrice(), 10000); // the operation itself was done
    scale.SetUnitPrice(20000);           // reported once
    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(env.Folder()))
        if (entry.path().filename().string().rfind("trutina.json.damaged-", 0) == 0) {
            ++aside;
            std::ifstream in(entry.path());
            std::string text((std::istreambuf_iterator<char>(in)), {});
            EXPECT_EQ(text, "{\"devices\": [{\"number\": 1, \"name\": \"оборвано");
        }
    EXPECT_EQ(aside, 1);
    // A new instance finds good settings and nothing to report.
    auto again = env.Create();
    TScaleX scale2(again.Get());
    EXPECT_NO_THROW(scale2.SetUnitPrice(0));
}

TEST(StateraNoticeTest, DamageFoundByAnInstanceThatMakesNoCallIsReportedByTheNextOne)
{
    TSimulatorEnvironment env;
    env.WriteSettings("not json at all");
    env.Create().Reset(); // the registration check's instance: created and released
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    EXPECT_THROW(scale.SetParity(2), EScaleError);
    EXPECT_EQ(scale.ResultCode(), static_cast<std::int32_t>(TResult::SettingsDamaged));
}

// Numbers beyond the double range or beyond what the driver takes: the file is damaged like any
// other, and the object is still created.
TEST(StateraNoticeTest, SettingsWithNumbersOutOfRangeArePutAsideAndTheObjectStillCreated)
{
    for (const char* json : {R"({"weightStep": 1e400})", R"({"devices": [{"number": 1, "port": -1e999}]})",
                             R"({"devices": [{"number": 1, "model": 3, "enabled": true, "loadProfile": "p"}],
                                 "loadProfiles": {"p": {"steps": [{"at": 0, "load": 1e300}]}}})"}) {
        SCOPED_TRACE(json);
        TSimulatorEnvironment env;
        env.WriteSettings(json);
        auto driver = env.Create();
        TScaleX scale(driver.Get());
        EXPECT_THROW(scale.SetUnitPrice(0), EScaleError);
        EXPECT_EQ(scale.ResultCode(), static_cast<std::int32_t>(TResult::SettingsDamaged));
        EXPECT_EQ(scale.DeviceCount(), 1);
    }
}

// A settings path that names a folder is never moved or replaced: the object works on the
// defaults, says why once, and each change says that it was not saved.
TEST(StateraNoticeTest, ASettingsPathThatIsAFolderIsRefusedAndLeftAsItIs)
{
    TSimulatorEnvironment env;
    std::filesystem::create_directory(env.SettingsPath());
    std::ofstream(env.SettingsPath() + "/keep.txt") << "x";
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    EXPECT_EQ(scale.DeviceCount(), 1);
    try {
        scale.SetUnitPrice(10000);
        FAIL() << "the refused file was not reported";
    } catch (const EScaleError& e) {
        EXPECT_EQ(e.ResultCode(), static_cast<std::int32_t>(TResult::SettingsRefused));
        EXPECT_NE(e.Message().find("trutina.json: это не обычный файл"), std::string::npos) << e.Message();
    }
    EXPECT_THROW(scale.SetPortNumber(5), EScaleError);
    EXPECT_EQ(scale.ResultCode(), static_cast<std::int32_t>(TResult::SettingsNotSaved));
    EXPECT_EQ(scale.PortNumber(), 5);
    EXPECT_NO_THROW(scale.SetUnitPrice(0)); // reported once
    EXPECT_TRUE(std::filesystem::is_directory(env.SettingsPath()));
    for (const auto& entry : std::filesystem::directory_iterator(env.Folder()))
        EXPECT_EQ(entry.path().filename().string().rfind("trutina.json.", 0), std::string::npos) << "no copy, no temporary";
    EXPECT_TRUE(std::filesystem::is_regular_file(env.SettingsPath() + "/keep.txt"));
}

TEST(StateraNoticeTest, UnwritableSettingsKeepTheChangeForTheRunAndSaySo)
{
    TSimulatorEnvironment env;
    std::ofstream(env.Folder() + "/file") << "x";
    testenv::SetVariable("TRUTINA_SETTINGS", env.Folder() + "/file/trutina.json");
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    try {
        scale.SetPortNumber(5);
        FAIL() << "the failed write was not reported";
    } catch (const EScaleError& e) {
        EXPECT_EQ(e.ResultCode(), static_cast<std::int32_t>(TResult::SettingsNotSaved));
    }
    EXPECT_EQ(scale.PortNumber(), 5);
}

// ------------------------------------------------------------------ weighing

TEST(StateraWeighingTest, TareNetNegativeUnstableAndOverloadFollowTheScriptedLoad)
{
    TSimulatorEnvironment env;
    env.WriteSettings(R"({"devices": [{"number": 1, "enabled": true, "loadProfile": "counter"}],
      "loadProfiles": {"counter": {"steps": [
        {"at": 0, "load": 0}, {"at": 1000, "load": 0.5}, {"at": 3000, "load": 2.0},
        {"at": 5000, "load": 2.0, "unstable": true}, {"at": 6000, "load": 0}, {"at": 8000, "load": 16}]}}})");
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    scale.SetUnitPrice(125000); // 12.50
    scale.ReadWeight();         // t = 0: the profile starts
    EXPECT_EQ(scale.Weight(), 0.0);
    EXPECT_TRUE(scale.ZeroScaleWeight());

    env.AdvanceClock(2000); // the container, settled
    scale.ReadWeight();
    EXPECT_EQ(scale.Weight(), 0.5);
    EXPECT_FALSE(scale.NonStable());
    scale.Tare();
    EXPECT_EQ(scale.TareWeight(), 0.5);
    EXPECT_TRUE(scale.NettoWeight());
    EXPECT_EQ(scale.Weight(), 0.0);

    env.AdvanceClock(2000); // goods in the container
    scale.ReadWeight();
    EXPECT_EQ(scale.Weight(), 1.5);
    EXPECT_EQ(scale.SalesPrice(), 187500); // 1.5 kg x 12.50 = 18.75

    env.AdvanceClock(1500); // someone leans on it
    scale.ReadWeight();
    EXPECT_TRUE(scale.NonStable());
    EXPECT_THROW(scale.Tare(), EScaleError);
    EXPECT_EQ(scale.TareWeight(), 0.5);

    env.AdvanceClock(1500); // everything taken off, the tare stays
    scale.ReadWeight();
    EXPECT_EQ(scale.Weight(), -0.5);
    EXPECT_TRUE(scale.NegWeight());
    EXPECT_FALSE(scale.NonStable());
    EXPECT_EQ(scale.SalesPrice(), 0);

    env.AdvanceClock(2000); // 16 kg on 15 kg scales
    EXPECT_THROW(scale.ReadWeight(), EScaleError);
    EXPECT_EQ(scale.ResultCode(), static_cast<std::int32_t>(TResult::Overload));
    EXPECT_TRUE(scale.BigWeight());
    EXPECT_EQ(scale.Weight(), -0.5); // the last good weight

    scale.Reset();
    EXPECT_EQ(scale.TareWeight(), 0.0);
    EXPECT_FALSE(scale.NettoWeight());
    scale.SetTareWeight(-0.0);
    EXPECT_FALSE(std::signbit(scale.TareWeight()));
}

TEST(StateraWeighingTest, ZeroInsideItsRangeAndOutOfZeroOutside)
{
    TSimulatorEnvironment env;
    env.WriteSettings(R"({"devices": [{"number": 1, "enabled": true, "loadProfile": "p"}],
      "loadProfiles": {"p": {"steps": [{"at": 0, "load": 0.2}, {"at": 2000, "load": 0.6}]}}})");
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    scale.ReadWeight();
    env.AdvanceClock(1000);
    scale.Zero();
    EXPECT_EQ(scale.Weight(), 0.0);
    EXPECT_FALSE(scale.OutOfZero());
    env.AdvanceClock(2000);
    scale.ReadWeight();
    EXPECT_EQ(scale.Weight(), 0.4);
    EXPECT_THROW(scale.Zero(), EScaleError);
    EXPECT_TRUE(scale.OutOfZero());
    EXPECT_FALSE(scale.InvalidRange());
}

TEST(StateraWeighingTest, CostIsWeightTimesUnitPriceRoundedOnlyWhileUpdatingPrices)
{
    TSimulatorEnvironment env;
    env.WriteSettings(R"({"devices": [{"number": 1, "enabled": true, "model": 3, "loadProfile": "p", "priceRounding": 0.0001}],
      "loadProfiles": {"p": {"steps": [{"at": 0, "load": 1.237}]}}})");
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    scale.ReadWeight();
    env.AdvanceClock(1000);
    scale.ReadWeight();
    ASSERT_EQ(scale.Weight(), 1.237);
    struct Row {
        std::int64_t Price, Cost;
    };
    // 1.237 x 0.9999 = 1.2368763 -> 1.2369; x 12.3457 = 15.2716309 -> 15.2716; x 0.0004 = 0.0004948 -> 0.0005
    for (const Row& row : {Row{9999, 12369}, Row{123457, 152716}, Row{4, 5}, Row{0, 0}}) {
        scale.SetUnitPrice(row.Price);
        EXPECT_EQ(scale.SalesPrice(), row.Cost) << row.Price;
    }
    scale.SetUnitPrice(9999);
    scale.SetUpdatePrice(false);
    EXPECT_EQ(scale.SalesPrice(), 0);
}

TEST(StateraWeighingTest, DeviceReportAndParametersAnswerForTheCurrentModel)
{
    TSimulatorEnvironment env;
    env.WriteSettings(R"({"devices": [{"number": 1, "enabled": true, "model": 11}]})");
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    EXPECT_EQ(scale.DeviceModel(), 0); // nothing reported yet
    scale.GetDeviceMetrics();
    EXPECT_EQ(scale.DeviceModel(), 11);
    EXPECT_EQ(scale.CodePage(), 1251);
    EXPECT_EQ(scale.DeviceName(), u"Весы Ортикс-11");
    EXPECT_GT(scale.ProtocolVersion(), 0);
    EXPECT_GT(scale.SoftwareBuild(), 0);
    EXPECT_EQ(scale.OperatingMode(), 0);
    scale.SetValuePurpose(2); // sleep mode
    scale.SetValue(15);
    scale.WriteValue();
    scale.SetValue(0);
    scale.ReadValue();
    EXPECT_EQ(scale.Value(), 15);
    scale.GetDeviceMetrics();
    EXPECT_EQ(scale.OperatingMode(), 1);
    EXPECT_EQ(scale.DriverVersion(), PROJECT_VERSION);
}

// ------------------------------------------------------------------ faults of the weighing model

// Settings with device 1 switched on, the given model and a profile of the given steps.
std::string OneDevice(int model, const std::string& steps)
{
    return R"({"devices": [{"number": 1, "enabled": true, "model": )" + std::to_string(model) +
           R"(, "loadProfile": "p"}], "loadProfiles": {"p": {"steps": [)" + steps + "]}}}";
}

// 0.4 kg put on 2 g every two seconds, each step settled and read: tracking takes the zero no farther
// than the zero range (0.3 kg on model 5), so the platform shows what lies beyond it.
TEST(StateraModelTest, ZeroTrackingStaysWithinTheZeroRange)
{
    std::string steps;
    for (int i = 0; i <= 200; ++i)
        steps += (i ? ", " : "") + std::string(R"({"at": )") + std::to_string(i * 2000) + R"(, "load": )" +
                 std::to_string(i * 0.002) + "}";
    TSimulatorEnvironment env;
    env.WriteSettings(OneDevice(5, steps));
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    scale.ReadWeight(); // the profile starts
    for (int i = 0; i <= 200; ++i) {
        env.AdvanceClock(1000); // each step settled
        scale.ReadWeight();
        env.AdvanceClock(1000);
    }
    scale.ReadWeight();
    EXPECT_EQ(scale.Weight(), 0.1);
    EXPECT_FALSE(scale.NonStable());
}

// The platform owns the tare: a restart by a change of model clears what TareWeight reads.
TEST(StateraModelTest, AChangeOfModelClearsTheTareTareWeightReads)
{
    TSimulatorEnvironment env;
    env.WriteSettings(OneDevice(5, R"({"at": 0, "load": 1.0})"));
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    scale.ReadWeight();
    env.AdvanceClock(1000);
    scale.Tare();
    ASSERT_EQ(scale.TareWeight(), 1.0);
    ASSERT_TRUE(scale.NettoWeight());
    scale.SetModel(3);
    EXPECT_EQ(scale.TareWeight(), 0.0);
    env.AdvanceClock(1000);
    scale.ReadWeight();
    EXPECT_FALSE(scale.NettoWeight());
    EXPECT_EQ(scale.Weight(), 1.0);
    EXPECT_EQ(scale.TareWeight(), 0.0);
}

// Tare and writing TareWeight share one limit: the capacity.
TEST(StateraModelTest, TareAndTareWeightRefuseTheSameTaresAboveCapacity)
{
    struct Row {
        const char* Load;
        double Kg;
        TResult Code;
    };
    for (const Row& row : {Row{"15.04", 15.04, TResult::OutOfRange}, Row{"15.0", 15.0, TResult::Ok}}) {
        SCOPED_TRACE(row.Load);
        TSimulatorEnvironment env;
        env.WriteSettings(OneDevice(5, std::string(R"({"at": 0, "load": )") + row.Load + "}"));
        auto driver = env.Create();
        LONG result = 0;
        driver->ReadWeight(&result);
        env.AdvanceClock(1000);
        driver->Tare(&result);
        EXPECT_EQ(result, static_cast<LONG>(row.Code));
        double tare = -1;
        driver->get_TareWeight(&tare);
        EXPECT_EQ(tare, row.Code == TResult::Ok ? row.Kg : 0.0);
        driver->put_TareWeight(row.Kg);
        driver->get_ResultCode(&result);
        EXPECT_EQ(result, static_cast<LONG>(row.Code));
    }
}

// Two objects over one settings file: each re-reads the file before it writes and writes only its
// own change, whichever of them was created first and whichever writes first.
TEST(StateraModelTest, TwoObjectsKeepEachOthersChanges)
{
    for (const bool addFirst : {true, false}) {
        SCOPED_TRACE(addFirst);
        TSimulatorEnvironment env;
        auto a = env.Create();
        auto b = env.Create();
        TScaleX adder(a.Get()), setter(b.Get());
        TScaleX& second = addFirst ? setter : adder;
        if (addFirst) {
            EXPECT_EQ(adder.AddDevice(), 2);
            setter.SetWeightStep(0.05);
        } else {
            setter.SetWeightStep(0.05);
            EXPECT_EQ(adder.AddDevice(), 2);
        }
        // The second writer took the first one's change over: it says so, once.
        EXPECT_EQ(second.ResultCode(), 0);
        EXPECT_NE(second.ResultDescription().find("изменены другим объектом или программой"), std::string::npos)
            << second.ResultDescription();
        second.SetUpdatePrice(true);
        EXPECT_EQ(second.ResultDescription(), "Ошибок нет");
        setter.SetCurrentDeviceName("Весы Б");
        auto c = env.Create();
        TScaleX check(c.Get());
        EXPECT_EQ(check.DeviceCount(), 2);
        EXPECT_EQ(check.WeightStep(), 0.05);
        check.SetCurrentDeviceNumber(1);
        EXPECT_EQ(check.CurrentDeviceName(), "Весы Б");
        check.SetCurrentDeviceNumber(2);
        EXPECT_EQ(check.CurrentDeviceName(), "Весы 2");
    }
}

// A device's profile runs from when the device is switched on; a step with a refusal refuses
// that many operations, whatever they are, from when it takes effect.
TEST(StateraProfileTest, RunsFromTheSwitchOnAndItsStepsRefuseOperations)
{
    TSimulatorEnvironment env;
    env.WriteSettings(R"({"devices": [{"number": 1, "enabled": false, "loadProfile": "p"}],
      "loadProfiles": {"p": {"steps": [{"at": 0, "load": 1.0}, {"at": 3000, "load": 1.0, "refuse": -1, "refuseCount": 2}]}}})");
    auto driver = env.Create();
    TScaleX scale(driver.Get());
    env.AdvanceClock(10000); // switched off: the profile waits
    scale.SetDeviceEnabled(true);
    scale.ReadWeight();
    EXPECT_TRUE(scale.NonStable());
    env.AdvanceClock(1000);
    scale.ReadWeight();
    EXPECT_EQ(scale.Weight(), 1.0);
    env.AdvanceClock(2000);
    for (const std::function<void()>& refused : std::initializer_list<std::function<void()>>{
             [&] { scale.ReadWeight(); }, [&] { scale.SetUnitPrice(100); }}) {
        EXPECT_THROW(refused(), EScaleError);
        EXPECT_EQ(scale.ResultCode(), static_cast<std::int32_t>(TResult::NoConnection));
        EXPECT_EQ(scale.ResultDescription(), trutina::ResultDescription(TResult::NoConnection));
        VARIANT_BOOL connected = VARIANT_TRUE;
        driver->get_Connected(&connected);
        EXPECT_EQ(connected, VARIANT_FALSE); // the refusal says the scales did not answer
    }
    EXPECT_EQ(scale.UnitPrice(), 0); // a refused operation does nothing
    EXPECT_NO_THROW(scale.SetUnitPrice(100));
    EXPECT_NO_THROW(scale.ReadWeight());
}

// ------------------------------------------------------------------ COM itself

TEST(StateraComTest, NullOutPointersFailWithEPointerAndErrorInfo)
{
    TSimulatorEnvironment env;
    auto driver = env.Create();
    EXPECT_EQ(driver->get_Weight(nullptr), E_POINTER);
    platform::ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Out()), S_OK);
    platform::BStr text;
    info->GetDescription(text.Out());
    EXPECT_FALSE(text.Text().empty());
    EXPECT_EQ(driver->get_ResultDescription(nullptr), E_POINTER);
    EXPECT_EQ(driver->ReadWeight(nullptr), E_POINTER);
    EXPECT_EQ(driver->AddDevice(nullptr), E_POINTER);
    LONG count = 0;
    driver->get_DeviceCount(&count);
    EXPECT_EQ(count, 1); // AddDevice did nothing
}

TEST(StateraComTest, MethodsReturnTheirResultCodeAndAddDeviceTheNewNumber)
{
    TSimulatorEnvironment env;
    auto driver = env.Create();
    LONG result = 0;
    ASSERT_EQ(driver->ReadWeight(&result), S_OK);
    EXPECT_EQ(result, static_cast<LONG>(TResult::DeviceNotEnabled)); // the default device is off
    ASSERT_EQ(driver->AddDevice(&result), S_OK);
    EXPECT_EQ(result, 2);
}

TEST(StateraComTest, MembersAnswerThroughIDispatchByDispatchId)
{
    TSimulatorEnvironment env;
    auto driver = env.Create();
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = 12;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&arg, &named, 1, 1};
    ASSERT_EQ(driver->Invoke(16, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    VARIANT value;
    VariantInit(&value);
    DISPPARAMS none{};
    ASSERT_EQ(driver->Invoke(16, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr), S_OK);
    EXPECT_EQ(value.vt, VT_I4);
    EXPECT_EQ(value.lVal, 12);
    arg.lVal = 33;
    ASSERT_EQ(driver->Invoke(60, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    LONG code = 0;
    driver->get_ResultCode(&code);
    EXPECT_EQ(code, 0);
    LONG number = 0;
    driver->get_CurrentDeviceNumber(&number);
    EXPECT_EQ(number, 33); // LogicalNumber renumbered the current device
}

TEST(StateraComTest, RegsvrRegistersTheModuleInTheClassRegistry)
{
    TSimulatorEnvironment env;
    ASSERT_EQ(platform::UnregisterInprocServer(CLSID_Statera), S_OK);
    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(CLSID_Statera, path), REGDB_E_CLASSNOTREG);
    // regsvr loads and unloads the module and with it Qt Core, which leaves 8 bytes of its load-time
    // initialisation behind (a bare dlopen/dlclose of libQt6Core shows the same): no leak check
    // for the child in sanitizer builds.
#ifdef _WIN32
    // The system's own regsvr32.
    const std::string module = std::filesystem::absolute(TRUTINA_MODULE_PATH).make_preferred().string();
    EXPECT_EQ(std::system(("regsvr32 /s \"" + module + "\"").c_str()), 0);
#else
    const std::string command = std::string("cd '") + std::filesystem::path(TRUTINA_MODULE_PATH).parent_path().string() +
                                "' && LSAN_OPTIONS=detect_leaks=0 '" + REGSVR_PATH + "' Trutina.dll > /dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
    ASSERT_EQ(platform::LookupInprocServer(CLSID_Statera, path), S_OK);
    EXPECT_EQ(std::filesystem::canonical(path), std::filesystem::canonical(TRUTINA_MODULE_PATH));
    EXPECT_TRUE(env.Create());
}

} // namespace
