// The remote-control server as the operator meets it: started by the option
// or by the settings in "Set.Dat", the "Remote Control..." dialog, and "REMOTE"
// in the link area while a client is connected.
#pragma once

#include "ui/Panels.h"

int BT_REMOTE_OK_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
int BT_REMOTE_CANCEL_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                              int eventData2);
int REMOTE_PANEL_CALLBACK(int panel, int event, void* callbackData, int eventData1, int eventData2);
void RemoteControlRegisterCallbacks();

void DisplayPanelRemote(int show);

// The server the option asks for, before the window opens. 0, or the errno
// after saying on standard error why it could not listen.
int RemoteControlStartFromCommandLine();
// The server "Set.Dat" asks for, once the window is up, unless the option gave
// one; a failure is shown in a warning box.
void RemoteControlStartFromSettings();
