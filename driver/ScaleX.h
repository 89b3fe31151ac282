// TScaleX: the wrapper through which every driver call passes. One read per property that has a
// read, Set plus the name for each write, one operation per method. Writes, methods and the read
// of DriverVersion end with the result check: a non-zero ResultCode raises EScaleError. A failure
// status of the call itself raises runtime::EOleException and the check does not run. Every
// interface call is reported to the driver call trace while it is on (driver/CallTrace.h).
#pragma once

#include "driver/CallTrace.h"
#include "driver/DriverProcess.h"
#include "driver/Trutina_TLB.h"
#include "platform/comptr.h"
#include "runtime/exceptions.h"

#include <cstdint>
#include <string>

// The driver refused an operation: its ResultCode and ResultDescription.
class EScaleError : public runtime::Exception {
public:
    EScaleError(std::int32_t resultCode, std::string message)
        : runtime::Exception(std::move(message)), FResultCode(resultCode) {}
    std::int32_t ResultCode() const noexcept { return FResultCode; }

private:
    std::int32_t FResultCode;
};

class TScaleX {
public:
    // Keeps its own reference to the interface. With the driver's own process (isolated mode),
    // a call made after that process ended, or that failed because it ended, raises
    // driver::EDriverProcessEnded instead of the status.
    explicit TScaleX(ITrutina* driver, driver::TDriverProcess* process = nullptr);
    TScaleX(const TScaleX&) = delete;
    TScaleX& operator=(const TScaleX&) = delete;
    ~TScaleX();

    // Reads: no result check (except DriverVersion).
    std::int32_t ResultCode();
    std::string ResultDescription();
    std::string DriverVersion(); // read, then the result check
    std::int32_t CurrentDeviceIndex();
    std::int32_t CurrentDeviceNumber();
    std::string CurrentDeviceName();
    std::int32_t DeviceCount();
    bool LockDevices();
    std::int32_t PollingInterval();
    std::int32_t EventNumber();
    std::int32_t DataCount();
    double WeightStep();
    std::int32_t Model();
    bool AsyncMode();
    std::int32_t PortNumber();
    std::int32_t BaudRate();
    std::int32_t Parity();
    bool DeviceEnabled();
    std::int64_t UnitPrice();  // money: amount x 10000
    std::int64_t SalesPrice(); // money: amount x 10000
    double Weight();
    double TareWeight();
    bool NettoWeight();
    bool ZeroScaleWeight();
    bool OutOfZero();
    bool NegWeight();
    bool BigWeight();
    bool NonStable();
    std::int32_t Value();
    std::int32_t ValuePurpose();
    std::int32_t ProtocolVersion();
    std::int32_t DeviceType();
    std::int32_t DeviceModel();
    std::int32_t OperatingMode();
    std::int32_t SoftwareVersion();
    std::int32_t SoftwareSubVersion();
    std::u16string DeviceName(); // handed over as UTF-16
    std::int32_t CodePage();
    std::int32_t SoftwareBuild();
    bool UpdatePrice();
    bool InvalidRange();
    bool AutoDisable();
    bool DataEventEnabled();

    // Writes: each followed by the result check.
    void SetCurrentDeviceIndex(std::int32_t value);
    void SetCurrentDeviceNumber(std::int32_t value);
    void SetCurrentDeviceName(const std::string& value);
    void SetLockDevices(bool value);
    void SetPollingInterval(std::int32_t value);
    void SetWeightStep(double value);
    void SetModel(std::int32_t value);
    void SetAsyncMode(bool value);
    void SetPortNumber(std::int32_t value);
    void SetBaudRate(std::int32_t value);
    void SetParity(std::int32_t value);
    void SetDeviceEnabled(bool value);
    void SetUnitPrice(std::int64_t value);
    void SetTareWeight(double value);
    void SetValue(std::int32_t value);
    void SetValuePurpose(std::int32_t value);
    void SetUpdatePrice(bool value);
    void SetAutoDisable(bool value);
    void SetDataEventEnabled(bool value);

    // Methods: each followed by the result check.
    void ShowProperties();
    std::int32_t AddDevice(); // the method's result, only when the check passes
    void DeleteDevice();
    void DeleteEvent();
    void ReadWeight();
    void Zero();
    void Tare();
    void SetTare();
    void GetDeviceMetrics();
    void ReadValue();
    void WriteValue();
    void Reset();
    void GenerateEvent();

private:
    template <typename T>
    using TGetter = HRESULT (STDMETHODCALLTYPE ITrutina::*)(T*);
    template <typename T>
    using TPutter = HRESULT (STDMETHODCALLTYPE ITrutina::*)(T);
    using TMethod = HRESULT (STDMETHODCALLTYPE ITrutina::*)(LONG*);

    // Every interface call passes through here: raises runtime::EOleException on a failure
    // status. While it runs, the call is marked in progress for the watchdog and the last words
    // (driver/CallGuard.h). Member is the interface member's name. While the call trace is on, the call is
    // timed and reported with TracedValue(): the argument of a write, the value read or the
    // method's result (taken only after a successful call, except a write's).
    template <typename TOperation, typename TTracedValue>
    void Call(const char* Member, driver::TCallDirection Direction, TOperation&& Operation,
              TTracedValue&& TracedValue);
    template <typename TOperation, typename TTracedValue>
    void TracedCall(const char* Member, driver::TCallDirection Direction, TOperation&& Operation,
                    TTracedValue&& TracedValue);

    // One read per interface type, returning the program's type; no result check.
    std::int32_t ReadInteger(const char* Member, TGetter<LONG> Getter);
    bool ReadFlag(const char* Member, TGetter<VARIANT_BOOL> Getter);
    double ReadReal(const char* Member, TGetter<DOUBLE> Getter);
    std::int64_t ReadMoney(const char* Member, TGetter<CY> Getter);
    std::u16string ReadText16(const char* Member, TGetter<BSTR> Getter);
    std::string ReadText(const char* Member, TGetter<BSTR> Getter);
    // A write of the interface value, then the result check.
    template <typename T>
    void Write(const char* Member, TPutter<T> Putter, T Value);
    void WriteText(const char* Member, TPutter<BSTR> Putter, const std::string& Value);
    // A method, then the result check; returns the method's result.
    std::int32_t Execute(const char* Member, TMethod Method);

    void CheckResult();
    // A failed call's exception: the driver process's end when that is why, else the status's.
    [[noreturn]] void RaiseCallFailure(const char* Member, driver::TCallDirection Direction, HRESULT status);

    platform::ComPtr<ITrutina> FDriver;
    driver::TDriverProcess* FProcess;
};
