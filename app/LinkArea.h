// The link area's own news beside the connect controls: the device, baud rate
// and address in use, a lamp that flashes on every accepted reply, a notice
// that stays after the link was lost (or never answered), until the next
// connect, and notices that show once for a while: an output stopped on
// connect, a settings file that start-up could not use.
#pragma once

#include <string>

#include "persist/SettingsFiles.h"

// Starts listening to the link; once per process.
void LinkAreaInstall();
// Writes what the area shows in the language in force.
void LinkAreaLanguageSet();
// Forgets what it was showing, as at program start (tests use it).
void LinkAreaReset();
// Says once, for a while, that a settings file read at start-up could not be
// used or had values replaced; a file that is missing or was read whole says
// nothing.
void LinkAreaSettingsNote(const char* file, const SettingsReport& report);
// "COM<port>".
std::string LinkPortName(int port);
