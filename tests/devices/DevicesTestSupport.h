// The device editor over the fake driver: one window per test, shown and active, with the fake's
// script set before the first refresh and its call log cleared after it.
#pragma once

#include "devices/fmuDevice.h"
#include "driver/ScaleX.h"
#include "forms/Application.h"
#include "platform/comptr.h"

#include "../forms/QtTestApp.h"
#include "EditorInput.h"
#include "../support/ProgramTestSupport.h"
#include "FakeDriverFixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// The reads of one refresh of the editor, in order.
inline std::vector<std::string> EditorRefreshCalls()
{
    return {"get ResultCode",          "get ResultDescription", "get CurrentDeviceName", "get CurrentDeviceIndex",
            "get CurrentDeviceNumber", "get DeviceEnabled",     "get DeviceCount",       "get PortNumber",
            "get BaudRate",            "get Parity",            "get Model"};
}

// The result check after a write or a method that the driver took.
inline std::vector<std::string> Accepted(const std::string& call)
{
    std::vector<std::string> calls = {call, "get ResultCode"};
    const auto refresh = EditorRefreshCalls();
    calls.insert(calls.end(), refresh.begin(), refresh.end());
    return calls;
}

inline platform::ComPtr<ITrutina> CreateFakeDriver()
{
    platform::ComPtr<ITrutina> driver;
    const HRESULT hr =
        CoCreateInstance(CLSID_Statera, nullptr, CLSCTX_INPROC_SERVER, IID_ITrutina, driver.OutVoid());
    if (FAILED(hr) || !driver)
        throw std::runtime_error("CoCreateInstance of the fake driver failed");
    return driver;
}

class DevicesTest : public ::testing::Test {
protected:
    // Script the fake here (before the first refresh); the default is a plain driver.
    virtual void Script() {}

    void SetUp() override
    {
        Script();
        Driver = CreateFakeDriver();
        Scale = std::make_unique<TScaleX>(Driver.Get());
        Form = std::make_unique<TfmDevices>();
        Form->FScale = Scale.get();
        Form->UpdateAll();
        ASSERT_TRUE(ShowActive(Form.get()));
        fakedriver::ClearCalls();
    }

    void TearDown() override
    {
        Form.reset();
        Scale.reset();
        Driver.Reset();
    }

    static std::vector<std::string> Log() { return fakedriver::CallTexts(); }
    static bool Logged(const std::string& call)
    {
        const auto log = Log();
        return std::find(log.begin(), log.end(), call) != log.end();
    }

    TFakeDriverEnvironment Environment;
    platform::ComPtr<ITrutina> Driver;
    std::unique_ptr<TScaleX> Scale;
    std::unique_ptr<TfmDevices> Form;
};

} // namespace testsupport
