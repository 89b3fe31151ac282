// The program: title, main window, message loop; a failed start shows one error message box.
#pragma once

#include "driver/Registration.h"

namespace forms {
class TApplication;
}

// The application's title, also the main window's caption.
extern const char* const ApplicationTitle;

// Fills the format settings from the user's locale.
void ApplyLocaleFormatSettings();

// Runs the program on an existing application object: sets the title, creates the main window
// (which checks the driver registration through askAndRegister), shows it and runs the message
// loop until it closes. A failure to start is shown in one error message box (a silent abort in
// none). Returns the exit code: 0 in every case.
int RunProgram(forms::TApplication& application, const TAskAndRegisterServer& askAndRegister);
