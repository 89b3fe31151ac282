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

// One object of T per thread, made on first use and destroyed when its thread ends, held in the
// system's fiber-local storage. Not thread_local: this toolchain destroys thread_local objects
// after it has freed their storage, so a destructor reads freed memory.
template <class T>
class TThreadObject {
public:
    TThreadObject() : FIndex(FlsAlloc(&Destroy)) {}
    TThreadObject(const TThreadObject&) = delete;
    TThreadObject& operator=(const TThreadObject&) = delete;

    T& Get()
    {
        auto* object = static_cast<T*>(FlsGetValue(FIndex));
        if (!object) {
            object = new T();
            FlsSetValue(FIndex, object);
        }
        return *object;
    }

private:
    static void WINAPI Destroy(void* object) { delete static_cast<T*>(object); }
    DWORD FIndex;
};

} // namespace platform::detail
