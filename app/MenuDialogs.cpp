// The menu, the connect button and the three secondary panels. Every dialog
// is loaded fresh when shown, re-texted in the current language, and
// discarded when hidden.
#include "app/MenuDialogs.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/Shell.h"
#include "app/Vx52PSoftUi.h"
#include "link/PortUart.h"
#include "link/Scheduler.h"
#include "persist/Language.h"
#include "persist/SettingsFiles.h"
#include "platform/SerialDevices.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"

namespace {

bool English() { return gPowerInfo.language == 1; }

constexpr const char* kSettingsPattern = "*.52P";

// Returns true and fills path when the operator chose a file.
bool ChooseSettingsFile(int buttonLabel, char* path) {
    const int status = FileSelectPopup("", kSettingsPattern, kSettingsPattern, "", buttonLabel, 0,
                                       1, 1, 0, path);
    return status == VAL_EXISTING_FILE_SELECTED || status == VAL_NEW_FILE_SELECTED;
}

void SaveOutputSettings() {
    char path[MAX_PATHNAME_LEN] = {};
    if (!ChooseSettingsFile(VAL_SAVE_BUTTON, path)) {
        return;
    }
    // A save that did not reach the disk must not look like one that did.
    if (FileWriteNormal52P(path) != 1) {
        if (English()) {
            MessagePopup("Error", "The output settings could not be saved. The file was not "
                                  "changed; check the folder and the free disk space.");
        } else {
            MessagePopup("出错", "输出设置保存失败，文件未被修改，请检查文件夹和磁盘空间！");
        }
    }
}

void LoadOutputSettings() {
    char path[MAX_PATHNAME_LEN] = {};
    if (!ChooseSettingsFile(VAL_LOAD_BUTTON, path)) {
        return;
    }
    FileReadNormal52P(path);
    Data52PFromNormalVarToPanel(gPowerInfo.outputOn);
    if (gPowerInfo.online == 1) {
        CommSetNewCmdSingleGroup(90, 33, 0);
    }
}

void SetCommDialogDimmed(int dimmed) {
    for (int control : {COMMPANEL_NUM_ADDRESS, COMMPANEL_RING_PORT, COMMPANEL_RING_DEVICE,
                        COMMPANEL_RING_BAUD, COMMPANEL_BT_OK}) {
        SetCtrlAttribute(gCommPanel, control, ATTR_DIMMED, dimmed);
    }
}

// The devices present, after the first entry that leaves the port's name as it is.
void FillDeviceList() {
    std::vector<SerialDevice> devices;
    PortUartListDevices(&devices);
    for (const SerialDevice& d : devices) {
        InsertListItem(gCommPanel, COMMPANEL_RING_DEVICE, -1, d.label.c_str(), d.path.c_str());
    }
}

// Makes the chosen device the dialog's port: "COM<N>" becomes a link to it, so
// the next open takes it. Something there that is not a link may be the
// operator's own file and is replaced only when the operator says so. Returns
// false when nothing was linked though a device was chosen: the dialog stays.
bool LinkChosenDevice() {
    std::string device;
    int port = 0;
    if (GetCtrlVal(gCommPanel, COMMPANEL_RING_DEVICE, &device) < 0 || device.empty() ||
        GetCtrlVal(gCommPanel, COMMPANEL_RING_PORT, &port) < 0) {
        return true;
    }
    const std::string name = "COM" + std::to_string(port);
    int replace = 0;
    if (PortUartNameTaken(port)) {
        const std::string question =
            English() ? "\"" + name +
                            "\" in the working folder is not a link to a device. "
                            "Replace it with a link to " +
                            device + "?"
                      : "工作文件夹中的“" + name + "”不是指向设备的链接。要把它换成指向 " + device +
                            " 的链接吗？";
        if (ConfirmPopup(English() ? "Replace" : "替换", question.c_str()) != 1) {
            return false;
        }
        replace = 1;
    }
    const int rc = PortUartLinkDevice(port, device.c_str(), replace);
    if (rc == 0) {
        return true;
    }
    const std::string reason = std::strerror(-rc);
    const std::string text =
        English() ? "\"" + name + "\" could not be made a link to " + device + ": " + reason + "."
                  : "无法把“" + name + "”设为指向 " + device + " 的链接：" + reason + "。";
    MessagePopup(English() ? "Error" : "出错", text.c_str());
    return false;
}

} // namespace

int MAIN_MENU_ITEM_CALLBACK(int, int menuItem, void*, int) {
    switch (menuItem) {
    case MENUBAR_FILE_SAVE:
        SaveOutputSettings();
        break;
    case MENUBAR_FILE_LOAD:
        LoadOutputSettings();
        break;
    case MENUBAR_FILE_EXIT:
        ExitMainPanel();
        break;
    case MENUBAR_SET_COMM:
        DisplayPanelCommSet(1);
        break;
    case MENUBAR_SET_LANG_CN:
        if (gPowerInfo.language != 0) {
            SetLanguageChinese();
            PanelMainLanguageSet();
        }
        break;
    case MENUBAR_SET_LANG_EN:
        if (gPowerInfo.language != 1) {
            SetLanguageEnglish();
            PanelMainLanguageSet();
        }
        break;
    case MENUBAR_HELP_HELP:
        CallHelpFile();
        break;
    case MENUBAR_HELP_ABOUT:
        DisplayPanelAbout(1);
        break;
    default:
        break;
    }
    return 0;
}

int BT_COMM_CONNECT_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        CommConnectDeal(gPowerInfo.online == 0 ? 1 : 0);
    }
    return 0;
}

int BT_COMMSET_OK_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        if (!LinkChosenDevice()) {
            return 0;
        }
        DataFromPanelToCommSetVar();
        DisplayPanelCommSet(0);
        FileWriteSoftSet(SOFTSET_FILE);
    }
    return 0;
}

int BT_COMMSET_CANCEL_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    if (gPowerInfo.online != 0) {
        DisplayPanelCommSet(0);
        return 0;
    }
    gPowerInfo.outputOn = 0;
    gPowerInfo.alarm = 0;
    RefreshOutputState();
    DisplayPanelCommSet(0);
    return 0;
}

int COMM_PANEL_CALLBACK(int, int event, void*, int, int) {
    if (event == EVENT_CLOSE) {
        DisplayPanelCommSet(0);
    }
    return 0;
}

int BT_ABOUT_OK_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        DisplayPanelAbout(0);
    }
    return 0;
}

int ABOUTPANEL_CALLBACK(int, int event, void*, int, int) {
    if (event == EVENT_CLOSE) {
        DisplayPanelAbout(0);
    }
    return 0;
}

void DisplayPanelCommSet(int show) {
    if (show == 0) {
        DiscardPanel(gCommPanel);
        return;
    }
    // The copy loaded at start-up is never shown; replace it rather than keep it.
    DiscardPanel(gCommPanel);
    gCommPanel = LoadPanel(0, UIR_FILE, COMMPANEL);
    if (gCommPanel < 0) {
        return;
    }
    PanelCommSetLanguageSet();
    InstallPopup(gCommPanel);
    DataFromCommSetVarToPanel();
    FillDeviceList();
    // While connected the dialog only shows the settings.
    SetCommDialogDimmed(gPowerInfo.online == 1 ? 1 : 0);
}

void DisplayPanelAbout(int show) {
    if (show == 0) {
        DiscardPanel(gAboutPanel);
        return;
    }
    gAboutPanel = LoadPanel(0, UIR_FILE, ABOUTPANEL);
    if (gAboutPanel < 0) {
        return;
    }
    SetCtrlVal(gAboutPanel, ABOUTPANEL_NUM_VERSION, 1.0);
    PanelAboutLanguageSet();
    InstallPopup(gAboutPanel);
}

void DisplayPanelWait(int show) {
    if (show != 0) {
        if (gPowerInfo.waitShown != 0) {
            return;
        }
        DiscardPanel(gWaitPanel);
        gWaitPanel = LoadPanel(0, UIR_FILE, WAITPANEL);
        if (gWaitPanel < 0) {
            return;
        }
        PanelWaitLanguageSet();
        InstallPopup(gWaitPanel);
        gPowerInfo.waitShown = 1;
        return;
    }
    if (gPowerInfo.waitShown == 1) {
        DiscardPanel(gWaitPanel);
        gPowerInfo.waitShown = 0;
    }
}

void StockDialogsFollowLanguage() {
    UiSetStockDialogLocale(English() ? "en" : "zh_CN");
}

void SetLanguageChinese() {
    gPowerInfo.language = 0;
    StockDialogsFollowLanguage();
    SetMenuBarAttribute(gMainMenu, MENUBAR_SET_LANG_CN, ATTR_CHECKED, 1);
    SetMenuBarAttribute(gMainMenu, MENUBAR_SET_LANG_EN, ATTR_CHECKED, 0);
}

void SetLanguageEnglish() {
    gPowerInfo.language = 1;
    StockDialogsFollowLanguage();
    SetMenuBarAttribute(gMainMenu, MENUBAR_SET_LANG_CN, ATTR_CHECKED, 0);
    SetMenuBarAttribute(gMainMenu, MENUBAR_SET_LANG_EN, ATTR_CHECKED, 1);
}

void CallHelpFile() {
    // A help document that cannot be opened is ignored.
    SysOpenDocument(English() ? "Vx52P_PC_Software_EN.chm" : "Vx52P_PC_Software_CN.chm");
}

void MainMenuNormalSaveLoadDimmed(unsigned int dimmed) {
    SetMenuBarAttribute(gMainMenu, MENUBAR_FILE_SAVE, ATTR_DIMMED, dimmed != 0 ? 1 : 0);
    SetMenuBarAttribute(gMainMenu, MENUBAR_FILE_LOAD, ATTR_DIMMED, dimmed != 0 ? 1 : 0);
}
