// What quitting asks first. Each question is one function that the shutdown
// path (ExitMainPanel) calls before anything is written or closed; an answer
// of "not now" keeps the program running. A signal never asks.
#pragma once

enum QuitAnswer {
    QUIT_GO_ON = 0,  // nothing to ask, or the operator said to quit as things are
    QUIT_STOP_FIRST, // stop the output, then quit
    QUIT_CANCEL,     // the program keeps running
};

// While the link confirms a running output: "The output is on." with "Stop it
// and quit", "Leave it running and quit" and "Cancel" (also Escape and the
// close box).
QuitAnswer QuitAskAboutOutput();

// Asks the source to stop its output and calls quit() from the event loop once
// the source has answered, or once the link has closed.
void QuitAfterStoppingOutput(void (*quit)());
// 1 while a quit waits for the output to stop.
int QuitStopping();

// Starts listening to the link; once per process.
void QuitQuestionInstall();
// Forgets a quit under way, as at program start (tests use it).
void QuitQuestionReset();
