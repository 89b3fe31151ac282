// ComPtr: a counted interface reference.
#pragma once

#include "platform/ole.h"

#include <cstddef>
#include <utility>

namespace platform {

// A counted interface reference: AddRef on copy, Release on destruction.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a reference the caller already holds (no AddRef).
    static ComPtr Attach(T* p) { ComPtr r; r.FPtr = p; return r; }
    // Adds a reference of its own.
    static ComPtr Share(T* p) { if (p) p->AddRef(); return Attach(p); }
    ComPtr(const ComPtr& o) : FPtr(o.FPtr) { if (FPtr) FPtr->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : FPtr(o.FPtr) { o.FPtr = nullptr; }
    ComPtr& operator=(ComPtr o) noexcept { std::swap(FPtr, o.FPtr); return *this; }
    ~ComPtr() { Reset(); }

    T* Get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    // For out parameters: releases what is held and hands out the slot.
    T** Out() { Reset(); return &FPtr; }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    T* Detach() { T* p = FPtr; FPtr = nullptr; return p; }
    void Reset() { if (FPtr) { T* p = FPtr; FPtr = nullptr; p->Release(); } }
    // QueryInterface into another ComPtr.
    template <typename U>
    HRESULT As(REFIID iid, ComPtr<U>& out) const
    {
        if (!FPtr) return E_POINTER;
        return FPtr->QueryInterface(iid, out.OutVoid());
    }

private:
    T* FPtr = nullptr;
};

} // namespace platform
