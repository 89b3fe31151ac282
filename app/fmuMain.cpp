#include "app/fmuMain.h"

#include "about/fmuAbout.h"
#include "app/DriverTrace.h"
#include "devices/fmuDevice.h"
#include "forms/Application.h"
#include "forms/Binding.h"
#include "forms/EditKeys.h"
#include "forms/Silent.h"
#include "forms/Text.h"
#include "platform/comptr.h"
#include "runtime/numtext.h"
#include "runtime/utf.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

#include <cstdio>

using forms::SetCheckedSilently;
using forms::SetItemIndexSilently;
using forms::SetTextSilently;
using forms::Text;
using runtime::IntToStr;

namespace {

// 32-bit two's complement step: wraps at the limits.
std::int32_t WrappingAdd(std::int32_t value, std::int32_t delta)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) + static_cast<std::uint32_t>(delta));
}

std::string FormatSoftwareVersion(std::int32_t version, std::int32_t subVersion, std::int32_t build)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%.4d", version, subVersion, build);
    return text;
}

} // namespace

// ------------------------------------------------------------------------------ construction

TfmMain::TfmMain(TAskAndRegisterServer askAndRegister, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      FDriver(std::move(askAndRegister), this,
              {[this](TStatera* Sender) { forms::Protect(this, [&] { ScaleDataEvent(Sender); }); },
               [this](const std::string& Notice) { Memo->AddLine(Notice); }})
{
    BuildFrame();
    BuildSyncPage();
    BuildAsyncPage();
    SetTabOrder();
    BindHandlers();

    // The registration check hands back an instance that is only held until construction ends.
    platform::ComPtr<ITrutina> registered;
    FDriver.Create(registered);

    // Set before the first refresh, so that the first spin click steps from the value shown.
    FValue = 0;
    FDeleteEvents = false;
    UpdateAll();

    if (forms::TApplication* app = forms::Application())
        app->SetOnException(forms::TExceptionHandler::Bind(this, &TfmMain::AppException));
    FDriver.InstallHangPrompt();
}

void TfmMain::RecreateDriver()
{
    if (FDriver.Recreate())
        UpdateAll();
}

TfmMain::~TfmMain()
{
    // Focus moving while the controls go must run no handler of a half-destroyed window.
    forms::DetachEditEvents(this);
    if (forms::TApplication* app = forms::Application(); app && app->OnException().Target() == this)
        app->SetOnException({});
    // FDriver ends next: the hang prompt and the control's events go before the driver.
}

void TfmMain::BindHandlers()
{
    using forms::Bind;
    using forms::HandleValueKeys;
    using forms::OnLeave;

    // Window level. Escape presses "Закрыть", which does nothing while it is disabled.
    Bind(btnClose, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnCloseClick));
    Bind(chkLockDevices, &QCheckBox::clicked, this, FORMS_HANDLER(&TfmMain::chkLockDevicesClick));
    Bind(chkDeviceEnabled, &QCheckBox::clicked, this, FORMS_HANDLER(&TfmMain::chkDeviceEnabledClick));
    Bind(btnProperties, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnPropertiesClick));
    Bind(btnDevices, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnDevicesClick));
    Bind(btnAbout, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnAboutClick));
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, btnClose, &QPushButton::click);

    // Synchronous page.
    Bind(btnReadWeight, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnReadWeightClick));
    // The zero button's handler is named TareButtonClick (it zeroes the scale): the name is kept.
    Bind(btnZero, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::TareButtonClick));
    Bind(btnTare, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnTareClick));
    Bind(btnSetTareWeight, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnSetTareWeightClick));
    Bind(btnGetDeviceMetrics, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnGetDeviceMetricsClick));
    Bind(btnReset, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnResetClick));
    Bind(btnGetValue, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnGetValueClick));
    Bind(btnSetValue, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnSetValueClick));
    OnLeave(edtUnitPrice, this, FORMS_HANDLER(&TfmMain::edtUnitPriceExit));
    OnLeave(edtTareWeight, this, FORMS_HANDLER(&TfmMain::edtTareWeightExit));
    OnLeave(edtValue, this, FORMS_HANDLER(&TfmMain::edtValueExit));
    HandleValueKeys(edtUnitPrice);
    HandleValueKeys(edtTareWeight);
    Bind(chkUpdatePrice, &QCheckBox::clicked, this, FORMS_HANDLER(&TfmMain::chkUpdatePriceClick));
    Bind(cbValuePurpose, &QComboBox::activated, this, FORMS_HANDLER(&TfmMain::cbValuePurposeChange));
    Bind(sbValue, &forms::TSpinButton::upClicked, this, FORMS_HANDLER(&TfmMain::sbValueUpClick));
    Bind(sbValue, &forms::TSpinButton::downClicked, this, FORMS_HANDLER(&TfmMain::sbValueDownClick));
    connect(Memo, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { MemoPopupMenu->popup(Memo->viewport()->mapToGlobal(at)); });
    Bind(piClear, &QAction::triggered, this, FORMS_HANDLER(&TfmMain::piClearClick));

    // Asynchronous page.
    Bind(chkAsyncMode, &QCheckBox::clicked, this, FORMS_HANDLER(&TfmMain::chkAsyncModeClick));
    Bind(chkDataEventEnabled, &QCheckBox::clicked, this, FORMS_HANDLER(&TfmMain::chkDataEventEnabledClick));
    Bind(chkAutoDisable, &QCheckBox::clicked, this, FORMS_HANDLER(&TfmMain::chkAutoDisableClick));
    Bind(chkDeleteEvents, &QCheckBox::clicked, this, FORMS_HANDLER(&TfmMain::chkDeleteEventsClick));
    Bind(cbPollingInterval, &QComboBox::activated, this, FORMS_HANDLER(&TfmMain::cbPollingIntervalChange));
    OnLeave(edtWeightStep, this, FORMS_HANDLER(&TfmMain::edtWeightStepExit));
    OnLeave(edtUnitPriceAsync, this, FORMS_HANDLER(&TfmMain::edtUnitPriceAsyncExit));
    OnLeave(edtAsyncTareWeight, this, FORMS_HANDLER(&TfmMain::edtAsyncTareWeightExit));
    HandleValueKeys(edtWeightStep);
    HandleValueKeys(edtUnitPriceAsync);
    HandleValueKeys(edtAsyncTareWeight);
    Bind(sbWeightStep, &forms::TSpinButton::upClicked, this, FORMS_HANDLER(&TfmMain::sbWeightStepUpClick));
    Bind(sbWeightStep, &forms::TSpinButton::downClicked, this, FORMS_HANDLER(&TfmMain::sbWeightStepDownClick));
    Bind(btnGenerateAsyncMessage, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnGenerateAsyncMessageClick));
    Bind(btnUpdate, &QPushButton::clicked, this, FORMS_HANDLER(&TfmMain::btnUpdateClick));
}

void TfmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        if (QScreen* s = screen())
            move(s->geometry().center() - rect().center());
        btnClose->setFocus();
    }
}

void TfmMain::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

std::array<QPushButton*, 14> TfmMain::CommandButtons() const
{
    return {btnReadWeight, btnZero,    btnTare,     btnAbout,    btnDevices, btnProperties,           btnReset,
            btnSetTareWeight, btnGetDeviceMetrics, btnGetValue, btnSetValue, btnGenerateAsyncMessage, btnUpdate,
            btnClose};
}

// ------------------------------------------------------------------------------ command frame

void TfmMain::SetCommandButtonsEnabled(bool Enabled)
{
    // No control active: the keyboard goes to the window itself. Cleared first as well, so that
    // disabling the focused button does not walk the focus through the other controls.
    auto leaveNoControlActive = [this] {
        if (QWidget* focused = focusWidget())
            focused->clearFocus();
    };
    leaveNoControlActive();
    for (QPushButton* button : CommandButtons())
        button->setEnabled(Enabled);
    leaveNoControlActive();
}

void TfmMain::ClearResult()
{
    edtResultCode->clear();
    edtResultDescription->clear();
}

template <typename TCall>
void TfmMain::RunCommand(TCall&& call)
{
    RecreateDriver();
    SetCommandButtonsEnabled(false);
    ClearResult();
    try {
        call();
    } catch (...) {
        SetCommandButtonsEnabled(true);
        UpdateAll(); // a failure here replaces the command's
        throw;
    }
    SetCommandButtonsEnabled(true);
    UpdateAll();
}

template <typename TCall>
void TfmMain::ApplyAndUpdate(TCall&& call)
{
    RecreateDriver();
    try {
        call();
    } catch (...) {
        UpdateAll();
        throw;
    }
    UpdateAll();
}

void TfmMain::UpdateAll()
{
    UpdateResult();
    UpdateLockDevices();
    UpdateDeviceEnabled();
    UpdateWeight();
    UpdateUnitPrice();
    UpdateSalesPrice();
    UpdateAsyncMode();
    UpdateTareWeight();
    UpdateValuePurpose();
    UpdateValue();
    UpdateWeightStep();
    UpdatePollingInterval();
    UpdateFlags();
    // The sales price is read a second time here, as it always was.
    UpdateSalesPrice();
    UpdateUpdatePrice();
    UpdateAutoDisable();
    UpdateEventNumber();
    UpdateDataCount();
    UpdateDataEventEnabled();
    UpdateRecording();
}

void TfmMain::AppException(QObject* Sender, const runtime::Exception& E)
{
    if (const auto* scaleError = dynamic_cast<const EScaleError*>(&E))
        SetTextSilently(edtResultCode, IntToStr(scaleError->ResultCode()));
    SetTextSilently(edtResultDescription, E.Message());
    if (!FRecordingNote.empty()) // said by the refresh before the failure, whose text this replaced
        SetTextSilently(edtResultDescription, E.Message() + "; " + FRecordingNote);
}

// ------------------------------------------------------------------------------ readers

void TfmMain::UpdateResult()
{
    SetTextSilently(edtResultCode, IntToStr(Scale().ResultCode()));
    SetTextSilently(edtResultDescription, Scale().ResultDescription());
}

// A recording that can no longer be written is said with one result, after the driver's own text,
// which it does not replace: the code stays the driver's and belongs to its text.
void TfmMain::UpdateRecording()
{
    if (FRecordingFailureShown) {
        FRecordingNote.clear(); // said once: not with the results that follow
        return;
    }
    FRecordingNote = DriverRecordingFailure();
    if (FRecordingNote.empty())
        return;
    FRecordingFailureShown = true;
    SetTextSilently(edtResultDescription, edtResultDescription->text().toStdString() + "; " + FRecordingNote);
}

void TfmMain::UpdateLockDevices() { SetCheckedSilently(chkLockDevices, Scale().LockDevices()); }
void TfmMain::UpdateDeviceEnabled() { SetCheckedSilently(chkDeviceEnabled, Scale().DeviceEnabled()); }

void TfmMain::UpdateWeight()
{
    SetTextSilently(edtWeight, runtime::FloatToStr(Scale().Weight()));
    SetTextSilently(edtAsyncWeight, runtime::FloatToStr(Scale().Weight()));
}

void TfmMain::UpdateUnitPrice()
{
    SetTextSilently(edtUnitPrice, runtime::CurrToStr(Scale().UnitPrice()));
    SetTextSilently(edtUnitPriceAsync, runtime::CurrToFloatStr(Scale().UnitPrice()));
}

void TfmMain::UpdateSalesPrice()
{
    SetTextSilently(edtSalesPrice, runtime::CurrToStr(Scale().SalesPrice()));
    SetTextSilently(edtAsyncSalesPrice, runtime::CurrToFloatStr(Scale().SalesPrice()));
}

void TfmMain::UpdateAsyncMode() { SetCheckedSilently(chkAsyncMode, Scale().AsyncMode()); }

void TfmMain::UpdateTareWeight()
{
    SetTextSilently(edtTareWeight, runtime::FloatToStr(Scale().TareWeight()));
    SetTextSilently(edtAsyncTareWeight, runtime::FloatToStr(Scale().TareWeight()));
}

void TfmMain::UpdateValuePurpose() { SetItemIndexSilently(cbValuePurpose, Scale().ValuePurpose()); }

void TfmMain::UpdateValue()
{
    SetTextSilently(edtValue, IntToStr(Scale().Value()));
    FValue = Scale().Value();
}

void TfmMain::UpdateWeightStep()
{
    SetTextSilently(edtWeightStep, runtime::FormatFixed3(Scale().WeightStep()));
    FWeightStep = Scale().WeightStep();
}

void TfmMain::UpdatePollingInterval() { SetItemIndexSilently(cbPollingInterval, Scale().PollingInterval()); }

void TfmMain::UpdateFlags()
{
    SetCheckedSilently(chkNettoWeight, Scale().NettoWeight());
    SetCheckedSilently(chkZeroScaleWeight, Scale().ZeroScaleWeight());
    SetCheckedSilently(chkOutOfZero, Scale().OutOfZero());
    SetCheckedSilently(chkNegWeight, Scale().NegWeight());
    SetCheckedSilently(chkBigWeight, Scale().BigWeight());
    SetCheckedSilently(chkNonStable, Scale().NonStable());
    SetCheckedSilently(chkInvalidRange, Scale().InvalidRange());
}

void TfmMain::UpdateUpdatePrice() { SetCheckedSilently(chkUpdatePrice, Scale().UpdatePrice()); }
void TfmMain::UpdateAutoDisable() { SetCheckedSilently(chkAutoDisable, Scale().AutoDisable()); }
void TfmMain::UpdateEventNumber() { SetTextSilently(edtEventNumber, IntToStr(Scale().EventNumber())); }
void TfmMain::UpdateDataCount() { SetTextSilently(edtDataCount, IntToStr(Scale().DataCount())); }
void TfmMain::UpdateDataEventEnabled() { SetCheckedSilently(chkDataEventEnabled, Scale().DataEventEnabled()); }

// ------------------------------------------------------------------------------ writers

void TfmMain::ApplyUnitPrice()
{
    Scale().SetUnitPrice(runtime::AmountToMoney(runtime::StrToFloatChecked(forms::FromQ(edtUnitPrice->text()))));
}

void TfmMain::ApplyTareWeight()
{
    Scale().SetTareWeight(runtime::StrToFloatChecked(forms::FromQ(edtTareWeight->text())));
}

void TfmMain::ApplyUpdatePrice() { Scale().SetUpdatePrice(chkUpdatePrice->isChecked()); }
void TfmMain::ApplyValuePurpose() { Scale().SetValuePurpose(cbValuePurpose->currentIndex()); }

void TfmMain::ApplyValue()
{
    Scale().SetValue(runtime::StrToIntChecked(forms::FromQ(edtValue->text())));
}

void TfmMain::ApplyAsyncMode() { Scale().SetAsyncMode(chkAsyncMode->isChecked()); }
void TfmMain::ApplyDataEventEnabled() { Scale().SetDataEventEnabled(chkDataEventEnabled->isChecked()); }
void TfmMain::ApplyAutoDisable() { Scale().SetAutoDisable(chkAutoDisable->isChecked()); }
void TfmMain::ApplyPollingInterval() { Scale().SetPollingInterval(cbPollingInterval->currentIndex()); }

void TfmMain::ApplyWeightStep()
{
    FWeightStep = runtime::StrToFloatChecked(forms::FromQ(edtWeightStep->text()));
    Scale().SetWeightStep(FWeightStep);
}

void TfmMain::ApplyUnitPriceAsync()
{
    Scale().SetUnitPrice(
        runtime::AmountToMoney(runtime::StrToFloatChecked(forms::FromQ(edtUnitPriceAsync->text()))));
}

void TfmMain::ApplyAsyncTareWeight()
{
    Scale().SetTareWeight(runtime::StrToFloatChecked(forms::FromQ(edtAsyncTareWeight->text())));
}

// ------------------------------------------------------------------------------ window level

void TfmMain::btnCloseClick(QObject*) { close(); }

void TfmMain::chkLockDevicesClick(QObject*)
{
    ApplyAndUpdate([this] { Scale().SetLockDevices(chkLockDevices->isChecked()); });
}

void TfmMain::chkDeviceEnabledClick(QObject*)
{
    ApplyAndUpdate([this] { Scale().SetDeviceEnabled(chkDeviceEnabled->isChecked()); });
}

void TfmMain::btnPropertiesClick(QObject*)
{
    ApplyAndUpdate([this] { Scale().ShowProperties(); });
}

void TfmMain::btnDevicesClick(QObject*)
{
    // Then the window shows what the editor left in the driver.
    ApplyAndUpdate([this] { ShowDevicesDialog(Scale(), font()); });
}

// Not a command: the buttons stay enabled and the result fields untouched. A refused version
// read raises before any window opens.
void TfmMain::btnAboutClick(QObject*)
{
    RecreateDriver();
    QStringList Lines;
    Lines << QString::fromStdString("Версия теста: " + GetVersionString());
    Lines << QString::fromStdString("Версия драйвера: " + Scale().DriverVersion());
    ShowAboutBox(this, Text("Электронные весы"), Lines);
}

// ------------------------------------------------------------------------------ synchronous page

void TfmMain::btnReadWeightClick(QObject*) { RunCommand([this] { Scale().ReadWeight(); }); }
void TfmMain::TareButtonClick(QObject*) { RunCommand([this] { Scale().Zero(); }); }
void TfmMain::btnTareClick(QObject*) { RunCommand([this] { Scale().Tare(); }); }
void TfmMain::btnSetTareWeightClick(QObject*) { RunCommand([this] { Scale().SetTare(); }); }
void TfmMain::btnResetClick(QObject*) { RunCommand([this] { Scale().Reset(); }); }
void TfmMain::btnGetValueClick(QObject*) { RunCommand([this] { Scale().ReadValue(); }); }
void TfmMain::btnSetValueClick(QObject*) { RunCommand([this] { Scale().WriteValue(); }); }

void TfmMain::btnGetDeviceMetricsClick(QObject*)
{
    RunCommand([this] {
        Scale().GetDeviceMetrics();
        ShowDeviceMetrics();
    });
}

void TfmMain::ShowDeviceMetrics()
{
    Memo->ClearLines();
    Memo->AddLine("Версия протокола: " + IntToStr(Scale().ProtocolVersion()));
    Memo->AddLine("Тип устройства: " + IntToStr(Scale().DeviceType()));
    Memo->AddLine("Модель устройства: " + IntToStr(Scale().DeviceModel()));
    const std::int32_t version = Scale().SoftwareVersion();
    const std::int32_t subVersion = Scale().SoftwareSubVersion();
    const std::int32_t build = Scale().SoftwareBuild();
    Memo->AddLine("Версия программы: " + FormatSoftwareVersion(version, subVersion, build));
    Memo->AddLine("Кодовая страница: " + IntToStr(Scale().CodePage()));
    Memo->AddLine("Название устройства: \r");
    Memo->AddLine("\"" + runtime::Utf16ToUtf8(Scale().DeviceName()) + "\"");
    Memo->AddLine("Режим работы: " + IntToStr(Scale().OperatingMode()));
}

void TfmMain::edtUnitPriceExit(QObject*) { ApplyAndUpdate([this] { ApplyUnitPrice(); }); }
void TfmMain::edtTareWeightExit(QObject*) { ApplyAndUpdate([this] { ApplyTareWeight(); }); }
void TfmMain::chkUpdatePriceClick(QObject*) { ApplyAndUpdate([this] { ApplyUpdatePrice(); }); }
void TfmMain::cbValuePurposeChange(QObject*) { ApplyAndUpdate([this] { ApplyValuePurpose(); }); }
void TfmMain::edtValueExit(QObject*) { ApplyAndUpdate([this] { ApplyValue(); }); }
void TfmMain::sbValueUpClick(QObject*) { StepValue(+1); }
void TfmMain::sbValueDownClick(QObject*) { StepValue(-1); }

void TfmMain::StepValue(std::int32_t delta)
{
    ApplyAndUpdate([this, delta] {
        const std::int32_t next = WrappingAdd(FValue, delta);
        Scale().SetValue(next);
        FValue = next;
    });
}

void TfmMain::piClearClick(QObject*) { Memo->ClearLines(); }

// ------------------------------------------------------------------------------ asynchronous page

void TfmMain::chkAsyncModeClick(QObject*) { ApplyAndUpdate([this] { ApplyAsyncMode(); }); }
void TfmMain::chkDataEventEnabledClick(QObject*) { ApplyAndUpdate([this] { ApplyDataEventEnabled(); }); }
void TfmMain::chkAutoDisableClick(QObject*) { ApplyAndUpdate([this] { ApplyAutoDisable(); }); }
void TfmMain::chkDeleteEventsClick(QObject*) { FDeleteEvents = chkDeleteEvents->isChecked(); }
void TfmMain::cbPollingIntervalChange(QObject*) { ApplyAndUpdate([this] { ApplyPollingInterval(); }); }
void TfmMain::edtWeightStepExit(QObject*) { ApplyAndUpdate([this] { ApplyWeightStep(); }); }
void TfmMain::edtUnitPriceAsyncExit(QObject*) { ApplyAndUpdate([this] { ApplyUnitPriceAsync(); }); }
void TfmMain::edtAsyncTareWeightExit(QObject*) { ApplyAndUpdate([this] { ApplyAsyncTareWeight(); }); }
void TfmMain::sbWeightStepUpClick(QObject*) { StepWeightStep(+0.001L); }
void TfmMain::sbWeightStepDownClick(QObject*) { StepWeightStep(-0.001L); }

void TfmMain::StepWeightStep(long double delta)
{
    ApplyAndUpdate([this, delta] {
        // The sum is formed in extended precision and passed as a 64-bit real.
        Scale().SetWeightStep(static_cast<double>(static_cast<long double>(FWeightStep) + delta));
        FWeightStep = static_cast<double>(static_cast<long double>(FWeightStep) + delta);
        UpdateWeightStep();
    });
}

void TfmMain::btnGenerateAsyncMessageClick(QObject*)
{
    RecreateDriver();
    SetCommandButtonsEnabled(false);
    // The refresh comes before the buttons are enabled again; the buttons come back also when
    // the refresh fails, so that a failed refresh does not leave the window without its commands.
    struct TEnableAtEnd {
        TfmMain* Window;
        ~TEnableAtEnd() { Window->SetCommandButtonsEnabled(true); }
    } enableAtEnd{this};
    try {
        Scale().GenerateEvent();
    } catch (...) {
        UpdateAll(); // a failure here replaces the command's
        throw;
    }
    UpdateAll();
}

void TfmMain::btnUpdateClick(QObject*)
{
    RecreateDriver();
    UpdateAll();
}

void TfmMain::ScaleDataEvent(TStatera*)
{
    UpdateAll();
    if (FDeleteEvents)
        Scale().DeleteEvent();
    UpdateDataCount();
    UpdateEventNumber();
}
