// Connecting again after a loss, counted in ticks against the simulated source
// on a pseudo-terminal in this process: the waits between tries, the try that
// finds the source back and stops its output, and what never leads to a try.
// The port's name is a link to the simulator's own, as a name under
// /dev/serial/by-id/ leads to an adapter: it dangles while the source is away.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "link/LinkEvents.h"
#include "link/Scheduler.h"
#include "power/PowerRecords.h"
#include "sim/Simulator.h"
#include "support/UiTestSupport.h"

namespace {

using Lines = std::vector<std::string>;

int gTick = 0;
Lines* gEvents = nullptr;

void Note(const std::string& event) {
    gEvents->push_back(std::to_string(gTick) + " " + event);
}

const LinkObserver kObserver{
    nullptr,
    nullptr,
    [](const LinkPeer&) { Note("connected"); },
    [](const LinkPeer&) { Note("disconnected"); },
    [](const LinkPeer&) { Note("lost"); },
    nullptr,
    [](const CommRetry& r) {
        // The countdown is told once a second; only its start is noted here.
        if (r.state == COMM_RETRY_TRYING) {
            Note("try " + std::to_string(r.tries));
        } else if (r.state == COMM_RETRY_OFF) {
            Note("retry off");
        } else if (CommRetryWaitTicks(r.tries + 1) == r.waitTicks) {
            Note("wait " + std::to_string(CommRetrySecondsLeft()) + " s");
        }
    },
    [](const LinkPeer&, int tries) { Note("restored after " + std::to_string(tries)); },
};

class ReconnectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LinkAddObserver(&kObserver);
        gEvents = &events;
        ASSERT_EQ(0, symlink("COM2", "COM1"));
        Fresh();
    }
    // As at program start with reconnecting on, and the source plugged in.
    void Fresh() {
        CommSchedulerReset();
        PowerRecordsReset();
        gPowerInfo.address = 1;
        gPowerInfo.port = 1;
        gPowerInfo.baudRate = 9600;
        gTick = 0;
        events.clear();
        frames.clear();
        sim.Close();
        std::string error;
        ASSERT_TRUE(sim.Open(&error)) << error;
        ASSERT_TRUE(sim.Link(dir.path(), 2, &error)) << error;
        sim.instrument().SetNoise(false);
        CommSetReconnect(1);
    }
    void TearDown() override {
        CommSchedulerReset();
        LinkRemoveObserver(&kObserver);
        PowerRecordsReset();
        sim.Close();
    }

    // One tick as the timer gives it: the link steps while it is online or
    // counting down to a try. The source answers what it was sent.
    void Tick() {
        ++gTick;
        if (gPowerInfo.online == 1 || gCommRetry.state == COMM_RETRY_WAITING) {
            CommTimerDeal();
        }
        sim.Pump();
        for (const sim::LogEntry& e : sim.log().entries()) {
            if (e.dir == sim::LogEntry::Dir::In) {
                frames.push_back(std::to_string(gTick) + " " +
                                 std::string(e.bytes.begin() + 4, e.bytes.end() - 2));
            }
        }
        sim.log().Clear();
    }
    void TicksTo(int last) {
        while (gTick < last) {
            Tick();
        }
    }
    // Online with the output running, then the source goes away.
    void RunAndUnplug() {
        CommConnectDeal(1);
        TicksTo(30);
        CommSetNewCmdSingleGroup(15, 255, 0);
        TicksTo(60);
        ASSERT_EQ(1, gPowerInfo.outputOn);
        sim.Unplug();
        events.clear();
        frames.clear();
    }

    vx52test::ScratchDir dir{false};
    sim::Simulator sim;
    Lines events;
    Lines frames;
};

TEST_F(ReconnectTest, TriesAtGrowingWaitsAndTheTryThatConnectsStopsTheOutput) {
    RunAndUnplug();
    TicksTo(2400);
    std::string error;
    ASSERT_TRUE(sim.Replug(&error)) << error;
    TicksTo(2560);

    // The state poll of tick 62 goes unanswered three times: lost at 72. The
    // first wait counts from the loss, each later one from the end of the try
    // before it; an open that fails ends its try at once.
    EXPECT_EQ(events,
              (Lines{"72 lost",    "72 wait 1 s",    "92 try 1",       "92 wait 2 s",
                     "132 try 2",  "132 wait 4 s",   "212 try 3",      "212 wait 8 s",
                     "372 try 4",  "372 wait 16 s",  "692 try 5",      "692 wait 30 s",
                     "1292 try 6", "1292 wait 30 s", "1892 try 7",     "1892 wait 30 s",
                     "2492 try 8", "2492 connected", "2523 retry off", "2523 restored after 8"}));
    // The try is the connect sequence, which stops the output the source kept
    // running while it was away; nothing starts it again.
    EXPECT_EQ(frames, (Lines{"2493 RMO*", "2498 RTE*", "2503 CSP*", "2508 CSP*", "2513 RNS*",
                             "2518 RTE*", "2543 RTE*"}));
    EXPECT_EQ(0, gPowerInfo.outputOn);
}

// What ends the retrying, what never starts it, and the operator's connect,
// which is a try of its own. Each case starts with the source away after a
// loss at tick 72 (or, for the failed connect, with no loss at all).
TEST_F(ReconnectTest, WhatStartsEndsOrReplacesATry) {
    struct Case {
        const char* what;
        void (*act)();   // after tick 100, while waiting for try 2 (due at 132)
        Lines afterward; // events from tick 100 to 300
    } const cases[] = {
        {"stop retrying", [] { CommStopRetrying(); }, {"100 retry off"}},
        {"reconnect switched off", [] { CommSetReconnect(0); }, {"100 retry off"}},
        {"the connect button: a try now, then the next wait",
         [] { CommConnectDeal(1); },
         {"100 try 2", "100 wait 4 s", "180 try 3", "180 wait 8 s"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fresh();
        RunAndUnplug();
        TicksTo(100);
        events.clear();
        c.act();
        TicksTo(300);
        EXPECT_EQ(c.afterward, events);
    }

    // The operator's disconnect is never followed by a try; neither is a
    // connect whose port will not open, unless every failed connect is to be
    // tried again (no window: nobody to press connect).
    Fresh();
    CommConnectDeal(1);
    TicksTo(30);
    CommConnectDeal(0);
    sim.Unplug();
    CommConnectDeal(1);
    TicksTo(200);
    EXPECT_EQ(events, (Lines{"0 connected", "30 disconnected"}));
    events.clear();
    CommSetRetryAnyConnect(1);
    CommConnectDeal(1);
    TicksTo(230);
    EXPECT_EQ(events, (Lines{"200 wait 1 s", "220 try 1", "220 wait 2 s"}));
}

} // namespace

// Every listener of one reply sees the instant it arrived, not the moment its
// turn came: the data log and a test run must agree on which side of a step's
// settle time a reading fell, however long a listener before them took.
namespace {
double gSeenAt[2];
void SlowListener(const uint8_t*, int, int, int, int) {
    SysLocalTime wall{};
    LinkReceivedAt(&wall, &gSeenAt[0]);
    usleep(30000);
}
void LateListener(const uint8_t*, int, int, int, int) {
    SysLocalTime wall{};
    LinkReceivedAt(&wall, &gSeenAt[1]);
}
const LinkObserver kSlow{nullptr, SlowListener, nullptr, nullptr, nullptr, nullptr};
const LinkObserver kLate{nullptr, LateListener, nullptr, nullptr, nullptr, nullptr};
} // namespace

TEST(LinkEventsTest, ListenersOfOneReplyShareItsArrival) {
    LinkAddObserver(&kSlow);
    LinkAddObserver(&kLate);
    const double before = SysMonotonicMs();
    LinkNotifyFrameReceived(nullptr, 0, 0, 0, 1);
    LinkRemoveObserver(&kSlow);
    LinkRemoveObserver(&kLate);
    EXPECT_EQ(gSeenAt[0], gSeenAt[1]);
    EXPECT_GE(gSeenAt[1], before);
    EXPECT_LT(gSeenAt[1], SysMonotonicMs() - 29);
}
