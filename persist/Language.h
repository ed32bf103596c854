// Texts of the windows and menus from "English.dat" / "Chinese.dat".
#pragma once

#include <string>

#include "util/Text.h"

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
// The same in a language given (1 English, else Chinese), whatever is in force:
// for clients that read English alone.
void LanguageTextsIn(int language, const int* items, int count, std::string* texts);
void PanelRemoteLanguageSet();

// The one test of which language is in force: true for English, false for Chinese.
bool LanguageIsEnglish();
// One item's text in the language in force, as UTF-8; empty when the file lacks
// it. Numbers of the program's own texts: persist/TextItems.h.
std::string LanguageText(int item);
// A text for a message box or a line on standard error: the item with its
// "{name}" marks filled in. Never empty: where the file of the language lacks
// the item the English one is used, and where that lacks it too, the item's
// number followed by the values, so the file and the reason still show.
std::string LanguageMessage(int item, TextValues values = {});
// The same in English (english true) or Chinese whatever is in force.
std::string LanguageMessageIn(bool english, int item, TextValues values = {});
// The reason to show for an error code (an errno value), in the language in
// force: in Chinese the system's words are followed by their Chinese for the
// common codes; others, and every code in English, as the system gives them.
std::string LanguageReasonText(int code);
// A warning box titled "Warning" in the language in force.
void LanguageWarningPopup(const std::string& text, const char* detail = nullptr);
