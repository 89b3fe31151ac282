// What a screen reader finds in Qt's accessibility tree of the three windows: every input control
// with the caption of the label before it and its role, named spin arrows, and status flags that
// say they cannot be changed while they look like ordinary boxes.
#include "WindowsTestSupport.h"

#include "forms/Spin.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>

#include <map>

namespace {

using testsupport::ThreeWindowsTest;

QString Name(QObject* control)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
    return iface ? iface->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

// The caption of the label that labels the control (its buddy), as published to assistive
// technology.
QString LabelledBy(QObject* control)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
    if (iface)
        for (const auto& [label, relation] : iface->relations(QAccessible::Label))
            return label->text(QAccessible::Name);
    return {};
}

QAccessible::Role Role(QObject* control)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
    return iface ? iface->role() : QAccessible::NoRole;
}

// Every control that takes or shows a value, found by walking the windows, so that a new field
// without a name cannot pass unnoticed.
bool IsInputControl(QWidget* w)
{
    return qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QPlainTextEdit*>(w) ||
           qobject_cast<forms::TArrowPair*>(w) || qobject_cast<QListWidget*>(w);
}

TEST_F(ThreeWindowsTest, EveryInputControlIsReadOutWithItsCaptionAndRole)
{
    struct TExpected {
        const char* Name;
        QAccessible::Role Role;
    };
    constexpr auto Edit = QAccessible::EditableText;
    constexpr auto List = QAccessible::ComboBox;
    constexpr auto Spin = QAccessible::SpinBox;
    TfmMain& f = *Form;
    TfmDevices& e = *Editor;
    const std::map<QWidget*, TExpected> expected = {
        {f.edtResultCode, {"Результат:", Edit}},
        {f.edtResultDescription, {"Описание:", Edit}},
        {f.edtWeight, {"Масса:", Edit}},
        {f.edtUnitPrice, {"Цена:", Edit}},
        {f.edtSalesPrice, {"Стоимость:", Edit}},
        {f.edtTareWeight, {"Масса тары:", Edit}},
        {f.Memo, {"Параметры устройства:", Edit}},
        {f.cbValuePurpose, {"Тип:", List}},
        {f.edtValue, {"Значение:", Edit}},
        {f.sbValue, {"Значение:", Spin}},
        {f.edtEventNumber, {"Номер сообщения:", Edit}},
        {f.edtDataCount, {"Количество сообщений:", Edit}},
        {f.edtAsyncWeight, {"Масса:", Edit}},
        {f.edtUnitPriceAsync, {"Цена:", Edit}},
        {f.edtAsyncSalesPrice, {"Стоимость:", Edit}},
        {f.edtAsyncTareWeight, {"Масса тары:", Edit}},
        {f.cbPollingInterval, {"Интервал опроса:", List}},
        {f.edtWeightStep, {"Предел изменения:", Edit}},
        {f.sbWeightStep, {"Предел изменения:", Spin}},
        {e.cbDeviceIndex, {"Индекс:", List}},
        {e.cbDeviceNumber, {"Номер:", List}},
        {e.edtDeviceCount, {"Общее кол-во:", Edit}},
        {e.edtDeviceName, {"Название:", Edit}},
        {e.cboPortNumber, {"Номер порта:", List}},
        {e.edtPortNumber, {"Номер порта: код", Edit}},
        {e.udPortNumber, {"Номер порта: код", Spin}},
        {e.cboBaudRate, {"Скорость:", List}},
        {e.edtBaudRate, {"Скорость: код", Edit}},
        {e.udBaudRate, {"Скорость: код", Spin}},
        {e.cboParity, {"Чётность:", List}},
        {e.edtParity, {"Чётность: код", Edit}},
        {e.udParity, {"Чётность: код", Spin}},
        {e.cboModelID, {"Модель:", List}},
        {e.edtModelID, {"Модель: код", Edit}},
        {e.udModelID, {"Модель: код", Spin}},
        {e.edtResultCode, {"Результат:", Edit}},
        {e.edtResultDescription, {"Описание :", Edit}},
        {About->lbVersion, {"Версии", QAccessible::List}},
    };
    std::size_t walked = 0;
    for (QWidget* window : Windows())
        for (QWidget* control : window->findChildren<QWidget*>()) {
            if (control->window() != window || !IsInputControl(control) ||
                control->parentWidget()->inherits("QComboBox"))
                continue;
            ++walked;
            SCOPED_TRACE(control->metaObject()->className());
            const auto it = expected.find(control);
            ASSERT_NE(it, expected.end()) << "an input control without an expected name";
            EXPECT_EQ(Role(control), it->second.Role);
            // A drop-down list's name is its shown entry on some platforms (Linux): the screen
            // reader says the caption from the list's label relation there.
            if (it->second.Role == List && Name(control) != QString::fromUtf8(it->second.Name))
                EXPECT_EQ(LabelledBy(control).toStdString(), it->second.Name);
            else
                EXPECT_EQ(Name(control).toStdString(), it->second.Name);
        }
    EXPECT_EQ(walked, expected.size());
}

TEST_F(ThreeWindowsTest, SpinArrowsAreNamedButtons)
{
    std::size_t pairs = 0;
    for (QWidget* window : Windows())
        for (auto* pair : window->findChildren<forms::TArrowPair*>()) {
            ++pairs;
            SCOPED_TRACE(Name(pair).toStdString());
            EXPECT_EQ(Name(pair->UpButton()).toStdString(), "Больше");
            EXPECT_EQ(Name(pair->DownButton()).toStdString(), "Меньше");
            EXPECT_EQ(Role(pair->UpButton()), QAccessible::Button);
            EXPECT_EQ(Role(pair->DownButton()), QAccessible::Button);
        }
    EXPECT_EQ(pairs, 6u) << "two spin buttons in the main window, four up-down controls in the editor";
}

TEST_F(ThreeWindowsTest, StatusFlagsSayTheyCannotBeChangedAndLookAsOrdinaryBoxes)
{
    fakedriver::SetFlag("NegWeight", true);
    fakedriver::SetFlag("NonStable", true);
    Form->UpdateAll();
    TfmMain& f = *Form;
    const std::map<QCheckBox*, bool> flags = {
        {f.chkNettoWeight, false}, {f.chkZeroScaleWeight, false}, {f.chkOutOfZero, false}, {f.chkNegWeight, true},
        {f.chkBigWeight, false},   {f.chkNonStable, true},        {f.chkInvalidRange, false}};
    ASSERT_EQ(f.FlagsPanel->findChildren<QCheckBox*>().size(), flags.size());
    for (QCheckBox* box : f.FlagsPanel->findChildren<QCheckBox*>()) {
        SCOPED_TRACE(box->text().toStdString());
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
        ASSERT_NE(iface, nullptr);
        const QAccessible::State state = iface->state();
        EXPECT_EQ(iface->role(), QAccessible::CheckBox);
        EXPECT_EQ(iface->text(QAccessible::Name), box->text());
        EXPECT_TRUE(state.readOnly);
        EXPECT_FALSE(state.focusable);
        EXPECT_TRUE(state.checkable);
        EXPECT_EQ(bool(state.checked), flags.at(box));
        EXPECT_TRUE(box->isEnabled()) << "drawn as an ordinary box, not greyed";
    }
    // The user's own check boxes stay changeable.
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(f.chkAsyncMode)->state().readOnly);
}

} // namespace
