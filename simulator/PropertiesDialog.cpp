#include "simulator/PropertiesDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace trutina {

namespace {

struct TCodeItem {
    const char* Text;
    int Code;
};
constexpr TCodeItem BaudRateItems[] = {{"1200", 3},   {"2400", 4},   {"4800", 5},   {"9600", 7},
                                       {"19200", 10}, {"38400", 12}, {"57600", 14}, {"115200", 18}};
constexpr TCodeItem ParityItems[] = {{"Нет", 0}, {"Чётность", 2}};

QComboBox* CodeList(QWidget* parent, const char* name)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(QLatin1String(name));
    return list;
}

void SelectCode(QComboBox* list, int code)
{
    list->setCurrentIndex(list->findData(code));
}

int SelectedCode(const QComboBox* list) { return list->currentData().toInt(); }

// A name from the settings file may be any length: shown elided to this many pixels, whole in the
// tooltip, so that the dialog keeps its size.
constexpr int NameWidth = 240;

QString Elided(const QWidget* widget, const QString& text)
{
    return widget->fontMetrics().elidedText(text, Qt::ElideMiddle, NameWidth);
}

} // namespace

TResult ShowPropertiesDialog(TScaleDriver& driver)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return TResult::NoGui;
    TfmProperties dialog(driver, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return TResult::Ok;
    return dialog.Apply();
}

TfmProperties::TfmProperties(TScaleDriver& driver, QWidget* parent)
    : QDialog(parent), FDriver(driver), FInitial(driver.CurrentDevice())
{
    setObjectName(QStringLiteral("TfmTrutinaProperties"));
    setWindowTitle(QStringLiteral("Драйвер весов: свойства"));
    setModal(true);
    const bool locked = driver.LockDevices();

    // The current logical device.
    auto* deviceBox = new QGroupBox(
        QStringLiteral("Логическое устройство № %1").arg(FInitial.Number), this);
    auto* form = new QFormLayout(deviceBox);
    edtName = new QLineEdit(QString::fromStdU16String(FInitial.Name), deviceBox);
    edtName->setObjectName(QStringLiteral("edtName"));
    // maxLength counts UTF-16 units: room for 64 characters of two units each, so that no name the
    // driver holds is cut when shown; the driver refuses a name of more than 64 characters.
    edtName->setMaxLength(static_cast<int>(2 * MaxDeviceNameLength));
    cbPort = CodeList(deviceBox, "cbPort");
    for (int port = MinPortNumber; port <= MaxPortNumber; ++port)
        cbPort->addItem(QStringLiteral("COM %1").arg(port), port);
    cbBaudRate = CodeList(deviceBox, "cbBaudRate");
    for (const auto& item : BaudRateItems)
        cbBaudRate->addItem(QString::fromUtf8(item.Text), item.Code);
    cbParity = CodeList(deviceBox, "cbParity");
    for (const auto& item : ParityItems)
        cbParity->addItem(QString::fromUtf8(item.Text), item.Code);
    cbModel = CodeList(deviceBox, "cbModel");
    for (const auto& model : ScaleModels())
        cbModel->addItem(QStringLiteral("%1 (НПВ %2 кг, d = %3 кг)")
                             .arg(QString::fromUtf8(model.Name))
                             .arg(model.Capacity)
                             .arg(model.Discreteness),
                         model.Code);
    SelectCode(cbPort, FInitial.PortNumber);
    SelectCode(cbBaudRate, FInitial.BaudRate);
    SelectCode(cbParity, FInitial.Parity);
    SelectCode(cbModel, FInitial.Model);
    cbPriceRounding = CodeList(deviceBox, "cbPriceRounding");
    for (const std::int64_t step : PriceSteps)
        cbPriceRounding->addItem(QString::number(static_cast<double>(step) / 10000, 'g'), static_cast<int>(step));
    SelectCode(cbPriceRounding, static_cast<int>(FInitial.PriceStep));
    chkEnabled = new QCheckBox(QStringLiteral("Устройство включено"), deviceBox);
    chkEnabled->setObjectName(QStringLiteral("chkEnabled"));
    chkEnabled->setChecked(FInitial.Enabled);
    form->addRow(QStringLiteral("Название:"), edtName);
    form->addRow(QStringLiteral("Порт:"), cbPort);
    form->addRow(QStringLiteral("Скорость:"), cbBaudRate);
    form->addRow(QStringLiteral("Чётность:"), cbParity);
    form->addRow(QStringLiteral("Модель:"), cbModel);
    form->addRow(QStringLiteral("Округление цены:"), cbPriceRounding);
    form->addRow(chkEnabled);
    if (locked) {
        for (QWidget* w : {static_cast<QWidget*>(edtName), static_cast<QWidget*>(cbPort),
                           static_cast<QWidget*>(cbBaudRate), static_cast<QWidget*>(cbParity),
                           static_cast<QWidget*>(cbModel), static_cast<QWidget*>(cbPriceRounding)})
            w->setEnabled(false);
        form->addRow(new QLabel(QStringLiteral("Логические устройства заблокированы"), deviceBox));
    }

    // The simulated scales: acts at once.
    auto* loadBox = new QGroupBox(QStringLiteral("Имитация весов"), this);
    auto* loadLayout = new QVBoxLayout(loadBox);
    auto* loadRow = new QHBoxLayout;
    edtLoad = new QDoubleSpinBox(loadBox);
    edtLoad->setObjectName(QStringLiteral("edtLoad"));
    edtLoad->setDecimals(3);
    edtLoad->setRange(-1000, 1000);
    edtLoad->setSuffix(QStringLiteral(" кг"));
    auto* btnPutLoad = new QPushButton(QStringLiteral("Положить груз"), loadBox);
    btnPutLoad->setObjectName(QStringLiteral("btnPutLoad"));
    btnPutLoad->setAutoDefault(false);
    auto* btnTakeOff = new QPushButton(QStringLiteral("Снять груз"), loadBox);
    btnTakeOff->setObjectName(QStringLiteral("btnTakeOff"));
    btnTakeOff->setAutoDefault(false);
    loadRow->addWidget(new QLabel(QStringLiteral("Груз:"), loadBox));
    loadRow->addWidget(edtLoad);
    loadRow->addWidget(btnPutLoad);
    loadRow->addWidget(btnTakeOff);
    lblLoad = new QLabel(loadBox);
    lblLoad->setObjectName(QStringLiteral("lblLoad"));
    chkUnstable = new QCheckBox(QStringLiteral("Масса нестабильна (колебания платформы)"), loadBox);
    chkUnstable->setObjectName(QStringLiteral("chkUnstable"));
    chkConnected = new QCheckBox(QStringLiteral("Связь с весами"), loadBox);
    chkConnected->setObjectName(QStringLiteral("chkConnected"));
    // A cut cable costs each call Timeout; a port whose adapter is gone says so at once.
    chkCutAtOnce = new QCheckBox(QStringLiteral("Обрыв связи сообщается сразу, без ожидания"), loadBox);
    chkCutAtOnce->setObjectName(QStringLiteral("chkCutAtOnce"));
    loadLayout->addLayout(loadRow);
    loadLayout->addWidget(lblLoad);
    loadLayout->addWidget(chkUnstable);
    loadLayout->addWidget(chkConnected);
    loadLayout->addWidget(chkCutAtOnce);
    // Slow scales: every call that asks them waits this long (beyond Timeout it is refused).
    auto* delayRow = new QHBoxLayout;
    edtAnswerDelay = new QSpinBox(loadBox);
    edtAnswerDelay->setObjectName(QStringLiteral("edtAnswerDelay"));
    edtAnswerDelay->setRange(0, static_cast<int>(MaxAnswerDelay));
    edtAnswerDelay->setSingleStep(100);
    edtAnswerDelay->setSuffix(QStringLiteral(" мс"));
    delayRow->addWidget(new QLabel(QStringLiteral("Задержка ответа весов:"), loadBox));
    delayRow->addWidget(edtAnswerDelay);
    delayRow->addStretch();
    loadLayout->addLayout(delayRow);
    connect(edtAnswerDelay, &QSpinBox::valueChanged, this, [this](int ms) { FDriver.SetAnswerDelay(ms); });
    connect(btnPutLoad, &QPushButton::clicked, this, &TfmProperties::btnPutLoadClick);
    connect(btnTakeOff, &QPushButton::clicked, this, &TfmProperties::btnTakeOffClick);
    connect(chkUnstable, &QCheckBox::clicked, this, &TfmProperties::chkUnstableClick);
    connect(chkConnected, &QCheckBox::clicked, this, &TfmProperties::chkConnectedClick);
    connect(chkCutAtOnce, &QCheckBox::clicked, this, [this](bool checked) { FDriver.SetAnswerAtOnce(checked); });

    // The load profile of the current device: acts at once, like the load control.
    auto* profileBox = new QGroupBox(QStringLiteral("Сценарий нагрузки"), this);
    auto* profileLayout = new QVBoxLayout(profileBox);
    auto* profileRow = new QHBoxLayout;
    cbProfile = CodeList(profileBox, "cbProfile");
    cbProfile->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbProfile->setMinimumContentsLength(16);
    for (const std::string& name : driver.LoadProfileNames()) {
        const QString whole = QString::fromStdString(name);
        cbProfile->addItem(Elided(cbProfile, whole), whole);
        cbProfile->setItemData(cbProfile->count() - 1, whole, Qt::ToolTipRole);
    }
    const TScaleDriver::TProfileView view = driver.LoadProfileView();
    const QString shownProfile = QString::fromStdString(view.Profile.Name.empty() ? FInitial.LoadProfile : view.Profile.Name);
    if (const int at = cbProfile->findData(shownProfile); at >= 0)
        cbProfile->setCurrentIndex(at);
    auto* btnProfileStart = new QPushButton(QStringLiteral("Запустить"), profileBox);
    btnProfileStart->setObjectName(QStringLiteral("btnProfileStart"));
    auto* btnProfileStop = new QPushButton(QStringLiteral("Остановить"), profileBox);
    btnProfileStop->setObjectName(QStringLiteral("btnProfileStop"));
    auto* btnProfileRestart = new QPushButton(QStringLiteral("Перезапустить"), profileBox);
    btnProfileRestart->setObjectName(QStringLiteral("btnProfileRestart"));
    for (QPushButton* button : {btnProfileStart, btnProfileStop, btnProfileRestart}) {
        button->setAutoDefault(false);
        button->setEnabled(cbProfile->count() > 0);
    }
    profileRow->addWidget(new QLabel(QStringLiteral("Сценарий:"), profileBox));
    profileRow->addWidget(cbProfile, 1);
    profileRow->addWidget(btnProfileStart);
    profileRow->addWidget(btnProfileStop);
    profileRow->addWidget(btnProfileRestart);
    lblProfileStep = new QLabel(profileBox);
    lblProfileStep->setObjectName(QStringLiteral("lblProfileStep"));
    lblReading = new QLabel(profileBox);
    lblReading->setObjectName(QStringLiteral("lblReading"));
    profileLayout->addLayout(profileRow);
    profileLayout->addWidget(lblProfileStep);
    profileLayout->addWidget(lblReading);
    connect(btnProfileStart, &QPushButton::clicked, this, &TfmProperties::btnProfileStartClick);
    connect(btnProfileStop, &QPushButton::clicked, this, &TfmProperties::btnProfileStopClick);
    connect(btnProfileRestart, &QPushButton::clicked, this, &TfmProperties::btnProfileRestartClick);
    // The scales move on by themselves: they are looked at five times a second.
    tmrProfile = new QTimer(this);
    tmrProfile->setObjectName(QStringLiteral("tmrProfile"));
    tmrProfile->setInterval(200);
    connect(tmrProfile, &QTimer::timeout, this, [this] {
        UpdateLoadState(); // a running profile moves the load, the swing and the connection
        UpdateProfileState();
    });
    tmrProfile->start();

    // A refusal for the next operation: taken when the dialog is closed with "ОК".
    auto* refusalBox = new QGroupBox(QStringLiteral("Отказ в следующей операции"), this);
    auto* refusalLayout = new QVBoxLayout(refusalBox);
    chkInjectRefusal = new QCheckBox(QStringLiteral("Следующая операция завершится с ошибкой:"), refusalBox);
    chkInjectRefusal->setObjectName(QStringLiteral("chkInjectRefusal"));
    cbRefusalCode = CodeList(refusalBox, "cbRefusalCode");
    for (const auto& row : ResultTable())
        if (row.Code != TResult::Ok)
            cbRefusalCode->addItem(QStringLiteral("%1: %2")
                                       .arg(static_cast<int>(row.Code))
                                       .arg(QString::fromUtf8(row.Description)),
                                   static_cast<int>(row.Code));
    if (const auto armed = driver.InjectedRefusal()) {
        chkInjectRefusal->setChecked(true);
        SelectCode(cbRefusalCode, static_cast<int>(*armed));
    }
    refusalLayout->addWidget(chkInjectRefusal);
    refusalLayout->addWidget(cbRefusalCode);

    auto* buttons = new QDialogButtonBox(this);
    auto* btnOk = buttons->addButton(QStringLiteral("ОК"), QDialogButtonBox::AcceptRole);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    auto* btnCancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(deviceBox);
    layout->addWidget(loadBox);
    layout->addWidget(profileBox);
    layout->addWidget(refusalBox);
    layout->addWidget(buttons);
    edtLoad->setValue(driver.LoadState().Load);
    UpdateLoadState();
    UpdateProfileState();
}

void TfmProperties::UpdateProfileState()
{
    const TScaleDriver::TProfileView view = FDriver.LoadProfileView();
    const TScalePlatform::TProfileState& profile = view.Profile;
    QString step;
    if (profile.Name.empty())
        step = QStringLiteral("Сценарий не запущен");
    else if (profile.Step < 0)
        step = QStringLiteral("«%1»: ожидание первого шага").arg(Elided(lblProfileStep, QString::fromStdString(profile.Name)));
    else if (profile.Running)
        step = QStringLiteral("«%1»: шаг %2 из %3, %4 с от начала")
                   .arg(Elided(lblProfileStep, QString::fromStdString(profile.Name)))
                   .arg(profile.Step + 1)
                   .arg(profile.StepCount)
                   .arg(static_cast<double>(profile.Elapsed) / 1000, 0, 'f', 1);
    else
        step = QStringLiteral("«%1»: остановлен на шаге %2 из %3")
                   .arg(Elided(lblProfileStep, QString::fromStdString(profile.Name)))
                   .arg(profile.Step + 1)
                   .arg(profile.StepCount);
    lblProfileStep->setText(step);
    lblProfileStep->setToolTip(QString::fromStdString(profile.Name));
    const TReading& r = view.Reading;
    QString reading;
    if (!view.Enabled)
        reading = QString::fromUtf8(ResultDescription(TResult::DeviceNotEnabled));
    else if (r.Result == TResult::NoConnection)
        reading = QString::fromUtf8(ResultDescription(TResult::NoConnection));
    else if (r.Result != TResult::Ok)
        reading = QStringLiteral("Весы показывают: %1").arg(QString::fromUtf8(ResultDescription(r.Result)));
    else
        reading = QStringLiteral("Весы показывают: %1 кг, %2")
                      .arg(r.Weight, 0, 'f', 3)
                      .arg(r.Stable ? QStringLiteral("масса стабильна") : QStringLiteral("масса нестабильна"));
    lblReading->setText(reading);
}

void TfmProperties::btnProfileStartClick()
{
    FDriver.StartLoadProfile(cbProfile->currentData().toString().toStdString());
    UpdateLoadState();
    UpdateProfileState();
}

void TfmProperties::btnProfileStopClick()
{
    FDriver.StopLoadProfile();
    UpdateProfileState();
}

void TfmProperties::btnProfileRestartClick()
{
    // Restarts the profile the scales run, or starts the one chosen when they run none.
    if (FDriver.LoadProfileView().Profile.Name.empty())
        FDriver.StartLoadProfile(cbProfile->currentData().toString().toStdString());
    else
        FDriver.RestartLoadProfile();
    UpdateLoadState();
    UpdateProfileState();
}

void TfmProperties::UpdateLoadState()
{
    const TScaleDriver::TLoadState state = FDriver.LoadState();
    lblLoad->setText(QStringLiteral("На платформе: %1 кг").arg(state.Load, 0, 'f', 3));
    chkUnstable->setChecked(state.Unstable);
    chkConnected->setChecked(state.Connected);
    chkCutAtOnce->setChecked(state.AnswerAtOnce);
    const QSignalBlocker quiet(edtAnswerDelay); // shown, not set again
    edtAnswerDelay->setValue(static_cast<int>(state.AnswerDelay));
}

void TfmProperties::btnPutLoadClick()
{
    FDriver.PutLoad(edtLoad->value());
    UpdateLoadState();
}

void TfmProperties::btnTakeOffClick()
{
    FDriver.PutLoad(0);
    UpdateLoadState();
}

void TfmProperties::chkUnstableClick(bool checked)
{
    FDriver.SetUnstable(checked);
    UpdateLoadState();
}

void TfmProperties::chkConnectedClick(bool checked)
{
    FDriver.SetScalesConnected(checked);
    UpdateLoadState();
}

TResult TfmProperties::Apply()
{
    TResult first = TResult::Ok;
    auto keep = [&](TResult r) {
        if (first == TResult::Ok)
            first = r;
    };
    // A refusal armed earlier must not hit the settings written here.
    FDriver.InjectRefusal(std::nullopt);
    const std::u16string name = edtName->text().toStdU16String();
    if (name != FInitial.Name)
        keep(FDriver.SetCurrentDeviceName(name));
    if (SelectedCode(cbPort) != FInitial.PortNumber)
        keep(FDriver.SetPortNumber(SelectedCode(cbPort)));
    if (SelectedCode(cbBaudRate) != FInitial.BaudRate)
        keep(FDriver.SetBaudRate(SelectedCode(cbBaudRate)));
    if (SelectedCode(cbParity) != FInitial.Parity)
        keep(FDriver.SetParity(SelectedCode(cbParity)));
    if (SelectedCode(cbModel) != FInitial.Model)
        keep(FDriver.SetModel(SelectedCode(cbModel)));
    if (SelectedCode(cbPriceRounding) != FInitial.PriceStep)
        keep(FDriver.SetPriceStep(SelectedCode(cbPriceRounding)));
    if (chkEnabled->isChecked() != FInitial.Enabled)
        keep(FDriver.SetDeviceEnabled(chkEnabled->isChecked()));
    FDriver.InjectRefusal(chkInjectRefusal->isChecked()
                              ? std::optional<TResult>(TResult(SelectedCode(cbRefusalCode)))
                              : std::nullopt);
    return first;
}

} // namespace trutina
