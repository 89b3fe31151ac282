// The main window's controls at their fixed places and sizes, and the tab order.
#include "app/fmuMain.h"

#include "forms/Controls.h"
#include "forms/Text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>

using forms::MakeEdit;
using forms::MakeLabel;
using forms::Place;
using forms::Text;

namespace {

const char* const WindowCaption = "Тест: драйвер электронных весов";

// Enter presses the focused button, as Space does.
QPushButton* MakeButton(QWidget* parent, const char* caption, int left, int top, int width, int height)
{
    auto* button = Place(new QPushButton(Text(caption), parent), left, top, width, height);
    button->setAutoDefault(true);
    return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* caption, int left, int top, int width, int height)
{
    return Place(new QCheckBox(Text(caption), parent), left, top, width, height);
}

QLineEdit* MakeReadOnlyEdit(QWidget* parent, int left, int top, int width, int height)
{
    auto* edit = MakeEdit(parent, left, top, width, height);
    edit->setReadOnly(true);
    return edit;
}

QFrame* MakeLoweredPanel(QWidget* parent, int left, int top, int width, int height)
{
    auto* panel = Place(new QFrame(parent), left, top, width, height);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    return panel;
}

QComboBox* MakeList(QWidget* parent, int left, int top, int width, int height, std::initializer_list<const char*> items)
{
    auto* list = Place(new QComboBox(parent), left, top, width, height);
    list->setEditable(false);
    forms::UseCompactDropDown(list);
    for (const char* item : items)
        list->addItem(Text(item));
    list->setCurrentIndex(-1);
    return list;
}

} // namespace

void TfmMain::BuildFrame()
{
    setWindowTitle(Text(WindowCaption));
    setFont(forms::StandardFont());
    setFixedSize(572, 373);

    PageControl = Place(new QTabWidget(this), 8, 8, 380, 297);
    TabSheet1 = new QWidget;
    TabSheet2 = new QWidget;
    PageControl->addTab(TabSheet1, Text("Синхронный режим"));
    PageControl->addTab(TabSheet2, Text("Асинхронный режим"));
    PageControl->setCurrentWidget(TabSheet1);

    Shape1 = Place(new QFrame(this), 8, 312, 380, 1);
    Shape1->setFrameStyle(QFrame::HLine | QFrame::Plain);
    Shape1->setLineWidth(1);

    Label9 = MakeLabel(this, "Результат:", 7, 324);
    edtResultCode = MakeReadOnlyEdit(this, 72, 320, 313, 21);
    edtResultCode->setFocusPolicy(Qt::ClickFocus);
    Label10 = MakeLabel(this, "Описание:", 7, 347);
    edtResultDescription = MakeReadOnlyEdit(this, 72, 344, 313, 21);
    edtResultDescription->setFocusPolicy(Qt::ClickFocus);

    Bevel1 = Place(new QFrame(this), 392, 24, 2, 345);
    Bevel1->setFrameStyle(QFrame::VLine | QFrame::Sunken);

    Label17 = MakeLabel(this, "Флаги:", 400, 8);
    // The flags only display: the panel takes no mouse and its boxes neither mouse nor focus, yet
    // they are drawn as ordinary boxes.
    FlagsPanel = Place(new QWidget(this), 400, 30, 166, 115);
    FlagsPanel->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto flag = [this](const char* caption, int top, int height) {
        return Place(new forms::TStatusFlag(Text(caption), FlagsPanel), 0, top, 169, height);
    };
    chkNettoWeight = flag("Вес Нетто", 0, 16);
    chkZeroScaleWeight = flag("Режим автонуля", 16, 16);
    chkOutOfZero = flag("Ноль вне диапазона нуля", 32, 16);
    chkNegWeight = flag("Отрицательная масса", 48, 16);
    chkBigWeight = flag("Масса больше НПВ", 64, 15);
    chkNonStable = flag("Масса не стабильна", 80, 16);
    chkInvalidRange = flag("Неверный диапазон массы", 96, 17);

    btnAbout = MakeButton(this, "О программе", 400, 168, 169, 25);
    chkLockDevices = MakeCheckBox(this, "Блокировать ЛУ", 400, 200, 165, 16);
    btnDevices = MakeButton(this, "Работа с ЛУ", 400, 224, 169, 25);
    chkDeviceEnabled = MakeCheckBox(this, "Устройство включено", 400, 288, 165, 16);
    btnProperties = MakeButton(this, "Настройка свойств", 400, 312, 169, 25);
    btnClose = MakeButton(this, "Закрыть", 400, 344, 169, 25);

    // Each field is read out with the caption before it.
    forms::NameByLabels({{Label9, edtResultCode}, {Label10, edtResultDescription}, {Label17, FlagsPanel}});

    MemoPopupMenu = new QMenu(this);
    piClear = MemoPopupMenu->addAction(Text("Очистить"));
}

void TfmMain::BuildSyncPage()
{
    QWidget* page = TabSheet1;

    DataPanel = MakeLoweredPanel(page, 7, 10, 180, 255);
    Label1 = MakeLabel(DataPanel, "Масса:", 7, 12);
    edtWeight = MakeReadOnlyEdit(DataPanel, 80, 8, 90, 21);
    Label2 = MakeLabel(DataPanel, "Цена:", 7, 36);
    edtUnitPrice = MakeEdit(DataPanel, 80, 32, 90, 21);
    Label3 = MakeLabel(DataPanel, "Стоимость:", 7, 60);
    edtSalesPrice = MakeReadOnlyEdit(DataPanel, 80, 56, 90, 21);
    Label4 = MakeLabel(DataPanel, "Масса тары:", 7, 84);
    edtTareWeight = MakeEdit(DataPanel, 80, 80, 90, 21);
    chkUpdatePrice = MakeCheckBox(DataPanel, "Обновлять цену", 8, 104, 161, 16);
    chkUpdatePrice->setLayoutDirection(Qt::RightToLeft); // caption to the left of the box
    Label8 = MakeLabel(DataPanel, "Параметры устройства:", 8, 126);
    Memo = Place(new forms::TMemo(DataPanel), 8, 144, 161, 105);
    Memo->setReadOnly(true);
    Memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setContextMenuPolicy(Qt::CustomContextMenu);

    btnReadWeight = MakeButton(page, "Получить массу", 192, 8, 169, 25);
    btnZero = MakeButton(page, "Ноль", 192, 40, 65, 25);
    btnReset = MakeButton(page, "Сброс", 264, 40, 98, 25);
    btnTare = MakeButton(page, "Тара", 192, 72, 65, 25);
    btnSetTareWeight = MakeButton(page, "Установить тару", 264, 72, 97, 25);
    btnGetDeviceMetrics = MakeButton(page, "Параметры устройства", 192, 104, 172, 25);

    gbParams = Place(new QGroupBox(Text("Параметры"), page), 192, 136, 172, 129);
    // The frame runs through the middle of the caption, as the layout's positions assume.
    gbParams->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 7px; padding: 0 1px; }"));
    Label11 = MakeLabel(gbParams, "Тип:", 7, 22);
    cbValuePurpose = MakeList(gbParams, 48, 16, 113, 21,
                              {"Тип протокола", "Скорость связи", "Режим \"Sleep\"", "Режим \"Тара\"", "Пароль"});
    Label12 = MakeLabel(gbParams, "Значение:", 7, 45);
    edtValue = MakeEdit(gbParams, 80, 40, 63, 21);
    edtValue->setText(QStringLiteral("0"));
    sbValue = Place(new forms::TSpinButton(gbParams), 144, 40, 15, 21);
    btnGetValue = MakeButton(gbParams, "Прочитать", 8, 64, 153, 25);
    btnSetValue = MakeButton(gbParams, "Записать", 8, 96, 153, 25);
    forms::NameByLabels({{Label1, edtWeight}, {Label2, edtUnitPrice}, {Label3, edtSalesPrice}, {Label4, edtTareWeight},
                         {Label8, Memo}, {Label11, cbValuePurpose}, {Label12, edtValue}});
    sbValue->setAccessibleName(Label12->text());
    // Under a style sheet the children would fall back to the application's font.
    for (QWidget* child : gbParams->findChildren<QWidget*>())
        child->setFont(font());
}

void TfmMain::BuildAsyncPage()
{
    QWidget* page = TabSheet2;

    WeightPanel = MakeLoweredPanel(page, 8, 8, 172, 169);
    ParamsPanel = MakeLoweredPanel(page, 184, 8, 179, 169);
    Label13 = MakeLabel(page, "Номер сообщения:", 7, 188);
    edtEventNumber = MakeReadOnlyEdit(page, 144, 184, 105, 21);
    Label7 = MakeLabel(page, "Количество сообщений:", 7, 212);
    edtDataCount = MakeReadOnlyEdit(page, 144, 208, 105, 21);
    btnUpdate = MakeButton(page, "Обновить", 264, 184, 99, 25);

    Label14 = MakeLabel(WeightPanel, "Масса:", 7, 12);
    edtAsyncWeight = MakeReadOnlyEdit(WeightPanel, 80, 8, 81, 21);
    Label15 = MakeLabel(WeightPanel, "Цена:", 7, 36);
    edtUnitPriceAsync = MakeEdit(WeightPanel, 80, 32, 81, 21);
    Label16 = MakeLabel(WeightPanel, "Стоимость:", 7, 60);
    edtAsyncSalesPrice = MakeReadOnlyEdit(WeightPanel, 80, 56, 81, 21);
    Label18 = MakeLabel(WeightPanel, "Масса тары:", 7, 84);
    edtAsyncTareWeight = MakeEdit(WeightPanel, 80, 80, 81, 21);

    chkAsyncMode = MakeCheckBox(ParamsPanel, "Асинхронный режим", 8, 8, 142, 16);
    chkDataEventEnabled = MakeCheckBox(ParamsPanel, "Разрешить сообщения", 8, 24, 149, 16);
    chkAutoDisable = MakeCheckBox(ParamsPanel, "Автоотключение", 8, 40, 149, 16);
    chkDeleteEvents = MakeCheckBox(ParamsPanel, "Удалять сообщения", 8, 56, 157, 16);
    Label5 = MakeLabel(ParamsPanel, "Интервал опроса:", 8, 84);
    cbPollingInterval = MakeList(ParamsPanel, 112, 80, 60, 21, {"50 мс.", "100 мс.", "200 мс.", "500 мс.", "1000 мс."});
    Label6 = MakeLabel(ParamsPanel, "Предел изменения:", 8, 108);
    edtWeightStep = MakeEdit(ParamsPanel, 112, 104, 43, 21);
    edtWeightStep->setText(QStringLiteral("0"));
    sbWeightStep = Place(new forms::TSpinButton(ParamsPanel), 156, 104, 15, 21);
    btnGenerateAsyncMessage = MakeButton(ParamsPanel, "Генерировать событие", 8, 136, 163, 25);

    forms::NameByLabels({{Label13, edtEventNumber}, {Label7, edtDataCount}, {Label14, edtAsyncWeight},
                         {Label15, edtUnitPriceAsync}, {Label16, edtAsyncSalesPrice}, {Label18, edtAsyncTareWeight},
                         {Label5, cbPollingInterval}, {Label6, edtWeightStep}});
    sbWeightStep->setAccessibleName(Label6->text());
}

void TfmMain::SetTabOrder()
{
    forms::SetTabOrder({
        PageControl,
        // Synchronous page.
        edtWeight, edtUnitPrice, edtSalesPrice, edtTareWeight, chkUpdatePrice, Memo, btnReadWeight, btnZero,
        btnReset, btnTare, btnSetTareWeight, btnGetDeviceMetrics, cbValuePurpose, edtValue, sbValue, btnGetValue,
        btnSetValue,
        // Asynchronous page.
        edtAsyncWeight, edtUnitPriceAsync, edtAsyncSalesPrice, edtAsyncTareWeight, chkAsyncMode,
        chkDataEventEnabled, chkAutoDisable, chkDeleteEvents, cbPollingInterval, edtWeightStep, sbWeightStep,
        btnGenerateAsyncMessage, edtEventNumber, edtDataCount, btnUpdate,
        // Window level.
        btnAbout, chkLockDevices, btnDevices, chkDeviceEnabled, btnProperties, btnClose});
}
