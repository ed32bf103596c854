#include "record/DataLog.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/AppendFile.h"
#include "power/SourceLimits.h"
#include "util/Text.h"

const char* const kDataLogHeader =
    "time,elapsed_s,kind,u_v,i_a,f_hz,p_kw,set_u_v,set_f_hz,range,output,link,event,detail";

namespace {

const char* RangeText(int32_t volLevel) {
    return volLevel == 1 ? "HIGH" : "AUTO";
}

const char* OutputText(const DataLogState& s) {
    if (s.alarm != 0) {
        return "alarm";
    }
    return s.outputOn != 0 ? "on" : "off";
}

void SystemClock(SysLocalTime* wall, double* monotonicMs) {
    SysGetLocalTime(wall);
    *monotonicMs = SysMonotonicMs();
}

constexpr double kSyncEveryMs = 1000.0;

struct Log {
    int fd = -1;
    int64_t size = 0;
    double startMs = 0;
    double lastSyncMs = 0;
    bool unsynced = false;
    int syncs = 0;
    DataLogState last{};
    DataLogClockFn clock = SystemClock;
};
Log gLog;

// Stops the log after a failure; the caller reports it.
int Fail(int* error, int code) {
    *error = code;
    AppendFileClose(gLog.fd);
    gLog.fd = -1;
    return -1;
}

int Sync(double nowMs, int* error) {
    const int code = AppendFileSync(gLog.fd);
    if (code != 0) {
        return Fail(error, code);
    }
    gLog.lastSyncMs = nowMs;
    gLog.unsynced = false;
    ++gLog.syncs;
    return 0;
}

int WriteRow(const std::string& row, double nowMs, bool syncNow, int* error) {
    const int code = AppendFileWrite(gLog.fd, row.data(), row.size(), &gLog.size);
    if (code != 0) {
        return Fail(error, code);
    }
    gLog.unsynced = true;
    if (syncNow || nowMs - gLog.lastSyncMs >= kSyncEveryMs) {
        return Sync(nowMs, error);
    }
    return 0;
}

int WriteEvent(const char* event, const std::string& detail, int* error) {
    SysLocalTime wall{};
    double now = 0;
    gLog.clock(&wall, &now);
    return WriteRow(DataLogEventRow(TextTimeStamp(wall), now - gLog.startMs, event, detail), now,
                    true, error);
}

} // namespace

std::string DataLogMeasureRow(const std::string& time, double elapsedMs, const DataLogReadings& r,
                              const DataLogState& s) {
    std::string row = time;
    row += ',' + TextFixed(std::llround(elapsedMs), 3) + ",measure,";
    row += SourceMeterText(0, r.vol) + ',' + SourceMeterText(1, r.curr) + ',' +
           SourceMeterText(2, r.freq) + ',' + SourceMeterText(3, r.power) + ',';
    row += SourceText(SOURCE_Q_SET_VOLTAGE, s.setVol) + ',' +
           SourceText(SOURCE_Q_SET_FREQUENCY, s.setFreq) + ',' + RangeText(s.volLevel) + ',' +
           OutputText(s) + ',' + (s.online != 0 ? "online" : "offline") + ",,\n";
    return row;
}

std::string DataLogEventRow(const std::string& time, double elapsedMs, const char* event,
                            const std::string& detail) {
    return time + ',' + TextFixed(std::llround(elapsedMs), 3) + ",event,,,,,,,,,," + event + ',' +
           TextCsvField(detail) + '\n';
}

std::vector<DataLogChange> DataLogChanges(const DataLogState& before, const DataLogState& now,
                                          const std::string& alarmText, const char* by) {
    std::vector<DataLogChange> out;
    const std::string tail = by != nullptr && *by != '\0' ? std::string(" ") + by : "";
    auto set = [&out, &tail](const char* name, const std::string& from, const std::string& to) {
        if (from != to) {
            out.push_back({kLogEventSetChange, std::string(name) + ' ' + from + "->" + to + tail});
        }
    };
    set("u_v", SourceText(SOURCE_Q_SET_VOLTAGE, before.setVol),
        SourceText(SOURCE_Q_SET_VOLTAGE, now.setVol));
    set("f_hz", SourceText(SOURCE_Q_SET_FREQUENCY, before.setFreq),
        SourceText(SOURCE_Q_SET_FREQUENCY, now.setFreq));
    set("range", RangeText(before.volLevel), RangeText(now.volLevel));
    set("step_up_v", SourceText(SOURCE_Q_STEP_AMOUNT, before.up2U),
        SourceText(SOURCE_Q_STEP_AMOUNT, now.up2U));
    set("step_down_v", SourceText(SOURCE_Q_STEP_AMOUNT, before.down2U),
        SourceText(SOURCE_Q_STEP_AMOUNT, now.down2U));

    // The output as the operator sees it: off, on, or stopped by an alarm.
    const std::string was = OutputText(before);
    const std::string is = OutputText(now);
    if (was == is) {
        return out;
    }
    if (is == "alarm") {
        out.push_back({kLogEventAlarm, alarmText});
        return out;
    }
    if (was == "alarm") {
        out.push_back({kLogEventAlarmClear, ""});
    }
    if (is == "on") {
        out.push_back({kLogEventOutputOn, ""});
    } else if (was == "on") {
        out.push_back({kLogEventOutputOff, ""});
    }
    return out;
}

int DataLogStart(const char* path, const DataLogState& state, int* error) {
    if (gLog.fd >= 0) {
        DataLogStop();
    }
    int fd = -1;
    int64_t size = 0;
    const int code = AppendFileOpen(path, &fd, &size);
    if (code != 0) {
        *error = code;
        return -1;
    }
    gLog.fd = fd;
    gLog.size = size;
    gLog.last = state;
    gLog.unsynced = false;
    SysLocalTime wall{};
    gLog.clock(&wall, &gLog.startMs);
    gLog.lastSyncMs = gLog.startMs;
    if (size == 0) {
        const std::string header = std::string(kDataLogHeader) + '\n';
        if (WriteRow(header, gLog.startMs, false, error) != 0) {
            return -1;
        }
    }
    return WriteEvent(kLogEventStart, path, error);
}

int DataLogIsOn() {
    return gLog.fd >= 0 ? 1 : 0;
}

int DataLogObserve(const DataLogState& state, const std::string& alarmText, int* error,
                   const char* by) {
    // Called after every tick: the usual answer, nothing changed, costs one compare.
    if (gLog.fd < 0 || std::memcmp(&gLog.last, &state, sizeof state) == 0) {
        return 0;
    }
    const std::vector<DataLogChange> changes = DataLogChanges(gLog.last, state, alarmText, by);
    gLog.last = state;
    for (const DataLogChange& c : changes) {
        if (WriteEvent(c.event, c.detail, error) != 0) {
            return -1;
        }
    }
    return 0;
}

int DataLogMeasure(const DataLogReadings& readings, const DataLogState& state,
                   const std::string& alarmText, int* error) {
    if (gLog.fd < 0) {
        return 0;
    }
    if (DataLogObserve(state, alarmText, error) != 0) {
        return -1;
    }
    SysLocalTime wall{};
    double now = 0;
    gLog.clock(&wall, &now);
    return WriteRow(DataLogMeasureRow(TextTimeStamp(wall), now - gLog.startMs, readings, state),
                    now, false, error);
}

int DataLogEvent(const char* event, const std::string& detail, int* error) {
    if (gLog.fd < 0) {
        return 0;
    }
    return WriteEvent(event, detail, error);
}

int DataLogPoll(int* error) {
    if (gLog.fd < 0 || !gLog.unsynced) {
        return 0;
    }
    SysLocalTime wall{};
    double now = 0;
    gLog.clock(&wall, &now);
    if (now - gLog.lastSyncMs < kSyncEveryMs) {
        return 0;
    }
    return Sync(now, error);
}

void DataLogStop() {
    if (gLog.fd < 0) {
        return;
    }
    int error = 0;
    if (WriteEvent(kLogEventStop, "", &error) == 0) {
        AppendFileClose(gLog.fd);
        gLog.fd = -1;
    }
}

void DataLogSetClock(DataLogClockFn clock) {
    gLog.clock = clock ? clock : SystemClock;
}

int DataLogDescriptor() {
    return gLog.fd;
}

int DataLogSyncCount() {
    return gLog.syncs;
}
