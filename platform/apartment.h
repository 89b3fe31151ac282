// The single-threaded apartment's call queue.
#pragma once

#include "platform/ole.h"

#include <exception>
#include <functional>
#include <memory>

namespace platform {

// A single-threaded apartment: the thread that called CoInitializeEx(COINIT_APARTMENTTHREADED).
// A worker thread posts calls to it; they run on the apartment's thread, in posting order, when
// its event loop pumps. After CoUninitialize of that thread, posting fails and waiting calls are
// dropped without running.
class Apartment;
using ApartmentRef = std::shared_ptr<Apartment>;

// The apartment of the calling thread, or nullptr when the thread has not entered one.
PLATFORM_API ApartmentRef CurrentApartment();
// Queues fn to run on the apartment's thread. false when the apartment is gone (fn not queued).
PLATFORM_API bool PostToApartment(const ApartmentRef& apartment, std::function<void()> fn);
// Off Windows: a file descriptor of the calling thread's apartment that is readable while calls
// wait (-1 without an apartment). The GUI watches it and then calls PumpApartment.
PLATFORM_API int ApartmentNotifyHandle();
// Runs the calls waiting for the calling thread's apartment; returns how many ran.
PLATFORM_API int PumpApartment();
// Waits up to timeoutMs for posted calls and runs them (for code without an event loop, e.g.
// tests); returns how many ran.
PLATFORM_API int WaitAndPumpApartment(int timeoutMs);
// Where an exception that a posted call raises goes (the GUI's application object sets it); the
// process has one. Without a handler it leaves PumpApartment or WaitAndPumpApartment; on Windows,
// where the system's message dispatch runs the calls and no exception may cross it, it is dropped
// there. Returns the previous handler; an empty function removes it.
using PostedCallExceptionHandler = std::function<void(std::exception_ptr)>;
PLATFORM_API PostedCallExceptionHandler SetPostedCallExceptionHandler(PostedCallExceptionHandler handler);

} // namespace platform
