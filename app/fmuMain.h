// TfmMain: the main test window. It hosts the driver's control, wraps its interface in TScaleX
// and offers every driver operation; after each one it re-reads everything it shows. The driver's
// life is app/DriverLife.h, the controls' places fmuMainLayout.cpp.
#pragma once

#include "app/DriverLife.h"
#include "forms/Controls.h"
#include "forms/Spin.h"
#include "runtime/exceptions.h"

#include <QWidget>

#include <array>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QAction;
class QMenu;
class QPushButton;
class QTabWidget;

class TfmMain : public QWidget {
    Q_OBJECT
public:
    // Builds the window, checks the driver registration (asking through askAndRegister), creates
    // the driver control and the wrapper, refreshes and installs AppException. Raises what any
    // of these raises, runtime::EAbort when the operator gave up at the registration prompt.
    explicit TfmMain(TAskAndRegisterServer askAndRegister, QWidget* parent = nullptr);
    ~TfmMain() override;

    // The command frame's parts.
    void SetCommandButtonsEnabled(bool Enabled);
    void ClearResult();
    void UpdateAll();

    // The application-wide exception handler while this window is the current one.
    void AppException(QObject* Sender, const runtime::Exception& E);

    // Window-level handlers.
    void btnCloseClick(QObject* Sender);
    void chkLockDevicesClick(QObject* Sender);
    void chkDeviceEnabledClick(QObject* Sender);
    void btnPropertiesClick(QObject* Sender);
    void btnDevicesClick(QObject* Sender);
    void btnAboutClick(QObject* Sender);

    // Synchronous page.
    void btnReadWeightClick(QObject* Sender);
    void TareButtonClick(QObject* Sender);
    void btnTareClick(QObject* Sender);
    void btnSetTareWeightClick(QObject* Sender);
    void btnGetDeviceMetricsClick(QObject* Sender);
    void btnResetClick(QObject* Sender);
    void btnGetValueClick(QObject* Sender);
    void btnSetValueClick(QObject* Sender);
    void edtUnitPriceExit(QObject* Sender);
    void edtTareWeightExit(QObject* Sender);
    void chkUpdatePriceClick(QObject* Sender);
    void cbValuePurposeChange(QObject* Sender);
    void edtValueExit(QObject* Sender);
    void sbValueUpClick(QObject* Sender);
    void sbValueDownClick(QObject* Sender);
    void piClearClick(QObject* Sender);

    // Asynchronous page.
    void chkAsyncModeClick(QObject* Sender);
    void chkDataEventEnabledClick(QObject* Sender);
    void chkAutoDisableClick(QObject* Sender);
    void chkDeleteEventsClick(QObject* Sender);
    void cbPollingIntervalChange(QObject* Sender);
    void edtWeightStepExit(QObject* Sender);
    void sbWeightStepUpClick(QObject* Sender);
    void sbWeightStepDownClick(QObject* Sender);
    void btnGenerateAsyncMessageClick(QObject* Sender);
    void edtUnitPriceAsyncExit(QObject* Sender);
    void edtAsyncTareWeightExit(QObject* Sender);
    void btnUpdateClick(QObject* Sender);
    void ScaleDataEvent(TStatera* Sender);

    // Once the end of the driver's own process has been told (isolated mode): the driver is
    // created again through the start-up path (registration check, first refresh), which each
    // handler does by itself before its operation. Nothing while the driver runs.
    void RecreateDriver();

    // The driver wrapper, lent to the windows this one opens.
    TScaleX& Scale() { return FDriver.Scale(); }

    // Window frame.
    QTabWidget* PageControl;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QFrame* Shape1;
    QLabel* Label9;
    QLineEdit* edtResultCode;
    QLabel* Label10;
    QLineEdit* edtResultDescription;
    QFrame* Bevel1;
    QLabel* Label17;
    QWidget* FlagsPanel;
    QPushButton* btnAbout;
    QCheckBox* chkLockDevices;
    QPushButton* btnDevices;
    QCheckBox* chkDeviceEnabled;
    QPushButton* btnProperties;
    QPushButton* btnClose;
    QMenu* MemoPopupMenu;
    QAction* piClear;

    // Synchronous page.
    QFrame* DataPanel;
    QLabel* Label1;
    QLineEdit* edtWeight;
    QLabel* Label2;
    QLineEdit* edtUnitPrice;
    QLabel* Label3;
    QLineEdit* edtSalesPrice;
    QLabel* Label4;
    QLineEdit* edtTareWeight;
    QCheckBox* chkUpdatePrice;
    QLabel* Label8;
    forms::TMemo* Memo;
    QPushButton* btnReadWeight;
    QPushButton* btnZero;
    QPushButton* btnReset;
    QPushButton* btnTare;
    QPushButton* btnSetTareWeight;
    QPushButton* btnGetDeviceMetrics;
    QGroupBox* gbParams;
    QLabel* Label11;
    QComboBox* cbValuePurpose;
    QLabel* Label12;
    QLineEdit* edtValue;
    forms::TSpinButton* sbValue;
    QPushButton* btnGetValue;
    QPushButton* btnSetValue;

    // Status flags.
    QCheckBox* chkNettoWeight;
    QCheckBox* chkZeroScaleWeight;
    QCheckBox* chkOutOfZero;
    QCheckBox* chkNegWeight;
    QCheckBox* chkBigWeight;
    QCheckBox* chkNonStable;
    QCheckBox* chkInvalidRange;

    // Asynchronous page.
    QFrame* WeightPanel;
    QFrame* ParamsPanel;
    QLabel* Label13;
    QLineEdit* edtEventNumber;
    QLabel* Label7;
    QLineEdit* edtDataCount;
    QPushButton* btnUpdate;
    QLabel* Label14;
    QLineEdit* edtAsyncWeight;
    QLabel* Label15;
    QLineEdit* edtUnitPriceAsync;
    QLabel* Label16;
    QLineEdit* edtAsyncSalesPrice;
    QLabel* Label18;
    QLineEdit* edtAsyncTareWeight;
    QCheckBox* chkAsyncMode;
    QCheckBox* chkDataEventEnabled;
    QCheckBox* chkAutoDisable;
    QCheckBox* chkDeleteEvents;
    QLabel* Label5;
    QComboBox* cbPollingInterval;
    QLabel* Label6;
    QLineEdit* edtWeightStep;
    forms::TSpinButton* sbWeightStep;
    QPushButton* btnGenerateAsyncMessage;

    // The fourteen command buttons, in the order in which they are switched.
    std::array<QPushButton*, 14> CommandButtons() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

signals:
    // The window was closed: the program ends.
    void closed();

private:
    // The layout (fmuMainLayout.cpp).
    void BuildFrame();
    void BuildSyncPage();
    void BuildAsyncPage();
    void BindHandlers();
    void SetTabOrder();

    // Runs a test command in the command frame: buttons off, result cleared, the call, then,
    // also when it raised, buttons on and the refresh.
    template <typename TCall>
    void RunCommand(TCall&& call);
    // Runs a writer, then the refresh, also when the writer raised.
    template <typename TCall>
    void ApplyAndUpdate(TCall&& call);

    // Readers, in the order of UpdateAll.
    void UpdateResult();
    void UpdateLockDevices();
    void UpdateDeviceEnabled();
    void UpdateWeight();
    void UpdateUnitPrice();
    void UpdateSalesPrice();
    void UpdateAsyncMode();
    void UpdateTareWeight();
    void UpdateValuePurpose();
    void UpdateValue();
    void UpdateWeightStep();
    void UpdatePollingInterval();
    void UpdateFlags();
    void UpdateUpdatePrice();
    void UpdateAutoDisable();
    void UpdateEventNumber();
    void UpdateDataCount();
    void UpdateDataEventEnabled();
    void UpdateRecording();

    // Writers.
    void ApplyUnitPrice();
    void ApplyTareWeight();
    void ApplyUpdatePrice();
    void ApplyValuePurpose();
    void ApplyValue();
    void ApplyAsyncMode();
    void ApplyDataEventEnabled();
    void ApplyAutoDisable();
    void ApplyPollingInterval();
    void ApplyWeightStep();
    void ApplyUnitPriceAsync();
    void ApplyAsyncTareWeight();

    void ShowDeviceMetrics();
    void StepValue(std::int32_t delta);
    void StepWeightStep(long double delta);

    TDriverLife FDriver;
    std::int32_t FValue = 0;
    double FWeightStep = 0;
    bool FDeleteEvents = false;
    bool FRecordingFailureShown = false;
    std::string FRecordingNote; // the recording's failure, while the result it was said with is shown
};
