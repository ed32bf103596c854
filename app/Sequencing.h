// Test runs as the program carries them out: the window's Open and Start,
// the command line's --sequence, the data log's seq_... events, the end of an
// unattended run with its exit status, and closing the program during a run.
#pragma once

// Hooks the runs to the window, the log and the end of the program; once per
// process, after the other listeners of the link.
void SequencingInstall();
// Loads a profile, saying in a warning box when the file cannot be read.
void SequencingLoad(const char* path);
// Starts the run loaded, saying in a box why when it cannot.
void SequencingStart();
// On every tick, before the link's own step.
void SequencingTick();
// --sequence at start-up, before the first connect: loads the profile and
// arranges its start once the link is up. Returns 0, or 255 after writing
// on standard error why the profile cannot be run (with --exit-when-done).
int SequencingStartFromCommandLine();
// Asked by the shutdown: 1 when it may go on now; 0 when a run is on and the
// shutdown waits for it to stop the output and write its report (or the
// operator chose to stay). signalled: no question can be asked.
int SequencingMayClose(int signalled);
// The question itself, kept apart so that it can join the program's other
// questions before quitting: 1 for yes.
int SequencingAskClose();
// 1 while a run is on (from its start until its report is written).
int SequencingRunOn();
// The status the process ends with (0 unless an unattended run set it).
int SequencingExitStatus();
// Forgets a pending start and an arranged exit (tests).
void SequencingReset();
