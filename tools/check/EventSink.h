// An event sink of the checker's own: an IDispatch that counts the references the object holds on
// it and the events it receives, and notes a foreign thread. It never deletes itself: a driver
// that keeps it past the end of its connection may still call it, so Retire frees it only once no
// reference is left, and otherwise leaves it alive.
#pragma once

#include "platform/ole.h"

#include <atomic>

namespace check {

class TEventSink final : public IDispatch {
public:
    explicit TEventSink(REFIID events);
    TEventSink(const TEventSink&) = delete;
    TEventSink& operator=(const TEventSink&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
    ULONG STDMETHODCALLTYPE Release() override { return --FReferences; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excepInfo, UINT* argErr) override;

    // References held by others (the checker holds none once it has handed the sink over).
    long References() const { return FReferences.load(); }
    long Events() const { return FEvents.load(); }

    // Frees the sink when nobody holds it any more; otherwise it stays for the driver's late calls.
    static void Retire(TEventSink* sink);

private:
    ~TEventSink() = default;
    IID FInterface;
    std::atomic<long> FReferences{0};
    std::atomic<long> FEvents{0};
};

} // namespace check
