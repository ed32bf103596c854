// The data log as the operator runs it: the File menu's start and stop, the
// --log option, and what the log hears from the link, the front panel and
// the menus. A log that cannot be written stops with a message; the program
// goes on.
#pragma once

#include <string>

// Starts listening to the link and to every callback; once per process.
void RecordingInstall();
// Starts a log in path (a relative path is taken in the working folder).
// Returns 0, or the errno of the failure; the operator is not told (the
// callers say it in their own way).
int RecordingStart(const char* path);
// The menu's start: asks for the file, starts, says what went wrong.
void RecordingStartFromMenu();
void RecordingStop();
int RecordingIsOn();
// A settings file loaded or saved, as the log's file_load or file_save.
void RecordingFileEvent(const char* event, const char* path);
// What a remote client's commands just changed, as rows with the detail "remote".
void RecordingRemoteChanges();
// A test run's start, step, failure or end (the seq_... events), and what
// its steps just changed, as rows with the detail "sequence".
void RecordingSequenceEvent(const char* event, const std::string& detail);
void RecordingSequenceChanges();
// The program is ending: the exit row now, the stop after the link closed.
void RecordingExit();
// "Vx52Log-YYYYMMDD-HHMMSS.csv" for the present local time.
std::string RecordingDefaultName();
// The operator's text for a log that could not be started or went on no longer.
std::string RecordingFailureText(bool started, const std::string& path, int error, bool english);
// Puts the menu's start and stop items, and the link area's "LOG", in line
// with the log.
void RecordingMenuDimmed();
// Forgets the output state the source last told, as at program start (tests use it).
void RecordingReset();
