// The tick counter, its order of work, and the logo animation.
#include <gtest/gtest.h>

#include <QTest>

#include "UiTestSupport.h"
#include "app/Shell.h"
#include "app/Tick.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

using vx52test::MainWindowTest;

namespace {

class TickTest : public MainWindowTest {
protected:
    void Tick() {
        TIMER_50MS_CALLBACK(gMainPanel, PANEL_TIMER_50MS, EVENT_TIMER_TICK, nullptr, 0, 0);
    }
    int LogoWidth() {
        int w = -1;
        GetCtrlAttribute(gMainPanel, PANEL_PIC_LOGO, ATTR_WIDTH, &w);
        return w;
    }
};

TEST_F(TickTest, LogoStepsOnEvenTicksAndWraps) {
    Tick();
    EXPECT_EQ(1, TickCount());
    EXPECT_EQ(150, LogoWidth()); // tick 1: no logo step
    Tick();
    EXPECT_EQ(5, LogoWidth()); // width starts at 150, so the first step wraps to 5
    Tick();
    Tick();
    EXPECT_EQ(6, LogoWidth());
    for (int i = 0; i < 2 * 144; ++i) {
        Tick();
    }
    EXPECT_EQ(150, LogoWidth());
    Tick();
    Tick();
    EXPECT_EQ(5, LogoWidth());
}

TEST_F(TickTest, OtherEventsAreIgnored) {
    TIMER_50MS_CALLBACK(gMainPanel, PANEL_TIMER_50MS, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(0, TickCount());
}

TEST_F(TickTest, LogoClicksStopAndRestart) {
    Tick();
    Tick();
    Tick();
    Tick(); // width 6
    QTest::mouseClick(Widget(PANEL_PIC_LOGO), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    EXPECT_EQ(0, gPowerInfo.logoAnimate);
    EXPECT_EQ(150, LogoWidth());
    Tick();
    Tick();
    EXPECT_EQ(150, LogoWidth()); // stopped: no steps
    QTest::mouseClick(Widget(PANEL_PIC_LOGO), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    EXPECT_EQ(1, gPowerInfo.logoAnimate);
    Tick();
    Tick();
    EXPECT_EQ(6, LogoWidth());
}

TEST_F(TickTest, TwoClicksBeforeAStepLeaveTheLogoStopped) {
    LogoAnimateChange(); // stop
    LogoAnimateChange(); // restart, width 5 pending
    LogoAnimateChange(); // stop again before any step
    EXPECT_EQ(0, gPowerInfo.logoAnimate);
    EXPECT_EQ(150, LogoWidth());
}

TEST_F(TickTest, RiseCountdownRunsDownOncePerSecondWhileRunning) {
    gPowerInfo.riseCountdown = 2;
    for (int i = 0; i < 40; ++i) {
        Tick();
    }
    EXPECT_EQ(2, gPowerInfo.riseCountdown); // output stopped
    gPowerInfo.outputOn = 1;
    for (int i = 0; i < 19; ++i) {
        Tick();
    }
    EXPECT_EQ(2, gPowerInfo.riseCountdown);
    Tick(); // tick 60
    EXPECT_EQ(1, gPowerInfo.riseCountdown);
    for (int i = 0; i < 40; ++i) {
        Tick();
    }
    EXPECT_EQ(0, gPowerInfo.riseCountdown);
}

} // namespace
