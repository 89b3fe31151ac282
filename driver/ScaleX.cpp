#include "driver/ScaleX.h"

#include "driver/CallGuard.h"
#include "driver/MemberCalls.h"
#include "driver/OleError.h"
#include "platform/bstr.h"
#include "platform/comptr.h"
#include "runtime/utf.h"

#include <chrono>
#include <new>

TScaleX::TScaleX(ITrutina* driver, driver::TDriverProcess* process)
    : FDriver(platform::ComPtr<ITrutina>::Share(driver)), FProcess(process)
{
}

TScaleX::~TScaleX() = default;

// ---------------------------------------------------------------- the call path
template <typename TOperation, typename TTracedValue>
void TScaleX::Call(const char* Member, driver::TCallDirection Direction, TOperation&& Operation,
                   TTracedValue&& TracedValue)
{
    // Named to the watchdog and the last words while it runs.
    driver::TCallInProgress inProgress(Member, Direction);
    if (Direction == driver::TCallDirection::Write)
        inProgress.KeepArgument(TracedValue);
    // A driver whose process has ended is not called: traced or not, no call is made.
    if (FProcess)
        FProcess->RequireRunning(Member, Direction);
    if (driver::DriverCallTraceOn()) [[unlikely]] {
        TracedCall(Member, Direction, Operation, TracedValue);
        return;
    }
    driver::ClearErrorInfo();
    HRESULT status = FDriver ? Operation(FDriver.Get()) : E_POINTER;
    if (FAILED(status))
        RaiseCallFailure(Member, Direction, status);
}

template <typename TOperation, typename TTracedValue>
void TScaleX::TracedCall(const char* Member, driver::TCallDirection Direction, TOperation&& Operation,
                         TTracedValue&& TracedValue)
{
    using Clock = std::chrono::steady_clock;
    driver::ClearErrorInfo();
    driver::TDriverCall call;
    call.Member = Member;
    call.Direction = Direction;
    const Clock::time_point start = Clock::now();
    HRESULT status;
    try {
        status = FDriver ? Operation(FDriver.Get()) : E_POINTER;
    } catch (...) {
        // Out of the driver: reported as the failed call it is, then left to the program as ever.
        call.Duration = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start);
        call.Status = driver::EscapedExceptionStatus;
        call.StatusText = driver::EscapedExceptionText(std::current_exception());
        if (Direction == driver::TCallDirection::Write)
            call.Value = TracedValue();
        driver::ReportDriverCall(call);
        throw;
    }
    const Clock::time_point end = Clock::now();
    call.Status = status;
    call.Duration = std::chrono::duration_cast<std::chrono::nanoseconds>(end - start);
    if (SUCCEEDED(status) || Direction == driver::TCallDirection::Write)
        call.Value = TracedValue();
    if (SUCCEEDED(status)) {
        driver::ReportDriverCall(call);
        return;
    }
    // The failure's text is the one the raised error carries (its error info is read only once).
    try {
        RaiseCallFailure(Member, Direction, status);
    } catch (const runtime::EOleException& e) {
        call.StatusText = e.Message();
        driver::ReportDriverCall(call);
        throw;
    }
}

namespace {
using driver::TCallDirection;
}

std::int32_t TScaleX::ReadInteger(const char* Member, TGetter<LONG> Getter)
{
    LONG value = 0;
    Call(Member, TCallDirection::Read, [&](ITrutina* d) { return (d->*Getter)(&value); },
         [&] { return driver::ToCallValue(value); });
    return value;
}

bool TScaleX::ReadFlag(const char* Member, TGetter<VARIANT_BOOL> Getter)
{
    VARIANT_BOOL value = VARIANT_FALSE;
    Call(Member, TCallDirection::Read, [&](ITrutina* d) { return (d->*Getter)(&value); },
         [&] { return driver::ToCallValue(value); });
    return value != 0;
}

double TScaleX::ReadReal(const char* Member, TGetter<DOUBLE> Getter)
{
    DOUBLE value = 0;
    Call(Member, TCallDirection::Read, [&](ITrutina* d) { return (d->*Getter)(&value); },
         [&] { return driver::ToCallValue(value); });
    return value;
}

std::int64_t TScaleX::ReadMoney(const char* Member, TGetter<CY> Getter)
{
    CY value{};
    Call(Member, TCallDirection::Read, [&](ITrutina* d) { return (d->*Getter)(&value); },
         [&] { return driver::ToCallValue(value); });
    return value.int64;
}

std::u16string TScaleX::ReadText16(const char* Member, TGetter<BSTR> Getter)
{
    platform::BStr value; // freed on every path, also when the call fails
    Call(Member, TCallDirection::Read, [&](ITrutina* d) { return (d->*Getter)(value.Out()); },
         [&] { return driver::ToCallValue(value.Get()); });
    return value.Text();
}

std::string TScaleX::ReadText(const char* Member, TGetter<BSTR> Getter)
{
    return runtime::Utf16ToUtf8(ReadText16(Member, Getter));
}

template <typename T>
void TScaleX::Write(const char* Member, TPutter<T> Putter, T Value)
{
    Call(Member, TCallDirection::Write, [&](ITrutina* d) { return (d->*Putter)(Value); },
         [&] { return driver::ToCallValue(Value); });
    CheckResult();
}

void TScaleX::WriteText(const char* Member, TPutter<BSTR> Putter, const std::string& Value)
{
    platform::BStr text(runtime::Utf8ToUtf16(Value));
    if (!text.Get())
        throw std::bad_alloc();
    Write<BSTR>(Member, Putter, text.Get());
}

std::int32_t TScaleX::Execute(const char* Member, TMethod Method)
{
    LONG result = 0;
    Call(Member, TCallDirection::Call, [&](ITrutina* d) { return (d->*Method)(&result); },
         [&] { return driver::ToCallValue(result); });
    CheckResult();
    return result;
}

void TScaleX::RaiseCallFailure(const char* Member, driver::TCallDirection Direction, HRESULT status)
{
    if (FProcess)
        FProcess->CheckFailedCall(Member, Direction, status);
    driver::RaiseOleError(status);
}

void TScaleX::CheckResult()
{
    std::int32_t code = ResultCode();
    if (code == 0)
        return;
    std::string description = ResultDescription();
    code = ResultCode();
    throw EScaleError(code, std::move(description));
}

namespace {
VARIANT_BOOL ToFlag(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }
CY ToMoney(std::int64_t value)
{
    CY money;
    money.int64 = value;
    return money;
}
} // namespace

// ---------------------------------------------------------------- reads
std::int32_t TScaleX::ResultCode() { return ReadInteger("ResultCode", &ITrutina::get_ResultCode); }
std::string TScaleX::ResultDescription() { return ReadText("ResultDescription", &ITrutina::get_ResultDescription); }
std::string TScaleX::DriverVersion()
{
    std::string version = ReadText("DriverVersion", &ITrutina::get_DriverVersion);
    CheckResult();
    return version;
}
std::int32_t TScaleX::CurrentDeviceIndex() { return ReadInteger("CurrentDeviceIndex", &ITrutina::get_CurrentDeviceIndex); }
std::int32_t TScaleX::CurrentDeviceNumber() { return ReadInteger("CurrentDeviceNumber", &ITrutina::get_CurrentDeviceNumber); }
std::string TScaleX::CurrentDeviceName() { return ReadText("CurrentDeviceName", &ITrutina::get_CurrentDeviceName); }
std::int32_t TScaleX::DeviceCount() { return ReadInteger("DeviceCount", &ITrutina::get_DeviceCount); }
bool TScaleX::LockDevices() { return ReadFlag("LockDevices", &ITrutina::get_LockDevices); }
std::int32_t TScaleX::PollingInterval() { return ReadInteger("PollingInterval", &ITrutina::get_PollingInterval); }
std::int32_t TScaleX::EventNumber() { return ReadInteger("EventNumber", &ITrutina::get_EventNumber); }
std::int32_t TScaleX::DataCount() { return ReadInteger("DataCount", &ITrutina::get_DataCount); }
double TScaleX::WeightStep() { return ReadReal("WeightStep", &ITrutina::get_WeightStep); }
std::int32_t TScaleX::Model() { return ReadInteger("Model", &ITrutina::get_Model); }
bool TScaleX::AsyncMode() { return ReadFlag("AsyncMode", &ITrutina::get_AsyncMode); }
std::int32_t TScaleX::PortNumber() { return ReadInteger("PortNumber", &ITrutina::get_PortNumber); }
std::int32_t TScaleX::BaudRate() { return ReadInteger("BaudRate", &ITrutina::get_BaudRate); }
std::int32_t TScaleX::Parity() { return ReadInteger("Parity", &ITrutina::get_Parity); }
bool TScaleX::DeviceEnabled() { return ReadFlag("DeviceEnabled", &ITrutina::get_DeviceEnabled); }
std::int64_t TScaleX::UnitPrice() { return ReadMoney("UnitPrice", &ITrutina::get_UnitPrice); }
std::int64_t TScaleX::SalesPrice() { return ReadMoney("SalesPrice", &ITrutina::get_SalesPrice); }
double TScaleX::Weight() { return ReadReal("Weight", &ITrutina::get_Weight); }
double TScaleX::TareWeight() { return ReadReal("TareWeight", &ITrutina::get_TareWeight); }
bool TScaleX::NettoWeight() { return ReadFlag("NettoWeight", &ITrutina::get_NettoWeight); }
bool TScaleX::ZeroScaleWeight() { return ReadFlag("ZeroScaleWeight", &ITrutina::get_ZeroScaleWeight); }
bool TScaleX::OutOfZero() { return ReadFlag("OutOfZero", &ITrutina::get_OutOfZero); }
bool TScaleX::NegWeight() { return ReadFlag("NegWeight", &ITrutina::get_NegWeight); }
bool TScaleX::BigWeight() { return ReadFlag("BigWeight", &ITrutina::get_BigWeight); }
bool TScaleX::NonStable() { return ReadFlag("NonStable", &ITrutina::get_NonStable); }
std::int32_t TScaleX::Value() { return ReadInteger("Value", &ITrutina::get_Value); }
std::int32_t TScaleX::ValuePurpose() { return ReadInteger("ValuePurpose", &ITrutina::get_ValuePurpose); }
std::int32_t TScaleX::ProtocolVersion() { return ReadInteger("ProtocolVersion", &ITrutina::get_ProtocolVersion); }
std::int32_t TScaleX::DeviceType() { return ReadInteger("DeviceType", &ITrutina::get_DeviceType); }
std::int32_t TScaleX::DeviceModel() { return ReadInteger("DeviceModel", &ITrutina::get_DeviceModel); }
std::int32_t TScaleX::OperatingMode() { return ReadInteger("OperatingMode", &ITrutina::get_OperatingMode); }
std::int32_t TScaleX::SoftwareVersion() { return ReadInteger("SoftwareVersion", &ITrutina::get_SoftwareVersion); }
std::int32_t TScaleX::SoftwareSubVersion() { return ReadInteger("SoftwareSubVersion", &ITrutina::get_SoftwareSubVersion); }
std::u16string TScaleX::DeviceName() { return ReadText16("DeviceName", &ITrutina::get_DeviceName); }
std::int32_t TScaleX::CodePage() { return ReadInteger("CodePage", &ITrutina::get_CodePage); }
std::int32_t TScaleX::SoftwareBuild() { return ReadInteger("SoftwareBuild", &ITrutina::get_SoftwareBuild); }
bool TScaleX::UpdatePrice() { return ReadFlag("UpdatePrice", &ITrutina::get_UpdatePrice); }
bool TScaleX::InvalidRange() { return ReadFlag("InvalidRange", &ITrutina::get_InvalidRange); }
bool TScaleX::AutoDisable() { return ReadFlag("AutoDisable", &ITrutina::get_AutoDisable); }
bool TScaleX::DataEventEnabled() { return ReadFlag("DataEventEnabled", &ITrutina::get_DataEventEnabled); }

// ---------------------------------------------------------------- writes
void TScaleX::SetCurrentDeviceIndex(std::int32_t value) { Write<LONG>("CurrentDeviceIndex", &ITrutina::put_CurrentDeviceIndex, value); }
void TScaleX::SetCurrentDeviceNumber(std::int32_t value) { Write<LONG>("CurrentDeviceNumber", &ITrutina::put_CurrentDeviceNumber, value); }
void TScaleX::SetCurrentDeviceName(const std::string& value) { WriteText("CurrentDeviceName", &ITrutina::put_CurrentDeviceName, value); }
void TScaleX::SetLockDevices(bool value) { Write("LockDevices", &ITrutina::put_LockDevices, ToFlag(value)); }
void TScaleX::SetPollingInterval(std::int32_t value) { Write<LONG>("PollingInterval", &ITrutina::put_PollingInterval, value); }
void TScaleX::SetWeightStep(double value) { Write<DOUBLE>("WeightStep", &ITrutina::put_WeightStep, value); }
void TScaleX::SetModel(std::int32_t value) { Write<LONG>("Model", &ITrutina::put_Model, value); }
void TScaleX::SetAsyncMode(bool value) { Write("AsyncMode", &ITrutina::put_AsyncMode, ToFlag(value)); }
void TScaleX::SetPortNumber(std::int32_t value) { Write<LONG>("PortNumber", &ITrutina::put_PortNumber, value); }
void TScaleX::SetBaudRate(std::int32_t value) { Write<LONG>("BaudRate", &ITrutina::put_BaudRate, value); }
void TScaleX::SetParity(std::int32_t value) { Write<LONG>("Parity", &ITrutina::put_Parity, value); }
void TScaleX::SetDeviceEnabled(bool value) { Write("DeviceEnabled", &ITrutina::put_DeviceEnabled, ToFlag(value)); }
void TScaleX::SetUnitPrice(std::int64_t value) { Write("UnitPrice", &ITrutina::put_UnitPrice, ToMoney(value)); }
void TScaleX::SetTareWeight(double value) { Write<DOUBLE>("TareWeight", &ITrutina::put_TareWeight, value); }
void TScaleX::SetValue(std::int32_t value) { Write<LONG>("Value", &ITrutina::put_Value, value); }
void TScaleX::SetValuePurpose(std::int32_t value) { Write<LONG>("ValuePurpose", &ITrutina::put_ValuePurpose, value); }
void TScaleX::SetUpdatePrice(bool value) { Write("UpdatePrice", &ITrutina::put_UpdatePrice, ToFlag(value)); }
void TScaleX::SetAutoDisable(bool value) { Write("AutoDisable", &ITrutina::put_AutoDisable, ToFlag(value)); }
void TScaleX::SetDataEventEnabled(bool value) { Write("DataEventEnabled", &ITrutina::put_DataEventEnabled, ToFlag(value)); }

// ---------------------------------------------------------------- methods
void TScaleX::ShowProperties() { Execute("ShowProperties", &ITrutina::ShowProperties); }
std::int32_t TScaleX::AddDevice() { return Execute("AddDevice", &ITrutina::AddDevice); }
void TScaleX::DeleteDevice() { Execute("DeleteDevice", &ITrutina::DeleteDevice); }
void TScaleX::DeleteEvent() { Execute("DeleteEvent", &ITrutina::DeleteEvent); }
void TScaleX::ReadWeight() { Execute("ReadWeight", &ITrutina::ReadWeight); }
void TScaleX::Zero() { Execute("Zero", &ITrutina::Zero); }
void TScaleX::Tare() { Execute("Tare", &ITrutina::Tare); }
void TScaleX::SetTare() { Execute("SetTare", &ITrutina::SetTare); }
void TScaleX::GetDeviceMetrics() { Execute("GetDeviceMetrics", &ITrutina::GetDeviceMetrics); }
void TScaleX::ReadValue() { Execute("ReadValue", &ITrutina::ReadValue); }
void TScaleX::WriteValue() { Execute("WriteValue", &ITrutina::WriteValue); }
void TScaleX::Reset() { Execute("Reset", &ITrutina::Reset); }
void TScaleX::GenerateEvent() { Execute("GenerateEvent", &ITrutina::GenerateEvent); }
