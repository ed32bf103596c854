// The link dialog's device list, on the real dialog with a scratch tree in
// place of /dev: the devices present are offered, and OK makes "COM<N>" lead
// to the chosen one, asking before anything but a link is replaced.
#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "UiTestSupport.h"
#include "app/MenuDialogs.h"
#include "app/Shell.h"
#include "app/Vx52PSoftUi.h"
#include "persist/SettingsFiles.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"

namespace fs = std::filesystem;
using vx52test::MainWindowTest;
using vx52test::ScratchDir;
using vx52test::ScreenshotDir;

namespace {

class LinkDeviceTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        root_ = scratch_->path() + "/machine";
        fs::create_directories(root_ + "/dev/serial/by-id");
        ScratchDir::WriteFile(root_ + "/dev/ttyUSB0", "");
        ScratchDir::WriteFile(root_ + "/dev/ttyS0", "");
        fs::create_symlink("../../ttyUSB0",
                           root_ +
                               "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        byId_ = root_ + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
        setenv("VX52_SYSTEM_ROOT", root_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VX52_SYSTEM_ROOT");
        MainWindowTest::TearDown();
    }
    static bool DialogShown() {
        int v = 0;
        return GetPanelAttribute(gCommPanel, ATTR_VISIBLE, &v) == 0 && v == 1;
    }
    // Opens the dialog, picks a port and a device (its value; "" keeps the name) and presses OK.
    void ChooseAndConfirm(int port, const std::string& device) {
        if (!DialogShown()) {
            UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
        }
        SetCtrlVal(gCommPanel, COMMPANEL_RING_PORT, port);
        ASSERT_EQ(0, SetCtrlVal(gCommPanel, COMMPANEL_RING_DEVICE, device.c_str()));
        QTest::mouseClick(static_cast<QWidget*>(UiWidgetOfCtrl(gCommPanel, COMMPANEL_BT_OK)),
                          Qt::LeftButton);
    }
    std::string root_;
    std::string byId_;
};

TEST_F(LinkDeviceTest, ListsTheDevicesPresentAfterTheEntryThatKeepsTheName) {
    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
    int count = 0;
    GetNumListItems(gCommPanel, COMMPANEL_RING_DEVICE, &count);
    EXPECT_EQ(3, count);
    std::string label;
    GetLabelFromIndex(gCommPanel, COMMPANEL_RING_DEVICE, 0, &label);
    EXPECT_EQ("（保持不变）", label);
    GetLabelFromIndex(gCommPanel, COMMPANEL_RING_DEVICE, 1, &label);
    EXPECT_EQ("ttyUSB0  (usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0)", label);
    GetLabelFromIndex(gCommPanel, COMMPANEL_RING_DEVICE, 2, &label);
    EXPECT_EQ("ttyS0", label);
    SetCtrlVal(gCommPanel, COMMPANEL_RING_DEVICE, byId_.c_str());
    EXPECT_EQ(0, UiSavePanelImage(gCommPanel,
                                  (ScreenshotDir() + "/link-settings-device-cn.png").c_str()));
    DisplayPanelCommSet(0);

    // While connected it only shows, like the other settings.
    gPowerInfo.online = 1;
    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
    int dimmed = 0;
    GetCtrlAttribute(gCommPanel, COMMPANEL_RING_DEVICE, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(1, dimmed);
    gPowerInfo.online = 0;
}

TEST_F(LinkDeviceTest, OkLinksThePortNameAndAsksBeforeReplacingAnythingElse) {
    // Kept name: nothing is made.
    ChooseAndConfirm(5, "");
    EXPECT_FALSE(fs::exists(fs::symlink_status("COM5")));
    EXPECT_EQ(5, gPowerInfo.port);

    // A link there is simply renewed; the by-id name is what it leads to.
    fs::create_symlink("/dev/pts/77", "COM3");
    ChooseAndConfirm(3, byId_);
    EXPECT_FALSE(DialogShown());
    EXPECT_EQ(byId_, fs::read_symlink("COM3").string());
    EXPECT_EQ(3, gPowerInfo.port);
    EXPECT_TRUE(popups_.confirms.empty());

    // The operator's own file: asked; No keeps it and the dialog, nothing taken.
    ScratchDir::WriteFile("COM4", "notes");
    fs::remove(SOFTSET_FILE);
    popups_.confirmAnswer = 0;
    ChooseAndConfirm(4, root_ + "/dev/ttyS0");
    ASSERT_EQ(1u, popups_.confirms.size());
    EXPECT_NE(std::string::npos, popups_.confirms[0].find("COM4"));
    EXPECT_EQ("notes", ScratchDir::ReadFile("COM4"));
    EXPECT_TRUE(DialogShown());
    EXPECT_EQ(3, gPowerInfo.port);
    EXPECT_FALSE(ScratchDir::Exists(SOFTSET_FILE));
    // Yes replaces it.
    popups_.confirmAnswer = 1;
    ChooseAndConfirm(4, root_ + "/dev/ttyS0");
    EXPECT_EQ(root_ + "/dev/ttyS0", fs::read_symlink("COM4").string());
    EXPECT_EQ(4, gPowerInfo.port);

    // A link that cannot be made is said, in the language, and the dialog stays.
    gPowerInfo.language = 1;
    fs::create_directory("COM6");
    ScratchDir::WriteFile("COM6/kept", "");
    ChooseAndConfirm(6, byId_);
    ASSERT_EQ(1u, popups_.messages.size());
    EXPECT_EQ(0u, popups_.messages[0].find("Error|\"COM6\" could not be made a link to "));
    EXPECT_TRUE(DialogShown());
    EXPECT_TRUE(fs::exists("COM6/kept"));
}

} // namespace
