// An unattended run ends the program once its report is written, with a
// status a script can act on: 0 PASS, 1 FAIL, 2 ABORTED or INTERRUPTED (also
// when the link never came up, or the start was refused), 255 when the
// profile cannot be run.
#include "app/Sequencing.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/CommandLine.h"
#include "app/Recording.h"
#include "app/SequenceTexts.h"
#include "app/SequenceWindow.h"
#include "app/Shell.h"
#include "persist/Language.h"
#include "platform/Toolkit.h"
#include "power/PowerRequest.h"
#include "power/SourceLimits.h"
#include "record/DataLog.h"
#include "sequence/Report.h"
#include "sequence/Sequence.h"
#include "util/Text.h"

namespace {

constexpr int kStatusPass = 0;
constexpr int kStatusFail = 1;
constexpr int kStatusNotRun = 2;
constexpr int kStatusUnloadable = 255;
// How long --sequence waits for the link: 10 s of 50 ms ticks.
constexpr int kLinkWaitTicks = 200;
// The window's clocks move on twice a second.
constexpr int kWindowTicks = 10;

bool gPendingStart = false;
bool gExitWhenDone = false;
bool gCloseWhenDone = false;
bool gClosedBySignal = false;
int gWaitedTicks = 0;
int gTicks = 0;
int gExitStatus = 0;

const char* RangeWord(int range) {
    return range == 0 ? "AUTO" : (range == 1 ? "HIGH" : "in-force");
}

void Say(const std::string& line) {
    std::fprintf(stderr, "Vx52PSoft: %s\n", line.c_str());
}

void Inform(const std::string& text) {
    MessagePopup(LanguageText(TEXT_SEQ_TITLE).c_str(), text.c_str());
}

std::string RefusalText(int refusal) {
    const std::vector<std::string> parts = SequenceTextParts(TEXT_SEQ_REFUSALS);
    const size_t i = static_cast<size_t>(refusal - SEQ_START_BUSY);
    return refusal >= SEQ_START_BUSY && i < parts.size() ? parts[i] : std::string();
}

int StatusOf(SeqOutcome outcome) {
    switch (outcome) {
    case SEQ_PASS:
        return kStatusPass;
    case SEQ_FAIL:
        return kStatusFail;
    default:
        return kStatusNotRun;
    }
}

void ExitNow(void*) {
    gCloseWhenDone = false;
    if (gClosedBySignal) {
        ExitMainPanelOnSignal();
    } else {
        ExitMainPanelUnasked();
    }
}

void ExitWith(int status) {
    gExitStatus = status;
    gExitWhenDone = false;
    gPendingStart = false;
    // Never from inside the link's step or a callback under way.
    UiPostDeferredCall(ExitNow, nullptr);
}

std::string Where(const SeqStepResult& s) {
    return "repeat " + std::to_string(s.repeat) + " step " + std::to_string(s.step);
}

// ---- what the runs tell -------------------------------------------------------------

void Changed() {
    SequenceWindowRefresh();
}

void Started(const SeqRun& run) {
    const SeqSettings& s = run.settings;
    RecordingSequenceEvent(kLogEventSeqStart, SequencePath() + " repeat " +
                                                  std::to_string(s.repeat) + " range " +
                                                  RangeWord(run.range) + " on-fail " +
                                                  (s.onFailContinue ? "continue" : "stop") +
                                                  " end " + (s.endHold ? "hold" : "off"));
}

void StepStarted(const SeqRun& run, const SeqStepResult& step) {
    RecordingSequenceEvent(kLogEventSeqStep,
                           Where(step) + " " + SourceText(SOURCE_Q_SET_VOLTAGE, step.setVol) +
                               " V " + SourceText(SOURCE_Q_SET_FREQUENCY, step.setFreq) + " Hz");
    SequenceWindowStepStarted(run);
}

void StepFailed(const SeqRun& run, const SeqStepResult& step) {
    RecordingSequenceEvent(kLogEventSeqFail, Where(step) + ": " + step.reason);
    SequenceWindowStepFailed(run);
}

void Ended(const SeqRun& run, int reportError, const std::string& csvPath, const std::string&) {
    const std::string base = csvPath.substr(0, csvPath.size() - 4);
    std::string detail = std::string(SeqOutcomeWord(run.outcome));
    if (run.outcome == SEQ_FAIL) {
        detail +=
            " repeat " + std::to_string(run.failRepeat) + " step " + std::to_string(run.failStep);
    }
    detail += std::string("; ") + SeqCauseText(run.cause) + "; report " + base;
    RecordingSequenceEvent(kLogEventSeqEnd, detail);
    SequenceWindowRunEnded(run, reportError, base);
    if (reportError != 0) {
        Say("the report could not be written to " + base + ": " + LanguageReasonText(reportError));
    }
    if (gExitWhenDone) {
        ExitWith(StatusOf(run.outcome));
    } else if (gCloseWhenDone) {
        UiPostDeferredCall(ExitNow, nullptr);
    }
}

const SequenceHooks kHooks{Changed, Started, StepStarted, StepFailed, Ended, SequenceErrorTexts};

// The start from the command line, once the link is up.
void StartPending() {
    gPendingStart = false;
    const int refused = SequenceStart();
    if (refused == SEQ_START_OK) {
        return;
    }
    const std::string why = RefusalText(refused);
    Say("the sequence did not start: " + why);
    SequenceWindowNotice(why);
    if (gExitWhenDone) {
        ExitWith(kStatusNotRun);
    }
}

} // namespace

void SequencingInstall() {
    SequenceInstall(&kHooks);
}

void SequencingLoad(const char* path) {
    const int error = SequenceLoad(path);
    if (error != 0) {
        Inform(LanguageMessage(TEXT_SEQ_UNREADABLE,
                               {{"path", path}, {"reason", LanguageReasonText(error)}}));
    }
    SequenceWindowRefresh();
}

void SequencingStart() {
    const int refused = SequenceStart();
    if (refused != SEQ_START_OK) {
        Inform(RefusalText(refused));
    }
    SequenceWindowRefresh();
}

void SequencingTick() {
    SequenceTick();
    if (SequenceActive()) {
        // What the run's steps changed is the run's, in the data log.
        RecordingSequenceChanges();
    }
    if (gPendingStart) {
        if (PowerLinkReady()) {
            StartPending();
        } else if (++gWaitedTicks >= kLinkWaitTicks) {
            gPendingStart = false;
            Say("no link to the power source after 10 s: the sequence did not start");
            SequenceWindowNotice(RefusalText(SEQ_START_OFFLINE));
            if (gExitWhenDone) {
                ExitWith(kStatusNotRun);
            }
        }
    }
    if (++gTicks % kWindowTicks == 0) {
        SequenceWindowTick();
    }
}

int SequencingStartFromCommandLine() {
    const CommandLineSequence& c = CommandLineSequenceRun();
    if (c.given == 0) {
        return 0;
    }
    gExitWhenDone = c.exitWhenDone != 0;
    SequenceSetSettings(c.settings);
    SequenceSetReportFolder(c.reportFolder);
    const int error = SequenceLoad(c.path);
    if (error != 0) {
        Say("the profile " + c.path + " cannot be read: " + std::strerror(error));
        if (gExitWhenDone) {
            return kStatusUnloadable;
        }
    } else if (!SequenceErrors().empty()) {
        for (const std::string& line : SequenceErrorLines(false)) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        if (gExitWhenDone) {
            return kStatusUnloadable;
        }
    } else {
        gPendingStart = true;
        gWaitedTicks = 0;
    }
    DisplayPanelSequence(1);
    return 0;
}

int SequencingAskClose() {
    return ConfirmPopup(LanguageText(TEXT_SEQ_TITLE).c_str(),
                        LanguageText(TEXT_SEQ_CLOSE_QUESTION).c_str()) == 1
               ? 1
               : 0;
}

int SequencingMayClose(int signalled) {
    if (!SequenceActive()) {
        return 1;
    }
    if (gCloseWhenDone) {
        // Already stopping: a second signal does not wait any more.
        return signalled;
    }
    if (signalled == 0 && SequencingAskClose() != 1) {
        return 0;
    }
    gCloseWhenDone = true;
    gClosedBySignal = signalled != 0;
    SequenceAbort(SEQ_CAUSE_CLOSE);
    // Ended before the abort returned (nothing to stop): the exit is posted.
    return 0;
}

int SequencingRunOn() {
    return SequenceActive();
}

int SequencingExitStatus() {
    return gExitStatus;
}

void SequencingReset() {
    gPendingStart = false;
    gExitWhenDone = false;
    gCloseWhenDone = false;
    gClosedBySignal = false;
    gWaitedTicks = 0;
    gExitStatus = 0;
}
