// The menu, the link-settings dialog, the about box, the wait popup and the
// connect button, on the real window.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "UiTestSupport.h"
#include "app/MenuDialogs.h"
#include "app/Shell.h"
#include "link/Scheduler.h"
#include "persist/SettingsFiles.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

using vx52test::MainWindowTest;
using vx52test::ScratchDir;

namespace {

class MenuDialogsTest : public MainWindowTest {
  protected:
    std::string Caption(int control) {
        std::string s;
        GetCtrlVal(gMainPanel, control, &s);
        return s;
    }
    int Checked(int item) {
        int v = -1;
        GetMenuBarAttribute(gMainMenu, item, ATTR_CHECKED, &v);
        return v;
    }
    int CommDimmed(int control) {
        int v = -1;
        GetCtrlAttribute(gCommPanel, control, ATTR_DIMMED, &v);
        return v;
    }
    bool PanelShown(int panel) {
        int v = 0;
        return GetPanelAttribute(panel, ATTR_VISIBLE, &v) == 0 && v == 1;
    }
    void ClickOn(int panel, int control) {
        auto* w = static_cast<QWidget*>(UiWidgetOfCtrl(panel, control));
        ASSERT_NE(nullptr, w);
        QTest::mouseClick(w, Qt::LeftButton);
    }
};

TEST_F(MenuDialogsTest, LanguageSwitchRelabelsAtOnceAndMovesTheCheckMark) {
    EXPECT_EQ(1, Checked(MENUBAR_SET_LANG_CN));
    EXPECT_EQ(0, Checked(MENUBAR_SET_LANG_EN));
    // Choosing the current language again does nothing: no relabelling.
    SetCtrlVal(gMainPanel, PANEL_TXT_CAPTION1, "marker");
    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_LANG_CN);
    EXPECT_EQ("marker", Caption(PANEL_TXT_CAPTION1));
    EXPECT_EQ(1, Checked(MENUBAR_SET_LANG_CN));

    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_LANG_EN);
    EXPECT_EQ(1, gPowerInfo.language);
    EXPECT_EQ(0, Checked(MENUBAR_SET_LANG_CN));
    EXPECT_EQ(1, Checked(MENUBAR_SET_LANG_EN));
    EXPECT_EQ("Output Settings", Caption(PANEL_TXT_CAPTION1));
    std::string title;
    GetPanelAttribute(gMainPanel, ATTR_TITLE, &title);
    EXPECT_EQ("AC Power Source Control", title);

    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_LANG_CN);
    EXPECT_EQ(0, gPowerInfo.language);
    EXPECT_EQ("输出设置", Caption(PANEL_TXT_CAPTION1));
    // Nothing reaches Set.Dat before OK or shutdown.
    EXPECT_FALSE(ScratchDir::Exists(SOFTSET_FILE));
}

TEST_F(MenuDialogsTest, LinkDialogWhileConnectedOnlyShowsTheSettings) {
    gPowerInfo.online = 1;
    gPowerInfo.port = 3;
    gPowerInfo.baudRate = 4800;
    gPowerInfo.address = 17;
    gPowerInfo.outputOn = 1;
    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
    ASSERT_GT(gCommPanel, 0);
    EXPECT_TRUE(PanelShown(gCommPanel));
    int v = 0;
    GetCtrlVal(gCommPanel, COMMPANEL_RING_PORT, &v);
    EXPECT_EQ(3, v);
    GetCtrlVal(gCommPanel, COMMPANEL_RING_BAUD, &v);
    EXPECT_EQ(4800, v);
    GetCtrlVal(gCommPanel, COMMPANEL_NUM_ADDRESS, &v);
    EXPECT_EQ(17, v);
    for (int c : {COMMPANEL_NUM_ADDRESS, COMMPANEL_RING_PORT, COMMPANEL_RING_DEVICE,
                  COMMPANEL_RING_BAUD, COMMPANEL_BT_OK}) {
        EXPECT_EQ(1, CommDimmed(c)) << c;
    }
    EXPECT_EQ(0, CommDimmed(COMMPANEL_BT_CANCEL));
    const int dialog = gCommPanel;
    ClickOn(gCommPanel, COMMPANEL_BT_CANCEL);
    EXPECT_FALSE(PanelShown(dialog));
    EXPECT_EQ(1, gPowerInfo.outputOn);
    gPowerInfo.online = 0; // nothing was opened
}

TEST_F(MenuDialogsTest, CancelWhileDisconnectedClearsTheOutputState) {
    gPowerInfo.outputOn = 1;
    RefreshOutputState();
    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
    EXPECT_EQ(0, CommDimmed(COMMPANEL_BT_OK));
    ClickOn(gCommPanel, COMMPANEL_BT_CANCEL);
    EXPECT_EQ(0, gPowerInfo.outputOn);
    EXPECT_EQ(0, gPowerInfo.alarm);
    EXPECT_EQ(1, Visible(PANEL_TXT_STOPPED));
}

TEST_F(MenuDialogsTest, OkTakesTheDialogValuesAndWritesSetDatAtOnce) {
    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
    SetCtrlVal(gCommPanel, COMMPANEL_RING_PORT, 4);
    SetCtrlVal(gCommPanel, COMMPANEL_RING_BAUD, 2400);
    SetCtrlVal(gCommPanel, COMMPANEL_NUM_ADDRESS, 200);
    const int dialog = gCommPanel;
    ClickOn(gCommPanel, COMMPANEL_BT_OK);
    EXPECT_FALSE(PanelShown(dialog));
    EXPECT_EQ(4, gPowerInfo.port);
    EXPECT_EQ(2400, gPowerInfo.baudRate);
    EXPECT_EQ(200, gPowerInfo.address);
    EXPECT_EQ("[FileInfo]\r\nType = 128\r\n\r\n[Value]\r\nSoftwareAddress = 200\r\n"
              "CommTypeRS232Port = 4\r\nCommTypeRS232Baudrate = 2400\r\nLanguage = 0\r\n\r\n",
              ScratchDir::ReadFile(SOFTSET_FILE));
}

TEST_F(MenuDialogsTest, LinkDialogCloseBoxDiscardsIt) {
    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
    const int dialog = gCommPanel;
    auto* w = static_cast<QWidget*>(UiWidgetOfPanel(dialog));
    ASSERT_NE(nullptr, w);
    w->close();
    EXPECT_FALSE(PanelShown(dialog));
    EXPECT_EQ(nullptr, UiWidgetOfPanel(dialog));
}

TEST_F(MenuDialogsTest, SaveAndLoadThroughTheFileDialog) {
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    popups_.filePath = scratch_->path() + "/bench.52P";
    gNormal52PSet.vol = 1200;
    gNormal52PSet.freq = 600;
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_SAVE);
    ASSERT_EQ(1u, popups_.fileButtons.size());
    EXPECT_EQ(VAL_SAVE_BUTTON, popups_.fileButtons[0]);
    const std::string saved = ScratchDir::ReadFile(popups_.filePath);
    EXPECT_NE(std::string::npos, saved.find("Vol = 1200\r\n"));
    EXPECT_TRUE(popups_.messages.empty());

    // Loading while disconnected shows the file and queues nothing.
    gNormal52PSet.vol = 2300;
    popups_.fileStatus = VAL_EXISTING_FILE_SELECTED;
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOAD);
    EXPECT_EQ(VAL_LOAD_BUTTON, popups_.fileButtons[1]);
    EXPECT_EQ(1200, gNormal52PSet.vol);
    EXPECT_DOUBLE_EQ(120.0, Value(PANEL_NUM_VOL));
    EXPECT_EQ(0, gCommNewCmd.count);

    // While connected it also sends the settings.
    gPowerInfo.online = 1;
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOAD);
    ASSERT_EQ(1, gCommNewCmd.count);
    EXPECT_EQ(90, gCommNewCmd.cmd[0]);
    EXPECT_EQ(33, gCommNewCmd.subCmd[0]);
    gPowerInfo.online = 0;

    // A cancelled dialog does nothing.
    popups_.fileStatus = VAL_NO_FILE_SELECTED;
    gNormal52PSet.vol = 2300;
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOAD);
    EXPECT_EQ(2300, gNormal52PSet.vol);
}

// Every failed write is a warning in the language in force that names the
// file and the system's reason; ending from a signal, a line on stderr instead.
TEST_F(MenuDialogsTest, FailedWritesAreWarningsNamingFileAndReason) {
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    popups_.filePath = scratch_->path() + "/no-such-folder/x.52P";
    std::filesystem::create_directory(SOFTSET_FILE);
    std::filesystem::create_directory(AUTOSAVE_FILE);
    const std::vector<std::vector<std::string>> named = {
        {popups_.filePath + "|No such file or directory"},             // menu save
        {"Set.Dat|Is a directory"},                                    // link-settings OK
        {"AutoSave52P.52P|Is a directory", "Set.Dat|Is a directory"}}; // shutdown
    for (int language : {0, 1}) {
        SCOPED_TRACE(language);
        gPowerInfo.language = language;
        popups_.messages.clear();
        popups_.warned.clear();
        UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_SAVE);
        UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
        ClickOn(gCommPanel, COMMPANEL_BT_OK);
        AppSaveSettingsOnExit(0);
        ASSERT_EQ(3u, popups_.messages.size());
        EXPECT_EQ(std::vector<bool>(3, true), popups_.warned);
        for (size_t i = 0; i < named.size(); ++i) {
            const std::string& m = popups_.messages[i];
            EXPECT_EQ(0u, m.find(language == 1 ? "Warning|" : "警告|")) << m;
            for (std::string fileAndReason : named[i]) {
                fileAndReason.replace(fileAndReason.find('|'), 1, language == 1 ? "\": " : "”：");
                EXPECT_NE(std::string::npos, m.find(fileAndReason)) << m;
            }
        }
    }
    popups_.messages.clear();
    testing::internal::CaptureStderr();
    AppSaveSettingsOnExit(1);
    EXPECT_EQ("Vx52PSoft: The output settings could not be saved to \"AutoSave52P.52P\": Is a "
              "directory. The next start will not show them.\nVx52PSoft: The link and language "
              "settings could not be saved to \"Set.Dat\": Is a directory. The next start will "
              "not use them.\n",
              testing::internal::GetCapturedStderr());
    EXPECT_TRUE(popups_.messages.empty());
}

// Saved files carry the extension the load dialog lists, in any case.
TEST_F(MenuDialogsTest, SavedNamesGetTheExtension) {
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    const std::pair<const char*, const char*> names[] = {
        {"bench", "bench.52P"}, {"b2.52p", "b2.52p"}, {"b3.txt", "b3.txt.52P"}};
    for (auto [chosen, written] : names) {
        popups_.filePath = scratch_->path() + "/" + chosen;
        UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_SAVE);
        EXPECT_TRUE(ScratchDir::Exists(scratch_->path() + "/" + written)) << chosen;
    }
    EXPECT_FALSE(ScratchDir::Exists(scratch_->path() + "/bench"));
    EXPECT_TRUE(popups_.messages.empty());

    // The dialog never asked about the longer name: replacing it is asked first.
    ScratchDir::WriteFile("b3.txt.52P", "mine");
    popups_.filePath = scratch_->path() + "/b3.txt";
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_SAVE);
    EXPECT_EQ("mine", ScratchDir::ReadFile("b3.txt.52P"));
    ASSERT_EQ(1u, popups_.confirms.size());
    EXPECT_EQ("警告|“" + popups_.filePath + ".52P”已存在，是否将输出设置保存到该文件？",
              popups_.confirms[0]);

    // No room left for the extension: refused, never cut.
    gPowerInfo.language = 1;
    popups_.filePath = scratch_->path() + "/";
    popups_.filePath += std::string(MAX_PATHNAME_LEN - 4 - popups_.filePath.size(), 'n');
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_SAVE);
    ASSERT_EQ(1u, popups_.messages.size());
    EXPECT_EQ(0u, popups_.messages[0].find("Warning|The file name is too long"));
    for (const auto& entry : std::filesystem::directory_iterator(scratch_->path())) {
        EXPECT_NE('n', entry.path().filename().string()[0]) << entry.path();
    }
}

// The source may start while the load dialog is open: then nothing is loaded
// and nothing reaches it.
TEST_F(MenuDialogsTest, LoadIsRefusedWhenTheOutputStartedBehindTheDialog) {
    ScratchDir::WriteFile("x.52P", "[FileInfo]\r\nType = 65\r\n[Value]\r\nVol = 1200\r\n");
    popups_.fileStatus = VAL_EXISTING_FILE_SELECTED;
    popups_.filePath = scratch_->path() + "/x.52P";
    popups_.whileFileDialogOpen = [] { gPowerInfo.outputOn = 1; };
    gPowerInfo.online = 1;
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOAD);
    gPowerInfo.online = 0;
    EXPECT_EQ(2200, gNormal52PSet.vol);
    EXPECT_EQ(0, gCommNewCmd.count);
    ASSERT_EQ(1u, popups_.messages.size());
    EXPECT_EQ(0u, popups_.messages[0].find("警告|输出运行中，设置文件未载入"));
}

TEST_F(MenuDialogsTest, SaveAndLoadCannotBeChosenWhileRunning) {
    gPowerInfo.outputOn = 1;
    RefreshOutputState();
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    popups_.filePath = scratch_->path() + "/x.52P";
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_SAVE);
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOAD);
    EXPECT_TRUE(popups_.fileButtons.empty());
}

TEST_F(MenuDialogsTest, AboutBoxShowsVersionAndClosesWithOk) {
    gPowerInfo.language = 1;
    UiTriggerMenuItem(gMainMenu, MENUBAR_HELP_ABOUT);
    ASSERT_GT(gAboutPanel, 0);
    double version = 0;
    GetCtrlVal(gAboutPanel, ABOUTPANEL_NUM_VERSION, &version);
    EXPECT_DOUBLE_EQ(1.0, version);
    std::string title;
    GetPanelAttribute(gAboutPanel, ATTR_TITLE, &title);
    EXPECT_EQ("About", title);
    std::string line;
    GetCtrlVal(gAboutPanel, ABOUTPANEL_TXT_TITLE, &line);
    EXPECT_EQ("AC Power Source Control", line);
    const int about = gAboutPanel;
    ClickOn(gAboutPanel, ABOUTPANEL_BT_OK);
    EXPECT_FALSE(PanelShown(about));
}

TEST_F(MenuDialogsTest, WaitPopupShowsOnceAndHidesOnce) {
    DisplayPanelWait(0); // not shown: nothing happens
    EXPECT_EQ(0, gPowerInfo.waitShown);
    DisplayPanelWait(1);
    const int first = gWaitPanel;
    DisplayPanelWait(1);
    EXPECT_EQ(first, gWaitPanel);
    EXPECT_EQ(1, gPowerInfo.waitShown);
    EXPECT_TRUE(PanelShown(first));
    DisplayPanelWait(0);
    EXPECT_EQ(0, gPowerInfo.waitShown);
    EXPECT_FALSE(PanelShown(first));
}

TEST_F(MenuDialogsTest, ConnectButtonReportsAMissingPortInTheLanguage) {
    // A dangling link: the port exists by name but cannot be opened.
    std::filesystem::create_symlink("/nonexistent/tty", "COM7");
    gPowerInfo.port = 7;
    gPowerInfo.baudRate = 9600;
    gPowerInfo.address = 1;
    Click(PANEL_BT_CONNECT);
    ASSERT_EQ(1u, popups_.messages.size());
    EXPECT_EQ("出错|通讯端口打开错误，请重新选择端口！", popups_.messages[0]);
    gPowerInfo.language = 1;
    Click(PANEL_BT_CONNECT);
    ASSERT_EQ(2u, popups_.messages.size());
    EXPECT_EQ("Error|Open port error. Please reset.", popups_.messages[1]);
    EXPECT_EQ(std::vector<bool>(2, true), popups_.warned);
    EXPECT_EQ(0, gPowerInfo.online);
    // The automatic attempt at start-up stays silent.
    gFirstConnect = 1;
    CommConnectDeal(1);
    gFirstConnect = 0;
    EXPECT_EQ(2u, popups_.messages.size());
}

// What the help item handed to the desktop, instead of a viewer opening.
std::vector<std::string> gOpened;
int gOpenResult = 0;
int RecordOpen(const char* path) {
    gOpened.push_back(path);
    return gOpenResult;
}

// The desktop as xdg-mime sees it: what the test puts under root, not what this
// machine has installed; only the system's database of file types stays.
class ScratchDesktop {
  public:
    explicit ScratchDesktop(const std::string& root) : root_(root) {
        namespace fs = std::filesystem;
        fs::create_directories(root + "/system");
        const char* dirs = std::getenv("XDG_DATA_DIRS");
        std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
        for (size_t from = 0; from <= list.size();) {
            const size_t to = std::min(list.find(':', from), list.size());
            const fs::path mime = fs::path(list.substr(from, to - from)) / "mime";
            if (fs::exists(mime / "mime.cache")) {
                fs::create_directory_symlink(mime, root + "/system/mime");
                break;
            }
            from = to + 1;
        }
        Set("XDG_DATA_HOME", (root + "/data").c_str());
        Set("XDG_DATA_DIRS", (root + "/system").c_str());
        Set("XDG_CONFIG_HOME", (root + "/config").c_str());
        Set("XDG_CONFIG_DIRS", (root + "/none").c_str());
        for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                                 "GNOME_DESKTOP_SESSION_ID", "DISPLAY"}) {
            Set(name, nullptr);
        }
        std::filesystem::create_directories(root + "/data/applications");
    }
    ~ScratchDesktop() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            it->second ? setenv(it->first.c_str(), it->second->c_str(), 1)
                       : unsetenv(it->first.c_str());
        }
    }
    void RegisterViewer(const char* mimeType) {
        ScratchDir::WriteFile(root_ + "/data/applications/chmviewer.desktop",
                              std::string("[Desktop Entry]\nType=Application\nName=Viewer\n"
                                          "Exec=true %f\nMimeType=") +
                                  mimeType + ";\n");
    }

  private:
    void Set(const char* name, const char* value) { // nullptr unsets
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    std::string root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class HelpTest : public MenuDialogsTest {
  protected:
    void SetUp() override {
        MenuDialogsTest::SetUp();
        gOpened.clear();
        gOpenResult = 0;
        SysSetDocumentOpener(RecordOpen);
    }
    void TearDown() override {
        SysSetDocumentOpener(nullptr);
        MenuDialogsTest::TearDown();
    }
};

// The compiled help where the desktop has a viewer for it (registered under
// the type's name or its older alias), the HTML pages of the language in force
// where it has none or the compiled help is missing, and the pages beside the
// program when the working folder has none.
TEST_F(HelpTest, OpensTheCompiledHelpWhereAViewerIsRegisteredElseTheHtml) {
    namespace fs = std::filesystem;
    struct Case {
        const char* what;
        int language;
        const char* viewerType; // nullptr: no viewer
        bool chmHere;
        bool htmlHere;
        const char* expected; // "@/..." beside the program, else in the working folder
    } const cases[] = {
        {"viewer, English", 1, "application/vnd.ms-htmlhelp", true, true,
         "Vx52P_PC_Software_EN.chm"},
        {"viewer by alias, Chinese", 0, "application/x-chm", true, true,
         "Vx52P_PC_Software_CN.chm"},
        {"no viewer, English", 1, nullptr, true, true, "help/en/index.html"},
        {"viewer, Chinese help missing", 0, "application/vnd.ms-htmlhelp", false, true,
         "help/cn/index.html"},
        {"no viewer, no HTML here", 1, nullptr, true, false, "@/help/en/index.html"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string work = scratch_->path() + "/" + std::to_string(&c - cases);
        fs::create_directories(work);
        ASSERT_EQ(0, chdir(work.c_str()));
        ScratchDesktop desktop(work + "/desktop");
        if (c.viewerType) {
            desktop.RegisterViewer(c.viewerType);
        }
        if (c.chmHere) {
            ScratchDir::WriteFile(
                c.language ? "Vx52P_PC_Software_EN.chm" : "Vx52P_PC_Software_CN.chm", "ITSF");
        }
        if (c.htmlHere) {
            const std::string folder = c.language ? "help/en" : "help/cn";
            fs::create_directories(folder);
            ScratchDir::WriteFile(folder + "/index.html", "<html></html>");
        }
        gPowerInfo.language = c.language;
        gOpened.clear();
        UiTriggerMenuItem(gMainMenu, MENUBAR_HELP_HELP);
        const std::string expected = c.expected[0] == '@'
                                         ? UiProgramDir() + std::string(c.expected + 1)
                                         : work + "/" + c.expected;
        ASSERT_EQ(1u, gOpened.size());
        EXPECT_TRUE(fs::equivalent(expected, gOpened[0])) << gOpened[0];
    }
    ASSERT_EQ(0, chdir(scratch_->path().c_str()));
}

// Where nothing on the desktop can show the help, the operator learns where
// the pages are, in the language in force.
TEST_F(HelpTest, HelpThatCannotBeOpenedSaysWhereThePagesAre) {
    gOpenResult = EIO;
    for (int language : {1, 0}) {
        gPowerInfo.language = language;
        popups_.messages.clear();
        UiTriggerMenuItem(gMainMenu, MENUBAR_HELP_HELP);
        ASSERT_EQ(1u, popups_.messages.size());
        const std::string pages = std::filesystem::path(UiProgramDir() + "/help/" +
                                                        (language ? "en" : "cn") + "/index.html")
                                      .lexically_normal()
                                      .string();
        EXPECT_EQ((language ? "Help|No program to show the help was found. The help pages (HTML) "
                              "are in:\n"
                            : "帮助|未找到可显示帮助的程序。帮助页面（HTML）位于：\n") +
                      pages,
                  popups_.messages[0]);
    }
}

} // namespace
