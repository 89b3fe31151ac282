// The driver call trace in the program's log, and the driver recording: both listen on the
// driver's one call hook (driver/CallTrace.h).
//
// The trace: the logging category "ponderix.driver", off by default.
// QT_LOGGING_RULES="ponderix.driver.debug=true" switches it on; each driver call and data event
// then becomes one debug message of the category, written wherever Qt's message handler writes
// (standard error, or the journal).
//
// The recording: PONDERIX_RECORD=<file> writes the sitting to a new or empty file, one JSON line per driver
// call, data event and user action (driver/Recording.h), for ponderix-replay.
#pragma once

#include "driver/CallGuard.h"
#include "driver/Trutina_TLB.h"

#include <QLoggingCategory>

#include <memory>
#include <string>

Q_DECLARE_LOGGING_CATEGORY(lcDriver)

// Connects the driver's call hook to the category when its debug messages are on, and leaves the
// trace off otherwise. The category is looked at once, here, at start-up: rules changed later do
// not switch the trace. Returns whether the trace is on.
bool ConnectDriverTrace();

// Starts recording into path (a new or empty file): driver calls, data events and the actions of bound
// handlers. runtime::Exception when the file cannot be opened.
void StartDriverRecording(const std::string& path);
// The file named by PONDERIX_RECORD, or empty.
std::string DriverRecordingPath();
// Ends the recording with its end line (the sitting ended normally); the hook is left to the trace
// alone.
void StopDriverRecording();
bool DriverRecordingOn();
// Why the recording stopped writing (a full disk, ...), naming its file; empty while it writes.
std::string DriverRecordingFailure();

// The watchdog of driver calls with the limit PONDERIX_CALL_LIMIT_MS (5000 ms by default; none for
// 0): a call that runs longer is reported as a warning of the category, on standard error by
// default and among the trace's lines, while it runs and once it returns.
std::unique_ptr<driver::TCallWatchdog> StartCallWatchdog();

// Writes the recording's header line for the driver just created: the format, the class id, the
// module registered for it and the driver's DriverVersion (read directly, so that it is neither
// traced nor recorded as a call). Nothing while no recording is on, or once the recording has its
// header: a driver created again goes on in the same sitting.
void RecordDriverHeader(ITrutina* driver, REFCLSID clsid);
