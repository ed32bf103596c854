// What an operator intent does, whoever asks for it. The front panel's callbacks
// and the remote-control server call these functions, and nothing else puts a
// command in the queue: limits, refusals, the ladder and what is queued are
// decided here once. Each request returns POWER_REQUEST_DONE or the reason it
// did nothing; a refused request leaves the records, the window and the queue
// as they were.
#pragma once

#include <cstdint>

#include "power/PowerRecords.h"

// Who asks. The panel's controls hold an entry within their limits, are dimmed
// where the state does not allow them, and change only the window while the
// link is down; a caller without controls gets none of that, so what the panel
// would hold, dim or keep local is refused for it instead.
enum PowerCaller {
    POWER_CALLER_PANEL = 0,
    POWER_CALLER_REMOTE = 1,
    POWER_CALLER_SEQUENCE = 2, // a test run: no controls either, and the holder of the settings
};

enum PowerRequestResult {
    POWER_REQUEST_DONE = 0,
    POWER_REQUEST_UNCHANGED,    // nothing to change: nothing redrawn or queued
    POWER_REQUEST_ALARM,        // refused: the source is in its alarm state
    POWER_REQUEST_RISING,       // refused: the output is still rising slowly
    POWER_REQUEST_OUTPUT_STATE, // refused: not while the output runs (or is stopped)
    POWER_REQUEST_OUT_OF_RANGE, // refused: a value outside the limits in force
    POWER_REQUEST_OFFLINE,      // refused: the link is not up
    POWER_REQUEST_QUEUE_FULL,   // refused: no room in the command queue
    POWER_REQUEST_HELD,         // refused: a test run holds the settings
};

// The four set controls as the record counts them. down2U may come negative,
// as the panel shows it.
struct PowerEntry {
    int32_t vol;
    int32_t freq;
    int32_t up2U;
    int32_t down2U;
};
PowerEntry PowerEntryFromRecord();
// Puts an entry into gNormal52PSet and validates it; the result of Data52PCheck.
int PowerApplyEntry(const PowerEntry& entry);

// The voltage and frequency set controls. The panel passes all four controls;
// a running fixed high frequency is never changed this way.
int PowerRequestSetControls(const PowerEntry& entry, PowerCaller caller);
// Shorthands for callers that change one of them.
int PowerRequestVoltage(int32_t vol, PowerCaller caller);
int PowerRequestFrequency(int32_t freq, PowerCaller caller);

// The step-amount controls. The panel's own entry is taken as it comes.
int PowerRequestStepAmounts(const PowerEntry& entry, PowerCaller caller);

// The preset buttons, only while the output is stopped.
enum PowerPreset {
    POWER_PRESET_RANGE,      // AUTO <-> HIGH
    POWER_PRESET_50_60,      // 50 <-> 60 Hz within each family, else 50 Hz
    POWER_PRESET_120_220,    // 120.0 <-> 220.0 V
    POWER_PRESET_MULTIPLIER, // x2, x4, back to 50 / 60 Hz
    POWER_PRESET_400,        // 400 Hz
};
int PowerRequestPreset(PowerPreset preset, PowerCaller caller);
// The range set outright (0 AUTO, 1 HIGH), with the range button's rules.
int PowerRequestRange(int32_t volLevel, PowerCaller caller);
// A frequency set outright as the preset buttons reach it while the output is
// stopped: a fixed one, or, from a fixed one, back into the band (50/60 Hz
// then the frequency control). One settings command.
int PowerRequestPresetFrequency(int32_t freq, PowerCaller caller);

// One step along the ladder made when the output started: up (1) or down (0).
int PowerRequestStep(int up, PowerCaller caller);

// Output on (1), off (0), or POWER_OUTPUT_TOGGLE as the output indicator does.
// Online this only asks the source; the state changes when it answers.
constexpr int POWER_OUTPUT_TOGGLE = -1;
int PowerRequestOutput(int on, PowerCaller caller);

int PowerRequestClearAlarm(PowerCaller caller);

// Settings just read from a file into the records, which the file store has
// validated: shown, and sent while online. The loader reads the file only
// while the output is stopped; a running output is refused all the same.
int PowerRequestLoadedSettings();

// 1 once the link is up and its connect sequence has finished.
int PowerLinkReady();
// 1 while the link is up with no request in flight and none queued: what is
// asked now goes out on the next tick, ahead of any poll.
int PowerLinkIdle();

// A test run holds the settings while it runs: every request but its own is
// refused with POWER_REQUEST_HELD and the panel dims what would make one. The
// output indicator stays live: pressing it calls indicatorPressed, and the
// holder stops the output. Holding and releasing redraw the panel.
void PowerHold(void (*indicatorPressed)());
void PowerRelease();
int PowerHeld();

// The link as a client sees it: up, on its way up (a connect sequence under
// way, or waiting to try again after a loss), or down.
enum PowerLinkState {
    POWER_LINK_OFFLINE = 0,
    POWER_LINK_CONNECTING,
    POWER_LINK_ONLINE,
};
PowerLinkState PowerLinkStateNow();
// "ONLINE", "CONNECTING" or "OFFLINE", as clients and the state line read it.
const char* PowerLinkStateName();
// Connect (1) or disconnect (0) for a caller away from the window: no message
// box. Disconnecting also ends the retrying after a loss. DONE, UNCHANGED when
// already so, or OFFLINE when the port would not open.
int PowerRequestLink(int connect, PowerCaller caller);

// The settings of a first start: what validation makes of an empty record.
Normal52PSet PowerFirstStartSettings();
// Those settings (the output stays as it is), with the rules of the preset
// buttons: only while the output is stopped.
int PowerRequestDefaults(PowerCaller caller);

// 1 while the link is ready and its last exchange was answered.
int PowerLinkAnswering();

// Notes the commands queued so far. PowerCommandsOut tells when every one of
// them has gone out on the wire (or was dropped because the link failed);
// PowerCommandsDone when every one is through: answered (or given up, or
// dropped with a failing link), and followed by a state or settings reply
// from the source, so the records show what the source did with them.
uint64_t PowerCommandsMark();
int PowerCommandsOut(uint64_t mark);
int PowerCommandsDone(uint64_t mark);
// How many of the commands after mark from, through mark through, the source
// did not carry out: refused, unanswered or dropped.
int PowerCommandsFailed(uint64_t from, uint64_t through);

// The last accepted measurement reply, kept apart from gArrMeasureOutput, which
// is cleared on every start, stop and state reply.
struct PowerMeasurement {
    int32_t values[4]; // as gArrMeasureOutput: 0.1 V, mA, 0.1 Hz, W
    double atMs;       // SysMonotonicMs when it arrived
    int valid;         // 0 before the first one
};
extern PowerMeasurement gPowerLastMeasurement;
// Called by the measurement reply once gArrMeasureOutput holds its values.
void PowerNoteMeasurement();
