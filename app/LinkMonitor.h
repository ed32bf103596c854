// The link monitor: a window of its own, beside the main window and never in
// its way, listing every frame sent and received with its time, its bytes and
// what it was. It keeps the newest 10,000 frames; while it is closed, the link
// costs nothing more than without it.
#pragma once

#include <cstdint>
#include <string>

extern int gLinkMonPanel; // 0 while the monitor is closed

void LinkMonitorInstall();
void DisplayPanelLinkMonitor(int show);
// Re-texts the open monitor (rows already listed keep their words).
void LinkMonitorLanguageSet();

// The row of one frame: time, direction, hex bytes, printable text, meaning.
// result is the decoder's for a received frame, or kLinkMonitorSent.
constexpr int kLinkMonitorSent = 2;
std::string LinkMonitorHex(const uint8_t* bytes, int length);
std::string LinkMonitorPrintable(const uint8_t* bytes, int length);

int LINKMONPANEL_CALLBACK(int panel, int event, void* callbackData, int eventData1, int eventData2);
int BT_LINKMON_PAUSE_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                              int eventData2);
int BT_LINKMON_CLEAR_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                              int eventData2);
int BT_LINKMON_SAVE_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                             int eventData2);
int BT_LINKMON_CLOSE_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                              int eventData2);
