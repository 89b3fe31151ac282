#include "driver/Statera.h"

#include "driver/CallGuard.h"
#include "driver/CallTrace.h"
#include "driver/OleError.h"
#include "platform/apartment.h"
#include "platform/bstr.h"
#include "platform/comobject.h"
#include "platform/comptr.h"
#include "platform/faults.h"
#include "platform/hostevents.h"
#include "runtime/apphook.h"
#include "runtime/exceptions.h"

#include <cstdint>
#include <exception>
#include <string>
#include <thread>

// The event sink connected to the component: Invoke of the data event's dispatch id reaches the
// control while it is attached. The control detaches it before it goes, so a late call does nothing.
// An event raised on another thread than the control's is posted to the control's apartment and
// delivered there, in the order raised; the foreign thread touches nothing of the control.
class TStatera::TEventSink final : public platform::TUnknownImpl<IDispatch, IID_IDispatch, DIID_ITrutinaEvents> {
public:
    explicit TEventSink(TStatera* owner)
        : FOwner(owner), FThread(std::this_thread::get_id()), FApartment(platform::CurrentApartment())
    {
    }

    void Detach() { FOwner = nullptr; }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override
    {
        if (id != DISPID_TRUTINA_DATAEVENT)
            return DISP_E_MEMBERNOTFOUND;
        if (result)
            VariantInit(result);
        if (std::this_thread::get_id() != FThread) [[unlikely]]
            MoveToControlThread();
        else if (FOwner)
            FOwner->FireDataEvent(MovedByTheHost(params));
        return S_OK; // the handler's failures never reach the driver
    }

private:
    ~TEventSink() override = default;

    // An event that the driver host moved from the driver's thread to its apartment's thread
    // names both threads in named arguments (platform/hostevents.h); {} for any other.
    static TStatera::TForeignThread MovedByTheHost(const DISPPARAMS* params)
    {
        TStatera::TForeignThread where;
        if (!params || params->cNamedArgs != 2 || params->cArgs != 2 || !params->rgdispidNamedArgs || !params->rgvarg)
            return where;
        for (UINT i = 0; i < 2; ++i) {
            const VARIANTARG& value = params->rgvarg[i];
            if (value.vt != VT_I4)
                return {};
            const unsigned long thread = static_cast<std::uint32_t>(value.lVal);
            if (params->rgdispidNamedArgs[i] == platform::hostevents::kRaisedOnArgument)
                where.RaisedOn = thread;
            else if (params->rgdispidNamedArgs[i] == platform::hostevents::kCreatedOnArgument)
                where.CreatedOn = thread;
        }
        return where.RaisedOn != 0 && where.CreatedOn != 0 ? where : TStatera::TForeignThread{};
    }

    void MoveToControlThread()
    {
        // Held until the posted call has run, or is dropped with the apartment.
        platform::ComPtr<TEventSink> self = platform::ComPtr<TEventSink>::Share(this);
        const unsigned long raisedOn = platform::CurrentThreadId();
        platform::PostToApartment(FApartment, [self, raisedOn] {
            if (self->FOwner)
                self->FOwner->FireDataEvent({raisedOn, self->FOwner->FThreadId});
        });
    }

    TStatera* FOwner;
    const std::thread::id FThread;
    const platform::ApartmentRef FApartment;
};

TStatera::TStatera() : TStatera(CLSID_Statera) {}

TStatera::TStatera(REFCLSID clsid) : FClassId(clsid), FThreadId(platform::CurrentThreadId())
{
    driver::ClearErrorInfo();
    // CoCreateInstance in its two steps, each timed and named as the driver's calls are.
    platform::ComPtr<IClassFactory> factory;
    HRESULT status;
    {
        driver::TCallInProgress loading(driver::LoadingTheModule, driver::TCallDirection::Setup);
        status = CoGetClassObject(FClassId, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.OutVoid());
    }
    if (SUCCEEDED(status) && !factory)
        status = E_POINTER;
    if (SUCCEEDED(status)) {
        driver::TCallInProgress creating(driver::CreatingTheObject, driver::TCallDirection::Setup);
        status = factory->CreateInstance(nullptr, IID_IUnknown, FObject.OutVoid());
    }
    if (FAILED(status))
        driver::RaiseOleError(status);
    FSink = new TEventSink(this);
}

TStatera::TStatera(REFCLSID clsid, IUnknown* object)
    : FClassId(clsid), FObject(platform::ComPtr<IUnknown>::Share(object)), FThreadId(platform::CurrentThreadId())
{
    if (!FObject)
        throw runtime::EOleException(driver::OleErrorMessage(E_POINTER, u""), E_POINTER);
    FSink = new TEventSink(this);
}

TStatera::TStatera(REFCLSID clsid, std::unique_ptr<driver::TDriverProcess> process)
    : TStatera(clsid, process ? process->Object().Get() : nullptr)
{
    FProcess = std::move(process);
}

TStatera::~TStatera()
{
    // A driver whose process has ended is not asked for anything.
    if (FConnectionPoint && FCookie != 0 && !(FProcess && FProcess->Ended()))
        FConnectionPoint->Unadvise(FCookie);
    FSink->Detach();
    FSink->Release();
    FConnectionPoint.Reset();
    FDriver.Reset();
    FObject.Reset();
}

platform::ComPtr<ITrutina> TStatera::DriverInterface()
{
    if (FDriver)
        return FDriver;
    if (!FConnected) {
        // Complete the control: its state is new (nothing loaded), its events reach us.
        platform::ComPtr<IPersistStreamInit> persist;
        if (SUCCEEDED(FObject.As(IID_IPersistStreamInit, persist))) {
            driver::ClearErrorInfo();
            if (HRESULT status = persist->InitNew(); FAILED(status))
                driver::RaiseOleError(status);
        }
        ConnectEvents();
        FConnected = true;
    }
    platform::ComPtr<ITrutina> trutina;
    if (FAILED(FObject.As(IID_ITrutina, trutina)) || !trutina)
        throw runtime::EIntfCastError();
    FDriver = trutina;
    return FDriver;
}

// A component without the event interface is still usable; it just raises no events.
void TStatera::ConnectEvents()
{
    platform::ComPtr<IConnectionPointContainer> container;
    if (FAILED(FObject.As(IID_IConnectionPointContainer, container)))
        return;
    platform::ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(DIID_ITrutinaEvents, point.Out())) || !point)
        return;
    DWORD cookie = 0;
    if (FAILED(point->Advise(FSink, &cookie)))
        return;
    FConnectionPoint = point;
    FCookie = cookie;
}

void TStatera::FireDataEvent(TForeignThread foreign)
{
    std::string notice;
    if (foreign.RaisedOn != 0 && !FForeignThreadReported) [[unlikely]] {
        FForeignThreadReported = true;
        // Shown in the Russian window's memo as it is, and in the trace and the recording alike.
        notice = "драйвер вызвал DataEvent в своём потоке " + std::to_string(foreign.RaisedOn)
                 + ", а не в потоке, создавшем его (" + std::to_string(foreign.CreatedOn)
                 + "); Ponderix передаёт его события в тот поток";
    }
    // Into the call trace before the handler runs, so that the calls it makes follow it.
    if (driver::DriverCallTraceOn()) [[unlikely]] {
        driver::TDriverCall event;
        event.Member = "DataEvent";
        event.Direction = driver::TCallDirection::Event;
        event.Notice = notice;
        driver::ReportDriverCall(event);
    }
    if (!notice.empty() && OnForeignThreadEvent) [[unlikely]]
        OnForeignThreadEvent(this, notice);
    // A copy: the handler may replace OnDataEvent or destroy this control.
    TNotifyEvent handler = OnDataEvent;
    if (!handler)
        return;
    try {
        handler(this);
    } catch (...) {
        runtime::HandleApplicationException(std::current_exception());
    }
}

namespace {

// The control's published properties: the read-write members of the member table.
void RequirePublished(DISPID id)
{
    const TrutinaMemberInfo* member = FindTrutinaMember(id);
    if (!member || member->Kind != TrutinaMemberKind::ReadWrite)
        throw runtime::EOleException(driver::OleErrorMessage(DISP_E_MEMBERNOTFOUND, u""), DISP_E_MEMBERNOTFOUND);
}

// A failed IDispatch::Invoke: the exception's own status and text when the component reported one.
[[noreturn]] void RaiseInvokeError(HRESULT status, EXCEPINFO& info)
{
    if (status == DISP_E_EXCEPTION && info.pfnDeferredFillIn)
        info.pfnDeferredFillIn(&info);
    // The exception's texts are ours now: freed on every path.
    platform::BStr source(info.bstrSource), description(info.bstrDescription), help(info.bstrHelpFile);
    if (status != DISP_E_EXCEPTION)
        driver::RaiseOleError(status);
    HRESULT code = info.scode != 0 ? info.scode : DISP_E_EXCEPTION;
    throw runtime::EOleException(driver::OleErrorMessage(code, description.Text()), code);
}

} // namespace

platform::ComPtr<IDispatch> TStatera::Dispatch() const
{
    platform::ComPtr<IDispatch> dispatch;
    if (FAILED(FObject.As(IID_IDispatch, dispatch)) || !dispatch)
        throw runtime::EIntfCastError();
    return dispatch;
}

VARIANT TStatera::GetProperty(DISPID id)
{
    RequirePublished(id);
    platform::ComPtr<IDispatch> dispatch = Dispatch();
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{};
    EXCEPINFO info{};
    UINT argErr = 0;
    driver::ClearErrorInfo();
    HRESULT status = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, &info,
                                      &argErr);
    if (FAILED(status)) {
        VariantClear(&result);
        RaiseInvokeError(status, info);
    }
    return result;
}

void TStatera::SetProperty(DISPID id, const VARIANT& value)
{
    RequirePublished(id);
    platform::ComPtr<IDispatch> dispatch = Dispatch();
    VARIANT argument = value; // a shallow copy: Invoke does not own or change its arguments
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&argument, &named, 1, 1};
    EXCEPINFO info{};
    UINT argErr = 0;
    driver::ClearErrorInfo();
    HRESULT status = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &info,
                                      &argErr);
    if (FAILED(status))
        RaiseInvokeError(status, info);
}
