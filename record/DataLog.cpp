#include "record/DataLog.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/AppendFile.h"
#include "power/SourceLimits.h"
#include "util/Text.h"

namespace {

const char* RangeText(const DataLogState& s) {
    return s.volLevel == SOURCE_RANGE_HIGH ? "HIGH" : "AUTO";
}

// The output as the operator sees it: off, on, or stopped by an alarm.
const char* OutputText(const DataLogState& s) {
    if (s.alarm != 0) {
        return "alarm";
    }
    return s.outputOn != 0 ? "on" : "off";
}

const char* LinkText(const DataLogState& s) {
    return s.online != 0 ? "online" : "offline";
}

// A field of a row: its column's name, and how it is read: a meter's reading
// as the meter shows it, a setting with its quantity's decimals, or a word for
// the state.
struct Field {
    const char* name;
    int32_t DataLogReadings::*reading;
    int32_t DataLogState::*setting;
    int decimals;
    const char* (*word)(const DataLogState&);
};

Field Meter(const char* name, int32_t DataLogReadings::*reading, int meter) {
    return {name, reading, nullptr, SourceMeterDecimals(meter), nullptr};
}
Field Setting(const char* name, int32_t DataLogState::*setting, SourceQuantity q) {
    return {name, nullptr, setting, SourceQuantityOf(q).decimals, nullptr};
}
Field Word(const char* name, const char* (*word)(const DataLogState&)) {
    return {name, nullptr, nullptr, 0, word};
}

std::string FieldText(const Field& f, const DataLogReadings& r, const DataLogState& s) {
    if (f.word) {
        return f.word(s);
    }
    return TextFixed(f.reading ? r.*f.reading : s.*f.setting, f.decimals);
}

// The columns of a measure row between its kind and its event; an event row
// leaves them empty. Meters by their index in gArrMeasureOutput.
const Field kFields[] = {
    Meter("u_v", &DataLogReadings::vol, 0),
    Meter("i_a", &DataLogReadings::curr, 1),
    Meter("f_hz", &DataLogReadings::freq, 2),
    Meter("p_kw", &DataLogReadings::power, 3),
    Setting("set_u_v", &DataLogState::setVol, SOURCE_Q_SET_VOLTAGE),
    Setting("set_f_hz", &DataLogState::setFreq, SOURCE_Q_SET_FREQUENCY),
    Word("range", RangeText),
    Word("output", OutputText),
    Word("link", LinkText),
};

// The settings whose changes are set_change events, in the order they are written.
const Field kChanges[] = {
    Setting("u_v", &DataLogState::setVol, SOURCE_Q_SET_VOLTAGE),
    Setting("f_hz", &DataLogState::setFreq, SOURCE_Q_SET_FREQUENCY),
    Word("range", RangeText),
    Setting("step_up_v", &DataLogState::up2U, SOURCE_Q_STEP_AMOUNT),
    Setting("step_down_v", &DataLogState::down2U, SOURCE_Q_STEP_AMOUNT),
};

// The columns every row starts with: time, elapsed seconds and kind.
std::string RowStart(const std::string& time, double elapsedMs, const char* kind) {
    return time + ',' + TextFixed(std::llround(elapsedMs), 3) + ',' + kind + ',';
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
int Fail(int code) {
    AppendFileClose(gLog.fd);
    gLog.fd = -1;
    return code;
}

int Sync(double nowMs) {
    const int code = AppendFileSync(gLog.fd);
    if (code != 0) {
        return Fail(code);
    }
    gLog.lastSyncMs = nowMs;
    gLog.unsynced = false;
    ++gLog.syncs;
    return 0;
}

int WriteRow(const std::string& row, double nowMs, bool syncNow) {
    const int code = AppendFileWrite(gLog.fd, row.data(), row.size(), &gLog.size);
    if (code != 0) {
        return Fail(code);
    }
    gLog.unsynced = true;
    if (syncNow || nowMs - gLog.lastSyncMs >= kSyncEveryMs) {
        return Sync(nowMs);
    }
    return 0;
}

int WriteEventAt(const SysLocalTime& wall, double now, const char* event,
                 const std::string& detail) {
    return WriteRow(DataLogEventRow(TextTimeStamp(wall), now - gLog.startMs, event, detail), now,
                    true);
}

int WriteEvent(const char* event, const std::string& detail) {
    SysLocalTime wall{};
    double now = 0;
    gLog.clock(&wall, &now);
    return WriteEventAt(wall, now, event, detail);
}

// Called after every tick: the usual answer, nothing changed, costs one compare.
bool Unchanged(const DataLogState& state) {
    return gLog.fd < 0 || std::memcmp(&gLog.last, &state, sizeof state) == 0;
}

// The events that lead from the state last seen to state, all stamped wall/now.
int ObserveAt(const SysLocalTime& wall, double now, const DataLogState& state,
              const std::string& alarmText, const char* by) {
    if (Unchanged(state)) {
        return 0;
    }
    const std::vector<DataLogChange> changes = DataLogChanges(gLog.last, state, alarmText, by);
    gLog.last = state;
    for (const DataLogChange& c : changes) {
        if (const int error = WriteEventAt(wall, now, c.event, c.detail)) {
            return error;
        }
    }
    return 0;
}

} // namespace

const std::string& DataLogHeader() {
    static const std::string header = [] {
        std::string h = "time,elapsed_s,kind,";
        for (const Field& f : kFields) {
            h += std::string(f.name) + ',';
        }
        return h + "event,detail";
    }();
    return header;
}

std::string DataLogMeasureRow(const std::string& time, double elapsedMs, const DataLogReadings& r,
                              const DataLogState& s) {
    std::string row = RowStart(time, elapsedMs, "measure");
    for (const Field& f : kFields) {
        row += FieldText(f, r, s) + ',';
    }
    return row + ",\n";
}

std::string DataLogEventRow(const std::string& time, double elapsedMs, const char* event,
                            const std::string& detail) {
    return RowStart(time, elapsedMs, "event") + std::string(std::size(kFields), ',') + event + ',' +
           TextCsvField(detail) + '\n';
}

std::vector<DataLogChange> DataLogChanges(const DataLogState& before, const DataLogState& now,
                                          const std::string& alarmText, const char* by) {
    std::vector<DataLogChange> out;
    const std::string tail = by != nullptr && *by != '\0' ? std::string(" ") + by : "";
    const DataLogReadings none{};
    for (const Field& f : kChanges) {
        const std::string from = FieldText(f, none, before);
        const std::string to = FieldText(f, none, now);
        if (from != to) {
            out.push_back(
                {kLogEventSetChange, std::string(f.name) + ' ' + from + "->" + to + tail});
        }
    }

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

int DataLogStart(const char* path, const DataLogState& state) {
    if (gLog.fd >= 0) {
        DataLogStop();
    }
    int fd = -1;
    int64_t size = 0;
    const int code = AppendFileOpen(path, &fd, &size);
    if (code != 0) {
        return code;
    }
    gLog.fd = fd;
    gLog.size = size;
    gLog.last = state;
    gLog.unsynced = false;
    SysLocalTime wall{};
    gLog.clock(&wall, &gLog.startMs);
    gLog.lastSyncMs = gLog.startMs;
    if (size == 0) {
        if (const int error = WriteRow(DataLogHeader() + '\n', gLog.startMs, false)) {
            return error;
        }
    }
    return WriteEvent(kLogEventStart, path);
}

int DataLogIsOn() {
    return gLog.fd >= 0 ? 1 : 0;
}

int DataLogObserve(const DataLogState& state, const std::string& alarmText, const char* by) {
    if (Unchanged(state)) {
        return 0;
    }
    SysLocalTime wall{};
    double now = 0;
    gLog.clock(&wall, &now);
    return ObserveAt(wall, now, state, alarmText, by);
}

int DataLogMeasureAt(const SysLocalTime& wall, double monotonicMs, const DataLogReadings& readings,
                     const DataLogState& state, const std::string& alarmText) {
    if (gLog.fd < 0) {
        return 0;
    }
    if (const int error = ObserveAt(wall, monotonicMs, state, alarmText, nullptr)) {
        return error;
    }
    return WriteRow(
        DataLogMeasureRow(TextTimeStamp(wall), monotonicMs - gLog.startMs, readings, state),
        monotonicMs, false);
}

int DataLogMeasure(const DataLogReadings& readings, const DataLogState& state,
                   const std::string& alarmText) {
    SysLocalTime wall{};
    double now = 0;
    gLog.clock(&wall, &now);
    return DataLogMeasureAt(wall, now, readings, state, alarmText);
}

int DataLogEvent(const char* event, const std::string& detail) {
    if (gLog.fd < 0) {
        return 0;
    }
    return WriteEvent(event, detail);
}

void DataLogAssume(const DataLogState& state) {
    gLog.last = state;
}

int DataLogPoll() {
    if (gLog.fd < 0 || !gLog.unsynced) {
        return 0;
    }
    SysLocalTime wall{};
    double now = 0;
    gLog.clock(&wall, &now);
    if (now - gLog.lastSyncMs < kSyncEveryMs) {
        return 0;
    }
    return Sync(now);
}

void DataLogStop() {
    if (gLog.fd < 0) {
        return;
    }
    if (WriteEvent(kLogEventStop, "") == 0) {
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
