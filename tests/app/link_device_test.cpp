// The link dialog's device list on the real dialog, with a scratch tree in
// place of /dev: the devices present are offered, and OK makes "COM<N>" lead
// to the chosen one, asking before anything but a link is replaced.
#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "UiTestSupport.h"
#include "app/Shell.h"
#include "persist/SettingsFiles.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

namespace fs = std::filesystem;
using vx52test::ScratchDir;

namespace {

class LinkDeviceTest : public vx52test::MainWindowTest {
  protected:
    static bool DialogShown() {
        int v = 0;
        return GetPanelAttribute(gCommPanel, ATTR_VISIBLE, &v) == 0 && v == 1;
    }
    // Picks a port and a device (by its value; "" keeps the name) and presses OK.
    static void ChooseAndConfirm(int port, const std::string& device) {
        if (!DialogShown()) {
            UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
        }
        SetCtrlVal(gCommPanel, COMMPANEL_RING_PORT, port);
        ASSERT_EQ(0, SetCtrlVal(gCommPanel, COMMPANEL_RING_DEVICE, device.c_str()));
        QTest::mouseClick(static_cast<QWidget*>(UiWidgetOfCtrl(gCommPanel, COMMPANEL_BT_OK)),
                          Qt::LeftButton);
    }
};

TEST_F(LinkDeviceTest, OkLinksThePortNameToTheChosenDeviceAndAsksBeforeReplacingAFile) {
    const std::string root = scratch_->path() + "/machine";
    const std::string byId =
        root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    fs::create_directories(root + "/dev/serial/by-id");
    ScratchDir::WriteFile(root + "/dev/ttyUSB0", "");
    ScratchDir::WriteFile(root + "/dev/ttyS0", "");
    fs::create_symlink("../../ttyUSB0", byId);
    setenv("VX52_SYSTEM_ROOT", root.c_str(), 1);

    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
    std::string labels, label;
    for (int i = 0; GetLabelFromIndex(gCommPanel, COMMPANEL_RING_DEVICE, i, &label) == 0; ++i) {
        labels += label + "|";
    }
    // The first entry names where "COM1" leads now: without the name, the first on-board port.
    EXPECT_EQ("（保持不变：/dev/ttyS0）|ttyUSB0  (usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0)|"
              "ttyS0|",
              labels);
    SetCtrlVal(gCommPanel, COMMPANEL_RING_DEVICE, byId.c_str());
    UiSavePanelImage(gCommPanel,
                     (vx52test::ScreenshotDir() + "/link-settings-device-cn.png").c_str());

    ChooseAndConfirm(5, ""); // the name is kept: nothing is made
    EXPECT_FALSE(fs::exists(fs::symlink_status("COM5")));
    EXPECT_EQ(5, gPowerInfo.port);

    fs::create_symlink("/dev/pts/77", "COM3"); // a link is simply renewed
    ChooseAndConfirm(3, byId);
    EXPECT_EQ(byId, fs::read_symlink("COM3").string());
    EXPECT_TRUE(popups_.confirms.empty());

    // The operator's own file: No keeps it and the dialog open, nothing taken.
    ScratchDir::WriteFile("COM4", "notes");
    fs::remove(SOFTSET_FILE);
    ChooseAndConfirm(4, root + "/dev/ttyS0");
    ASSERT_EQ(1u, popups_.confirms.size());
    EXPECT_NE(std::string::npos, popups_.confirms[0].find("COM4"));
    EXPECT_EQ("notes", ScratchDir::ReadFile("COM4"));
    EXPECT_TRUE(DialogShown());
    EXPECT_EQ(3, gPowerInfo.port);
    EXPECT_FALSE(ScratchDir::Exists(SOFTSET_FILE));
    popups_.confirmAnswer = 1; // Yes replaces it
    ChooseAndConfirm(4, root + "/dev/ttyS0");
    EXPECT_EQ(root + "/dev/ttyS0", fs::read_symlink("COM4").string());
    EXPECT_EQ(4, gPowerInfo.port);

    // A link that cannot be made is said, and the dialog stays.
    gPowerInfo.language = 1;
    fs::create_directories("COM6/kept");
    ChooseAndConfirm(6, byId);
    ASSERT_EQ(1u, popups_.messages.size());
    EXPECT_EQ(0u, popups_.messages[0].find("Warning|\"COM6\" could not be made a link to "));
    EXPECT_TRUE(popups_.warned[0]);
    EXPECT_TRUE(DialogShown());
    unsetenv("VX52_SYSTEM_ROOT");
}

} // namespace
