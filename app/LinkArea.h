// The link area's own news beside the connect controls: the device, baud rate
// and address in use, a lamp that flashes on every accepted reply, a notice
// that stays after the link was lost, until the next connect, the countdown
// to the next try while the link is tried again (with a button that stops
// the retrying), and a watchdog trip until it is cleared.
#pragma once

#include <string>

// Starts listening to the link; once per process.
void LinkAreaInstall();
int BT_STOP_RETRY_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                           int eventData2);
// Writes what the area shows in the language in force.
void LinkAreaLanguageSet();
// Forgets what it was showing, as at program start (tests use it).
void LinkAreaReset();
// Replaces each "{name}" in text by its value; the language files hold the
// texts with these marks, so nothing read from a file is used as a format.
std::string TextFillIn(std::string text,
                       std::initializer_list<std::pair<const char*, std::string>> values);
// "COM<port>".
std::string LinkPortName(int port);
