#include "app/LinkArea.h"

#include <cstdint>

#include "app/MenuDialogs.h"
#include "app/Shell.h"
#include "link/Command.h"
#include "link/LinkEvents.h"
#include "persist/Language.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "ui/Vx52PSoftUi.h"
#include "util/Text.h"

namespace {

constexpr int kItemLost = 423;
constexpr int kItemInUse = 424;
constexpr int kItemNoAnswer = 802;
constexpr int kItemStoppedOnConnect = 803;
constexpr int kItemSettingsUnreadable = 809;
constexpr int kItemSettingsReplaced = 826;
constexpr int kItemSettingsForeign = 827;
// Long enough to see at 2 replies a second, short enough to go dark between.
constexpr int kFlashMs = 150;
// A notice is read once; then the area shows the link again.
constexpr int kNoticeMs = 30000;
// A device path longer than the area holds keeps its end, where the
// adapter's name is.
constexpr size_t kDeviceShown = 32;

enum class Shown { Nothing, InUse, Lost, NoAnswer };
enum class Notice { None, StoppedOnConnect, Settings };

Shown gShown = Shown::Nothing;
Notice gNotice = Notice::None;
unsigned gNoticeCount = 0; // which notice a delayed end belongs to
LinkPeer gPeer;
std::string gLostAt; // "14:03:12"
// An accepted reply since the link opened: a link that never answered was
// not lost, it never was.
bool gAnswered = false;
std::string gSettingsFile;
SettingsReport gSettingsReport;

std::string ShortDevice(const std::string& device) {
    if (device.size() <= kDeviceShown) {
        return device;
    }
    return "\u2026" + device.substr(device.size() - (kDeviceShown - 1));
}

std::string Text(int item) {
    return LanguageText(item);
}

std::string SettingsNote() {
    const SettingsReport& r = gSettingsReport;
    const std::string file = gSettingsFile;
    switch (r.refusal) {
    case SETTINGS_READ: {
        std::string list;
        for (const SettingsReplaced& v : r.replaced) {
            list += (list.empty() ? "" : ", ") + v.item + " " + v.read + " -> " +
                    std::to_string(v.used);
        }
        return TextFillIn(Text(kItemSettingsReplaced), {{"file", file}, {"list", list}});
    }
    case SETTINGS_UNREADABLE:
        return TextFillIn(Text(kItemSettingsUnreadable),
                          {{"file", file}, {"reason", LanguageReasonText(r.error)}});
    default:
        return TextFillIn(Text(kItemSettingsForeign),
                          {{"file", file}, {"why", SettingsRefusalText(r)}});
    }
}

std::string StatusText() {
    const std::string port = LinkPortName(gPeer.port);
    const std::string device = ShortDevice(gPeer.device);
    switch (gShown) {
    case Shown::InUse:
        return TextFillIn(Text(kItemInUse), {{"port", port},
                                             {"device", device},
                                             {"baud", std::to_string(gPeer.baudRate)},
                                             {"address", std::to_string(gPeer.address)}});
    case Shown::Lost:
        return TextFillIn(Text(kItemLost), {{"time", gLostAt}, {"port", port}, {"device", device}});
    case Shown::NoAnswer:
        return TextFillIn(Text(kItemNoAnswer), {{"port", port}, {"device", device}});
    case Shown::Nothing:
        break;
    }
    return {};
}

void Show() {
    const bool notice = gNotice != Notice::None;
    const bool warning = gShown == Shown::Lost || gShown == Shown::NoAnswer;
    SetCtrlAttribute(gMainPanel, PANEL_TXT_LINKINFO, ATTR_VISIBLE,
                     !notice && gShown == Shown::InUse);
    SetCtrlAttribute(gMainPanel, PANEL_TXT_LINKLOST, ATTR_VISIBLE, notice || warning);
    if (!notice && gShown == Shown::Nothing) {
        return;
    }
    const std::string status = StatusText();
    if (notice) {
        // What the area would show meanwhile is a pointer's rest away.
        SetCtrlVal(
            gMainPanel, PANEL_TXT_LINKLOST,
            (gNotice == Notice::StoppedOnConnect ? Text(kItemStoppedOnConnect) : SettingsNote())
                .c_str());
        SetCtrlAttribute(gMainPanel, PANEL_TXT_LINKLOST, ATTR_TOOLTIP, status.c_str());
        return;
    }
    SetCtrlAttribute(gMainPanel, PANEL_TXT_LINKLOST, ATTR_TOOLTIP, "");
    SetCtrlVal(gMainPanel, warning ? PANEL_TXT_LINKLOST : PANEL_TXT_LINKINFO, status.c_str());
}

void EndNotice(void* data) {
    if (static_cast<unsigned>(reinterpret_cast<uintptr_t>(data)) != gNoticeCount) {
        return; // a later notice took its place
    }
    gNotice = Notice::None;
    Show();
}

void StartNotice(Notice notice) {
    gNotice = notice;
    ++gNoticeCount;
    UiPostDelayedCall(kNoticeMs, EndNotice, reinterpret_cast<void*>(uintptr_t{gNoticeCount}));
    Show();
}

void Connected(const LinkPeer& peer) {
    gPeer = peer;
    gShown = Shown::InUse;
    gAnswered = false;
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
    gLostAt = TextClock(now, false);
    gShown = gAnswered ? Shown::Lost : Shown::NoAnswer;
    // The loss matters more than any notice.
    gNotice = Notice::None;
    Show();
}

void StoppedOnConnect(const LinkPeer&) {
    StartNotice(Notice::StoppedOnConnect);
}

void Received(const uint8_t*, int, int, int, int result) {
    if (result == COMM_RX_ACCEPTED) {
        gAnswered = true;
        SetCtrlAttribute(gMainPanel, PANEL_LED_ACTIVITY, ATTR_FLASH, kFlashMs);
    }
}

const LinkObserver kObserver{nullptr, Received, Connected, Disconnected, Lost, StoppedOnConnect};

} // namespace

void LinkAreaInstall() {
    LinkAddObserver(&kObserver);
}

void LinkAreaLanguageSet() {
    Show();
}

void LinkAreaReset() {
    gShown = Shown::Nothing;
    gNotice = Notice::None;
    gPeer = LinkPeer{};
    gLostAt.clear();
    gAnswered = false;
}

void LinkAreaSettingsNote(const char* file, const SettingsReport& report) {
    if (report.refusal == SETTINGS_MISSING ||
        (report.refusal == SETTINGS_READ && report.replaced.empty())) {
        return;
    }
    gSettingsFile = file;
    gSettingsReport = report;
    StartNotice(Notice::Settings);
}

std::string LinkPortName(int port) {
    return "COM" + std::to_string(port);
}
