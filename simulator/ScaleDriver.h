// The simulated scale driver behind ITrutina, without COM: logical devices, the weighing platform of
// each device, the result of the last operation, the data messages of the asynchronous mode and the
// polling thread. Every write and method sets the result (code and description); reads leave it.
//
// Thread use: interface calls come from one (GUI) thread; the polling thread calls PollOnce. All
// state is guarded by one mutex, held only for the length of one operation or one reading.
#pragma once

#include "simulator/AsyncPoller.h"
#include "simulator/Clock.h"
#include "simulator/DriverSettings.h"
#include "simulator/MessageQueue.h"
#include "simulator/ResultCodes.h"
#include "simulator/ScalePlatform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace trutina {

// Where the driver writes its settings after every change. Before a change the driver asks for
// the latest settings under the file's lock, applies its change to them and writes them while it
// still holds the lock: changes of other objects and processes survive.
class ISettingsSink {
public:
    virtual ~ISettingsSink() = default;
    virtual bool Save(const TDriverSettings& settings) = 0;
    // Why the last Save failed, as the file service said it; empty when it did not or is not told.
    virtual std::string SaveProblem() const { return {}; }
    struct TLatest {
        std::shared_ptr<void> Lock;              // the file's lock, held while this lives
        std::optional<TDriverSettings> Settings; // what the file holds now; nullopt: keep your own
        std::optional<TSettingsDamage> Damaged;  // the file was damaged and put aside
        bool Busy = false; // another process holds the file's lock (the file was not read)
        // The file's lock cannot be used (why: a read-only disk, a folder, another user's file):
        // nobody holds it, but a change cannot be written safely and is not written.
        std::string LockProblem;
    };
    virtual TLatest Latest() { return {}; }
    // Holds the serial port against other processes for as long as the result lives; nullptr when
    // another process holds it, or when the port's lock file cannot be used (problem says why and
    // where: nobody could be kept off the port). Without a file there is nobody to share it with.
    virtual std::shared_ptr<void> HoldPort(std::int32_t port, std::string& problem)
    {
        (void)port;
        (void)problem;
        return std::make_shared<int>(0);
    }
};

// The report of GetDeviceMetrics.
struct TDeviceMetrics {
    std::int32_t ProtocolVersion = 0;
    std::int32_t DeviceType = 0;
    std::int32_t DeviceModel = 0;
    std::int32_t OperatingMode = 0; // 0 weighing, 1 weighing with the sleep mode on
    std::int32_t SoftwareVersion = 0;
    std::int32_t SoftwareSubVersion = 0;
    std::int32_t SoftwareBuild = 0;
    std::int32_t CodePage = 0;
    std::u16string DeviceName;
};

constexpr TMoney MaxUnitPrice = 10'000'000'000; // 1 000 000.0000: Cost is exact up to it
// Weight (kg) times unit price, computed exactly and rounded once to a multiple of step (money
// units), halves away from zero.
TMoney Cost(double weight, TMoney unitPrice, TMoney step = 1);

class TScaleDriver {
public:
    // sink may be nullptr (nothing is written). A settings.Damaged is reported by the next
    // operation, then cleared.
    TScaleDriver(TDriverSettings settings, ISettingsSink* sink, const IClock& clock);
    TScaleDriver(const TScaleDriver&) = delete;
    TScaleDriver& operator=(const TScaleDriver&) = delete;
    ~TScaleDriver(); // stops the polling thread

    // The settings file could not be used (why: the path and the reason); the next operation that
    // succeeds reports it once.
    void ReportSettingsRefused(std::string why);

    // Called (from any thread, without the driver's lock held) when a data event is due: a message
    // was queued or DataEventEnabled was turned on while messages wait.
    void SetEventDue(std::function<void()> eventDue);
    // On the GUI thread, for each due data event: true when one should be raised now (the oldest
    // message not yet announced is marked announced; AutoDisable turns DataEventEnabled off).
    bool TakeDataEvent();
    // Whether another data event is due after the one just raised.
    bool DataEventDue() const;

    // ---- result of the last operation
    std::int32_t ResultCode() const;
    std::u16string ResultDescription() const;
    // Sets the result as an operation that ends with the code would (ShowProperties).
    void SetResult(TResult code);

    // ---- devices
    std::int32_t CurrentDeviceIndex() const;
    std::int32_t CurrentDeviceNumber() const;
    std::u16string CurrentDeviceName() const;
    std::int32_t DeviceCount() const;
    bool LockDevices() const;
    bool Connected();
    std::int32_t Model() const;
    std::int32_t PortNumber() const;
    std::int32_t BaudRate() const;
    std::int32_t Parity() const;
    bool DeviceEnabled();
    std::int32_t Timeout() const;
    TDeviceSettings CurrentDevice() const;
    TDriverSettings Settings() const;

    TResult SetCurrentDeviceIndex(std::int32_t index);
    TResult SetCurrentDeviceNumber(std::int32_t number);
    TResult SetCurrentDeviceName(const std::u16string& name);
    TResult SetLockDevices(bool locked);
    TResult SetModel(std::int32_t model);
    TResult SetPortNumber(std::int32_t port);
    TResult SetBaudRate(std::int32_t code);
    TResult SetParity(std::int32_t code);
    TResult SetDeviceEnabled(bool enabled);
    TResult SetTimeout(std::int32_t ms);
    TResult SetLogicalNumber(std::int32_t number); // renumbers the current device
    TResult SetPriceStep(std::int64_t step);       // the dialog: a PriceSteps value
    // Adds a device under the lowest free number and makes it current; number gets that number.
    TResult AddDevice(std::int32_t& number);
    TResult DeleteDevice();

    // ---- weighing
    double Weight() const;
    TMoney UnitPrice() const;
    TMoney SalesPrice() const;
    double TareWeight() const;
    TReading ShownReading() const; // the current message's reading while messages wait
    bool UpdatePrice() const;
    TResult SetUnitPrice(TMoney price);
    TResult SetTareWeight(double kg);
    TResult SetUpdatePrice(bool on);
    TResult ReadWeight();
    TResult Zero();
    TResult Tare();
    TResult SetTare();
    TResult Reset();

    // ---- device parameters and report
    std::int32_t Value() const;
    std::int32_t ValuePurpose() const;
    TResult SetValue(std::int32_t value);
    TResult SetValuePurpose(std::int32_t purpose);
    TResult ReadValue();
    TResult WriteValue();
    TDeviceMetrics Metrics() const;
    TResult GetDeviceMetrics();

    // ---- asynchronous mode
    bool AsyncMode() const;
    std::int32_t PollingInterval() const;
    double WeightStep() const;
    std::int32_t EventNumber() const;
    std::int32_t DataCount() const;
    bool AutoDisable() const;
    bool DataEventEnabled() const;
    TResult SetAsyncMode(bool on);
    TResult SetPollingInterval(std::int32_t code);
    TResult SetWeightStep(double kg);
    TResult SetEventNumber(std::int32_t number);
    TResult SetAutoDisable(bool on);
    TResult SetDataEventEnabled(bool on);
    TResult DeleteEvent();
    TResult GenerateEvent();
    // One poll of the polling thread: reads the current device and queues a message for a stable
    // change of at least WeightStep.
    void PollOnce();
    bool PollerRunning() const { return FPoller.Running(); }

    // ---- the rest of the interface
    std::int32_t ApplicationHandle() const;
    TResult SetApplicationHandle(std::int32_t handle);
    std::u16string DriverVersion() const;

    // ---- load control of the current device (the settings dialog); no result is set
    struct TLoadState {
        double Load = 0;
        bool Unstable = false;
        bool Connected = true;
        TMillis AnswerDelay = 0;
        bool AnswerAtOnce = false;
    };
    TLoadState LoadState();
    void PutLoad(double kg);
    void SetUnstable(bool unstable);
    void SetScalesConnected(bool connected);
    // The scales answer every call that asks them this many ms late (0: at once).
    void SetAnswerDelay(TMillis ms);
    // A cut line reports no connection at once instead of after Timeout.
    void SetAnswerAtOnce(bool atOnce);
    // The next write or method (other than ShowProperties) is refused with the code, doing nothing.
    void InjectRefusal(std::optional<TResult> code);
    std::optional<TResult> InjectedRefusal() const;

    // ---- load profiles of the current device (the settings dialog); no result is set
    std::vector<std::string> LoadProfileNames() const;
    // Runs the named profile on the current device's scales from its beginning; false when there
    // is no such profile (or it has no steps).
    bool StartLoadProfile(const std::string& name);
    void StopLoadProfile();
    void RestartLoadProfile();
    struct TProfileView {
        TScalePlatform::TProfileState Profile;
        TReading Reading; // what the scales indicate now (no reading is taken)
        bool Enabled = false;
    };
    TProfileView LoadProfileView();

private:
    using TLock = std::unique_lock<std::mutex>;
    // Runs one write or method: the injected refusal, a profile's refusal, the wait for slow scales
    // (a reading refused by any of them still moves simulated time on), the body, the notices,
    // then the poller. A stored operation first adopts the file's latest settings under its lock
    // (held until the change is written), so that only its own change is written over them; when
    // another process holds the lock it is refused.
    // name: the member the operation carries out (a profile step's refusal may name the ones it hits).
    TResult Operation(std::string_view name, const std::function<TResult()>& body, bool stored = false);
    TResult StoredOperation(std::string_view name, const std::function<TResult()>& body) { return Operation(name, body, true); }
    // The refusal due for the operation (the dialog's, then the profile's), taken.
    std::optional<TResult> TakeRefusal(std::string_view operation);
    // Opens the current device's port, then waits for slow scales or a cut line, at most Timeout
    // (the lock is let go meanwhile): PortBusy, NoConnection or AnswerTimeout when they do not answer.
    std::optional<TResult> AwaitAnswer(TLock& lock);
    // A refusal that scripts no answer (-1, -25) of a call that asks the scales waits Timeout.
    void AwaitNoAnswer(TLock& lock, TResult refusal);
    // Connected follows the last exchange: no answer (a cut line, a time-out, a refusal that says
    // so) makes it false until the scales answer again.
    void NoteAnswer(TResult code, bool asked);
    // A condition found between operations, reported by the next one that succeeds.
    struct TNotice {
        TResult Code;
        std::string Detail;  // said in brackets after the code's text
        bool Unsaved = false; // clearing it in the settings file failed
    };
    // The notice due, taken (a damaged-file notice is cleared in the file too).
    std::optional<TNotice> TakeNotice();
    // Sets the result: the code and its text, or the notice instead.
    TResult Finish(TResult code, const std::optional<TNotice>& notice = std::nullopt);
    static std::string DamageDetail(const TSettingsDamage& damage);
    // -19's description with the reason the last write failed.
    std::string UnsavedText() const;
    // Finish with the notice due when the code is Ok.
    TResult Conclude(TResult code);

    // ---- settings synchronisation (ScaleDriverSettings.cpp)
    // Whether a change chose this object's current device as the file's current one.
    enum class TCurrentChoice { Kept, Chosen };
    TResult Persist(TCurrentChoice choice = TCurrentChoice::Kept); // SettingsNotSaved when the sink fails
    // Takes the file's lock and adopts its latest settings; returns the lock (held while it lives),
    // nullopt when another process holds it.
    std::optional<std::shared_ptr<void>> Reread();
    void Adopt(TDriverSettings latest);
    TResult ClearDamaged(); // the damaged-file notice is reported: cleared in the file too
    // Whether latest differs from what this object last read or wrote (each object's own current
    // device aside): another object or process changed the file.
    bool ChangedByOthers(const TDriverSettings& latest) const;

    // ---- devices (ScaleDriverDevices.cpp)
    TResult ChangeDevice(std::string_view name, const std::function<TResult(TDeviceSettings&)>& change);
    void SelectDevice(std::int32_t number); // makes it current; its readings start empty
    TDeviceSettings& Current();
    const TDeviceSettings& Current() const;
    TScalePlatform& Platform(std::int32_t number);
    TScalePlatform& CurrentPlatform() { return Platform(Current().Number); }
    const TScalePlatform* FindPlatform(std::int32_t number) const;
    // The serial port of a switched-on device is this object's while it is on: another device of
    // this object, another object or another process cannot open it (PortBusy). Taken when the
    // device is switched on or its scales are first addressed, moved with a change of port or
    // number, given back when the device is switched off or deleted and when the object goes.
    // SettingsNotSaved (its reason said) when the port's lock file cannot be used.
    TResult HoldPort(const TDeviceSettings& device);
    void ReleasePort(std::int32_t number);
    void ReleasePorts();
    TResult CheckEnabledAndConnected();
    // Takes a reading of the current device into the newest reading (ReadWeight, GenerateEvent);
    // stableOnly: an unstable reading is refused (WeightNotStable) and not taken in.
    TResult TakeReading(bool stableOnly = false);
    const TReading& Shown() const;
    // The current message while it is what the weight members show (no later synchronous reading).
    const TDataMessage* ShownMessage() const;
    // What the weight shown costs now (0 with price updating off or no positive weight).
    TMoney PriceOf(double weight) const;
    // A synchronous reading that succeeded: shown in place of the current message until another
    // message becomes current.
    void TakeSynchronous(const TReading& reading);

    // ---- message channel (ScaleDriverMessages.cpp)
    void UpdatePoller();
    void NotifyEventDue();
    // The poller's request to the scales: slow scales (or a cut line, for Timeout) answer a later
    // poll; the poller never blocks the driver while it waits.
    enum class TPollAnswer { Waiting, Answered, None };
    TPollAnswer AwaitPollAnswer(TScalePlatform& platform);
    // Off the line (or no answer within Timeout): no weight shown, the next stable reading is news.
    void LoseLine();
    // The scales start afresh (switched on, restarted): their first stable reading is news.
    void ForgetExchange();

    mutable std::mutex FMutex;
    const IClock& FClock;
    ISettingsSink* FSink;
    TDriverSettings FSettings;
    std::string FSettingsRefused; // not yet reported
    std::int32_t FFileCurrent = 0;  // the current device the file names (this object's may differ)
    std::shared_ptr<void> FFileLock; // the settings file's lock, held through a stored operation
    bool FUnsaved = false;           // the last write of the settings failed
    std::optional<TDriverSettings> FKnownFile; // what the file held when this object last read or wrote it
    bool FOthersChanged = false; // a change of another object or process was taken over: said once
    struct TPortHold {
        std::int32_t Port;
        std::shared_ptr<void> File; // the hold against other processes
    };
    std::map<std::int32_t, TPortHold> FHolds; // by device number
    std::string FUnsavedWhy;         // ... and why, said with -19
    std::string FLockProblem;        // the file's lock could not be used by the last Reread
    std::map<std::int32_t, std::unique_ptr<TScalePlatform>> FPlatforms; // by device number

    std::int32_t FResultCode = 0;
    std::u16string FResultDescription;
    std::optional<TResult> FInjected;

    TReading FLastReading;
    std::int32_t FHiddenMessage = 0; // the current message a later synchronous reading hides
    TMoney FUnitPrice = 0;
    std::int32_t FValue = 0;
    std::int32_t FValuePurpose = 0;
    TDeviceMetrics FMetrics;
    std::int32_t FApplicationHandle = 0;

    bool FAsyncMode = false;
    bool FDataEventEnabled = false;
    TMessageQueue FMessages;
    std::int32_t FLastAnnounced = 0;        // number of the last message announced by an event
    std::optional<double> FLastQueuedWeight; // weight of the last stable change queued by the poller
    std::optional<TMillis> FPollAskedAt;     // when the poller's unanswered request was sent
    bool FAnswered = true;                   // the last exchange with the current device's scales was answered
    std::function<void()> FEventDue;
    TAsyncPoller FPoller;
};

} // namespace trutina
