// The scriptable fake scale driver: a real server module (FakeTrutina.dll) serving CLSID_Statera.
// Tests link to it directly, so CoCreateInstance (which loads the registered path) and the test
// share one loaded copy and one module-wide state: every instance answers from the same script
// and records into the same call log.
//
// Reads return the value set for the member (zero/empty by default). Writes store their argument
// (unless refused). Methods return the LONG set for the method's name. Per member a test can
// script a result (ResultCode and ResultDescription set after the call), a failure status with or
// without error info, and a callback run inside the call.
#pragma once

#include "platform/export.h"
#include "platform/ole.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if defined(FAKEDRIVER_BUILDING)
#define FAKEDRIVER_API PONDERIX_EXPORT
#else
#define FAKEDRIVER_API PONDERIX_IMPORT
#endif

namespace fakedriver {

// ---------------------------------------------------------------- registration
// The module's own exports, for tests that register it without loading it again.
FAKEDRIVER_API HRESULT Register();   // DllRegisterServer
FAKEDRIVER_API HRESULT Unregister(); // DllUnregisterServer
// The file of the loaded fake module.
FAKEDRIVER_API std::string ModulePath();

// ---------------------------------------------------------------- script
// Back to defaults: every value zero or empty, no scripts, empty log, ITrutina offered.
// Live instances stay (and keep their sinks).
FAKEDRIVER_API void Reset();

// The value every read of the member returns (and a write replaces). The member's type must
// match (std::invalid_argument otherwise). For a method, SetLong sets the result it returns.
FAKEDRIVER_API void SetLong(std::string_view member, LONG value);
FAKEDRIVER_API void SetFlag(std::string_view member, bool value); // -1 / 0
FAKEDRIVER_API void SetFlagRaw(std::string_view member, VARIANT_BOOL value);
FAKEDRIVER_API void SetReal(std::string_view member, double value);
FAKEDRIVER_API void SetMoney(std::string_view member, std::int64_t value); // amount x 10000
FAKEDRIVER_API void SetText(std::string_view member, std::u16string_view value);
FAKEDRIVER_API void SetTextUtf8(std::string_view member, std::string_view value);

// What the member holds now (as set, or as the last write stored).
FAKEDRIVER_API LONG GetLong(std::string_view member);
FAKEDRIVER_API VARIANT_BOOL GetFlagRaw(std::string_view member);
FAKEDRIVER_API double GetReal(std::string_view member);
FAKEDRIVER_API std::int64_t GetMoney(std::string_view member);
FAKEDRIVER_API std::u16string GetText(std::string_view member);
FAKEDRIVER_API std::string GetTextUtf8(std::string_view member);

// After each call of member (read, write or method) ResultCode := code and
// ResultDescription := description.
FAKEDRIVER_API void ScriptResult(std::string_view member, LONG code, std::string_view description);

// The call of member returns status (a failure). With errorInfo, the description is attached as
// error info (CreateErrorInfo/SetErrorInfo); without, the thread's error info is not touched (as
// by a component that attaches none). once:
// only the next call fails. A failing call stores nothing and sets no result.
FAKEDRIVER_API void ScriptFailure(std::string_view member, HRESULT status,
                                  std::optional<std::string> errorInfo = std::nullopt, bool once = false);

// Writes of member are recorded but do not store their value.
FAKEDRIVER_API void RefuseWrites(std::string_view member);

// Runs inside every call of member, after it is logged and before it answers.
FAKEDRIVER_API void OnCall(std::string_view member, std::function<void()> callback);

// Whether QueryInterface offers ITrutina (and IDispatch).
FAKEDRIVER_API void OfferTrutina(bool offer);

// ---------------------------------------------------------------- events
// Raises the data event on every live instance now, on the calling thread; returns the number
// of sinks called.
FAKEDRIVER_API int RaiseDataEvent();
// Raises it from a worker thread through the calling thread's apartment
// (platform::PostToApartment): it runs when that apartment pumps. false when the calling thread
// has no apartment. The worker has finished posting when this returns.
FAKEDRIVER_API bool RaiseDataEventFromWorker();

// ---------------------------------------------------------------- the call log
enum class TCallKind { Read, Write, Call };

struct TCallRecord {
    std::string Member;
    TCallKind Kind;
    // Written value: integers in decimal, flags raw (-1/0), doubles in the shortest round-trip
    // form, money as the raw 64-bit integer, text quoted in UTF-8. Empty for reads and methods.
    std::string Argument;
    // "get ResultCode", "put LockDevices -1", "call ReadWeight".
    FAKEDRIVER_API std::string Text() const;
};

FAKEDRIVER_API std::vector<TCallRecord> Calls();
FAKEDRIVER_API std::vector<std::string> CallTexts();
FAKEDRIVER_API void ClearCalls();

// ---------------------------------------------------------------- lifetime
// Live component instances of the fake module.
FAKEDRIVER_API int LiveInstances();
// Every live object of the module: instances, class factories, enumerators.
FAKEDRIVER_API long LiveObjects();
// IPersistStreamInit::InitNew calls received since Reset.
FAKEDRIVER_API int InitNewCalls();

} // namespace fakedriver
