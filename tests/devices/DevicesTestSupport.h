// The device editor over the fake driver: one window per test, shown and active, with the fake's
// script set before the first refresh and its call log cleared after it.
#pragma once

#include "devices/fmuDevice.h"
#include "driver/ScaleX.h"
#include "forms/Application.h"

#include "../forms/QtTestApp.h"
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

inline std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
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

inline std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }
inline QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// Types the text key by key (QTest::keyClicks takes ASCII only).
inline void Type(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        const auto key = ch.isLetterOrNumber() && ch.unicode() < 0x80 ? Qt::Key(ch.toUpper().unicode()) : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, widget, key, QString(ch), Qt::NoModifier);
    }
}

// Replaces an edit's text as a user would: click into it, select all, type.
inline void Retype(QLineEdit* edit, const char* text)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    Type(edit, QString::fromUtf8(text));
}

// Chooses the entry with the mouse: opens the list and clicks the entry.
inline void Choose(QComboBox* list, const char* text)
{
    const int index = list->findText(QString::fromUtf8(text));
    ASSERT_GE(index, 0) << text;
    list->showPopup();
    QAbstractItemView* view = list->view();
    const QModelIndex item = view->model()->index(index, list->modelColumn(), view->rootIndex());
    view->scrollTo(item);
    // The list ignores a release that comes right after it opened (the click that opened it).
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center());
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
