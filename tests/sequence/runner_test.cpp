// The run against a stand-in source and link counted in 50 ms ticks: the
// schedule (no drift, ramps, a busy link), the start, the limits and every
// way a run ends, and the CSV report the run leaves. No test sleeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "power/SourceLimits.h"
#include "sequence/Report.h"
#include "sequence/Runner.h"

namespace {

constexpr int kExchangeTicks = 5; // a request and its reply at 9600 baud
constexpr int kPollTicks = 20;

// The source and its link: a request keeps the link busy for one exchange,
// whose reply brings what the request asked for; polls take the link in turn
// and bring a measurement while the output runs.
struct Fake {
    SeqSourceState st{1, 1, 0, 0, 2200, 500, SOURCE_RANGE_HIGH};
    double now = 1000;
    int ticks = 0;
    int busy = 0;
    int outputAfter = -1; // the output state the exchange in flight brings
    bool measuring = false;
    bool polls = false;
    int32_t reading[4] = {2300, 1000, 500, 230};
    std::vector<std::pair<double, std::string>> calls;
    int held = 0;
    SeqRunner runner;

    int Request(const std::string& what, int outputAfterReply = -1) {
        calls.emplace_back(now, what);
        busy = kExchangeTicks;
        outputAfter = outputAfterReply;
        measuring = false;
        st.idle = 0;
        return 0;
    }

    // One tick: the run first, then the link's step.
    void Tick() {
        now += 50;
        ++ticks;
        SeqRunnerTick(&runner);
        if (busy > 0) {
            if (--busy == 0) {
                st.idle = 1;
                if (outputAfter >= 0) {
                    st.outputOn = outputAfter;
                    outputAfter = -1;
                }
                if (measuring && st.outputOn) {
                    SeqRunnerMeasured(&runner, reading);
                }
            }
        } else if (polls && ticks % kPollTicks == 0) {
            busy = kExchangeTicks;
            measuring = true;
            st.idle = 0;
        }
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) {
            Tick();
        }
    }
    void Until(double ms) {
        while (now < ms) {
            Tick();
        }
    }
    // What the run asked for, "<ms after its start> <request>".
    std::vector<std::string> Since(double from) const {
        std::vector<std::string> out;
        for (const auto& [at, what] : calls) {
            if (at >= from) {
                out.push_back(std::to_string(static_cast<long>(at - runner.t0)) + " " + what);
            }
        }
        return out;
    }
    std::vector<std::string> Calls() const { return Since(0); }
};

Fake* gF = nullptr;

SeqSourceState State() {
    return gF->st;
}
int Range(int32_t level) {
    gF->st.volLevel = level;
    return gF->Request("range " + std::to_string(level));
}
int Preset(int32_t freq) {
    gF->st.freq = freq;
    return gF->Request("preset " + std::to_string(freq));
}
int Controls(int32_t vol, int32_t freq) {
    gF->st.vol = vol;
    gF->st.freq = freq;
    return gF->Request("set " + std::to_string(vol) + " " + std::to_string(freq));
}
int Output(int on) {
    return gF->Request(on ? "start" : "stop", on);
}
void Hold(int on) {
    gF->held = on;
}
const SeqSource kSource{State, Range, Preset, Controls, Output, Hold};

// 2026-12-08 14:00:00.000 UTC plus the fake's milliseconds.
void Clock(SysLocalTime* wall, double* ms) {
    *ms = gF->now;
    const long t = static_cast<long>(gF->now);
    *wall = SysLocalTime{2026,
                         12,
                         8,
                         14,
                         static_cast<int>(t / 60000 % 60),
                         static_cast<int>(t / 1000 % 60),
                         static_cast<int>(t % 1000),
                         0};
}

std::vector<std::string> gEvents;
void Started(const SeqRun&) {
    gEvents.push_back("start");
}
void StepStarted(const SeqRun&, const SeqStepResult& s) {
    gEvents.push_back("step " + std::to_string(s.repeat) + "." + std::to_string(s.step));
}
void StepFailed(const SeqRun&, const SeqStepResult& s) {
    gEvents.push_back("fail " + std::to_string(s.repeat) + "." + std::to_string(s.step) + " " +
                      s.reason);
}
void Ended(const SeqRun& run) {
    gEvents.push_back(std::string("end ") + SeqOutcomeWord(run.outcome));
}
const SeqListener kListener{Started, StepStarted, StepFailed, Ended};

SeqStep Step(int32_t vol, int32_t freq, int32_t dwell, int32_t ramp = 0) {
    SeqStep s;
    s.vol = vol;
    s.freq = freq;
    s.dwell = dwell;
    s.ramp = ramp;
    s.settle = 20;
    return s;
}

class RunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gF = &f;
        gEvents.clear();
        f.runner.clock = Clock;
    }
    void TearDown() override { gF = nullptr; }
    // Starts and runs the start until the first step runs; false when it did not.
    bool Run(const std::vector<SeqStep>& steps, SeqSettings settings = {}) {
        SeqProfile p;
        p.steps = steps;
        if (SeqRunnerStart(&f.runner, p, settings, &kSource, &kListener) != SEQ_START_OK) {
            return false;
        }
        for (int i = 0; i < 100 && f.runner.phase == SEQ_PHASE_STARTING; ++i) {
            f.Tick();
        }
        return f.runner.phase == SEQ_PHASE_RUNNING;
    }
    std::string State() const { return SeqRunnerStateText(f.runner); }
    Fake f;
};

TEST_F(RunnerTest, StepsFollowTheScheduleFromTheStartWithRampsAndNoDrift) {
    f.st.vol = 2300;
    SeqSettings two;
    two.repeat = 2;
    ASSERT_TRUE(Run({Step(2300, 500, 30), Step(2400, 500, 40, 2), Step(2400, 600, 25)}, two));
    EXPECT_EQ(f.held, 1);
    f.Until(f.runner.t0 + 20000);
    // Step k begins at the sum of the dwells before it; a ramp moves one equal
    // share a second; step 1 of the second repeat comes back from step 3.
    EXPECT_EQ(
        f.Since(f.runner.t0),
        (std::vector<std::string>{"4000 set 2350 500", "5000 set 2400 500", "7000 set 2400 600",
                                  "9500 set 2300 500", "13500 set 2350 500", "14500 set 2400 500",
                                  "16500 set 2400 600", "19000 stop"}));
    EXPECT_EQ(State(), "PASS");
    EXPECT_EQ(f.held, 0);
    EXPECT_EQ(gEvents.front(), "start");
    EXPECT_EQ(gEvents.back(), "end PASS");
    EXPECT_EQ(gEvents.size(), 8u) << "start, six steps, end";
}

TEST_F(RunnerTest, ABusyLinkDelaysASettingByOneExchangeAtMostAndTheNextOnesKeepTheirTimes) {
    f.st.vol = 2300;
    f.polls = true;
    SeqSettings three;
    three.repeat = 3;
    ASSERT_TRUE(Run({Step(2300, 500, 13), Step(2000, 500, 17, 1)}, three));
    f.Until(f.runner.t0 + 10000);
    // The ramp's one share lands a second into step 2; the stop ends the third repeat.
    const long scheduled[] = {2300, 3000, 5300, 6000, 8300, 9000};
    const std::vector<std::string> sent = f.Since(f.runner.t0);
    ASSERT_EQ(sent.size(), 6u);
    for (size_t i = 0; i < sent.size(); ++i) {
        const long at = std::stol(sent[i]);
        EXPECT_GE(at, scheduled[i]) << sent[i];
        EXPECT_LE(at, scheduled[i] + (kExchangeTicks + 1) * 50) << sent[i];
    }
    EXPECT_EQ(State(), "PASS");
}

TEST_F(RunnerTest, TheStartSetsRangeFrequencyAndVoltageLikeTheButtonsThenStartsTheOutput) {
    struct Case {
        SeqSourceState before;
        SeqStep first;
        int range;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {{1, 1, 0, 0, 1200, 4000, SOURCE_RANGE_HIGH},
         Step(2300, 500, 20),
         SOURCE_RANGE_AUTO,
         {"range 0", "preset 500", "set 2300 500", "start"}},
        {{1, 1, 0, 0, 2200, 500, SOURCE_RANGE_AUTO},
         Step(1200, 4000, 20),
         SEQ_RANGE_IN_FORCE,
         {"preset 4000", "set 1200 4000", "start"}},
        {{1, 1, 0, 0, 2200, 550, SOURCE_RANGE_AUTO},
         Step(2200, 600, 20),
         SEQ_RANGE_IN_FORCE,
         {"set 2200 600", "start"}},
        {{1, 1, 0, 0, 2200, 500, SOURCE_RANGE_HIGH},
         Step(2200, 500, 20),
         SOURCE_RANGE_HIGH,
         {"start"}},
    };
    for (const Case& c : cases) {
        f = Fake{};
        f.runner.clock = Clock;
        f.st = c.before;
        SeqSettings s;
        s.range = c.range;
        ASSERT_TRUE(Run({c.first}, s));
        std::vector<std::string> asked;
        for (const auto& call : f.calls) {
            asked.push_back(call.second);
        }
        EXPECT_EQ(asked, c.calls);
        EXPECT_EQ(f.runner.run.range, c.range == SEQ_RANGE_IN_FORCE ? c.before.volLevel : c.range);
    }
}

TEST_F(RunnerTest, StartIsRefusedUnlessOnlineWithoutAlarmAndStopped) {
    SeqProfile p;
    p.steps = {Step(2200, 500, 20)};
    const struct {
        SeqSourceState st;
        int refusal;
    } cases[] = {
        {{0, 1, 0, 0, 2200, 500, 1}, SEQ_START_OFFLINE},
        {{1, 1, 0, 1, 2200, 500, 1}, SEQ_START_ALARM},
        {{1, 1, 1, 0, 2200, 500, 1}, SEQ_START_OUTPUT_ON},
    };
    for (const auto& c : cases) {
        f.st = c.st;
        EXPECT_EQ(SeqRunnerStart(&f.runner, p, {}, &kSource, &kListener), c.refusal);
        EXPECT_TRUE(f.calls.empty());
        EXPECT_EQ(f.held, 0);
    }
    EXPECT_EQ(SeqRunnerStart(&f.runner, SeqProfile{}, {}, &kSource, &kListener),
              SEQ_START_NO_PROFILE);
}

TEST_F(RunnerTest, LimitsAreCheckedAfterTheSettleTimeAndAFailureStopsAtOnce) {
    // Each measurement: ms after the run's start, V, mA, Hz, W.
    struct Reading {
        double at;
        int32_t v[4];
    };
    struct Case {
        const char* name;
        int onFailContinue;
        std::vector<Reading> readings;
        const char* state;
        std::vector<std::string> tail; // the last calls, from the first failure on
        std::vector<std::string> failures;
        bool polls = true; // nominal readings once a second besides the ones given
    };
    SeqStep limited = Step(2300, 500, 50);
    limited.vMin = 2200;
    limited.vMax = 2400;
    limited.iMax = 3000;
    limited.pMax = 700;
    limited.fTol = 5;
    const Case cases[] = {
        {"over the limit while settling",
         0,
         {{1000, {2300, 9000, 500, 230}}, {3000, {2300, 1000, 500, 230}}},
         "PASS",
         {"10000 stop"},
         {}},
        {"current over, stop",
         0,
         {{2500, {2300, 3001, 500, 690}}},
         "FAIL,1,1",
         {"2500 stop"},
         {"fail 1.1 i_max_a: 3.001 A > 3.000 A"}},
        {"voltage over, stop",
         0,
         {{4900, {2401, 1000, 500, 230}}},
         "FAIL,1,1",
         {"4900 stop"},
         {"fail 1.1 v_max: 240.1 V > 240.0 V"}},
        {"power over, stop",
         0,
         {{7100, {2300, 1000, 500, 701}}},
         "FAIL,1,2",
         {"7100 stop"},
         {"fail 1.2 p_max_w: 701 W > 700 W"}},
        {"a failure per step, go on",
         1,
         {{2100, {2199, 1000, 500, 230}},
          {3000, {2401, 1000, 500, 230}},
          {7200, {2300, 1000, 506, 230}}},
         "FAIL,1,1",
         {"10000 stop"},
         {"fail 1.1 v_min: 219.9 V < 220.0 V", "fail 1.2 f_tol_hz: |50.6 - 50.0| Hz > 0.5 Hz"}},
        {"nothing measured after the settle time",
         1,
         {{3000, {2300, 1000, 500, 230}}},
         "FAIL,1,2",
         {"10000 stop"},
         {"fail 1.2 no measurement after settle_s"},
         false},
    };
    for (const Case& c : cases) {
        f = Fake{};
        f.runner.clock = Clock;
        f.st.vol = 2300;
        f.polls = c.polls;
        gEvents.clear();
        SeqSettings s;
        s.onFailContinue = c.onFailContinue;
        ASSERT_TRUE(Run({limited, limited}, s)) << c.name;
        const double t0 = f.runner.t0;
        for (const Reading& r : c.readings) {
            f.Until(t0 + r.at);
            SeqRunnerMeasured(&f.runner, r.v);
        }
        f.Until(t0 + 12000);
        EXPECT_EQ(State(), c.state) << c.name;
        const std::vector<std::string> calls = f.Since(t0);
        EXPECT_EQ(
            std::vector<std::string>(calls.end() - static_cast<long>(c.tail.size()), calls.end()),
            c.tail)
            << c.name;
        std::vector<std::string> failures;
        for (const std::string& e : gEvents) {
            if (e.rfind("fail", 0) == 0) {
                failures.push_back(e);
            }
        }
        EXPECT_EQ(failures, c.failures) << c.name;
    }
}

TEST_F(RunnerTest, EveryEndLeavesTheOutputAsItsOutcomeSays) {
    enum Event { ALARM, LINK_LOST, SOURCE_STOPPED, STOP_BUTTON, INDICATOR, END_OF_RUN };
    struct Case {
        const char* name;
        Event event;
        int endHold;
        const char* state;
        std::vector<std::string> after; // calls after the event
        double endMs;                   // of the last step: seen on the next tick, or at once
    };
    const Case cases[] = {
        {"alarm: nothing is sent after it", ALARM, 0, "ABORTED", {}, 2550},
        {"link lost: nothing is sent", LINK_LOST, 0, "INTERRUPTED", {}, 2500},
        {"the source stopped by itself", SOURCE_STOPPED, 0, "ABORTED", {}, 2550},
        {"Stop in the window", STOP_BUTTON, 0, "ABORTED", {"2500 stop"}, 2500},
        {"the OUTPUT indicator", INDICATOR, 0, "ABORTED", {"2500 stop"}, 2500},
        {"hold the last step", END_OF_RUN, 1, "PASS", {}, 6000},
    };
    for (const Case& c : cases) {
        f = Fake{};
        f.runner.clock = Clock;
        f.st.vol = 2300;
        SeqSettings s;
        s.endHold = c.endHold;
        ASSERT_TRUE(Run({Step(2300, 500, 30), Step(2200, 500, 30)}, s)) << c.name;
        const double t0 = f.runner.t0;
        f.Until(t0 + 2500);
        const double at = f.now;
        switch (c.event) {
        case ALARM:
            f.st.alarm = 1;
            f.st.outputOn = 0;
            break;
        case LINK_LOST:
            SeqRunnerLinkLost(&f.runner);
            f.st.ready = 0;
            break;
        case SOURCE_STOPPED:
            f.st.outputOn = 0;
            break;
        case STOP_BUTTON:
            SeqRunnerAbort(&f.runner, SEQ_CAUSE_STOP);
            break;
        case INDICATOR:
            SeqRunnerAbort(&f.runner, SEQ_CAUSE_INDICATOR);
            break;
        case END_OF_RUN:
            break;
        }
        f.Until(t0 + 8000);
        EXPECT_EQ(State(), c.state) << c.name;
        std::vector<std::string> after = f.Since(at);
        if (c.event == END_OF_RUN) {
            after.erase(after.begin()); // step 2's own setting
        }
        EXPECT_EQ(after, c.after) << c.name;
        EXPECT_EQ(f.held, 0) << c.name;
        EXPECT_EQ(f.runner.run.steps.back().endMs, c.endMs) << c.name;
    }
}

TEST_F(RunnerTest, AStopDuringTheStartWaitsForTheStartToBeConfirmed) {
    SeqProfile p;
    p.steps = {Step(2200, 500, 30)};
    ASSERT_EQ(SeqRunnerStart(&f.runner, p, {}, &kSource, &kListener), SEQ_START_OK);
    f.Tick(); // the start goes out
    ASSERT_EQ(f.calls.back().second, "start");
    SeqRunnerAbort(&f.runner, SEQ_CAUSE_REMOTE);
    EXPECT_EQ(State(), "RUNNING,1,1");
    f.Ticks(20);
    EXPECT_EQ(f.calls.back().second, "stop");
    EXPECT_EQ(State(), "ABORTED");
    EXPECT_EQ(f.st.outputOn, 0);
}

TEST_F(RunnerTest, TheCsvReportHasARowPerStepRunAndTheOutcome) {
    f.st.vol = 2300;
    f.polls = true;
    SeqStep a = Step(2300, 500, 35);
    a.iMax = 1500;
    SeqStep b = Step(2070, 600, 30);
    b.iMax = 900;
    ASSERT_TRUE(Run({a, b}));
    f.reading[1] = 1000;
    f.Until(f.runner.t0 + 7000);
    ASSERT_EQ(State(), "FAIL,1,2");
    // The fake's readings do not follow the settings: only the limits matter.
    EXPECT_EQ(SeqReportCsv(f.runner.run),
              std::string(kSeqReportHeader) + "\n" +
                  "1,1,2026-12-08T14:00:01.300+00:00,2026-12-08T14:00:04.800+00:00,230.0,50.0,"
                  "230.0,230.0,230.0,1.000,230,50.0,50.0,PASS,\n"
                  "1,2,2026-12-08T14:00:04.800+00:00,2026-12-08T14:00:07.250+00:00,207.0,60.0,"
                  "230.0,230.0,230.0,1.000,230,50.0,50.0,FAIL,i_max_a: 1.000 A > 0.900 A\n"
                  "outcome,FAIL\n");
}

} // namespace
