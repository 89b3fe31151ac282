#include "devices/fmuDevice.h"

#include "forms/Binding.h"
#include "forms/Controls.h"
#include "forms/EditKeys.h"
#include "forms/Silent.h"
#include "forms/TypingLimit.h"
#include "runtime/numtext.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <memory>

using forms::FromQ;
using forms::MakeEdit;
using forms::MakeLabel;
using forms::Place;
using forms::SetCheckedSilently;
using forms::SetItemIndexSilently;
using forms::SetTextSilently;
using forms::ToQ;
using runtime::IntToStr;

const TComboItem BaudRateItems[8] = {{"1200", 3},   {"2400", 4},   {"4800", 5},   {"9600", 7},
                                     {"19200", 10}, {"38400", 12}, {"57600", 14}, {"115200", 18}};
const TComboItem ParityItems[2] = {{"Нет", 0}, {"Четность", 2}};
const TComboItem ModelItems[3] = {{"Ортикс-3", 3}, {"Ортикс-5", 5}, {"Ортикс-11", 11}};

std::vector<TComboItem> PortItems()
{
    std::vector<TComboItem> items;
    for (std::int32_t n = 1; n <= 32; ++n)
        items.push_back({"COM " + IntToStr(n), n});
    return items;
}

void FillComboItems(QComboBox* List, std::span<const TComboItem> Items)
{
    struct TRedrawSuspended {
        QWidget* Widget;
        explicit TRedrawSuspended(QWidget* widget) : Widget(widget) { Widget->setUpdatesEnabled(false); }
        ~TRedrawSuspended() { Widget->setUpdatesEnabled(true); }
    } suspended(List);

    List->clear();
    for (const TComboItem& item : Items)
        List->addItem(ToQ(item.Text), item.Code);
    // Adding to an empty list selects its first entry; a filled list starts with none.
    List->setCurrentIndex(-1);
}

namespace {

const char* const WindowCaption = "Тест свойств устройств";
constexpr int ClientWidth = 478;
constexpr int ClientHeight = 352;
constexpr int DeviceNameTypingLimit = 20;
constexpr int SpinMin = -1;
constexpr int SpinMax = 100;
constexpr int DeviceSelectorEntries = 99;
constexpr int ModelDropDownWidth = 200;

QFrame* MakePanel(QWidget* parent, int left, int top, int width, int height)
{
    auto* panel = Place(new QFrame(parent), left, top, width, height);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    return panel;
}

QFrame* MakeLine(QWidget* parent, QFrame::Shape shape, int left, int top, int length)
{
    auto* line = new QFrame(parent);
    line->setFrameStyle(shape | QFrame::Sunken);
    if (shape == QFrame::HLine)
        line->setGeometry(left, top, length, 2);
    else
        line->setGeometry(left, top, 2, length);
    return line;
}

QComboBox* MakeList(QWidget* parent, int left, int top, int width, int height)
{
    auto* list = Place(new QComboBox(parent), left, top, width, height);
    list->setEditable(false);
    forms::UseCompactDropDown(list);
    return list;
}

QLineEdit* MakeResultEdit(QWidget* parent, int left, int top, int width, int height)
{
    auto* edit = MakeEdit(parent, left, top, width, height);
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::ClickFocus); // skipped by Tab
    return edit;
}

// No button of the window is its default button: Enter presses only the focused button
// (keyPressEvent), never a button elsewhere.
QPushButton* MakeButton(QWidget* parent, const char* caption, int left, int top, int width, int height)
{
    auto* button = Place(new QPushButton(QString::fromUtf8(caption), parent), left, top, width, height);
    button->setAutoDefault(false);
    return button;
}

// The fixed selector entries: first, first + 1, ... as text.
void FillNumbers(QComboBox* list, int first)
{
    for (int i = 0; i < DeviceSelectorEntries; ++i)
        list->addItem(ToQ(IntToStr(first + i)));
    list->setCurrentIndex(-1);
}

// Position of the first entry carrying the code, or -1.
int IndexOfCode(const QComboBox* list, std::int32_t code)
{
    for (int i = 0; i < list->count(); ++i) {
        bool ok = false;
        if (list->itemData(i).toInt(&ok) == code && ok)
            return i;
    }
    return -1;
}

// The list entry at that position, or -1 when outside 0..count-1.
int EntryIndex(const QComboBox* list, std::int64_t position)
{
    return position >= 0 && position < list->count() ? static_cast<int>(position) : -1;
}

} // namespace

// ------------------------------------------------------------------------------ construction

TfmDevices::TfmDevices(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    BuildLayout();
    SetTabOrder();
    BindHandlers();
    FormCreate();
}

TfmDevices::~TfmDevices()
{
    // Focus moving while the controls go must run no leave handler of a half-destroyed window.
    forms::DetachEditEvents(this);
    FormDestroy();
}

void TfmDevices::BuildLayout()
{
    setWindowTitle(QString::fromUtf8(WindowCaption));
    setFont(forms::StandardFont());
    setFixedSize(ClientWidth, ClientHeight);
    setSizeGripEnabled(false);

    lblDevices = MakeLabel(this, "Список логических устройств:", 8, 8);
    topPanel = MakePanel(this, 8, 24, 337, 61);
    lblDeviceIndex = MakeLabel(topPanel, "Индекс:", 8, 8);
    cbDeviceIndex = MakeList(topPanel, 88, 8, 153, 21);
    FillNumbers(cbDeviceIndex, 0);
    lblDeviceNumber = MakeLabel(topPanel, "Номер:", 8, 32);
    cbDeviceNumber = MakeList(topPanel, 88, 32, 153, 21);
    FillNumbers(cbDeviceNumber, 1);
    lblDeviceCount = MakeLabel(topPanel, "Общее кол-во:", 248, 8);
    edtDeviceCount = MakeEdit(topPanel, 248, 32, 81, 21);
    edtDeviceCount->setReadOnly(true);

    lblParameters = MakeLabel(this, "Параметры активного устройства :", 8, 92);
    bottomPanel = MakePanel(this, 8, 112, 337, 169);
    lblDeviceName = MakeLabel(bottomPanel, "Название:", 8, 8);
    edtDeviceName = MakeEdit(bottomPanel, 88, 8, 153, 21);
    forms::LimitTyping(edtDeviceName, DeviceNameTypingLimit);
    FPortRow = BuildRow(32, "Номер порта:", lblPortNumber, cboPortNumber, edtPortNumber, udPortNumber,
                        &TScaleX::PortNumber, &TScaleX::SetPortNumber);
    FBaudRateRow = BuildRow(56, "Скорость:", lblBaudRate, cboBaudRate, edtBaudRate, udBaudRate, &TScaleX::BaudRate,
                            &TScaleX::SetBaudRate);
    FParityRow = BuildRow(80, "Чётность:", lblParity, cboParity, edtParity, udParity, &TScaleX::Parity,
                          &TScaleX::SetParity);
    FModelRow = BuildRow(104, "Модель:", lblModelID, cboModelID, edtModelID, udModelID, &TScaleX::Model,
                         &TScaleX::SetModel);
    lnDeviceEnabled = MakeLine(bottomPanel, QFrame::HLine, 8, 137, 321);
    chkDeviceEnabled = Place(new QCheckBox(QString::fromUtf8("Устройство включено"), bottomPanel), 88, 140, 244, 18);

    lnResult = MakeLine(this, QFrame::HLine, 8, 288, 337);
    lblResultCode = MakeLabel(this, "Результат:", 8, 296);
    edtResultCode = MakeResultEdit(this, 76, 296, 269, 21);
    lblResultDescription = MakeLabel(this, "Описание :", 8, 324);
    edtResultDescription = MakeResultEdit(this, 76, 324, 269, 21);

    lnCommands = MakeLine(this, QFrame::VLine, 352, 24, 321);
    lblCommands = MakeLabel(this, "Команды:", 360, 8);
    btnAdd = MakeButton(this, "Добавить", 360, 24, 113, 25);
    btnDelete = MakeButton(this, "Удалить", 360, 56, 113, 25);
    btnClose = MakeButton(this, "Закрыть", 360, 320, 113, 25);

    // Each field is read out with the caption before it; a row's list takes its label.
    forms::NameByLabels({{lblDeviceIndex, cbDeviceIndex}, {lblDeviceNumber, cbDeviceNumber},
                         {lblDeviceCount, edtDeviceCount}, {lblDeviceName, edtDeviceName},
                         {lblResultCode, edtResultCode}, {lblResultDescription, edtResultDescription}});
}

TfmDevices::TParameterRow TfmDevices::BuildRow(int top, const char* caption, QLabel*& label, QComboBox*& list,
                                               QLineEdit*& field, forms::TUpDown*& spin, std::int32_t (TScaleX::*read)(),
                                               void (TScaleX::*write)(std::int32_t))
{
    label = MakeLabel(bottomPanel, caption, 8, top);
    list = MakeList(bottomPanel, 88, top, 153, 21);
    field = MakeEdit(bottomPanel, 248, top, 65, 21);
    // Stands alone: not attached to the field beside it.
    spin = Place(new forms::TUpDown(bottomPanel), 312, top - 1, 16, 24);
    spin->SetRange(SpinMin, SpinMax);
    // The list takes the caption; the field and its arrows hold the list entry's code.
    forms::NameByLabels({{label, list}});
    const QString codeName = label->text() + QString::fromUtf8(" код");
    field->setAccessibleName(codeName);
    spin->setAccessibleName(codeName);
    return {list, field, spin, read, write};
}

void TfmDevices::SetTabOrder()
{
    forms::SetTabOrder({cbDeviceIndex, cbDeviceNumber, edtDeviceCount, edtDeviceName, cboPortNumber,
                              edtPortNumber, cboBaudRate,    edtBaudRate,    cboParity,     edtParity,
                              cboModelID,    edtModelID,     chkDeviceEnabled, btnAdd,      btnDelete,
                        btnClose});
}

void TfmDevices::BindHandlers()
{
    using forms::Bind;
    using forms::HandleValueKeys;
    using forms::OnLeave;

    Bind(cbDeviceIndex, &QComboBox::activated, this, FORMS_HANDLER(&TfmDevices::DeviceIndexClick));
    Bind(cbDeviceNumber, &QComboBox::activated, this, FORMS_HANDLER(&TfmDevices::DeviceNumberClick));

    // The five edit fields: written on leave and on Enter (EditorKeyDown); the Enter and Escape
    // characters never reach them (EditorKeyPress).
    OnLeave(edtDeviceName, this, FORMS_HANDLER(&TfmDevices::edtDeviceNameExit));
    OnLeave(edtPortNumber, this, FORMS_HANDLER(&TfmDevices::edtPortNumberExit));
    OnLeave(edtBaudRate, this, FORMS_HANDLER(&TfmDevices::edtBaudRateExit));
    OnLeave(edtParity, this, FORMS_HANDLER(&TfmDevices::edtParityExit));
    OnLeave(edtModelID, this, FORMS_HANDLER(&TfmDevices::edtModelIDExit));
    for (QLineEdit* edit : {edtDeviceName, edtPortNumber, edtBaudRate, edtParity, edtModelID})
        HandleValueKeys(edit);

    Bind(cboPortNumber, &QComboBox::activated, this, FORMS_HANDLER(&TfmDevices::cboPortNumberChange));
    Bind(cboBaudRate, &QComboBox::activated, this, FORMS_HANDLER(&TfmDevices::cboBaudRateChange));
    Bind(cboParity, &QComboBox::activated, this, FORMS_HANDLER(&TfmDevices::cboParityChange));
    Bind(cboModelID, &QComboBox::activated, this, FORMS_HANDLER(&TfmDevices::cboModelIDChange));
    Bind(udPortNumber, &forms::TUpDown::clicked, this, FORMS_HANDLER(&TfmDevices::udPortNumberClick));
    Bind(udBaudRate, &forms::TUpDown::clicked, this, FORMS_HANDLER(&TfmDevices::udBaudRateClick));
    Bind(udParity, &forms::TUpDown::clicked, this, FORMS_HANDLER(&TfmDevices::udParityClick));
    Bind(udModelID, &forms::TUpDown::clicked, this, FORMS_HANDLER(&TfmDevices::udModelIDClick));

    Bind(chkDeviceEnabled, &QCheckBox::clicked, this, FORMS_HANDLER(&TfmDevices::chkDeviceEnabledClick));
    Bind(btnAdd, &QPushButton::clicked, this, FORMS_HANDLER(&TfmDevices::btnAddClick));
    Bind(btnDelete, &QPushButton::clicked, this, FORMS_HANDLER(&TfmDevices::btnDeleteClick));
    Bind(btnClose, &QPushButton::clicked, this, FORMS_HANDLER(&TfmDevices::btnCloseClick));
}

void TfmDevices::FormCreate()
{
    if (forms::TApplication* app = forms::Application()) {
        FSavedAppException = app->OnException();
        app->SetOnException(forms::TExceptionHandler::Bind(this, &TfmDevices::AppException));
    }
    FillComboItems(cboPortNumber, PortItems());
    FillComboItems(cboBaudRate, BaudRateItems);
    FillComboItems(cboParity, ParityItems);
    FillComboItems(cboModelID, ModelItems);
    cboModelID->view()->setMinimumWidth(ModelDropDownWidth);
}

void TfmDevices::FormDestroy()
{
    if (forms::TApplication* app = forms::Application())
        app->SetOnException(FSavedAppException);
}

void TfmDevices::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        if (QScreen* s = screen())
            move(s->geometry().center() - rect().center());
        btnClose->setFocus();
        // Focus frames shown from the start, so that the operator sees where Enter goes.
        setAttribute(Qt::WA_KeyboardFocusChange);
    }
}

void TfmDevices::keyPressEvent(QKeyEvent* event)
{
    // No action on Escape (a dialog would close on it). Enter presses the focused button and
    // nothing elsewhere (the edits take it themselves).
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->hasFocus())
            button->click();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void TfmDevices::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // Labels are sized to their text: a new font resizes them from their top-left corner.
    if (event->type() == QEvent::FontChange)
        for (QLabel* label : findChildren<QLabel*>())
            label->adjustSize();
}

// ------------------------------------------------------------------------------ refresh

void TfmDevices::UpdateAll()
{
    UpdateResult();
    try {
        UpdateDeviceName();
    } catch (const runtime::Exception& e) {
        FDeviceNameFailure = ToQ(e.Message());
        SetTextSilently(edtDeviceName, e.Message());
    }
    try {
        UpdateDeviceIndex();
    } catch (const runtime::Exception&) {
        // The list keeps what it showed.
    }
    try {
        UpdateDeviceNumber();
    } catch (const runtime::Exception&) {
        // The list keeps what it showed.
    }
    UpdateDeviceEnabled();
    try {
        UpdateDeviceCount();
    } catch (const runtime::Exception& e) {
        SetTextSilently(edtDeviceCount, e.Message());
    }
    for (const TParameterRow* row : {&FPortRow, &FBaudRateRow, &FParityRow, &FModelRow}) {
        try {
            UpdateParameterRow(*row);
        } catch (const runtime::Exception& e) {
            SetTextSilently(row->Field, e.Message());
        }
    }
}

void TfmDevices::UpdateResult()
{
    SetTextSilently(edtResultCode, IntToStr(FScale->ResultCode()));
    SetTextSilently(edtResultDescription, FScale->ResultDescription());
}

void TfmDevices::UpdateDeviceName()
{
    const std::string name = FScale->CurrentDeviceName();
    FDeviceNameFailure.reset();
    SetTextSilently(edtDeviceName, name);
}

void TfmDevices::UpdateDeviceIndex()
{
    SetItemIndexSilently(cbDeviceIndex, EntryIndex(cbDeviceIndex, FScale->CurrentDeviceIndex()));
}

void TfmDevices::UpdateDeviceNumber()
{
    SetItemIndexSilently(cbDeviceNumber,
                         EntryIndex(cbDeviceNumber, static_cast<std::int64_t>(FScale->CurrentDeviceNumber()) - 1));
}

void TfmDevices::UpdateDeviceEnabled()
{
    SetCheckedSilently(chkDeviceEnabled, FScale->DeviceEnabled());
}

void TfmDevices::UpdateDeviceCount()
{
    SetTextSilently(edtDeviceCount, IntToStr(FScale->DeviceCount()));
}

void TfmDevices::UpdateParameterRow(const TParameterRow& row)
{
    const std::int32_t code = (FScale->*row.Read)();
    SetItemIndexSilently(row.List, IndexOfCode(row.List, code));
    SetTextSilently(row.Field, IntToStr(code));
    row.Spin->SetPosition(code); // reports nothing
}

void TfmDevices::AppException(QObject*, const runtime::Exception& E)
{
    if (const auto* scaleError = dynamic_cast<const EScaleError*>(&E))
        SetTextSilently(edtResultCode, IntToStr(scaleError->ResultCode()));
    SetTextSilently(edtResultDescription, E.Message());
}

// ------------------------------------------------------------------------------ handlers

template <typename TAction>
void TfmDevices::ApplyAndUpdate(TAction&& action)
{
    try {
        action();
    } catch (...) {
        UpdateAll(); // a failure here replaces the action's
        throw;
    }
    UpdateAll();
}

void TfmDevices::ApplyFromList(const TParameterRow& row)
{
    ApplyAndUpdate([&] {
        const QVariant code = row.List->currentData();
        if (code.isValid())
            (FScale->*row.Write)(code.toInt());
    });
}

void TfmDevices::ApplyFromField(const TParameterRow& row)
{
    ApplyAndUpdate([&] { (FScale->*row.Write)(runtime::StrToIntChecked(FromQ(row.Field->text()))); });
}

void TfmDevices::ApplyFromSpin(const TParameterRow& row)
{
    ApplyAndUpdate([&] { (FScale->*row.Write)(row.Spin->Position()); });
}

void TfmDevices::DeviceIndexClick(QObject*)
{
    ApplyAndUpdate([this] {
        if (cbDeviceIndex->currentIndex() >= 0)
            FScale->SetCurrentDeviceIndex(cbDeviceIndex->currentIndex());
    });
}

void TfmDevices::DeviceNumberClick(QObject*)
{
    ApplyAndUpdate([this] {
        if (cbDeviceNumber->currentIndex() >= 0)
            FScale->SetCurrentDeviceNumber(cbDeviceNumber->currentIndex() + 1);
    });
}

void TfmDevices::edtDeviceNameExit(QObject*)
{
    ApplyAndUpdate([this] {
        // A failure's message in the field is not a name: it is never written to the driver.
        if (FDeviceNameFailure && edtDeviceName->text() == *FDeviceNameFailure)
            return;
        FScale->SetCurrentDeviceName(FromQ(edtDeviceName->text()));
    });
}

void TfmDevices::cboPortNumberChange(QObject*) { ApplyFromList(FPortRow); }
void TfmDevices::cboBaudRateChange(QObject*) { ApplyFromList(FBaudRateRow); }
void TfmDevices::cboParityChange(QObject*) { ApplyFromList(FParityRow); }
void TfmDevices::cboModelIDChange(QObject*) { ApplyFromList(FModelRow); }

void TfmDevices::edtPortNumberExit(QObject*) { ApplyFromField(FPortRow); }
void TfmDevices::edtBaudRateExit(QObject*) { ApplyFromField(FBaudRateRow); }
void TfmDevices::edtParityExit(QObject*) { ApplyFromField(FParityRow); }
void TfmDevices::edtModelIDExit(QObject*) { ApplyFromField(FModelRow); }

void TfmDevices::udPortNumberClick(QObject*) { ApplyFromSpin(FPortRow); }
void TfmDevices::udBaudRateClick(QObject*) { ApplyFromSpin(FBaudRateRow); }
void TfmDevices::udParityClick(QObject*) { ApplyFromSpin(FParityRow); }
void TfmDevices::udModelIDClick(QObject*) { ApplyFromSpin(FModelRow); }

void TfmDevices::chkDeviceEnabledClick(QObject*)
{
    ApplyAndUpdate([this] { FScale->SetDeviceEnabled(chkDeviceEnabled->isChecked()); });
}

void TfmDevices::btnAddClick(QObject*)
{
    ApplyAndUpdate([this] { FScale->AddDevice(); });
}

void TfmDevices::btnDeleteClick(QObject*)
{
    ApplyAndUpdate([this] { FScale->DeleteDevice(); });
}

void TfmDevices::btnCloseClick(QObject*)
{
    close();
}

// ------------------------------------------------------------------------------ entry

void ShowDevicesDialog(TScaleX& Scale, const QFont& Font)
{
    // Destroyed in all cases, which puts the previous exception handler back.
    const auto form = std::make_unique<TfmDevices>();
    form->FScale = &Scale;
    form->setFont(Font);
    form->UpdateAll();
    form->exec();
}
