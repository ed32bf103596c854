// The link's two windows: the link state on the main window and the
// link-settings dialog, on the real layout.
#include <cstring>
#include <string>

#include "app/Shell.h"
#include "app/Vx52PSoftUi.h"
#include "link/PortUart.h"
#include "link/Scheduler.h"
#include "power/PowerRecords.h"
#include "LinkTestSupport.h"

namespace {

class LinkPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("VX52_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        const std::string uir = std::string(bin) + "/" + UIR_FILE;
        AppRegisterUi();
        gMainPanel = LoadPanel(0, uir.c_str(), PANEL);
        gCommPanel = LoadPanel(0, uir.c_str(), COMMPANEL);
        ASSERT_GT(gMainPanel, 0);
        ASSERT_GT(gCommPanel, 0);
        PowerRecordsReset();
    }
    void TearDown() override {
        DiscardPanel(gMainPanel);
        DiscardPanel(gCommPanel);
        gMainPanel = 0;
        gCommPanel = 0;
        PowerRecordsReset();
    }
    static int Visible(int control) {
        int v = -1;
        GetCtrlAttribute(gMainPanel, control, ATTR_VISIBLE, &v);
        return v;
    }
    static int Led() {
        int v = -1;
        GetCtrlVal(gMainPanel, PANEL_LED_LINK, &v);
        return v;
    }
};

TEST_F(LinkPanelTest, LinkStateOnTheMainWindow) {
    std::strcpy(gPowerInfo.modelName, "VX52123P");
    CommConnectToPanel(1);
    EXPECT_EQ(Visible(PANEL_TXT_OFFLINE), 0);
    EXPECT_EQ(Visible(PANEL_TXT_MODELNAME), 1);
    EXPECT_EQ(Visible(PANEL_BT_CONNECT), 0);
    EXPECT_EQ(Visible(PANEL_BT_DISCONNECT), 1);
    EXPECT_EQ(Led(), 1);
    std::string name;
    GetCtrlVal(gMainPanel, PANEL_TXT_MODELNAME, &name);
    EXPECT_EQ(name, "VX52123P");

    CommConnectToPanel(0);
    EXPECT_EQ(Visible(PANEL_TXT_OFFLINE), 1);
    EXPECT_EQ(Visible(PANEL_TXT_MODELNAME), 0);
    EXPECT_EQ(Visible(PANEL_BT_CONNECT), 1);
    EXPECT_EQ(Visible(PANEL_BT_DISCONNECT), 0);
    EXPECT_EQ(Led(), 0);
}

TEST_F(LinkPanelTest, SettingsDialogRoundTrip) {
    const int settings[][3] = {{17, 7, 2400}, {255, 10, 1200}, {1, 1, 9600}};
    for (const auto& s : settings) {
        gPowerInfo.address = s[0];
        gPowerInfo.port = s[1];
        gPowerInfo.baudRate = s[2];
        DataFromCommSetVarToPanel();
        gPowerInfo.address = gPowerInfo.port = gPowerInfo.baudRate = 0;
        DataFromPanelToCommSetVar();
        EXPECT_EQ(gPowerInfo.address, s[0]);
        EXPECT_EQ(gPowerInfo.port, s[1]);
        EXPECT_EQ(gPowerInfo.baudRate, s[2]);
    }
    // Without the dialog nothing is read, so nothing changes.
    const int panel = gCommPanel;
    gCommPanel = 0;
    DataFromPanelToCommSetVar();
    EXPECT_EQ(gPowerInfo.baudRate, 9600);
    gCommPanel = panel;
}

} // namespace
