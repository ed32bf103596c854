// The scheduler tick by tick against a scripted instrument on a pseudo-terminal.
// Each request is logged as "mnemonic@tick", with "*" when the wait panel is
// up right after it; the first tick after connecting is 1.
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "LinkTestSupport.h"
#include "app/MenuDialogs.h"
#include "app/Shell.h"
#include "link/PortUart.h"
#include "link/Scheduler.h"
#include "power/FrontPanel.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

namespace {

// The instrument's side, as little of it as the link needs.
struct FakeSource {
    char state = '0';
    bool mute = false;
    bool stopHonoured = true;
    std::map<std::string, int> drop; // replies to leave out, by mnemonic
    std::string refuse;              // mnemonic answered with "!"
    std::string settings = "RNS=220.0,50.0,07,09,3,1,*";

    Bytes Answer(const Bytes& req) {
        const std::string m(req.begin() + 4, req.begin() + 7);
        if (mute || drop[m]-- > 0) {
            return {};
        }
        if (m == refuse) {
            return ReplyFrame(req[3], m + "=!00");
        }
        if (m == "RMO") {
            return ReplyFrame(req[3], "RMO=VX52123PAB");
        }
        if (m == "RTE") {
            return ReplyFrame(req[3], std::string("RTE=") + state + "00");
        }
        if (m == "RNS") {
            return ReplyFrame(req[3], settings);
        }
        if (m == "RNT") {
            return ReplyFrame(req[3], "RNT=220.5,1.2345,50.0,1234.5,*");
        }
        if (m == "CSP" && stopHonoured) {
            state = '0';
        }
        if (m == "CST") {
            state = '2';
        }
        return ReplyFrame(req[3], m + "==00");
    }
};

class SchedulerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PowerRecordsReset();
        RefreshOutputStateReset();
        CommSchedulerReset();
        gPowerInfo.address = 1;
        gPowerInfo.port = 1;
        gPowerInfo.baudRate = 9600;
        gPowerInfo.language = 1;
        gFirstConnect = 0;
        pty = std::make_unique<Pty>("COM1");
        // The main window and the wait panel come from the real layout, which
        // the scratch folder holds.
        AppRegisterUi();
        gMainPanel = LoadPanel(0, UIR_FILE, PANEL);
        ASSERT_GT(gMainPanel, 0);
    }
    void TearDown() override {
        CommSchedulerReset();
        DisplayPanelWait(0);
        DiscardPanel(gMainPanel);
        gMainPanel = 0;
        PowerRecordsReset();
        EXPECT_TRUE(popups.messages.empty()) << popups.messages.front();
    }

    void Connect() {
        CommConnectDeal(1);
        ASSERT_EQ(gPowerInfo.online, 1);
        tick = 0;
        log.str("");
    }
    // One tick; a request sent in it is answered at once by the source.
    void Tick() {
        CommTimerDeal();
        ++tick;
        const CommInfo& c = gCommInfo;
        if (c.presentFlag != 1 || c.txLen <= 0 || c.intervalCnt != c.interval) {
            return;
        }
        const Bytes req = pty->ReadFrame();
        ASSERT_EQ(req, Bytes(c.txBuff, c.txBuff + c.txLen)) << "tick " << tick;
        log << (log.tellp() > 0 ? " " : "") << std::string(req.begin() + 4, req.begin() + 7) << "@"
            << tick << (gPowerInfo.waitShown == 1 ? "*" : "");
        groups.push_back(c.presentGroup);
        requests.emplace_back(req.begin() + 4, req.end() - 2);
        const Bytes reply = source.Answer(req);
        if (!reply.empty()) {
            pty->Write(reply);
            pty->WaitQueued(1, static_cast<int>(reply.size()));
        }
    }
    void TicksTo(int last) {
        while (tick < last) {
            Tick();
        }
    }
    std::string Sent() const { return log.str(); }
    // The link area of the main window: "online VX52123P" or "offline".
    static std::string Window() {
        auto shown = [](int control) {
            int v = -1;
            GetCtrlAttribute(gMainPanel, control, ATTR_VISIBLE, &v);
            return v;
        };
        int led = -1;
        GetCtrlVal(gMainPanel, PANEL_LED_LINK, &led);
        std::string name;
        GetCtrlVal(gMainPanel, PANEL_TXT_MODELNAME, &name);
        if (led == 1 && !shown(PANEL_TXT_OFFLINE) && shown(PANEL_TXT_MODELNAME) &&
            !shown(PANEL_BT_CONNECT) && shown(PANEL_BT_DISCONNECT)) {
            return "online " + name;
        }
        if (led == 0 && shown(PANEL_TXT_OFFLINE) && !shown(PANEL_TXT_MODELNAME) &&
            shown(PANEL_BT_CONNECT) && !shown(PANEL_BT_DISCONNECT)) {
            return "offline";
        }
        return "mixed";
    }

    ScratchDir dir;
    PopupRecorder popups;
    std::unique_ptr<Pty> pty;
    FakeSource source;
    int tick = 0;
    std::ostringstream log;
    std::vector<int> groups;
    std::vector<std::string> requests; // mnemonic and data of each request
};

TEST_F(SchedulerTest, SilentInstrumentGoesOfflineAfterThreeMisses) {
    const std::pair<int, int> waits[] = {{9600, 4}, {4800, 5}, {2400, 7}, {1200, 14}};
    source.mute = true;
    for (auto [baud, wait] : waits) {
        gPowerInfo.baudRate = baud;
        gPowerInfo.outputOn = 1;
        gArrMeasureOutput[0] = 2200;
        Connect();
        const int step = wait + 1;
        TicksTo(3 * step);
        EXPECT_EQ(gPowerInfo.online, 1) << baud;
        Tick();
        EXPECT_EQ(gPowerInfo.online, 0) << baud;
        std::ostringstream want;
        want << "RMO@1* RMO@" << 1 + step << "* RMO@" << 1 + 2 * step << "*";
        EXPECT_EQ(Sent(), want.str());
        EXPECT_EQ(gPowerInfo.waitShown, 0);
        EXPECT_EQ(GetInQLen(1), RS232_ERR_NOT_OPEN); // port closed
        EXPECT_EQ(gArrMeasureOutput[0], 0);
        EXPECT_EQ(gPowerInfo.outputOn, 1); // the last known state stays
    }
}

TEST_F(SchedulerTest, ConnectSequenceByReportedState) {
    struct Case {
        char state;
        bool stopHonoured;
        const char* sent;
        int outputOn;
    };
    const Case cases[] = {
        {'0', true, "RMO@1* RTE@6* RNS@11* RTE@16* RTE@41", 0},
        // "1" and "3" also make the decoder queue a stop of its own.
        {'1', true, "RMO@1* RTE@6* CSP@11* CSP@16* RNS@21* RTE@26* CSP@31* RTE@51", 0},
        {'3', true, "RMO@1* RTE@6* CSP@11* CSP@16* RNS@21* RTE@26* CSP@31* RTE@51", 0},
        {'2', true, "RMO@1* RTE@6* CSP@11* CSP@16* RNS@21* RTE@26* RTE@51", 0},
        {'4', true, "RMO@1* RTE@6* CSP@11* CSP@16* RNS@21* RTE@26* RTE@51", 0},
        {'9', true, "RMO@1* RTE@6* CSP@11* CSP@16* RNS@21* RTE@26* RTE@51", 0},
        // Still running at the end: the ladder is set and one more stop goes.
        {'2', false, "RMO@1* RTE@6* CSP@11* CSP@16* RNS@21* RTE@26* CSP@31*", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.state) + (c.stopHonoured ? "" : " ignores stop"));
        source.state = c.state;
        source.stopHonoured = c.stopHonoured;
        gNormal52PSet = Normal52PSet{500, 1000, 0, 5, 5, 0, 1, 1, 1};
        Connect();
        const int end = c.state == '0' ? 21 : 31;
        TicksTo(end - 1);
        EXPECT_EQ(gCommInfo.presentGroup, 18);
        EXPECT_EQ(Window(), "offline");
        Tick(); // the last state reply ends the sequence
        EXPECT_EQ(Window(), "online VX52123P");
        EXPECT_EQ(gPowerInfo.outputOn, c.outputOn);
        EXPECT_STREQ(gPowerInfo.modelName, "VX52123P");
        EXPECT_EQ(gPowerInfo.modelNo, 123);
        EXPECT_EQ(gNormal52PSet.vol, 2200); // from the settings reply
        EXPECT_EQ(gNormal52PSet.up2U, 7);
        EXPECT_EQ(gNormal52PSet.upDownBase, c.outputOn ? 2200 : 0);
        EXPECT_EQ(gNormal52PSet.upDownHigh, c.outputOn ? 2270 : 0);
        EXPECT_EQ(gNormal52PSet.upDownLow, c.outputOn ? 2110 : 0);
        TicksTo(c.stopHonoured ? end + 20 : end);
        EXPECT_EQ(Sent(), c.sent);
        CommConnectDeal(0);
        EXPECT_EQ(Window(), "offline");
    }
}

// A stop of the connect sequence that goes unanswered is sent again inside
// the sequence, so the sequence still completes.
TEST_F(SchedulerTest, UnansweredStopIsRepeatedInsideTheSequence) {
    for (int missedStep : {12, 13}) {
        SCOPED_TRACE(missedStep);
        source.state = '2';
        source.drop["CSP"] = 0;
        gNormal52PSet.upDownBase = 1;
        Connect();
        TicksTo(missedStep == 12 ? 10 : 15);
        source.drop["CSP"] = 1;
        TicksTo(40);
        EXPECT_EQ(Sent(), "RMO@1* RTE@6* CSP@11* CSP@16* CSP@21* RNS@26* RTE@31*");
        EXPECT_EQ(groups, (std::vector<int>{18, 18, 18, 18, 18, 18, 18}));
        EXPECT_EQ(gCommInfo.presentFlag, 0);
        EXPECT_EQ(gNormal52PSet.upDownBase, 0); // the end-of-sequence steps ran
        EXPECT_EQ(Window(), "online VX52123P");
        CommConnectDeal(0);
        groups.clear();
    }
}

TEST_F(SchedulerTest, QueueKeepsFiveInOrderAndDropsTheSixth) {
    Connect();
    TicksTo(16); // the last request of the sequence is out
    CommSetNewCmdSingleGroup(15, 255, 0);
    CommSetNewCmdSingleGroup(90, 33, 0);
    CommSetNewCmdSingleGroup(240, 17, 0);
    CommSetNewCmdSingleGroup(165, 33, 0);
    CommSetNewCmdSingleGroup(15, 0, 0);
    CommSetNewCmdSingleGroup(240, 237, 0);
    EXPECT_EQ(gCommNewCmd.count, 5);
    TicksTo(60);
    EXPECT_EQ(Sent(),
              "RMO@1* RTE@6* RNS@11* RTE@16* CST@21* SNO@26* RNT@31* RNS@36* CSP@41* RTE@47");

    // The ring wraps: two more after two were taken land in slots 0 and 1.
    CommClearNewCmdAll();
    for (int i = 0; i < 5; ++i) {
        CommSetNewCmdSingleGroup(240, 235, 0);
    }
    CommClearNewCmdFirst();
    CommClearNewCmdFirst();
    CommSetNewCmdSingleGroup(90, 80, 0);
    CommSetNewCmdSingleGroup(15, 10, 0);
    CommSetNewCmdSingleGroup(15, 255, 0); // full again: dropped
    EXPECT_EQ(gCommNewCmd.count, 5);
    EXPECT_EQ(gCommNewCmd.readPos, 2);
    EXPECT_EQ(gCommNewCmd.writePos, 2);
    EXPECT_EQ(gCommNewCmd.subCmd[0], 80);
    EXPECT_EQ(gCommNewCmd.subCmd[1], 10);
    EXPECT_EQ(gCommNewCmd.group[1], 15);
}

TEST_F(SchedulerTest, PollsAboutOnceASecondNeverTwoInOneTick) {
    Connect();
    TicksTo(21);
    TicksTo(100); // output off: state polls only
    EXPECT_EQ(Sent(), "RMO@1* RTE@6* RNS@11* RTE@16* RTE@41 RTE@61 RTE@81");

    log.str("");
    CommSetNewCmdSingleGroup(15, 255, 0);
    TicksTo(150);
    EXPECT_EQ(gPowerInfo.outputOn, 1);
    EXPECT_EQ(Sent(), "CST@101* RTE@107 RNT@113 RTE@127 RNT@133 RTE@147");
    EXPECT_EQ(gArrMeasureOutput[1], 1235);

    // Both due at once: the measurement waits for the next idle tick.
    TicksTo(160);
    ASSERT_EQ(gCommInfo.presentFlag, 0);
    stateQueryCnt = 1;
    measureQueryCnt = 1;
    log.str("");
    TicksTo(170);
    EXPECT_EQ(Sent(), "RTE@161 RNT@167");
}

TEST_F(SchedulerTest, RefusalsEndTheExchangeAndMissesAreRetried) {
    Connect();
    TicksTo(21);
    log.str("");
    source.refuse = "CST";
    CommSetNewCmdSingleGroup(15, 255, 0);
    CommSetNewCmdSingleGroup(90, 33, 0);
    TicksTo(33);
    EXPECT_EQ(Sent(), "CST@22* SNO@27*");
    EXPECT_EQ(gPowerInfo.outputOn, 0);

    // A settings command is repeated until answered; an answer resets the
    // count of misses, so two misses twice do not end the link.
    log.str("");
    source.drop["SNO"] = 2;
    CommSetNewCmdSingleGroup(90, 80, 0);
    TicksTo(49);
    EXPECT_EQ(gCommInfo.errCnt, 0);
    source.drop["RTE"] = 2;
    TicksTo(96);
    EXPECT_EQ(gPowerInfo.online, 1);
    EXPECT_EQ(Sent(), "SNO@34 SNO@39 SNO@44 RTE@50 RTE@55 RTE@60 RTE@70 RTE@90");

    // An unanswered start or stop is not repeated: the state is asked instead.
    for (int sub : {255, 0, 10}) {
        log.str("");
        groups.clear();
        source.drop[sub == 255 ? "CST" : "CSP"] = 1;
        stateQueryCnt = 100; // keep the polls out of the way
        const int from = tick;
        CommSetNewCmdSingleGroup(15, sub, 0);
        TicksTo(from + 12);
        std::ostringstream want;
        want << (sub == 255 ? "CST@" : "CSP@") << from + 1 << "* RTE@" << from + 6 << "*";
        EXPECT_EQ(Sent(), want.str());
        EXPECT_EQ(groups, (std::vector<int>{15, 15}));
    }
}

TEST_F(SchedulerTest, StaleInputIsDroppedBeforeEachRequest) {
    CommConnectDeal(1);
    pty->Write(B("{junk from before"));
    pty->WaitQueued(1, 17);
    Tick();
    TicksTo(21);
    EXPECT_EQ(Sent(), "RMO@1* RTE@6* RNS@11* RTE@16*");
    EXPECT_STREQ(gPowerInfo.modelName, "VX52123P");
}

TEST_F(SchedulerTest, VanishedInstrumentEndsTheLinkWithoutAMessage) {
    Connect();
    TicksTo(21);
    pty->Close();
    EXPECT_LT(GetInQLen(1), 0);
    int ticks = 0;
    while (gPowerInfo.online == 1 && ticks < 100) {
        CommTimerDeal();
        ++ticks;
    }
    EXPECT_EQ(gPowerInfo.online, 0);
    EXPECT_EQ(ticks, 20 + 3 * 5); // the next state poll, then three misses
}

TEST_F(SchedulerTest, ConnectAndDisconnectOnlyActWhenTheyChangeSomething) {
    gArrMeasureOutput[2] = 500;
    CommConnectDeal(0); // offline already
    EXPECT_EQ(gArrMeasureOutput[2], 500);

    Connect();
    gPowerInfo.riseCountdown = 3;
    CommConnectDeal(1); // online already
    EXPECT_EQ(gCommNewCmd.count, 1);
    EXPECT_EQ(gPowerInfo.riseCountdown, 3);
    TicksTo(21);

    gPowerInfo.outputOn = 1;
    gArrMeasureOutput[2] = 500;
    CommSetNewCmdSingleGroup(15, 255, 0);
    CommConnectDeal(0);
    EXPECT_EQ(gPowerInfo.online, 0);
    EXPECT_EQ(gPowerInfo.outputOn, 1);
    EXPECT_EQ(gArrMeasureOutput[2], 0);
    EXPECT_EQ(gCommNewCmd.count, 0);
    EXPECT_EQ(gCommInfo.presentFlag, 0);
    EXPECT_EQ(GetInQLen(1), RS232_ERR_NOT_OPEN);
}

TEST_F(SchedulerTest, OpenFailureIsReportedUnlessAtStartUp) {
    std::ofstream("COM2") << "not a terminal";
    gPowerInfo.port = 2;
    gFirstConnect = 1;
    CommConnectDeal(1);
    EXPECT_TRUE(popups.messages.empty());
    gFirstConnect = 0;
    CommConnectDeal(1);
    gPowerInfo.language = 0;
    CommConnectDeal(1);
    EXPECT_EQ(gPowerInfo.online, 0);
    EXPECT_EQ(popups.messages,
              (std::vector<std::string>{"Error|Open port error. Please reset.",
                                        "出错|通讯端口打开错误，请重新选择端口！"}));
    EXPECT_EQ(popups.warned, (std::vector<bool>{true, true}));
    EXPECT_EQ(popups.details[1].find("设备：" + dir.path() + "/COM2\n原因："), 0u);
    popups.messages.clear();
}

// The detail names the device tried, where its link leads, the system's reason
// and, for a permission error, the group to join.
TEST_F(SchedulerTest, OpenFailureDetailSaysWhy) {
    struct Case {
        const char* target; // what COM3 links to
        const char* detail;
    };
    const Case cases[] = {
        {"/nonexistent/tty", " -> /nonexistent/tty\nReason: No such file or directory"},
        {"plain", "\nReason: Inappropriate ioctl for device\nThis file is not a serial port."},
        // A read-only kernel file refuses writing even to root.
        {"/sys/kernel/uevent_seqnum",
         "\nReason: Permission denied\nOnly members of the group \"dialout\" may use"},
    };
    std::ofstream("plain") << "not a terminal";
    gPowerInfo.port = 3;
    for (const Case& c : cases) {
        std::filesystem::remove("COM3");
        std::filesystem::create_symlink(c.target, "COM3");
        popups.details.clear();
        CommConnectDeal(1);
        ASSERT_EQ(popups.details.size(), 1u) << c.target;
        EXPECT_EQ(popups.details[0].find("Device: " + dir.path() + "/COM3"), 0u) << c.target;
        EXPECT_NE(popups.details[0].find(c.detail), std::string::npos) << popups.details[0];
    }
    popups.messages.clear();
}

// A source started at its own panel reports running while the program holds no
// ladder: the first such state reply makes one from the settings in force, and
// no step sends a voltage outside the limits.
TEST_F(SchedulerTest, SourceStartedOnItsOwnGetsALadderAndStepsStayInLimits) {
    struct Case {
        const char* settings;
        std::vector<std::string> sent; // voltages of the settings commands
    };
    const Case cases[] = {
        {"RNS=220.0,50.0,07,09,3,1,*", {"2110", "2200", "2270"}}, // HIGH
        {"RNS=148.0,50.0,05,05,0,0,*", {"1430", "1480", "1500"}}, // AUTO, low side
        {"RNS=152.0,50.0,05,05,0,0,*", {"1501", "1520", "1570"}}, // AUTO, high side
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        source.state = '0';
        source.settings = c.settings;
        Connect();
        TicksTo(21);
        ASSERT_EQ(gPowerInfo.outputOn, 0);
        source.state = '2';
        TicksTo(46); // the next state poll is answered
        ASSERT_EQ(gPowerInfo.outputOn, 1);
        requests.clear();
        for (CtrlCallbackPtr step : {BT_FC_UDOWN_CALLBACK, BT_FC_UDOWN_CALLBACK, BT_FC_UUP_CALLBACK,
                                     BT_FC_UUP_CALLBACK, BT_FC_UUP_CALLBACK}) {
            step(gMainPanel, 0, EVENT_COMMIT, nullptr, 0, 0);
            TicksTo(tick + 6);
        }
        std::vector<std::string> sent;
        for (const std::string& r : requests) {
            if (r.rfind("SNO=", 0) == 0) {
                sent.push_back(r.substr(4, 4));
            }
        }
        EXPECT_EQ(sent, c.sent);
        CommConnectDeal(0);
        PowerRecordsReset();
        gPowerInfo.address = 1;
        gPowerInfo.port = 1;
        gPowerInfo.baudRate = 9600;
        gPowerInfo.language = 1;
    }
}

} // namespace
