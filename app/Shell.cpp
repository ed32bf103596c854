// Start-up in its fixed order, the screen check and the one shutdown path.
#include "app/Shell.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/LinkArea.h"
#include "app/LinkMonitor.h"
#include "app/LinkWindow.h"
#include "app/MenuDialogs.h"
#include "app/QuitQuestion.h"
#include "app/Recording.h"
#include "app/RemoteControl.h"
#include "app/SequenceWindow.h"
#include "app/Sequencing.h"
#include "app/Tick.h"
#include "charts/Charts.h"
#include "link/PortUart.h"
#include "link/Scheduler.h"
#include "persist/Language.h"
#include "persist/SettingsFiles.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/FrontPanel.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "remote/RemoteServer.h"
#include "ui/Vx52PSoftUi.h"

int hMutex = 0;
int gFirstConnect = 0;
DateTime gDateTimeLast{};
DateTime gDateTimeNow{};

namespace {

constexpr const char* kInstanceGuardName = "Vx52PSoftOnlyOneInstance";

// A second copy knocked: the operator looks for this window.
void RaiseMainWindow() {
    RaisePanel(gMainPanel);
}

// Taken by the copy that runs, knocked at by a second copy: one name for both.
// One copy per working folder: the name carries the folder (as the system
// resolves it, so two paths to one folder meet), and copies in folders of
// their own drive sources of their own side by side.
std::string InstanceGuardName() {
    std::error_code error;
    const std::string folder = std::filesystem::canonical(".", error).string();
    uint64_t hash = 14695981039346656037ull; // FNV-1a: fits any path in the name's 107 bytes
    for (const unsigned char c : folder) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char hex[20];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(kInstanceGuardName) + "/" + hex;
}

// Start-up ends with 255 in many ways; from a terminal or a launcher's log the
// operator can only tell them apart by this one line.
void SayStartFailure(const std::string& what) {
    std::fprintf(stderr, "Vx52PSoft: %s\n", what.c_str());
}

std::string LayoutObjectName(int resourceId) {
    for (const UiLayoutName& entry : kVx52LayoutNames) {
        if (entry.id == resourceId && entry.resourceId == resourceId) {
            return entry.objectName;
        }
    }
    return std::to_string(resourceId);
}

// Passes a load's handle through, saying what went wrong when it failed.
int Loaded(int handle, int resourceId) {
    if (handle >= 0) {
        return handle;
    }
    const std::string path = UiLayoutPath(UIR_FILE);
    switch (handle) {
    case UIE_FILE_NOT_FOUND:
        SayStartFailure("the layout resource " + path + " is missing");
        break;
    case UIE_BAD_FILE:
        SayStartFailure("the layout resource " + path + " cannot be read");
        break;
    case UIE_RESOURCE_NOT_FOUND:
        SayStartFailure(LayoutObjectName(resourceId) + " is missing from the layout resource " +
                        path);
        break;
    default:
        SayStartFailure("cannot load " + LayoutObjectName(resourceId) + " from " + path +
                        " (error " + std::to_string(handle) + ")");
        break;
    }
    return handle;
}

// The errno that stands for a failed load: something missing, or unreadable.
int LoadFailure(int handle) {
    return handle == UIE_FILE_NOT_FOUND || handle == UIE_RESOURCE_NOT_FOUND ? ENOENT : EIO;
}

// Set while a shutdown runs; its warning box lets events, and so a signal, in.
bool sShuttingDown = false;

void ExitMainPanelFrom(bool signalled) {
    // A test run stops its output and writes its report first; it calls the
    // shutdown again when it has.
    if (!sShuttingDown && SequencingMayClose(signalled ? 1 : 0) == 0) {
        return;
    }
    if (sShuttingDown) {
        // A signal while the shutdown's own warning is up must not wait for the
        // operator: ending the event loops closes the box, and the shutdown
        // already under way completes.
        if (signalled) {
            QuitUserInterface(0);
        }
        return;
    }
    sShuttingDown = true;
    RecordingExit();
    AppSaveSettingsOnExit(signalled ? 1 : 0);
    if (gPowerInfo.online != 0) {
        CommConnectDeal(0);
    }
    RemoteServerStop();
    RecordingStop();
    SysCloseNamedGuard(hMutex);
    hMutex = 0;
    SysRestoreScreenMode();
    QuitUserInterface(0);
    sShuttingDown = false;
}

// A signal that comes while the window opens and the first connect runs waits
// for the main loop: the shutdown quits a loop, and none runs yet.
bool sMainLoopRunning = false;
bool sSignalWaiting = false;

void OnTerminationSignal() {
    if (!sMainLoopRunning) {
        sSignalWaiting = true;
        return;
    }
    ExitMainPanelOnSignal();
}

void SignalThatWaited(void*) {
    ExitMainPanelOnSignal();
}

} // namespace

void AppRegisterUi() {
    // Once per process, so a caller may replace a callback by name afterwards.
    static bool registered = false;
    if (registered) {
        return;
    }
    registered = true;
    UiRegisterLayoutNames(kVx52LayoutNames, kVx52LayoutNameCount);
    UiRegisterPanelCallback("MAIN_PANEL_CALLBACK", MAIN_PANEL_CALLBACK);
    UiRegisterCtrlCallback("TIMER_50MS_CALLBACK", TIMER_50MS_CALLBACK);
    UiRegisterCtrlCallback("PIC_LOGO_CALLBACK", PIC_LOGO_CALLBACK);
    UiRegisterMenuCallback("MAIN_MENU_ITEM_CALLBACK", MAIN_MENU_ITEM_CALLBACK);
    UiRegisterCtrlCallback("BT_COMM_CONNECT_CALLBACK", BT_COMM_CONNECT_CALLBACK);
    UiRegisterCtrlCallback("BT_STOP_RETRY_CALLBACK", BT_STOP_RETRY_CALLBACK);
    UiRegisterCtrlCallback("BT_COMMSET_OK_CALLBACK", BT_COMMSET_OK_CALLBACK);
    UiRegisterCtrlCallback("BT_COMMSET_CANCEL_CALLBACK", BT_COMMSET_CANCEL_CALLBACK);
    UiRegisterPanelCallback("COMM_PANEL_CALLBACK", COMM_PANEL_CALLBACK);
    UiRegisterCtrlCallback("RING_COMMSET_PORT_CALLBACK", RING_COMMSET_PORT_CALLBACK);
    UiRegisterCtrlCallback("BT_ABOUT_OK_CALLBACK", BT_ABOUT_OK_CALLBACK);
    UiRegisterPanelCallback("ABOUTPANEL_CALLBACK", ABOUTPANEL_CALLBACK);
    UiRegisterCtrlCallback("SCHART_MEA_R1_CALLBACK", SCHART_MEA_R1_CALLBACK);
    UiRegisterCtrlCallback("SCHART_MEA_R2_CALLBACK", SCHART_MEA_R2_CALLBACK);
    UiRegisterCtrlCallback("SCHART_MEA_R3_CALLBACK", SCHART_MEA_R3_CALLBACK);
    UiRegisterCtrlCallback("SCHART_MEA_R4_CALLBACK", SCHART_MEA_R4_CALLBACK);
    UiRegisterPanelCallback("LINKMONPANEL_CALLBACK", LINKMONPANEL_CALLBACK);
    UiRegisterCtrlCallback("BT_LINKMON_PAUSE_CALLBACK", BT_LINKMON_PAUSE_CALLBACK);
    UiRegisterCtrlCallback("BT_LINKMON_CLEAR_CALLBACK", BT_LINKMON_CLEAR_CALLBACK);
    UiRegisterCtrlCallback("BT_LINKMON_SAVE_CALLBACK", BT_LINKMON_SAVE_CALLBACK);
    UiRegisterCtrlCallback("BT_LINKMON_CLOSE_CALLBACK", BT_LINKMON_CLOSE_CALLBACK);
    FrontPanelRegisterCallbacks();
    RemoteControlRegisterCallbacks();
    SequenceWindowRegisterCallbacks();
    // What hangs off the link: the window it draws on, the link area's news,
    // the data log, the monitor.
    LinkWindowInstall();
    LinkAreaInstall();
    RecordingInstall();
    LinkMonitorInstall();
    QuitQuestionInstall();
    // Last: a stop it sends for a failed limit clears the measurement.
    SequencingInstall();
}

int AppLoadAndShowPanels() {
    AppRegisterUi();
    gMainPanel = Loaded(LoadPanel(0, UIR_FILE, PANEL), PANEL);
    if (gMainPanel < 0) {
        return LoadFailure(gMainPanel);
    }
    gCommPanel = Loaded(LoadPanel(0, UIR_FILE, COMMPANEL), COMMPANEL);
    if (gCommPanel < 0) {
        return LoadFailure(gCommPanel);
    }
    gWaitPanel = Loaded(LoadPanel(0, UIR_FILE, WAITPANEL), WAITPANEL);
    if (gWaitPanel < 0) {
        return LoadFailure(gWaitPanel);
    }
    gMainMenu = Loaded(LoadMenuBar(gMainPanel, UIR_FILE, MENUBAR), MENUBAR);
    if (gMainMenu < 0) {
        return LoadFailure(gMainMenu);
    }

    gInifileHandle = nullptr;
    gInifileHandleState = 0;
    gPowerInfo.logoAnimate = 1;
    gPowerInfo.outputOn = 0;
    gPowerInfo.online = 0;

    DateTimeGetNow(&gDateTimeLast);
    DateTimeGetNow(&gDateTimeNow);

    SetPanelPos(gMainPanel, 30, 5);
    DisplayPanel(gMainPanel);

    // A Chinese start keeps the texts the layout was designed with.
    if (LanguageIsEnglish()) {
        SetLanguageEnglish();
        PanelMainLanguageSet();
    } else {
        SetLanguageChinese();
    }

    SetMeasureGraphSpeed(600);
    Data52PSetControlLimits();
    SetNormalMeasureDisplayGraph52P();
    ModelTypeChoose(1);
    // The charts' menus are no part of the layout: a Chinese start needs them too.
    if (gPowerInfo.language != 1) {
        PanelStripChartLanguageSet();
    }
    LinkAreaLanguageSet();
    RecordingMenuDimmed();
    ReconnectMenuChecked();
    return 0;
}

int AppMain(int argc, char* argv[]) {
    if (CommandLineHeadless() != 0) {
        HeadlessStart(CommandLineQuiet());
    }
    if (!UiInitRuntime(argc, argv)) {
        SayStartFailure("cannot start the user interface");
        return -1;
    }

    // Read before the guard so that its warning speaks the stored language.
    SettingsReport softSet;
    FileReadSoftSet(SOFTSET_FILE, &softSet);
    FileReadRemoteSet(SOFTSET_FILE);
    FileReadLinkSet(SOFTSET_FILE);
    // The first boxes (another copy running, the screen check) come before the window.
    StockDialogsFollowLanguage();

    const int guard = SysCreateNamedGuard(InstanceGuardName().c_str(), &hMutex);
    if (guard != 0) {
        SayStartFailure(guard == EEXIST ? "another copy is already running"
                                        : "cannot take the single-instance guard");
        // The copy that runs comes to the front, where the operator looks for it.
        if (guard == EEXIST) {
            SysKnockNamedGuard(InstanceGuardName().c_str());
        }
        if (LanguageIsEnglish()) {
            MessagePopup("Warning", "Application has already opened, please don't open again!");
        } else {
            MessagePopup("警告", "程序已打开，请不要重复启动!");
        }
        return -1;
    }

    // Before the window opens, so that a script waiting for the port learns at
    // once that it will not come.
    if (RemoteControlStartFromCommandLine() != 0) {
        SysCloseNamedGuard(hMutex);
        hMutex = 0;
        return -1;
    }

    // Without a window there is no screen to fit.
    if (HeadlessOn() == 0) {
        CheckScreen();
    }

    CommSetReconnect(gReconnectSetting == 1 && CommandLineNoReconnect() == 0 ? 1 : 0);
    // Nobody can press connect: a first connect that fails is tried again too.
    CommSetRetryAnyConnect(HeadlessOn());

    // From the moment a window can be seen, a logout or kill takes the same
    // path as the close box, so nothing is lost.
    SysOnTerminationSignal(OnTerminationSignal);
    if (AppLoadAndShowPanels() != 0) {
        // X keeps a changed mode after the program has gone, so an early
        // exit gives it back as well.
        SysRestoreScreenMode();
        return -1;
    }
    // On a screen smaller than the window the panel scrolls inside it.
    SetPanelAttribute(gMainPanel, ATTR_FIT_SCREEN, 1);
    // Nothing the source does is known before the link confirms it.
    ShowStateConfirmed(0);
    SysWatchNamedGuard(hMutex, RaiseMainWindow);
    LinkAreaSettingsNote(SOFTSET_FILE, softSet);

    // Before the first connect, so that the log holds it.
    if (!CommandLineLogFile().empty()) {
        const int error = RecordingStart(CommandLineLogFile().c_str());
        if (error != 0) {
            SayStartFailure(RecordingFailureText(false, CommandLineLogFile(), error, true));
            SysRestoreScreenMode();
            return -1;
        }
    }

    // The profile is read before the link opens: one that cannot be run ends
    // an unattended start before anything reaches the source.
    if (SequencingStartFromCommandLine() != 0) {
        RecordingStop();
        SysRestoreScreenMode();
        return -1;
    }

    gFirstConnect = 1;
    CommConnectDeal(1);
    gFirstConnect = 0;
    RemoteControlStartFromSettings();

    sMainLoopRunning = true;
    if (sSignalWaiting) {
        UiPostDeferredCall(SignalThatWaited, nullptr);
    }
    RunUserInterface();

    DiscardPanel(gMainPanel);
    return SequencingExitStatus();
}

void CheckScreen() {
    int width = 0, height = 0, bitsPerPixel = 0, refreshRate = 0;
    if (SysGetScreenMode(&width, &height, &bitsPerPixel, &refreshRate) != 0) {
        return;
    }
    if (width >= 1024 && height >= 768) {
        return;
    }
    int yes = 0;
    if (LanguageIsEnglish()) {
        yes = ConfirmPopup("Tip", "Application run in the minimum resolution 1024 * 768,do you "
                                  "want change the screen resolution ?");
    } else {
        yes = ConfirmPopup("提示", "程序运行最小分辨率为1024 * 768,是否改变屏幕分辨率?");
    }
    if (yes != 1) {
        return;
    }
    // The outcome is ignored: the program runs at whatever mode it gets.
    SysChangeScreenModeTemporary(1024, 768, bitsPerPixel, refreshRate);
}

namespace {

void ExitMainPanelAfterStop() {
    ExitMainPanelFrom(false);
}

} // namespace

void ExitMainPanel() {
    // Already on its way out, once the output has stopped.
    if (QuitStopping() != 0) {
        return;
    }
    // A test run asks its own question and stops the output itself, to write
    // its report.
    if (SequencingRunOn() != 0) {
        ExitMainPanelFrom(false);
        return;
    }
    switch (QuitAskAboutOutput()) {
    case QUIT_CANCEL:
        return;
    case QUIT_STOP_FIRST:
        QuitAfterStoppingOutput(ExitMainPanelAfterStop);
        return;
    case QUIT_GO_ON:
        break;
    }
    ExitMainPanelFrom(false);
}

void ExitMainPanelOnSignal() {
    ExitMainPanelFrom(true);
}

void ExitMainPanelUnasked() {
    ExitMainPanelFrom(false);
}

void AppSaveSettingsOnExit(int fromSignal) {
    int autoSaveError = 0;
    int softSetError = 0;
    if (AutoSaveSetting(&autoSaveError, &softSetError) == 1) {
        return;
    }
    const struct {
        SettingsWrite what;
        const char* path;
        int error;
    } writes[] = {{WRITE_EXIT_AUTOSAVE, AUTOSAVE_FILE, autoSaveError},
                  {WRITE_EXIT_SOFTSET, SOFTSET_FILE, softSetError}};
    std::string text;
    for (const auto& w : writes) {
        if (w.error == 0) {
            continue;
        }
        const std::string line = SettingsWriteFailureText(w.what, w.path, w.error);
        // Ending from a signal, nobody may be there to close a box.
        if (fromSignal != 0) {
            std::fprintf(stderr, "Vx52PSoft: %s\n", line.c_str());
            continue;
        }
        text += (text.empty() ? "" : "\n\n") + line;
    }
    if (!text.empty()) {
        ShowSettingsWriteFailure(text);
    }
}

int MAIN_PANEL_CALLBACK(int, int event, void*, int, int) {
    if (event == EVENT_CLOSE) {
        ExitMainPanel();
    }
    return 0;
}
