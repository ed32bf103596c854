// Step k of a run begins at the sum of the dwells before it, counted from the
// moment the source confirmed the start, so a late tick never pushes the
// steps after it. A step's settings go out on the first tick at or after
// their time with the link idle; when several are due (a ramp behind a busy
// link) only the latest is sent.
#include "sequence/Runner.h"

#include <algorithm>

#include "power/SourceLimits.h"
#include "util/Text.h"

namespace {

constexpr int64_t kMsPerTenth = 100;
constexpr int64_t kMsPerSecond = 1000;
// How long a start or a stop may take to be confirmed before the run gives
// up waiting for it: a few exchanges at the slowest baud rate.
constexpr double kConfirmMs = 3000;

void ReadClock(const SeqRunner* r, SysLocalTime* wall, double* ms) {
    if (r->clock) {
        r->clock(wall, ms);
        return;
    }
    SysGetLocalTime(wall);
    *ms = SysMonotonicMs();
}

double NowMs(const SeqRunner* r) {
    SysLocalTime wall{};
    double ms = 0;
    ReadClock(r, &wall, &ms);
    return ms;
}

const SeqStep& StepOf(const SeqRunner* r) {
    return r->run.profile.steps[static_cast<size_t>(r->step)];
}

// (a * b) / c rounded half away from zero, for the ramp's levels.
int32_t Share(int64_t a, int64_t b, int64_t c) {
    const int64_t q = a * b;
    const int64_t m = (2 * (q < 0 ? -q : q) + c) / (2 * c);
    return static_cast<int32_t>(q < 0 ? -m : m);
}

// The settings commands of the step about to begin, from the settings before it.
void PlanStep(SeqRunner* r, bool first) {
    const SeqStep& s = StepOf(r);
    r->commands.clear();
    r->nextCommand = 0;
    if (!first) {
        const int32_t v0 = r->volNow;
        if (s.ramp > 0 && s.vol != v0) {
            if (s.freq != r->freqNow) {
                r->commands.push_back({0, v0, s.freq});
            }
            for (int j = 1; j <= s.ramp; ++j) {
                r->commands.push_back(
                    {j * kMsPerSecond, v0 + Share(s.vol - v0, j, s.ramp), s.freq});
            }
        } else if (s.vol != v0 || s.freq != r->freqNow) {
            r->commands.push_back({0, s.vol, s.freq});
        }
    }
    r->volNow = s.vol;
    r->freqNow = s.freq;
}

SeqStepResult& Current(SeqRunner* r) {
    return r->run.steps.back();
}

void MarkLive(SeqRunner* r, double now) {
    SeqStepResult& res = Current(r);
    r->stepLive = true;
    res.startMs = now - r->t0;
    ReadClock(r, &res.start, &now);
}

void OpenStep(SeqRunner* r, double now, bool first) {
    const SeqStep& s = StepOf(r);
    PlanStep(r, first);
    SeqStepResult res;
    res.repeat = r->repeat + 1;
    res.step = r->step + 1;
    res.setVol = s.vol;
    res.setFreq = s.freq;
    r->run.steps.push_back(res);
    r->nextStepAt = r->stepAt + int64_t{s.dwell} * kMsPerTenth;
    r->stepLive = false;
    // Nothing to send at its start: it starts on time.
    if (r->commands.empty() || r->commands.front().at > 0) {
        MarkLive(r, now);
    }
    if (r->listener && r->listener->stepStarted) {
        r->listener->stepStarted(r->run, Current(r));
    }
}

void Fail(SeqRunner* r, const std::string& reason);

// full: the step ran its whole dwell (not cut short by the run's end).
void CloseStep(SeqRunner* r, double now, bool full) {
    SeqStepResult& res = Current(r);
    if (!r->stepLive) {
        res.startMs = static_cast<double>(r->stepAt);
        ReadClock(r, &res.start, &now);
    }
    res.endMs = now - r->t0;
    double ignored = 0;
    ReadClock(r, &res.end, &ignored);
    // A step with limits that nothing was checked against has not passed.
    if (full && res.count == 0 && SeqStepHasLimits(StepOf(r))) {
        Fail(r, "no measurement after settle_s");
    } else if (!full && !res.failed) {
        res.reason = "ended before its dwell";
    }
}

bool Live(const SeqRunner* r) {
    return r->phase == SEQ_PHASE_STARTING || r->phase == SEQ_PHASE_RUNNING;
}

void Finish(SeqRunner* r) {
    r->phase = SEQ_PHASE_DONE;
    r->source->hold(0);
    if (r->listener && r->listener->ended) {
        r->listener->ended(r->run);
    }
}

bool StopsOutput(const SeqRun& run) {
    switch (run.outcome) {
    case SEQ_PASS:
    case SEQ_FAIL:
        return run.cause == SEQ_CAUSE_LIMIT || run.settings.endHold == 0;
    case SEQ_ABORTED:
        // The alarm or the source itself has stopped it; nothing is sent after.
        return run.cause != SEQ_CAUSE_ALARM && run.cause != SEQ_CAUSE_SOURCE_STOPPED;
    default:
        return false;
    }
}

void IssueStop(SeqRunner* r, double now) {
    r->source->output(0);
    r->stopIssued = true;
    r->endingSince = now;
}

void End(SeqRunner* r, SeqOutcome outcome, SeqCause cause) {
    if (!Live(r)) {
        return;
    }
    double now = NowMs(r);
    if (r->phase == SEQ_PHASE_RUNNING) {
        CloseStep(r, now, false);
    }
    r->run.outcome = outcome;
    r->run.cause = cause;
    r->run.endMs = r->phase == SEQ_PHASE_RUNNING ? now - r->t0 : 0;
    ReadClock(r, &r->run.end, &now);
    r->phase = SEQ_PHASE_ENDING;
    r->endingSince = now;
    if (!StopsOutput(r->run)) {
        Finish(r);
        return;
    }
    // At once, so a stop for a failed limit leaves in the tick its
    // measurement came in. A start not yet confirmed is stopped once it is.
    const SeqSourceState st = r->source->state();
    if (st.ready && st.outputOn) {
        IssueStop(r, now);
    }
}

void Fail(SeqRunner* r, const std::string& reason) {
    SeqStepResult& res = Current(r);
    if (res.failed) {
        return;
    }
    res.failed = 1;
    res.reason = reason;
    if (r->run.failRepeat == 0) {
        r->run.failRepeat = res.repeat;
        r->run.failStep = res.step;
    }
    if (r->listener && r->listener->stepFailed) {
        r->listener->stepFailed(r->run, res);
    }
    if (r->run.settings.onFailContinue == 0) {
        End(r, SEQ_FAIL, SEQ_CAUSE_LIMIT);
    }
}

std::string Measured(SourceQuantity q, int32_t value) {
    return SourceText(q, value) + " " + SourceQuantityOf(q).unit;
}

// The first limit the values break, as "<column>: <measured> > <limit>".
std::string Broken(const SeqStep& s, const int32_t* v) {
    const SourceQuantity qv = SOURCE_Q_MEASURED_VOLTAGE;
    if (s.vMin != SEQ_NO_LIMIT && v[0] < s.vMin) {
        return "v_min: " + Measured(qv, v[0]) + " < " + Measured(qv, s.vMin);
    }
    if (s.vMax != SEQ_NO_LIMIT && v[0] > s.vMax) {
        return "v_max: " + Measured(qv, v[0]) + " > " + Measured(qv, s.vMax);
    }
    const SourceQuantity qi = SOURCE_Q_MEASURED_CURRENT;
    if (s.iMax != SEQ_NO_LIMIT && v[1] > s.iMax) {
        return "i_max_a: " + Measured(qi, v[1]) + " > " + Measured(qi, s.iMax);
    }
    const SourceQuantity qp = SOURCE_Q_MEASURED_POWER;
    if (s.pMax != SEQ_NO_LIMIT && v[3] > s.pMax) {
        return "p_max_w: " + Measured(qp, v[3]) + " > " + Measured(qp, s.pMax);
    }
    const SourceQuantity qf = SOURCE_Q_MEASURED_FREQUENCY;
    const int32_t off = v[2] > s.freq ? v[2] - s.freq : s.freq - v[2];
    if (s.fTol != SEQ_NO_LIMIT && off > s.fTol) {
        return "f_tol_hz: |" + SourceText(qf, v[2]) + " - " + SourceText(qf, s.freq) + "| " +
               SourceQuantityOf(qf).unit + " > " + Measured(qf, s.fTol);
    }
    return {};
}

void Begin(SeqRunner* r, double now) {
    r->phase = SEQ_PHASE_RUNNING;
    r->t0 = now;
    double ignored = 0;
    ReadClock(r, &r->run.start, &ignored);
    r->repeat = 0;
    r->step = 0;
    r->stepAt = 0;
    if (r->listener && r->listener->started) {
        r->listener->started(r->run);
    }
    OpenStep(r, now, true);
}

// Moves on to the step after the present one; false when the run has none.
bool Advance(SeqRunner* r) {
    const int count = static_cast<int>(r->run.profile.steps.size());
    if (r->step + 1 < count) {
        ++r->step;
        return true;
    }
    const int repeats = r->run.settings.repeat;
    if (repeats != 0 && r->repeat + 1 >= repeats) {
        return false;
    }
    ++r->repeat;
    r->step = 0;
    return true;
}

void TickStarting(SeqRunner* r, const SeqSourceState& st, double now) {
    if (r->startRequested) {
        if (st.outputOn) {
            Begin(r, now);
        } else if (st.idle && now - r->startAsked > kConfirmMs) {
            End(r, SEQ_ABORTED, SEQ_CAUSE_REFUSED);
        }
        return;
    }
    if (!st.idle) {
        return;
    }
    const SeqStep& first = r->run.profile.steps.front();
    int refused = 0;
    if (st.volLevel != r->run.range) {
        refused = r->source->setRange(r->run.range);
    } else if (st.freq != first.freq &&
               (SourceFrequencyIsPreset(first.freq) || SourceFrequencyAboveBand(st.freq))) {
        refused = r->source->setPresetFrequency(first.freq);
    } else if (st.vol != first.vol || st.freq != first.freq) {
        refused = r->source->setControls(first.vol, first.freq);
    } else {
        refused = r->source->output(1);
        r->startRequested = true;
        r->startAsked = now;
    }
    if (refused != 0) {
        End(r, SEQ_ABORTED, SEQ_CAUSE_REFUSED);
    }
}

void TickRunning(SeqRunner* r, const SeqSourceState& st, double now) {
    if (!st.outputOn) {
        End(r, SEQ_ABORTED, SEQ_CAUSE_SOURCE_STOPPED);
        return;
    }
    const double t = now - r->t0;
    while (t >= static_cast<double>(r->nextStepAt)) {
        CloseStep(r, now, true);
        if (!Live(r)) {
            return; // a step without a measurement failed, with "stop"
        }
        if (!Advance(r)) {
            End(r, r->run.failRepeat != 0 ? SEQ_FAIL : SEQ_PASS, SEQ_CAUSE_COMPLETED);
            return;
        }
        r->stepAt = r->nextStepAt;
        OpenStep(r, now, false);
    }
    const auto due = [&](size_t i) {
        return i < r->commands.size() && static_cast<double>(r->stepAt + r->commands[i].at) <= t;
    };
    if (!due(r->nextCommand) || !st.idle) {
        return;
    }
    size_t last = r->nextCommand;
    while (due(last + 1)) {
        ++last;
    }
    const SeqRunner::Command c = r->commands[last];
    const bool opening = r->nextCommand == 0 && r->commands.front().at == 0;
    r->nextCommand = last + 1;
    if (r->source->setControls(c.vol, c.freq) != 0) {
        End(r, SEQ_ABORTED, SEQ_CAUSE_REFUSED);
        return;
    }
    if (opening) {
        MarkLive(r, now);
    }
}

void TickEnding(SeqRunner* r, const SeqSourceState& st, double now) {
    if (!st.ready) {
        Finish(r);
        return;
    }
    if (!r->stopIssued && st.outputOn) {
        IssueStop(r, now);
    }
    if ((!st.outputOn && st.idle) || now - r->endingSince > kConfirmMs) {
        Finish(r);
    }
}

} // namespace

const char* SeqOutcomeWord(SeqOutcome outcome) {
    switch (outcome) {
    case SEQ_PASS:
        return "PASS";
    case SEQ_FAIL:
        return "FAIL";
    case SEQ_ABORTED:
        return "ABORTED";
    case SEQ_INTERRUPTED:
        return "INTERRUPTED";
    default:
        return "";
    }
}

int SeqRunnerStart(SeqRunner* r, const SeqProfile& profile, const SeqSettings& settings,
                   const SeqSource* source, const SeqListener* listener) {
    if (SeqRunnerActive(*r)) {
        return SEQ_START_BUSY;
    }
    if (profile.steps.empty()) {
        return SEQ_START_NO_PROFILE;
    }
    const SeqSourceState st = source->state();
    if (!st.ready) {
        return SEQ_START_OFFLINE;
    }
    if (st.alarm) {
        return SEQ_START_ALARM;
    }
    if (st.outputOn) {
        return SEQ_START_OUTPUT_ON;
    }
    const SeqClockFn clock = r->clock;
    *r = SeqRunner{};
    r->clock = clock;
    r->source = source;
    r->listener = listener;
    r->run.profile = profile;
    r->run.settings = settings;
    r->run.range = settings.range == SEQ_RANGE_IN_FORCE ? st.volLevel : settings.range;
    r->phase = SEQ_PHASE_STARTING;
    source->hold(1);
    return SEQ_START_OK;
}

void SeqRunnerTick(SeqRunner* r) {
    if (!SeqRunnerActive(*r)) {
        return;
    }
    const double now = NowMs(r);
    const SeqSourceState st = r->source->state();
    if (r->phase == SEQ_PHASE_ENDING) {
        TickEnding(r, st, now);
        return;
    }
    if (!st.ready) {
        SeqRunnerLinkLost(r);
        return;
    }
    if (st.alarm) {
        End(r, SEQ_ABORTED, SEQ_CAUSE_ALARM);
        return;
    }
    if (r->phase == SEQ_PHASE_STARTING) {
        TickStarting(r, st, now);
    } else {
        TickRunning(r, st, now);
    }
}

void SeqRunnerMeasured(SeqRunner* r, const int32_t values[4]) {
    SeqRunnerMeasuredAt(r, values, NowMs(r));
}

void SeqRunnerMeasuredAt(SeqRunner* r, const int32_t values[4], double atMs) {
    if (r->phase != SEQ_PHASE_RUNNING) {
        return;
    }
    const double t = atMs - r->t0;
    r->run.samples.push_back({t, values[0], values[1]});
    SeqStepResult& res = Current(r);
    const SeqStep& s = StepOf(r);
    if (!r->stepLive || t < res.startMs + static_cast<double>(s.settle * kMsPerTenth)) {
        return;
    }
    if (res.count == 0) {
        res.vMin = res.vMax = values[0];
        res.fMin = res.fMax = values[2];
        res.iMax = values[1];
        res.pMax = values[3];
    }
    ++res.count;
    res.vSum += values[0];
    res.vMin = std::min(res.vMin, values[0]);
    res.vMax = std::max(res.vMax, values[0]);
    res.iMax = std::max(res.iMax, values[1]);
    res.pMax = std::max(res.pMax, values[3]);
    res.fMin = std::min(res.fMin, values[2]);
    res.fMax = std::max(res.fMax, values[2]);
    const std::string broken = Broken(s, values);
    if (!broken.empty()) {
        Fail(r, broken);
    }
}

void SeqRunnerAbort(SeqRunner* r, SeqCause cause) {
    End(r, SEQ_ABORTED, cause);
}

void SeqRunnerLinkLost(SeqRunner* r) {
    if (r->phase == SEQ_PHASE_ENDING) {
        Finish(r);
        return;
    }
    End(r, SEQ_INTERRUPTED, SEQ_CAUSE_LINK_LOST);
}

int SeqRunnerActive(const SeqRunner& r) {
    return r.phase == SEQ_PHASE_STARTING || r.phase == SEQ_PHASE_RUNNING ||
           r.phase == SEQ_PHASE_ENDING;
}

std::string SeqRunnerStateText(const SeqRunner& r) {
    switch (r.phase) {
    case SEQ_PHASE_IDLE:
        return "IDLE";
    case SEQ_PHASE_STARTING:
        return "RUNNING,1,1";
    case SEQ_PHASE_RUNNING:
    case SEQ_PHASE_ENDING:
        return "RUNNING," + std::to_string(r.repeat + 1) + "," + std::to_string(r.step + 1);
    case SEQ_PHASE_DONE:
        break;
    }
    const std::string word = SeqOutcomeWord(r.run.outcome);
    if (r.run.outcome == SEQ_FAIL) {
        return word + "," + std::to_string(r.run.failRepeat) + "," + std::to_string(r.run.failStep);
    }
    return word;
}

double SeqRunnerElapsedMs(const SeqRunner& r) {
    if (r.phase == SEQ_PHASE_RUNNING) {
        return NowMs(&r) - r.t0;
    }
    return r.phase == SEQ_PHASE_IDLE || r.phase == SEQ_PHASE_STARTING ? 0 : r.run.endMs;
}
