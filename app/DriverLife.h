// The driver the main window works with, from its creation to its end: the control and the wrapper
// created through the registration check, created again once the end of the driver's own process
// has been told (isolated mode), and the prompt that lets the operator end that process while a
// call to it hangs.
#pragma once

#include "driver/Registration.h"
#include "driver/ScaleX.h"
#include "driver/Statera.h"
#include "platform/comptr.h"
#include "platform/outgoingcalls.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QWidget;

class TDriverLife {
public:
    // What the control's events go to; both run on the window's thread.
    struct TEvents {
        std::function<void(TStatera*)> OnDataEvent;
        // A driver that raises its events on a thread of its own: the notice, once.
        std::function<void(const std::string&)> OnForeignThreadEvent;
    };

    // The prompt is a child of window and bears its title.
    TDriverLife(TAskAndRegisterServer askAndRegister, QWidget* window, TEvents events);
    // Removes the hang prompt and the control's events, then ends the wrapper and the control.
    ~TDriverLife();
    TDriverLife(const TDriverLife&) = delete;
    TDriverLife& operator=(const TDriverLife&) = delete;

    // Creates the control and the wrapper (the registration check first); the checked instance
    // is handed back in registered (in-process only). A start-up that raises leaves the driver
    // as it was.
    void Create(platform::ComPtr<ITrutina>& registered);
    // Creates the driver again when the end of its own process has been told; true when it did.
    bool Recreate();
    // In isolated mode: from now on, a call to the driver's own process that the watchdog has
    // found overdue asks the operator whether to wait on or to end that process.
    void InstallHangPrompt();

    TScaleX& Scale() { return *FScale; }

private:
    // While a call to the driver's own process waits: once the watchdog has found it overdue,
    // the operator chooses to wait on (asked again after another limit) or to end that process.
    platform::OutgoingCallChoice AskAboutHangingCall();

    TAskAndRegisterServer FAskAndRegister;
    QWidget* FWindow;
    TEvents FEvents;
    bool FPromptInstalled = false;
    // Declared before FScale: destroyed after it.
    std::unique_ptr<TStatera> FControl;
    std::unique_ptr<TScaleX> FScale;
    // The hanging call the operator was last asked about, and when.
    std::uint64_t FAskedCall = 0;
    std::chrono::steady_clock::time_point FFirstAskedAt, FLastAskedAt;
};
