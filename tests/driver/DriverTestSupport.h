// What the driver tests share: the fake driver environment as a GoogleTest fixture that also
// checks, at the end of each test, that no object of the fake module is left alive.
#pragma once

#include "driver/Trutina_TLB.h"
#include "FakeDriverFixture.h"
#include "platform/comptr.h"

#include <gtest/gtest.h>

#include <stdexcept>

class TFakeDriverTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(fakedriver::LiveInstances(), 0) << "a driver instance was not released";
        EXPECT_EQ(fakedriver::LiveObjects(), 0) << "an object of the fake module was not released";
    }

    // A new instance of the fake through the class registry, as ITrutina.
    static platform::ComPtr<ITrutina> CreateDriver()
    {
        platform::ComPtr<ITrutina> driver;
        HRESULT hr = CoCreateInstance(CLSID_Statera, nullptr, CLSCTX_INPROC_SERVER, IID_ITrutina, driver.OutVoid());
        if (FAILED(hr) || !driver)
            throw std::runtime_error("CoCreateInstance of the fake driver failed");
        return driver;
    }

    TFakeDriverEnvironment FEnvironment;
};
