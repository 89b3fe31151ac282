// IUnknown for the common case: a heap object with one interface, born with one reference,
// deleting itself when the last goes. The count is atomic, so references may be taken and
// dropped from several threads. Objects with other lifetimes (static, on the stack, sharing
// another object's count) write their IUnknown out themselves.
#pragma once

#include "platform/ole.h"

#include <atomic>

namespace platform {

// Interface is what QueryInterface hands out for IID_IUnknown and for each of Iids. A class
// implementing a second interface overrides QueryInterface, answers its own IIDs and defers to
// this one for the rest.
template <typename Interface, const IID&... Iids>
class TUnknownImpl : public Interface {
public:
    TUnknownImpl(const TUnknownImpl&) = delete;
    TUnknownImpl& operator=(const TUnknownImpl&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || ((riid == Iids) || ...)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefCount; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --FRefCount;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    TUnknownImpl() = default;
    virtual ~TUnknownImpl() = default;

private:
    std::atomic<ULONG> FRefCount{1};
};

} // namespace platform
