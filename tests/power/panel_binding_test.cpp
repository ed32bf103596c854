// The main window follows the records: limits, dimming and lamps by state.
#include <gtest/gtest.h>

#include <string>

#include "UiTestSupport.h"
#include "app/Shell.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

using vx52test::MainWindowTest;

namespace {

class PanelBindingTest : public MainWindowTest {
protected:
    void Show(int32_t vol, int32_t freq, int volLevel, int outputOn, int alarm) {
        gNormal52PSet.vol = vol;
        gNormal52PSet.freq = freq;
        gNormal52PSet.volLevel = volLevel;
        gPowerInfo.outputOn = outputOn;
        gPowerInfo.alarm = alarm;
        Data52PFromNormalVarToPanel(outputOn);
    }
    int MenuDimmed(int item) {
        int v = -1;
        GetMenuBarAttribute(gMainMenu, item, ATTR_DIMMED, &v);
        return v;
    }
    std::string FreqLamps() {
        std::string s;
        for (int lamp : {PANEL_LED_50HZ, PANEL_LED_60HZ, PANEL_LED_M2, PANEL_LED_M4,
                         PANEL_LED_400HZ}) {
            s += LampOn(lamp) ? '1' : '0';
        }
        return s;
    }
};

TEST_F(PanelBindingTest, StartShowsRepairedDefaultsStopped) {
    // No autosave file: the zeroed record is repaired and shown.
    EXPECT_DOUBLE_EQ(220.0, Value(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(50.0, Value(PANEL_NUM_FREQ));
    EXPECT_DOUBLE_EQ(5.0, Value(PANEL_NUM_UP2U));
    EXPECT_DOUBLE_EQ(-5.0, Value(PANEL_NUM_DOWN2U));
    EXPECT_EQ(1, LampOn(PANEL_LED_AUTO));
    EXPECT_EQ(0, LampOn(PANEL_LED_HIGH));
    EXPECT_EQ(1, LampOn(PANEL_LED_220V));
    EXPECT_EQ("10000", FreqLamps());
    // The layout starts in the stopped state.
    EXPECT_EQ(1, Visible(PANEL_TXT_STOPPED));
    EXPECT_EQ(0, Visible(PANEL_TXT_RUNNING));
    EXPECT_EQ(0, Visible(PANEL_LED_ALARM));
    EXPECT_EQ(0, Visible(PANEL_TXT_ALARM));
    EXPECT_EQ(1, Dimmed(PANEL_BT_CLEAR_ALARM));
    EXPECT_EQ(1, Visible(PANEL_TXT_OFFLINE));
    EXPECT_EQ(0, Visible(PANEL_TXT_MODELNAME));
}

TEST_F(PanelBindingTest, VoltageLimitsFollowRangeAndSide) {
    Show(1200, 500, 0, 1, 0); // running, AUTO, low side
    EXPECT_DOUBLE_EQ(1.0, Min(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(150.0, Max(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(120.0, Value(PANEL_NUM_VOL));

    Show(1800, 500, 0, 1, 0); // running, AUTO, high side
    EXPECT_DOUBLE_EQ(150.1, Min(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(300.0, Max(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(180.0, Value(PANEL_NUM_VOL));

    Show(1500, 500, 0, 1, 0); // exactly 150.0 V counts as the low side
    EXPECT_DOUBLE_EQ(150.0, Max(PANEL_NUM_VOL));

    Show(1200, 500, 1, 1, 0); // HIGH: full range while running
    EXPECT_DOUBLE_EQ(1.0, Min(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(300.0, Max(PANEL_NUM_VOL));

    Show(1800, 500, 0, 0, 0); // stopped: full range
    EXPECT_DOUBLE_EQ(1.0, Min(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(300.0, Max(PANEL_NUM_VOL));
}

TEST_F(PanelBindingTest, FixedHighFrequencyDimsFrequencyAndWhileRunningVoltageAndSteps) {
    Show(2200, 4000, 1, 0, 0);
    EXPECT_EQ(1, Dimmed(PANEL_NUM_FREQ));
    EXPECT_DOUBLE_EQ(400.0, Max(PANEL_NUM_FREQ));
    EXPECT_DOUBLE_EQ(400.0, Value(PANEL_NUM_FREQ));
    EXPECT_EQ(0, Dimmed(PANEL_NUM_VOL));

    Show(2200, 4000, 1, 1, 0);
    EXPECT_EQ(1, Dimmed(PANEL_NUM_FREQ));
    EXPECT_EQ(1, Dimmed(PANEL_NUM_VOL));
    EXPECT_EQ(1, Dimmed(PANEL_BT_UUP));
    EXPECT_EQ(1, Dimmed(PANEL_BT_UDOWN));

    Show(2200, 550, 1, 1, 0); // back in the band: both undimmed, band maximum
    EXPECT_EQ(0, Dimmed(PANEL_NUM_FREQ));
    EXPECT_EQ(0, Dimmed(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(65.0, Max(PANEL_NUM_FREQ));
    EXPECT_EQ(0, Dimmed(PANEL_BT_UUP));
}

TEST_F(PanelBindingTest, DimmingByOutputState) {
    const int presets[] = {PANEL_BT_AUTO_HIGH, PANEL_BT_50_60, PANEL_BT_120_220, PANEL_BT_M2_M4,
                           PANEL_BT_400};
    Show(2200, 500, 1, 0, 0); // stopped
    for (int b : presets) {
        EXPECT_EQ(0, Dimmed(b)) << b;
    }
    EXPECT_EQ(1, Dimmed(PANEL_BT_UUP));
    EXPECT_EQ(1, Dimmed(PANEL_BT_UDOWN));
    EXPECT_EQ(0, Dimmed(PANEL_NUM_UP2U));
    EXPECT_EQ(0, Dimmed(PANEL_NUM_DOWN2U));
    EXPECT_EQ(0, MenuDimmed(MENUBAR_FILE_SAVE));
    EXPECT_EQ(0, MenuDimmed(MENUBAR_FILE_LOAD));

    Show(2200, 500, 1, 1, 0); // running
    for (int b : presets) {
        EXPECT_EQ(1, Dimmed(b)) << b;
    }
    EXPECT_EQ(0, Dimmed(PANEL_BT_UUP));
    EXPECT_EQ(0, Dimmed(PANEL_BT_UDOWN));
    EXPECT_EQ(1, Dimmed(PANEL_NUM_UP2U));
    EXPECT_EQ(1, Dimmed(PANEL_NUM_DOWN2U));
    EXPECT_EQ(1, MenuDimmed(MENUBAR_FILE_SAVE));
    EXPECT_EQ(1, MenuDimmed(MENUBAR_FILE_LOAD));

    Show(2200, 500, 1, 0, 1); // alarm: busy, but the menu follows the running flag
    for (int b : presets) {
        EXPECT_EQ(1, Dimmed(b)) << b;
    }
    EXPECT_EQ(0, Dimmed(PANEL_BT_UUP));
    EXPECT_EQ(1, Dimmed(PANEL_NUM_UP2U));
    EXPECT_EQ(0, MenuDimmed(MENUBAR_FILE_SAVE));
}

TEST_F(PanelBindingTest, FrequencyAndVoltageLamps) {
    const struct {
        int32_t freq;
        const char* lamps;
    } rows[] = {{500, "10000"},  {600, "01000"},  {1000, "10100"}, {1200, "01100"},
                {2000, "10010"}, {2400, "01010"}, {4000, "00001"}, {550, "00000"}};
    for (const auto& row : rows) {
        Show(2200, row.freq, 1, 0, 0);
        EXPECT_EQ(row.lamps, FreqLamps()) << row.freq;
    }
    Show(1200, 500, 1, 0, 0);
    EXPECT_EQ(1, LampOn(PANEL_LED_120V));
    EXPECT_EQ(0, LampOn(PANEL_LED_220V));
    Show(2300, 500, 1, 0, 0);
    EXPECT_EQ(0, LampOn(PANEL_LED_120V));
    EXPECT_EQ(0, LampOn(PANEL_LED_220V));
    Show(2300, 500, 0, 0, 0);
    EXPECT_EQ(1, LampOn(PANEL_LED_AUTO));
    EXPECT_EQ(0, LampOn(PANEL_LED_HIGH));
}

TEST_F(PanelBindingTest, StepLampsShowTheLevelOnTheLadder) {
    gNormal52PSet.upDownLow = 2150;
    gNormal52PSet.upDownBase = 2200;
    gNormal52PSet.upDownHigh = 2250;
    Show(2250, 500, 1, 1, 0);
    EXPECT_EQ(1, LampOn(PANEL_LED_UUP));
    EXPECT_EQ(0, LampOn(PANEL_LED_UDOWN));
    Show(2150, 500, 1, 1, 0);
    EXPECT_EQ(0, LampOn(PANEL_LED_UUP));
    EXPECT_EQ(1, LampOn(PANEL_LED_UDOWN));
    Show(2200, 500, 1, 1, 0);
    EXPECT_EQ(0, LampOn(PANEL_LED_UUP));
    EXPECT_EQ(0, LampOn(PANEL_LED_UDOWN));
    // Base equal to high (AUTO at 150.0 V): the base test comes first.
    gNormal52PSet.upDownHigh = 2200;
    Show(2200, 500, 1, 1, 0);
    EXPECT_EQ(0, LampOn(PANEL_LED_UUP));
}

TEST_F(PanelBindingTest, PanelToRecordRoundsAndNegatesStepDown) {
    SetCtrlVal(gMainPanel, PANEL_NUM_VOL, 219.96);
    SetCtrlVal(gMainPanel, PANEL_NUM_FREQ, 55.0);
    SetCtrlVal(gMainPanel, PANEL_NUM_UP2U, 12);
    SetCtrlVal(gMainPanel, PANEL_NUM_DOWN2U, -7);
    EXPECT_EQ(0, Data52PFromPanelToNormalVar());
    EXPECT_EQ(2200, gNormal52PSet.vol);
    EXPECT_EQ(550, gNormal52PSet.freq);
    EXPECT_EQ(12, gNormal52PSet.up2U);
    EXPECT_EQ(7, gNormal52PSet.down2U);
    SetCtrlVal(gMainPanel, PANEL_NUM_VOL, 219.94);
    Data52PFromPanelToNormalVar();
    EXPECT_EQ(2199, gNormal52PSet.vol);
}

TEST_F(PanelBindingTest, MetersShowScaledMeasurements) {
    gArrMeasureOutput[0] = 2201;
    gArrMeasureOutput[1] = 1234;
    gArrMeasureOutput[2] = 501;
    gArrMeasureOutput[3] = 271;
    Data52PFromMeasureToPanel();
    EXPECT_DOUBLE_EQ(220.1, Value(PANEL_MEA_VOL));
    EXPECT_DOUBLE_EQ(1.234, Value(PANEL_MEA_CURR));
    EXPECT_DOUBLE_EQ(50.1, Value(PANEL_MEA_FREQ));
    EXPECT_DOUBLE_EQ(0.271, Value(PANEL_MEA_POWER));
    std::string shown;
    GetCtrlVal(gMainPanel, PANEL_MEA_CURR, &shown);
    EXPECT_EQ("1.234", shown);
    PowerClearMeasure();
    Data52PFromMeasureToPanel();
    for (int m : {PANEL_MEA_VOL, PANEL_MEA_CURR, PANEL_MEA_FREQ, PANEL_MEA_POWER}) {
        EXPECT_DOUBLE_EQ(0.0, Value(m));
    }
}

TEST_F(PanelBindingTest, OutputStateDisplay) {
    gPowerInfo.outputOn = 1;
    RefreshOutputState();
    EXPECT_EQ(1, Visible(PANEL_LED_OUTPUT));
    EXPECT_EQ(1, LampOn(PANEL_LED_OUTPUT));
    EXPECT_EQ(1, Visible(PANEL_TXT_RUNNING));
    EXPECT_EQ(0, Visible(PANEL_TXT_STOPPED));
    EXPECT_EQ(0, Visible(PANEL_LED_ALARM));
    EXPECT_EQ(1, Dimmed(PANEL_BT_CLEAR_ALARM));
    EXPECT_EQ(1, Dimmed(PANEL_BT_50_60)); // the state change redrew the panel

    gPowerInfo.outputOn = 0;
    gPowerInfo.alarm = 1;
    RefreshOutputState();
    EXPECT_EQ(0, Visible(PANEL_LED_OUTPUT));
    EXPECT_EQ(0, Visible(PANEL_TXT_RUNNING));
    EXPECT_EQ(0, Visible(PANEL_TXT_STOPPED));
    EXPECT_EQ(1, Visible(PANEL_LED_ALARM));
    EXPECT_EQ(1, Visible(PANEL_TXT_ALARM));
    EXPECT_EQ(0, Dimmed(PANEL_BT_CLEAR_ALARM));
    EXPECT_EQ(0, Dimmed(PANEL_BT_UUP));
    EXPECT_EQ(1, Dimmed(PANEL_BT_400));
    std::string text;
    GetCtrlVal(gMainPanel, PANEL_TXT_ALARM, &text);
    EXPECT_NE(std::string::npos, text.find("报警")) << text;

    gPowerInfo.alarm = 0;
    RefreshOutputState();
    EXPECT_EQ(1, Visible(PANEL_TXT_STOPPED));
    EXPECT_EQ(0, LampOn(PANEL_LED_OUTPUT));
    EXPECT_EQ(0, Dimmed(PANEL_BT_50_60));
}

TEST_F(PanelBindingTest, RefreshRedrawsOnlyOnStateChange) {
    RefreshOutputState(); // first call always redraws
    // Put a foreign value on screen; only a redraw would replace it.
    SetCtrlVal(gMainPanel, PANEL_NUM_VOL, 99.0);
    RefreshOutputState();
    EXPECT_DOUBLE_EQ(99.0, Value(PANEL_NUM_VOL));
    gPowerInfo.outputOn = 1;
    RefreshOutputState();
    EXPECT_DOUBLE_EQ(220.0, Value(PANEL_NUM_VOL));
}

TEST_F(PanelBindingTest, EnglishAlarmTextFollowsLanguageOnEveryRefresh) {
    gPowerInfo.alarm = 1;
    gPowerInfo.language = 1;
    RefreshOutputState();
    std::string text;
    GetCtrlVal(gMainPanel, PANEL_TXT_ALARM, &text);
    EXPECT_NE(std::string::npos, text.find("ALARM")) << text;
    gPowerInfo.language = 0;
    RefreshOutputState();
    GetCtrlVal(gMainPanel, PANEL_TXT_ALARM, &text);
    EXPECT_NE(std::string::npos, text.find("报警")) << text;
}

} // namespace
