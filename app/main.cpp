// Ponderix: the test bench for the electronic weighing-scale driver.
#include "app/AskAndRegister.h"
#include "app/DriverTrace.h"
#include "app/Program.h"
#include "driver/DriverProcess.h"
#include "forms/Application.h"
#include "platform/commandline.h"

#include <QApplication>
#include <QMessageBox>
#include <QTranslator>

#include <algorithm>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QApplication qtApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QTranslator qtTranslation;
    forms::InstallQtTranslation(qtTranslation); // the standard buttons in Russian too
    // --isolated or PONDERIX_ISOLATED=1: the driver runs in a process of its own (Windows).
    const std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
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
