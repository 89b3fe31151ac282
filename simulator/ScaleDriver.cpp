#include "simulator/ScaleDriver.h"

#include "runtime/utf.h"

#include <algorithm>
#include <cmath>
#include <set>

#ifndef PROJECT_VERSION
#error "PROJECT_VERSION must come from the build (the project version)"
#endif

namespace trutina {

TMoney Cost(double weight, TMoney unitPrice)
{
    // Weight to 0.1 g (exact for every scale interval of the models), then the product divided by
    // 10000 in 64 bits: both factors split at 10000 (a = q*10000 + r, b = s*10000 + t, the parts
    // of one factor carrying its sign), so every partial product has the result's sign and none is
    // larger than the result; only r*t / 10000 has a fraction, which is rounded half away from zero.
    constexpr std::int64_t Unit = 10000;
    const std::int64_t tenthGrams = std::llround(weight * 10000);
    const std::int64_t q = tenthGrams / Unit, r = tenthGrams % Unit;
    const std::int64_t s = unitPrice / Unit, t = unitPrice % Unit;
    const std::int64_t low = r * t; // |low| < 10^8
    std::int64_t lowQuotient = low / Unit;
    if (2 * (low < 0 ? -(low % Unit) : low % Unit) >= Unit)
        lowQuotient += low < 0 ? -1 : 1;
    return q * s * Unit + q * t + r * s + lowQuotient;
}

TMoney RoundMoney(TMoney amount, TMoney step)
{
    if (step <= 1)
        return amount;
    const TMoney remainder = amount % step;
    TMoney rounded = amount - remainder;
    if (2 * (remainder < 0 ? -remainder : remainder) >= step)
        rounded += remainder < 0 ? -step : step;
    return rounded;
}

TScaleDriver::TScaleDriver(TDriverSettings settings, ISettingsSink* sink, const IClock& clock)
    : FClock(clock), FSink(sink), FSettings(std::move(settings)), FPoller([this] { PollOnce(); })
{
    if (!FSettings.Problem().empty()) {
        const std::optional<TSettingsDamage> kept = FSettings.Damaged;
        FSettings = TDriverSettings::Defaults();
        FSettings.Damaged = kept;
    }
    FFileCurrent = FSettings.CurrentDeviceNumber;
    FResultDescription = runtime::Utf8ToUtf16(trutina::ResultDescription(TResult::Ok));
}

TScaleDriver::~TScaleDriver() { FPoller.Stop(); }

void TScaleDriver::ReportSettingsRefused(std::string why)
{
    std::lock_guard lock(FMutex);
    FSettingsRefused = std::move(why);
}

void TScaleDriver::SetEventDue(std::function<void()> eventDue)
{
    std::lock_guard lock(FMutex);
    FEventDue = std::move(eventDue);
}

// ------------------------------------------------------------------ operation frame

namespace {

// The members that talk to the scales: they may answer slowly, and a reading moves simulated time
// on whether it is answered or refused.
enum class TScalesUse { None, Asks, Reads };

TScalesUse ScalesUse(std::string_view operation)
{
    static constexpr std::pair<std::string_view, TScalesUse> Table[] = {
        {"ReadWeight", TScalesUse::Reads},    {"Zero", TScalesUse::Reads},     {"Tare", TScalesUse::Reads},
        {"GenerateEvent", TScalesUse::Reads}, {"SetTare", TScalesUse::Asks},   {"Reset", TScalesUse::Asks},
        {"GetDeviceMetrics", TScalesUse::Asks}, {"ReadValue", TScalesUse::Asks}, {"WriteValue", TScalesUse::Asks},
    };
    for (const auto& [name, use] : Table)
        if (name == operation)
            return use;
    return TScalesUse::None;
}

} // namespace

TResult TScaleDriver::Operation(std::string_view name, const std::function<TResult()>& body, bool stored)
{
    TResult result;
    {
        TLock lock(FMutex);
        const TScalesUse scales = Current().Enabled ? ScalesUse(name) : TScalesUse::None;
        std::optional<TResult> refusal = TakeRefusal(name);
        if (!refusal && scales != TScalesUse::None)
            refusal = AwaitAnswer(lock);
        if (refusal) {
            if (scales == TScalesUse::Reads)
                CurrentPlatform().SkipReading(); // asked for, not taken: time moves on all the same
            return Finish(*refusal);
        }
        if (stored) {
            std::optional<std::shared_ptr<void>> fileLock = Reread();
            if (!fileLock)
                return Finish(TResult::SettingsLocked);
            FFileLock = std::move(*fileLock);
        }
        result = Conclude(body());
        FFileLock.reset();
    }
    UpdatePoller();
    if (DataEventDue())
        NotifyEventDue();
    return result;
}

std::optional<TResult> TScaleDriver::TakeRefusal(std::string_view operation)
{
    if (FInjected) {
        const TResult injected = *FInjected;
        FInjected.reset();
        return injected;
    }
    // A load profile's refusal hits the operations made while its device is current.
    if (auto it = FPlatforms.find(FSettings.CurrentDeviceNumber); it != FPlatforms.end())
        return it->second->TakeRefusal(operation);
    return std::nullopt;
}

std::optional<TResult> TScaleDriver::AwaitAnswer(TLock& lock)
{
    const TMillis delay = CurrentPlatform().AnswerDelay();
    if (delay <= 0)
        return std::nullopt;
    const TMillis timeout = FSettings.Timeout;
    // The scales answer late: the caller waits (without the lock, the poller goes on), at most Timeout.
    lock.unlock();
    FClock.Wait(std::min(delay, timeout));
    lock.lock();
    if (delay > timeout)
        return TResult::AnswerTimeout;
    return std::nullopt;
}

TResult TScaleDriver::Conclude(TResult code)
{
    return Finish(code, code == TResult::Ok ? TakeNotice() : std::nullopt);
}

std::optional<TScaleDriver::TNotice> TScaleDriver::TakeNotice()
{
    // Notices wait for an operation that succeeded: the operation is done, the code reports them.
    if (!FSettingsRefused.empty()) {
        TNotice notice{TResult::SettingsRefused, FSettingsRefused};
        FSettingsRefused.clear();
        return notice;
    }
    if (FSettings.Damaged) {
        TNotice notice{TResult::SettingsDamaged, DamageDetail(*FSettings.Damaged)};
        if (ClearDamaged() != TResult::Ok)
            notice.Unsaved = true;
        return notice;
    }
    if (const std::uint64_t lost = FMessages.TakeLost())
        return TNotice{TResult::MessagesLost, std::to_string(lost)};
    return std::nullopt;
}

std::string TScaleDriver::DamageDetail(const TSettingsDamage& damage)
{
    std::string detail = damage.Problem.empty() ? std::string() : damage.Problem + "; ";
    return detail + (damage.KeptAs.empty() ? "копию сохранить не удалось" : "повреждённый файл сохранён как " + damage.KeptAs);
}

TResult TScaleDriver::Finish(TResult code, const std::optional<TNotice>& notice)
{
    if (notice)
        code = notice->Code;
    std::string text = code == TResult::SettingsNotSaved ? UnsavedText() : trutina::ResultDescription(code);
    if (notice) {
        text += " (" + notice->Detail + ")";
        if (notice->Unsaved)
            text += "; " + UnsavedText();
    } else if (code != TResult::Ok && FSettings.Damaged) {
        // A damaged file explains the first call whatever its result (the defaults may be why it
        // failed); the code -18 still waits for a call that succeeds.
        text += "; " + trutina::ResultDescription(TResult::SettingsDamaged) + " (" + DamageDetail(*FSettings.Damaged) + ")";
    }
    FResultCode = static_cast<std::int32_t>(code);
    FResultDescription = runtime::Utf8ToUtf16(text);
    return code;
}

std::string TScaleDriver::UnsavedText() const
{
    const std::string text = trutina::ResultDescription(TResult::SettingsNotSaved);
    return FUnsavedWhy.empty() ? text : text + " (" + FUnsavedWhy + ")";
}

std::int32_t TScaleDriver::ResultCode() const
{
    std::lock_guard lock(FMutex);
    return FResultCode;
}

std::u16string TScaleDriver::ResultDescription() const
{
    std::lock_guard lock(FMutex);
    return FResultDescription;
}

void TScaleDriver::SetResult(TResult code)
{
    std::lock_guard lock(FMutex);
    Conclude(code);
}

// ------------------------------------------------------------------ weighing

const TReading& TScaleDriver::Shown() const
{
    const TDataMessage* message = FMessages.Current();
    return message ? message->Reading : FLastReading;
}

TReading TScaleDriver::ShownReading() const
{
    std::lock_guard lock(FMutex);
    return Shown();
}

double TScaleDriver::Weight() const
{
    std::lock_guard lock(FMutex);
    return Shown().Weight;
}

TMoney TScaleDriver::UnitPrice() const
{
    std::lock_guard lock(FMutex);
    return FUnitPrice;
}

TMoney TScaleDriver::SalesPrice() const
{
    std::lock_guard lock(FMutex);
    const double weight = Shown().Weight;
    // The scales price only a positive weight, and only with price updating on.
    if (!FSettings.UpdatePrice || weight <= 0)
        return 0;
    return RoundMoney(Cost(weight, FUnitPrice), Current().PriceStep);
}

double TScaleDriver::TareWeight() const
{
    std::lock_guard lock(FMutex);
    // The scales own the tare: a device whose scales were never addressed holds none.
    const TScalePlatform* platform = FindPlatform(Current().Number);
    return platform ? platform->TareWeight() : 0;
}

bool TScaleDriver::UpdatePrice() const
{
    std::lock_guard lock(FMutex);
    return FSettings.UpdatePrice;
}

TResult TScaleDriver::SetUnitPrice(TMoney price)
{
    return Operation("UnitPrice", [&] {
        if (price < 0 || price > MaxUnitPrice)
            return TResult::OutOfRange;
        FUnitPrice = price;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetTareWeight(double kg)
{
    return Operation("TareWeight", [&] { return CurrentPlatform().SetTareWeight(kg); });
}

TResult TScaleDriver::SetUpdatePrice(bool on)
{
    return StoredOperation("UpdatePrice", [&] {
        FSettings.UpdatePrice = on;
        return Persist();
    });
}

TResult TScaleDriver::CheckEnabledAndConnected()
{
    if (!Current().Enabled)
        return TResult::DeviceNotEnabled;
    if (!CurrentPlatform().Connected())
        return TResult::NoConnection;
    return TResult::Ok;
}

TResult TScaleDriver::ReadWeight()
{
    return Operation("ReadWeight", [&] { return TakeReading(); });
}

TResult TScaleDriver::TakeReading()
{
    if (!Current().Enabled)
        return TResult::DeviceNotEnabled;
    // A reading is taken (and simulated time moves on) even when the scales do not answer.
    TReading reading = CurrentPlatform().Read();
    if (reading.Result == TResult::NoConnection)
        return reading.Result;
    // A refused reading still reports the scales' status flags; the weight keeps its last value.
    if (reading.Result != TResult::Ok)
        reading.Weight = FLastReading.Weight;
    FLastReading = reading;
    return reading.Result;
}

TResult TScaleDriver::Zero()
{
    return Operation("Zero", [&] {
        if (!Current().Enabled)
            return TResult::DeviceNotEnabled;
        const TResult r = CurrentPlatform().Zero();
        if (r == TResult::NoConnection)
            return r;
        const TReading after = CurrentPlatform().Look();
        if (r == TResult::Ok)
            FLastReading = after;
        else
            FLastReading.OutOfZero = after.OutOfZero;
        return r;
    });
}

TResult TScaleDriver::Tare()
{
    return Operation("Tare", [&] {
        if (!Current().Enabled)
            return TResult::DeviceNotEnabled;
        const TResult r = CurrentPlatform().Tare();
        if (r == TResult::Ok)
            FLastReading = CurrentPlatform().Look();
        return r;
    });
}

TResult TScaleDriver::SetTare()
{
    return Operation("SetTare", [&] {
        if (TResult r = CheckEnabledAndConnected(); r != TResult::Ok)
            return r;
        TScalePlatform& platform = CurrentPlatform();
        const TResult r = platform.SetTare(platform.TareWeight());
        if (r == TResult::Ok)
            FLastReading = platform.Look();
        return r;
    });
}

TResult TScaleDriver::Reset()
{
    return Operation("Reset", [&] {
        if (TResult r = CheckEnabledAndConnected(); r != TResult::Ok)
            return r;
        CurrentPlatform().PowerOn();
        FLastReading = CurrentPlatform().Look();
        return TResult::Ok;
    });
}

// ------------------------------------------------------------------ device parameters and report

std::int32_t TScaleDriver::Value() const
{
    std::lock_guard lock(FMutex);
    return FValue;
}

std::int32_t TScaleDriver::ValuePurpose() const
{
    std::lock_guard lock(FMutex);
    return FValuePurpose;
}

TResult TScaleDriver::SetValue(std::int32_t value)
{
    // Any number is taken; WriteValue checks it against the parameter it goes to.
    return Operation("Value", [&] {
        FValue = value;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetValuePurpose(std::int32_t purpose)
{
    return Operation("ValuePurpose", [&] {
        if (purpose < 0 || purpose >= ValuePurposeCount)
            return TResult::InvalidParameter;
        FValuePurpose = purpose;
        return TResult::Ok;
    });
}

TResult TScaleDriver::ReadValue()
{
    return Operation("ReadValue", [&] {
        if (TResult r = CheckEnabledAndConnected(); r != TResult::Ok)
            return r;
        FValue = Current().Parameters.Get(TValuePurpose(FValuePurpose));
        return TResult::Ok;
    });
}

TResult TScaleDriver::WriteValue()
{
    return StoredOperation("WriteValue", [&] {
        if (TResult r = CheckEnabledAndConnected(); r != TResult::Ok)
            return r;
        const TValuePurpose purpose{FValuePurpose};
        if (!TDeviceParameters::IsValid(purpose, FValue))
            return TResult::InvalidParameter;
        Current().Parameters.Set(purpose, FValue);
        if (purpose == TValuePurpose::TareMode)
            CurrentPlatform().SetTareMode(FValue);
        return Persist();
    });
}

TDeviceMetrics TScaleDriver::Metrics() const
{
    std::lock_guard lock(FMutex);
    return FMetrics;
}

TResult TScaleDriver::GetDeviceMetrics()
{
    return Operation("GetDeviceMetrics", [&] {
        if (TResult r = CheckEnabledAndConnected(); r != TResult::Ok)
            return r;
        const TScaleModel& model = CurrentPlatform().Model();
        const TDeviceParameters& parameters = Current().Parameters;
        FMetrics.ProtocolVersion = model.ProtocolVersion;
        FMetrics.DeviceType = model.DeviceType;
        FMetrics.DeviceModel = model.Code;
        FMetrics.OperatingMode = parameters.SleepMode > 0 ? 1 : 0;
        FMetrics.SoftwareVersion = model.SoftwareVersion;
        FMetrics.SoftwareSubVersion = model.SoftwareSubVersion;
        FMetrics.SoftwareBuild = model.SoftwareBuild;
        FMetrics.CodePage = model.CodePage;
        FMetrics.DeviceName = runtime::Utf8ToUtf16(model.Name);
        return TResult::Ok;
    });
}

// ------------------------------------------------------------------ the rest

std::int32_t TScaleDriver::ApplicationHandle() const
{
    std::lock_guard lock(FMutex);
    return FApplicationHandle;
}

TResult TScaleDriver::SetApplicationHandle(std::int32_t handle)
{
    return Operation("ApplicationHandle", [&] {
        FApplicationHandle = handle;
        return TResult::Ok;
    });
}

std::u16string TScaleDriver::DriverVersion() const { return runtime::Utf8ToUtf16(PROJECT_VERSION); }

TScaleDriver::TLoadState TScaleDriver::LoadState()
{
    std::lock_guard lock(FMutex);
    auto& platform = CurrentPlatform();
    const bool connected = platform.Connected(); // brings a running profile up to now first
    return {platform.Load(), platform.Unstable(), connected, platform.AnswerDelay()};
}

void TScaleDriver::PutLoad(double kg)
{
    std::lock_guard lock(FMutex);
    if (std::isfinite(kg))
        CurrentPlatform().PutLoad(kg);
}

void TScaleDriver::SetUnstable(bool unstable)
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().SetUnstable(unstable);
}

void TScaleDriver::SetScalesConnected(bool connected)
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().SetConnected(connected);
}

void TScaleDriver::SetAnswerDelay(TMillis ms)
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().SetAnswerDelay(ms);
}

std::vector<std::string> TScaleDriver::LoadProfileNames() const
{
    std::lock_guard lock(FMutex);
    std::vector<std::string> names;
    for (const auto& [name, profile] : FSettings.LoadProfiles)
        if (!profile.Steps.empty())
            names.push_back(name);
    return names;
}

bool TScaleDriver::StartLoadProfile(const std::string& name)
{
    std::lock_guard lock(FMutex);
    const auto profile = FSettings.LoadProfiles.find(name);
    if (profile == FSettings.LoadProfiles.end() || profile->second.Steps.empty())
        return false;
    CurrentPlatform().StartProfile(&profile->second, name);
    return true;
}

void TScaleDriver::StopLoadProfile()
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().StopProfile();
}

void TScaleDriver::RestartLoadProfile()
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().Restart();
}

TScaleDriver::TProfileView TScaleDriver::LoadProfileView()
{
    std::lock_guard lock(FMutex);
    TScalePlatform& platform = CurrentPlatform();
    TProfileView view;
    view.Profile = platform.ProfileState();
    view.Enabled = Current().Enabled;
    view.Reading = platform.Look();
    return view;
}

void TScaleDriver::InjectRefusal(std::optional<TResult> code)
{
    std::lock_guard lock(FMutex);
    FInjected = code && *code != TResult::Ok ? code : std::nullopt;
}

std::optional<TResult> TScaleDriver::InjectedRefusal() const
{
    std::lock_guard lock(FMutex);
    return FInjected;
}

} // namespace trutina
