// The main menu, the link-settings dialog, the about box, the wait popup and
// the connect button.
#pragma once

int MAIN_MENU_ITEM_CALLBACK(int menuBar, int menuItem, void* callbackData, int panel);
int BT_COMM_CONNECT_CALLBACK(int panel, int control, int event, void* callbackData,
                             int eventData1, int eventData2);
int BT_COMMSET_OK_CALLBACK(int panel, int control, int event, void* callbackData,
                           int eventData1, int eventData2);
int BT_COMMSET_CANCEL_CALLBACK(int panel, int control, int event, void* callbackData,
                               int eventData1, int eventData2);
int COMM_PANEL_CALLBACK(int panel, int event, void* callbackData, int eventData1,
                        int eventData2);
int BT_ABOUT_OK_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                         int eventData2);
int ABOUTPANEL_CALLBACK(int panel, int event, void* callbackData, int eventData1,
                        int eventData2);

void DisplayPanelCommSet(int show);
void DisplayPanelAbout(int show);
void DisplayPanelWait(int show);
void SetLanguageChinese();
void SetLanguageEnglish();
// The toolkit's own texts in message boxes and file dialogs follow the language.
void StockDialogsFollowLanguage();
void CallHelpFile();
void MainMenuNormalSaveLoadDimmed(unsigned int dimmed);
