// Start-up, the single-instance guard, the screen check and shutdown.
#pragma once

#include "ui/Panels.h"
#include "util/DateTime.h"

extern int hMutex;
extern int gFirstConnect;
extern DateTime gDateTimeLast;
extern DateTime gDateTimeNow;

// The whole program: start-up, event loop, shutdown. Returns the process status.
int AppMain(int argc, char* argv[]);

void CheckScreen();
// The close box, Ctrl+Q and the File menu: asks first what quitting would
// leave behind (QuitQuestion.h), then shuts down.
void ExitMainPanel();
// The same shutdown, reached from SIGTERM or SIGINT: failures go to standard
// error instead of a message box.
void ExitMainPanelOnSignal();
// The shutdown without the questions before it: for a test run that has
// already asked, or was asked by its script to end the program.
void ExitMainPanelUnasked();
// Shutdown's first step: writes the autosave file and "Set.Dat" and reports what
// failed, in a warning box, or with fromSignal on standard error.
void AppSaveSettingsOnExit(int fromSignal);
int MAIN_PANEL_CALLBACK(int panel, int event, void* callbackData, int eventData1, int eventData2);

// Registers the layout names and every callback of the program with the
// toolkit; only the first call does anything.
void AppRegisterUi();

// Steps 5 to 11 of start-up without the guard, the screen check and the link:
// loads the panels and the menu bar and shows the main window as at start.
// Returns 0; ENOENT when a panel or the menu bar is missing, EIO when it cannot
// be loaded (a line on standard error says which). Tests use it to get the real
// window.
int AppLoadAndShowPanels();
