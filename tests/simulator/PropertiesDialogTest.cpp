// ShowProperties: the driver's own modal dialog, driven offscreen as an operator would.
#include "platform/comptr.h"
#include "SimulatorEnvironment.h"

#include "driver/ScaleX.h"
#include "simulator/ResultCodes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <functional>

using trutina::TResult;

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "simulator_dialog_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// Runs act on the driver's dialog once it is the active modal window.
void WhenDialogOpens(std::function<void(QDialog&)> act)
{
    auto* timer = new QTimer(&App());
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != QLatin1String("TfmTrutinaProperties"))
            return;
        timer->stop();
        timer->deleteLater();
        act(*dialog);
    });
    timer->start();
}

template <typename T>
T& Child(QDialog& dialog, const char* name)
{
    T* child = dialog.findChild<T*>(QLatin1String(name));
    if (!child)
        throw std::runtime_error(std::string("the dialog has no ") + name);
    return *child;
}

void Choose(QComboBox& list, int code) { list.setCurrentIndex(list.findData(code)); }

// Lets the dialog's own timers run for ms.
void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class PropertiesDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        App();
        Env.WriteSettings(R"({"devices": [{"number": 1, "name": "Весы 1", "enabled": true}]})");
        Driver = Env.Create();
        Scale = std::make_unique<TScaleX>(Driver.Get());
    }

    TSimulatorEnvironment Env;
    platform::ComPtr<ITrutina> Driver;
    std::unique_ptr<TScaleX> Scale;
};

TEST_F(PropertiesDialogTest, OkWritesTheDeviceSettingsPutsTheLoadAndArmsTheRefusal)
{
    WhenDialogOpens([](QDialog& d) {
        Child<QLineEdit>(d, "edtName").setText(QStringLiteral("Весы на кассе"));
        Choose(Child<QComboBox>(d, "cbPort"), 5);
        Choose(Child<QComboBox>(d, "cbBaudRate"), 18);
        Choose(Child<QComboBox>(d, "cbParity"), 2);
        Choose(Child<QComboBox>(d, "cbModel"), 11);
        Child<QDoubleSpinBox>(d, "edtLoad").setValue(2.5);
        Child<QPushButton>(d, "btnPutLoad").click();
        Child<QCheckBox>(d, "chkInjectRefusal").setChecked(true);
        Choose(Child<QComboBox>(d, "cbRefusalCode"), static_cast<int>(TResult::Overload));
        Child<QPushButton>(d, "btnOk").click();
    });
    Scale->ShowProperties();
    EXPECT_EQ(Scale->CurrentDeviceName(), "Весы на кассе");
    EXPECT_EQ(Scale->PortNumber(), 5);
    EXPECT_EQ(Scale->BaudRate(), 18);
    EXPECT_EQ(Scale->Parity(), 2);
    EXPECT_EQ(Scale->Model(), 11);
    EXPECT_NE(Env.ReadSettings().find("Весы на кассе"), std::string::npos);

    // The armed refusal takes the next operation, and only that one.
    try {
        Scale->SetUnitPrice(10000);
        FAIL() << "the refusal was not armed";
    } catch (const EScaleError& e) {
        EXPECT_EQ(e.ResultCode(), static_cast<std::int32_t>(TResult::Overload));
    }
    EXPECT_EQ(Scale->UnitPrice(), 0);
    Env.AdvanceClock(2000);
    Scale->ReadWeight();
    EXPECT_EQ(Scale->Weight(), 2.5);
}

TEST_F(PropertiesDialogTest, CancelKeepsTheSettingsButTheLoadControlActsAtOnce)
{
    WhenDialogOpens([](QDialog& d) {
        Child<QLineEdit>(d, "edtName").setText(QStringLiteral("не сохранять"));
        Child<QCheckBox>(d, "chkUnstable").click();
        Child<QPushButton>(d, "btnCancel").click();
    });
    Scale->ShowProperties();
    EXPECT_EQ(Scale->CurrentDeviceName(), "Весы 1");
    Scale->ReadWeight();
    EXPECT_TRUE(Scale->NonStable());

    WhenDialogOpens([](QDialog& d) {
        Child<QCheckBox>(d, "chkConnected").click(); // cut the cable
        Child<QPushButton>(d, "btnCancel").click();
    });
    Scale->ShowProperties();
    EXPECT_THROW(Scale->ReadWeight(), EScaleError);
    EXPECT_EQ(Scale->ResultCode(), static_cast<std::int32_t>(TResult::NoConnection));

    WhenDialogOpens([](QDialog& d) {
        Child<QCheckBox>(d, "chkConnected").click();
        Child<QSpinBox>(d, "edtAnswerDelay").setValue(1500); // slower than the Timeout of 1000 ms
        Child<QPushButton>(d, "btnCancel").click();
    });
    Scale->ShowProperties();
    EXPECT_THROW(Scale->ReadWeight(), EScaleError);
    EXPECT_EQ(Scale->ResultCode(), static_cast<std::int32_t>(TResult::AnswerTimeout));
}

TEST_F(PropertiesDialogTest, AnArmedRefusalDoesNotHitTheDialogsOwnSettingsAndCanBeDisarmed)
{
    WhenDialogOpens([](QDialog& d) {
        Child<QCheckBox>(d, "chkInjectRefusal").setChecked(true);
        Choose(Child<QComboBox>(d, "cbRefusalCode"), static_cast<int>(TResult::NoConnection));
        Child<QPushButton>(d, "btnOk").click();
    });
    Scale->ShowProperties();
    bool shownArmed = false;
    WhenDialogOpens([&](QDialog& d) {
        shownArmed = Child<QCheckBox>(d, "chkInjectRefusal").isChecked();
        Child<QCheckBox>(d, "chkInjectRefusal").setChecked(false);
        Choose(Child<QComboBox>(d, "cbPort"), 9);
        Child<QPushButton>(d, "btnOk").click();
    });
    Scale->ShowProperties();
    EXPECT_TRUE(shownArmed);
    EXPECT_EQ(Scale->PortNumber(), 9);
    EXPECT_NO_THROW(Scale->SetUnitPrice(5000));
}

TEST_F(PropertiesDialogTest, LockedDevicesCannotBeEditedInTheDialog)
{
    Scale->SetLockDevices(true);
    bool nameEditable = true, enabledEditable = false;
    WhenDialogOpens([&](QDialog& d) {
        nameEditable = Child<QLineEdit>(d, "edtName").isEnabled();
        enabledEditable = Child<QCheckBox>(d, "chkEnabled").isEnabled();
        Child<QPushButton>(d, "btnOk").click();
    });
    Scale->ShowProperties();
    EXPECT_FALSE(nameEditable);
    EXPECT_TRUE(enabledEditable);
}

TEST_F(PropertiesDialogTest, ASecondShowPropertiesWhileOpenIsRefused)
{
    LONG inner = 0;
    WhenDialogOpens([&](QDialog& d) {
        Driver->ShowProperties(&inner);
        d.reject();
    });
    Scale->ShowProperties();
    EXPECT_EQ(inner, static_cast<LONG>(TResult::DialogOpen));
    EXPECT_EQ(Scale->ResultCode(), 0); // the outer call ended well
}

// The profile group: choose, start, watch the step and what the scales show move on with time,
// stop, restart; it acts on the scales at once (also on "Отмена"). A profile name of any length
// is shown elided, whole in its tooltip, and leaves the dialog its size.
TEST_F(PropertiesDialogTest, AProfileIsStartedStoppedAndRestartedAndItsStepAndReadingShown)
{
    const std::string longName(3000, 'z');
    Env.WriteSettings(R"({"devices": [{"number": 1, "enabled": true}],
      "loadProfiles": {"a": {"steps": [{"at": 0, "load": 1.0}, {"at": 2000, "load": 2.0}]},
                       "b": {"steps": [{"at": 0, "load": 5.0}]}, ")" + longName + R"(": {"steps": [{"at": 0, "load": 0}]}}})");
    Driver = Env.Create();
    Scale = std::make_unique<TScaleX>(Driver.Get());
    std::vector<std::pair<QString, QString>> seen; // step, reading
    QString load, longTip;
    int width = 0;
    WhenDialogOpens([&](QDialog& d) {
        width = d.width();
        longTip = Child<QComboBox>(d, "cbProfile").itemData(2, Qt::ToolTipRole).toString();
        auto& step = Child<QLabel>(d, "lblProfileStep");
        auto& reading = Child<QLabel>(d, "lblReading");
        auto look = [&] { seen.emplace_back(step.text(), reading.text()); };
        look();
        auto& profiles = Child<QComboBox>(d, "cbProfile");
        profiles.setCurrentIndex(profiles.findText(QStringLiteral("a")));
        Child<QPushButton>(d, "btnProfileStart").click();
        look();
        Env.AdvanceClock(3000);
        Wait(300);
        look();
        load = Child<QLabel>(d, "lblLoad").text();
        Child<QPushButton>(d, "btnProfileStop").click();
        Env.AdvanceClock(1000);
        Wait(300);
        look();
        Child<QPushButton>(d, "btnProfileRestart").click();
        look();
        Child<QPushButton>(d, "btnCancel").click();
    });
    Scale->ShowProperties();
    const std::pair<QString, QString> expected[] = {
        {"Сценарий не запущен", "Весы показывают: 0.000 кг, масса стабильна"},
        {"«a»: шаг 1 из 2, 0.0 с от начала", "Весы показывают: 0.000 кг, масса нестабильна"},
        {"«a»: шаг 2 из 2, 3.0 с от начала", "Весы показывают: 2.000 кг, масса стабильна"},
        {"«a»: остановлен на шаге 2 из 2", "Весы показывают: 2.000 кг, масса стабильна"},
        // Restarted, the scales start as fresh ones: from an empty platform, not from the old load.
        {"«a»: шаг 1 из 2, 0.0 с от начала", "Весы показывают: 0.000 кг, масса нестабильна"},
    };
    EXPECT_LT(width, 2000); // unbounded, a 3000-character name made it 20 000 px wide and more
    EXPECT_EQ(longTip.toStdString(), longName);
    ASSERT_EQ(seen.size(), std::size(expected));
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].first.toStdString(), expected[i].first.toStdString());
        EXPECT_EQ(seen[i].second.toStdString(), expected[i].second.toStdString());
    }
    EXPECT_EQ(load.toStdString(), "На платформе: 2.000 кг"); // the profile's load, followed by the dialog
    Env.AdvanceClock(1000);
    Scale->ReadWeight(); // the restarted profile runs on after the dialog
    EXPECT_EQ(Scale->Weight(), 1.0);
}

} // namespace
