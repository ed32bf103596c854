#include "app/Recording.h"

#include <cstdio>
#include <cstring>

#include "app/LinkArea.h"
#include "app/Shell.h"
#include "link/Command.h"
#include "link/CommandIds.h"
#include "link/LinkEvents.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "record/DataLog.h"
#include "ui/Vx52PSoftUi.h"
#include "util/Text.h"

namespace {

std::string gPath;
int gFailure = 0;

bool English() {
    return gPowerInfo.language == 1;
}

DataLogState StateNow() {
    return {.setVol = gNormal52PSet.vol,
            .setFreq = gNormal52PSet.freq,
            .volLevel = gNormal52PSet.volLevel,
            .up2U = gNormal52PSet.up2U,
            .down2U = gNormal52PSet.down2U,
            .outputOn = gPowerInfo.outputOn,
            .alarm = gPowerInfo.alarm,
            .online = gPowerInfo.online};
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
    WarningPopup(English() ? "Warning" : "警告",
                 RecordingFailureText(true, gPath, gFailure, English()).c_str());
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
    Check(DataLogMeasure(r, s, AlarmText(s)));
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

const LinkObserver kObserver{nullptr, Received, Connected, Disconnected, Lost};

} // namespace

void RecordingInstall() {
    LinkAddObserver(&kObserver);
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
        WarningPopup(English() ? "Warning" : "警告",
                     RecordingFailureText(false, path, error, English()).c_str());
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
    const std::string reason = std::strerror(error);
    if (english) {
        return started
                   ? "Data logging has stopped: \"" + path + "\" could not be written: " + reason +
                         ". The rows before are kept; the program goes on."
                   : "The data log could not be started in \"" + path + "\": " + reason + ".";
    }
    return started ? "数据记录已停止：无法写入“" + path + "”：" + reason +
                         "。此前记录的数据已保留，程序继续运行。"
                   : "无法在“" + path + "”中开始数据记录：" + reason + "。";
}

void RecordingMenuDimmed() {
    const int on = DataLogIsOn();
    SetMenuBarAttribute(gMainMenu, MENUBAR_FILE_LOG_START, ATTR_DIMMED, on);
    SetMenuBarAttribute(gMainMenu, MENUBAR_FILE_LOG_STOP, ATTR_DIMMED, on == 0 ? 1 : 0);
}
