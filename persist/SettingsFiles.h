// Output-settings files ("*.52P", kind 65), the autosave file and the software
// settings file "Set.Dat" (kind 128).
#pragma once

constexpr const char* SOFTSET_FILE = "Set.Dat";
constexpr const char* AUTOSAVE_FILE = "AutoSave52P.52P";

// 1 when the file was read into gNormal52PSet, 0 when missing or of another kind.
int FileReadNormal52P(const char* path);
// 1 when the file was written, 0 when it could not be.
int FileWriteNormal52P(const char* path);
int FileReadSoftSet(const char* path);
int FileWriteSoftSet(const char* path);
void AutoSave52P();
void AutoSaveSetting();
