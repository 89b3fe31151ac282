#include "app/Program.h"

#include "app/AskAndRegister.h"
#include "app/fmuMain.h"
#include "forms/Application.h"
#include "runtime/exceptions.h"
#include "runtime/numtext.h"

#include <QApplication>
#include <QLocale>
#include <QMessageBox>

#include <memory>

const char* const ApplicationTitle = "Тест: драйвер электронных весов";

void ApplyLocaleFormatSettings()
{
    const QString separator = QLocale::system().decimalPoint();
    if (separator.size() == 1 && separator[0].unicode() < 0x80)
        runtime::FormatSettings().DecimalSeparator = static_cast<char>(separator[0].unicode());
}

namespace {

void ShowStartError(forms::TApplication& application, const QString& message)
{
    QMessageBox::critical(nullptr, application.Title(), message, QMessageBox::Ok);
}

} // namespace

int RunProgram(forms::TApplication& application, const TAskAndRegisterServer& askAndRegister)
{
    application.SetTitle(QString::fromUtf8(ApplicationTitle));
    try {
        auto fmMain = std::make_unique<TfmMain>(askAndRegister);
        QEventLoop loop;
        QObject::connect(fmMain.get(), &TfmMain::closed, &loop, &QEventLoop::quit);
        fmMain->show();
        loop.exec();
    } catch (const runtime::EAbort&) {
        // The operator gave up: no window, no word.
    } catch (const std::exception& e) {
        ShowStartError(application, QString::fromUtf8(e.what()));
    } catch (...) {
        ShowStartError(application, QStringLiteral("Unknown exception"));
    }
    return 0;
}
