// The driver's own settings dialog (ShowProperties): the current logical device's settings and
// the load control of its simulated scales.
#pragma once

#include "simulator/ShowProperties.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTimer;

namespace trutina {

class TfmProperties final : public QDialog {
    Q_OBJECT
public:
    explicit TfmProperties(TScaleDriver& driver, QWidget* parent = nullptr);
    // Writes the changed device settings through the driver, then arms the refusal; the first
    // refusal's code, or Ok.
    TResult Apply();

private:
    void UpdateLoadState();
    void btnPutLoadClick();
    void btnTakeOffClick();
    void chkUnstableClick(bool checked);
    void chkConnectedClick(bool checked);
    // The load profile: chosen, started, stopped, restarted at once on the current device.
    void UpdateProfileState();
    void btnProfileStartClick();
    void btnProfileStopClick();
    void btnProfileRestartClick();

    TScaleDriver& FDriver;
    TDeviceSettings FInitial;
    QLineEdit* edtName;
    QComboBox* cbPort;
    QComboBox* cbBaudRate;
    QComboBox* cbParity;
    QComboBox* cbModel;
    QComboBox* cbPriceRounding;
    QCheckBox* chkEnabled;
    QDoubleSpinBox* edtLoad;
    QLabel* lblLoad;
    QCheckBox* chkUnstable;
    QCheckBox* chkConnected;
    QCheckBox* chkCutAtOnce;
    QSpinBox* edtAnswerDelay;
    QComboBox* cbProfile;
    QLabel* lblProfileStep;
    QLabel* lblReading;
    QTimer* tmrProfile;
    QCheckBox* chkInjectRefusal;
    QComboBox* cbRefusalCode;
};

} // namespace trutina
