// The menu, the connect button and the three secondary panels. Every dialog
// is loaded fresh when shown, re-texted in the current language, and
// discarded when hidden.
#include "app/MenuDialogs.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/CommandLine.h"
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
#include "persist/TextItems.h"
#include "platform/SerialDevices.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "record/DataLog.h"
#include "ui/Vx52PSoftUi.h"
#include "util/Text.h"

namespace {

constexpr const char* kSettingsPattern = "*.52P";
constexpr const char* kSettingsExtension = ".52P";

// The first entry of the link dialog's device list, with and without where
// the port leads.
constexpr int kItemKeepTarget = 807;
constexpr int kItemKeep = 461;

// Returns true and fills path when the operator chose a file.
bool ChooseSettingsFile(int buttonLabel, char* path) {
    const int status =
        FileSelectPopup("", kSettingsPattern, kSettingsPattern, "", buttonLabel, 0, 1, 1, 0, path);
    return status == VAL_EXISTING_FILE_SELECTED || status == VAL_NEW_FILE_SELECTED;
}

bool FileNameTaken(const char* path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

bool ConfirmReplace(const char* path) {
    const std::string text = LanguageMessage(TEXT_SAVE_REPLACE_FILE, {{"file", path}});
    return ConfirmPopup(LanguageMessage(TEXT_WARNING).c_str(), text.c_str()) == 1;
}

void SaveOutputSettings() {
    char path[MAX_PATHNAME_LEN] = {};
    if (!ChooseSettingsFile(VAL_SAVE_BUTTON, path)) {
        return;
    }
    // Only names ending in the extension, in any case, show in the load dialog.
    // A name too long to take it is refused rather than cut, which would save
    // elsewhere.
    if (!TextEndsWithNoCase(path, kSettingsExtension)) {
        if (std::strlen(path) + std::strlen(kSettingsExtension) > MAX_PATHNAME_LEN - 1) {
            LanguageWarningPopup(LanguageMessage(TEXT_SAVE_NAME_TOO_LONG));
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
        ShowSettingsWriteFailure(SettingsWriteFailureText(WRITE_SAVED_OUTPUT, path, error));
        return;
    }
    RecordingFileEvent(kLogEventFileSave, path);
}

std::string ReplacedValuesText(const char* path, const SettingsReport& report);

void LoadOutputSettings() {
    char path[MAX_PATHNAME_LEN] = {};
    if (!ChooseSettingsFile(VAL_LOAD_BUTTON, path)) {
        return;
    }
    // The tick runs behind the dialog: the source may have started meanwhile,
    // and new settings must not reach a running output unasked.
    if (gPowerInfo.outputOn != 0) {
        LanguageWarningPopup(LanguageMessage(TEXT_LOAD_WHILE_RUNNING));
        return;
    }
    // A file that is not an output-settings file changes nothing, and nothing
    // goes to the source: the operator learns which file and why.
    SettingsReport report;
    if (FileReadNormal52P(path, &report) != 1) {
        LanguageWarningPopup(LanguageMessage(
            TEXT_LOAD_REFUSED, {{"file", path}, {"why", SettingsRefusalText(report)}}));
        return;
    }
    RecordingFileEvent(kLogEventFileLoad, path);
    PowerRequestLoadedSettings();
    if (!report.replaced.empty()) {
        LanguageWarningPopup(ReplacedValuesText(path, report));
    }
}

// "<file> was loaded ..." and one line per value the check replaced.
std::string ReplacedValuesText(const char* path, const SettingsReport& report) {
    std::string text = LanguageMessage(TEXT_LOAD_REPLACED, {{"file", path}});
    for (const SettingsReplaced& v : report.replaced) {
        text += "\n" + LanguageMessage(
                           TEXT_LOAD_REPLACED_VALUE,
                           {{"item", v.item}, {"read", v.read}, {"used", std::to_string(v.used)}});
    }
    return text;
}

// Texts the program fills in itself, and the monitor, which stays open.
void LanguageSetBeyondMain() {
    RefreshStateConfirmed();
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

// The first entry leaves the port's name as it is, and says where it leads.
void LabelKeepEntry() {
    int port = 0;
    if (GetCtrlVal(gCommPanel, COMMPANEL_RING_PORT, &port) < 0) {
        return;
    }
    const std::string target = PortUartNameTarget(port);
    const std::string label = target.empty()
                                  ? LanguageText(kItemKeep)
                                  : TextFillIn(LanguageText(kItemKeepTarget), {{"device", target}});
    ReplaceListItem(gCommPanel, COMMPANEL_RING_DEVICE, 0, label.c_str(), "");
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
// 0 when linked or no device was chosen; ECANCELED when the operator kept what
// is there, else the errno (the operator has been told): the dialog stays.
int LinkChosenDevice() {
    std::string device;
    int port = 0;
    if (GetCtrlVal(gCommPanel, COMMPANEL_RING_DEVICE, &device) < 0 || device.empty() ||
        GetCtrlVal(gCommPanel, COMMPANEL_RING_PORT, &port) < 0) {
        return 0;
    }
    const std::string name = LinkPortName(port);
    int replace = 0;
    if (PortUartNameTaken(port)) {
        const std::string question =
            LanguageMessage(TEXT_DEVICE_REPLACE_NAME, {{"port", name}, {"device", device}});
        if (ConfirmPopup(LanguageMessage(TEXT_REPLACE).c_str(), question.c_str()) != 1) {
            return ECANCELED;
        }
        replace = 1;
    }
    const int error = PortUartLinkDevice(port, device.c_str(), replace);
    if (error == 0) {
        return 0;
    }
    LanguageWarningPopup(LanguageMessage(
        TEXT_DEVICE_LINK_FAILED,
        {{"port", name}, {"device", device}, {"reason", LanguageReasonText(error)}}));
    return error;
}

// The operator's choice holds from now on and is kept, whatever the command
// line said for this run.
void ToggleReconnect() {
    const int on = CommReconnectOn() == 0 ? 1 : 0;
    CommSetReconnect(on);
    gReconnectSetting = on;
    ReconnectMenuChecked();
    int error = 0;
    if (FileWriteSoftSet(SOFTSET_FILE, &error) != 1) {
        ShowSettingsWriteFailure(SettingsWriteFailureText(WRITE_LINK_DIALOG, SOFTSET_FILE, error));
    }
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
    case MENUBAR_SET_RECONNECT:
        ToggleReconnect();
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
        if (LinkChosenDevice() != 0) {
            return 0;
        }
        DataFromPanelToCommSetVar();
        DisplayPanelCommSet(0);
        int error = 0;
        if (FileWriteSoftSet(SOFTSET_FILE, &error) != 1) {
            ShowSettingsWriteFailure(
                SettingsWriteFailureText(WRITE_LINK_DIALOG, SOFTSET_FILE, error));
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

int RING_COMMSET_PORT_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_VAL_CHANGED) {
        LabelKeepEntry();
    }
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
    LabelKeepEntry();
    FillDeviceList();
    // While connected the dialog only shows the settings, and says why.
    SetCommDialogDimmed(gPowerInfo.online == 1 ? 1 : 0);
    SetCtrlAttribute(gCommPanel, COMMPANEL_TXT_ONLINE, ATTR_VISIBLE, gPowerInfo.online == 1);
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
    // Read as text, like the rest of the box, not as a value in a field.
    SetCtrlVal(gAboutPanel, ABOUTPANEL_NUM_VERSION, AppVersionText());
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

void ReconnectMenuChecked() {
    SetMenuBarAttribute(gMainMenu, MENUBAR_SET_RECONNECT, ATTR_CHECKED, CommReconnectOn());
}

void StockDialogsFollowLanguage() {
    UiSetStockDialogLocale(LanguageIsEnglish() ? "en" : "zh_CN");
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
// working folder made by hand still gets help. Where nothing can show them,
// the operator is told where the pages are.
void CallHelpFile() {
    const char* chm = LanguageIsEnglish() ? "Vx52P_PC_Software_EN.chm" : "Vx52P_PC_Software_CN.chm";
    if (SysHasDocumentViewer(chm) && SysOpenDocument(chm) == 0) {
        return;
    }
    const std::string page =
        std::string("help/") + (LanguageIsEnglish() ? "en" : "cn") + "/index.html";
    const std::string besideProgram = UiProgramDir() + "/" + page;
    int rc = SysOpenDocument(page.c_str());
    std::string shown = page;
    if (rc == ENOENT) {
        rc = SysOpenDocument(besideProgram.c_str());
        shown = besideProgram;
    }
    if (rc == 0) {
        return;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(shown, error);
    const std::string where = error ? shown : absolute.lexically_normal().string();
    MessagePopup(LanguageMessage(TEXT_HELP_TITLE).c_str(),
                 (LanguageMessage(TEXT_HELP_NO_VIEWER) + "\n" + where).c_str());
}

std::string SettingsRefusalText(const SettingsReport& report) {
    switch (report.refusal) {
    case SETTINGS_MISSING:
    case SETTINGS_UNREADABLE:
        return LanguageMessage(
            TEXT_WHY_UNREADABLE,
            {{"reason", LanguageReasonText(report.error != 0 ? report.error : ENOENT)}});
    case SETTINGS_EMPTY:
        return LanguageMessage(TEXT_WHY_EMPTY);
    case SETTINGS_NOT_TEXT:
        return LanguageMessage(TEXT_WHY_NOT_TEXT);
    case SETTINGS_OTHER_KIND:
        return LanguageMessage(TEXT_WHY_OTHER_KIND, {{"type", std::to_string(report.kind)}});
    case SETTINGS_NO_KIND:
    case SETTINGS_READ:
        break;
    }
    return LanguageMessage(TEXT_WHY_NO_KIND);
}

std::string SettingsWriteFailureText(SettingsWrite what, const char* path, int error) {
    static const int kItems[] = {TEXT_WRITE_SAVED_OUTPUT, TEXT_WRITE_LINK_DIALOG,
                                 TEXT_WRITE_EXIT_AUTOSAVE, TEXT_WRITE_EXIT_SOFTSET,
                                 TEXT_WRITE_REMOTE_DIALOG};
    return LanguageMessage(kItems[what], {{"file", path}, {"reason", LanguageReasonText(error)}});
}

void ShowSettingsWriteFailure(const std::string& text) {
    LanguageWarningPopup(text);
}
