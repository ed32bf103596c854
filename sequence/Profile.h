// A test profile: the timed steps a run goes through, read from a CSV file,
// and the check of those steps against what the source allows. Loading lists
// every error at once, each with its line and column, so a profile is mended
// in one pass; a profile with any error is never run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

constexpr int SEQ_MAX_STEPS = 10000;
constexpr size_t SEQ_MAX_FILE_BYTES = 1024 * 1024;
// A limit the step does not give.
constexpr int32_t SEQ_NO_LIMIT = -1;

// One step in the records' units: voltage 0.1 V, frequency 0.1 Hz, current
// 0.001 A, power 1 W; times in 0.1 s, the ramp in whole seconds.
struct SeqStep {
    int line = 0; // in the file, from 1
    int32_t vol = 0;
    int32_t freq = 0;
    int32_t dwell = 0;
    int32_t ramp = 0;   // 0: the voltage is set at once
    int32_t settle = 0; // limits are checked from this long after the step's start
    int32_t vMin = SEQ_NO_LIMIT;
    int32_t vMax = SEQ_NO_LIMIT;
    int32_t iMax = SEQ_NO_LIMIT;
    int32_t pMax = SEQ_NO_LIMIT;
    int32_t fTol = SEQ_NO_LIMIT;
    std::string note;
};

bool SeqStepHasLimits(const SeqStep& step);
// Milliseconds one pass through the steps takes.
int64_t SeqProfileMs(const std::vector<SeqStep>& steps);

// Why a profile cannot run. Each has a text in the language files with the
// marks its values fill in.
enum SeqReason {
    SEQ_ERR_FILE_SIZE,      // {limit}: the file is larger
    SEQ_ERR_STEP_COUNT,     // {limit}: more steps
    SEQ_ERR_NOT_TEXT,       // a NUL byte or bytes that are not UTF-8
    SEQ_ERR_NO_STEPS,       //
    SEQ_ERR_UNKNOWN_COLUMN, //
    SEQ_ERR_TWICE,          // a column named twice
    SEQ_ERR_MISSING,        // a required column is not there
    SEQ_ERR_FIELD_COUNT,    // {count}, {columns}
    SEQ_ERR_QUOTE,          // a quoted field not closed, or text after its closing quote
    SEQ_ERR_REQUIRED,       // an empty field that needs a value
    SEQ_ERR_NOT_NUMBER,     //
    SEQ_ERR_OUTSIDE,        // {min}, {max}
    SEQ_ERR_RESOLUTION,     // {resolution}
    SEQ_ERR_NEGATIVE,       //
    SEQ_ERR_LESS_THAN,      // {column}: must be less than that column
    SEQ_ERR_FREQUENCY,      // {band}, {presets}: neither in the band nor a preset
    SEQ_ERR_PRESET_MIXED,   // a fixed frequency beside any other frequency
    SEQ_ERR_AUTO_SIDE,      // {boundary}: crosses the AUTO boundary from the first step's side
    SEQ_ERR_FIXED_VOLTAGE,  // the voltage changes while running at a fixed frequency
    SEQ_REASON_COUNT
};

struct SeqError {
    int line = 0;
    std::string column; // "-" for the line or the file as a whole
    SeqReason reason = SEQ_ERR_NOT_TEXT;
    std::vector<std::pair<std::string, std::string>> values; // fill-ins by mark name
};

struct SeqProfile {
    std::vector<SeqStep> steps;
};

// Parses the bytes of a profile file. Every error goes to errors in the order
// of the lines; steps holds the steps that parsed cleanly.
void SeqParseProfile(const std::string& bytes, SeqProfile* profile, std::vector<SeqError>* errors);
// What depends on the steps together and on the range they run in: one kind
// of frequency, and in AUTO one side of the boundary. Errors are added in the
// order of the lines.
void SeqCheckProfile(const SeqProfile& profile, int32_t volLevel, std::vector<SeqError>* errors);
// Reads the file (refused unread beyond SEQ_MAX_FILE_BYTES) and parses it.
// Returns 0, or the errno of a file that could not be read.
int SeqReadProfile(const char* path, SeqProfile* profile, std::vector<SeqError>* errors);

// The texts an error is written with, from the language files: the line
// ("line {line}, column {column}: {reason}") and one text per reason.
struct SeqErrorTexts {
    std::string line;
    std::string reasons[SEQ_REASON_COUNT];
};
std::string SeqErrorText(const SeqError& error, const SeqErrorTexts& texts);
