#include "app/DriverTrace.h"

#include "driver/CallTrace.h"
#include "driver/DriverProcess.h"
#include "driver/Recording.h"
#include "forms/Binding.h"
#include "platform/apartment.h"
#include "platform/bstr.h"
#include "platform/classregistry.h"
#include "platform/faults.h"
#include "runtime/utf.h"

#include <QString>
#include <QVariant>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <memory>

// Warnings and above only by default: the trace's debug messages are off until a rule says otherwise.
Q_LOGGING_CATEGORY(lcDriver, "ponderix.driver", QtWarningMsg)

namespace {

bool GTraceOn = false;
std::unique_ptr<driver::TRecorder> GRecorder;
// When the header was written: the actions say how long after it they began, so that a replay
// keeps the operator's pace (a driver's answers may depend on the time, e.g. while the scales
// settle).
std::chrono::steady_clock::time_point GHeaderTime = std::chrono::steady_clock::now();
// One header per recording: a driver created again (isolated mode) goes on in the same sitting.
bool GHeaderWritten = false;

// One hook for both listeners, so that a call is timed and reported once.
void InstallDriverCallHook()
{
    driver::TRecorder* recorder = GRecorder.get();
    if (!GTraceOn && !recorder) {
        driver::SetDriverCallHook({});
        return;
    }
    driver::SetDriverCallHook([trace = GTraceOn, recorder](const driver::TDriverCall& call) {
        if (trace)
            qCDebug(lcDriver).noquote() << QString::fromStdString(driver::FormatDriverCall(call));
        if (recorder)
            recorder->WriteLine(driver::RecordingCallLine(call));
    });
}

// What the operator saw on the control: a button's or box's caption, a list's choice, an edit's
// text; else its accessible or object name.
QString Caption(QObject* sender)
{
    if (!sender)
        return {};
    for (const char* property : {"text", "currentText"}) {
        const QVariant value = sender->property(property);
        if (value.isValid() && value.canConvert<QString>())
            return value.toString();
    }
    if (const auto* widget = qobject_cast<QWidget*>(sender); widget && !widget->accessibleName().isEmpty())
        return widget->accessibleName();
    return sender->objectName();
}

} // namespace

bool ConnectDriverTrace()
{
    GTraceOn = lcDriver().isDebugEnabled();
    InstallDriverCallHook();
    return GTraceOn;
}

std::string DriverRecordingPath()
{
    const char* path = std::getenv("PONDERIX_RECORD");
    return path ? path : "";
}

void StartDriverRecording(const std::string& path)
{
    auto recorder = std::make_unique<driver::TRecorder>(path);
    driver::TRecorder* writer = recorder.get();
    platform::SetCrashFile(path); // the last words of a crash in the driver end the recording
    GRecorder = std::move(recorder);
    GHeaderWritten = false;
    InstallDriverCallHook();
    forms::SetActionHook([writer](std::string_view handler, QObject* sender) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - GHeaderTime);
        writer->WriteLine(driver::RecordingActionLine(handler, Caption(sender).toStdString(), elapsed.count()));
    });
}

void StopDriverRecording()
{
    forms::SetActionHook({});
    if (!GRecorder)
        return;
    platform::SetCrashFile({});
    GRecorder->End();
    // The hook holds the recorder's address: it goes before the recorder does.
    const std::unique_ptr<driver::TRecorder> closing = std::move(GRecorder);
    InstallDriverCallHook();
}

bool DriverRecordingOn() { return GRecorder != nullptr; }

std::string DriverRecordingFailure() { return GRecorder ? GRecorder->Failure() : std::string(); }
std::unique_ptr<driver::TCallWatchdog> StartCallWatchdog()
{
    std::string problem;
    const std::chrono::milliseconds limit = driver::CallLimitFromEnvironment(&problem);
    if (!problem.empty())
        qCWarning(lcDriver).noquote() << QString::fromStdString(problem);
    if (limit.count() == 0)
        return nullptr;
    // A call to the driver's own process waits in the system's call loop: the posted nothing
    // wakes that loop, which then asks the window whether to wait on.
    const platform::ApartmentRef apartment = driver::IsolatedMode() ? platform::CurrentApartment() : nullptr;
    return std::make_unique<driver::TCallWatchdog>(limit, [apartment](const std::string& line) {
        qCWarning(lcDriver).noquote() << QString::fromStdString(line);
        if (apartment)
            platform::PostToApartment(apartment, [] {});
    });
}

void RecordDriverHeader(ITrutina* driver, REFCLSID clsid)
{
    if (!GRecorder || !driver || GHeaderWritten)
        return;
    driver::TRecordingHeader header;
    header.MarksEnd = true; // StopDriverRecording writes the end line
    OLECHAR text[64] = {};
    if (StringFromGUID2(clsid, text, 64) > 0)
        header.ClassId = runtime::Utf16ToUtf8(platform::AsU16(text));
    platform::LookupInprocServer(clsid, header.Module);
    platform::BStr version;
    if (SUCCEEDED(driver->get_DriverVersion(version.Out())))
        header.DriverVersion = runtime::Utf16ToUtf8(version.Text());
    GRecorder->WriteLine(driver::RecordingHeaderLine(header));
    GHeaderTime = std::chrono::steady_clock::now();
    GHeaderWritten = true;
}
