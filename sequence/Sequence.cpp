#include "sequence/Sequence.h"

#include <cerrno>

#include "link/Command.h"
#include "link/CommandIds.h"
#include "link/LinkEvents.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "sequence/Report.h"
#include "util/Text.h"

namespace {

const SequenceHooks* gHooks = nullptr;
std::string gPath;
SeqProfile gProfile;
std::vector<SeqError> gParseErrors;
std::vector<SeqError> gErrors;
int gCheckedRange = -1;
SeqSettings gSettings;
std::string gReportFolder;
SeqRunner gRunner;
int gLoads = 0;

void Changed() {
    if (gHooks && gHooks->changed) {
        gHooks->changed();
    }
}

int32_t RangeToRun() {
    return gSettings.range == SEQ_RANGE_IN_FORCE ? gNormal52PSet.volLevel : gSettings.range;
}

// The parse errors and those of the check for the range a run would use.
void Check() {
    gCheckedRange = RangeToRun();
    gErrors = gParseErrors;
    if (!gPath.empty()) {
        SeqCheckProfile(gProfile, gCheckedRange, &gErrors);
    }
}

// ---- the source, as the run reaches it ---------------------------------------------

int Done(int result) {
    return result == POWER_REQUEST_DONE || result == POWER_REQUEST_UNCHANGED ? 0 : result;
}

SeqSourceState State() {
    return {PowerLinkReady(),  PowerLinkIdle(),    gPowerInfo.outputOn,   gPowerInfo.alarm,
            gNormal52PSet.vol, gNormal52PSet.freq, gNormal52PSet.volLevel};
}

int Range(int32_t volLevel) {
    return Done(PowerRequestRange(volLevel, POWER_CALLER_SEQUENCE));
}

int PresetFrequency(int32_t freq) {
    return Done(PowerRequestPresetFrequency(freq, POWER_CALLER_SEQUENCE));
}

int Controls(int32_t vol, int32_t freq) {
    PowerEntry e = PowerEntryFromRecord();
    e.vol = vol;
    e.freq = freq;
    return Done(PowerRequestSetControls(e, POWER_CALLER_SEQUENCE));
}

int Output(int on) {
    return Done(PowerRequestOutput(on, POWER_CALLER_SEQUENCE));
}

void IndicatorPressed() {
    SeqRunnerAbort(&gRunner, SEQ_CAUSE_INDICATOR);
}

void Hold(int on) {
    if (on) {
        PowerHold(IndicatorPressed);
    } else {
        PowerRelease();
    }
}

const SeqSource kSource{State, Range, PresetFrequency, Controls, Output, Hold};

// ---- what the run tells ---------------------------------------------------------------

std::string ModelName() {
    std::string name;
    for (size_t i = 0; i < sizeof gPowerInfo.modelName && gPowerInfo.modelName[i]; ++i) {
        const char c = gPowerInfo.modelName[i];
        name += c >= ' ' && c < 0x7F ? c : '?';
    }
    return TextTrim(name);
}

void Started(const SeqRun& run) {
    if (gHooks && gHooks->started) {
        gHooks->started(run);
    }
    Changed();
}

void StepStarted(const SeqRun& run, const SeqStepResult& step) {
    if (gHooks && gHooks->stepStarted) {
        gHooks->stepStarted(run, step);
    }
    Changed();
}

void StepFailed(const SeqRun& run, const SeqStepResult& step) {
    if (gHooks && gHooks->stepFailed) {
        gHooks->stepFailed(run, step);
    }
    Changed();
}

void Ended(const SeqRun& run) {
    const SeqReportInfo info{gPath, ModelName()};
    const std::string folder =
        gReportFolder.empty() ? SeqReportDefaultFolder(gPath) : gReportFolder;
    std::string csv;
    std::string html;
    const int error = SeqReportWrite(run, info, folder, &csv, &html);
    if (gHooks && gHooks->ended) {
        gHooks->ended(run, error, csv, html);
    }
    Changed();
}

const SeqListener kListener{Started, StepStarted, StepFailed, Ended};

// ---- what the link tells ----------------------------------------------------------------

void Received(const uint8_t*, int, int kind, int subKind, int result) {
    if (result == COMM_RX_ACCEPTED && CommIs(kind, subKind, COMM_ID_MEASURE_QUERY)) {
        SysLocalTime wall{};
        double at = 0;
        LinkReceivedAt(&wall, &at);
        SeqRunnerMeasuredAt(&gRunner, gArrMeasureOutput, at);
    }
}

void Closed(const LinkPeer&) {
    SeqRunnerLinkLost(&gRunner);
}

const LinkObserver kObserver{nullptr, Received, nullptr, Closed, Closed, nullptr};

} // namespace

void SequenceInstall(const SequenceHooks* hooks) {
    gHooks = hooks;
    LinkAddObserver(&kObserver);
}

int SequenceLoad(const std::string& path) {
    if (SeqRunnerActive(gRunner)) {
        return EBUSY;
    }
    SeqProfile profile;
    std::vector<SeqError> errors;
    // The parse errors are kept apart: a change of range checks again.
    const int error = SeqReadProfile(path.c_str(), &profile, &errors);
    if (error != 0) {
        return error;
    }
    gPath = path;
    gProfile = profile;
    gParseErrors = errors;
    ++gLoads;
    Check();
    // A state reported after a load is that of no run, and the last run's
    // results belong to the profile before.
    const SeqClockFn clock = gRunner.clock;
    gRunner = SeqRunner{};
    gRunner.clock = clock;
    Changed();
    return 0;
}

const std::string& SequencePath() {
    return gPath;
}

int SequenceLoadCount() {
    return gLoads;
}

const SeqProfile& SequenceProfile() {
    return gProfile;
}

const std::vector<SeqError>& SequenceErrors() {
    if (!gPath.empty() && gCheckedRange != RangeToRun() && !SeqRunnerActive(gRunner)) {
        Check();
    }
    return gErrors;
}

std::vector<std::string> SequenceErrorLines(bool english) {
    const SeqErrorTexts texts =
        gHooks && gHooks->errorTexts ? gHooks->errorTexts(english) : SeqErrorTexts{};
    std::vector<std::string> lines;
    for (const SeqError& e : SequenceErrors()) {
        lines.push_back(SeqErrorText(e, texts));
    }
    return lines;
}

const SeqSettings& SequenceSettings() {
    return gSettings;
}

void SequenceSetSettings(const SeqSettings& settings) {
    gSettings = settings;
    Check();
    Changed();
}

void SequenceSetReportFolder(const std::string& folder) {
    gReportFolder = folder;
}

int SequenceStart() {
    if (SeqRunnerActive(gRunner)) {
        return SEQ_START_BUSY;
    }
    Check();
    if (gPath.empty() || !gErrors.empty()) {
        Changed();
        return SEQ_START_NO_PROFILE;
    }
    const int refused = SeqRunnerStart(&gRunner, gProfile, gSettings, &kSource, &kListener);
    Changed();
    return refused;
}

void SequenceAbort(SeqCause cause) {
    SeqRunnerAbort(&gRunner, cause);
    Changed();
}

void SequenceTick() {
    SeqRunnerTick(&gRunner);
}

int SequenceActive() {
    return SeqRunnerActive(gRunner);
}

std::string SequenceStateText() {
    return SeqRunnerStateText(gRunner);
}

const SeqRunner& SequenceRunner() {
    return gRunner;
}

void SequenceReset() {
    if (PowerHeld()) {
        PowerRelease();
    }
    const SeqClockFn clock = gRunner.clock;
    gRunner = SeqRunner{};
    gRunner.clock = clock;
    gPath.clear();
    gProfile = SeqProfile{};
    gParseErrors.clear();
    gErrors.clear();
    gCheckedRange = -1;
    gSettings = SeqSettings{};
    gReportFolder.clear();
}
