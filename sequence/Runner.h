// The run of a profile: a state machine moved on by the 50 ms tick and by
// what the link reports (each accepted measurement, the link lost). It reaches
// the source only through the SeqSource it is given, which the program binds
// to power's request functions, and it sends at most one request per tick,
// only when the link has nothing in flight: a step's settings never wait in
// the queue behind a reply that ends the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/System.h"
#include "sequence/Profile.h"

constexpr int SEQ_MAX_REPEAT = 9999;
constexpr int SEQ_RANGE_IN_FORCE = -1;

// Given in the window, on the command line or by a remote client; never in the file.
struct SeqSettings {
    int repeat = 1;                 // 1..SEQ_MAX_REPEAT; 0 runs until stopped
    int range = SEQ_RANGE_IN_FORCE; // or SOURCE_RANGE_AUTO / SOURCE_RANGE_HIGH
    int onFailContinue = 0;         // 0: a failed limit stops the output and the run
    int endHold = 0;                // 0: the output goes off at the end
};

enum SeqPhase {
    SEQ_PHASE_IDLE,
    SEQ_PHASE_STARTING, // setting the first step and starting the output
    SEQ_PHASE_RUNNING,
    SEQ_PHASE_ENDING, // the outcome is known; waiting for the stop to be confirmed
    SEQ_PHASE_DONE,
};

enum SeqOutcome { SEQ_OUTCOME_NONE, SEQ_PASS, SEQ_FAIL, SEQ_ABORTED, SEQ_INTERRUPTED };
// "PASS", "FAIL", "ABORTED", "INTERRUPTED" (empty for none): the words of the
// report, the remote answers and the log.
const char* SeqOutcomeWord(SeqOutcome outcome);

// What ended a run.
enum SeqCause {
    SEQ_CAUSE_NONE,
    SEQ_CAUSE_COMPLETED,      // every repeat ran
    SEQ_CAUSE_LIMIT,          // a failed limit, with "stop"
    SEQ_CAUSE_STOP,           // Stop or Escape in the window
    SEQ_CAUSE_INDICATOR,      // the OUTPUT indicator
    SEQ_CAUSE_REMOTE,         // a remote client's abort
    SEQ_CAUSE_CLOSE,          // the program was closed
    SEQ_CAUSE_ALARM,          // the source went into its alarm state
    SEQ_CAUSE_SOURCE_STOPPED, // the source reported its output stopped
    SEQ_CAUSE_REFUSED,        // a step or the start was refused
    SEQ_CAUSE_LINK_LOST,
    SEQ_CAUSE_COUNT
};

// The source as the run sees it.
struct SeqSourceState {
    int ready;    // the link is up and identified
    int idle;     // no request in flight and none queued
    int outputOn; // as the source last reported it
    int alarm;
    int32_t vol, freq, volLevel; // the settings in force
};

// How a run reaches the source. Each request returns 0 when it was done or
// had nothing to change, else the refusal.
struct SeqSource {
    SeqSourceState (*state)();
    int (*setRange)(int32_t volLevel);
    // While stopped, the frequency as the preset buttons reach it: a fixed one,
    // or back into the band.
    int (*setPresetFrequency)(int32_t freq);
    int (*setControls)(int32_t vol, int32_t freq);
    int (*output)(int on);
    // 1: the set values are the run's alone until 0.
    void (*hold)(int on);
};

// One step as it ran.
struct SeqStepResult {
    int repeat = 0; // from 1
    int step = 0;   // from 1
    int32_t setVol = 0;
    int32_t setFreq = 0;
    SysLocalTime start{};
    SysLocalTime end{};
    double startMs = 0; // since the run's start
    double endMs = 0;
    // The measurements after the settle time.
    int count = 0;
    int32_t vMin = 0, vMax = 0, iMax = 0, pMax = 0, fMin = 0, fMax = 0;
    int64_t vSum = 0;
    int failed = 0;
    std::string reason; // the first failed limit, with the value measured
};

// Every accepted measurement of the run, for the chart.
struct SeqSample {
    double ms; // since the run's start
    int32_t vol;
    int32_t curr;
};

// What a report is written from.
struct SeqRun {
    SeqProfile profile;
    SeqSettings settings;
    int32_t range = 0; // the range run in
    SysLocalTime start{};
    SysLocalTime end{};
    double endMs = 0;
    SeqOutcome outcome = SEQ_OUTCOME_NONE;
    SeqCause cause = SEQ_CAUSE_NONE;
    std::vector<SeqStepResult> steps;
    std::vector<SeqSample> samples;
    int failRepeat = 0; // the first step that failed
    int failStep = 0;
};

struct SeqListener {
    void (*started)(const SeqRun& run); // the output runs the first step
    void (*stepStarted)(const SeqRun& run, const SeqStepResult& step);
    void (*stepFailed)(const SeqRun& run, const SeqStepResult& step);
    void (*ended)(const SeqRun& run); // the output is as the outcome leaves it
};

using SeqClockFn = void (*)(SysLocalTime* wall, double* monotonicMs);

struct SeqRunner {
    SeqPhase phase = SEQ_PHASE_IDLE;
    SeqRun run;
    const SeqSource* source = nullptr;
    const SeqListener* listener = nullptr;
    SeqClockFn clock = nullptr; // the system's when null

    // The schedule, in milliseconds since the run's start.
    double t0 = 0;
    int repeat = 0; // from 0
    int step = 0;   // from 0
    int64_t stepAt = 0;
    int64_t nextStepAt = 0;
    struct Command {
        int64_t at; // after the step's start
        int32_t vol;
        int32_t freq;
    };
    std::vector<Command> commands;
    size_t nextCommand = 0;
    bool stepLive = false; // its settings have gone out
    int32_t volNow = 0;    // the profile's settings before the step
    int32_t freqNow = 0;

    double startAsked = 0;
    bool startRequested = false;
    bool stopIssued = false;
    double endingSince = 0;
};

// Starts a run of a clean profile (the caller has checked it for the range).
// Returns 0 or a SeqRefusal.
enum SeqRefusal {
    SEQ_START_OK = 0,
    SEQ_START_BUSY,       // a run is on
    SEQ_START_NO_PROFILE, // nothing loaded, or a profile with errors
    SEQ_START_OFFLINE,
    SEQ_START_ALARM,
    SEQ_START_OUTPUT_ON,
};
int SeqRunnerStart(SeqRunner* r, const SeqProfile& profile, const SeqSettings& settings,
                   const SeqSource* source, const SeqListener* listener);
// Called on every tick, before the link's own step.
void SeqRunnerTick(SeqRunner* r);
// An accepted measurement reply: 0.1 V, 0.001 A, 0.1 Hz, 1 W; arrived at atMs
// on the runner's clock's monotonic scale, or now.
void SeqRunnerMeasuredAt(SeqRunner* r, const int32_t values[4], double atMs);
void SeqRunnerMeasured(SeqRunner* r, const int32_t values[4]);
// Ends a run that is on as ABORTED, stopping the output.
void SeqRunnerAbort(SeqRunner* r, SeqCause cause);
void SeqRunnerLinkLost(SeqRunner* r);
// 1 from the start until the outcome's output state is reached.
int SeqRunnerActive(const SeqRunner& r);
// IDLE, RUNNING,<repeat>,<step>, PASS, FAIL,<repeat>,<step>, ABORTED, INTERRUPTED.
std::string SeqRunnerStateText(const SeqRunner& r);
// Milliseconds since the run's start (0 before it).
double SeqRunnerElapsedMs(const SeqRunner& r);
