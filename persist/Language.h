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
// The strip charts' menus and tips: part of the main pass, and at a Chinese
// start, where the main window keeps its layout's texts, on their own.
void PanelStripChartLanguageSet();
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
// One such text.
std::string LanguageText(int item);
void PanelRemoteLanguageSet();
// The system's reason for an error code (an errno value), for a message in the
// language in force: in Chinese the system's words are followed by their
// Chinese for the common codes; others, and every code in English, as the
// system gives them.
std::string LanguageReasonText(int code);
