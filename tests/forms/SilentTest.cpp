// The silent setters: the value is set, the change emitted stay quiet, and stay connected.
#include "forms/Silent.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

TEST(SilentSetters, SetTheValueWithoutSignalsAndLeaveTheSignalsWorking)
{
    QLineEdit edit;
    QCheckBox box;
    int emitted = 0;
    QObject::connect(&edit, &QLineEdit::textChanged, [&] { ++emitted; });
    QObject::connect(&box, &QCheckBox::toggled, [&] { ++emitted; });
    QObject::connect(&box, &QCheckBox::stateChanged, [&] { ++emitted; });

    forms::SetTextSilently(&edit, "12,5 кг");
    forms::SetCheckedSilently(&box, true);
    EXPECT_EQ(edit.text(), QString::fromUtf8("12,5 кг"));
    EXPECT_TRUE(box.isChecked());
    EXPECT_EQ(emitted, 0);

    edit.setText("other");
    box.setChecked(false);
    EXPECT_GT(emitted, 0) << "signals must be unblocked again";
}

TEST(SilentSetters, TextIsShownFromItsBeginningAlsoWhenItIsUnchanged)
{
    const std::string longText = "-" + std::string(200, '9');
    QLineEdit edit;
    edit.resize(60, 21);
    struct TCase {
        const char* Name;
        std::function<void()> Before; // what happened to the edit before the same text is set again
    };
    const TCase cases[] = {
        {"nothing", [] {}},
        {"cursor at the end", [&] { edit.end(false); }},
        {"text selected", [&] { edit.selectAll(); }},
        {"typed and typed back", [&] {
             edit.end(false);
             edit.insert("1");
             edit.backspace();
         }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        forms::SetTextSilently(&edit, longText);
        c.Before();
        forms::SetTextSilently(&edit, longText);
        EXPECT_EQ(edit.text().toStdString(), longText);
        EXPECT_EQ(edit.cursorPosition(), 0);
        EXPECT_FALSE(edit.hasSelectedText());
        EXPECT_FALSE(edit.isModified());
    }
}

TEST(SilentSetters, ItemIndexOutsideTheListLeavesNoSelection)
{
    QComboBox list;
    list.addItems({"50 мс.", "100 мс.", "200 мс."});
    int emitted = 0;
    QObject::connect(&list, &QComboBox::currentIndexChanged, [&] { ++emitted; });

    struct TCase {
        int Index;
        int Expected;
    };
    for (const TCase c : {TCase{2, 2}, TCase{3, -1}, TCase{0, 0}, TCase{-1, -1}, TCase{7, -1}, TCase{-5, -1},
                          TCase{1, 1}}) {
        EXPECT_NO_THROW(forms::SetItemIndexSilently(&list, c.Index));
        EXPECT_EQ(list.currentIndex(), c.Expected) << "index " << c.Index;
    }
    EXPECT_EQ(emitted, 0);
    list.setCurrentIndex(2);
    EXPECT_EQ(emitted, 1);
}

} // namespace
