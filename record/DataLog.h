// The data log: what was measured and what happened, as CSV rows appended to
// a file that a crash or a power cut leaves readable. One row is one line,
// written with one write call; rows of measurements are put on the disk at
// least once a second, events at once. Plain C++: the file calls are the
// platform's, the values come from the caller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/System.h"

// The first line of a new log file (without its line end): the names of the
// columns, as the table of fields in DataLog.cpp gives them.
const std::string& DataLogHeader();

// The event column's words.
constexpr const char* kLogEventStart = "log_start";
constexpr const char* kLogEventStop = "log_stop";
constexpr const char* kLogEventConnect = "connect";
constexpr const char* kLogEventDisconnect = "disconnect";
constexpr const char* kLogEventLinkLost = "link_lost";
constexpr const char* kLogEventReconnectTry = "reconnect_try";
constexpr const char* kLogEventLinkRestored = "link_restored";
constexpr const char* kLogEventWatchdog = "watchdog";
constexpr const char* kLogEventOutputOn = "output_on";
constexpr const char* kLogEventOutputOff = "output_off";
constexpr const char* kLogEventOutputStoppedOnConnect = "output_stopped_on_connect";
constexpr const char* kLogEventAlarm = "alarm";
constexpr const char* kLogEventAlarmClear = "alarm_clear";
constexpr const char* kLogEventSetChange = "set_change";
constexpr const char* kLogEventFileLoad = "file_load";
constexpr const char* kLogEventFileSave = "file_save";
constexpr const char* kLogEventExit = "exit";
constexpr const char* kLogEventSeqStart = "seq_start";
constexpr const char* kLogEventSeqStep = "seq_step";
constexpr const char* kLogEventSeqFail = "seq_fail";
constexpr const char* kLogEventSeqEnd = "seq_end";

// What the log compares and writes beside each measurement (compared whole:
// plain integers only).
struct DataLogState {
    int32_t setVol;   // 0.1 V
    int32_t setFreq;  // 0.1 Hz
    int32_t volLevel; // 0 AUTO, 1 HIGH
    int32_t up2U;     // V
    int32_t down2U;   // V
    int32_t outputOn;
    int32_t alarm;
    int32_t online;
};

// One accepted measurement: 0.1 V, 0.001 A, 0.1 Hz, 1 W.
struct DataLogReadings {
    int32_t vol;
    int32_t curr;
    int32_t freq;
    int32_t power;
};

// ---- rows (no file involved) ----------------------------------------------------
// Rows are stamped with TextTimeStamp (util/Text.h).
// Each row ends in a line feed.
std::string DataLogMeasureRow(const std::string& time, double elapsedMs,
                              const DataLogReadings& readings, const DataLogState& state);
std::string DataLogEventRow(const std::string& time, double elapsedMs, const char* event,
                            const std::string& detail);

struct DataLogChange {
    const char* event;
    std::string detail;
};
// The events that lead from before to now, in the order they are written:
// set values first, then the output. The link's own events come from the link.
// by, when given, names who changed the set values ("remote"); it ends their
// details.
std::vector<DataLogChange> DataLogChanges(const DataLogState& before, const DataLogState& now,
                                          const std::string& alarmText, const char* by = nullptr);

// ---- the log file -----------------------------------------------------------------
// Every call that writes returns 0 or the errno of the failure; after a failed
// write the log has stopped (the file is closed, nothing more is tried).

// Starts a log in path: appends to a file that exists, writes the header into
// a new (empty) one, then a log_start row. state is taken as already known, so
// the first comparison reports only what changes afterwards.
int DataLogStart(const char* path, const DataLogState& state);
int DataLogIsOn();
// One measure row. state is compared first, so a change shows before the
// measurement it belongs to.
int DataLogMeasure(const DataLogReadings& readings, const DataLogState& state,
                   const std::string& alarmText);
// The same for a reading that arrived at wall / monotonicMs (the clock's
// scale): the row and the events before it carry that instant.
int DataLogMeasureAt(const SysLocalTime& wall, double monotonicMs, const DataLogReadings& readings,
                     const DataLogState& state, const std::string& alarmText);
int DataLogEvent(const char* event, const std::string& detail);
// Event rows for whatever differs from the state last seen.
int DataLogObserve(const DataLogState& state, const std::string& alarmText,
                   const char* by = nullptr);
// Takes state as known without an event for what changed: for a change that
// an event of its own has just told.
void DataLogAssume(const DataLogState& state);
// Puts measure rows on the disk once a second has passed since the last time.
int DataLogPoll();
// Writes log_stop and closes the file; a failure then only ends the log early.
void DataLogStop();

// The clock rows are stamped with: wall time and monotonic milliseconds.
using DataLogClockFn = void (*)(SysLocalTime* wall, double* monotonicMs);
// nullptr puts the system clock back (tests set their own).
void DataLogSetClock(DataLogClockFn clock);
// Test access: the open descriptor (-1 when off) and the number of syncs so far.
int DataLogDescriptor();
int DataLogSyncCount();
