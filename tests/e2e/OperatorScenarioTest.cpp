// The operator at the real main window, the real link code and the simulated power source on a
// real pseudo-terminal, all in this process. Ticks are driven by hand and the simulator answers
// between them, so every frame lands on a known tick.
//
// Frames the instrument received are written "TICK TEXT", TEXT being the frame from its
// mnemonic to its last data byte ("RTE*", "SNO=2300,0600,05,05,0,1*"), with a trailing " wait"
// when the wait popup is up right after that tick. A click "after tick N" happens between ticks
// N and N + 1; its latency is the tick of its frame minus N.
#include <gtest/gtest.h>

#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "app/LinkArea.h"
#include "app/LinkMonitor.h"
#include "app/MenuDialogs.h"
#include "app/Recording.h"
#include "app/Shell.h"
#include "app/Tick.h"
#include "link/LinkEvents.h"
#include "link/Scheduler.h"
#include "persist/Language.h"
#include "persist/SettingsFiles.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "record/DataLog.h"
#include "remote/RemoteCommand.h"
#include "sim/Simulator.h"
#include "ui/Vx52PSoftUi.h"

namespace {

using Lines = std::vector<std::string>;

const int kCharts[] = {PANEL_SCHART_R1, PANEL_SCHART_R2, PANEL_SCHART_R3, PANEL_SCHART_R4};
const int kMeters[] = {PANEL_MEA_VOL, PANEL_MEA_CURR, PANEL_MEA_FREQ, PANEL_MEA_POWER};

// A request as the program should build it: start mark, length, 0, address 1, checksum, end
// mark. Anything else is shown whole, in hex, so it cannot pass for a good frame.
std::string RequestText(const sim::Bytes& f) {
    bool good = f.size() >= 10 && f[0] == '{' && f[1] + 3u == f.size() && f[2] == 0 && f[3] == 1 &&
                f.back() == '}';
    if (good) {
        unsigned sum = 0;
        for (size_t i = 1; i + 2 < f.size(); ++i) {
            sum += f[i];
        }
        good = (sum & 0xFF) == f[f.size() - 2];
    }
    if (!good) {
        return "BAD " + sim::Hex(f);
    }
    return std::string(f.begin() + 4, f.end() - 2);
}

// The four readings of a measurement reply "RNT=vvv.v,a.aaaa,ff.f,pppp.p,s" in V, A, Hz, kW.
// From 100 Hz on the frequency has no point and counts 0.1 Hz.
std::vector<double> Readings(const std::string& data) {
    std::vector<std::string> fields;
    std::stringstream in(data.substr(4));
    for (std::string f; std::getline(in, f, ',');) {
        fields.push_back(f);
    }
    if (fields.size() < 4) {
        return {};
    }
    double hz = std::stod(fields[2]);
    if (fields[2].find('.') == std::string::npos) {
        hz /= 10;
    }
    return {std::stod(fields[0]), std::stod(fields[1]), hz, std::stod(fields[3]) / 1000};
}

std::string Join(const Lines& lines) {
    std::string out;
    for (const std::string& l : lines) {
        out += l + "\n";
    }
    return out;
}

class OperatorScenarioTest : public vx52test::MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        // As at start-up without a settings file: port 1, 9600 baud, address 1.
        FileReadSoftSet(SOFTSET_FILE);
        ASSERT_EQ(1, gPowerInfo.port);
        ASSERT_EQ(9600, gPowerInfo.baudRate);
        std::string error;
        ASSERT_TRUE(sim_.Open(&error)) << error;
        ASSERT_TRUE(sim_.Link(scratch_->path(), 1, &error)) << error;
        sim_.instrument().SetNoise(false);
        sim_.log().Clear();
    }

    void TearDown() override {
        EXPECT_EQ(Lines{}, popups_.messages) << "no message box in the whole run";
        MainWindowTest::TearDown();
        sim_.Close();
    }

    void Tick() {
        TIMER_50MS_CALLBACK(gMainPanel, PANEL_TIMER_50MS, EVENT_TIMER_TICK, nullptr, 0, 0);
        sim_.Pump();
        const int tick = TickCount();
        for (const sim::LogEntry& e : sim_.log().entries()) {
            if (e.dir == sim::LogEntry::Dir::In) {
                Sent s{tick, RequestText(e.bytes)};
                all_.push_back(s);
                phase_.push_back(std::to_string(tick) + " " + s.text +
                                 (gPowerInfo.waitShown == 1 ? " wait" : ""));
            } else if (e.dir == sim::LogEntry::Dir::Out && e.bytes.size() > 8 &&
                       std::string(e.bytes.begin() + 4, e.bytes.begin() + 8) == "RNT=") {
                lastMeasurement_ = std::string(e.bytes.begin() + 4, e.bytes.end() - 2);
            }
        }
        sim_.log().Clear();
    }
    void TicksTo(int last) {
        while (TickCount() < last) {
            Tick();
        }
    }
    // Frames received since the last call.
    Lines Phase() {
        Lines out;
        out.swap(phase_);
        return out;
    }
    // Ticks from a click after tick `clickTick` to the first frame starting with `prefix`.
    int Latency(int clickTick, const std::string& prefix) const {
        for (const Sent& s : all_) {
            if (s.tick > clickTick && s.text.rfind(prefix, 0) == 0) {
                return s.tick - clickTick;
            }
        }
        return -1;
    }

    // Clicks a control the operator can reach right now.
    void Press(int control) {
        ASSERT_EQ(0, gPowerInfo.waitShown) << "the wait popup would take the click";
        ASSERT_EQ(1, Visible(control)) << control;
        ASSERT_EQ(0, Dimmed(control)) << control;
        Click(control);
    }
    void Type(int control, const std::string& text) {
        ASSERT_EQ(0, gPowerInfo.waitShown);
        ASSERT_EQ(0, Dimmed(control)) << control;
        TypeAndCommit(control, text);
    }

    std::string LinkArea() const {
        std::string name;
        GetCtrlVal(gMainPanel, PANEL_TXT_MODELNAME, &name);
        if (LampOn(PANEL_LED_LINK) == 1 && !Visible(PANEL_TXT_OFFLINE) &&
            Visible(PANEL_TXT_MODELNAME) && !Visible(PANEL_BT_CONNECT) &&
            Visible(PANEL_BT_DISCONNECT)) {
            return "online " + name;
        }
        if (LampOn(PANEL_LED_LINK) == 0 && Visible(PANEL_TXT_OFFLINE) &&
            !Visible(PANEL_TXT_MODELNAME) && Visible(PANEL_BT_CONNECT) &&
            !Visible(PANEL_BT_DISCONNECT)) {
            return "offline";
        }
        return "mixed";
    }
    // "stopped", "running" or "alarm" when the output area shows exactly one of them.
    std::string OutputArea() const {
        const bool lamp = Visible(PANEL_LED_OUTPUT) == 1;
        const bool lit = LampOn(PANEL_LED_OUTPUT) == 1;
        const bool running = Visible(PANEL_TXT_RUNNING) == 1;
        const bool stopped = Visible(PANEL_TXT_STOPPED) == 1;
        const bool alarm = Visible(PANEL_LED_ALARM) == 1 && Visible(PANEL_TXT_ALARM) == 1;
        const bool clearable = Dimmed(PANEL_BT_CLEAR_ALARM) == 0;
        if (lamp && !lit && stopped && !running && !alarm && !clearable) {
            return "stopped";
        }
        if (lamp && lit && running && !stopped && !alarm && !clearable) {
            return "running";
        }
        if (!lamp && !running && !stopped && alarm && clearable) {
            return "alarm";
        }
        return "mixed";
    }
    std::vector<double> MeterValues() const {
        std::vector<double> out;
        for (int m : kMeters) {
            out.push_back(Value(m));
        }
        return out;
    }
    // The meters show what the instrument last measured, to their decimals.
    void ExpectMetersShowLastMeasurement() {
        const std::vector<double> want = Readings(lastMeasurement_);
        ASSERT_EQ(4u, want.size()) << lastMeasurement_;
        const std::vector<double> shown = MeterValues();
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(want[i], shown[i], 1e-9) << "meter " << i << " " << lastMeasurement_;
        }
    }
    // The latest `n` points of chart i, oldest first.
    std::vector<double> ChartTail(int i, int n) const {
        std::vector<double> all(600);
        const int count = UiStripChartPoints(gMainPanel, kCharts[i], all.data(), 600);
        all.resize(std::max(0, count));
        if (static_cast<int>(all.size()) > n) {
            all.erase(all.begin(), all.end() - n);
        }
        return all;
    }
    // A line from a remote client, between two ticks; it must be taken without an error.
    std::string Remote(const std::string& line) {
        std::string out;
        const std::string bytes = line + "\n";
        RemoteSessionFeed(&remote_, bytes.data(), bytes.size(), &out);
        EXPECT_TRUE(remote_.errors.empty()) << line << ": " << remote_.errors.front();
        return out;
    }
    void Shot(const std::string& name) {
        const std::string dir = vx52test::BinDir() + "/../screenshots";
        std::filesystem::create_directories(dir);
        EXPECT_EQ(0, UiSavePanelImage(gMainPanel, (dir + "/e2e-" + name + ".png").c_str()));
    }

    struct Sent {
        int tick;
        std::string text;
    };
    sim::Simulator sim_;
    RemoteSession remote_;
    std::vector<Sent> all_;
    Lines phase_;
    std::string lastMeasurement_;
};

// Connect, set 230.0 V and 60.0 Hz, start, step up and down, stop, 400 Hz, start, overload,
// clear, start, stop. Clicks land alternately on an idle link and right after a poll has gone
// out, so the same run gives the click-to-frame figures for both.
TEST_F(OperatorScenarioTest, FrontPanelScenarioPutsExactlyTheseFramesOnTheWire) {
    Press(PANEL_BT_CONNECT);
    TicksTo(20);
    EXPECT_EQ(Join({"1 RMO* wait", "6 RTE* wait", "11 RNS* wait", "16 RTE* wait"}), Join(Phase()));
    EXPECT_EQ("offline", LinkArea()) << "the window waits for the end of the sequence";
    TicksTo(21);
    EXPECT_EQ("online VX52300P", LinkArea());
    EXPECT_EQ(0, gPowerInfo.waitShown);
    EXPECT_EQ("stopped", OutputArea());
    // The settings read from the instrument are on the panel.
    EXPECT_DOUBLE_EQ(220.0, Value(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(50.0, Value(PANEL_NUM_FREQ));
    EXPECT_EQ(1, LampOn(PANEL_LED_HIGH));

    // Set controls: on an idle link, then right after a state poll went out.
    TicksTo(50);
    Type(PANEL_NUM_VOL, "230.0");
    TicksTo(61);
    Type(PANEL_NUM_FREQ, "60.0");
    TicksTo(90);
    EXPECT_EQ(Join({"41 RTE*", "51 SNO=2300,0500,05,05,0,1*", "61 RTE*",
                    "66 SNO=2300,0600,05,05,0,1*", "81 RTE*"}),
              Join(Phase()));
    EXPECT_EQ(2300, sim_.instrument().settings().vol);
    EXPECT_EQ(600, sim_.instrument().settings().freq);

    // Start on an idle link: the settings go first, then the start; the lamp only asks, the
    // acknowledgement switches the window.
    Press(PANEL_LED_OUTPUT);
    TicksTo(100);
    EXPECT_EQ("stopped", OutputArea());
    TicksTo(101);
    EXPECT_EQ("running", OutputArea());
    EXPECT_EQ(0, gPowerInfo.waitShown);
    TicksTo(115);
    EXPECT_EQ(Join({"91 SNO=2300,0600,05,05,0,1*", "96 CST* wait", "102 RTE*", "108 RNT*"}),
              Join(Phase()));
    ExpectMetersShowLastMeasurement();
    EXPECT_DOUBLE_EQ(230.0, Value(PANEL_MEA_VOL));
    EXPECT_DOUBLE_EQ(60.0, Value(PANEL_MEA_FREQ));
    // A point every second tick from the acknowledged start on: zeros until the first
    // measurement reply (read in tick 113), then what the instrument measured.
    for (int i = 0; i < 4; ++i) {
        const double m = MeterValues()[i];
        EXPECT_NE(0, m) << "meter " << i;
        EXPECT_EQ((std::vector<double>{0, 0, 0, 0, 0, 0, m}), ChartTail(i, 600)) << "chart " << i;
    }

    // Step up on an idle link (ladder 225.0 / 230.0 / 235.0 V from the start), step down right
    // after a state poll. The measurement poll due meanwhile waits for the link.
    Press(PANEL_BT_UUP);
    EXPECT_EQ(1, LampOn(PANEL_LED_UUP));
    TicksTo(122);
    Press(PANEL_BT_UDOWN);
    EXPECT_EQ(0, LampOn(PANEL_LED_UUP));
    TicksTo(141);
    EXPECT_EQ(Join({"116 SNO=2350,0600,05,05,0,1*", "122 RTE*", "127 SNO=2300,0600,05,05,0,1*",
                    "133 RNT*"}),
              Join(Phase()));
    EXPECT_EQ(2300, sim_.instrument().settings().vol);
    ExpectMetersShowLastMeasurement();
    for (int i = 0; i < 4; ++i) {
        std::vector<double> want(6, 0.0);
        want.resize(20, MeterValues()[i]);
        EXPECT_EQ(want, ChartTail(i, 600)) << "chart " << i;
    }
    Shot("running-60hz");

    // Stop on an idle link.
    TicksTo(148);
    Press(PANEL_LED_OUTPUT);
    TicksTo(155);
    EXPECT_EQ("stopped", OutputArea());
    EXPECT_EQ(std::vector<double>(4, 0.0), MeterValues());
    EXPECT_EQ(Join({"142 RTE*", "149 CSP* wait"}), Join(Phase()));
    EXPECT_FALSE(sim_.instrument().Running());

    // 400 Hz while stopped, then a start right after a state poll.
    Press(PANEL_BT_400);
    EXPECT_EQ(1, LampOn(PANEL_LED_400HZ));
    TicksTo(162);
    Press(PANEL_LED_OUTPUT);
    TicksTo(189);
    EXPECT_EQ(Join({"156 SNO=2300,4000,05,05,0,1*", "162 RTE*", "167 SNO=2300,4000,05,05,0,1*",
                    "172 CST* wait", "178 RNT*", "184 RTE*"}),
              Join(Phase()));
    EXPECT_EQ("running", OutputArea());
    ExpectMetersShowLastMeasurement();
    EXPECT_DOUBLE_EQ(400.0, Value(PANEL_MEA_FREQ));
    const std::vector<double> at400 = MeterValues();
    // At a fixed high frequency the output runs at its voltage: nothing to adjust.
    EXPECT_EQ(1, Dimmed(PANEL_NUM_FREQ));
    EXPECT_EQ(1, Dimmed(PANEL_NUM_VOL));
    EXPECT_EQ(1, Dimmed(PANEL_BT_UUP));
    EXPECT_EQ(1, Dimmed(PANEL_BT_UDOWN));
    Shot("running-400hz");

    // The instrument trips. The next measurement reads zeros, the next state poll reports the
    // alarm and the window shows it.
    TicksTo(190);
    sim_.Command("overload", nullptr);
    TicksTo(208);
    EXPECT_EQ("running", OutputArea());
    EXPECT_EQ(std::vector<double>(4, 0.0), MeterValues());
    TicksTo(209);
    EXPECT_EQ("alarm", OutputArea());
    EXPECT_EQ(1, Dimmed(PANEL_BT_400));
    EXPECT_EQ(0, Dimmed(PANEL_BT_UUP));
    std::string alarmText;
    GetCtrlVal(gMainPanel, PANEL_TXT_ALARM, &alarmText);
    EXPECT_FALSE(alarmText.empty());
    Shot("alarm");
    // The charts were cleared by the start and drawn while the output ran (ticks 177 to 209):
    // zeros until the first measurement (read in 183), its values, then the tripped zeros
    // (read in 203).
    for (int i = 0; i < 4; ++i) {
        std::vector<double> want(3, 0.0);
        want.resize(13, at400[i]);
        want.resize(16, 0.0);
        EXPECT_EQ(want, ChartTail(i, 600)) << "chart " << i;
    }
    TicksTo(212);
    EXPECT_EQ(Join({"198 RNT*", "204 RTE*"}), Join(Phase()));

    // Clear the alarm on an idle link: two stops, then the state poll finds it stopped.
    Press(PANEL_BT_CLEAR_ALARM);
    TicksTo(218);
    EXPECT_EQ("stopped", OutputArea());
    TicksTo(230);
    EXPECT_EQ(Join({"213 CSP* wait", "218 CSP* wait", "224 RTE*"}), Join(Phase()));
    EXPECT_EQ(0, gPowerInfo.waitShown);
    EXPECT_FALSE(sim_.instrument().Alarm());

    // Start again at 400 Hz on an idle link, and stop right after a measurement poll.
    Press(PANEL_LED_OUTPUT);
    TicksTo(262);
    EXPECT_EQ("running", OutputArea());
    Press(PANEL_LED_OUTPUT);
    TicksTo(280);
    EXPECT_EQ(Join({"231 SNO=2300,4000,05,05,0,1*", "236 CST* wait", "242 RNT*", "248 RTE*",
                    "262 RNT*", "267 CSP* wait", "273 RTE*"}),
              Join(Phase()));
    EXPECT_EQ("stopped", OutputArea());
    EXPECT_EQ(0, gPowerInfo.waitShown);
    EXPECT_EQ("online VX52300P", LinkArea());

    std::printf("click to frame, in ticks of 50 ms (idle link / right after a poll went out):\n"
                "  set-control change  SNO %d / %d\n"
                "  step button         SNO %d / %d\n"
                "  start               SNO %d / %d, CST %d / %d\n"
                "  stop                CSP %d / %d\n",
                Latency(50, "SNO"), Latency(61, "SNO"), Latency(115, "SNO"), Latency(122, "SNO"),
                Latency(90, "SNO"), Latency(162, "SNO"), Latency(90, "CST"), Latency(162, "CST"),
                Latency(148, "CSP"), Latency(262, "CSP"));
}

// The first half of the scenario above from a remote client, each line at the tick of the
// operator's action: the same frames at the same ticks.
TEST_F(OperatorScenarioTest, RemoteLinesPutThePanelsFramesOnTheWire) {
    Press(PANEL_BT_CONNECT);
    TicksTo(50);
    EXPECT_EQ("ONLINE\n", Remote("SYST:LINK?"));
    Remote("SOUR:VOLT 230.0");
    TicksTo(61);
    Remote("SOUR:FREQ 60.0");
    TicksTo(90);
    Phase();
    Remote("OUTP ON");
    TicksTo(115);
    EXPECT_EQ(Join({"91 SNO=2300,0600,05,05,0,1*", "96 CST* wait", "102 RTE*", "108 RNT*"}),
              Join(Phase()));
    EXPECT_EQ("230.0,", Remote("MEAS:ALL?").substr(0, 6));
    Remote("VOLT UP");
    TicksTo(122);
    Remote("VOLT DOWN");
    TicksTo(148);
    Remote("OUTP OFF");
    TicksTo(155);
    EXPECT_EQ(Join({"116 SNO=2350,0600,05,05,0,1*", "122 RTE*", "127 SNO=2300,0600,05,05,0,1*",
                    "133 RNT*", "142 RTE*", "149 CSP* wait"}),
              Join(Phase()));
    EXPECT_EQ("stopped", OutputArea());
    EXPECT_EQ("0\n", Remote("OUTP?"));
    const std::vector<Sent> frames = all_;
    const auto at = [&frames](const std::string& text) {
        for (const Sent& s : frames) {
            if (s.text == text) {
                return s.tick;
            }
        }
        return -1;
    };
    EXPECT_EQ(51, at("SNO=2300,0500,05,05,0,1*"));
    EXPECT_EQ(66, at("SNO=2300,0600,05,05,0,1*"));
}

// The instrument vanishes while the output runs: the program misses three replies, goes offline
// without a word and stops writing; after the instrument is back, the connect button brings the
// link up again, and the connect sequence stops the output the instrument kept running.
TEST_F(OperatorScenarioTest, UnplugGoesOfflineQuietlyAndTheConnectButtonReconnects) {
    Press(PANEL_BT_CONNECT);
    TicksTo(25);
    Press(PANEL_LED_OUTPUT);
    TicksTo(50);
    EXPECT_EQ(Join({"1 RMO* wait", "6 RTE* wait", "11 RNS* wait", "16 RTE* wait",
                    "26 SNO=2200,0500,05,05,0,1*", "31 CST* wait", "37 RNT*", "43 RTE*"}),
              Join(Phase()));
    ASSERT_EQ("running", OutputArea());

    sim_.Unplug();
    // The measurement poll due at 57 and its two repeats go nowhere; the third miss ends it.
    TicksTo(71);
    EXPECT_EQ(1, gPowerInfo.online);
    TicksTo(72);
    EXPECT_EQ(0, gPowerInfo.online);
    EXPECT_EQ("offline", LinkArea());
    EXPECT_EQ(0, gPowerInfo.waitShown);
    EXPECT_EQ(std::vector<double>(4, 0.0), MeterValues());
    EXPECT_EQ("running", OutputArea()) << "the last known output state stays on screen";
    // Offline the meters show no number and the output only what was last known.
    for (int m : kMeters) {
        std::string shown;
        GetCtrlVal(gMainPanel, m, &shown);
        EXPECT_EQ("---", shown) << m;
    }
    std::string caption;
    GetCtrlVal(gMainPanel, PANEL_TXT_RUNNING, &caption);
    EXPECT_EQ("最后状态：运行", caption);

    // Back on the line, the program stays quiet until the operator connects.
    std::string error;
    ASSERT_TRUE(sim_.Replug(&error)) << error;
    TicksTo(100);
    EXPECT_EQ(Lines{}, Phase());
    // Offline, the running charts go on in time without values: one empty slot every second
    // tick from the loss in tick 72 on.
    for (int i = 0; i < 4; ++i) {
        std::vector<StripChartSlot> shown;
        GetStripChartSlots(gMainPanel, kCharts[i], &shown);
        size_t empty = 0;
        while (empty < shown.size() && std::isnan(shown[shown.size() - 1 - empty].value)) {
            ++empty;
        }
        EXPECT_EQ(15u, empty) << "chart " << i;
    }

    Press(PANEL_BT_CONNECT);
    TicksTo(152);
    EXPECT_EQ(Join({"101 RMO* wait", "106 RTE* wait", "111 CSP* wait", "116 CSP* wait",
                    "121 RNS* wait", "126 RTE* wait", "151 RTE*"}),
              Join(Phase()));
    EXPECT_EQ("online VX52300P", LinkArea());
    EXPECT_EQ("stopped", OutputArea());
    EXPECT_FALSE(sim_.instrument().Running());
    std::string shown;
    GetCtrlVal(gMainPanel, PANEL_MEA_VOL, &shown);
    EXPECT_EQ("0.0", shown) << "online the meters show numbers again";
    GetCtrlVal(gMainPanel, PANEL_TXT_LINKLOST, &shown);
    EXPECT_EQ("输出正在运行，已在连接时停止", shown) << "the stop on connect is told once";
}

// Clicks at every point of the poll cycle, stopped and running: a command waits at most for the
// one exchange in progress, and a start for its settings command as well.
TEST_F(OperatorScenarioTest, ClickToFrameOverThePollCycle) {
    struct Tally {
        int n = 0, min = 1 << 20, max = 0, sum = 0;
        void Add(int v) {
            ++n;
            min = std::min(min, v);
            max = std::max(max, v);
            sum += v;
        }
    };
    std::map<std::string, Tally> tallies;
    // Runs the action between two ticks and ticks on until each frame it asks for is out.
    auto measure = [&](const std::string& what, std::vector<std::pair<std::string, int>> frames,
                       auto action) {
        const std::string state = gCommInfo.presentFlag == 1 ? "busy" : "idle";
        const int at = TickCount();
        action();
        for (auto& [prefix, worst] : frames) {
            while (Latency(at, prefix) < 0 && TickCount() < at + 30) {
                Tick();
            }
            const int ticks = Latency(at, prefix);
            EXPECT_GE(ticks, 1) << what << " " << prefix << " after tick " << at;
            EXPECT_LE(ticks, worst) << what << " " << prefix << " after tick " << at;
            tallies[what + " " + prefix + " " + state].Add(ticks);
        }
    };
    auto tickUntil = [&](auto done) {
        for (int i = 0; i < 40 && !done(); ++i) {
            Tick();
        }
        ASSERT_TRUE(done());
    };
    auto ticks = [&](int n) { TicksTo(TickCount() + n); };

    Press(PANEL_BT_CONNECT);
    TicksTo(25);
    ASSERT_EQ("online VX52300P", LinkArea());
    for (int k = 0; k < 20; ++k) {
        const std::string volts = k % 2 ? "231.0" : "230.0";
        ticks(2 + k % 7);
        measure("set, stopped", {{"SNO", 5}}, [&] { Type(PANEL_NUM_VOL, volts); });
        ticks(1 + k * 3 % 11);
        measure("start", {{"SNO", 5}, {"CST", 10}}, [&] { Press(PANEL_LED_OUTPUT); });
        tickUntil([] { return gPowerInfo.outputOn == 1 && gPowerInfo.waitShown == 0; });
        ticks(k % 13);
        measure("set, running", {{"SNO", 5}}, [&] { Type(PANEL_NUM_VOL, "232.0"); });
        ticks(k * 5 % 17);
        measure("stop", {{"CSP", 5}}, [&] { Press(PANEL_LED_OUTPUT); });
        tickUntil([] { return gPowerInfo.outputOn == 0 && gPowerInfo.waitShown == 0; });
        // A remote client's voltage line waits for the link no longer than a click does.
        ticks(k * 7 % 19);
        measure("remote VOLT, stopped", {{"SNO", 5}},
                [&] { Remote(k % 2 ? "VOLT 233.0" : "VOLT 234.0"); });
    }
    EXPECT_EQ("online VX52300P", LinkArea());

    std::printf("click to frame over the poll cycle, ticks of 50 ms (clicks: min / mean / max)\n");
    for (const auto& [key, t] : tallies) {
        std::printf("  %-22s %2d clicks: %d / %.1f / %d\n", key.c_str(), t.n, t.min,
                    static_cast<double>(t.sum) / t.n, t.max);
    }
}

// Rows of the log whose kind column is `kind`, each as its fields; no field of these runs holds a
// comma, so a plain split reads them.
std::vector<Lines> LogRows(const std::string& text, const std::string& kind) {
    std::vector<Lines> rows;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        Lines fields;
        std::stringstream f(line);
        for (std::string field; std::getline(f, field, ',');) {
            fields.push_back(field);
        }
        if (line.back() == ',') {
            fields.push_back("");
        }
        if (fields.size() == 14 && fields[2] == kind) {
            rows.push_back(fields);
        }
    }
    return rows;
}

std::string EventNames(const std::string& text) {
    std::string out;
    for (const Lines& row : LogRows(text, "event")) {
        out += row[12] + " ";
    }
    return out;
}

std::string CtrlText(int control) {
    std::string text;
    GetCtrlVal(gMainPanel, control, &text);
    return text;
}

// With a log running the instrument vanishes: the link area says when and on which device the
// link was lost, the log has one link_lost row, and the measure rows repeat what the instrument
// sent. After the operator connects again the notice goes and the log goes on.
TEST_F(OperatorScenarioTest, LostLinkIsNoticedAndLoggedAndTheLogGoesOn) {
    SetLanguageEnglish();
    PanelMainLanguageSet();
    const std::string log = scratch_->path() + "/run.csv";
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    popups_.filePath = log;
    ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOG_START));
    ASSERT_EQ(1, DataLogIsOn());

    char device[512] = {};
    ASSERT_NE(nullptr, realpath(sim_.SlavePath().c_str(), device));
    Press(PANEL_BT_CONNECT);
    TicksTo(25);
    EXPECT_EQ(1, Visible(PANEL_TXT_LINKINFO));
    EXPECT_EQ("COM1 = " + std::string(device) + ", 9600 baud, address 1",
              CtrlText(PANEL_TXT_LINKINFO));
    Press(PANEL_LED_OUTPUT);
    TicksTo(50);
    const std::string measured = lastMeasurement_;
    ASSERT_FALSE(measured.empty());

    sim_.Unplug();
    TicksTo(72);
    ASSERT_EQ(0, gPowerInfo.online);
    EXPECT_EQ(0, Visible(PANEL_TXT_LINKINFO));
    EXPECT_EQ(1, Visible(PANEL_TXT_LINKLOST));
    const std::string notice = CtrlText(PANEL_TXT_LINKLOST);
    EXPECT_TRUE(std::regex_match(notice, std::regex("Link lost at [0-9]{2}:[0-9]{2}:[0-9]{2}: "
                                                    "no answer on COM1 \\(" +
                                                    std::string(device) + "\\)")))
        << notice;
    Shot("link-lost-en");
    ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_SET_LANG_CN));
    EXPECT_EQ("通讯中断（" + notice.substr(13, 8) + "）：COM1（" + device + "）无应答",
              CtrlText(PANEL_TXT_LINKLOST))
        << "the notice speaks the language in force";
    Shot("link-lost-cn");

    std::string error;
    ASSERT_TRUE(sim_.Replug(&error)) << error;
    TicksTo(100);
    EXPECT_EQ(1, Visible(PANEL_TXT_LINKLOST)) << "the notice stays until the next connect";
    Press(PANEL_BT_CONNECT);
    EXPECT_EQ(0, Visible(PANEL_TXT_LINKLOST));
    TicksTo(152);
    Press(PANEL_LED_OUTPUT);
    TicksTo(185);
    Shot("link-online-cn");
    ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOG_STOP));

    const std::string text = vx52test::ScratchDir::ReadFile(log);
    // The instrument's settings come in with the connect; the connect sequence stops the output
    // the instrument kept running while it was away, and says so in place of an output_off.
    EXPECT_EQ("log_start connect set_change output_on link_lost connect output_stopped_on_connect "
              "output_on log_stop ",
              EventNames(text));
    const std::vector<Lines> rows = LogRows(text, "measure");
    ASSERT_GE(rows.size(), 2u);
    // The first measurement of each run, field for field as the instrument sent it.
    const std::vector<double> want = Readings(measured);
    const Lines& first = rows.front();
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(want[i], std::stod(first[3 + i]), 1e-9) << i << " " << measured;
    }
    EXPECT_EQ((Lines{"220.0", "50.0", "HIGH", "on", "online", "", ""}),
              Lines(first.begin() + 7, first.end()));
    EXPECT_NE(std::string::npos, text.find(",measure,", text.rfind(",connect,")))
        << "measure rows after the second connect";
    for (const std::string& line : {DataLogHeader()}) {
        EXPECT_EQ(0u, text.find(line + "\n"));
    }
}

// The monitor lists each frame with its bytes and meaning while it is open, passes over frames
// while paused or closed, clears, saves what it lists and keeps only the newest 10,000.
TEST_F(OperatorScenarioTest, LinkMonitorListsFramesWhileOpen) {
    SetLanguageEnglish();
    PanelMainLanguageSet();
    auto rows = [] {
        int n = -1;
        GetNumTableRows(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES, &n);
        return n;
    };
    auto row = [](int i) {
        std::vector<std::string> cells;
        GetTableRowCells(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES, i, &cells);
        Lines out(cells.begin(), cells.end());
        out.erase(out.begin()); // the time
        return Join(out);
    };
    ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_SET_LINKMON));
    ASSERT_GT(gLinkMonPanel, 0);
    Press(PANEL_BT_CONNECT);
    TicksTo(6);
    ASSERT_EQ(3, rows());
    EXPECT_EQ(Join({"sent", "7B 07 00 01 52 4D 4F 2A 20 7D", "{...RMO* }", "model query"}), row(0));
    EXPECT_EQ(0u, row(1).find("recv.\n7B ")) << row(1);
    EXPECT_NE(std::string::npos, row(1).find("\nmodel reply accepted\n")) << row(1);
    EXPECT_EQ(Join({"sent", "7B 07 00 01 52 54 45 2A 1D 7D", "{...RTE*.}", "state query"}), row(2));
    // The time fits its column; a row's tip is the whole frame, whatever its cells show.
    auto* table = static_cast<QTableView*>(UiWidgetOfCtrl(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES));
    EXPECT_GE(table->columnWidth(0), table->fontMetrics().horizontalAdvance("00:00:00.000"));
    const QString tip =
        table->model()->data(table->model()->index(1, 2), Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains("7B 11 00 01 52 4D 4F 3D 56 58 35 32 33 30 30 50 30 31 96 7D"))
        << tip.toStdString();
    EXPECT_TRUE(tip.contains("model reply accepted")) << tip.toStdString();

    bool quit = false;
    sim_.Command("silence on", &quit);
    TicksTo(16);
    EXPECT_EQ("recv.\n\n\nsettings query: nothing received\n", row(rows() - 2));
    sim_.Command("silence off", &quit);

    const int before = rows();
    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_LANG_CN);
    QTest::mouseClick(static_cast<QWidget*>(UiWidgetOfCtrl(gLinkMonPanel, LINKMONPANEL_BT_PAUSE)),
                      Qt::LeftButton);
    TicksTo(40);
    EXPECT_EQ(before, rows()) << "paused";
    QTest::mouseClick(static_cast<QWidget*>(UiWidgetOfCtrl(gLinkMonPanel, LINKMONPANEL_BT_PAUSE)),
                      Qt::LeftButton);
    TicksTo(60);
    ASSERT_GT(rows(), before);
    EXPECT_NE(std::string::npos, row(rows() - 1).find("接收")) << "new rows in the new language";
    const std::string shots = vx52test::BinDir() + "/../screenshots";
    EXPECT_EQ(0, UiSavePanelImage(gLinkMonPanel, (shots + "/link-monitor-cn.png").c_str()));

    const std::string saved = scratch_->path() + "/frames.txt";
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    popups_.filePath = saved;
    QTest::mouseClick(static_cast<QWidget*>(UiWidgetOfCtrl(gLinkMonPanel, LINKMONPANEL_BT_SAVE)),
                      Qt::LeftButton);
    const std::string text = vx52test::ScratchDir::ReadFile(saved);
    EXPECT_EQ(rows() + 1, std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(0u, text.find("时间\t方向\t字节（十六进制）\t文本\t含义\n"));
    // The table shows the clock time; the saved text has the full time stamp.
    std::vector<std::string> first;
    GetTableRowCells(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES, 0, &first);
    EXPECT_TRUE(std::regex_match(first.at(0), std::regex(R"(\d\d:\d\d:\d\d\.\d{3})"))) << first[0];
    const std::string firstSaved = text.substr(text.find('\n') + 1);
    EXPECT_TRUE(std::regex_search(
        firstSaved, std::regex(R"(^\d{4}-\d\d-\d\dT)" + first[0] + R"([+-]\d\d:\d\d\t)")))
        << firstSaved.substr(0, 40);

    QTest::mouseClick(static_cast<QWidget*>(UiWidgetOfCtrl(gLinkMonPanel, LINKMONPANEL_BT_CLEAR)),
                      Qt::LeftButton);
    EXPECT_EQ(0, rows());
    const uint8_t frame[] = {0x7B, 0x0A};
    for (int i = 0; i < 10005; ++i) {
        LinkNotifyFrameSent(frame, 2, 240, 235);
    }
    EXPECT_EQ(10000, rows());

    QTest::mouseClick(static_cast<QWidget*>(UiWidgetOfCtrl(gLinkMonPanel, LINKMONPANEL_BT_CLOSE)),
                      Qt::LeftButton);
    EXPECT_EQ(0, gLinkMonPanel);
    TicksTo(100);
    ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_SET_LINKMON));
    EXPECT_EQ(0, rows()) << "nothing is kept while closed";
}

// Output events in the log come from the source's answers only: a start or stop it
// acknowledged, a state reply that changes what was known, the stop of the connect sequence
// (output_stopped_on_connect in place of an output_on and an output_off). What the window does
// by itself offline writes nothing.
TEST_F(OperatorScenarioTest, LogWritesTheOutputAsTheSourceAnsweredIt) {
    const std::string log = scratch_->path() + "/events.csv";
    ASSERT_EQ(0, RecordingStart(log.c_str()));
    auto ticks = [this](int n) { TicksTo(TickCount() + n); };
    // Long enough for a connect that stops a running output.
    auto connect = [&] {
        Press(PANEL_BT_CONNECT);
        ticks(40);
    };
    auto disconnect = [&] {
        Press(PANEL_BT_DISCONNECT);
        ticks(2);
    };
    auto output = [&] {
        Press(PANEL_LED_OUTPUT);
        ticks(30);
    };
    auto cancelLinkDialog = [&] {
        DisplayPanelCommSet(1);
        BT_COMMSET_CANCEL_CALLBACK(gCommPanel, COMMPANEL_BT_CANCEL, EVENT_COMMIT, nullptr, 0, 0);
    };
    auto state = [&](const char* c) { sim_.Command(std::string("state ") + c, nullptr); };
    const struct {
        const char* what;
        std::function<void()> act;
        const char* events; // output events written meanwhile
    } steps[] = {
        {"offline toggles", [&] { output(), output(); }, ""},
        {"offline on, then cancel", [&] { output(), cancelLinkDialog(); }, ""},
        {"connect to a stopped source", connect, ""},
        {"start answered", output, "output_on "},
        {"stop answered", output, "output_off "},
        {"started at the source", [&] { state("2"), ticks(45); }, "output_on "},
        {"stopped at the source", [&] { state("normal"), ticks(45); }, "output_off "},
        {"reconnect to a running source", [&] { output(), disconnect(), connect(); },
         "output_on output_stopped_on_connect "},
        {"link lost, cancel offline",
         [&] { output(), sim_.Unplug(), ticks(40), cancelLinkDialog(); }, "output_on "},
        {"back, still running",
         [&] {
             std::string e;
             sim_.Replug(&e), connect();
         },
         "output_stopped_on_connect "},
    };
    size_t seen = 0;
    for (const auto& step : steps) {
        step.act();
        std::string events;
        std::stringstream names(EventNames(vx52test::ScratchDir::ReadFile(log)));
        size_t n = 0;
        for (std::string name; names >> name; ++n) {
            if (n >= seen && name.rfind("output_", 0) == 0) {
                events += name + " ";
            }
        }
        seen = n;
        EXPECT_EQ(step.events, events) << step.what;
    }
    EXPECT_FALSE(sim_.instrument().Running());
}

// Quitting while the source runs asks; each answer does what it says, and a stopped output
// asks nothing.
TEST_F(OperatorScenarioTest, QuitWhileTheOutputRunsAsksFirst) {
    SetLanguageEnglish();
    const struct {
        int answer;         // 0: no question expected
        bool running;       // the output runs when the operator quits
        bool quits;         // the program shuts down (link closed, autosave written)
        bool sourceRunning; // the source's output afterwards
    } cases[] = {
        {0, false, true, false},
        {3, true, false, true}, // Cancel (Escape)
        {2, true, true, true},  // leave it running and quit
        {1, true, true, false}, // stop it and quit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        std::filesystem::remove(AUTOSAVE_FILE);
        popups_.generics.clear();
        popups_.genericAnswer = c.answer;
        if (gPowerInfo.online == 0) {
            Press(PANEL_BT_CONNECT);
        }
        TicksTo(TickCount() + 40);
        if (c.running != (gPowerInfo.outputOn == 1)) {
            Press(PANEL_LED_OUTPUT);
            TicksTo(TickCount() + 30);
        }
        ASSERT_EQ(c.running, sim_.instrument().Running());
        Phase();
        ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_EXIT));
        TicksTo(TickCount() + 20);
        UiProcessEvents();
        if (c.answer == 0) {
            EXPECT_TRUE(popups_.generics.empty());
        } else {
            EXPECT_EQ((Lines{"Quit|The output is on.|&Stop it and quit|&Leave it running and "
                             "quit|Cancel"}),
                      popups_.generics);
            EXPECT_EQ(std::vector<int>{3}, popups_.genericEscapes);
            popups_.genericEscapes.clear();
        }
        EXPECT_EQ(c.quits, gPowerInfo.online == 0);
        EXPECT_EQ(c.quits, vx52test::ScratchDir::Exists(AUTOSAVE_FILE));
        EXPECT_EQ(c.sourceRunning, sim_.instrument().Running());
        const Lines sent = Phase();
        const bool stopSent = std::any_of(sent.begin(), sent.end(), [](const std::string& l) {
            return l.find(" CSP*") != std::string::npos;
        });
        EXPECT_EQ(c.answer == 1, stopSent) << Join(sent);
    }
}

// A file that is not an output-settings file is refused with a message naming it and why, and
// nothing reaches the source; one with a value out of range is loaded repaired, and the message
// says which value became what.
TEST_F(OperatorScenarioTest, LoadingAFileThatIsNoSettingsFileSendsNothing) {
    SetLanguageEnglish();
    Press(PANEL_BT_CONNECT);
    TicksTo(30);
    const struct {
        const char* name;
        std::string bytes;
        const char* said;
    } files[] = {
        {"empty.52P", "", "the file is empty"},
        {"notes.52P", "Just some notes\r\nabout the bench\r\n",
         "it is not a settings file (it has no [FileInfo] Type)"},
        {"program.52P",
         std::string("\x7f"
                     "ELF\x02\x01\x01\0\0\0",
                     10),
         "it is not a text file"},
        {"Set.Dat", "[FileInfo]\r\nType = 128\r\n",
         "it is a settings file of another kind (Type = 128)"},
    };
    const Normal52PSet before = gNormal52PSet;
    for (const auto& f : files) {
        const std::string path = scratch_->path() + "/" + f.name;
        vx52test::ScratchDir::WriteFile(path, f.bytes);
        popups_.messages.clear();
        popups_.fileStatus = VAL_EXISTING_FILE_SELECTED;
        popups_.filePath = path;
        Phase();
        ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOAD));
        TicksTo(TickCount() + 25);
        EXPECT_EQ((Lines{"Warning|\"" + path + "\" was not loaded: " + f.said +
                         ". Nothing was sent to the power source."}),
                  popups_.messages);
        for (const std::string& sent : Phase()) {
            EXPECT_EQ(std::string::npos, sent.find("SNO")) << f.name << ": " << sent;
        }
        EXPECT_EQ(0, std::memcmp(&before, &gNormal52PSet, sizeof before)) << f.name;
    }

    const std::string path = scratch_->path() + "/hand-made.52P";
    vx52test::ScratchDir::WriteFile(path, "[FileInfo]\r\nType = 65\r\n[Value]\r\nVol = 5000\r\n"
                                          "Freq = 600\r\nUp2U = 99\r\n");
    popups_.messages.clear();
    popups_.filePath = path;
    ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOAD));
    TicksTo(TickCount() + 25);
    EXPECT_EQ((Lines{"Warning|\"" + path +
                     "\" was loaded. Values out of range were replaced by "
                     "their defaults:\nVol: 5000 -> 2200\nUp2U: 99 -> 5"}),
              popups_.messages);
    EXPECT_NE(std::string::npos, Join(Phase()).find("SNO=2200,0600,05,"));
    popups_.messages.clear();
}

// What start-up found, in the link area: a source that never answered was not lost, and a
// "Set.Dat" that could not be used whole says so, with the system's reason in Chinese too.
TEST_F(OperatorScenarioTest, LinkAreaSaysWhatTheStartFound) {
    char device[512] = {};
    ASSERT_NE(nullptr, realpath(sim_.SlavePath().c_str(), device));
    sim_.Command("silence on", nullptr);
    Press(PANEL_BT_CONNECT);
    TicksTo(20);
    ASSERT_EQ(0, gPowerInfo.online);
    EXPECT_EQ("COM1（" + std::string(device) + "）无应答", CtrlText(PANEL_TXT_LINKLOST));

    const struct {
        const char* setDat; // nullptr: a folder in its place
        const char* note;   // "" when nothing is said
    } cases[] = {
        {"[FileInfo]\r\nType = 128\r\n[Value]\r\nCommTypeRS232Baudrate = 9600\r\n", ""},
        {"[FileInfo]\r\nType = 128\r\n[Value]\r\nCommTypeRS232Baudrate = 300\r\n",
         "Set.Dat：CommTypeRS232Baudrate 300 -> 9600（超出范围，已替换）"},
        {"[FileInfo]\r\nType = 65\r\n",
         "Set.Dat不是软件设置文件（是其他类型的设置文件（Type = 65）），使用默认设置。"},
        {nullptr, "无法读取Set.Dat（Is a directory（是一个目录）），使用默认设置。"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(SOFTSET_FILE);
        if (c.setDat) {
            vx52test::ScratchDir::WriteFile(SOFTSET_FILE, c.setDat);
        } else {
            std::filesystem::create_directory(SOFTSET_FILE);
        }
        LinkAreaReset();
        LinkAreaLanguageSet();
        SettingsReport report;
        FileReadSoftSet(SOFTSET_FILE, &report);
        LinkAreaSettingsNote(SOFTSET_FILE, report);
        EXPECT_EQ(c.note[0] != '\0', Visible(PANEL_TXT_LINKLOST) == 1) << c.note;
        if (c.note[0] != '\0') {
            EXPECT_EQ(c.note, CtrlText(PANEL_TXT_LINKLOST));
        }
    }
    std::filesystem::remove_all(SOFTSET_FILE);
}

} // namespace
