#include "app/DriverLife.h"

#include "app/DriverTrace.h"
#include "driver/CallGuard.h"
#include "driver/DriverProcess.h"
#include "forms/Text.h"
#include "platform/comptr.h"
#include "platform/outgoingcalls.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>

using forms::Text;

TDriverLife::TDriverLife(TAskAndRegisterServer askAndRegister, QWidget* window, TEvents events)
    : FAskAndRegister(std::move(askAndRegister)), FWindow(window), FEvents(std::move(events))
{
}

TDriverLife::~TDriverLife()
{
    if (FPromptInstalled)
        platform::SetOutgoingCallHandler({});
    if (FControl) {
        FControl->OnDataEvent = nullptr;
        FControl->OnForeignThreadEvent = nullptr;
    }
    FScale.reset();
    FControl.reset();
}

void TDriverLife::Create(platform::ComPtr<ITrutina>& registered)
{
    // Built aside and only then taken: a start-up that fails leaves the window's driver as it was.
    std::unique_ptr<TStatera> control;
    if (driver::IsolatedMode()) {
        control = std::make_unique<TStatera>(CLSID_Statera, EnsureIsolatedDriverRegistered(FAskAndRegister));
    } else {
        EnsureDriverRegistered(registered, FAskAndRegister);
        control = std::make_unique<TStatera>();
    }
    control->OnDataEvent = [this](TStatera* Sender) { FEvents.OnDataEvent(Sender); };
    control->OnForeignThreadEvent = [this](TStatera*, const std::string& Notice) { FEvents.OnForeignThreadEvent(Notice); };
    platform::ComPtr<ITrutina> driver = control->DriverInterface();
    if (const driver::TDriverProcess* process = control->Process())
        qCDebug(lcDriver).noquote() << QStringLiteral("the driver runs in a %1-bit host, process %2")
                                           .arg(process->Bitness())
                                           .arg(process->ProcessId());
    RecordDriverHeader(driver.Get(), CLSID_Statera);
    auto scale = std::make_unique<TScaleX>(driver.Get(), control->Process());
    FScale.reset();
    FControl = std::move(control);
    FScale = std::move(scale);
}

bool TDriverLife::Recreate()
{
    if (!FControl || !FControl->Process() || !FControl->Process()->EndTold())
        return false;
    platform::ComPtr<ITrutina> registered;
    Create(registered);
    return true;
}

void TDriverLife::InstallHangPrompt()
{
    if (!driver::IsolatedMode())
        return;
    platform::SetOutgoingCallHandler([this] { return AskAboutHangingCall(); });
    FPromptInstalled = true;
}

platform::OutgoingCallChoice TDriverLife::AskAboutHangingCall()
{
    using Clock = std::chrono::steady_clock;
    driver::TDriverProcess* process = FControl ? FControl->Process() : nullptr;
    driver::TCallState call;
    if (!process || !driver::CurrentCall(call) || !call.Overdue)
        return platform::OutgoingCallChoice::Wait;
    const std::chrono::milliseconds limit = driver::CallLimitFromEnvironment();
    const Clock::time_point now = Clock::now();
    if (call.Number == FAskedCall && now - FLastAskedAt < limit)
        return platform::OutgoingCallChoice::Wait;
    if (call.Number != FAskedCall) {
        FAskedCall = call.Number;
        FFirstAskedAt = now;
    }
    // The watchdog found it overdue at the limit: it has run at least that long, and since.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit + (now - FFirstAskedAt)).count();
    QMessageBox prompt(QMessageBox::Warning, FWindow->windowTitle(),
                       Text("Драйвер не отвечает: вызов (%1) идёт уже %2 с.")
                           .arg(QString::fromStdString(driver::CallWords(call.Member, call.Direction)))
                           .arg(seconds),
                       QMessageBox::NoButton, FWindow);
    prompt.setInformativeText(Text("Ждать дальше или завершить процесс драйвера? "
                                   "Следующая операция создаст драйвер заново."));
    QPushButton* wait = prompt.addButton(Text("Ждать"), QMessageBox::RejectRole);
    QPushButton* end = prompt.addButton(Text("Завершить процесс драйвера"), QMessageBox::DestructiveRole);
    prompt.setDefaultButton(wait);
    prompt.setEscapeButton(wait);
    // Not exec(): under Wine a dialog's own loop, run inside the system's wait for the call,
    // did not end when a button closed it; a plain loop that ends with the dialog does.
    QEventLoop loop;
    QObject::connect(&prompt, &QDialog::finished, &loop, &QEventLoop::quit);
    prompt.setWindowModality(Qt::ApplicationModal);
    prompt.open();
    loop.exec();
    FLastAskedAt = Clock::now();
    if (prompt.clickedButton() != end)
        return platform::OutgoingCallChoice::Wait;
    process->EndByOperator(call.Member, call.Direction);
    return platform::OutgoingCallChoice::Cancel;
}
