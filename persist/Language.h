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
// The link monitor's fixed texts; panel is the monitor window.
void PanelLinkMonitorLanguageSet(int panel);
// Texts of the current language by item number, as UTF-8, for texts the
// program fills in or keeps (one file read for them all). A missing item
// gives an empty text.
void LanguageTexts(const int* items, int count, std::string* texts);
// The same in a language given (1 English, else Chinese), whatever is in force:
// for clients that read English alone.
void LanguageTextsIn(int language, const int* items, int count, std::string* texts);
void PanelRemoteLanguageSet();
