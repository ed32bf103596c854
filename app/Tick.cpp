// Everything periodic hangs off the 50 ms timer: the logo, the link step, the
// remote clients waiting for it, the watchdog, the strip charts and, without a
// window, the state line, in that order.
#include "app/Tick.h"

#include "app/Headless.h"
#include "app/Sequencing.h"
#include "app/Shell.h"
#include "charts/Charts.h"
#include "link/Scheduler.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "power/Watchdog.h"
#include "remote/RemoteServer.h"
#include "ui/Vx52PSoftUi.h"

namespace {

int gTickCounter = 0;
int gLogoWidth = 150;

constexpr int kLogoMinWidth = 5;
constexpr int kLogoFullWidth = 150;

} // namespace

void TickReset() {
    gTickCounter = 0;
    gLogoWidth = kLogoFullWidth;
}

int TickCount() { return gTickCounter; }
int TickLogoWidth() { return gLogoWidth; }

int TIMER_50MS_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_TIMER_TICK) {
        return 0;
    }
    // Wraps like a 32-bit counter after years of running, without overflow.
    gTickCounter = static_cast<int>(static_cast<unsigned>(gTickCounter) + 1u);
    const bool even = gTickCounter % 2 == 0;

    if (gPowerInfo.logoAnimate == 1 && even) {
        LogoAnimate();
    }
    // Before the link's step: a test run's setting then goes out in this tick.
    SequencingTick();
    // Offline the link only counts down to its next try after a loss.
    if (gPowerInfo.online == 1 || gCommRetry.state == COMM_RETRY_WAITING) {
        CommTimerDeal();
    }
    // After the link's step, so a *OPC? whose commands the link just saw through is
    // answered in the same tick.
    RemoteServerTick();
    // Its stop goes out on the next tick, as a stop from any other caller.
    WatchdogTick();
    if (even && gPowerInfo.outputOn == 1) {
        // With the link closed nothing is measured. The charts still move on
        // in time, with empty slots, so the lost stretch shows as a gap of
        // its true length instead of a run of made-up zeros.
        if (gPowerInfo.online == 0) {
            PowerClearMeasure();
            Data52PGapToGraph();
        } else {
            Data52PFromMeasureToGraph();
        }
    }
    if (gTickCounter % 20 == 0 && gPowerInfo.outputOn == 1 && gPowerInfo.riseCountdown > 0) {
        gPowerInfo.riseCountdown -= 1;
    }
    HeadlessTick();
    return 0;
}

void LogoAnimate() {
    gLogoWidth += 1;
    if (gLogoWidth > kLogoFullWidth) {
        gLogoWidth = kLogoMinWidth;
    }
    SetCtrlAttribute(gMainPanel, PANEL_PIC_LOGO, ATTR_WIDTH, gLogoWidth);
}

void LogoAnimateChange() {
    if (gPowerInfo.logoAnimate == 1) {
        gPowerInfo.logoAnimate = 0;
        SetCtrlAttribute(gMainPanel, PANEL_PIC_LOGO, ATTR_WIDTH, kLogoFullWidth);
    } else {
        gPowerInfo.logoAnimate = 1;
        gLogoWidth = kLogoMinWidth;
    }
}

int PIC_LOGO_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_LEFT_CLICK) {
        LogoAnimateChange();
    }
    return 0;
}
