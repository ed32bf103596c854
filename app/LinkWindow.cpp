#include "app/LinkWindow.h"

#include <cerrno>
#include <string>

#include "app/MenuDialogs.h"
#include "app/Shell.h"
#include "link/LinkView.h"
#include "link/PortUart.h"
#include "persist/Language.h"
#include "persist/TextItems.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

namespace {

// Which device was tried and why it failed, so that a wrong port number and a
// missing permission no longer look alike to the operator.
std::string OpenPortErrorDetail() {
    PortUartOpenFailure f;
    if (PortUartLastOpenFailure(&f) == 0) {
        return {};
    }
    std::string detail;
    if (!f.device.empty()) {
        const std::string device =
            f.linkTarget.empty() ? f.device : f.device + " -> " + f.linkTarget;
        detail += LanguageMessage(TEXT_PORT_DEVICE, {{"device", device}}) + "\n";
    }
    detail += LanguageMessage(TEXT_PORT_REASON, {{"reason", LanguageReasonText(f.sysError)}});
    if (f.sysError == EACCES || f.sysError == EPERM) {
        // Debian gives serial ports to "dialout"; other systems name their own.
        const std::string group = f.group.empty() ? "dialout" : f.group;
        detail += "\n" + LanguageMessage(TEXT_PORT_GROUP, {{"group", group}});
    } else if (f.sysError == ENOTTY) {
        detail += "\n" + LanguageMessage(TEXT_PORT_NOT_SERIAL);
    }
    return detail;
}

void ShowOpenPortError() {
    // The connect at start-up was not asked for: its failure only leaves the
    // window offline.
    if (gFirstConnect != 0) {
        return;
    }
    const std::string detail = OpenPortErrorDetail();
    if (LanguageIsEnglish()) {
        WarningPopup("Error", "Open port error. Please reset.", detail.c_str());
    } else {
        WarningPopup("出错", "通讯端口打开错误，请重新选择端口！", detail.c_str());
    }
}

void SetVisible(int control, int visible) {
    SetCtrlAttribute(gMainPanel, control, ATTR_VISIBLE, visible);
}

const LinkView kView{
    DisplayPanelWait,
    ModelTypeChoose,
    CommConnectToPanel,
    Data52PFromMeasureToPanel,
    Data52PFromNormalVarToPanel,
    RefreshOutputState,
    ShowOpenPortError,
};

} // namespace

void LinkWindowInstall() {
    LinkSetView(&kView);
}

void CommConnectToPanel(int online) {
    ShowStateConfirmed(online);
    if (online == 0) {
        SetVisible(PANEL_TXT_OFFLINE, 1);
        SetVisible(PANEL_TXT_MODELNAME, 0);
        SetCtrlVal(gMainPanel, PANEL_LED_LINK, 0);
        SetVisible(PANEL_BT_CONNECT, 1);
        SetVisible(PANEL_BT_DISCONNECT, 0);
    } else {
        SetVisible(PANEL_TXT_OFFLINE, 0);
        SetVisible(PANEL_TXT_MODELNAME, 1);
        SetCtrlVal(gMainPanel, PANEL_TXT_MODELNAME, gPowerInfo.modelName);
        SetCtrlVal(gMainPanel, PANEL_LED_LINK, 1);
        SetVisible(PANEL_BT_CONNECT, 0);
        SetVisible(PANEL_BT_DISCONNECT, 1);
    }
}

void DataFromCommSetVarToPanel() {
    SetCtrlVal(gCommPanel, COMMPANEL_NUM_ADDRESS, static_cast<int>(gPowerInfo.address));
    SetCtrlVal(gCommPanel, COMMPANEL_RING_PORT, static_cast<int>(gPowerInfo.port));
    SetCtrlVal(gCommPanel, COMMPANEL_RING_BAUD, static_cast<int>(gPowerInfo.baudRate));
}

void DataFromPanelToCommSetVar() {
    // A control that cannot be read leaves its field as it was.
    int value = 0;
    if (GetCtrlVal(gCommPanel, COMMPANEL_NUM_ADDRESS, &value) >= 0) {
        gPowerInfo.address = value;
    }
    if (GetCtrlVal(gCommPanel, COMMPANEL_RING_PORT, &value) >= 0) {
        gPowerInfo.port = value;
    }
    if (GetCtrlVal(gCommPanel, COMMPANEL_RING_BAUD, &value) >= 0) {
        gPowerInfo.baudRate = value;
    }
}
