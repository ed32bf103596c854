// The link area's own news beside the connect controls: the device, baud rate
// and address in use, a lamp that flashes on every accepted reply, and a
// notice that stays after the link was lost, until the next connect.
#pragma once

#include <string>

#include "util/Text.h"

// Starts listening to the link; once per process.
void LinkAreaInstall();
// Writes what the area shows in the language in force.
void LinkAreaLanguageSet();
// Forgets what it was showing, as at program start (tests use it).
void LinkAreaReset();
// "COM<port>".
std::string LinkPortName(int port);
