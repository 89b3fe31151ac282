// Ponderix: the test bench for the electronic weighing-scale driver.
#include "app/AskAndRegister.h"
#include "app/DriverTrace.h"
#include "app/Program.h"
#include "driver/DriverProcess.h"
#include "forms/Application.h"
#include "platform/commandline.h"
#include "runtime/commandinfo.h"

#include <QApplication>
#include <QMessageBox>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
    // Answered before Qt starts, so that they need no display.
    const std::string usage =
        "usage: " + runtime::CommandName(arguments) + " [--isolated] [Qt's options: -style STYLE, -reverse ...]\n"
        "  tests the electronic weighing-scale driver registered for the class Statera: every driver\n"
        "  operation as a control, and everything the driver reports; asks for the driver's file and\n"
        "  registers it when none can be created\n"
        "  --isolated: the driver runs in a process of its own (Windows; also PONDERIX_ISOLATED=1)\n";
    if (const auto answer = runtime::HelpOrVersion(arguments, usage))
        return std::fputs(answer->c_str(), stdout), 0;
    QApplication qtApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QTranslator qtTranslation;
    forms::InstallQtTranslation(qtTranslation); // the standard buttons in Russian too
    // --isolated or PONDERIX_ISOLATED=1: the driver runs in a process of its own (Windows).
    driver::SetIsolatedMode(std::find(arguments.begin(), arguments.end(), "--isolated") != arguments.end() ||
                            driver::IsolatedModeFromEnvironment());
    forms::TApplication application; // COM for this thread as a single-threaded apartment
    ApplyLocaleFormatSettings();
    ConnectDriverTrace(); // QT_LOGGING_RULES="ponderix.driver.debug=true"
    driver::InstallDriverCrashReport(); // a crash in the driver names the call it was in
    const auto watchdog = StartCallWatchdog(); // PONDERIX_CALL_LIMIT_MS
    if (const std::string recording = DriverRecordingPath(); !recording.empty()) {
        try {
            StartDriverRecording(recording); // PONDERIX_RECORD=<file>
        } catch (const std::exception& e) {
            QMessageBox::critical(nullptr, QString::fromUtf8(ApplicationTitle), QString::fromUtf8(e.what()));
            return 1;
        }
    }
    const int code = RunProgram(application, AskAndRegisterServer);
    StopDriverRecording(); // a normal end: marked in the recording
    return code;
}
