#include "simulator/StateraObject.h"

#include "platform/apartment.h"
#include "platform/bstr.h"
#include "simulator/ShowProperties.h"

#include <atomic>

namespace trutina {

using trutina_server::Fail;

// ------------------------------------------------------------------ the module's clock

namespace {

// The system clock, or a hand-moved one after TrutinaTestUseManualClock (tests of settling).
class TModuleClock final : public IClock {
public:
    TMillis Now() const override { return FManual.load() ? FManualClock.Now() : FSystem.Now(); }
    void Wait(TMillis ms) const override { FManual.load() ? FManualClock.Wait(ms) : FSystem.Wait(ms); }
    void UseManual(bool on) { FManual = on; }
    void Advance(TMillis ms) { FManualClock.Advance(ms); }

private:
    std::atomic<bool> FManual{false};
    TManualClock FManualClock;
    TSystemClock FSystem;
};

TModuleClock& Clock()
{
    static TModuleClock clock;
    return clock;
}

HRESULT NullOut() { return Fail(E_POINTER, "Не передан адрес для результата"); }

template <typename T> HRESULT Out(T* target, T value)
{
    if (!target)
        return NullOut();
    *target = value;
    return S_OK;
}

HRESULT OutFlag(VARIANT_BOOL* target, bool value) { return Out(target, value ? VARIANT_TRUE : VARIANT_FALSE); }

HRESULT OutText(BSTR* target, const std::u16string& value)
{
    if (!target)
        return NullOut();
    *target = platform::U16ToBstr(value);
    return *target ? S_OK : E_OUTOFMEMORY;
}

HRESULT OutMoney(CY* target, TMoney value)
{
    if (!target)
        return NullOut();
    target->int64 = value;
    return S_OK;
}

} // namespace

// ------------------------------------------------------------------ data event delivery

// Keeps the module loaded (DllCanUnloadNow says no) for as long as it exists.
struct TModuleHold {
    TModuleHold() { trutina_server::LockModule(true); }
    ~TModuleHold() { trutina_server::LockModule(false); }
    TModuleHold(const TModuleHold&) = delete;
    TModuleHold& operator=(const TModuleHold&) = delete;
};

// What the polling thread's posted calls hold: the object while it lives, nullptr after. Posted
// calls run on the apartment thread, where the object is also destroyed, so they never see it
// half gone; the flag keeps at most one delivery call waiting.
class TStateraObject::TEventGate {
public:
    TStateraObject* Owner = nullptr; // read and cleared on the apartment thread only
    platform::ApartmentRef Apartment;
    std::atomic<bool> Posted{false};

    static void Post(const std::shared_ptr<TEventGate>& gate)
    {
        if (!gate->Apartment || gate->Posted.exchange(true))
            return;
        // The posted call is code of this module: the module stays loaded while it waits.
        auto hold = std::make_shared<TModuleHold>();
        if (!platform::PostToApartment(gate->Apartment, [gate, hold] { Deliver(gate); }))
            gate->Posted = false;
    }

private:
    static void Deliver(const std::shared_ptr<TEventGate>& gate)
    {
        gate->Posted = false;
        TStateraObject* owner = gate->Owner;
        if (!owner)
            return;
        if (owner->FDriver->TakeDataEvent())
            owner->FireDataEvent(); // may release the object: look at the gate again
        owner = gate->Owner;
        if (owner && owner->FDriver->DataEventDue())
            Post(gate); // one event per posted call keeps the GUI responsive
    }
};

// ------------------------------------------------------------------ life

TStateraObject::TStateraObject()
    : FStore(TSettingsStore::DefaultPath()),
      FDriver(std::make_unique<TScaleDriver>(FStore.Load(), &FStore, Clock())),
      FGate(std::make_shared<TEventGate>())
{
    if (!FStore.Refusal().empty())
        FDriver->ReportSettingsRefused(FStore.Refusal());
    FGate->Owner = this;
    FGate->Apartment = platform::CurrentApartment();
    FDriver->SetEventDue([gate = FGate] { TEventGate::Post(gate); });
}

TStateraObject::~TStateraObject()
{
    FGate->Owner = nullptr;
    FDriver.reset(); // stops the polling thread before anything else goes
}

HRESULT TStateraObject::EndMethod(LONG* Result, TResult code, std::optional<LONG> valueOnSuccess)
{
    *Result = code == TResult::Ok && valueOnSuccess ? *valueOnSuccess : static_cast<LONG>(code);
    return S_OK;
}

// ------------------------------------------------------------------ result and version

HRESULT TStateraObject::get_ResultCode(LONG* Value) { return Out<LONG>(Value, FDriver->ResultCode()); }
HRESULT TStateraObject::get_ResultDescription(BSTR* Value) { return OutText(Value, FDriver->ResultDescription()); }
HRESULT TStateraObject::get_DriverVersion(BSTR* Value) { return OutText(Value, FDriver->DriverVersion()); }

// ------------------------------------------------------------------ devices

HRESULT TStateraObject::get_CurrentDeviceIndex(LONG* Value) { return Out<LONG>(Value, FDriver->CurrentDeviceIndex()); }
HRESULT TStateraObject::put_CurrentDeviceIndex(LONG Value)
{
    FDriver->SetCurrentDeviceIndex(Value);
    return S_OK;
}
HRESULT TStateraObject::get_CurrentDeviceNumber(LONG* Value) { return Out<LONG>(Value, FDriver->CurrentDeviceNumber()); }
HRESULT TStateraObject::put_CurrentDeviceNumber(LONG Value)
{
    FDriver->SetCurrentDeviceNumber(Value);
    return S_OK;
}
HRESULT TStateraObject::get_CurrentDeviceName(BSTR* Value) { return OutText(Value, FDriver->CurrentDeviceName()); }
HRESULT TStateraObject::put_CurrentDeviceName(BSTR Value)
{
    FDriver->SetCurrentDeviceName(platform::BstrToU16(Value));
    return S_OK;
}
HRESULT TStateraObject::get_DeviceCount(LONG* Value) { return Out<LONG>(Value, FDriver->DeviceCount()); }
HRESULT TStateraObject::get_LockDevices(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->LockDevices()); }
HRESULT TStateraObject::put_LockDevices(VARIANT_BOOL Value)
{
    FDriver->SetLockDevices(Value != VARIANT_FALSE);
    return S_OK;
}
HRESULT TStateraObject::get_Connected(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->Connected()); }
HRESULT TStateraObject::get_Model(LONG* Value) { return Out<LONG>(Value, FDriver->Model()); }
HRESULT TStateraObject::put_Model(LONG Value)
{
    FDriver->SetModel(Value);
    return S_OK;
}
HRESULT TStateraObject::get_PortNumber(LONG* Value) { return Out<LONG>(Value, FDriver->PortNumber()); }
HRESULT TStateraObject::put_PortNumber(LONG Value)
{
    FDriver->SetPortNumber(Value);
    return S_OK;
}
HRESULT TStateraObject::get_BaudRate(LONG* Value) { return Out<LONG>(Value, FDriver->BaudRate()); }
HRESULT TStateraObject::put_BaudRate(LONG Value)
{
    FDriver->SetBaudRate(Value);
    return S_OK;
}
HRESULT TStateraObject::get_Parity(LONG* Value) { return Out<LONG>(Value, FDriver->Parity()); }
HRESULT TStateraObject::put_Parity(LONG Value)
{
    FDriver->SetParity(Value);
    return S_OK;
}
HRESULT TStateraObject::get_DeviceEnabled(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->DeviceEnabled()); }
HRESULT TStateraObject::put_DeviceEnabled(VARIANT_BOOL Value)
{
    FDriver->SetDeviceEnabled(Value != VARIANT_FALSE);
    return S_OK;
}
HRESULT TStateraObject::get_Timeout(LONG* Value) { return Out<LONG>(Value, FDriver->Timeout()); }
HRESULT TStateraObject::put_Timeout(LONG Value)
{
    FDriver->SetTimeout(Value);
    return S_OK;
}
HRESULT TStateraObject::get_LogicalNumber(LONG* Value) { return Out<LONG>(Value, FDriver->CurrentDeviceNumber()); }
HRESULT TStateraObject::put_LogicalNumber(LONG Value)
{
    FDriver->SetLogicalNumber(Value);
    return S_OK;
}
HRESULT TStateraObject::AddDevice(LONG* Result)
{
    if (!Result)
        return NullOut();
    std::int32_t number = 0;
    const TResult code = FDriver->AddDevice(number);
    return EndMethod(Result, code, number);
}
HRESULT TStateraObject::DeleteDevice(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->DeleteDevice());
}

// ------------------------------------------------------------------ weighing

HRESULT TStateraObject::get_UnitPrice(CY* Value) { return OutMoney(Value, FDriver->UnitPrice()); }
HRESULT TStateraObject::put_UnitPrice(CY Value)
{
    FDriver->SetUnitPrice(Value.int64);
    return S_OK;
}
HRESULT TStateraObject::get_SalesPrice(CY* Value) { return OutMoney(Value, FDriver->SalesPrice()); }
HRESULT TStateraObject::get_Weight(DOUBLE* Value) { return Out<DOUBLE>(Value, FDriver->Weight()); }
HRESULT TStateraObject::get_TareWeight(DOUBLE* Value) { return Out<DOUBLE>(Value, FDriver->TareWeight()); }
HRESULT TStateraObject::put_TareWeight(DOUBLE Value)
{
    FDriver->SetTareWeight(Value);
    return S_OK;
}
HRESULT TStateraObject::get_NettoWeight(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->ShownReading().Netto); }
HRESULT TStateraObject::get_ZeroScaleWeight(VARIANT_BOOL* Value)
{
    return OutFlag(Value, FDriver->ShownReading().ZeroTracking);
}
HRESULT TStateraObject::get_OutOfZero(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->ShownReading().OutOfZero); }
HRESULT TStateraObject::get_NegWeight(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->ShownReading().Negative); }
HRESULT TStateraObject::get_BigWeight(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->ShownReading().Overload); }
HRESULT TStateraObject::get_NonStable(VARIANT_BOOL* Value) { return OutFlag(Value, !FDriver->ShownReading().Stable); }
HRESULT TStateraObject::get_InvalidRange(VARIANT_BOOL* Value)
{
    return OutFlag(Value, FDriver->ShownReading().InvalidRange);
}
HRESULT TStateraObject::get_UpdatePrice(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->UpdatePrice()); }
HRESULT TStateraObject::put_UpdatePrice(VARIANT_BOOL Value)
{
    FDriver->SetUpdatePrice(Value != VARIANT_FALSE);
    return S_OK;
}
HRESULT TStateraObject::ReadWeight(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->ReadWeight());
}
HRESULT TStateraObject::Zero(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->Zero());
}
HRESULT TStateraObject::Tare(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->Tare());
}
HRESULT TStateraObject::SetTare(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->SetTare());
}
HRESULT TStateraObject::Reset(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->Reset());
}

// ------------------------------------------------------------------ device parameters and report

HRESULT TStateraObject::get_Value(LONG* Value) { return Out<LONG>(Value, FDriver->Value()); }
HRESULT TStateraObject::put_Value(LONG Value)
{
    FDriver->SetValue(Value);
    return S_OK;
}
HRESULT TStateraObject::get_ValuePurpose(LONG* Value) { return Out<LONG>(Value, FDriver->ValuePurpose()); }
HRESULT TStateraObject::put_ValuePurpose(LONG Value)
{
    FDriver->SetValuePurpose(Value);
    return S_OK;
}
HRESULT TStateraObject::get_ProtocolVersion(LONG* Value) { return Out<LONG>(Value, FDriver->Metrics().ProtocolVersion); }
HRESULT TStateraObject::get_DeviceType(LONG* Value) { return Out<LONG>(Value, FDriver->Metrics().DeviceType); }
HRESULT TStateraObject::get_DeviceModel(LONG* Value) { return Out<LONG>(Value, FDriver->Metrics().DeviceModel); }
HRESULT TStateraObject::get_OperatingMode(LONG* Value) { return Out<LONG>(Value, FDriver->Metrics().OperatingMode); }
HRESULT TStateraObject::get_SoftwareVersion(LONG* Value) { return Out<LONG>(Value, FDriver->Metrics().SoftwareVersion); }
HRESULT TStateraObject::get_SoftwareSubVersion(LONG* Value)
{
    return Out<LONG>(Value, FDriver->Metrics().SoftwareSubVersion);
}
HRESULT TStateraObject::get_DeviceName(BSTR* Value) { return OutText(Value, FDriver->Metrics().DeviceName); }
HRESULT TStateraObject::get_CodePage(LONG* Value) { return Out<LONG>(Value, FDriver->Metrics().CodePage); }
HRESULT TStateraObject::get_SoftwareBuild(LONG* Value) { return Out<LONG>(Value, FDriver->Metrics().SoftwareBuild); }
HRESULT TStateraObject::GetDeviceMetrics(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->GetDeviceMetrics());
}
HRESULT TStateraObject::ReadValue(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->ReadValue());
}
HRESULT TStateraObject::WriteValue(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->WriteValue());
}

// ------------------------------------------------------------------ asynchronous mode

HRESULT TStateraObject::get_PollingInterval(LONG* Value) { return Out<LONG>(Value, FDriver->PollingInterval()); }
HRESULT TStateraObject::put_PollingInterval(LONG Value)
{
    FDriver->SetPollingInterval(Value);
    return S_OK;
}
HRESULT TStateraObject::get_EventNumber(LONG* Value) { return Out<LONG>(Value, FDriver->EventNumber()); }
HRESULT TStateraObject::put_EventNumber(LONG Value)
{
    FDriver->SetEventNumber(Value);
    return S_OK;
}
HRESULT TStateraObject::get_DataCount(LONG* Value) { return Out<LONG>(Value, FDriver->DataCount()); }
HRESULT TStateraObject::get_WeightStep(DOUBLE* Value) { return Out<DOUBLE>(Value, FDriver->WeightStep()); }
HRESULT TStateraObject::put_WeightStep(DOUBLE Value)
{
    FDriver->SetWeightStep(Value);
    return S_OK;
}
HRESULT TStateraObject::get_AsyncMode(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->AsyncMode()); }
HRESULT TStateraObject::put_AsyncMode(VARIANT_BOOL Value)
{
    FDriver->SetAsyncMode(Value != VARIANT_FALSE);
    return S_OK;
}
HRESULT TStateraObject::get_AutoDisable(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->AutoDisable()); }
HRESULT TStateraObject::put_AutoDisable(VARIANT_BOOL Value)
{
    FDriver->SetAutoDisable(Value != VARIANT_FALSE);
    return S_OK;
}
HRESULT TStateraObject::get_DataEventEnabled(VARIANT_BOOL* Value) { return OutFlag(Value, FDriver->DataEventEnabled()); }
HRESULT TStateraObject::put_DataEventEnabled(VARIANT_BOOL Value)
{
    FDriver->SetDataEventEnabled(Value != VARIANT_FALSE);
    return S_OK;
}
HRESULT TStateraObject::DeleteEvent(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->DeleteEvent());
}
HRESULT TStateraObject::GenerateEvent(LONG* Result)
{
    if (!Result)
        return NullOut();
    return EndMethod(Result, FDriver->GenerateEvent());
}

// ------------------------------------------------------------------ the rest

HRESULT TStateraObject::get_ApplicationHandle(LONG* Value) { return Out<LONG>(Value, FDriver->ApplicationHandle()); }
HRESULT TStateraObject::put_ApplicationHandle(LONG Value)
{
    FDriver->SetApplicationHandle(Value);
    return S_OK;
}

HRESULT TStateraObject::ShowProperties(LONG* Result)
{
    if (!Result)
        return NullOut();
    if (FDialogOpen) {
        FDriver->SetResult(TResult::DialogOpen);
        return EndMethod(Result, TResult::DialogOpen);
    }
    AddRef(); // an event handler may release the object while the dialog runs
    FDialogOpen = true;
    const TResult code = ShowPropertiesDialog(*FDriver);
    FDialogOpen = false;
    FDriver->SetResult(code);
    EndMethod(Result, code);
    Release();
    return S_OK;
}

} // namespace trutina

// ------------------------------------------------------------------ test hooks of the module

TRUTINA_SERVER_EXPORT void TrutinaTestUseManualClock(int on) { trutina::Clock().UseManual(on != 0); }
TRUTINA_SERVER_EXPORT void TrutinaTestAdvanceClock(long long ms) { trutina::Clock().Advance(ms); }
TRUTINA_SERVER_EXPORT int TrutinaTestLivePollers() { return trutina::TAsyncPoller::LiveThreads(); }
