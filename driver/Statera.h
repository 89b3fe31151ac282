// TStatera: the control wrapper that hosts the driver component. It creates the component's
// object by class id, connects its event interface on the first DriverInterface call and delivers
// each data event as OnDataEvent, on the apartment's (GUI) thread.
#pragma once

#include "driver/DriverProcess.h"
#include "driver/Trutina_TLB.h"
#include "platform/comptr.h"

#include <functional>
#include <memory>
#include <string>

class TStatera;
using TNotifyEvent = std::function<void(TStatera* Sender)>;
using TNoticeEvent = std::function<void(TStatera* Sender, const std::string& Notice)>;

class TStatera {
public:
    // Creates the component's object (CLSID_Statera, or the given class); raises
    // runtime::EOleException when it cannot be created.
    TStatera();
    explicit TStatera(REFCLSID clsid);
    // Hosts an object of the class that is already created (e.g. by a module's own class
    // factory); keeps its own reference to it.
    TStatera(REFCLSID clsid, IUnknown* object);
    // Hosts the object that the driver's own process holds (isolated mode); owns that process.
    TStatera(REFCLSID clsid, std::unique_ptr<driver::TDriverProcess> process);
    TStatera(const TStatera&) = delete;
    TStatera& operator=(const TStatera&) = delete;
    // Disconnects the events and releases the component; no event is delivered afterwards.
    ~TStatera();

    // The first call initialises the component as new (IPersistStreamInit::InitNew), connects
    // the event interface and queries ITrutina (runtime::EIntfCastError when the object has none);
    // later calls return the same reference.
    platform::ComPtr<ITrutina> DriverInterface();

    // Called once for each data event with this control as sender (the event is reported to the
    // driver call trace first, while the trace is on). An exception thrown by it is
    // handed to runtime::HandleApplicationException and never reaches the driver.
    TNotifyEvent OnDataEvent;
    // Called once, before the first data event that the driver raised on a thread other than the
    // control's is handled (on the control's thread, where it is delivered instead): the notice
    // names both threads. Also in the call trace, with that event.
    TNoticeEvent OnForeignThreadEvent;

    // The driver's own process in isolated mode, else nullptr.
    driver::TDriverProcess* Process() const { return FProcess.get(); }

    // The read-write properties of the member table, through the component's IDispatch by
    // dispatch id (raises runtime::EOleException on a failure status).
    VARIANT GetProperty(DISPID id);            // caller clears the result with VariantClear
    void SetProperty(DISPID id, const VARIANT& value);

private:
    class TEventSink;
    // Where an event raised on a thread other than the driver's came from; zeros for one that was not.
    struct TForeignThread {
        unsigned long RaisedOn = 0;  // the driver's thread that raised it
        unsigned long CreatedOn = 0; // the thread that created the driver (in the driver host: the host's)
    };
    void ConnectEvents();
    void FireDataEvent(TForeignThread foreign);
    platform::ComPtr<IDispatch> Dispatch() const;

    CLSID FClassId;
    std::unique_ptr<driver::TDriverProcess> FProcess; // ended after every reference into it is released
    platform::ComPtr<IUnknown> FObject;
    platform::ComPtr<ITrutina> FDriver;
    platform::ComPtr<IConnectionPoint> FConnectionPoint;
    TEventSink* FSink = nullptr;
    DWORD FCookie = 0;
    bool FConnected = false; // InitNew done and events connected
    unsigned long FThreadId;  // the thread that created the control
    bool FForeignThreadReported = false;
};
