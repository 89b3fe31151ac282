// Pieces shared between the platform's Windows source files; not part of its interface.
#pragma once

#include "platform/internal.h"

#include <string>
#include <string_view>

#include <windows.h>

namespace platform::detail {

// UTF-8 <-> the system's UTF-16. Invalid input is converted with replacement characters.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

// The system's message for a Win32 error code (FormatMessageW), UTF-8, without the trailing line
// end; empty when the system has none.
std::string SystemMessage(DWORD code);

// A per-thread value of the platform's own, holding an object that the platform destroys when
// the thread ends (its DllMain: thread detach), and the unloading thread's when the module is
// unloaded. Used instead of thread_local, since this toolchain destroys thread_local objects after
// it has freed their storage. Slots are made once, as function-local statics, and never freed
// before the module goes.
class TThreadSlot {
public:
    explicit TThreadSlot(void (*destroy)(void*));
    TThreadSlot(const TThreadSlot&) = delete;
    TThreadSlot& operator=(const TThreadSlot&) = delete;
    void* Get() const;
    void Set(void* object) const;

private:
    DWORD FIndex;
};

// One object of T per thread, made on first use, on a TThreadSlot.
template <class T>
class TThreadObject {
public:
    T& Get()
    {
        auto* object = static_cast<T*>(FSlot.Get());
        if (!object) {
            object = new T();
            FSlot.Set(object);
        }
        return *object;
    }

private:
    static void Destroy(void* object) { delete static_cast<T*>(object); }
    TThreadSlot FSlot{&Destroy};
};

} // namespace platform::detail
