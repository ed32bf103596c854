#include "app/Recording.h"

#include <string>

#include "app/LinkArea.h"
#include "app/Shell.h"
#include "link/Command.h"
#include "link/CommandIds.h"
#include "link/LinkEvents.h"
#include "link/Scheduler.h"
#include "persist/Language.h"
#include "persist/TextItems.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "power/Watchdog.h"
#include "record/DataLog.h"
#include "ui/Vx52PSoftUi.h"
#include "util/Text.h"

namespace {

std::string gPath;
int gFailure = 0;

// The output and alarm as the source last told them. The window may show
// otherwise (offline the indicator toggles by itself, and cancelling the link
// dialog resets it); the log writes only what the source said.
struct Known {
    int32_t outputOn = 0;
    int32_t alarm = 0;
};
Known gKnown;

DataLogState StateNow() {
    return {.setVol = gNormal52PSet.vol,
            .setFreq = gNormal52PSet.freq,
            .volLevel = gNormal52PSet.volLevel,
            .up2U = gNormal52PSet.up2U,
            .down2U = gNormal52PSet.down2U,
            .outputOn = gKnown.outputOn,
            .alarm = gKnown.alarm,
            .online = gPowerInfo.online};
}

// What an accepted reply tells of the output, by the command it answers: the
// state query's reply tells the state, start and stop acknowledgements (the
// clear-alarm's is a stop's) tell what the source did. While the connect
// sequence runs, an output it finds running is not taken: the sequence stops
// it and says so on its own (output_stopped_on_connect) instead of an
// output_on and an output_off that never were the operator's.
constexpr CommandId kOutputSources[] = {COMM_ID_STATE_QUERY, COMM_ID_START, COMM_ID_STOP,
                                        COMM_ID_CLEAR_ALARM};

void LearnOutput(int kind, int subKind) {
    for (const CommandId& id : kOutputSources) {
        if (!CommIs(kind, subKind, id)) {
            continue;
        }
        const bool stateReply = CommIs(kind, subKind, COMM_ID_STATE_QUERY);
        const bool foundRunning =
            stateReply && (gPowerState == '1' || gPowerState == '2' || gPowerState == '3');
        if (CommLinkReady() != 0 || !(foundRunning || !stateReply)) {
            gKnown.outputOn = gPowerInfo.outputOn;
        }
        gKnown.alarm = gPowerInfo.alarm;
        return;
    }
}

// Only an alarm row needs it; reading the window costs more than comparing.
std::string AlarmText(const DataLogState& s) {
    std::string text;
    if (s.alarm != 0) {
        GetCtrlVal(gMainPanel, PANEL_TXT_ALARM, &text);
    }
    return text;
}

void ShowFailure(void*) {
    LanguageWarningPopup(RecordingFailureText(true, gPath, gFailure, LanguageIsEnglish()));
}

// The log has already closed itself; the message waits until the link step
// or the handler that wrote has returned.
void Check(int error) {
    if (error == 0) {
        return;
    }
    gFailure = error;
    RecordingMenuDimmed();
    UiPostDeferredCall(ShowFailure, nullptr);
}

// by names who changed the set values, when that is known.
void ObserveBy(const char* by) {
    if (DataLogIsOn() == 0) {
        return;
    }
    const DataLogState s = StateNow();
    int error = DataLogObserve(s, AlarmText(s), by);
    if (error == 0) {
        error = DataLogPoll();
    }
    Check(error);
}

void Observe() {
    ObserveBy(nullptr);
}

void Event(const char* event, const std::string& detail) {
    if (DataLogIsOn() == 0) {
        return;
    }
    // What changed before this event is written before it.
    const DataLogState s = StateNow();
    int error = DataLogObserve(s, AlarmText(s));
    if (error == 0) {
        error = DataLogEvent(event, detail);
    }
    Check(error);
}

std::string PeerText(const LinkPeer& p) {
    return LinkPortName(p.port) + " " + p.device + " " + std::to_string(p.baudRate) +
           " baud address " + std::to_string(p.address);
}

void Received(const uint8_t*, int, int kind, int subKind, int result) {
    if (result == COMM_RX_ACCEPTED) {
        LearnOutput(kind, subKind);
    }
    if (DataLogIsOn() == 0) {
        return;
    }
    if (result != COMM_RX_ACCEPTED || !CommIs(kind, subKind, COMM_ID_MEASURE_QUERY)) {
        Observe();
        return;
    }
    const DataLogReadings r{.vol = gArrMeasureOutput[0],
                            .curr = gArrMeasureOutput[1],
                            .freq = gArrMeasureOutput[2],
                            .power = gArrMeasureOutput[3]};
    const DataLogState s = StateNow();
    SysLocalTime wall{};
    double at = 0;
    LinkReceivedAt(&wall, &at);
    Check(DataLogMeasureAt(wall, at, r, s, AlarmText(s)));
}

void Connected(const LinkPeer& p) {
    Event(kLogEventConnect, PeerText(p));
}
void Disconnected(const LinkPeer& p) {
    Event(kLogEventDisconnect, PeerText(p));
}
void Lost(const LinkPeer& p) {
    Event(kLogEventLinkLost, "no answer on " + LinkPortName(p.port) + " (" + p.device + ")");
}
void StoppedOnConnect(const LinkPeer&) {
    Event(kLogEventOutputStoppedOnConnect, "");
    gKnown.outputOn = 0;
    if (DataLogIsOn() != 0) {
        DataLogAssume(StateNow());
    }
}

// Each try once, when it starts; the countdown between is not news.
void Retry(const CommRetry& r) {
    if (r.state == COMM_RETRY_TRYING) {
        Event(kLogEventReconnectTry,
              "try " + std::to_string(r.tries) + " on " + LinkPortName(gPowerInfo.port));
    }
}
void Restored(const LinkPeer& p, int tries) {
    Event(kLogEventLinkRestored,
          PeerText(p) + " after " + std::to_string(tries) + (tries == 1 ? " try" : " tries"));
}
void WatchdogTripped(int tripped) {
    if (tripped != 0) {
        Event(kLogEventWatchdog,
              "no remote command for " + std::to_string(WatchdogDelay()) + " s: output stop asked");
    }
}

const LinkObserver kObserver{nullptr, Received,         Connected, Disconnected,
                             Lost,    StoppedOnConnect, Retry,     Restored};

} // namespace

void RecordingInstall() {
    LinkAddObserver(&kObserver);
    WatchdogAddObserver(WatchdogTripped);
    UiSetCallbackEndHook(Observe);
}

int RecordingStart(const char* path) {
    gPath = path;
    if (const int error = DataLogStart(path, StateNow())) {
        RecordingMenuDimmed();
        return error;
    }
    // A link already up is in the log from its first row on; a failure there
    // is reported as any later one is.
    if (gPowerInfo.online != 0) {
        Event(kLogEventConnect, PeerText(LinkCurrentPeer()));
    }
    RecordingMenuDimmed();
    return 0;
}

void RecordingStartFromMenu() {
    std::string title;
    GetMenuBarAttribute(gMainMenu, MENUBAR_FILE_LOG_START, ATTR_ITEM_NAME, &title);
    char path[MAX_PATHNAME_LEN] = {};
    const std::string name = RecordingDefaultName();
    const int status = FileSelectPopup("", name.c_str(), "*.csv", title.c_str(), VAL_SELECT_BUTTON,
                                       0, 1, 1, 1, path);
    if (status != VAL_EXISTING_FILE_SELECTED && status != VAL_NEW_FILE_SELECTED) {
        return;
    }
    const int error = RecordingStart(path);
    if (error != 0) {
        LanguageWarningPopup(RecordingFailureText(false, path, error, LanguageIsEnglish()));
    }
}

void RecordingStop() {
    DataLogStop();
    RecordingMenuDimmed();
}

int RecordingIsOn() {
    return DataLogIsOn();
}

void RecordingFileEvent(const char* event, const char* path) {
    Event(event, path);
}

void RecordingRemoteChanges() {
    ObserveBy("remote");
}

void RecordingSequenceEvent(const char* event, const std::string& detail) {
    Event(event, detail);
}

void RecordingSequenceChanges() {
    ObserveBy("sequence");
}

void RecordingExit() {
    Event(kLogEventExit, "");
}

std::string RecordingDefaultName() {
    return TextDatedNameNow("Vx52Log", ".csv");
}

std::string RecordingFailureText(bool started, const std::string& path, int error, bool english) {
    // The English text also goes to standard error, in the system's words.
    const std::string reason = english ? SysErrorText(error) : LanguageReasonText(error);
    return LanguageMessageIn(english, started ? TEXT_LOG_STOPPED : TEXT_LOG_NOT_STARTED,
                             {{"file", path}, {"reason", reason}});
}

void RecordingMenuDimmed() {
    const int on = DataLogIsOn();
    SetMenuBarAttribute(gMainMenu, MENUBAR_FILE_LOG_START, ATTR_DIMMED, on);
    SetMenuBarAttribute(gMainMenu, MENUBAR_FILE_LOG_STOP, ATTR_DIMMED, on == 0 ? 1 : 0);
    // The link area says a log runs, and into which file.
    SetCtrlAttribute(gMainPanel, PANEL_TXT_LOG, ATTR_VISIBLE, on);
    SetCtrlAttribute(gMainPanel, PANEL_TXT_LOG, ATTR_TOOLTIP, on != 0 ? gPath.c_str() : "");
}

void RecordingReset() {
    gKnown = Known{};
}
