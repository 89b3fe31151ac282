// Ponderix: the test bench for the electronic weighing-scale driver.
#include "app/AskAndRegister.h"
#include "app/DriverTrace.h"
#include "app/Program.h"
#include "forms/Application.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication qtApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    forms::TApplication application; // COM for this thread as a single-threaded apartment
    ApplyLocaleFormatSettings();
    ConnectDriverTrace(); // QT_LOGGING_RULES="ponderix.driver.debug=true"
    return RunProgram(application, AskAndRegisterServer);
}
