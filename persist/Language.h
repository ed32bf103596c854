// Texts of the windows and menus from "English.dat" / "Chinese.dat".
#pragma once

#include <string>

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
void PanelRemoteLanguageSet();
// One text of the current language's file, in UTF-8; empty when it has none.
std::string LanguageText(int itemNumber);
