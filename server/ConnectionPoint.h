// The connection point of the data event (DIID_ITrutinaEvents) and the snapshot enumerators of
// connections and connection points.
#pragma once

#include "server/Module.h"

#include <mutex>
#include <vector>

namespace trutina_server {

// Lives inside its container as a member and shares the container's reference count.
class TConnectionPoint final : public IConnectionPoint {
public:
    // Most sinks one point accepts; Advise beyond it gives CONNECT_E_ADVISELIMIT.
    static constexpr std::size_t MaxSinks = 16;

    explicit TConnectionPoint(IConnectionPointContainer& container) : FContainer(container) {}
    ~TConnectionPoint();
    TConnectionPoint(const TConnectionPoint&) = delete;
    TConnectionPoint& operator=(const TConnectionPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return FContainer.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return FContainer.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** cpc) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

    // Invokes the data event on every advised sink, on the calling thread. The caller holds a
    // reference to the container. Returns the number of sinks called.
    int Fire();

private:
    struct TSink {
        DWORD Cookie;
        IDispatch* Sink; // counted
    };

    std::vector<CONNECTDATA> SnapshotSinks() const; // pUnk counted
    bool IsAdvised(DWORD cookie) const;

    IConnectionPointContainer& FContainer;
    mutable std::mutex FSinkLock;
    std::vector<TSink> FSinks;
    DWORD FNextCookie = 1;
};

// A counted snapshot enumerator for IEnumConnections and IEnumConnectionPoints.
template <typename IEnum, typename Item, const IID& Iid>
class TEnumerator final : public platform::TUnknownImpl<IEnum, Iid> {
public:
    explicit TEnumerator(std::vector<Item> items, std::size_t pos = 0) : FItems(std::move(items)), FPos(pos)
    {
        for (auto& item : FItems)
            Unknown(item)->AddRef();
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override
    {
        if (!out || (count != 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        for (; n < count && FPos < FItems.size(); ++n, ++FPos) {
            out[n] = FItems[FPos];
            Unknown(out[n])->AddRef();
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        std::size_t left = FItems.size() - FPos;
        FPos += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        FPos = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnum** out) override
    {
        if (!out)
            return E_POINTER;
        *out = new (std::nothrow) TEnumerator(FItems, FPos);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~TEnumerator() override
    {
        for (auto& item : FItems)
            Unknown(item)->Release();
    }
    static IUnknown* Unknown(const CONNECTDATA& d) { return d.pUnk; }
    static IUnknown* Unknown(IConnectionPoint* p) { return p; }

    TLiveObject FLive;
    std::vector<Item> FItems;
    std::size_t FPos;
};

using TEnumConnections = TEnumerator<IEnumConnections, CONNECTDATA, IID_IEnumConnections>;
using TEnumConnectionPoints = TEnumerator<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints>;

} // namespace trutina_server
