// The window's side of the link: what app/ puts in the link's view table, and
// the link dialog's fields.
#pragma once

// Makes the window the link's view (see link/LinkView.h).
void LinkWindowInstall();

// The link area of the main window: online with the model's name, or offline.
void CommConnectToPanel(int online);
// The link settings to the link dialog, and back.
void DataFromCommSetVarToPanel();
void DataFromPanelToCommSetVar();
