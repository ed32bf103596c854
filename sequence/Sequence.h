// The program's one test run: the profile loaded, the run settings, and the
// run, bound to power's request functions and to what the link reports. The
// window, the command line and the remote commands all act through here; what
// the program shows and keeps of a run (the window, the data log, the end of
// an unattended run) hangs off the hooks.
#pragma once

#include <string>
#include <vector>

#include "sequence/Runner.h"

// Any member may be null.
struct SequenceHooks {
    // The profile, the settings or the run changed in a way a window shows.
    void (*changed)();
    void (*started)(const SeqRun& run);
    void (*stepStarted)(const SeqRun& run, const SeqStepResult& step);
    void (*stepFailed)(const SeqRun& run, const SeqStepResult& step);
    // The run is over and its report written (reportError 0) or not (an errno).
    void (*ended)(const SeqRun& run, int reportError, const std::string& csvPath,
                  const std::string& htmlPath);
    // The texts errors are written with: the language in force, or English.
    SeqErrorTexts (*errorTexts)(bool english);
};

// Listens to the link from now on; the hooks must outlive the program's run.
// Once per process, after the other listeners, so a stop sent for a failed
// limit never clears a measurement before the others have seen it.
void SequenceInstall(const SequenceHooks* hooks);

// Loads a profile and checks it for the range the run would use. Returns 0,
// or the errno of a file that could not be read (the profile loaded before
// stays). Refused (EBUSY) while a run is on.
int SequenceLoad(const std::string& path);
const std::string& SequencePath();
// Profiles loaded so far: a window knows by it that its rows are stale.
int SequenceLoadCount();
const SeqProfile& SequenceProfile();
// Every error of the profile loaded, for the range a run would use now.
const std::vector<SeqError>& SequenceErrors();
// Every error as a line of text, in the language in force or in English.
std::vector<std::string> SequenceErrorLines(bool english);

const SeqSettings& SequenceSettings();
// The range changed checks the profile again.
void SequenceSetSettings(const SeqSettings& settings);
// Where the reports go; empty: beside the profile.
void SequenceSetReportFolder(const std::string& folder);

// Starts a run (SeqRefusal). The profile is checked again for the range in
// force first: a range changed at the panel since the load may make it
// SEQ_START_NO_PROFILE, with the errors in SequenceErrors.
int SequenceStart();
void SequenceAbort(SeqCause cause);
// On every tick, before the link's own step.
void SequenceTick();
int SequenceActive();
// IDLE, RUNNING,<repeat>,<step>, PASS, FAIL,<repeat>,<step>, ABORTED, INTERRUPTED.
std::string SequenceStateText();
const SeqRunner& SequenceRunner();
// Forgets the profile, the settings and the run (tests).
void SequenceReset();
