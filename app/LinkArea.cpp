#include "app/LinkArea.h"

#include <cstdio>

#include "app/Shell.h"
#include "link/Command.h"
#include "link/LinkEvents.h"
#include "link/Scheduler.h"
#include "persist/Language.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/Watchdog.h"
#include "ui/Vx52PSoftUi.h"

namespace {

constexpr int kItemLost = 423;
constexpr int kItemInUse = 424;
constexpr int kItemRetryWaiting = 762;
constexpr int kItemRetryTrying = 763;
constexpr int kItemWatchdog = 764;
// Long enough to see at 2 replies a second, short enough to go dark between.
constexpr int kFlashMs = 150;
// A device path longer than the area holds keeps its end, where the
// adapter's name is.
constexpr size_t kDeviceShown = 32;

enum class Shown { Nothing, InUse, Lost };

Shown gShown = Shown::Nothing;
LinkPeer gPeer;
std::string gLostAt; // "14:03:12"
CommRetry gRetry{};
int gRetrySeconds = 0;
// The offline caption makes way for the retry notice; it comes back after.
bool gOfflineHidden = false;
std::string gTrippedAt;

std::string TimeNow() {
    SysLocalTime now{};
    SysGetLocalTime(&now);
    char at[16];
    std::snprintf(at, sizeof at, "%02d:%02d:%02d", now.hour, now.minute, now.second);
    return at;
}

std::string ShortDevice(const std::string& device) {
    if (device.size() <= kDeviceShown) {
        return device;
    }
    return "\u2026" + device.substr(device.size() - (kDeviceShown - 1));
}

void SetVisible(int control, bool visible) {
    SetCtrlAttribute(gMainPanel, control, ATTR_VISIBLE, visible ? 1 : 0);
}

// While the link is tried again the notice takes the room of the offline
// caption, the activity lamp and the lost notice, with its button beside it.
void ShowRetry(const std::string* texts) {
    const bool retrying = gRetry.state != COMM_RETRY_OFF;
    SetVisible(PANEL_TXT_LINKRETRY, retrying);
    SetVisible(PANEL_BT_STOP_RETRY, retrying);
    SetVisible(PANEL_LED_ACTIVITY, !retrying);
    if (retrying) {
        SetVisible(PANEL_TXT_OFFLINE, false);
        gOfflineHidden = true;
    } else if (gOfflineHidden) {
        gOfflineHidden = false;
        SetVisible(PANEL_TXT_OFFLINE, CommLinkReady() == 0);
    }
    if (!retrying) {
        return;
    }
    const bool waiting = gRetry.state == COMM_RETRY_WAITING;
    const std::string text = TextFillIn(
        texts[waiting ? 2 : 3], {{"time", gLostAt},
                                 {"seconds", std::to_string(gRetrySeconds)},
                                 {"try", std::to_string(gRetry.tries + (waiting ? 1 : 0))}});
    SetCtrlVal(gMainPanel, PANEL_TXT_LINKRETRY, text.c_str());
}

void Show() {
    std::string texts[5];
    const int items[5] = {kItemLost, kItemInUse, kItemRetryWaiting, kItemRetryTrying,
                          kItemWatchdog};
    const bool retrying = gRetry.state != COMM_RETRY_OFF;
    const bool tripped = WatchdogTripped() != 0 && !retrying && gShown != Shown::Lost;
    if (retrying || gShown != Shown::Nothing || tripped) {
        LanguageTexts(items, 5, texts);
    }
    ShowRetry(texts);
    SetVisible(PANEL_TXT_LINKINFO, !retrying && !tripped && gShown == Shown::InUse);
    SetVisible(PANEL_TXT_LINKLOST, !retrying && gShown == Shown::Lost);
    SetVisible(PANEL_TXT_WATCHDOG, tripped);
    if (tripped) {
        SetCtrlVal(
            gMainPanel, PANEL_TXT_WATCHDOG,
            TextFillIn(texts[4], {{"delay", std::to_string(WatchdogDelay())}, {"time", gTrippedAt}})
                .c_str());
    }
    if (retrying || gShown == Shown::Nothing) {
        return;
    }
    const std::string port = LinkPortName(gPeer.port);
    const std::string device = ShortDevice(gPeer.device);
    if (gShown == Shown::InUse) {
        SetCtrlVal(gMainPanel, PANEL_TXT_LINKINFO,
                   TextFillIn(texts[1], {{"port", port},
                                         {"device", device},
                                         {"baud", std::to_string(gPeer.baudRate)},
                                         {"address", std::to_string(gPeer.address)}})
                       .c_str());
    } else {
        SetCtrlVal(
            gMainPanel, PANEL_TXT_LINKLOST,
            TextFillIn(texts[0], {{"time", gLostAt}, {"port", port}, {"device", device}}).c_str());
    }
}

void Connected(const LinkPeer& peer) {
    gPeer = peer;
    gShown = Shown::InUse;
    Show();
}

void Disconnected(const LinkPeer&) {
    gShown = Shown::Nothing;
    Show();
}

void Lost(const LinkPeer& peer) {
    gPeer = peer;
    // A try that failed is not a new loss: the notice keeps the first one's time.
    if (gRetry.state != COMM_RETRY_TRYING) {
        gLostAt = TimeNow();
    }
    gShown = Shown::Lost;
    Show();
}

void Retry(const CommRetry& retry) {
    gRetry = retry;
    gRetrySeconds = CommRetrySecondsLeft();
    Show();
}

void Watchdog(int tripped) {
    if (tripped != 0) {
        gTrippedAt = TimeNow();
    }
    Show();
}

void Received(const uint8_t*, int, int, int, int result) {
    if (result == COMM_RX_ACCEPTED) {
        SetCtrlAttribute(gMainPanel, PANEL_LED_ACTIVITY, ATTR_FLASH, kFlashMs);
    }
}

const LinkObserver kObserver{nullptr, Received, Connected, Disconnected, Lost, Retry, nullptr};

} // namespace

void LinkAreaInstall() {
    LinkAddObserver(&kObserver);
    WatchdogAddObserver(Watchdog);
}

int BT_STOP_RETRY_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        CommStopRetrying();
    }
    return 0;
}

void LinkAreaLanguageSet() {
    Show();
}

void LinkAreaReset() {
    gShown = Shown::Nothing;
    gPeer = LinkPeer{};
    gLostAt.clear();
    gRetry = CommRetry{};
    gRetrySeconds = 0;
    gOfflineHidden = false;
    gTrippedAt.clear();
}

std::string TextFillIn(std::string text,
                       std::initializer_list<std::pair<const char*, std::string>> values) {
    for (const auto& [name, value] : values) {
        const std::string mark = std::string("{") + name + "}";
        for (size_t at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + value.size())) {
            text.replace(at, mark.size(), value);
        }
    }
    return text;
}

std::string LinkPortName(int port) {
    return "COM" + std::to_string(port);
}
