#include "app/fmuMain.h"

#include "about/fmuAbout.h"
#include "app/DriverTrace.h"
#include "devices/fmuDevice.h"
#include "forms/Application.h"
#include "forms/Binding.h"
#include "forms/EditKeys.h"
#include "forms/Silent.h"
#include "runtime/numtext.h"
#include "runtime/utf.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>

#include <cstdio>

using forms::MakeEdit;
using forms::MakeLabel;
using forms::Place;
using forms::SetCheckedSilently;
using forms::SetItemIndexSilently;
using forms::SetTextSilently;
using runtime::IntToStr;

namespace {

const char* const WindowCaption = "Тест: драйвер электронных весов";

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Enter presses the focused button, as Space does.
QPushButton* MakeButton(QWidget* parent, const char* caption, int left, int top, int width, int height)
{
    auto* button = Place(new QPushButton(Text(caption), parent), left, top, width, height);
    button->setAutoDefault(true);
    return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* caption, int left, int top, int width, int height)
{
    return Place(new QCheckBox(Text(caption), parent), left, top, width, height);
}

QLineEdit* MakeReadOnlyEdit(QWidget* parent, int left, int top, int width, int height)
{
    auto* edit = MakeEdit(parent, left, top, width, height);
    edit->setReadOnly(true);
    return edit;
}

QFrame* MakeLoweredPanel(QWidget* parent, int left, int top, int width, int height)
{
    auto* panel = Place(new QFrame(parent), left, top, width, height);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    return panel;
}

QComboBox* MakeList(QWidget* parent, int left, int top, int width, int height, std::initializer_list<const char*> items)
{
    auto* list = Place(new QComboBox(parent), left, top, width, height);
    list->setEditable(false);
    forms::UseCompactDropDown(list);
    for (const char* item : items)
        list->addItem(Text(item));
    list->setCurrentIndex(-1);
    return list;
}

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
      FAskAndRegister(std::move(askAndRegister))
{
    BuildFrame();
    BuildSyncPage();
    BuildAsyncPage();
    SetTabOrder();
    BindHandlers();

    // The registration check hands back an instance that is only held until construction ends.
    platform::ComPtr<ITrutina> registered;
    CreateDriver(registered);

    // Set before the first refresh, so that the first spin click steps from the value shown.
    FValue = 0;
    FDeleteEvents = false;
    UpdateAll();

    if (forms::TApplication* app = forms::Application())
        app->SetOnException(forms::TExceptionHandler::Bind(this, &TfmMain::AppException));
    if (driver::IsolatedMode())
        platform::SetOutgoingCallHandler([this] { return AskAboutHangingCall(); });
}

void TfmMain::CreateDriver(platform::ComPtr<ITrutina>& registered)
{
    // Built aside and only then taken: a start-up that fails leaves the window's driver as it was.
    std::unique_ptr<TStatera> control;
    if (driver::IsolatedMode()) {
        control = std::make_unique<TStatera>(CLSID_Statera, EnsureIsolatedDriverRegistered(FAskAndRegister));
    } else {
        EnsureDriverRegistered(registered, FAskAndRegister);
        control = std::make_unique<TStatera>();
    }
    control->OnDataEvent = [this](TStatera* Sender) { forms::Protect(this, [&] { ScaleDataEvent(Sender); }); };
    // A driver that raises its events on a thread of its own is told once, in the memo.
    control->OnForeignThreadEvent = [this](TStatera*, const std::string& Notice) { Memo->AddLine(Notice); };
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

void TfmMain::RecreateDriver()
{
    if (!FControl || !FControl->Process() || !FControl->Process()->EndTold())
        return;
    platform::ComPtr<ITrutina> registered;
    CreateDriver(registered);
    UpdateAll();
}

platform::OutgoingCallChoice TfmMain::AskAboutHangingCall()
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
    QMessageBox prompt(QMessageBox::Warning, Text(WindowCaption),
                       Text("Драйвер не отвечает: вызов (%1) идёт уже %2 с.")
                           .arg(QString::fromStdString(driver::CallWords(call.Member, call.Direction)))
                           .arg(seconds),
                       QMessageBox::NoButton, this);
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

TfmMain::~TfmMain()
{
    // Focus moving while the controls go must run no handler of a half-destroyed window.
    forms::DetachEditEvents(this);
    if (forms::TApplication* app = forms::Application(); app && app->OnException().Target() == this)
        app->SetOnException({});
    if (driver::IsolatedMode())
        platform::SetOutgoingCallHandler({});
    if (FControl) {
        FControl->OnDataEvent = nullptr;
        FControl->OnForeignThreadEvent = nullptr;
    }
    FScale.reset();
    FControl.reset();
}

void TfmMain::BuildFrame()
{
    setWindowTitle(Text(WindowCaption));
    setFont(forms::StandardFont());
    setFixedSize(572, 373);

    PageControl = Place(new QTabWidget(this), 8, 8, 380, 297);
    TabSheet1 = new QWidget;
    TabSheet2 = new QWidget;
    PageControl->addTab(TabSheet1, Text("Синхронный режим"));
    PageControl->addTab(TabSheet2, Text("Асинхронный режим"));
    PageControl->setCurrentWidget(TabSheet1);

    Shape1 = Place(new QFrame(this), 8, 312, 380, 1);
    Shape1->setFrameStyle(QFrame::HLine | QFrame::Plain);
    Shape1->setLineWidth(1);

    Label9 = MakeLabel(this, "Результат:", 7, 324);
    edtResultCode = MakeReadOnlyEdit(this, 72, 320, 313, 21);
    edtResultCode->setFocusPolicy(Qt::ClickFocus);
    Label10 = MakeLabel(this, "Описание:", 7, 347);
    edtResultDescription = MakeReadOnlyEdit(this, 72, 344, 313, 21);
    edtResultDescription->setFocusPolicy(Qt::ClickFocus);

    Bevel1 = Place(new QFrame(this), 392, 24, 2, 345);
    Bevel1->setFrameStyle(QFrame::VLine | QFrame::Sunken);

    Label17 = MakeLabel(this, "Флаги:", 400, 8);
    // The flags only display: the panel takes no mouse and its boxes neither mouse nor focus, yet
    // they are drawn as ordinary boxes.
    FlagsPanel = Place(new QWidget(this), 400, 30, 166, 115);
    FlagsPanel->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto flag = [this](const char* caption, int top, int height) {
        return Place(new forms::TStatusFlag(Text(caption), FlagsPanel), 0, top, 169, height);
    };
    chkNettoWeight = flag("Вес Нетто", 0, 16);
    chkZeroScaleWeight = flag("Режим автонуля", 16, 16);
    chkOutOfZero = flag("Ноль вне диапазона нуля", 32, 16);
    chkNegWeight = flag("Отрицательная масса", 48, 16);
    chkBigWeight = flag("Масса больше НПВ", 64, 15);
    chkNonStable = flag("Масса не стабильна", 80, 16);
    chkInvalidRange = flag("Неверный диапазон массы", 96, 17);

    btnAbout = MakeButton(this, "О программе", 400, 168, 169, 25);
    chkLockDevices = MakeCheckBox(this, "Блокировать ЛУ", 400, 200, 165, 16);
    btnDevices = MakeButton(this, "Работа с ЛУ", 400, 224, 169, 25);
    chkDeviceEnabled = MakeCheckBox(this, "Устройство включено", 400, 288, 165, 16);
    btnProperties = MakeButton(this, "Настройка свойств", 400, 312, 169, 25);
    btnClose = MakeButton(this, "Закрыть", 400, 344, 169, 25);

    // Each field is read out with the caption before it.
    forms::NameByLabels({{Label9, edtResultCode}, {Label10, edtResultDescription}, {Label17, FlagsPanel}});

    MemoPopupMenu = new QMenu(this);
    piClear = MemoPopupMenu->addAction(Text("Очистить"));
}

void TfmMain::BuildSyncPage()
{
    QWidget* page = TabSheet1;

    DataPanel = MakeLoweredPanel(page, 7, 10, 180, 255);
    Label1 = MakeLabel(DataPanel, "Масса:", 7, 12);
    edtWeight = MakeReadOnlyEdit(DataPanel, 80, 8, 90, 21);
    Label2 = MakeLabel(DataPanel, "Цена:", 7, 36);
    edtUnitPrice = MakeEdit(DataPanel, 80, 32, 90, 21);
    Label3 = MakeLabel(DataPanel, "Стоимость:", 7, 60);
    edtSalesPrice = MakeReadOnlyEdit(DataPanel, 80, 56, 90, 21);
    Label4 = MakeLabel(DataPanel, "Масса тары:", 7, 84);
    edtTareWeight = MakeEdit(DataPanel, 80, 80, 90, 21);
    chkUpdatePrice = MakeCheckBox(DataPanel, "Обновлять цену", 8, 104, 161, 16);
    chkUpdatePrice->setLayoutDirection(Qt::RightToLeft); // caption to the left of the box
    Label8 = MakeLabel(DataPanel, "Параметры устройства:", 8, 126);
    Memo = Place(new forms::TMemo(DataPanel), 8, 144, 161, 105);
    Memo->setReadOnly(true);
    Memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setContextMenuPolicy(Qt::CustomContextMenu);

    btnReadWeight = MakeButton(page, "Получить массу", 192, 8, 169, 25);
    btnZero = MakeButton(page, "Ноль", 192, 40, 65, 25);
    btnReset = MakeButton(page, "Сброс", 264, 40, 98, 25);
    btnTare = MakeButton(page, "Тара", 192, 72, 65, 25);
    btnSetTareWeight = MakeButton(page, "Установить тару", 264, 72, 97, 25);
    btnGetDeviceMetrics = MakeButton(page, "Параметры устройства", 192, 104, 172, 25);

    gbParams = Place(new QGroupBox(Text("Параметры"), page), 192, 136, 172, 129);
    // The frame runs through the middle of the caption, as the layout's positions assume.
    gbParams->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 7px; padding: 0 1px; }"));
    Label11 = MakeLabel(gbParams, "Тип:", 7, 22);
    cbValuePurpose = MakeList(gbParams, 48, 16, 113, 21,
                              {"Тип протокола", "Скорость связи", "Режим \"Sleep\"", "Режим \"Тара\"", "Пароль"});
    Label12 = MakeLabel(gbParams, "Значение:", 7, 45);
    edtValue = MakeEdit(gbParams, 80, 40, 63, 21);
    edtValue->setText(QStringLiteral("0"));
    sbValue = Place(new forms::TSpinButton(gbParams), 144, 40, 15, 21);
    btnGetValue = MakeButton(gbParams, "Прочитать", 8, 64, 153, 25);
    btnSetValue = MakeButton(gbParams, "Записать", 8, 96, 153, 25);
    forms::NameByLabels({{Label1, edtWeight}, {Label2, edtUnitPrice}, {Label3, edtSalesPrice}, {Label4, edtTareWeight},
                         {Label8, Memo}, {Label11, cbValuePurpose}, {Label12, edtValue}});
    sbValue->setAccessibleName(Label12->text());
    // Under a style sheet the children would fall back to the application's font.
    for (QWidget* child : gbParams->findChildren<QWidget*>())
        child->setFont(font());
}

void TfmMain::BuildAsyncPage()
{
    QWidget* page = TabSheet2;

    WeightPanel = MakeLoweredPanel(page, 8, 8, 172, 169);
    ParamsPanel = MakeLoweredPanel(page, 184, 8, 179, 169);
    Label13 = MakeLabel(page, "Номер сообщения:", 7, 188);
    edtEventNumber = MakeReadOnlyEdit(page, 144, 184, 105, 21);
    Label7 = MakeLabel(page, "Количество сообщений:", 7, 212);
    edtDataCount = MakeReadOnlyEdit(page, 144, 208, 105, 21);
    btnUpdate = MakeButton(page, "Обновить", 264, 184, 99, 25);

    Label14 = MakeLabel(WeightPanel, "Масса:", 7, 12);
    edtAsyncWeight = MakeReadOnlyEdit(WeightPanel, 80, 8, 81, 21);
    Label15 = MakeLabel(WeightPanel, "Цена:", 7, 36);
    edtUnitPriceAsync = MakeEdit(WeightPanel, 80, 32, 81, 21);
    Label16 = MakeLabel(WeightPanel, "Стоимость:", 7, 60);
    edtAsyncSalesPrice = MakeReadOnlyEdit(WeightPanel, 80, 56, 81, 21);
    Label18 = MakeLabel(WeightPanel, "Масса тары:", 7, 84);
    edtAsyncTareWeight = MakeEdit(WeightPanel, 80, 80, 81, 21);

    chkAsyncMode = MakeCheckBox(ParamsPanel, "Асинхронный режим", 8, 8, 142, 16);
    chkDataEventEnabled = MakeCheckBox(ParamsPanel, "Разрешить сообщения", 8, 24, 149, 16);
    chkAutoDisable = MakeCheckBox(ParamsPanel, "Автоотключение", 8, 40, 149, 16);
    chkDeleteEvents = MakeCheckBox(ParamsPanel, "Удалять сообщения", 8, 56, 157, 16);
    Label5 = MakeLabel(ParamsPanel, "Интервал опроса:", 8, 84);
    cbPollingInterval = MakeList(ParamsPanel, 112, 80, 60, 21, {"50 мс.", "100 мс.", "200 мс.", "500 мс.", "1000 мс."});
    Label6 = MakeLabel(ParamsPanel, "Предел изменения:", 8, 108);
    edtWeightStep = MakeEdit(ParamsPanel, 112, 104, 43, 21);
    edtWeightStep->setText(QStringLiteral("0"));
    sbWeightStep = Place(new forms::TSpinButton(ParamsPanel), 156, 104, 15, 21);
    btnGenerateAsyncMessage = MakeButton(ParamsPanel, "Генерировать событие", 8, 136, 163, 25);

    forms::NameByLabels({{Label13, edtEventNumber}, {Label7, edtDataCount}, {Label14, edtAsyncWeight},
                         {Label15, edtUnitPriceAsync}, {Label16, edtAsyncSalesPrice}, {Label18, edtAsyncTareWeight},
                         {Label5, cbPollingInterval}, {Label6, edtWeightStep}});
    sbWeightStep->setAccessibleName(Label6->text());
}

void TfmMain::SetTabOrder()
{
    forms::SetTabOrder({
        PageControl,
        // Synchronous page.
        edtWeight, edtUnitPrice, edtSalesPrice, edtTareWeight, chkUpdatePrice, Memo, btnReadWeight, btnZero,
        btnReset, btnTare, btnSetTareWeight, btnGetDeviceMetrics, cbValuePurpose, edtValue, sbValue, btnGetValue,
        btnSetValue,
        // Asynchronous page.
        edtAsyncWeight, edtUnitPriceAsync, edtAsyncSalesPrice, edtAsyncTareWeight, chkAsyncMode,
        chkDataEventEnabled, chkAutoDisable, chkDeleteEvents, cbPollingInterval, edtWeightStep, sbWeightStep,
        btnGenerateAsyncMessage, edtEventNumber, edtDataCount, btnUpdate,
        // Window level.
        btnAbout, chkLockDevices, btnDevices, chkDeviceEnabled, btnProperties, btnClose});
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
    SetTextSilently(edtResultCode, IntToStr(FScale->ResultCode()));
    SetTextSilently(edtResultDescription, FScale->ResultDescription());
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

void TfmMain::UpdateLockDevices() { SetCheckedSilently(chkLockDevices, FScale->LockDevices()); }
void TfmMain::UpdateDeviceEnabled() { SetCheckedSilently(chkDeviceEnabled, FScale->DeviceEnabled()); }

void TfmMain::UpdateWeight()
{
    SetTextSilently(edtWeight, runtime::FloatToStr(FScale->Weight()));
    SetTextSilently(edtAsyncWeight, runtime::FloatToStr(FScale->Weight()));
}

void TfmMain::UpdateUnitPrice()
{
    SetTextSilently(edtUnitPrice, runtime::CurrToStr(FScale->UnitPrice()));
    SetTextSilently(edtUnitPriceAsync, runtime::CurrToFloatStr(FScale->UnitPrice()));
}

void TfmMain::UpdateSalesPrice()
{
    SetTextSilently(edtSalesPrice, runtime::CurrToStr(FScale->SalesPrice()));
    SetTextSilently(edtAsyncSalesPrice, runtime::CurrToFloatStr(FScale->SalesPrice()));
}

void TfmMain::UpdateAsyncMode() { SetCheckedSilently(chkAsyncMode, FScale->AsyncMode()); }

void TfmMain::UpdateTareWeight()
{
    SetTextSilently(edtTareWeight, runtime::FloatToStr(FScale->TareWeight()));
    SetTextSilently(edtAsyncTareWeight, runtime::FloatToStr(FScale->TareWeight()));
}

void TfmMain::UpdateValuePurpose() { SetItemIndexSilently(cbValuePurpose, FScale->ValuePurpose()); }

void TfmMain::UpdateValue()
{
    SetTextSilently(edtValue, IntToStr(FScale->Value()));
    FValue = FScale->Value();
}

void TfmMain::UpdateWeightStep()
{
    SetTextSilently(edtWeightStep, runtime::FormatFixed3(FScale->WeightStep()));
    FWeightStep = FScale->WeightStep();
}

void TfmMain::UpdatePollingInterval() { SetItemIndexSilently(cbPollingInterval, FScale->PollingInterval()); }

void TfmMain::UpdateFlags()
{
    SetCheckedSilently(chkNettoWeight, FScale->NettoWeight());
    SetCheckedSilently(chkZeroScaleWeight, FScale->ZeroScaleWeight());
    SetCheckedSilently(chkOutOfZero, FScale->OutOfZero());
    SetCheckedSilently(chkNegWeight, FScale->NegWeight());
    SetCheckedSilently(chkBigWeight, FScale->BigWeight());
    SetCheckedSilently(chkNonStable, FScale->NonStable());
    SetCheckedSilently(chkInvalidRange, FScale->InvalidRange());
}

void TfmMain::UpdateUpdatePrice() { SetCheckedSilently(chkUpdatePrice, FScale->UpdatePrice()); }
void TfmMain::UpdateAutoDisable() { SetCheckedSilently(chkAutoDisable, FScale->AutoDisable()); }
void TfmMain::UpdateEventNumber() { SetTextSilently(edtEventNumber, IntToStr(FScale->EventNumber())); }
void TfmMain::UpdateDataCount() { SetTextSilently(edtDataCount, IntToStr(FScale->DataCount())); }
void TfmMain::UpdateDataEventEnabled() { SetCheckedSilently(chkDataEventEnabled, FScale->DataEventEnabled()); }

// ------------------------------------------------------------------------------ writers

void TfmMain::ApplyUnitPrice()
{
    FScale->SetUnitPrice(runtime::AmountToMoney(runtime::StrToFloatChecked(forms::FromQ(edtUnitPrice->text()))));
}

void TfmMain::ApplyTareWeight()
{
    FScale->SetTareWeight(runtime::StrToFloatChecked(forms::FromQ(edtTareWeight->text())));
}

void TfmMain::ApplyUpdatePrice() { FScale->SetUpdatePrice(chkUpdatePrice->isChecked()); }
void TfmMain::ApplyValuePurpose() { FScale->SetValuePurpose(cbValuePurpose->currentIndex()); }

void TfmMain::ApplyValue()
{
    FScale->SetValue(runtime::StrToIntChecked(forms::FromQ(edtValue->text())));
}

void TfmMain::ApplyAsyncMode() { FScale->SetAsyncMode(chkAsyncMode->isChecked()); }
void TfmMain::ApplyDataEventEnabled() { FScale->SetDataEventEnabled(chkDataEventEnabled->isChecked()); }
void TfmMain::ApplyAutoDisable() { FScale->SetAutoDisable(chkAutoDisable->isChecked()); }
void TfmMain::ApplyPollingInterval() { FScale->SetPollingInterval(cbPollingInterval->currentIndex()); }

void TfmMain::ApplyWeightStep()
{
    FWeightStep = runtime::StrToFloatChecked(forms::FromQ(edtWeightStep->text()));
    FScale->SetWeightStep(FWeightStep);
}

void TfmMain::ApplyUnitPriceAsync()
{
    FScale->SetUnitPrice(
        runtime::AmountToMoney(runtime::StrToFloatChecked(forms::FromQ(edtUnitPriceAsync->text()))));
}

void TfmMain::ApplyAsyncTareWeight()
{
    FScale->SetTareWeight(runtime::StrToFloatChecked(forms::FromQ(edtAsyncTareWeight->text())));
}

// ------------------------------------------------------------------------------ window level

void TfmMain::btnCloseClick(QObject*) { close(); }

void TfmMain::chkLockDevicesClick(QObject*)
{
    ApplyAndUpdate([this] { FScale->SetLockDevices(chkLockDevices->isChecked()); });
}

void TfmMain::chkDeviceEnabledClick(QObject*)
{
    ApplyAndUpdate([this] { FScale->SetDeviceEnabled(chkDeviceEnabled->isChecked()); });
}

void TfmMain::btnPropertiesClick(QObject*)
{
    ApplyAndUpdate([this] { FScale->ShowProperties(); });
}

void TfmMain::btnDevicesClick(QObject*)
{
    // Then the window shows what the editor left in the driver.
    ApplyAndUpdate([this] { ShowDevicesDialog(*FScale, font()); });
}

// Not a command: the buttons stay enabled and the result fields untouched. A refused version
// read raises before any window opens.
void TfmMain::btnAboutClick(QObject*)
{
    RecreateDriver();
    QStringList Lines;
    Lines << QString::fromStdString("Версия теста: " + GetVersionString());
    Lines << QString::fromStdString("Версия драйвера: " + FScale->DriverVersion());
    ShowAboutBox(this, Text("Электронные весы"), Lines);
}

// ------------------------------------------------------------------------------ synchronous page

void TfmMain::btnReadWeightClick(QObject*) { RunCommand([this] { FScale->ReadWeight(); }); }
void TfmMain::TareButtonClick(QObject*) { RunCommand([this] { FScale->Zero(); }); }
void TfmMain::btnTareClick(QObject*) { RunCommand([this] { FScale->Tare(); }); }
void TfmMain::btnSetTareWeightClick(QObject*) { RunCommand([this] { FScale->SetTare(); }); }
void TfmMain::btnResetClick(QObject*) { RunCommand([this] { FScale->Reset(); }); }
void TfmMain::btnGetValueClick(QObject*) { RunCommand([this] { FScale->ReadValue(); }); }
void TfmMain::btnSetValueClick(QObject*) { RunCommand([this] { FScale->WriteValue(); }); }

void TfmMain::btnGetDeviceMetricsClick(QObject*)
{
    RunCommand([this] {
        FScale->GetDeviceMetrics();
        ShowDeviceMetrics();
    });
}

void TfmMain::ShowDeviceMetrics()
{
    Memo->ClearLines();
    Memo->AddLine("Версия протокола: " + IntToStr(FScale->ProtocolVersion()));
    Memo->AddLine("Тип устройства: " + IntToStr(FScale->DeviceType()));
    Memo->AddLine("Модель устройства: " + IntToStr(FScale->DeviceModel()));
    const std::int32_t version = FScale->SoftwareVersion();
    const std::int32_t subVersion = FScale->SoftwareSubVersion();
    const std::int32_t build = FScale->SoftwareBuild();
    Memo->AddLine("Версия программы: " + FormatSoftwareVersion(version, subVersion, build));
    Memo->AddLine("Кодовая страница: " + IntToStr(FScale->CodePage()));
    Memo->AddLine("Название устройства: \r");
    Memo->AddLine("\"" + runtime::Utf16ToUtf8(FScale->DeviceName()) + "\"");
    Memo->AddLine("Режим работы: " + IntToStr(FScale->OperatingMode()));
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
        FScale->SetValue(next);
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
        FScale->SetWeightStep(static_cast<double>(static_cast<long double>(FWeightStep) + delta));
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
        FScale->GenerateEvent();
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
        FScale->DeleteEvent();
    UpdateDataCount();
    UpdateEventNumber();
}
