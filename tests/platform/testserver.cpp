// A small in-process server: two classes, a live-object count, BSTR helpers across the module edge.
#include "platform/classregistry.h"
#include "platform/comobject.h"
#include "platform/module.h"
#include "testserver.h"

#include <atomic>
#include <stdexcept>

namespace {

std::atomic<LONG> gLiveObjects{0};
std::atomic<LONG> gServerLocks{0};

class TCounter final : public platform::TUnknownImpl<ICounter, IID_ICounter> {
public:
    TCounter() { ++gLiveObjects; }

    HRESULT STDMETHODCALLTYPE Increment(LONG* value) override
    {
        if (!value)
            return E_POINTER;
        *value = ++FValue;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Echo(BSTR text, BSTR* copy) override
    {
        if (!copy)
            return E_POINTER;
        *copy = SysAllocStringLen(text, SysStringLen(text));
        return S_OK;
    }

private:
    ~TCounter() override { --gLiveObjects; }
    LONG FValue = 0;
};

// A class factory living as long as the module; it does not count as an object.
class TFactory final : public IClassFactory {
public:
    enum class Kind { Works, Fails, Throws };
    explicit TFactory(Kind kind) : FKind(kind) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (FKind == Kind::Fails)
            return kFactoryFailure;
        if (FKind == Kind::Throws)
            throw std::runtime_error("factory broke");
        auto* counter = new TCounter;
        const HRESULT hr = counter->QueryInterface(riid, ppv);
        counter->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        gServerLocks += lock ? 1 : -1;
        return S_OK;
    }

private:
    Kind FKind;
};

TFactory gCounterFactory(TFactory::Kind::Works);
TFactory gFailingFactory(TFactory::Kind::Fails);
TFactory gThrowingFactory(TFactory::Kind::Throws);

} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv)
{
    if (clsid == CLSID_TestCounter)
        return gCounterFactory.QueryInterface(riid, ppv);
    if (clsid == CLSID_FailingFactory)
        return gFailingFactory.QueryInterface(riid, ppv);
    if (clsid == CLSID_ThrowingFactory)
        return gThrowingFactory.QueryInterface(riid, ppv);
    if (ppv)
        *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return gLiveObjects == 0 && gServerLocks == 0 ? S_OK : S_FALSE; }

// Names this module's file: its address is this module's own, where the address of the exported
// DllRegisterServer may resolve to another server module's export of that name.
static const char ModuleAnchor = 0;

STDAPI DllRegisterServer()
{
    const std::string path = platform::ModulePathOf(&ModuleAnchor);
    if (path.empty())
        return SELFREG_E_CLASS;
    HRESULT hr = platform::RegisterInprocServer(CLSID_TestCounter, path, "Apartment", "Test counter");
    if (SUCCEEDED(hr))
        hr = platform::RegisterInprocServer(CLSID_FailingFactory, path, "Apartment", "Failing factory");
    if (SUCCEEDED(hr))
        hr = platform::RegisterInprocServer(CLSID_ThrowingFactory, path, "Apartment", "Throwing factory");
    return hr;
}

STDAPI DllUnregisterServer()
{
    HRESULT result = S_OK;
    for (const CLSID& clsid : {CLSID_TestCounter, CLSID_FailingFactory, CLSID_ThrowingFactory})
        if (const HRESULT hr = platform::UnregisterInprocServer(clsid); FAILED(hr))
            result = hr;
    return result;
}

extern "C" BSTR TestServerAllocBstr(const OLECHAR* text, UINT length) { return SysAllocStringLen(text, length); }
extern "C" void TestServerFreeBstr(BSTR text) { SysFreeString(text); }
extern "C" UINT TestServerBstrLen(BSTR text) { return SysStringLen(text); }
extern "C" LONG TestServerLiveObjects() { return gLiveObjects; }
