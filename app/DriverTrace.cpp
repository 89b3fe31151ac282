#include "app/DriverTrace.h"

#include "driver/CallTrace.h"

#include <QString>

// Warnings and above only by default: the trace's debug messages are off until a rule says otherwise.
Q_LOGGING_CATEGORY(lcDriver, "ponderix.driver", QtWarningMsg)

bool ConnectDriverTrace()
{
    if (!lcDriver().isDebugEnabled()) {
        driver::SetDriverCallHook({});
        return false;
    }
    driver::SetDriverCallHook([](const driver::TDriverCall& call) {
        qCDebug(lcDriver).noquote() << QString::fromStdString(driver::FormatDriverCall(call));
    });
    return true;
}
