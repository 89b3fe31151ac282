// A sitting at the bench recorded against the fake driver, the way the program records one: the
// wrapper's calls through the driver's call hook, data events through the control, an action
// marker before each step. Then ponderix-replay run in-process on it.
#pragma once

#include "FakeDriverFixture.h"
#include "platform/apartment.h"
#include "platform/comptr.h"

#include "driver/Recording.h"
#include "driver/ScaleX.h"
#include "driver/Statera.h"
#include "tools/Replay.h"

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// The fake's answers during the sitting. Weight is read once, by "Получить массу".
inline void ScriptSittingDriver()
{
    fakedriver::SetTextUtf8("ResultDescription", "Ошибок нет");
    fakedriver::SetReal("Weight", 1.25);
    fakedriver::SetMoney("UnitPrice", 123400);
    fakedriver::SetTextUtf8("DeviceName", "Весы \"Ортикс\"\n");
    fakedriver::SetLong("AddDevice", 3);
    // Every operation sets the result, as a driver does; Zero is refused.
    for (const char* member : {"ReadWeight", "UnitPrice", "GetDeviceMetrics", "AddDevice", "GenerateEvent"})
        fakedriver::ScriptResult(member, 0, "Ошибок нет");
    fakedriver::ScriptResult("Zero", -10, "Масса не стабильна");
    fakedriver::ScriptFailure("Tare", DISP_E_EXCEPTION, "Нет связи с весами"); // a failure status
    fakedriver::OnCall("GenerateEvent", [] { fakedriver::RaiseDataEventFromWorker(); });
}

// Records the sitting into path; returns the number of actions it holds.
inline int RecordSitting(const std::string& path)
{
    driver::TRecorder recorder(path);
    TStatera control;
    int events = 0;
    control.OnDataEvent = [&](TStatera*) { ++events; };
    platform::ComPtr<ITrutina> driver = control.DriverInterface();
    recorder.WriteLine(driver::RecordingHeaderLine({"{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}", "FakeTrutina.dll", "1.0"}));
    driver::SetDriverCallHook(
        [&](const driver::TDriverCall& call) { recorder.WriteLine(driver::RecordingCallLine(call)); });
    TScaleX scale(driver.Get());
    auto action = [&](const char* handler, const char* caption, const std::function<void()>& work) {
        recorder.WriteLine(driver::RecordingActionLine(handler, caption));
        try {
            work();
        } catch (const runtime::Exception&) {
            // refused or failed: the recording holds what the driver answered
        }
    };
    // The start-up reads come before any action.
    scale.ResultCode();
    scale.ResultDescription();
    action("btnReadWeightClick", "Получить массу", [&] {
        scale.ReadWeight();
        scale.Weight();
    });
    action("TareButtonClick", "Ноль", [&] { scale.Zero(); });
    action("btnTareClick", "Тара", [&] { scale.Tare(); });
    action("edtUnitPriceExit", "12,34", [&] {
        scale.SetUnitPrice(123400);
        scale.UnitPrice();
    });
    action("btnGetDeviceMetricsClick", "Параметры устройства", [&] {
        scale.GetDeviceMetrics();
        scale.DeviceName();
        scale.AddDevice();
    });
    action("btnGenerateAsyncMessageClick", "Генерировать событие", [&] {
        scale.GenerateEvent();
        for (int waited = 0; events == 0 && waited < 5000; waited += 10)
            platform::WaitAndPumpApartment(10);
        scale.DataCount();
    });
    driver::SetDriverCallHook({});
    return 6;
}

struct TReplayRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
    std::vector<std::string> OutLines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(Out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

inline TReplayRun RunReplay(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    TReplayRun run;
    run.ExitCode = replay::Run(args, out, err);
    run.Out = out.str();
    run.Err = err.str();
    return run;
}

} // namespace testsupport
