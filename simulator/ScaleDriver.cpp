#include "simulator/ScaleDriver.h"

#include "runtime/utf.h"

#include <algorithm>
#include <cmath>
#include <set>

#ifndef PROJECT_VERSION
#error "PROJECT_VERSION must come from the build (the project version)"
#endif

namespace trutina {

namespace {
// numerator / denominator (denominator > 0) rounded to the nearest integer, halves away from zero.
std::int64_t RoundedQuotient(std::int64_t numerator, std::int64_t denominator)
{
    std::int64_t quotient = numerator / denominator;
    const std::int64_t remainder = numerator % denominator;
    if (2 * (remainder < 0 ? -remainder : remainder) >= denominator)
        quotient += remainder < 0 ? -1 : 1;
    return quotient;
}
} // namespace

TMoney Cost(double weight, TMoney unitPrice, TMoney step)
{
    // Weight to 0.1 g (exact for every scale interval of the models) times the unit price is the
    // exact cost times 10^4; it is divided by 10^4 x step and rounded once. The product may pass
    // 64 bits, so both factors are split at 10^4 (a = q*10^4 + r, b = s*10^4 + t, the parts of one
    // factor carrying its sign): a*b / (10^4 step) = (X*10^4 + r*t) / (10^4 step) with
    // X = q*s*10^4 + q*t + r*s. X / step is whole; its remainder (below 10^4) joins r*t, and that
    // small part is rounded. Every part has the product's sign, so the sum rounds as the whole.
    constexpr std::int64_t Unit = 10000;
    step = std::max<TMoney>(step, 1);
    const std::int64_t tenthGrams = std::llround(weight * 10000);
    const std::int64_t q = tenthGrams / Unit, r = tenthGrams % Unit;
    const std::int64_t s = unitPrice / Unit, t = unitPrice % Unit;
    const std::int64_t x = q * s * Unit + q * t + r * s;
    const std::int64_t steps = x / step + RoundedQuotient((x % step) * Unit + r * t, Unit * step);
    return steps * step;
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
    FKnownFile = FSettings;
    FResultDescription = runtime::Utf8ToUtf16(trutina::ResultDescription(TResult::Ok));
}

TScaleDriver::~TScaleDriver()
{
    FPoller.Stop();
    ReleasePorts();
}

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
        {"UnitPrice", TScalesUse::Asks}, // price-computing scales take the price into their display
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
        if (refusal && scales != TScalesUse::None)
            AwaitNoAnswer(lock, *refusal);
        else if (scales != TScalesUse::None)
            refusal = AwaitAnswer(lock);
        if (refusal) {
            if (scales == TScalesUse::Reads)
                CurrentPlatform().SkipReading(); // asked for, not taken: time moves on all the same
            NoteAnswer(*refusal, scales != TScalesUse::None);
            return Finish(*refusal);
        }
        if (stored) {
            std::optional<std::shared_ptr<void>> fileLock = Reread();
            if (!fileLock)
                return Finish(TResult::SettingsLocked);
            FFileLock = std::move(*fileLock);
        }
        const TResult code = body();
        NoteAnswer(code, scales != TScalesUse::None);
        result = Conclude(code);
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
    // A load profile's refusal hits the operations made while its device is current, from its
    // first one on: a switched-on device's scales (and profile) start before the refusal is looked for.
    if (Current().Enabled)
        return CurrentPlatform().TakeRefusal(operation);
    if (auto it = FPlatforms.find(FSettings.CurrentDeviceNumber); it != FPlatforms.end())
        return it->second->TakeRefusal(operation);
    return std::nullopt;
}

std::optional<TResult> TScaleDriver::AwaitAnswer(TLock& lock)
{
    // A port that cannot be opened fails at once: no request is sent.
    if (const TResult r = HoldPort(Current()); r != TResult::Ok)
        return r;
    TScalePlatform& platform = CurrentPlatform();
    // A cut line answers nothing: the request waits its Timeout (unless the line says so at once).
    const bool cut = !platform.Connected();
    if (cut && platform.AnswersAtOnce())
        return TResult::NoConnection;
    const TMillis timeout = FSettings.Timeout;
    const TMillis delay = cut ? timeout : platform.AnswerDelay();
    if (delay <= 0)
        return std::nullopt;
    // The caller waits (without the lock, the poller goes on), at most Timeout.
    lock.unlock();
    FClock.Wait(std::min(delay, timeout));
    lock.lock();
    if (cut)
        return TResult::NoConnection;
    if (delay > timeout)
        return TResult::AnswerTimeout;
    return std::nullopt;
}

void TScaleDriver::AwaitNoAnswer(TLock& lock, TResult refusal)
{
    // A scripted "no answer" costs what a real one does: Timeout (a line that says so at once, none).
    const bool noAnswer = refusal == TResult::AnswerTimeout || refusal == TResult::NoConnection;
    if (!noAnswer || (refusal == TResult::NoConnection && CurrentPlatform().AnswersAtOnce()))
        return;
    const TMillis timeout = FSettings.Timeout;
    lock.unlock();
    FClock.Wait(timeout);
    lock.lock();
}

void TScaleDriver::NoteAnswer(TResult code, bool asked)
{
    if (code == TResult::NoConnection || code == TResult::AnswerTimeout)
        FAnswered = false;
    else if (asked && code != TResult::PortBusy && code != TResult::SettingsNotSaved)
        FAnswered = true;
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
    if (FOthersChanged) {
        // Said once, by the operation that took the change over.
        text += "; настройки в файле изменены другим объектом или программой, изменения приняты";
        FOthersChanged = false;
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

const TDataMessage* TScaleDriver::ShownMessage() const
{
    const TDataMessage* message = FMessages.Current();
    return message && message->Number != FHiddenMessage ? message : nullptr;
}

const TReading& TScaleDriver::Shown() const
{
    const TDataMessage* message = ShownMessage();
    return message ? message->Reading : FLastReading;
}

void TScaleDriver::TakeSynchronous(const TReading& reading)
{
    // A register confirms a weight with the reading it just took: no older message may stand for it.
    FLastReading = reading;
    const TDataMessage* message = FMessages.Current();
    FHiddenMessage = message ? message->Number : 0;
}

TMoney TScaleDriver::PriceOf(double weight) const
{
    // The scales price only a positive weight, and only with price updating on.
    if (!FSettings.UpdatePrice || weight <= 0)
        return 0;
    return Cost(weight, FUnitPrice, Current().PriceStep);
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
    // A message carries the price of its weighing; a reading is priced at today's unit price.
    const TDataMessage* message = ShownMessage();
    return message ? message->SalesPrice : PriceOf(FLastReading.Weight);
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
        if (price < 0 || price > FindScaleModel(Current().Model)->MaxUnitPrice)
            return TResult::OutOfRange;
        // Rounding sale prices to a step, the scales take unit prices in whole kopecks (or whole
        // steps, for a step of 0.0001).
        if (price % std::min<TMoney>(Current().PriceStep, 100) != 0)
            return TResult::InvalidParameter;
        FUnitPrice = price;
        return TResult::Ok;
    });
}

TResult TScaleDriver::SetTareWeight(double kg)
{
    // -0 is the scales' 0: no tare, read back without a sign.
    return Operation("TareWeight", [&] { return CurrentPlatform().SetTareWeight(kg == 0 ? 0.0 : kg); });
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
    if (const TResult r = HoldPort(Current()); r != TResult::Ok)
        return r;
    if (!CurrentPlatform().Connected())
        return TResult::NoConnection;
    return TResult::Ok;
}

TResult TScaleDriver::ReadWeight()
{
    return Operation("ReadWeight", [&] {
        const TResult r = TakeReading();
        if (r == TResult::Ok)
            TakeSynchronous(FLastReading);
        return r;
    });
}

TResult TScaleDriver::TakeReading(bool stableOnly)
{
    if (!Current().Enabled)
        return TResult::DeviceNotEnabled;
    // A reading is taken (and simulated time moves on) even when the scales do not answer.
    TReading reading = CurrentPlatform().Read();
    if (reading.Result == TResult::NoConnection)
        return reading.Result;
    if (stableOnly && reading.Result == TResult::Ok && !reading.Stable)
        return TResult::WeightNotStable;
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
            TakeSynchronous(after);
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
            TakeSynchronous(CurrentPlatform().Look());
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

} // namespace trutina
