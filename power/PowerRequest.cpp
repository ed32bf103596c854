// Every intent changes the record, redraws the window from it and, only while
// the link is up, queues its command; offline a panel change stays local. The
// checks for callers other than the panel stand in for what the panel's
// controls do by themselves (limits, dimming), so such a caller can never reach
// the source with something the operator could not.
#include "power/PowerRequest.h"

#include <cstdlib>

#include "charts/Charts.h"
#include "link/CommandIds.h"
#include "link/Scheduler.h"
#include "platform/System.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "power/SourceLimits.h"

PowerMeasurement gPowerLastMeasurement{};

namespace {

bool gHeld = false;
void (*gHoldIndicator)() = nullptr;

// Everyone but the run is refused while it holds the settings.
bool HeldFrom(PowerCaller caller) {
    return gHeld && caller != POWER_CALLER_SEQUENCE;
}

bool Panel(PowerCaller caller) {
    return caller == POWER_CALLER_PANEL;
}

void Redraw() {
    Data52PFromNormalVarToPanel(gPowerInfo.outputOn);
}

void Queue(CommandId id) {
    CommSetNewCmdSingleGroup(id.kind, id.subKind, 0);
}

void QueueIfOnline(CommandId id) {
    if (gPowerInfo.online == 1) {
        Queue(id);
    }
}

bool RoomFor(int commands) {
    return COMM_QUEUE_SLOTS - gCommNewCmd.count >= commands;
}

// The slow rise; nothing arms riseCountdown, so it never refuses today.
bool Rising() {
    return gPowerInfo.riseCountdown >= 1 && gPowerInfo.online == 1 && gPowerInfo.outputOn == 1;
}

// What the set controls and the step buttons refuse first.
int RefusedWhileAdjusting(PowerCaller caller) {
    if (!Panel(caller) && !PowerLinkReady()) {
        return POWER_REQUEST_OFFLINE;
    }
    if (gPowerInfo.alarm == 1) {
        return POWER_REQUEST_ALARM;
    }
    if (Rising()) {
        return POWER_REQUEST_RISING;
    }
    return POWER_REQUEST_DONE;
}

bool FixedFrequency() {
    return SourceFrequencyAboveBand(gNormal52PSet.freq);
}

bool VoltageAllowed(int32_t vol) {
    return SourceVoltageAllowed(vol, gNormal52PSet.volLevel, gPowerInfo.outputOn,
                                gNormal52PSet.vol);
}

// The record the preset would make; false when it makes no change.
bool PresetTarget(PowerPreset preset, Normal52PSet* s) {
    int32_t& f = s->freq;
    switch (preset) {
    case POWER_PRESET_RANGE:
        s->volLevel = s->volLevel == 1 ? 0 : 1;
        return true;
    case POWER_PRESET_50_60:
        switch (f) {
        case 500:
            f = 600;
            break;
        case 600:
            f = 500;
            break;
        case 1000:
            f = 1200;
            break;
        case 1200:
            f = 1000;
            break;
        case 2000:
            f = 2400;
            break;
        case 2400:
            f = 2000;
            break;
        default:
            f = 500;
            break;
        }
        return true;
    case POWER_PRESET_120_220:
        s->vol = s->vol == 1200 ? 2200 : 1200;
        return true;
    case POWER_PRESET_MULTIPLIER:
        if (f == 500 || f == 600 || f == 1000 || f == 1200) {
            f *= 2;
            return true;
        }
        if (f == 2000 || f == 2400) {
            f /= 4;
            return true;
        }
        return false;
    case POWER_PRESET_400:
        if (f == 4000) {
            return false;
        }
        f = 4000;
        return true;
    }
    return false;
}

// Shared by the presets and the range set outright: target is the record the
// button would make.
int ApplyPreset(PowerPreset preset, const Normal52PSet& target, bool changes, PowerCaller caller) {
    if (HeldFrom(caller)) {
        return POWER_REQUEST_HELD;
    }
    if (!Panel(caller) && !PowerLinkReady()) {
        return POWER_REQUEST_OFFLINE;
    }
    if (gPowerInfo.outputOn != 0) {
        return POWER_REQUEST_OUTPUT_STATE;
    }
    // Two of the buttons check the alarm themselves; the others are dimmed
    // during an alarm, which only the panel has.
    const bool ownAlarmCheck = preset == POWER_PRESET_120_220 || preset == POWER_PRESET_MULTIPLIER;
    if ((ownAlarmCheck || !Panel(caller)) && gPowerInfo.alarm == 1) {
        return POWER_REQUEST_ALARM;
    }
    if (!changes) {
        return POWER_REQUEST_UNCHANGED;
    }
    if (!Panel(caller) && !RoomFor(1)) {
        return POWER_REQUEST_QUEUE_FULL;
    }
    gNormal52PSet = target;
    Redraw();
    QueueIfOnline(COMM_ID_SETTINGS_STOPPED);
    return POWER_REQUEST_DONE;
}

} // namespace

int PowerApplyEntry(const PowerEntry& e) {
    gNormal52PSet.vol = e.vol;
    gNormal52PSet.freq = e.freq;
    gNormal52PSet.up2U = e.up2U;
    gNormal52PSet.down2U = e.down2U < 0 ? -e.down2U : e.down2U;
    return Data52PCheck();
}

PowerEntry PowerEntryFromRecord() {
    return {gNormal52PSet.vol, gNormal52PSet.freq, gNormal52PSet.up2U, gNormal52PSet.down2U};
}

int PowerRequestSetControls(const PowerEntry& entry, PowerCaller caller) {
    if (HeldFrom(caller)) {
        return POWER_REQUEST_HELD;
    }
    if (const int refused = RefusedWhileAdjusting(caller)) {
        return refused;
    }
    if (!Panel(caller)) {
        const PowerEntry now = PowerEntryFromRecord();
        const bool volChanges = entry.vol != now.vol;
        const bool freqChanges = entry.freq != now.freq;
        // The panel dims the frequency control at a fixed high frequency, and
        // the voltage control too while the output runs there.
        if ((freqChanges && FixedFrequency()) ||
            (volChanges && FixedFrequency() && gPowerInfo.outputOn != 0)) {
            return POWER_REQUEST_OUTPUT_STATE;
        }
        if ((volChanges && !VoltageAllowed(entry.vol)) ||
            (freqChanges && !SourceFrequencyInBand(entry.freq))) {
            return POWER_REQUEST_OUT_OF_RANGE;
        }
        if (!volChanges && !freqChanges) {
            return POWER_REQUEST_UNCHANGED;
        }
        if (!RoomFor(1)) {
            return POWER_REQUEST_QUEUE_FULL;
        }
    }
    const int32_t oldFreq = gNormal52PSet.freq;
    PowerApplyEntry(entry);
    // A running fixed high frequency is never changed by typing.
    if (SourceFrequencyAboveBand(oldFreq) && gPowerInfo.outputOn == 1) {
        gNormal52PSet.freq = oldFreq;
    }
    Redraw();
    QueueIfOnline(gPowerInfo.outputOn == 1 ? COMM_ID_SETTINGS_RUNNING : COMM_ID_SETTINGS_STOPPED);
    return POWER_REQUEST_DONE;
}

int PowerRequestVoltage(int32_t vol, PowerCaller caller) {
    PowerEntry e = PowerEntryFromRecord();
    e.vol = vol;
    return PowerRequestSetControls(e, caller);
}

int PowerRequestFrequency(int32_t freq, PowerCaller caller) {
    PowerEntry e = PowerEntryFromRecord();
    e.freq = freq;
    return PowerRequestSetControls(e, caller);
}

int PowerRequestStepAmounts(const PowerEntry& entry, PowerCaller caller) {
    if (HeldFrom(caller)) {
        return POWER_REQUEST_HELD;
    }
    if (!Panel(caller)) {
        if (!PowerLinkReady()) {
            return POWER_REQUEST_OFFLINE;
        }
        // The panel dims the amount controls while busy.
        if (gPowerInfo.alarm == 1) {
            return POWER_REQUEST_ALARM;
        }
        if (gPowerInfo.outputOn != 0) {
            return POWER_REQUEST_OUTPUT_STATE;
        }
        if (!SourceStepAmountAllowed(entry.up2U) || !SourceStepAmountAllowed(entry.down2U)) {
            return POWER_REQUEST_OUT_OF_RANGE;
        }
        if (entry.up2U == gNormal52PSet.up2U && std::abs(entry.down2U) == gNormal52PSet.down2U) {
            return POWER_REQUEST_UNCHANGED;
        }
        if (!RoomFor(1)) {
            return POWER_REQUEST_QUEUE_FULL;
        }
    }
    PowerApplyEntry(entry);
    // The panel's controls already show what was entered; anyone else's change
    // must be put on screen.
    if (!Panel(caller)) {
        Redraw();
    }
    QueueIfOnline(COMM_ID_SETTINGS_STOPPED);
    return POWER_REQUEST_DONE;
}

int PowerRequestPreset(PowerPreset preset, PowerCaller caller) {
    Normal52PSet target = gNormal52PSet;
    const bool changes = PresetTarget(preset, &target);
    return ApplyPreset(preset, target, changes, caller);
}

int PowerRequestRange(int32_t volLevel, PowerCaller caller) {
    if (!Panel(caller) && volLevel != 0 && volLevel != 1) {
        return POWER_REQUEST_OUT_OF_RANGE;
    }
    Normal52PSet target = gNormal52PSet;
    target.volLevel = volLevel;
    return ApplyPreset(POWER_PRESET_RANGE, target, volLevel != gNormal52PSet.volLevel, caller);
}

int PowerRequestPresetFrequency(int32_t freq, PowerCaller caller) {
    if (!SourceFrequencyValid(freq)) {
        return POWER_REQUEST_OUT_OF_RANGE;
    }
    Normal52PSet target = gNormal52PSet;
    target.freq = freq;
    // The 400 Hz button's rules: no alarm check of its own.
    return ApplyPreset(POWER_PRESET_400, target, freq != gNormal52PSet.freq, caller);
}

int PowerRequestStep(int up, PowerCaller caller) {
    if (HeldFrom(caller)) {
        return POWER_REQUEST_HELD;
    }
    if (const int refused = RefusedWhileAdjusting(caller)) {
        return refused;
    }
    if (gPowerInfo.outputOn == 0) {
        return POWER_REQUEST_OUTPUT_STATE;
    }
    // The panel dims the step buttons while running at a fixed high frequency.
    if (!Panel(caller) && FixedFrequency()) {
        return POWER_REQUEST_OUTPUT_STATE;
    }
    const Normal52PSet& s = gNormal52PSet;
    int32_t next = s.vol;
    if (up != 0) {
        if (s.vol < s.upDownLow) {
            next = s.upDownLow;
        } else if (s.vol < s.upDownBase) {
            next = s.upDownBase;
        } else if (s.vol < s.upDownHigh) {
            next = s.upDownHigh;
        }
    } else {
        if (s.vol > s.upDownHigh) {
            next = s.upDownHigh;
        } else if (s.vol > s.upDownBase) {
            next = s.upDownBase;
        } else if (s.vol > s.upDownLow) {
            next = s.upDownLow;
        }
    }
    if (next == s.vol) {
        return POWER_REQUEST_UNCHANGED;
    }
    // A ladder made under other settings (another range, or none at all) may
    // hold a level the source must never be sent.
    if (!VoltageAllowed(next)) {
        return POWER_REQUEST_OUT_OF_RANGE;
    }
    if (!Panel(caller) && !RoomFor(1)) {
        return POWER_REQUEST_QUEUE_FULL;
    }
    gNormal52PSet.vol = next;
    Redraw();
    QueueIfOnline(COMM_ID_SETTINGS_RUNNING);
    return POWER_REQUEST_DONE;
}

int PowerRequestOutput(int on, PowerCaller caller) {
    if (HeldFrom(caller)) {
        // The indicator stays live during a run: the run stops the output.
        if (Panel(caller) && gHoldIndicator) {
            gHoldIndicator();
        }
        return POWER_REQUEST_HELD;
    }
    if (!Panel(caller)) {
        if (!PowerLinkReady()) {
            return POWER_REQUEST_OFFLINE;
        }
        // The indicator is hidden during an alarm.
        if (gPowerInfo.alarm == 1) {
            return POWER_REQUEST_ALARM;
        }
        if (on != POWER_OUTPUT_TOGGLE && (on != 0) == (gPowerInfo.outputOn != 0)) {
            return POWER_REQUEST_UNCHANGED;
        }
        const bool start = on == POWER_OUTPUT_TOGGLE ? gPowerInfo.outputOn == 0 : on != 0;
        if (!RoomFor(start ? 2 : 1)) {
            return POWER_REQUEST_QUEUE_FULL;
        }
    }
    PowerClearMeasure();
    if (gPowerInfo.online == 1) {
        const bool start = on == POWER_OUTPUT_TOGGLE ? gPowerInfo.outputOn == 0 : on != 0;
        if (start) {
            Queue(COMM_ID_SETTINGS_STOPPED);
            Queue(COMM_ID_START);
            ClearMeasureGraphAll();
        } else {
            Queue(COMM_ID_STOP);
        }
        Cal52PPowerUpDown(start ? 1 : 0);
        return POWER_REQUEST_DONE;
    }
    if (on == POWER_OUTPUT_TOGGLE) {
        gPowerInfo.outputOn = gPowerInfo.outputOn == 1 ? 0 : 1;
    } else {
        gPowerInfo.outputOn = on != 0 ? 1 : 0;
    }
    gPowerInfo.alarm = 0;
    Cal52PPowerUpDown(gPowerInfo.outputOn == 1 ? 1 : 0);
    RefreshOutputState();
    if (gPowerInfo.outputOn == 1) {
        ClearMeasureGraphAll();
    }
    return POWER_REQUEST_DONE;
}

int PowerRequestClearAlarm(PowerCaller caller) {
    if (HeldFrom(caller)) {
        return POWER_REQUEST_HELD;
    }
    if (!Panel(caller)) {
        if (!PowerLinkReady()) {
            return POWER_REQUEST_OFFLINE;
        }
        // The button is dimmed while there is no alarm to clear.
        if (gPowerInfo.alarm != 1) {
            return POWER_REQUEST_UNCHANGED;
        }
        if (!RoomFor(2)) {
            return POWER_REQUEST_QUEUE_FULL;
        }
    }
    if (gPowerInfo.online == 1) {
        Queue(COMM_ID_CLEAR_ALARM);
        Queue(COMM_ID_CLEAR_ALARM);
        return POWER_REQUEST_DONE;
    }
    gPowerInfo.alarm = 0;
    RefreshOutputState();
    return POWER_REQUEST_DONE;
}

int PowerRequestLoadedSettings() {
    if (gHeld) {
        return POWER_REQUEST_HELD;
    }
    if (gPowerInfo.outputOn != 0) {
        return POWER_REQUEST_OUTPUT_STATE;
    }
    Redraw();
    QueueIfOnline(COMM_ID_SETTINGS_STOPPED);
    return POWER_REQUEST_DONE;
}

int PowerLinkReady() {
    return CommLinkReady();
}

PowerLinkState PowerLinkStateNow() {
    if (CommLinkReady() == 1) {
        return POWER_LINK_ONLINE;
    }
    if (gPowerInfo.online == 1 || gCommRetry.state != COMM_RETRY_OFF) {
        return POWER_LINK_CONNECTING;
    }
    return POWER_LINK_OFFLINE;
}

const char* PowerLinkStateName() {
    switch (PowerLinkStateNow()) {
    case POWER_LINK_ONLINE:
        return "ONLINE";
    case POWER_LINK_CONNECTING:
        return "CONNECTING";
    default:
        return "OFFLINE";
    }
}

int PowerRequestLink(int connect, PowerCaller caller) {
    (void)caller;
    if (connect == 0) {
        const bool changes = gPowerInfo.online != 0 || gCommRetry.state != COMM_RETRY_OFF;
        CommStopRetrying();
        CommConnectDeal(0);
        return changes ? POWER_REQUEST_DONE : POWER_REQUEST_UNCHANGED;
    }
    if (gPowerInfo.online != 0) {
        return POWER_REQUEST_UNCHANGED;
    }
    return CommConnectQuietly() == 0 ? POWER_REQUEST_DONE : POWER_REQUEST_OFFLINE;
}

int PowerLinkIdle() {
    return gPowerInfo.online == 1 && gCommInfo.presentFlag == 0 && gCommNewCmd.count == 0 ? 1 : 0;
}

void PowerHold(void (*indicatorPressed)()) {
    gHeld = true;
    gHoldIndicator = indicatorPressed;
    Redraw();
}

void PowerRelease() {
    if (!gHeld) {
        return;
    }
    gHeld = false;
    gHoldIndicator = nullptr;
    Redraw();
}

int PowerHeld() {
    return gHeld ? 1 : 0;
}

uint64_t PowerCommandsMark() {
    return CommQueuedCount();
}

int PowerCommandsOut(uint64_t mark) {
    return CommLeftQueueCount() >= mark ? 1 : 0;
}

int PowerCommandsDone(uint64_t mark) {
    return CommConfirmedCount() >= mark ? 1 : 0;
}

int PowerCommandsFailed(uint64_t from, uint64_t through) {
    int failed = 0;
    for (uint64_t n = from + 1; n <= through; ++n) {
        failed += CommCommandFailed(n);
    }
    return failed;
}

int PowerLinkAnswering() {
    return CommLinkReady() != 0 && gCommInfo.errCnt == 0 ? 1 : 0;
}

Normal52PSet PowerFirstStartSettings() {
    const Normal52PSet kept = gNormal52PSet;
    gNormal52PSet = Normal52PSet{};
    Data52PCheck();
    const Normal52PSet fresh = gNormal52PSet;
    gNormal52PSet = kept;
    return fresh;
}

int PowerRequestDefaults(PowerCaller caller) {
    const Normal52PSet fresh = PowerFirstStartSettings();
    Normal52PSet target = gNormal52PSet;
    target.vol = fresh.vol;
    target.freq = fresh.freq;
    target.volLevel = fresh.volLevel;
    target.up2U = fresh.up2U;
    target.down2U = fresh.down2U;
    const Normal52PSet& now = gNormal52PSet;
    const bool changes = target.vol != now.vol || target.freq != now.freq ||
                         target.volLevel != now.volLevel || target.up2U != now.up2U ||
                         target.down2U != now.down2U;
    // A preset that checks the alarm itself: refused during one, whoever asks.
    return ApplyPreset(POWER_PRESET_120_220, target, changes, caller);
}

void PowerNoteMeasurement() {
    for (int i = 0; i < 4; ++i) {
        gPowerLastMeasurement.values[i] = gArrMeasureOutput[i];
    }
    gPowerLastMeasurement.atMs = SysMonotonicMs();
    gPowerLastMeasurement.valid = 1;
}
