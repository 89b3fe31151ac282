#include "QtTestApp.h"

#include "forms/Application.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {
namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "ponderix-tests";
        static char* argv[] = {name, nullptr};
        FQt = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        FApplication = std::make_unique<forms::TApplication>();
    }
    void TearDown() override
    {
        FApplication.reset();
        FQt.reset();
    }

private:
    std::unique_ptr<QApplication> FQt;
    std::unique_ptr<forms::TApplication> FApplication;
};

[[maybe_unused]] auto* const Registered = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

void WhenReady(std::function<bool()> fn, int intervalMs, int timeoutMs)
{
    auto* timer = new QTimer;
    auto elapsed = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, fn = std::move(fn), elapsed, intervalMs, timeoutMs] {
        *elapsed += intervalMs;
        if (fn() || *elapsed >= timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(intervalMs);
}

bool ShowActive(QWidget* window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

} // namespace testsupport
