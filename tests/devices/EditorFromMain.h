// Opening the device editor the way an operator does: "Работа с ЛУ" on the main window, work in
// the editor while it is open, then "Закрыть".
#pragma once

#include "../support/ProgramTestSupport.h"

#include "app/fmuMain.h"
#include "devices/fmuDevice.h"

#include <QPushButton>
#include <QTest>

#include <functional>

namespace testsupport {

// Whether the editor opened; work ran inside it before it was closed.
inline bool WorkInEditorFromMain(TfmMain& main, const std::function<void(TfmDevices&)>& work)
{
    bool seen = false;
    WhenReady([&] {
        auto* editor = ActiveModal<TfmDevices>();
        if (!editor)
            return false;
        seen = true;
        work(*editor);
        QTest::mouseClick(editor->btnClose, Qt::LeftButton);
        return true;
    });
    QTest::mouseClick(main.btnDevices, Qt::LeftButton);
    return seen;
}

} // namespace testsupport
