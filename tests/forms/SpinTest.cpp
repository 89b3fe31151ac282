// The spin button and the up-down control, clicked with the mouse and the keyboard.
#include "forms/Spin.h"

#include "QtTestApp.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

TEST(SpinButton, ArrowsAndKeysReportTheirClicks)
{
    QWidget window;
    auto* spin = new forms::TSpinButton(&window);
    spin->setGeometry(10, 10, 15, 21);
    ASSERT_TRUE(testsupport::ShowActive(&window));
    QSignalSpy up(spin, &forms::TSpinButton::upClicked);
    QSignalSpy down(spin, &forms::TSpinButton::downClicked);

    QTest::mouseClick(spin->UpButton(), Qt::LeftButton);
    QTest::mouseClick(spin->DownButton(), Qt::LeftButton);
    QTest::mouseClick(spin->DownButton(), Qt::LeftButton);
    EXPECT_EQ(up.count(), 1);
    EXPECT_EQ(down.count(), 2);
    EXPECT_TRUE(spin->hasFocus()) << "a click focuses the spin button, as leaving an edit needs";

    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(up.count(), 2);
    EXPECT_LE(spin->UpButton()->height() + spin->DownButton()->height(), 21);
}

TEST(SpinButton, HoldingAnArrowRepeatsItsClick)
{
    QWidget window;
    auto* spin = new forms::TSpinButton(&window);
    spin->setGeometry(10, 10, 15, 21);
    ASSERT_TRUE(testsupport::ShowActive(&window));
    QSignalSpy up(spin, &forms::TSpinButton::upClicked);
    QTest::mousePress(spin->UpButton(), Qt::LeftButton);
    QTest::qWait(spin->UpButton()->autoRepeatDelay() + 4 * spin->UpButton()->autoRepeatInterval());
    QTest::mouseRelease(spin->UpButton(), Qt::LeftButton);
    EXPECT_GE(up.count(), 2);
}

TEST(UpDown, ClicksMoveWithinTheRangeWithoutWrapping)
{
    QWidget window;
    auto* ud = new forms::TUpDown(&window);
    ud->setGeometry(10, 10, 16, 24);
    ud->SetRange(-1, 100);
    ASSERT_TRUE(testsupport::ShowActive(&window));
    QSignalSpy clicked(ud, &forms::TUpDown::clicked);

    struct TCase {
        int Start;
        QToolButton* Arrow;
        int Expected;
        bool Reported;
    };
    const TCase cases[] = {
        {5, ud->UpButton(), 6, true},    {5, ud->DownButton(), 4, true},  {100, ud->UpButton(), 100, false},
        {-1, ud->DownButton(), -1, false}, {99, ud->UpButton(), 100, true}, {0, ud->DownButton(), -1, true},
    };
    for (const TCase& c : cases) {
        ud->SetPosition(c.Start);
        clicked.clear();
        QTest::mouseClick(c.Arrow, Qt::LeftButton);
        EXPECT_EQ(ud->Position(), c.Expected) << "from " << c.Start;
        ASSERT_EQ(clicked.count(), c.Reported ? 1 : 0) << "from " << c.Start;
        if (c.Reported) {
            EXPECT_EQ(clicked[0][0].toInt(), c.Expected);
        }
    }
    EXPECT_FALSE(ud->hasFocus());
}

TEST(UpDown, SetPositionClampsAndReportsNothing)
{
    forms::TUpDown ud;
    ud.SetRange(-1, 100);
    QSignalSpy clicked(&ud, &forms::TUpDown::clicked);
    ud.SetPosition(1000);
    EXPECT_EQ(ud.Position(), 100);
    ud.SetPosition(-7);
    EXPECT_EQ(ud.Position(), -1);
    EXPECT_EQ(clicked.count(), 0);
}

} // namespace
