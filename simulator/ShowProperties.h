// ShowProperties: the driver's own settings dialog for the current logical device.
#pragma once

#include "simulator/ScaleDriver.h"

namespace trutina {

// Runs the dialog modally for the current device. NoGui when the process has no QApplication or
// the caller is not on its thread; otherwise the result of
// applying the settings (Ok on cancel).
TResult ShowPropertiesDialog(TScaleDriver& driver);

} // namespace trutina
