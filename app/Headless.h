// Running without a window (--headless): the same program, its panels loaded
// but never shown, on a toolkit platform that needs no display. What the
// window would show in a message box goes to standard error as one line; a
// state line goes to standard output when the state changes.
#pragma once

#include <string>

// Before the toolkit starts. quiet: no state lines.
void HeadlessStart(int quiet);
int HeadlessOn();
// Link, output, set values and the last measurement, as one line.
std::string HeadlessStateLine();
// Every tick: the state line when it changed, at most once a second.
void HeadlessTick();
