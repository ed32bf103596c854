// The front-panel controls: each reads what the operator did, asks the request
// functions to do it and shows the panel's message for a refusal.
#include "power/FrontPanel.h"

#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"

namespace {

void Redraw() {
    Data52PFromNormalVarToPanel(gPowerInfo.outputOn);
}

// The panel's answer to a request: the alarm and slow-rise refusals are said
// and undo the operator's entry on screen; every other outcome is silent.
void ShowOutcome(int result) {
    struct Refusal {
        int result;
        const char* english[2]; // title, text
        const char* chinese[2];
    };
    static const Refusal kRefusals[] = {
        {POWER_REQUEST_ALARM,
         {"Error", "Power is alarming. Please exit alarm state."},
         {"错误", "电源报警，请退出报警态再操作！"}},
        {POWER_REQUEST_RISING,
         {"Please Wait", "Power is rising. Please wait."},
         {"请稍后", "电源缓升运行中，请缓升结束后再调节！"}},
    };
    for (const Refusal& r : kRefusals) {
        if (r.result == result) {
            const char* const* words = gPowerInfo.language == 1 ? r.english : r.chinese;
            MessagePopup(words[0], words[1]);
            Redraw();
        }
    }
    // A test run holds the settings: the entry is undone without a word.
    if (result == POWER_REQUEST_HELD) {
        Redraw();
    }
}

void Preset(int event, PowerPreset preset) {
    if (event == EVENT_COMMIT) {
        ShowOutcome(PowerRequestPreset(preset, POWER_CALLER_PANEL));
    }
}

void Step(int event, int up) {
    if (event == EVENT_COMMIT) {
        ShowOutcome(PowerRequestStep(up, POWER_CALLER_PANEL));
    }
}

} // namespace

int NORMAL_ONLINE_CHANGE_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_VAL_CHANGED) {
        return 0;
    }
    PowerEntry entry{};
    Data52PReadPanelEntry(&entry);
    ShowOutcome(PowerRequestSetControls(entry, POWER_CALLER_PANEL));
    return 0;
}

int FC_NORMAL_SET_CHANGE_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_VAL_CHANGED) {
        return 0;
    }
    PowerEntry entry{};
    Data52PReadPanelEntry(&entry);
    ShowOutcome(PowerRequestStepAmounts(entry, POWER_CALLER_PANEL));
    return 0;
}

int BT_FC_AUTO_HIGH_CALLBACK(int, int, int event, void*, int, int) {
    Preset(event, POWER_PRESET_RANGE);
    return 0;
}

int BT_FC_50_60_CALLBACK(int, int, int event, void*, int, int) {
    Preset(event, POWER_PRESET_50_60);
    return 0;
}

int BT_FC_120_220_CALLBACK(int, int, int event, void*, int, int) {
    Preset(event, POWER_PRESET_120_220);
    return 0;
}

int BT_FC_M2_M4_CALLBACK(int, int, int event, void*, int, int) {
    Preset(event, POWER_PRESET_MULTIPLIER);
    return 0;
}

int BT_FC_400_CALLBACK(int, int, int event, void*, int, int) {
    Preset(event, POWER_PRESET_400);
    return 0;
}

int BT_FC_UUP_CALLBACK(int, int, int event, void*, int, int) {
    Step(event, 1);
    return 0;
}

int BT_FC_UDOWN_CALLBACK(int, int, int event, void*, int, int) {
    Step(event, 0);
    return 0;
}

int LED_OUTPUT_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_LEFT_CLICK) {
        PowerRequestOutput(POWER_OUTPUT_TOGGLE, POWER_CALLER_PANEL);
    }
    return 0;
}

int BT_CLEAR_ALARM_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        PowerRequestClearAlarm(POWER_CALLER_PANEL);
    }
    return 0;
}

int BT_111_CALLBACK(int, int, int, void*, int, int) {
    return 0;
}

void FrontPanelRegisterCallbacks() {
    UiRegisterCtrlCallback("NORMAL_ONLINE_CHANGE_CALLBACK", NORMAL_ONLINE_CHANGE_CALLBACK);
    UiRegisterCtrlCallback("FC_NORMAL_SET_CHANGE_CALLBACK", FC_NORMAL_SET_CHANGE_CALLBACK);
    UiRegisterCtrlCallback("BT_FC_AUTO_HIGH_CALLBACK", BT_FC_AUTO_HIGH_CALLBACK);
    UiRegisterCtrlCallback("BT_FC_50_60_CALLBACK", BT_FC_50_60_CALLBACK);
    UiRegisterCtrlCallback("BT_FC_120_220_CALLBACK", BT_FC_120_220_CALLBACK);
    UiRegisterCtrlCallback("BT_FC_M2_M4_CALLBACK", BT_FC_M2_M4_CALLBACK);
    UiRegisterCtrlCallback("BT_FC_400_CALLBACK", BT_FC_400_CALLBACK);
    UiRegisterCtrlCallback("BT_FC_UUP_CALLBACK", BT_FC_UUP_CALLBACK);
    UiRegisterCtrlCallback("BT_FC_UDOWN_CALLBACK", BT_FC_UDOWN_CALLBACK);
    UiRegisterCtrlCallback("LED_OUTPUT_CALLBACK", LED_OUTPUT_CALLBACK);
    UiRegisterCtrlCallback("BT_CLEAR_ALARM_CALLBACK", BT_CLEAR_ALARM_CALLBACK);
    UiRegisterCtrlCallback("BT_111_CALLBACK", BT_111_CALLBACK);
}
