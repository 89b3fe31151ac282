// The window's layout: every control at its pixel position with its caption, the tab order as the
// Tab key walks it, the lists' entries and the frame.
#include "MainWindowTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace {

using testsupport::MainWindowTest;

QString CaptionOf(QWidget* w)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    return {};
}

TEST_F(MainWindowTest, ControlsStandAtTheirPositionsWithTheirCaptions)
{
    struct TPlace {
        QWidget* Control;
        QWidget* Parent;
        QRect Geometry; // width 0: a label sized to its text
        const char* Caption;
    };
    TfmMain& f = *Form;
    const TPlace places[] = {
        {f.PageControl, &f, {8, 8, 380, 297}, ""},
        {f.Shape1, &f, {8, 312, 380, 1}, ""},
        {f.Label9, &f, {7, 324, 0, 0}, "Результат:"},
        {f.edtResultCode, &f, {72, 320, 313, 21}, ""},
        {f.Label10, &f, {7, 347, 0, 0}, "Описание:"},
        {f.edtResultDescription, &f, {72, 344, 313, 21}, ""},
        {f.Label17, &f, {400, 8, 0, 0}, "Флаги:"},
        {f.FlagsPanel, &f, {400, 30, 166, 115}, ""},
        {f.btnAbout, &f, {400, 168, 169, 25}, "О программе"},
        {f.chkLockDevices, &f, {400, 200, 165, 16}, "Блокировать ЛУ"},
        {f.btnDevices, &f, {400, 224, 169, 25}, "Работа с ЛУ"},
        {f.chkDeviceEnabled, &f, {400, 288, 165, 16}, "Устройство включено"},
        {f.btnProperties, &f, {400, 312, 169, 25}, "Настройка свойств"},
        {f.btnClose, &f, {400, 344, 169, 25}, "Закрыть"},
        {f.chkNettoWeight, f.FlagsPanel, {0, 0, 169, 16}, "Вес Нетто"},
        {f.chkZeroScaleWeight, f.FlagsPanel, {0, 16, 169, 16}, "Режим автонуля"},
        {f.chkOutOfZero, f.FlagsPanel, {0, 32, 169, 16}, "Ноль вне диапазона нуля"},
        {f.chkNegWeight, f.FlagsPanel, {0, 48, 169, 16}, "Отрицательная масса"},
        {f.chkBigWeight, f.FlagsPanel, {0, 64, 169, 15}, "Масса больше НПВ"},
        {f.chkNonStable, f.FlagsPanel, {0, 80, 169, 16}, "Масса не стабильна"},
        {f.chkInvalidRange, f.FlagsPanel, {0, 96, 169, 17}, "Неверный диапазон массы"},
        // Synchronous page.
        {f.DataPanel, f.TabSheet1, {7, 10, 180, 255}, ""},
        {f.Label1, f.DataPanel, {7, 12, 0, 0}, "Масса:"},
        {f.edtWeight, f.DataPanel, {80, 8, 90, 21}, ""},
        {f.Label2, f.DataPanel, {7, 36, 0, 0}, "Цена:"},
        {f.edtUnitPrice, f.DataPanel, {80, 32, 90, 21}, ""},
        {f.Label3, f.DataPanel, {7, 60, 0, 0}, "Стоимость:"},
        {f.edtSalesPrice, f.DataPanel, {80, 56, 90, 21}, ""},
        {f.Label4, f.DataPanel, {7, 84, 0, 0}, "Масса тары:"},
        {f.edtTareWeight, f.DataPanel, {80, 80, 90, 21}, ""},
        {f.chkUpdatePrice, f.DataPanel, {8, 104, 161, 16}, "Обновлять цену"},
        {f.Label8, f.DataPanel, {8, 126, 0, 0}, "Параметры устройства:"},
        {f.Memo, f.DataPanel, {8, 144, 161, 105}, ""},
        {f.btnReadWeight, f.TabSheet1, {192, 8, 169, 25}, "Получить массу"},
        {f.btnZero, f.TabSheet1, {192, 40, 65, 25}, "Ноль"},
        {f.btnReset, f.TabSheet1, {264, 40, 98, 25}, "Сброс"},
        {f.btnTare, f.TabSheet1, {192, 72, 65, 25}, "Тара"},
        {f.btnSetTareWeight, f.TabSheet1, {264, 72, 97, 25}, "Установить тару"},
        {f.btnGetDeviceMetrics, f.TabSheet1, {192, 104, 172, 25}, "Параметры устройства"},
        {f.gbParams, f.TabSheet1, {192, 136, 172, 129}, "Параметры"},
        {f.Label11, f.gbParams, {7, 22, 0, 0}, "Тип:"},
        {f.cbValuePurpose, f.gbParams, {48, 16, 113, 21}, ""},
        {f.Label12, f.gbParams, {7, 45, 0, 0}, "Значение:"},
        {f.edtValue, f.gbParams, {80, 40, 63, 21}, ""},
        {f.sbValue, f.gbParams, {144, 40, 15, 21}, ""},
        {f.btnGetValue, f.gbParams, {8, 64, 153, 25}, "Прочитать"},
        {f.btnSetValue, f.gbParams, {8, 96, 153, 25}, "Записать"},
        // Asynchronous page.
        {f.WeightPanel, f.TabSheet2, {8, 8, 172, 169}, ""},
        {f.ParamsPanel, f.TabSheet2, {184, 8, 179, 169}, ""},
        {f.Label13, f.TabSheet2, {7, 188, 0, 0}, "Номер сообщения:"},
        {f.edtEventNumber, f.TabSheet2, {144, 184, 105, 21}, ""},
        {f.Label7, f.TabSheet2, {7, 212, 0, 0}, "Количество сообщений:"},
        {f.edtDataCount, f.TabSheet2, {144, 208, 105, 21}, ""},
        {f.btnUpdate, f.TabSheet2, {264, 184, 99, 25}, "Обновить"},
        {f.Label14, f.WeightPanel, {7, 12, 0, 0}, "Масса:"},
        {f.edtAsyncWeight, f.WeightPanel, {80, 8, 81, 21}, ""},
        {f.Label15, f.WeightPanel, {7, 36, 0, 0}, "Цена:"},
        {f.edtUnitPriceAsync, f.WeightPanel, {80, 32, 81, 21}, ""},
        {f.Label16, f.WeightPanel, {7, 60, 0, 0}, "Стоимость:"},
        {f.edtAsyncSalesPrice, f.WeightPanel, {80, 56, 81, 21}, ""},
        {f.Label18, f.WeightPanel, {7, 84, 0, 0}, "Масса тары:"},
        {f.edtAsyncTareWeight, f.WeightPanel, {80, 80, 81, 21}, ""},
        {f.chkAsyncMode, f.ParamsPanel, {8, 8, 142, 16}, "Асинхронный режим"},
        {f.chkDataEventEnabled, f.ParamsPanel, {8, 24, 149, 16}, "Разрешить сообщения"},
        {f.chkAutoDisable, f.ParamsPanel, {8, 40, 149, 16}, "Автоотключение"},
        {f.chkDeleteEvents, f.ParamsPanel, {8, 56, 157, 16}, "Удалять сообщения"},
        {f.Label5, f.ParamsPanel, {8, 84, 0, 0}, "Интервал опроса:"},
        {f.cbPollingInterval, f.ParamsPanel, {112, 80, 60, 21}, ""},
        {f.Label6, f.ParamsPanel, {8, 108, 0, 0}, "Предел изменения:"},
        {f.edtWeightStep, f.ParamsPanel, {112, 104, 43, 21}, ""},
        {f.sbWeightStep, f.ParamsPanel, {156, 104, 15, 21}, ""},
        {f.btnGenerateAsyncMessage, f.ParamsPanel, {8, 136, 163, 25}, "Генерировать событие"},
    };
    for (const TPlace& p : places) {
        SCOPED_TRACE(p.Caption);
        EXPECT_EQ(p.Control->parentWidget(), p.Parent);
        if (p.Geometry.width() == 0)
            EXPECT_EQ(p.Control->pos(), p.Geometry.topLeft());
        else
            EXPECT_EQ(p.Control->geometry(), p.Geometry);
        EXPECT_EQ(CaptionOf(p.Control), QString::fromUtf8(p.Caption));
    }
    EXPECT_EQ(f.size(), QSize(572, 373));
    EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "fixed size";
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(f.windowTitle(), QString::fromUtf8("Тест: драйвер электронных весов"));
    EXPECT_EQ(f.PageControl->tabText(0), QString::fromUtf8("Синхронный режим"));
    EXPECT_EQ(f.PageControl->tabText(1), QString::fromUtf8("Асинхронный режим"));
    EXPECT_TRUE(f.edtResultCode->isReadOnly() && f.edtWeight->isReadOnly() && f.edtSalesPrice->isReadOnly() &&
                f.edtAsyncWeight->isReadOnly() && f.edtAsyncSalesPrice->isReadOnly() &&
                f.edtEventNumber->isReadOnly() && f.edtDataCount->isReadOnly() && f.Memo->isReadOnly());
    EXPECT_FALSE(f.edtUnitPrice->isReadOnly() || f.edtTareWeight->isReadOnly() || f.edtValue->isReadOnly());
}

TEST_F(MainWindowTest, ListsHoldTheirEntries)
{
    auto entries = [](QComboBox* list) {
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        return items.join('|').toStdString();
    };
    EXPECT_EQ(entries(Form->cbValuePurpose), "Тип протокола|Скорость связи|Режим \"Sleep\"|Режим \"Тара\"|Пароль");
    EXPECT_EQ(entries(Form->cbPollingInterval), "50 мс.|100 мс.|200 мс.|500 мс.|1000 мс.");
    EXPECT_FALSE(Form->cbValuePurpose->isEditable() || Form->cbPollingInterval->isEditable());
}

TEST_F(MainWindowTest, TabWalksThePageInFrontThenTheWindowLevelSkippingFlagsAndResults)
{
    auto walk = [&](QWidget* first, int steps) {
        std::vector<QWidget*> seen;
        first->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < steps; ++i) {
            seen.push_back(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        return seen;
    };
    TfmMain& f = *Form;
    // Leaving the value edits writes; that is fine here, the order is what counts.
    const std::vector<QWidget*> syncOrder = {
        f.edtWeight,     f.edtUnitPrice,   f.edtSalesPrice,  f.edtTareWeight,   f.chkUpdatePrice,
        f.Memo,          f.btnReadWeight,  f.btnZero,        f.btnReset,        f.btnTare,
        f.btnSetTareWeight, f.btnGetDeviceMetrics, f.cbValuePurpose, f.edtValue, f.sbValue,
        f.btnGetValue,   f.btnSetValue,    f.btnAbout,       f.chkLockDevices,  f.btnDevices,
        f.chkDeviceEnabled, f.btnProperties, f.btnClose};
    EXPECT_EQ(walk(f.edtWeight, static_cast<int>(syncOrder.size())), syncOrder);

    f.PageControl->setCurrentWidget(f.TabSheet2);
    const std::vector<QWidget*> asyncOrder = {
        f.edtAsyncWeight, f.edtUnitPriceAsync, f.edtAsyncSalesPrice, f.edtAsyncTareWeight, f.chkAsyncMode,
        f.chkDataEventEnabled, f.chkAutoDisable, f.chkDeleteEvents, f.cbPollingInterval, f.edtWeightStep,
        f.sbWeightStep, f.btnGenerateAsyncMessage, f.edtEventNumber, f.edtDataCount, f.btnUpdate, f.btnAbout};
    EXPECT_EQ(walk(f.edtAsyncWeight, static_cast<int>(asyncOrder.size())), asyncOrder);
}

// The click goes to the window, as the system delivers it, on the flag's box: sent to the flag
// itself it would bypass what keeps the mouse away, and its middle misses the box in some styles.
TEST_F(MainWindowTest, FlagBoxesCannotBeChangedByMouseOrKeyboard)
{
    QCheckBox* flag = Form->chkNettoWeight;
    const QPoint box = flag->mapTo(Form.get(), QPoint(flag->height() / 2, flag->height() / 2));
    QTest::mouseClick(Form->windowHandle(), Qt::LeftButton, {}, box);
    EXPECT_FALSE(flag->isChecked());
    EXPECT_EQ(flag->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(Log().empty());
}

} // namespace
