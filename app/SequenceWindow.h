// The test sequence window (File > Sequence...): the profile and its steps,
// the run settings, Start and Stop, and what the run is doing. It is not
// modal, and closing it leaves a run going; it is drawn from the state in
// sequence/ whenever it opens, so it never holds a state of its own.
#pragma once

#include <string>

#include "sequence/Runner.h"

extern int gSeqPanel;

void SequenceWindowRegisterCallbacks();
// 1 opens it (or brings it to the front), 0 closes it.
void DisplayPanelSequence(int show);
void SequenceWindowLanguageSet();
// Puts the window in line with the profile, the settings and the run.
void SequenceWindowRefresh();
// Rows of the step table as the run moves on.
void SequenceWindowStepStarted(const SeqRun& run);
void SequenceWindowStepFailed(const SeqRun& run);
// The run has ended; its report was written to path (without extension), or
// not (reportError, an errno).
void SequenceWindowRunEnded(const SeqRun& run, int reportError, const std::string& path);
// A line for the window's notice: a start that was refused, a lost link.
void SequenceWindowNotice(const std::string& text);
// Twice a second while a run is on: elapsed, remaining, progress.
void SequenceWindowTick();

int SEQPANEL_CALLBACK(int panel, int event, void* callbackData, int eventData1, int eventData2);
int BT_SEQ_OPEN_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                         int eventData2);
int BT_SEQ_START_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
int BT_SEQ_STOP_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                         int eventData2);
int SEQ_SETTINGS_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
