// Texts of the windows and menus from "English.dat" / "Chinese.dat".
#pragma once

struct IniStore;

extern IniStore* gInifileHandle;
extern int gInifileHandleState;
extern char gIniItemStr[5];
extern char gStrLanguage[256];

int OpenLanguage(int language);
void CloseLanguage();
int ReadItem(int itemNumber, char* buffer);
void PanelMainLanguageSet();
void PanelCommSetLanguageSet();
void PanelAboutLanguageSet();
void PanelWaitLanguageSet();
void StrAlarmLanguageSet();
