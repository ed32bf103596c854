// The data log's file: rows as spreadsheets and Python's csv module read
// them, a file that is appended to and never cut, syncs counted against a
// clock the test moves, and a failed write that stops the log.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "UiTestSupport.h"
#include "record/DataLog.h"
#include "util/Text.h"

namespace {

double gNowMs = 0;
SysLocalTime gWall{2026, 12, 8, 14, 3, 12, 345, 8 * 60};

void TestClock(SysLocalTime* wall, double* monotonicMs) {
    *wall = gWall;
    *monotonicMs = gNowMs;
}

const DataLogState kStopped{2200, 500, 0, 5, 5, 0, 0, 1};

class DataLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gNowMs = 1000;
        DataLogSetClock(TestClock);
    }
    void TearDown() override {
        DataLogStop();
        DataLogSetClock(nullptr);
    }
    std::string File() const { return vx52test::ScratchDir::ReadFile(path_); }
    vx52test::ScratchDir scratch_{false};
    std::string path_ = scratch_.path() + "/log.csv";
};

TEST(DataLogRows, TimeFieldsAndRowsReadBackAsWritten) {
    struct {
        SysLocalTime t;
        const char* text;
    } times[] = {
        {{2026, 12, 8, 14, 3, 12, 345, 480}, "2026-12-08T14:03:12.345+08:00"},
        {{2027, 1, 2, 3, 4, 5, 6, 0}, "2027-01-02T03:04:05.006+00:00"},
        {{2027, 1, 2, 3, 4, 5, 6, -210}, "2027-01-02T03:04:05.006-03:30"},
    };
    for (const auto& c : times) {
        EXPECT_EQ(c.text, TextTimeStamp(c.t));
    }
    struct {
        const char* in;
        const char* out;
    } fields[] = {{"COM1", "COM1"},
                  {"a,b", "\"a,b\""},
                  {"say \"hi\"", "\"say \"\"hi\"\"\""},
                  {"two\nlines", "\"two\nlines\""}};
    for (const auto& c : fields) {
        EXPECT_EQ(c.out, TextCsvField(c.in));
    }
    EXPECT_EQ(
        "T,1.235,measure,230.1,4.567,400.0,1.050,230.0,400.0,HIGH,on,online,,\n",
        DataLogMeasureRow("T", 1234.6, {2301, 4567, 4000, 1050}, {2300, 4000, 1, 5, 5, 1, 0, 1}));
    EXPECT_EQ("T,0.000,measure,0.0,-0.005,50.0,0.000,1.0,45.0,AUTO,alarm,online,,\n",
              DataLogMeasureRow("T", 0, {0, -5, 500, 0}, {10, 450, 0, 5, 5, 0, 1, 1}));
    EXPECT_EQ("T,2.000,event,,,,,,,,,,alarm,\"overload, check load\"\n",
              DataLogEventRow("T", 2000, kLogEventAlarm, "overload, check load"));
}

TEST(DataLogRows, ChangesBecomeEventsInOrder) {
    auto events = [](const DataLogState& a, const DataLogState& b) {
        std::string out;
        for (const DataLogChange& c : DataLogChanges(a, b, "ALARM text")) {
            out += std::string(c.event) + (c.detail.empty() ? "" : " " + c.detail) + ";";
        }
        return out;
    };
    DataLogState on = kStopped;
    on.outputOn = 1;
    DataLogState alarm = kStopped;
    alarm.alarm = 1;
    DataLogState set = kStopped;
    set.setVol = 2300;
    set.volLevel = 1;
    set.down2U = 10;
    DataLogState offline = kStopped;
    offline.online = 0;
    EXPECT_EQ("", events(kStopped, kStopped));
    EXPECT_EQ("", events(kStopped, offline)) << "the link's events come from the link";
    EXPECT_EQ("set_change u_v 220.0->230.0;set_change range AUTO->HIGH;"
              "set_change step_down_v 5->10;",
              events(kStopped, set));
    EXPECT_EQ("output_on;", events(kStopped, on));
    EXPECT_EQ("output_off;", events(on, kStopped));
    EXPECT_EQ("alarm ALARM text;", events(on, alarm));
    EXPECT_EQ("alarm_clear;", events(alarm, kStopped));
    EXPECT_EQ("alarm_clear;output_on;", events(alarm, on));
    // Who changed the set values ends their details; the output's events have none.
    std::string remote;
    DataLogState setOn = set;
    setOn.outputOn = 1;
    for (const DataLogChange& c : DataLogChanges(kStopped, setOn, "", "remote")) {
        remote += std::string(c.event) + ":" + c.detail + ";";
    }
    EXPECT_EQ("set_change:u_v 220.0->230.0 remote;set_change:range AUTO->HIGH remote;"
              "set_change:step_down_v 5->10 remote;output_on:;",
              remote);
}

TEST_F(DataLogTest, NewFileGetsTheHeaderOnceAndAnExistingOneIsAppendedTo) {
    ASSERT_EQ(0, DataLogStart(path_.c_str(), kStopped));
    gNowMs += 1500;
    ASSERT_EQ(0, DataLogMeasure({2201, 1000, 500, 220}, kStopped, ""));
    DataLogStop();
    const std::string first = File();
    EXPECT_EQ(std::string("time,elapsed_s,kind,u_v,i_a,f_hz,p_kw,set_u_v,set_f_hz,range,output,"
                          "link,event,detail\n") +
                  "2026-12-08T14:03:12.345+08:00,0.000,event,,,,,,,,,,log_start," + path_ + "\n" +
                  "2026-12-08T14:03:12.345+08:00,1.500,measure,220.1,1.000,50.0,0.220,220.0,"
                  "50.0,AUTO,off,online,,\n" +
                  "2026-12-08T14:03:12.345+08:00,1.500,event,,,,,,,,,,log_stop,\n",
              first);

    gNowMs += 60000;
    ASSERT_EQ(0, DataLogStart(path_.c_str(), kStopped));
    DataLogStop();
    const std::string both = File();
    ASSERT_EQ(first, both.substr(0, first.size())) << "appending never changes what was there";
    EXPECT_EQ(std::string::npos, both.find("time,", first.size())) << "no second header";
    EXPECT_NE(std::string::npos, both.find(",0.000,event,,,,,,,,,,log_start,", first.size()))
        << "elapsed counts from this start";
}

TEST_F(DataLogTest, MeasurementsAreSyncedOnceASecondEventsAtOnce) {
    ASSERT_EQ(0, DataLogStart(path_.c_str(), kStopped));
    const int afterStart = DataLogSyncCount();
    // Ten measurements a second for two seconds, with the tick's poll between.
    for (int i = 0; i < 40; ++i) {
        gNowMs += 50;
        if (i % 2 == 0) {
            ASSERT_EQ(0, DataLogMeasure({2200, 0, 500, 0}, kStopped, ""));
        }
        ASSERT_EQ(0, DataLogPoll());
    }
    EXPECT_EQ(2, DataLogSyncCount() - afterStart);
    DataLogState on = kStopped;
    on.outputOn = 1;
    ASSERT_EQ(0, DataLogObserve(on, ""));
    EXPECT_EQ(3, DataLogSyncCount() - afterStart) << "an event is on the disk at once";
    ASSERT_EQ(0, DataLogPoll());
    EXPECT_EQ(3, DataLogSyncCount() - afterStart) << "nothing new, nothing to sync";
}

TEST_F(DataLogTest, AFailedWriteStopsTheLogAndLeavesWholeLines) {
    ASSERT_EQ(0, DataLogStart(path_.c_str(), kStopped));
    // Someone else's mistake closes the log's descriptor.
    ASSERT_EQ(0, close(DataLogDescriptor()));
    EXPECT_EQ(EBADF, DataLogEvent(kLogEventExit, ""));
    EXPECT_EQ(0, DataLogIsOn());
    EXPECT_EQ(0, DataLogMeasure({1, 1, 1, 1}, kStopped, "")) << "off: nothing tried";
    EXPECT_EQ('\n', File().back());

    // A full disk refuses already the header.
    EXPECT_EQ(ENOSPC, DataLogStart("/dev/full", kStopped));
    EXPECT_EQ(0, DataLogIsOn());
}

} // namespace
