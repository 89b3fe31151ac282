// Ponderix: the test bench for the electronic weighing-scale driver.
#include "app/AskAndRegister.h"
#include "app/DriverTrace.h"
#include "app/Program.h"
#include "forms/Application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char** argv)
{
    QApplication qtApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // The standard buttons and dialogs in the user's language, where Qt's translations are installed.
    QTranslator qtTranslations;
    if (qtTranslations.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslations);
    forms::TApplication application; // COM for this thread as a single-threaded apartment
    ApplyLocaleFormatSettings();
    ConnectDriverTrace(); // QT_LOGGING_RULES="ponderix.driver.debug=true"
    return RunProgram(application, AskAndRegisterServer);
}
