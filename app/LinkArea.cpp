#include "app/LinkArea.h"

#include <cstdio>

#include "app/Shell.h"
#include "link/Command.h"
#include "link/LinkEvents.h"
#include "persist/Language.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "ui/Vx52PSoftUi.h"

namespace {

constexpr int kItemLost = 423;
constexpr int kItemInUse = 424;
// Long enough to see at 2 replies a second, short enough to go dark between.
constexpr int kFlashMs = 150;
// A device path longer than the area holds keeps its end, where the
// adapter's name is.
constexpr size_t kDeviceShown = 32;

enum class Shown { Nothing, InUse, Lost };

Shown gShown = Shown::Nothing;
LinkPeer gPeer;
std::string gLostAt; // "14:03:12"

std::string ShortDevice(const std::string& device) {
    if (device.size() <= kDeviceShown) {
        return device;
    }
    return "\u2026" + device.substr(device.size() - (kDeviceShown - 1));
}

void Show() {
    SetCtrlAttribute(gMainPanel, PANEL_TXT_LINKINFO, ATTR_VISIBLE, gShown == Shown::InUse);
    SetCtrlAttribute(gMainPanel, PANEL_TXT_LINKLOST, ATTR_VISIBLE, gShown == Shown::Lost);
    if (gShown == Shown::Nothing) {
        return;
    }
    std::string texts[2];
    const int items[2] = {kItemLost, kItemInUse};
    LanguageTexts(items, 2, texts);
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
    SysLocalTime now{};
    SysGetLocalTime(&now);
    char at[16];
    std::snprintf(at, sizeof at, "%02d:%02d:%02d", now.hour, now.minute, now.second);
    gLostAt = at;
    gShown = Shown::Lost;
    Show();
}

void Received(const uint8_t*, int, int, int, int result) {
    if (result == COMM_RX_ACCEPTED) {
        SetCtrlAttribute(gMainPanel, PANEL_LED_ACTIVITY, ATTR_FLASH, kFlashMs);
    }
}

const LinkObserver kObserver{nullptr, Received, Connected, Disconnected, Lost};

} // namespace

void LinkAreaInstall() {
    LinkAddObserver(&kObserver);
}

void LinkAreaLanguageSet() {
    Show();
}

void LinkAreaReset() {
    gShown = Shown::Nothing;
    gPeer = LinkPeer{};
    gLostAt.clear();
}

std::string LinkPortName(int port) {
    return "COM" + std::to_string(port);
}
