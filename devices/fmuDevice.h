// TfmDevices: the logical device editor. It keeps no device data: every value it shows is read
// from the driver through the main window's wrapper, every change is written at once, and after
// every action the whole window is read again.
#pragma once

#include "driver/ScaleX.h"
#include "forms/Application.h"
#include "forms/Spin.h"
#include "runtime/exceptions.h"

#include <QDialog>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFont;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// One entry of a code list: the text shown and the driver code it stands for.
struct TComboItem {
    std::string Text;
    std::int32_t Code;
};

extern const TComboItem BaudRateItems[8];
extern const TComboItem ParityItems[2];
extern const TComboItem ModelItems[3];

// The 32 port entries, "COM 1" (code 1) to "COM 32" (code 32).
std::vector<TComboItem> PortItems();

// Replaces the list's entries by the items, each carrying its code as item data.
void FillComboItems(QComboBox* List, std::span<const TComboItem> Items);

class TfmDevices : public QDialog {
    Q_OBJECT
public:
    // Builds the window from its layout and runs FormCreate: the editor's AppException is the
    // application's exception handler from here until destruction.
    explicit TfmDevices(QWidget* parent = nullptr);
    ~TfmDevices() override;

    // Borrowed from the main window; must be set before the first UpdateAll.
    TScaleX* FScale = nullptr;

    void UpdateAll();
    void AppException(QObject* Sender, const runtime::Exception& E);

    // Handlers.
    void DeviceIndexClick(QObject* Sender);
    void DeviceNumberClick(QObject* Sender);
    void edtDeviceNameExit(QObject* Sender);
    void cboPortNumberChange(QObject* Sender);
    void cboBaudRateChange(QObject* Sender);
    void cboParityChange(QObject* Sender);
    void cboModelIDChange(QObject* Sender);
    void edtPortNumberExit(QObject* Sender);
    void edtBaudRateExit(QObject* Sender);
    void edtParityExit(QObject* Sender);
    void edtModelIDExit(QObject* Sender);
    void udPortNumberClick(QObject* Sender);
    void udBaudRateClick(QObject* Sender);
    void udParityClick(QObject* Sender);
    void udModelIDClick(QObject* Sender);
    void chkDeviceEnabledClick(QObject* Sender);
    void btnAddClick(QObject* Sender);
    void btnDeleteClick(QObject* Sender);
    void btnCloseClick(QObject* Sender);

    // Device list.
    QLabel* lblDevices;
    QFrame* topPanel;
    QLabel* lblDeviceIndex;
    QComboBox* cbDeviceIndex;
    QLabel* lblDeviceNumber;
    QComboBox* cbDeviceNumber;
    QLabel* lblDeviceCount;
    QLineEdit* edtDeviceCount;

    // Current device.
    QLabel* lblParameters;
    QFrame* bottomPanel;
    QLabel* lblDeviceName;
    QLineEdit* edtDeviceName;
    QLabel* lblPortNumber;
    QComboBox* cboPortNumber;
    QLineEdit* edtPortNumber;
    forms::TUpDown* udPortNumber;
    QLabel* lblBaudRate;
    QComboBox* cboBaudRate;
    QLineEdit* edtBaudRate;
    forms::TUpDown* udBaudRate;
    QLabel* lblParity;
    QComboBox* cboParity;
    QLineEdit* edtParity;
    forms::TUpDown* udParity;
    QLabel* lblModelID;
    QComboBox* cboModelID;
    QLineEdit* edtModelID;
    forms::TUpDown* udModelID;
    QFrame* lnDeviceEnabled;
    QCheckBox* chkDeviceEnabled;

    // Result.
    QFrame* lnResult;
    QLabel* lblResultCode;
    QLineEdit* edtResultCode;
    QLabel* lblResultDescription;
    QLineEdit* edtResultDescription;

    // Commands.
    QFrame* lnCommands;
    QLabel* lblCommands;
    QPushButton* btnAdd;
    QPushButton* btnDelete;
    QPushButton* btnClose;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // One parameter row: its list, field and spin, and the driver member behind them.
    struct TParameterRow {
        QComboBox* List;
        QLineEdit* Field;
        forms::TUpDown* Spin;
        std::int32_t (TScaleX::*Read)();
        void (TScaleX::*Write)(std::int32_t);
    };

    void BuildLayout();
    TParameterRow BuildRow(int top, const char* caption, QLabel*& label, QComboBox*& list, QLineEdit*& field,
                           forms::TUpDown*& spin, std::int32_t (TScaleX::*read)(), void (TScaleX::*write)(std::int32_t));
    void SetTabOrder();
    void BindHandlers();
    void FormCreate();
    void FormDestroy();

    // Runs an action, then the refresh, also when the action raised; the action's failure goes on.
    template <typename TAction>
    void ApplyAndUpdate(TAction&& action);

    // The row's writers: the selected entry's code, the field's number, the spin's position.
    void ApplyFromList(const TParameterRow& row);
    void ApplyFromField(const TParameterRow& row);
    void ApplyFromSpin(const TParameterRow& row);

    // Steps of UpdateAll.
    void UpdateResult();
    void UpdateDeviceName();
    void UpdateDeviceIndex();
    void UpdateDeviceNumber();
    void UpdateDeviceEnabled();
    void UpdateDeviceCount();
    void UpdateParameterRow(const TParameterRow& row);

    TParameterRow FPortRow{};
    TParameterRow FBaudRateRow{};
    TParameterRow FParityRow{};
    TParameterRow FModelRow{};

    forms::TExceptionHandler FSavedAppException;
    // The text that a failed read of the name put into edtDeviceName; leaving the field while it
    // still holds exactly this text writes nothing.
    std::optional<QString> FDeviceNameFailure;
};

// Opens the editor modally over the main window's wrapper, with the main window's font. The window
// is destroyed in all cases; a failure of its first refresh goes on to the caller.
void ShowDevicesDialog(TScaleX& Scale, const QFont& Font);
