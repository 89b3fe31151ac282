// The main window over the fake driver: one window per test, shown and active, with the fake's
// script set before construction and its call log cleared after it.
#pragma once

#include "app/fmuMain.h"
#include "forms/Application.h"
#include "runtime/numtext.h"

#include "../forms/QtTestApp.h"
#include "../support/ProgramTestSupport.h"
#include "FakeDriverFixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// The reads of one UpdateAll, in order.
inline std::vector<std::string> UpdateAllCalls()
{
    return {"get ResultCode",      "get ResultDescription", "get LockDevices",   "get DeviceEnabled",
            "get Weight",          "get Weight",            "get UnitPrice",     "get UnitPrice",
            "get SalesPrice",      "get SalesPrice",        "get AsyncMode",     "get TareWeight",
            "get TareWeight",      "get ValuePurpose",      "get Value",         "get Value",
            "get WeightStep",      "get WeightStep",        "get PollingInterval", "get NettoWeight",
            "get ZeroScaleWeight", "get OutOfZero",         "get NegWeight",     "get BigWeight",
            "get NonStable",       "get InvalidRange",      "get SalesPrice",    "get SalesPrice",
            "get UpdatePrice",     "get AutoDisable",       "get EventNumber",   "get DataCount",
            "get DataEventEnabled"};
}

class MainWindowTest : public ::testing::Test {
protected:
    // Script the fake here (before the window exists); the default is a plain driver.
    virtual void Script() {}

    void SetUp() override
    {
        FSeparator = runtime::FormatSettings().DecimalSeparator;
        Script();
        Form = std::make_unique<TfmMain>(NoAsk);
        ASSERT_TRUE(ShowActive(Form.get()));
        fakedriver::ClearCalls();
    }

    void TearDown() override
    {
        Form.reset();
        runtime::FormatSettings().DecimalSeparator = FSeparator;
    }

    static std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }
    static std::vector<std::string> Log() { return fakedriver::CallTexts(); }
    static bool Logged(const std::string& call)
    {
        const auto log = Log();
        return std::find(log.begin(), log.end(), call) != log.end();
    }

    // Replaces an edit's text as a user would: focus, select all, type.
    static void Retype(QLineEdit* edit, const char* text)
    {
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, QString::fromUtf8(text));
    }

    void ShowPage(QWidget* page) { Form->PageControl->setCurrentWidget(page); }

    TFakeDriverEnvironment Environment;
    std::unique_ptr<TfmMain> Form;

private:
    char FSeparator = '.';
};

} // namespace testsupport
