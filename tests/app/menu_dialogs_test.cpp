// The menu, the link-settings dialog, the about box, the wait popup and the
// connect button, on the real window.
#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <string>

#include "UiTestSupport.h"
#include "app/MenuDialogs.h"
#include "app/Shell.h"
#include "app/Vx52PSoftUi.h"
#include "link/Scheduler.h"
#include "persist/SettingsFiles.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"

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

TEST_F(MenuDialogsTest, FailedSaveIsReportedInTheOperatorsLanguage) {
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    popups_.filePath = scratch_->path() + "/no-such-folder/x.52P";
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_SAVE);
    ASSERT_EQ(1u, popups_.messages.size());
    EXPECT_EQ(0u, popups_.messages[0].find("出错|"));
    gPowerInfo.language = 1;
    UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_SAVE);
    ASSERT_EQ(2u, popups_.messages.size());
    EXPECT_EQ(0u, popups_.messages[1].find("Error|The output settings could not be saved"));
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
    EXPECT_EQ(0, gPowerInfo.online);
    // The automatic attempt at start-up stays silent.
    gFirstConnect = 1;
    CommConnectDeal(1);
    gFirstConnect = 0;
    EXPECT_EQ(2u, popups_.messages.size());
}

TEST_F(MenuDialogsTest, HelpWithoutDocumentsIsIgnored) {
    UiTriggerMenuItem(gMainMenu, MENUBAR_HELP_HELP);
    EXPECT_TRUE(popups_.messages.empty());
}

} // namespace
