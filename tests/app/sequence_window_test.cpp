// The sequence window on the real main window: a profile's steps, or its
// errors in the language in force with nothing to start; and a run that holds
// the panel (set controls, presets, steps and the load item dimmed, requests
// refused) while the OUTPUT indicator and Escape in the window stay live and
// end it.
#include <gtest/gtest.h>

#include <QTest>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "app/MenuDialogs.h"
#include "app/SequenceWindow.h"
#include "app/Sequencing.h"
#include "app/Shell.h"
#include "link/Scheduler.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "sequence/Sequence.h"
#include "ui/Panels.h"
#include "ui/Vx52PSoftUi.h"

namespace {

class SequenceWindowTest : public vx52test::MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        gPowerInfo.online = 1; // and no connect sequence: the link is ready
        SetLanguageEnglish();
        DisplayPanelSequence(1);
        ASSERT_GT(gSeqPanel, 0);
    }
    int Attr(int control, int attribute) const {
        int value = -1;
        GetCtrlAttribute(gSeqPanel, control, attribute, &value);
        return value;
    }
    std::vector<std::string> Rows(int table) const {
        int rows = 0;
        GetNumTableRows(gSeqPanel, table, &rows);
        std::vector<std::string> out;
        std::vector<std::string> cells;
        for (int r = 0; r < rows; ++r) {
            GetTableRowCells(gSeqPanel, table, r, &cells);
            std::string row;
            for (const std::string& c : cells) {
                row += (row.empty() ? "" : "|") + c;
            }
            out.push_back(row);
        }
        return out;
    }
    // What the panel lets the operator touch: 1 for each dimmed control.
    std::string PanelDimmed() const {
        std::string d;
        for (int c : {PANEL_NUM_VOL, PANEL_NUM_FREQ, PANEL_BT_AUTO_HIGH, PANEL_BT_400, PANEL_BT_UUP,
                      PANEL_NUM_UP2U, PANEL_LED_OUTPUT}) {
            d += std::to_string(Dimmed(c));
        }
        int load = 0;
        GetMenuBarAttribute(gMainMenu, MENUBAR_FILE_LOAD, ATTR_DIMMED, &load);
        return d + " load " + std::to_string(load);
    }
};

TEST_F(SequenceWindowTest, ErrorsAreListedInTheLanguageInForceAndNothingStarts) {
    vx52test::ScratchDir::WriteFile("bad.csv",
                                    "voltage_v,frequency_hz,dwell_s\n300.5,50,5\n230,,0.5\n");
    SequencingLoad("bad.csv");
    EXPECT_EQ(Attr(SEQPANEL_TBL_ERRORS, ATTR_VISIBLE), 1);
    EXPECT_EQ(Attr(SEQPANEL_TBL_STEPS, ATTR_VISIBLE), 0);
    EXPECT_EQ(Attr(SEQPANEL_BT_START, ATTR_DIMMED), 1);
    EXPECT_EQ(Rows(SEQPANEL_TBL_ERRORS),
              (std::vector<std::string>{"line 2, column voltage_v: outside 1.0 V to 300.0 V",
                                        "line 3, column dwell_s: outside 1.0 s to 604800.0 s"}));
    SetLanguageChinese();
    SequenceWindowLanguageSet();
    EXPECT_EQ(Rows(SEQPANEL_TBL_ERRORS),
              (std::vector<std::string>{"第2行，voltage_v列：超出1.0 V至300.0 V",
                                        "第3行，dwell_s列：超出1.0 s至604800.0 s"}));
    SequencingStart();
    ASSERT_EQ(popups_.messages.size(), 1u);
    EXPECT_EQ(popups_.messages[0], "测试序列|请先载入没有错误的测试文件。");
    EXPECT_EQ(SequenceStateText(), "IDLE");
    EXPECT_EQ(gCommNewCmd.count, 0);
}

TEST_F(SequenceWindowTest, ARunHoldsThePanelUntilTheIndicatorOrEscapeEndsIt) {
    vx52test::ScratchDir::WriteFile("ok.csv", "voltage_v,frequency_hz,dwell_s,i_max_a,note\n"
                                              "230,50,5,2.5,\"nominal, 50 Hz\"\n");
    SequencingLoad("ok.csv");
    EXPECT_EQ(
        Rows(SEQPANEL_TBL_STEPS),
        std::vector<std::string>{"1|230.0|50.0|5.0||I \u2264 2.500 A (2.0 s)|nominal, 50 Hz|"});
    const std::string free = PanelDimmed();
    EXPECT_EQ(free, "0000100 load 0");

    for (const char* how : {"indicator", "escape"}) {
        SequencingStart();
        // Closing the program asks first; "No" leaves the run going.
        popups_.confirmAnswer = 0;
        ExitMainPanel();
        ASSERT_EQ(popups_.confirms.size(), std::string(how) == "indicator" ? 1u : 2u);
        EXPECT_EQ(popups_.confirms.back(), "Test Sequence|A test sequence is running. Stop the "
                                           "output, write the report and close the program?");
        EXPECT_EQ(SequenceStateText(), "RUNNING,1,1") << how;
        EXPECT_EQ(PanelDimmed(), "1111110 load 1") << how;
        EXPECT_EQ(std::vector<int>(
                      {Attr(SEQPANEL_BT_OPEN, ATTR_DIMMED), Attr(SEQPANEL_NUM_REPEAT, ATTR_DIMMED),
                       Attr(SEQPANEL_BT_START, ATTR_DIMMED), Attr(SEQPANEL_BT_STOP, ATTR_DIMMED)}),
                  std::vector<int>({1, 1, 1, 0}))
            << how;
        EXPECT_EQ(PowerRequestVoltage(2400, POWER_CALLER_REMOTE), POWER_REQUEST_HELD) << how;
        EXPECT_EQ(PowerRequestLoadedSettings(), POWER_REQUEST_HELD) << how;

        if (std::string(how) == "indicator") {
            Click(PANEL_LED_OUTPUT);
        } else {
            QTest::keyClick(static_cast<QWidget*>(UiWidgetOfPanel(gSeqPanel)), Qt::Key_Escape);
        }
        // What the start had asked for is left to the link; the run is over once it is out.
        CommClearNewCmdAll();
        SequencingTick();
        EXPECT_EQ(SequenceStateText(), "ABORTED") << how;
        EXPECT_EQ(PanelDimmed(), free) << how;
        EXPECT_EQ(SequenceRunner().run.cause,
                  std::string(how) == "indicator" ? SEQ_CAUSE_INDICATOR : SEQ_CAUSE_STOP)
            << how;
    }
}

} // namespace
