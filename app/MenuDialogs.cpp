// The menu, the connect button and the three secondary panels. Every dialog
// is loaded fresh when shown, re-texted in the current language, and
// discarded when hidden.
#include "app/MenuDialogs.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/LinkArea.h"
#include "app/LinkMonitor.h"
#include "app/LinkWindow.h"
#include "app/Recording.h"
#include "app/RemoteControl.h"
#include "app/SequenceWindow.h"
#include "app/Shell.h"
#include "link/PortUart.h"
#include "link/Scheduler.h"
#include "persist/Language.h"
#include "persist/SettingsFiles.h"
#include "platform/SerialDevices.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "record/DataLog.h"
#include "ui/Vx52PSoftUi.h"

#include <string>

namespace {

bool English() { return gPowerInfo.language == 1; }

constexpr const char* kSettingsPattern = "*.52P";
constexpr const char* kSettingsExtension = ".52P";

// Returns true and fills path when the operator chose a file.
bool ChooseSettingsFile(int buttonLabel, char* path) {
    const int status = FileSelectPopup("", kSettingsPattern, kSettingsPattern, "", buttonLabel, 0,
                                       1, 1, 0, path);
    return status == VAL_EXISTING_FILE_SELECTED || status == VAL_NEW_FILE_SELECTED;
}

// In any case, as the load dialog's filter lists them.
bool EndsWithExtension(const char* path) {
    const size_t n = std::strlen(path);
    const size_t e = std::strlen(kSettingsExtension);
    if (n < e) {
        return false;
    }
    for (size_t i = 0; i < e; ++i) {
        if (std::toupper(static_cast<unsigned char>(path[n - e + i])) != kSettingsExtension[i]) {
            return false;
        }
    }
    return true;
}

void ShowWarning(const char* text) {
    WarningPopup(English() ? "Warning" : "警告", text);
}

void Warn(const char* englishText, const char* chineseText) {
    ShowWarning(English() ? englishText : chineseText);
}

bool FileNameTaken(const char* path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

bool ConfirmReplace(const char* path) {
    const std::string p = path;
    const std::string text = English()
                                 ? "\"" + p + "\" already exists. Save the output settings into it?"
                                 : "“" + p + "”已存在，是否将输出设置保存到该文件？";
    return ConfirmPopup(English() ? "Warning" : "警告", text.c_str()) == 1;
}

void SaveOutputSettings() {
    char path[MAX_PATHNAME_LEN] = {};
    if (!ChooseSettingsFile(VAL_SAVE_BUTTON, path)) {
        return;
    }
    // Only names ending in the extension show in the load dialog. A name too
    // long to take it is refused rather than cut, which would save elsewhere.
    if (!EndsWithExtension(path)) {
        if (std::strlen(path) + std::strlen(kSettingsExtension) > MAX_PATHNAME_LEN - 1) {
            Warn("The file name is too long to add the extension \".52P\". Nothing was saved; "
                 "choose a shorter name.",
                 "文件名过长，无法加上扩展名“.52P”，未保存。请选择较短的文件名！");
            return;
        }
        std::strcat(path, kSettingsExtension);
        // The dialog asked about the name as chosen, not about this one.
        if (FileNameTaken(path) && !ConfirmReplace(path)) {
            return;
        }
    }
    // A save that did not reach the disk must not look like one that did.
    int error = 0;
    if (FileWriteNormal52P(path, &error) != 1) {
        ShowSettingsWriteFailure(
            SettingsWriteFailureText(WRITE_SAVED_OUTPUT, path, error, English()));
        return;
    }
    RecordingFileEvent(kLogEventFileSave, path);
}

void LoadOutputSettings() {
    char path[MAX_PATHNAME_LEN] = {};
    if (!ChooseSettingsFile(VAL_LOAD_BUTTON, path)) {
        return;
    }
    // The tick runs behind the dialog: the source may have started meanwhile,
    // and new settings must not reach a running output unasked.
    if (gPowerInfo.outputOn != 0) {
        Warn("The output is running, so the settings file was not loaded. Stop the output, then "
             "load the file again.",
             "输出运行中，设置文件未载入。请先停止输出，再重新载入！");
        return;
    }
    if (FileReadNormal52P(path) == 1) {
        RecordingFileEvent(kLogEventFileLoad, path);
    }
    PowerRequestLoadedSettings();
}

// Texts the program fills in itself, and the monitor, which stays open.
void LanguageSetBeyondMain() {
    LinkAreaLanguageSet();
    LinkMonitorLanguageSet();
    SequenceWindowLanguageSet();
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
    const std::string reason = SysErrorText(rc);
    const std::string text =
        English() ? "\"" + name + "\" could not be made a link to " + device + ": " + reason + "."
                  : "无法把“" + name + "”设为指向 " + device + " 的链接：" + reason + "。";
    WarningPopup(English() ? "Warning" : "警告", text.c_str());
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
    case MENUBAR_FILE_LOG_START:
        RecordingStartFromMenu();
        break;
    case MENUBAR_FILE_LOG_STOP:
        RecordingStop();
        break;
    case MENUBAR_FILE_SEQUENCE:
        DisplayPanelSequence(1);
        break;
    case MENUBAR_FILE_EXIT:
        ExitMainPanel();
        break;
    case MENUBAR_SET_LINKMON:
        DisplayPanelLinkMonitor(1);
        break;
    case MENUBAR_SET_COMM:
        DisplayPanelCommSet(1);
        break;
    case MENUBAR_SET_REMOTE:
        DisplayPanelRemote(1);
        break;
    case MENUBAR_SET_LANG_CN:
        if (gPowerInfo.language != 0) {
            SetLanguageChinese();
            PanelMainLanguageSet();
            LanguageSetBeyondMain();
        }
        break;
    case MENUBAR_SET_LANG_EN:
        if (gPowerInfo.language != 1) {
            SetLanguageEnglish();
            PanelMainLanguageSet();
            LanguageSetBeyondMain();
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
        int error = 0;
        if (FileWriteSoftSet(SOFTSET_FILE, &error) != 1) {
            ShowSettingsWriteFailure(
                SettingsWriteFailureText(WRITE_LINK_DIALOG, SOFTSET_FILE, error, English()));
        }
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

// The compiled help needs a viewer that few Linux desktops have; where none is
// registered the same pages open as HTML in the browser. The HTML is looked for
// in the working folder like the compiled help, then beside the program, so a
// working folder made by hand still gets help. A failure is ignored.
void CallHelpFile() {
    const char* chm = English() ? "Vx52P_PC_Software_EN.chm" : "Vx52P_PC_Software_CN.chm";
    if (SysHasDocumentViewer(chm) && SysOpenDocument(chm) == 0) {
        return;
    }
    const std::string page = std::string("help/") + (English() ? "en" : "cn") + "/index.html";
    if (SysOpenDocument(page.c_str()) != 0) {
        SysOpenDocument((UiProgramDir() + "/" + page).c_str());
    }
}

std::string SettingsWriteFailureText(SettingsWrite what, const char* path, int error,
                                     bool english) {
    struct Texts {
        const char* what;
        const char* loss;
    };
    static const Texts kEnglish[] = {
        {"The output settings could not be saved to", "The file was not changed."},
        {"The link settings could not be saved to", "They are used until the program ends."},
        {"The output settings could not be saved to", "The next start will not show them."},
        {"The link and language settings could not be saved to",
         "The next start will not use them."},
        {"The remote-control settings could not be saved to",
         "They are used until the program ends."},
    };
    static const Texts kChinese[] = {
        {"输出设置未能保存到", "文件未被修改。"},
        {"通讯设置未能保存到", "新设置仅在本次运行中有效。"},
        {"输出设置未能保存到", "下次启动时不会恢复这些设置。"},
        {"通讯和语言设置未能保存到", "下次启动时不会使用这些设置。"},
        {"远程控制设置未能保存到", "新设置仅在本次运行中有效。"},
    };
    const Texts& t = (english ? kEnglish : kChinese)[what];
    const std::string reason = std::strerror(error);
    if (english) {
        return std::string(t.what) + " \"" + path + "\": " + reason + ". " + t.loss;
    }
    return std::string(t.what) + "“" + path + "”：" + reason + "。" + t.loss;
}

void ShowSettingsWriteFailure(const std::string& text) {
    ShowWarning(text.c_str());
}
