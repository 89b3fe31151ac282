// The driver call trace in the program's log: the logging category "ponderix.driver", off by
// default. QT_LOGGING_RULES="ponderix.driver.debug=true" switches it on; each driver call and data
// event then becomes one debug message of the category, written wherever Qt's message handler
// writes (standard error, or the journal).
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDriver)

// Connects the driver's call hook to the category when its debug messages are on, and leaves the
// hook off otherwise. The category is looked at once, here, at start-up: rules changed later do
// not switch the trace. Returns whether the trace is on.
bool ConnectDriverTrace();
