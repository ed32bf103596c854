// What each front-panel control does. Every handler changes the record,
// redraws the panel from it, and queues a command only while the link is up;
// offline every change stays local.
#include "power/FrontPanel.h"

#include "charts/Charts.h"
#include "link/Scheduler.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"

namespace {

constexpr int32_t kHighestBandFreq = 650;

void Redraw() { Data52PFromNormalVarToPanel(gPowerInfo.outputOn); }

void QueueIfOnline(int kind, int subKind) {
    if (gPowerInfo.online == 1) {
        CommSetNewCmdSingleGroup(kind, subKind, 0);
    }
}

// Shows the alarm refusal and puts the record back on screen; true when refused.
bool RefusedForAlarm() {
    if (gPowerInfo.alarm != 1) {
        return false;
    }
    if (gPowerInfo.language == 1) {
        MessagePopup("Error", "Power is alarming. Please exit alarm state.");
    } else {
        MessagePopup("错误", "电源报警，请退出报警态再操作！");
    }
    Redraw();
    return true;
}

// The slow-rise refusal; nothing arms riseCountdown, so it stays silent.
bool RefusedForRise() {
    if (gPowerInfo.riseCountdown < 1 || gPowerInfo.online != 1 || gPowerInfo.outputOn != 1) {
        return false;
    }
    if (gPowerInfo.language == 1) {
        MessagePopup("Please Wait", "Power is rising. Please wait.");
    } else {
        MessagePopup("请稍后", "电源缓升运行中，请缓升结束后再调节！");
    }
    Redraw();
    return true;
}

// Applies a preset change; the change function returns false when nothing changes.
void ApplyPreset(bool (*change)()) {
    if (!change()) {
        return;
    }
    Redraw();
    QueueIfOnline(90, 33);
}

} // namespace

int NORMAL_ONLINE_CHANGE_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_VAL_CHANGED) {
        return 0;
    }
    if (RefusedForAlarm() || RefusedForRise()) {
        return 0;
    }
    const int32_t oldFreq = gNormal52PSet.freq;
    Data52PFromPanelToNormalVar();
    // A running fixed high frequency is never changed by typing.
    if (oldFreq > kHighestBandFreq && gPowerInfo.outputOn == 1) {
        gNormal52PSet.freq = oldFreq;
    }
    Redraw();
    QueueIfOnline(90, gPowerInfo.outputOn == 1 ? 80 : 33);
    return 0;
}

int FC_NORMAL_SET_CHANGE_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_VAL_CHANGED) {
        return 0;
    }
    Data52PFromPanelToNormalVar();
    QueueIfOnline(90, 33);
    return 0;
}

int BT_FC_AUTO_HIGH_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT || gPowerInfo.outputOn != 0) {
        return 0;
    }
    ApplyPreset([] {
        gNormal52PSet.volLevel = gNormal52PSet.volLevel == 1 ? 0 : 1;
        return true;
    });
    return 0;
}

int BT_FC_50_60_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT || gPowerInfo.outputOn != 0) {
        return 0;
    }
    ApplyPreset([] {
        int32_t& f = gNormal52PSet.freq;
        switch (f) {
        case 500: f = 600; break;
        case 600: f = 500; break;
        case 1000: f = 1200; break;
        case 1200: f = 1000; break;
        case 2000: f = 2400; break;
        case 2400: f = 2000; break;
        default: f = 500; break;
        }
        return true;
    });
    return 0;
}

int BT_FC_120_220_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT || gPowerInfo.outputOn != 0 || RefusedForAlarm()) {
        return 0;
    }
    ApplyPreset([] {
        gNormal52PSet.vol = gNormal52PSet.vol == 1200 ? 2200 : 1200;
        return true;
    });
    return 0;
}

int BT_FC_M2_M4_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT || gPowerInfo.outputOn != 0 || RefusedForAlarm()) {
        return 0;
    }
    ApplyPreset([] {
        int32_t& f = gNormal52PSet.freq;
        if (f == 500 || f == 600 || f == 1000 || f == 1200) {
            f *= 2;
            return true;
        }
        if (f == 2000 || f == 2400) {
            f /= 4;
            return true;
        }
        return false;
    });
    return 0;
}

int BT_FC_400_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT || gPowerInfo.outputOn != 0) {
        return 0;
    }
    ApplyPreset([] {
        if (gNormal52PSet.freq == 4000) {
            return false;
        }
        gNormal52PSet.freq = 4000;
        return true;
    });
    return 0;
}

namespace {

void Step(int32_t next) {
    if (next == gNormal52PSet.vol) {
        return;
    }
    // A ladder made under other settings (another range, or none at all) may
    // hold a level the source must never be sent.
    int32_t min = 0;
    int32_t max = 0;
    PowerVolLimits(gPowerInfo.outputOn, &min, &max);
    if (next < min || next > max) {
        return;
    }
    gNormal52PSet.vol = next;
    Redraw();
    QueueIfOnline(90, 80);
}

bool StepAllowed(int event) {
    if (event != EVENT_COMMIT) {
        return false;
    }
    if (RefusedForAlarm() || RefusedForRise()) {
        return false;
    }
    return gPowerInfo.outputOn != 0;
}

} // namespace

int BT_FC_UUP_CALLBACK(int, int, int event, void*, int, int) {
    if (!StepAllowed(event)) {
        return 0;
    }
    const Normal52PSet& s = gNormal52PSet;
    int32_t next = s.vol;
    if (s.vol < s.upDownLow) {
        next = s.upDownLow;
    } else if (s.vol < s.upDownBase) {
        next = s.upDownBase;
    } else if (s.vol < s.upDownHigh) {
        next = s.upDownHigh;
    }
    Step(next);
    return 0;
}

int BT_FC_UDOWN_CALLBACK(int, int, int event, void*, int, int) {
    if (!StepAllowed(event)) {
        return 0;
    }
    const Normal52PSet& s = gNormal52PSet;
    int32_t next = s.vol;
    if (s.vol > s.upDownHigh) {
        next = s.upDownHigh;
    } else if (s.vol > s.upDownBase) {
        next = s.upDownBase;
    } else if (s.vol > s.upDownLow) {
        next = s.upDownLow;
    }
    Step(next);
    return 0;
}

int LED_OUTPUT_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_LEFT_CLICK) {
        return 0;
    }
    PowerClearMeasure();
    if (gPowerInfo.online == 1) {
        // Online the indicator only requests; the source's reply switches it.
        const bool start = gPowerInfo.outputOn == 0;
        if (start) {
            CommSetNewCmdSingleGroup(90, 33, 0);
            CommSetNewCmdSingleGroup(15, 255, 0);
            ClearMeasureGraphAll();
        } else {
            CommSetNewCmdSingleGroup(15, 0, 0);
        }
        Cal52PPowerUpDown(start ? 1 : 0);
        return 0;
    }
    gPowerInfo.outputOn = gPowerInfo.outputOn == 1 ? 0 : 1;
    gPowerInfo.alarm = 0;
    Cal52PPowerUpDown(gPowerInfo.outputOn == 1 ? 1 : 0);
    RefreshOutputState();
    if (gPowerInfo.outputOn == 1) {
        ClearMeasureGraphAll();
    }
    return 0;
}

int BT_CLEAR_ALARM_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    if (gPowerInfo.online == 1) {
        CommSetNewCmdSingleGroup(15, 10, 0);
        CommSetNewCmdSingleGroup(15, 10, 0);
        return 0;
    }
    gPowerInfo.alarm = 0;
    RefreshOutputState();
    return 0;
}

int BT_111_CALLBACK(int, int, int, void*, int, int) { return 0; }

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
