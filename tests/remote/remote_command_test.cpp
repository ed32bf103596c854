// The command language on the real main window: answers in every header form,
// set commands that leave the window, the records and the queue exactly as the
// same action at the front panel does, and refusals that change nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "app/Shell.h"
#include "link/Scheduler.h"
#include "platform/System.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "remote/RemoteCommand.h"
#include "ui/Vx52PSoftUi.h"

using Lines = std::vector<std::string>;

namespace {

class RemoteCommandTest : public vx52test::MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        gPowerInfo.online = 1; // and no connect sequence: the link is ready
    }
    std::string Send(const std::string& bytes) {
        std::string out;
        RemoteSessionFeed(&session_, bytes.data(), bytes.size(), &out);
        return out;
    }
    // Error codes in the queue, oldest first; the queue is emptied.
    std::vector<int> Errors() {
        std::vector<int> codes;
        for (const std::string& e : session_.errors) {
            codes.push_back(std::stoi(e));
        }
        session_.errors.clear();
        return codes;
    }
    Lines Queued() const {
        Lines out;
        for (int i = 0; i < gCommNewCmd.count; ++i) {
            const int slot = (gCommNewCmd.readPos + i) % COMM_QUEUE_SLOTS;
            out.push_back(std::to_string(gCommNewCmd.cmd[slot]) + "/" +
                          std::to_string(gCommNewCmd.subCmd[slot]));
        }
        return out;
    }
    void Running(int32_t vol, int32_t freq, int32_t level) {
        gNormal52PSet.vol = vol;
        gNormal52PSet.freq = freq;
        gNormal52PSet.volLevel = level;
        gPowerInfo.outputOn = 1;
        Cal52PPowerUpDown(1);
        RefreshOutputState();
    }
    void Alarm() {
        gPowerInfo.alarm = 1;
        RefreshOutputState();
    }
    // What the operator sees and what waits for the source.
    std::string Look() {
        const Normal52PSet& s = gNormal52PSet;
        std::string look = std::to_string(s.vol) + " " + std::to_string(s.freq) + " " +
                           std::to_string(s.volLevel) + " " + std::to_string(s.up2U) + " " +
                           std::to_string(s.down2U) + " ladder " + std::to_string(s.upDownLow) +
                           "/" + std::to_string(s.upDownHigh) + " out " +
                           std::to_string(gPowerInfo.outputOn) + std::to_string(gPowerInfo.alarm);
        for (int c : {PANEL_NUM_VOL, PANEL_NUM_FREQ, PANEL_NUM_UP2U, PANEL_NUM_DOWN2U}) {
            look += " " + std::to_string(Value(c));
        }
        look += " lamps ";
        for (int c : {PANEL_LED_AUTO, PANEL_LED_120V, PANEL_LED_60HZ, PANEL_LED_UUP}) {
            look += std::to_string(LampOn(c));
        }
        for (const std::string& q : Queued()) {
            look += " " + q;
        }
        return look;
    }

    RemoteSession session_;
};

TEST_F(RemoteCommandTest, AnswersEveryHeaderFormOnOneLine) {
    gPowerLastMeasurement = {{2301, 4567, 600, 1050}, SysMonotonicMs(), 1};
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"volt?\n", "220.0\n"},
        {"SOURce:VOLTage:LEVel?\r\n", "220.0\n"},
        {"  :sour:volt? \n", "220.0\n"},
        // A command may leave out the path it shares with the one before it.
        {"FREQ?;VOLT:RANG?;STEP:UP?;DOWN?\n", "50.0;AUTO;5;5\n"},
        {"MEAS:VOLT?;CURR?;FREQ?;POW?;:OUTP?;:OUTP:PROT:TRIP?;SYST:LINK?\n",
         "230.1;4.567;60.0;1050;0;0;ONLINE\n"},
        {"MEASURE:ALL?\n", "230.1,4.567,60.0,1050\n"},
        {"SYST:ERR?;ERR:NEXT?\n", "0,\"No error\";0,\"No error\"\n"},
        {"\n;;\r\n", ""},
        {"VOLT?", ""}, // its line is not complete yet
        {";FREQ?\n", "220.0;50.0\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.out, Send(c.in)) << c.in;
    }
    EXPECT_EQ(std::vector<int>{}, Errors());

    EXPECT_EQ(0u, Send("*IDN?\n").rfind("Vx52PSoft,NONE,0,", 0));
    std::strcpy(gPowerInfo.modelName, "VX52,30P");
    EXPECT_EQ(0u, Send("*idn?\n").rfind("Vx52PSoft,VX52_30P,0,", 0));
}

TEST_F(RemoteCommandTest, SetCommandsDoWhatTheSameActionAtThePanelDoes) {
    const std::function<void()> stopped = [] {};
    const std::function<void()> running = [this] { Running(2200, 500, 1); };
    const std::function<void()> alarm = [this] { Alarm(); };
    struct Case {
        const char* line;
        std::function<void()> state;
        std::function<void()> panel;
    };
    const Case cases[] = {
        {"VOLT 120", stopped, [this] { TypeAndCommit(PANEL_NUM_VOL, "120.0"); }},
        {"SOUR:FREQ 60 Hz", stopped, [this] { TypeAndCommit(PANEL_NUM_FREQ, "60.0"); }},
        {"VOLT:STEP:UP 12", stopped, [this] { TypeAndCommit(PANEL_NUM_UP2U, "12"); }},
        {"VOLT:STEP:DOWN 20", stopped, [this] { TypeAndCommit(PANEL_NUM_DOWN2U, "-20"); }},
        {"VOLT:RANG HIGH", stopped, [this] { Click(PANEL_BT_AUTO_HIGH); }},
        {"OUTP ON", stopped, [this] { Click(PANEL_LED_OUTPUT); }},
        {"VOLT 2.3e2 V", running, [this] { TypeAndCommit(PANEL_NUM_VOL, "230.0"); }},
        {"VOLT UP", running, [this] { Click(PANEL_BT_UUP); }},
        {"VOLT DOWN", running, [this] { Click(PANEL_BT_UDOWN); }},
        {"OUTP 0", running, [this] { Click(PANEL_LED_OUTPUT); }},
        {"OUTP:PROT:CLE", alarm, [this] { Click(PANEL_BT_CLEAR_ALARM); }},
    };
    for (const Case& c : cases) {
        vx52test::ResetProgramState();
        ModelTypeChoose(1);
        gPowerInfo.online = 1;
        c.state();
        c.panel();
        const std::string byPanel = Look();

        vx52test::ResetProgramState();
        ModelTypeChoose(1);
        gPowerInfo.online = 1;
        c.state();
        EXPECT_EQ("", Send(std::string(c.line) + "\n"));
        EXPECT_EQ(std::vector<int>{}, Errors()) << c.line;
        EXPECT_EQ(byPanel, Look()) << c.line;
        EXPECT_NE(Lines{}, Queued()) << c.line;
    }
    EXPECT_EQ(Lines{}, popups_.messages);
}

TEST_F(RemoteCommandTest, RefusedCommandsChangeNothing) {
    const std::function<void()> stopped = [] {};
    const std::function<void()> autoLow = [this] { Running(1200, 500, 0); };
    const std::function<void()> at400 = [this] { Running(1200, 4000, 1); };
    const std::function<void()> stopped400 = [] { gNormal52PSet.freq = 4000; };
    const std::function<void()> alarm = [this] { Alarm(); };
    const std::function<void()> offline = [] { gPowerInfo.online = 0; };
    const std::function<void()> connecting = [] { CommSetNewCmdGroup(18); };
    const std::function<void()> full = [] {
        for (int i = 0; i < 4; ++i) {
            CommSetNewCmdSingleGroup(240, 235, 0);
        }
    };
    const struct {
        std::function<void()> state;
        const char* line;
        int error;
    } cases[] = {
        {stopped, "VOLT 300.1", -222},
        {stopped, "VOLT 0.9", -222},
        {stopped, "VOLT 1e300", -222},
        {stopped, "FREQ 44.9", -222},
        {stopped, "FREQ 400", -222},
        {stopped, "VOLT:STEP:UP 4", -222},
        {stopped, "VOLT:STEP:DOWN 31", -222},
        {autoLow, "VOLT 150.1", -222},
        {stopped, "VOLT abc", -100},
        {stopped, "VOLT", -100},
        {stopped, "VOLT? 1", -100},
        {stopped, "VOLT 1,2", -100},
        {stopped, "VOLT:RANG MEDIUM", -100},
        {stopped, "OUTP 2", -100},
        {stopped, "VOLT:", -100},
        {stopped, "VO\x01LT 5", -100},
        {stopped, "VOLTAGEX 5", -113},
        {stopped, "MEAS:VOLT 5", -113},
        {stopped, "OUTP:PROT:CLE?", -113},
        {stopped, "*RST", -113},
        {stopped, "VOLT UP", -221},
        {autoLow, "VOLT:RANG HIGH", -221},
        {autoLow, "VOLT:STEP:UP 10", -221},
        {at400, "VOLT 100", -221},
        {at400, "VOLT DOWN", -221},
        {stopped400, "FREQ 50", -221},
        {alarm, "VOLT 230", -221},
        {alarm, "OUTP ON", -221},
        {alarm, "VOLT:RANG HIGH", -221},
        {offline, "VOLT 230", -240},
        {offline, "OUTP ON", -240},
        {connecting, "FREQ 60", -240},
        {full, "OUTP ON", -350},
        {full, "VOLT 999;OUTP ON", -222},
    };
    for (const auto& c : cases) {
        vx52test::ResetProgramState();
        ModelTypeChoose(1);
        gPowerInfo.online = 1;
        c.state();
        const Normal52PSet before = gNormal52PSet;
        const Lines queued = Queued();
        EXPECT_EQ("", Send(std::string(c.line) + "\n")) << c.line;
        EXPECT_EQ(std::vector<int>{c.error}, Errors()) << c.line;
        EXPECT_EQ(0, std::memcmp(&before, &gNormal52PSet, sizeof before)) << c.line;
        EXPECT_EQ(queued, Queued()) << c.line;
    }
    EXPECT_EQ(Lines{}, popups_.messages);
}

TEST_F(RemoteCommandTest, LongLinesAndAFullErrorQueueKeepTheSessionGoing) {
    EXPECT_EQ("220.0\n", Send(std::string(251, ' ') + "VOLT?\r\n")); // 256 bytes
    EXPECT_EQ("", Send(std::string(252, ' ') + "VOLT?\n"));
    EXPECT_EQ(std::vector<int>{-223}, Errors());
    // Without its LF a long line is dropped up to the next one.
    EXPECT_EQ("", Send(std::string(300, 'x')));
    EXPECT_EQ("", Send("VOLT?\n"));
    EXPECT_EQ("50.0\n", Send("FREQ?\n"));
    EXPECT_EQ(std::vector<int>{-223}, Errors());

    for (int i = 0; i < 20; ++i) {
        Send("NOPE\n");
    }
    std::string answers;
    for (int i = 0; i < REMOTE_ERROR_QUEUE + 1; ++i) {
        answers += Send("SYST:ERR?\n");
    }
    std::string expected;
    for (int i = 0; i < REMOTE_ERROR_QUEUE - 1; ++i) {
        expected += "-113,\"Undefined header\"\n";
    }
    expected += "-350,\"Queue overflow\"\n0,\"No error\"\n";
    EXPECT_EQ(expected, answers);
    Send("NOPE\n*CLS\n");
    EXPECT_EQ(std::vector<int>{}, Errors());
}

TEST_F(RemoteCommandTest, OpcAnswersOnceTheCommandsBeforeItAreOut) {
    EXPECT_EQ("", Send("VOLT 230;OUTP ON;*OPC?;VOLT?\nFREQ?\n"));
    ASSERT_EQ((Lines{"90/33", "90/33", "15/255"}), Queued());
    std::string out;
    CommClearNewCmdFirst(); // sent
    CommClearNewCmdFirst();
    RemoteSessionPoll(&session_, &out);
    EXPECT_EQ("", out);
    CommClearNewCmdFirst();
    RemoteSessionPoll(&session_, &out);
    EXPECT_EQ("1;230.0\n50.0\n", out);

    // A link that fails drops the queue: those commands will never go out.
    Send("VOLT 240;*OPC?\n");
    CommClearNewCmdAll();
    out.clear();
    RemoteSessionPoll(&session_, &out);
    EXPECT_EQ("1\n", out);
    EXPECT_EQ("1\n", Send("*OPC?\n"));
}

TEST_F(RemoteCommandTest, MeasurementAgeCountsFromTheLastReply) {
    EXPECT_EQ("9.91E37\n", Send("MEAS:AGE?\n"));
    gPowerLastMeasurement = {{2200, 0, 500, 0}, SysMonotonicMs() - 2500.0, 1};
    const std::string age = Send("MEAS:AGE?\n");
    ASSERT_EQ('\n', age.back());
    EXPECT_GE(std::stod(age), 2.5);
    EXPECT_EQ(age.size() - 3, age.find('.')) << age; // one decimal
}

} // namespace
