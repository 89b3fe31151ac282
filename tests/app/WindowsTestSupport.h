// The three windows at once over the fake driver: the main window, the device editor over its
// wrapper and the About window, each shown (not modal) with its texts as the program sets them.
#pragma once

#include "MainWindowTestSupport.h"

#include "about/fmuAbout.h"
#include "devices/fmuDevice.h"

#include <QListWidget>

#include <memory>
#include <vector>

namespace testsupport {

class ThreeWindowsTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        Editor = std::make_unique<TfmDevices>();
        Editor->FScale = &Form->Scale();
        Editor->setFont(Form->font());
        Editor->UpdateAll();
        About = std::make_unique<TfmAbout>(Form.get());
        About->NameLabel->setText(QString::fromUtf8("Электронные весы"));
        About->lbVersion->addItems({QString::fromUtf8("Версия теста: 1.0.0.1"),
                                    QString::fromUtf8("Версия драйвера: ") + QString::fromStdString(Form->Scale().DriverVersion())});
        for (QWidget* window : Windows())
            window->show();
        QApplication::processEvents();
    }

    void TearDown() override
    {
        About.reset();
        Editor.reset();
        MainWindowTest::TearDown();
    }

    std::vector<QWidget*> Windows() const { return {Form.get(), Editor.get(), About.get()}; }

    std::unique_ptr<TfmDevices> Editor;
    std::unique_ptr<TfmAbout> About;
};

} // namespace testsupport
