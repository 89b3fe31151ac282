// The misbehaving test driver: a real server module (RogueTrutina.dll) serving CLSID_Statera that
// breaks the rules on purpose, member by member, as the environment variable PONDERIX_ROGUE_DRIVER
// says when an object is created (so that a driver in a process of its own is told the same way):
//
//   PONDERIX_ROGUE_DRIVER="ReadWeight=crash;Weight=hang:8000;put UnitPrice=throw"
//
// A member's rule applies to its reads and writes; "get " or "put " before the name limits it to
// one of them.
//   crash             a write through a pointer just past null (SIGSEGV, access violation)
//   thread-crash:MS   the call returns; MS milliseconds later a thread of the driver's own crashes
//   exit:CODE         the process ends at once with CODE, as by ExitProcess (no clean-up)
//   c-exit:CODE       the C library's exit(CODE), as a driver that calls exit() (its handlers run)
//   hang:MS           the call returns after MS milliseconds
//   throw             a C++ exception out of the call
//   null              a text read answers a null BSTR
//   huge:N            a text read answers N characters
//   thread-events:N   a thread of the driver's own raises N data events, then the call returns
//   late-thread-event:MS  MS milliseconds after the call a thread of the driver's own raises one data event
//   call-events:N     N data events raised inside the call, on the caller's thread
//   late-events       the sinks are kept, and raised once more after the object was released
//   fail              the call fails with E_FAIL
//   refuse:CODE       a write or method is refused: ResultCode CODE with a description
//   refuse-silently:CODE   ... without a description
//   refuse-and-change:CODE ... with a description, and an integer property takes the value all the same
//   miscount          AddDevice or DeleteDevice succeeds without changing the device list
//   dangle            DeleteDevice right after AddDevice leaves the deleted device current: a ReadWeight
//                     next crashes (any other write or method first selects a device again)
//
// The COM operations misbehave by the same variable ("Invoke=disagree"):
//   QueryInterface=split-identity   IUnknown answered with another pointer after the object's first
//   QueryInterface=keep-out         a refusal leaves the out pointer as it was
//   QueryInterface=null-out-crash   a null out pointer crashes it
//   QueryInterface=null-out-invalidarg  a null out pointer answered E_INVALIDARG (not E_POINTER)
//   QueryInterface=unstable         IConnectionPointContainer refused every second time it is asked
//   Release=leak                    the last Release leaves the object alive, its sinks held
//   DllCanUnloadNow=always          S_OK while objects live
//   CreateInstance=refuse-interface an outer object with another interface than IUnknown refused
//                                   with E_NOINTERFACE
//   CreateInstance=wrong-refusal    an outer object refused with E_INVALIDARG
//   CreateInstance=ignore-outer     an outer object taken and ignored: a plain object, no delegation
//   CreateInstance=hang             never returns (a minute)
//   DllGetClassObject=hang          never returns (a minute), as a module that hangs while it loads
//   GetTypeInfoCount=two            answers 2
//   GetTypeInfoCount=notimpl        answers E_NOTIMPL
//   GetIDsOfNames=shifted           every member's dispatch id + 100 (Invoke takes them)
//   GetIDsOfNames=case-sensitive    a name in another case than the table's is unknown
//   GetIDsOfNames=wrong             every member's dispatch id + 100 (Invoke does not take them)
//   ResultCode=stale                a success leaves ResultCode and ResultDescription as they were
//   Invoke=no-type-check            a write of an object is taken
//   Invoke=disagree                 an integer read through Invoke answers one more than the vtable
//   Unadvise=keep-reference         the sink is not released
//   Unadvise=late-event             one more data event reaches the sink after Unadvise
//   Unadvise=unknown-fail           a cookie it never gave refused with E_FAIL
//   Unadvise=keep-pointer           the sink is released but kept: the object's later events reach it
//
// Every other member answers zero or empty, ResultCode 0 (the last write's or method's result, which
// a method also answers as its integer result); the
// device list is kept (DeviceCount, CurrentDeviceIndex, CurrentDeviceNumber = index + 1, AddDevice,
// DeleteDevice), a selection of no device refused with a description. A call on a thread other than the one
// that created the object answers RPC_E_WRONG_THREAD, as the system's marshalling would.
#pragma once

#include "platform/export.h"
#include "platform/ole.h"

#if defined(ROGUEDRIVER_BUILDING)
#define ROGUEDRIVER_API PONDERIX_EXPORT
#else
#define ROGUEDRIVER_API PONDERIX_IMPORT
#endif

namespace roguedriver {

inline constexpr const char* ConfigVariable = "PONDERIX_ROGUE_DRIVER";

ROGUEDRIVER_API HRESULT Register();   // DllRegisterServer
ROGUEDRIVER_API HRESULT Unregister(); // DllUnregisterServer
// Calls answered RPC_E_WRONG_THREAD since the module was loaded.
ROGUEDRIVER_API long WrongThreadCalls();
// Data events raised since the module was loaded.
ROGUEDRIVER_API long EventsRaised();

} // namespace roguedriver
