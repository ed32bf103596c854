// The main menu, the link-settings dialog, the about box, the wait popup and
// the connect button.
#pragma once

#include <string>

#include "persist/SettingsFiles.h"

int MAIN_MENU_ITEM_CALLBACK(int menuBar, int menuItem, void* callbackData, int panel);
int BT_COMM_CONNECT_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                             int eventData2);
int BT_COMMSET_OK_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                           int eventData2);
int BT_COMMSET_CANCEL_CALLBACK(int panel, int control, int event, void* callbackData,
                               int eventData1, int eventData2);
int COMM_PANEL_CALLBACK(int panel, int event, void* callbackData, int eventData1, int eventData2);
// The link dialog's port: its device list names where the new port leads.
int RING_COMMSET_PORT_CALLBACK(int panel, int control, int event, void* callbackData,
                               int eventData1, int eventData2);
int BT_ABOUT_OK_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                         int eventData2);
int ABOUTPANEL_CALLBACK(int panel, int event, void* callbackData, int eventData1, int eventData2);

void DisplayPanelCommSet(int show);
void DisplayPanelAbout(int show);
void DisplayPanelWait(int show);
void SetLanguageChinese();
void SetLanguageEnglish();
// The toolkit's own texts in message boxes and file dialogs follow the language.
void StockDialogsFollowLanguage();
void CallHelpFile();

// The settings a failed write was meant to keep; the message says what is lost.
enum SettingsWrite {
    WRITE_SAVED_OUTPUT,  // output settings in the file chosen in the save dialog
    WRITE_LINK_DIALOG,   // "Set.Dat" after OK in the link-settings dialog
    WRITE_EXIT_AUTOSAVE, // the autosave file at shutdown
    WRITE_EXIT_SOFTSET,  // "Set.Dat" at shutdown
    WRITE_REMOTE_DIALOG, // "Set.Dat" after OK in the remote-control dialog
};
// The operator's text for a file that could not be written, naming the file and
// the reason for error (an errno value), in the language in force.
std::string SettingsWriteFailureText(SettingsWrite what, const char* path, int error);
// One warning box in the language in force with the given texts.
void ShowSettingsWriteFailure(const std::string& text);
// Why a settings file was not read, in the language in force.
std::string SettingsRefusalText(const SettingsReport& report);
