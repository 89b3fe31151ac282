// Error info objects and the per-thread error-info slot.
#include "platform/comobject.h"
#include "platform/ole.h"

#ifndef _WIN32

#include <new>

namespace {

// Implements both faces of an error info object: ICreateErrorInfo fills it, IErrorInfo reads it.
class TErrorInfo final : public platform::TUnknownImpl<IErrorInfo, IID_IErrorInfo>, public ICreateErrorInfo {
    using TBase = platform::TUnknownImpl<IErrorInfo, IID_IErrorInfo>;

public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv || riid != IID_ICreateErrorInfo)
            return TBase::QueryInterface(riid, ppv);
        *ppv = static_cast<ICreateErrorInfo*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return TBase::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return TBase::Release(); }

    // IErrorInfo
    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override
    {
        if (!guid)
            return E_INVALIDARG;
        *guid = FGuid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return CopyOut(FSource, out); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return CopyOut(FDescription, out); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return CopyOut(FHelpFile, out); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override
    {
        if (!out)
            return E_INVALIDARG;
        *out = FHelpContext;
        return S_OK;
    }

    // ICreateErrorInfo
    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override
    {
        FGuid = guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return CopyIn(text, FSource); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override { return CopyIn(text, FDescription); }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return CopyIn(text, FHelpFile); }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override
    {
        FHelpContext = context;
        return S_OK;
    }

private:
    ~TErrorInfo() override
    {
        SysFreeString(FSource);
        SysFreeString(FDescription);
        SysFreeString(FHelpFile);
    }

    static HRESULT CopyIn(LPOLESTR text, BSTR& field)
    {
        BSTR copy = nullptr;
        if (text) {
            copy = SysAllocString(text);
            if (!copy)
                return E_OUTOFMEMORY;
        }
        SysFreeString(field);
        field = copy;
        return S_OK;
    }
    static HRESULT CopyOut(BSTR field, BSTR* out)
    {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        if (!field)
            return S_OK;
        *out = SysAllocStringLen(field, SysStringLen(field));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    GUID FGuid{};
    BSTR FSource = nullptr;
    BSTR FDescription = nullptr;
    BSTR FHelpFile = nullptr;
    DWORD FHelpContext = 0;
};

// The calling thread's error info; released when the thread ends.
struct ErrorSlot {
    IErrorInfo* Info = nullptr;
    ~ErrorSlot() { Replace(nullptr); }
    void Replace(IErrorInfo* next)
    {
        IErrorInfo* old = Info;
        Info = next;
        if (old)
            old->Release();
    }
};
thread_local ErrorSlot tErrorSlot;

} // namespace

extern "C" HRESULT CreateErrorInfo(ICreateErrorInfo** out)
{
    if (!out)
        return E_INVALIDARG;
    auto* info = new (std::nothrow) TErrorInfo;
    *out = info;
    return info ? S_OK : E_OUTOFMEMORY;
}

extern "C" HRESULT SetErrorInfo(ULONG, IErrorInfo* info)
{
    if (info)
        info->AddRef();
    tErrorSlot.Replace(info);
    return S_OK;
}

extern "C" HRESULT GetErrorInfo(ULONG, IErrorInfo** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = tErrorSlot.Info;
    tErrorSlot.Info = nullptr;
    return *out ? S_OK : S_FALSE;
}

#endif // !_WIN32
