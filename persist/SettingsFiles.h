// Output-settings files ("*.52P", kind 65), the autosave file and the software
// settings file "Set.Dat" (kind 128).
#pragma once

constexpr const char* SOFTSET_FILE = "Set.Dat";
constexpr const char* AUTOSAVE_FILE = "AutoSave52P.52P";

// 1 when the file was read into gNormal52PSet, 0 when missing or of another kind.
int FileReadNormal52P(const char* path);
// Writers: 1 when the file was written; 0 when it could not be, with the system's
// reason (an errno value) in *error when error is not null. A failed write leaves
// the old file as it was.
int FileWriteNormal52P(const char* path, int* error = nullptr);
int FileReadSoftSet(const char* path);
int FileWriteSoftSet(const char* path, int* error = nullptr);
int AutoSave52P(int* error = nullptr);
// The remote-control settings, kept in a section "Remote" of "Set.Dat" that the
// other writers of the file keep as they find it. The reader fills gRemoteSet
// (defaults for what is missing or out of range) and returns 1 when the file
// was a software settings file; the writer writes the whole "Set.Dat".
int FileReadRemoteSet(const char* path);
int FileWriteRemoteSet(const char* path, int* error = nullptr);
// "Reconnect Automatically", kept in a section "Link" of "Set.Dat": the reader
// fills gReconnectSetting (1 when missing or not 0/1) and returns 1 when the
// file was a software settings file. The writers of "Set.Dat" write it only
// when it is off or the file has it already, so a file that never had it
// reads the same to a program that does not know it.
int FileReadLinkSet(const char* path);
// Writes the autosave file and "Set.Dat"; 1 when both were written.
int AutoSaveSetting(int* autoSaveError = nullptr, int* softSetError = nullptr);
