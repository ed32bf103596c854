// The link with no window at all: a stand-in view notes what the link would
// show, tick by tick, while the simulated power source answers on a
// pseudo-terminal in this process. No panel is loaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/LinkView.h"
#include "link/Scheduler.h"
#include "power/PowerRecords.h"
#include "sim/Simulator.h"
#include "support/UiTestSupport.h"

namespace {

using Lines = std::vector<std::string>;

Lines* gCalls = nullptr;
const int* gTick = nullptr;

void Note(const std::string& call) {
    gCalls->push_back(std::to_string(*gTick) + " " + call);
}

// Each member says what it was called with and, like the window's own wait
// popup, keeps gPowerInfo.waitShown, which the link reads.
const LinkView kStandIn{
    [](int show) {
        gPowerInfo.waitShown = show;
        Note("wait " + std::to_string(show));
    },
    [](int modelType) { Note("model " + std::to_string(modelType)); },
    [](int online) { Note(online ? std::string("online ") + gPowerInfo.modelName : "offline"); },
    [] { Note("meters " + std::to_string(gArrMeasureOutput[0])); },
    [](int running) { Note("set " + std::to_string(running)); },
    [] { Note("output " + std::to_string(gPowerInfo.outputOn)); },
    [] { Note("open error"); },
};

class LinkViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PowerRecordsReset();
        CommSchedulerReset();
        gPowerInfo.address = 1;
        gPowerInfo.port = 1;
        gPowerInfo.baudRate = 9600;
        gCalls = &calls;
        gTick = &tick;
        previous = LinkSetView(&kStandIn);
        std::string error;
        ASSERT_TRUE(sim.Open(&error)) << error;
        ASSERT_TRUE(sim.Link(dir.path(), 1, &error)) << error;
        sim.instrument().SetNoise(false);
    }
    void TearDown() override {
        CommSchedulerReset();
        LinkSetView(previous);
        PowerRecordsReset();
        sim.Close();
    }

    // One tick of the link, then the source answers what it was sent.
    void Tick() {
        ++tick;
        CommTimerDeal();
        sim.Pump();
        for (const sim::LogEntry& e : sim.log().entries()) {
            if (e.dir == sim::LogEntry::Dir::In) {
                frames.push_back(std::to_string(tick) + " " +
                                 std::string(e.bytes.begin() + 4, e.bytes.end() - 2));
            }
        }
        sim.log().Clear();
    }
    void TicksTo(int last) {
        while (tick < last) {
            Tick();
        }
    }

    vx52test::ScratchDir dir{false};
    sim::Simulator sim;
    const LinkView* previous = nullptr;
    int tick = 0;
    Lines calls;
    Lines frames;
};

TEST_F(LinkViewTest, ConnectPollsAndLossReachOnlyTheView) {
    gPowerInfo.port = 2; // nothing there
    CommConnectDeal(1);
    gPowerInfo.port = 1;
    CommConnectDeal(1);
    ASSERT_EQ(gPowerInfo.online, 1);
    TicksTo(30);
    CommSetNewCmdSingleGroup(15, 255, 0); // the operator starts the output
    TicksTo(60);
    bool quit = false;
    sim.Command("silence on", &quit);
    TicksTo(100);

    EXPECT_EQ(gPowerInfo.online, 0);
    // The measurement poll, due since tick 20, goes at the first idle tick of
    // a running output; the state poll follows when the line is free again.
    EXPECT_EQ(frames, (Lines{"1 RMO*", "6 RTE*", "11 RNS*", "16 RTE*", "31 CST*", "37 RNT*",
                             "43 RTE*", "57 RNT*", "63 RTE*", "68 RTE*", "73 RTE*"}));
    EXPECT_EQ(calls, (Lines{
                         "0 open error",
                         // the connect sequence: its two state replies, then its end
                         "1 wait 1",
                         "11 output 0",
                         "11 meters 0",
                         "21 output 0",
                         "21 meters 0",
                         "21 model 1",
                         "21 online VX52300P",
                         "21 wait 0",
                         // the start
                         "31 wait 1",
                         "36 set 0",
                         "36 output 1",
                         "36 meters 0",
                         "36 wait 0",
                         // the polls
                         "42 meters 2200",
                         "48 output 1",
                         "62 meters 2200",
                         // the third unanswered state poll
                         "78 offline",
                         "78 meters 0",
                         "78 wait 0",
                     }));
}

} // namespace
