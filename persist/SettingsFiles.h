// Output-settings files ("*.52P", kind 65), the autosave file and the software
// settings file "Set.Dat" (kind 128).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* SOFTSET_FILE = "Set.Dat";
constexpr const char* AUTOSAVE_FILE = "AutoSave52P.52P";

// What reading a settings file found, for a reader that tells the operator.
enum SettingsRefusal {
    SETTINGS_READ = 0,   // read; values out of range may have been replaced
    SETTINGS_MISSING,    // there is no such file
    SETTINGS_UNREADABLE, // it could not be read: error holds the errno
    SETTINGS_EMPTY,      // it is empty
    SETTINGS_NOT_TEXT,   // it holds bytes no text file holds (a program, random bytes)
    SETTINGS_NO_KIND,    // it has no "FileInfo" section with a "Type"
    SETTINGS_OTHER_KIND, // it is a settings file of another kind: kind holds its Type
};
// An item of the file whose value the record's check replaced.
struct SettingsReplaced {
    std::string item;
    std::string read; // as the file has it
    int32_t used;     // what the record holds now
};
struct SettingsReport {
    SettingsRefusal refusal = SETTINGS_READ;
    int error = 0;
    int32_t kind = 0;
    std::vector<SettingsReplaced> replaced;
};

// 1 when the file was read into gNormal52PSet, 0 when missing or of another kind.
// report, when given, says why a file was refused and which values were replaced.
int FileReadNormal52P(const char* path, SettingsReport* report = nullptr);
// Writers: 1 when the file was written; 0 when it could not be, with the system's
// reason (an errno value) in *error when error is not null. A failed write leaves
// the old file as it was.
int FileWriteNormal52P(const char* path, int* error = nullptr);
int FileReadSoftSet(const char* path, SettingsReport* report = nullptr);
int FileWriteSoftSet(const char* path, int* error = nullptr);
int AutoSave52P(int* error = nullptr);
// The remote-control settings, kept in a section "Remote" of "Set.Dat" that the
// other writers of the file keep as they find it. The reader fills gRemoteSet
// (defaults for what is missing or out of range) and returns 1 when the file
// was a software settings file; the writer writes the whole "Set.Dat".
int FileReadRemoteSet(const char* path);
int FileWriteRemoteSet(const char* path, int* error = nullptr);
// Writes the autosave file and "Set.Dat"; 1 when both were written.
int AutoSaveSetting(int* autoSaveError = nullptr, int* softSetError = nullptr);
