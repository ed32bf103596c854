// Every limit of what the source allows, at its edge and one resolution step
// beyond, through the request functions that every caller goes through, and
// the panel's controls holding the same edges. The numbers are written out
// here, not taken from the table, so a limit moved in the table shows.
#include <gtest/gtest.h>

#include <string>

#include "UiTestSupport.h"
#include "link/Scheduler.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "ui/Vx52PSoftUi.h"

namespace {

class SourceLimitsTest : public vx52test::MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        gPowerInfo.online = 1; // and no connect sequence: the link is ready
    }
    // range 0 AUTO, 1 HIGH; vol is the voltage in force (0.1 V).
    void State(int range, int running, int32_t vol) {
        gNormal52PSet.vol = vol;
        gNormal52PSet.freq = 500;
        gNormal52PSet.volLevel = range;
        gNormal52PSet.up2U = 5;
        gNormal52PSet.down2U = 5;
        gPowerInfo.outputOn = running;
        Cal52PPowerUpDown(running);
        CommClearNewCmdAll();
        RefreshOutputState();
        Data52PFromNormalVarToPanel(running);
    }
};

enum What { VOLTAGE, FREQUENCY, STEP_UP, STEP_DOWN };

struct LimitCase {
    const char* name;
    int range;
    int running;
    int32_t volInForce;
    What what;
    int32_t value;
    bool taken;
};

int Request(What what, int32_t value) {
    PowerEntry e = PowerEntryFromRecord();
    switch (what) {
    case VOLTAGE:
        return PowerRequestVoltage(value, POWER_CALLER_REMOTE);
    case FREQUENCY:
        return PowerRequestFrequency(value, POWER_CALLER_REMOTE);
    case STEP_UP:
        e.up2U = value;
        return PowerRequestStepAmounts(e, POWER_CALLER_REMOTE);
    case STEP_DOWN:
        e.down2U = value;
        return PowerRequestStepAmounts(e, POWER_CALLER_REMOTE);
    }
    return -1;
}

} // namespace

TEST_F(SourceLimitsTest, EveryLimitTakesItsEdgeAndRefusesOneStepBeyond) {
    const LimitCase cases[] = {
        {"stopped bottom", 1, 0, 2200, VOLTAGE, 10, true},
        {"stopped below", 1, 0, 2200, VOLTAGE, 9, false},
        {"stopped top", 1, 0, 2200, VOLTAGE, 3000, true},
        {"stopped above", 1, 0, 2200, VOLTAGE, 3001, false},
        {"AUTO stopped crosses 150 V", 0, 0, 1000, VOLTAGE, 2500, true},
        {"HIGH running bottom", 1, 1, 2200, VOLTAGE, 10, true},
        {"HIGH running below", 1, 1, 2200, VOLTAGE, 9, false},
        {"HIGH running top", 1, 1, 2200, VOLTAGE, 3000, true},
        {"HIGH running above", 1, 1, 2200, VOLTAGE, 3001, false},
        {"AUTO low side bottom", 0, 1, 1000, VOLTAGE, 10, true},
        {"AUTO low side below", 0, 1, 1000, VOLTAGE, 9, false},
        {"AUTO low side top 150.0", 0, 1, 1000, VOLTAGE, 1500, true},
        {"AUTO low side 150.1", 0, 1, 1000, VOLTAGE, 1501, false},
        {"AUTO low side from 150.0", 0, 1, 1500, VOLTAGE, 1501, false},
        {"AUTO high side bottom 150.1", 0, 1, 2200, VOLTAGE, 1501, true},
        {"AUTO high side 150.0", 0, 1, 2200, VOLTAGE, 1500, false},
        {"AUTO high side from 150.1", 0, 1, 1501, VOLTAGE, 1500, false},
        {"AUTO high side top", 0, 1, 2200, VOLTAGE, 3000, true},
        {"AUTO high side above", 0, 1, 2200, VOLTAGE, 3001, false},
        {"band bottom", 1, 0, 2200, FREQUENCY, 450, true},
        {"band below", 1, 0, 2200, FREQUENCY, 449, false},
        {"band top", 1, 0, 2200, FREQUENCY, 650, true},
        {"band above", 1, 0, 2200, FREQUENCY, 651, false},
        {"preset is not typed", 1, 0, 2200, FREQUENCY, 1000, false},
        {"band running", 1, 1, 2200, FREQUENCY, 650, true},
        {"up bottom", 1, 0, 2200, STEP_UP, 6, true},
        {"up at 5", 1, 0, 2200, STEP_UP, 5, false}, // unchanged: 5 is in force
        {"up below", 1, 0, 2200, STEP_UP, 4, false},
        {"up top", 1, 0, 2200, STEP_UP, 30, true},
        {"up above", 1, 0, 2200, STEP_UP, 31, false},
        {"down top", 1, 0, 2200, STEP_DOWN, 30, true},
        {"down top negative", 1, 0, 2200, STEP_DOWN, -30, true},
        {"down above", 1, 0, 2200, STEP_DOWN, 31, false},
        {"down above negative", 1, 0, 2200, STEP_DOWN, -31, false},
        {"down below", 1, 0, 2200, STEP_DOWN, 4, false},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        State(c.range, c.running, c.volInForce);
        const int result = Request(c.what, c.value);
        EXPECT_EQ(c.taken, result == POWER_REQUEST_DONE) << "result " << result;
        EXPECT_EQ(c.taken ? 1 : 0, gCommNewCmd.count) << "queued";
    }
    // At the edge itself a 5 V amount is a change only from another amount.
    State(1, 0, 2200);
    gNormal52PSet.up2U = 6;
    EXPECT_EQ(POWER_REQUEST_DONE, Request(STEP_UP, 5));
}

TEST_F(SourceLimitsTest, StepLadderStaysInsideTheRunningLimits) {
    const struct {
        int range;
        int32_t vol, up, down, low, high;
    } cases[] = {
        {0, 1450, 10, 5, 1400, 1500}, // AUTO low side: the top is 150.0 V
        {0, 1501, 10, 5, 1501, 1601}, // AUTO high side: the bottom is 150.1 V
        {1, 1450, 10, 5, 1400, 1550}, // HIGH crosses freely
        {1, 2950, 10, 30, 2650, 3000}, {1, 30, 5, 5, 10, 80},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.range) + " " + std::to_string(c.vol));
        gNormal52PSet.volLevel = c.range;
        gNormal52PSet.vol = c.vol;
        gNormal52PSet.up2U = c.up;
        gNormal52PSet.down2U = c.down;
        Cal52PPowerUpDown(1);
        EXPECT_EQ(c.low, gNormal52PSet.upDownLow);
        EXPECT_EQ(c.high, gNormal52PSet.upDownHigh);
    }
}

TEST_F(SourceLimitsTest, PanelControlsHoldTheSameEdges) {
    const struct {
        int range, running;
        int32_t vol;
        double volMin, volMax;
    } states[] = {
        {1, 0, 2200, 1.0, 300.0}, {0, 0, 1000, 1.0, 300.0}, {1, 1, 2200, 1.0, 300.0},
        {0, 1, 1000, 1.0, 150.0}, {0, 1, 1500, 1.0, 150.0}, {0, 1, 1501, 150.1, 300.0},
    };
    for (const auto& s : states) {
        SCOPED_TRACE(std::to_string(s.range) + std::to_string(s.running) + " " +
                     std::to_string(s.vol));
        State(s.range, s.running, s.vol);
        EXPECT_DOUBLE_EQ(s.volMin, Min(PANEL_NUM_VOL));
        EXPECT_DOUBLE_EQ(s.volMax, Max(PANEL_NUM_VOL));
        EXPECT_DOUBLE_EQ(45.0, Min(PANEL_NUM_FREQ));
        EXPECT_DOUBLE_EQ(65.0, Max(PANEL_NUM_FREQ));
        EXPECT_DOUBLE_EQ(5.0, Min(PANEL_NUM_UP2U));
        EXPECT_DOUBLE_EQ(30.0, Max(PANEL_NUM_UP2U));
        EXPECT_DOUBLE_EQ(-30.0, Min(PANEL_NUM_DOWN2U));
        EXPECT_DOUBLE_EQ(-5.0, Max(PANEL_NUM_DOWN2U));
    }
}

// A test run's requests: a frequency as the preset buttons reach it (only while
// stopped, a preset or back into the band), and the settings it holds from
// every other caller while it runs.
TEST_F(SourceLimitsTest, PresetFrequencyAndTheRunsHold) {
    const struct {
        const char* name;
        int running, alarm, held;
        int32_t from, freq;
        PowerCaller caller;
        int result;
    } cases[] = {
        {"a preset", 0, 0, 0, 500, 4000, POWER_CALLER_SEQUENCE, POWER_REQUEST_DONE},
        {"back into the band", 0, 0, 0, 4000, 550, POWER_CALLER_SEQUENCE, POWER_REQUEST_DONE},
        {"no frequency the source has", 0, 0, 0, 500, 700, POWER_CALLER_SEQUENCE,
         POWER_REQUEST_OUT_OF_RANGE},
        {"not while running", 1, 0, 0, 500, 4000, POWER_CALLER_SEQUENCE,
         POWER_REQUEST_OUTPUT_STATE},
        {"not in an alarm", 0, 1, 0, 500, 4000, POWER_CALLER_SEQUENCE, POWER_REQUEST_ALARM},
        {"unchanged", 0, 0, 0, 4000, 4000, POWER_CALLER_SEQUENCE, POWER_REQUEST_UNCHANGED},
        {"held: the run's own", 0, 0, 1, 500, 4000, POWER_CALLER_SEQUENCE, POWER_REQUEST_DONE},
        {"held: a remote client", 0, 0, 1, 500, 4000, POWER_CALLER_REMOTE, POWER_REQUEST_HELD},
        {"held: the panel", 0, 0, 1, 500, 4000, POWER_CALLER_PANEL, POWER_REQUEST_HELD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        State(1, c.running, 2200);
        gNormal52PSet.freq = c.from;
        gPowerInfo.alarm = c.alarm;
        if (c.held) {
            PowerHold(nullptr);
        }
        EXPECT_EQ(PowerRequestPresetFrequency(c.freq, c.caller), c.result);
        EXPECT_EQ(gNormal52PSet.freq, c.result == POWER_REQUEST_DONE ? c.freq : c.from);
        EXPECT_EQ(gCommNewCmd.count, c.result == POWER_REQUEST_DONE ? 1 : 0);
        PowerRelease();
        gPowerInfo.alarm = 0;
    }
}
