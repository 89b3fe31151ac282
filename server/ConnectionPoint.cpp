#include "server/ConnectionPoint.h"

#include "driver/Trutina_TLB.h"
#include "platform/comptr.h"

namespace trutina_server {

TConnectionPoint::~TConnectionPoint()
{
    for (auto& s : FSinks)
        s.Sink->Release();
}

HRESULT TConnectionPoint::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT TConnectionPoint::GetConnectionInterface(IID* iid)
{
    if (!iid)
        return E_POINTER;
    *iid = DIID_ITrutinaEvents;
    return S_OK;
}

HRESULT TConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** cpc)
{
    if (!cpc)
        return E_POINTER;
    *cpc = &FContainer;
    FContainer.AddRef();
    return S_OK;
}

HRESULT TConnectionPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;
    platform::ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(DIID_ITrutinaEvents, dispatch.OutVoid())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.OutVoid())))
        return CONNECT_E_CANNOTCONNECT;
    std::lock_guard lock(FSinkLock);
    if (FSinks.size() >= MaxSinks)
        return CONNECT_E_ADVISELIMIT;
    *cookie = FNextCookie++;
    FSinks.push_back({*cookie, dispatch.Detach()});
    return S_OK;
}

HRESULT TConnectionPoint::Unadvise(DWORD cookie)
{
    IDispatch* released = nullptr;
    {
        std::lock_guard lock(FSinkLock);
        for (auto it = FSinks.begin(); it != FSinks.end(); ++it)
            if (it->Cookie == cookie) {
                released = it->Sink;
                FSinks.erase(it);
                break;
            }
    }
    if (!released)
        return CONNECT_E_NOCONNECTION;
    released->Release(); // outside the lock: the sink's destruction may call back
    return S_OK;
}

HRESULT TConnectionPoint::EnumConnections(IEnumConnections** out)
{
    if (!out)
        return E_POINTER;
    std::vector<CONNECTDATA> items = SnapshotSinks();
    *out = new (std::nothrow) TEnumConnections(items);
    for (auto& d : items)
        d.pUnk->Release();
    return *out ? S_OK : E_OUTOFMEMORY;
}

std::vector<CONNECTDATA> TConnectionPoint::SnapshotSinks() const
{
    std::lock_guard lock(FSinkLock);
    std::vector<CONNECTDATA> out;
    out.reserve(FSinks.size());
    for (const auto& s : FSinks) {
        s.Sink->AddRef();
        out.push_back({s.Sink, s.Cookie});
    }
    return out;
}

bool TConnectionPoint::IsAdvised(DWORD cookie) const
{
    std::lock_guard lock(FSinkLock);
    for (const auto& s : FSinks)
        if (s.Cookie == cookie)
            return true;
    return false;
}

int TConnectionPoint::Fire()
{
    // Called on a snapshot, so a sink may Unadvise from inside its Invoke.
    std::vector<CONNECTDATA> sinks = SnapshotSinks();
    int called = 0;
    for (auto& s : sinks) {
        if (IsAdvised(s.dwCookie)) { // an earlier sink may have unadvised it
            DISPPARAMS none{};
            static_cast<IDispatch*>(s.pUnk)->Invoke(DISPID_TRUTINA_DATAEVENT, IID_NULL, LOCALE_USER_DEFAULT,
                                                     DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
            ++called;
        }
        s.pUnk->Release();
    }
    return called;
}

} // namespace trutina_server

