// The small in-process server that the platform tests load through the class registry.
#pragma once

#include "platform/ole.h"

// A counter object: each Increment returns the next value.
struct ICounter : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Increment(LONG* value) = 0;
    // Returns a copy of text allocated by the server module.
    virtual HRESULT STDMETHODCALLTYPE Echo(BSTR text, BSTR* copy) = 0;
};

constexpr IID IID_ICounter = {0x6A1D2F10, 0x3B4C, 0x4D5E, {0x8F, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD}};
// Creates counters.
constexpr CLSID CLSID_TestCounter = {0x6A1D2F11, 0x3B4C, 0x4D5E, {0x8F, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD}};
// Its factory refuses every object with kFactoryFailure.
constexpr CLSID CLSID_FailingFactory = {0x6A1D2F12, 0x3B4C, 0x4D5E, {0x8F, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD}};
// Its factory throws a C++ exception out of CreateInstance.
constexpr CLSID CLSID_ThrowingFactory = {0x6A1D2F14, 0x3B4C, 0x4D5E, {0x8F, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD}};
// Not served by the module at all.
constexpr CLSID CLSID_NotServed = {0x6A1D2F13, 0x3B4C, 0x4D5E, {0x8F, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD}};

constexpr HRESULT kFactoryFailure = static_cast<HRESULT>(0x8004CAFEu);

// Exports besides the standard four, found with dlsym by the tests.
using TestServerAllocBstrFn = BSTR (*)(const OLECHAR* text, UINT length);
using TestServerFreeBstrFn = void (*)(BSTR text);
using TestServerBstrLenFn = UINT (*)(BSTR text);
using TestServerLiveObjectsFn = LONG (*)();
