// The main window is always rebuilt from the records; the only state kept
// here is the output state RefreshOutputState saw last, and whether the link
// confirms what the window shows.
#include "power/PanelBinding.h"

#include <string>

#include "charts/Charts.h"
#include "persist/Language.h"
#include "persist/SettingsFiles.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "power/SourceLimits.h"
#include "ui/Panels.h"
#include "ui/Vx52PSoftUi.h"

namespace {

// 255 is neither 0 nor 1, so the first refresh always counts as a change.
constexpr int kNeverSeen = 255;
int gLastOutputOn = kNeverSeen;
int gLastAlarm = kNeverSeen;
// The layout draws a confirmed state.
int gConfirmed = 1;

constexpr int kItemStopped = 37;
constexpr int kItemRunning = 38;
constexpr int kItemLastKnownStopped = 800;
constexpr int kItemLastKnownRunning = 801;

void Dim(int control, bool dimmed) {
    SetCtrlAttribute(gMainPanel, control, ATTR_DIMMED, dimmed ? 1 : 0);
}

void Show(int control, bool visible) {
    SetCtrlAttribute(gMainPanel, control, ATTR_VISIBLE, visible ? 1 : 0);
}

void Lamp(int control, bool on) {
    SetCtrlVal(gMainPanel, control, on ? 1 : 0);
}

struct FreqLamps {
    int32_t freq;
    bool f50, f60, x2, x4, f400;
};

constexpr FreqLamps kFreqLamps[] = {
    {500, true, false, false, false, false},  {600, false, true, false, false, false},
    {1000, true, false, true, false, false},  {1200, false, true, true, false, false},
    {2000, true, false, false, true, false},  {2400, false, true, false, true, false},
    {4000, false, false, false, false, true},
};

} // namespace

void Data52PReadPanelEntry(PowerEntry* entry) {
    double volts = 0.0;
    double hertz = 0.0;
    int up = 0;
    int down = 0;
    GetCtrlVal(gMainPanel, PANEL_NUM_VOL, &volts);
    GetCtrlVal(gMainPanel, PANEL_NUM_FREQ, &hertz);
    GetCtrlVal(gMainPanel, PANEL_NUM_UP2U, &up);
    GetCtrlVal(gMainPanel, PANEL_NUM_DOWN2U, &down);
    entry->vol = static_cast<int32_t>(SourceFromUnit(SOURCE_Q_SET_VOLTAGE, volts));
    entry->freq = static_cast<int32_t>(SourceFromUnit(SOURCE_Q_SET_FREQUENCY, hertz));
    entry->up2U = up;
    entry->down2U = down;
}

int Data52PFromPanelToNormalVar() {
    PowerEntry entry{};
    Data52PReadPanelEntry(&entry);
    return PowerApplyEntry(entry);
}

void Data52PFromNormalVarToPanel(int running) {
    const Normal52PSet& s = gNormal52PSet;
    const bool busy = gPowerInfo.outputOn == 1 || gPowerInfo.alarm == 1;
    // A test run holds the settings: only the output indicator stays live.
    const bool held = PowerHeld() != 0;

    MainMenuNormalSaveLoadDimmed(running != 0 ? 1u : 0u);
    if (held) {
        SetMenuBarAttribute(gMainMenu, MENUBAR_FILE_LOAD, ATTR_DIMMED, 1);
    }

    int32_t volMin = 0;
    int32_t volMax = 0;
    PowerVolLimits(running, &volMin, &volMax);
    SetCtrlAttribute(gMainPanel, PANEL_NUM_VOL, ATTR_MIN_VALUE,
                     SourceToUnit(SOURCE_Q_SET_VOLTAGE, volMin));
    SetCtrlAttribute(gMainPanel, PANEL_NUM_VOL, ATTR_MAX_VALUE,
                     SourceToUnit(SOURCE_Q_SET_VOLTAGE, volMax));
    SetCtrlVal(gMainPanel, PANEL_NUM_VOL, SourceToUnit(SOURCE_Q_SET_VOLTAGE, s.vol));

    // Fixed high frequencies are reached only by the preset buttons.
    if (SourceFrequencyAboveBand(s.freq)) {
        SetCtrlAttribute(gMainPanel, PANEL_NUM_FREQ, ATTR_MAX_VALUE,
                         SourceToUnit(SOURCE_Q_SET_FREQUENCY, SOURCE_FREQ_MAX));
        Dim(PANEL_NUM_FREQ, true);
        // Undimmed again when stopped, or a stop at 400 Hz would leave the
        // voltage unsettable until the frequency changed.
        Dim(PANEL_NUM_VOL, running != 0 || held);
    } else {
        SetCtrlAttribute(gMainPanel, PANEL_NUM_FREQ, ATTR_MAX_VALUE,
                         SourceToUnit(SOURCE_Q_SET_FREQUENCY, SOURCE_FREQ_BAND_MAX));
        Dim(PANEL_NUM_FREQ, held);
        Dim(PANEL_NUM_VOL, held);
    }
    SetCtrlVal(gMainPanel, PANEL_NUM_FREQ, SourceToUnit(SOURCE_Q_SET_FREQUENCY, s.freq));

    SetCtrlVal(gMainPanel, PANEL_NUM_UP2U, static_cast<int>(s.up2U));
    SetCtrlVal(gMainPanel, PANEL_NUM_DOWN2U, static_cast<int>(-s.down2U));

    for (int button :
         {PANEL_BT_AUTO_HIGH, PANEL_BT_50_60, PANEL_BT_120_220, PANEL_BT_M2_M4, PANEL_BT_400}) {
        Dim(button, busy || held);
    }

    const bool stepsDimmed = (SourceFrequencyAboveBand(s.freq) && running != 0) ? true : !busy;
    Dim(PANEL_BT_UUP, stepsDimmed || held);
    Dim(PANEL_BT_UDOWN, stepsDimmed || held);

    Dim(PANEL_NUM_UP2U, busy || held);
    Dim(PANEL_NUM_DOWN2U, busy || held);

    Lamp(PANEL_LED_AUTO, s.volLevel == 0);
    Lamp(PANEL_LED_HIGH, s.volLevel != 0);

    Lamp(PANEL_LED_120V, s.vol == 1200);
    Lamp(PANEL_LED_220V, s.vol == 2200);

    FreqLamps lamps{s.freq, false, false, false, false, false};
    for (const FreqLamps& row : kFreqLamps) {
        if (row.freq == s.freq) {
            lamps = row;
        }
    }
    Lamp(PANEL_LED_50HZ, lamps.f50);
    Lamp(PANEL_LED_60HZ, lamps.f60);
    Lamp(PANEL_LED_M2, lamps.x2);
    Lamp(PANEL_LED_M4, lamps.x4);
    Lamp(PANEL_LED_400HZ, lamps.f400);

    bool stepUp = false;
    bool stepDown = false;
    if (s.vol == s.upDownBase) {
        // on the starting level: neither lamp
    } else if (s.vol == s.upDownHigh) {
        stepUp = true;
    } else if (s.vol == s.upDownLow) {
        stepDown = true;
    }
    Lamp(PANEL_LED_UUP, stepUp);
    Lamp(PANEL_LED_UDOWN, stepDown);

    RefreshNormalSetGraph();
}

void Data52PSetControlLimits() {
    const int volDecimals = SourceQuantityOf(SOURCE_Q_SET_VOLTAGE).decimals;
    const int freqDecimals = SourceQuantityOf(SOURCE_Q_SET_FREQUENCY).decimals;
    SetCtrlAttribute(gMainPanel, PANEL_NUM_VOL, ATTR_PRECISION, volDecimals);
    SetCtrlAttribute(gMainPanel, PANEL_NUM_FREQ, ATTR_PRECISION, freqDecimals);
    SetCtrlAttribute(gMainPanel, PANEL_NUM_FREQ, ATTR_MIN_VALUE,
                     SourceToUnit(SOURCE_Q_SET_FREQUENCY, SOURCE_FREQ_BAND_MIN));
    // The down amount is shown negative, as the step it makes.
    SetCtrlAttribute(gMainPanel, PANEL_NUM_UP2U, ATTR_MIN_VALUE, SOURCE_STEP_MIN);
    SetCtrlAttribute(gMainPanel, PANEL_NUM_UP2U, ATTR_MAX_VALUE, SOURCE_STEP_MAX);
    SetCtrlAttribute(gMainPanel, PANEL_NUM_DOWN2U, ATTR_MIN_VALUE, -SOURCE_STEP_MAX);
    SetCtrlAttribute(gMainPanel, PANEL_NUM_DOWN2U, ATTR_MAX_VALUE, -SOURCE_STEP_MIN);
}

void Data52PFromMeasureToPanel() {
    const int meters[] = {PANEL_MEA_VOL, PANEL_MEA_CURR, PANEL_MEA_FREQ, PANEL_MEA_POWER};
    for (int i = 0; i < 4; ++i) {
        SetCtrlVal(gMainPanel, meters[i], SourceMeterValue(i, gArrMeasureOutput[i]));
    }
}

void RefreshOutputState() {
    const int outputOn = gPowerInfo.outputOn;
    const int alarm = gPowerInfo.alarm;

    Show(PANEL_LED_ALARM, alarm != 0);
    Dim(PANEL_BT_CLEAR_ALARM, alarm == 0);
    Show(PANEL_LED_OUTPUT, alarm == 0);
    Lamp(PANEL_LED_OUTPUT, outputOn != 0);
    StrAlarmLanguageSet();
    Show(PANEL_TXT_ALARM, alarm != 0);
    if (alarm == 0) {
        Show(PANEL_TXT_STOPPED, outputOn == 0);
        Show(PANEL_TXT_RUNNING, outputOn != 0);
    } else {
        Show(PANEL_TXT_STOPPED, false);
        Show(PANEL_TXT_RUNNING, false);
    }

    if (outputOn != gLastOutputOn || alarm != gLastAlarm) {
        Data52PFromNormalVarToPanel(outputOn);
    }
    gLastOutputOn = outputOn;
    gLastAlarm = alarm;
}

void RefreshOutputStateReset() {
    gLastOutputOn = kNeverSeen;
    gLastAlarm = kNeverSeen;
    gConfirmed = 1;
}

void ShowStateConfirmed(int confirmed) {
    gConfirmed = confirmed != 0 ? 1 : 0;
    const int stale = gConfirmed == 0 ? 1 : 0;
    for (int meter : {PANEL_MEA_VOL, PANEL_MEA_CURR, PANEL_MEA_FREQ, PANEL_MEA_POWER}) {
        SetCtrlAttribute(gMainPanel, meter, ATTR_STALE, stale);
    }
    SetCtrlAttribute(gMainPanel, PANEL_LED_OUTPUT, ATTR_STALE, stale);
    const int items[2] = {stale ? kItemLastKnownStopped : kItemStopped,
                          stale ? kItemLastKnownRunning : kItemRunning};
    std::string texts[2];
    LanguageTexts(items, 2, texts);
    SetCtrlVal(gMainPanel, PANEL_TXT_STOPPED, texts[0].c_str());
    SetCtrlVal(gMainPanel, PANEL_TXT_RUNNING, texts[1].c_str());
    // The captions take no clicks: dimmed, they only look it.
    Dim(PANEL_TXT_STOPPED, stale != 0);
    Dim(PANEL_TXT_RUNNING, stale != 0);
}

void RefreshStateConfirmed() {
    if (gConfirmed == 0) {
        ShowStateConfirmed(0);
    }
}

void MainMenuNormalSaveLoadDimmed(unsigned int dimmed) {
    SetMenuBarAttribute(gMainMenu, MENUBAR_FILE_SAVE, ATTR_DIMMED, dimmed != 0 ? 1 : 0);
    SetMenuBarAttribute(gMainMenu, MENUBAR_FILE_LOAD, ATTR_DIMMED, dimmed != 0 ? 1 : 0);
}

void ModelTypeChoose(int modelType) {
    ModelF52PChoose(modelType);
}

void ModelF52PChoose(int modelType) {
    if (modelType != 1) {
        return;
    }
    // While the link is up the connect sequence has already fetched the
    // source's own settings; the autosave copy would overwrite them.
    if (gPowerInfo.online == 0) {
        FileReadNormal52P(AUTOSAVE_FILE);
    }
    SetNormalMeasureDisplayGraph52P();
    Data52PFromNormalVarToPanel(gPowerInfo.outputOn);
    ClearMeasureGraphAll();
}
