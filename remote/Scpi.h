// The machinery of an SCPI-style command language, apart from any instrument's
// command set: lines framed from a byte stream, commands split at ';',
// headers matched against patterns in short or long form with the path rules,
// numbers with units, the error queue, replies joined on one line, and *OPC?
// holding the commands behind it until the instrument says the ones before it
// are done. An instrument is a table of rows (ScpiCommand); nothing here knows
// what a row does.
//
// Numbers and answers never go through the C library's number formatting,
// which follows the locale the toolkit sets: a client always sees "230.0".
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// Longest command line, not counting its LF (or CR LF).
constexpr int SCPI_MAX_LINE = 256;
// Errors a client's queue holds; the last place says the queue overflowed.
constexpr int SCPI_ERROR_QUEUE = 16;
// Input kept unread while a *OPC? waits; more than this is dropped.
constexpr int SCPI_MAX_HELD_INPUT = 16384;

// The protocol's error numbers, as SYSTem:ERRor? gives them.
enum ScpiErrorCode {
    SCPI_NO_ERROR = 0,
    SCPI_COMMAND_ERROR = -100,
    SCPI_UNDEFINED_HEADER = -113,
    SCPI_SETTINGS_CONFLICT = -221,
    SCPI_DATA_OUT_OF_RANGE = -222,
    SCPI_TOO_MUCH_DATA = -223,
    SCPI_ILLEGAL_PARAMETER = -224,
    SCPI_HARDWARE_ERROR = -240,
    SCPI_FILE_NOT_FOUND = -256,
    SCPI_QUEUE_OVERFLOW = -350,
};

struct ScpiInstrument;

// One client's state between the bytes it sends.
struct ScpiSession {
    const ScpiInstrument* instrument = nullptr; // the one it was last fed for
    std::string input;                          // received, not yet run
    bool discarding = false;                    // inside a line too long to run, until its LF
    std::deque<std::string> errors;             // oldest first, as SYSTem:ERRor? gives them
    std::vector<std::string> path; // the header path later commands of a line start from
    // A *OPC? whose commands are not all done yet holds up the rest of its
    // line and every line behind it.
    bool waiting = false;
    uint64_t waitMark = 0;
    std::vector<std::string> rest;    // the commands after it on its line
    std::vector<std::string> replies; // the replies of its line so far
    bool heldOverflow = false;
};

// What a set command's parameter is.
enum ScpiParamKind {
    SCPI_PARAM_NONE,    // no parameter
    SCPI_PARAM_NUMBER,  // a number in the row's unit, or one of the row's words
    SCPI_PARAM_CHOICE,  // one of the row's words
    SCPI_PARAM_BOOLEAN, // ON, OFF, 1 or 0
    SCPI_PARAM_STRING,  // a quoted string: "..." or '...', its quote doubled inside
};

// A number's unit and the resolution it is counted in: decimals 1 counts
// tenths of the unit.
struct ScpiUnit {
    const char* unit;
    int decimals;
};

// A parameter as the row's set function gets it.
struct ScpiParam {
    int word;         // the index of the row's word given, or -1 for a number
    int64_t number;   // a number in 10^-decimals of the unit; a boolean's 0 or 1
    std::string text; // a string, without its quotes
};

// One command: its header as SCPI writes it (capitals are the short form,
// [..] optional; a common command is "*IDN"), what its set and query forms
// do (nullptr: the form does not exist), its parameter and how many the set
// form takes.
struct ScpiCommand {
    const char* pattern;
    // 0, or the error code it has queued (ScpiSessionError).
    int (*set)(ScpiSession* session, const ScpiParam& param);
    std::string (*query)(ScpiSession* session);
    ScpiParamKind kind;
    ScpiUnit unit; // SCPI_PARAM_NUMBER
    const char* const*
        words; // nullptr-terminated, upper case; the choices, or words a number may be
    int arity; // parameters of the set form: 0 or 1
};

// One mnemonic of a parsed pattern.
struct ScpiNode {
    std::string longForm; // upper case
    size_t shortLength;
    bool optional;
};

// An instrument: its rows, and how *OPC? learns that what was asked is done.
struct ScpiInstrument {
    const ScpiCommand* commands;
    size_t count;
    uint64_t (*mark)();                      // notes everything asked so far
    int (*done)(uint64_t mark);              // 1 once everything noted by mark is done
    std::vector<std::vector<ScpiNode>> tree; // the rows' patterns, parsed
};
// The instrument for a table of rows (parsed once: keep it).
ScpiInstrument ScpiInstrumentMake(const ScpiCommand* commands, size_t count, uint64_t (*mark)(),
                                  int (*done)(uint64_t mark));

// Takes bytes from the client; reply lines, each ending in LF, are appended to out.
void ScpiSessionFeed(ScpiSession* session, const ScpiInstrument& instrument, const char* data,
                     size_t length, std::string* out);
// Answers a waiting *OPC? once its commands are done, and runs what it held up.
void ScpiSessionPoll(ScpiSession* session, const ScpiInstrument& instrument, std::string* out);
// Adds an error to the queue ("-222" with its text); detail may be empty, and
// a quote in it is doubled, so the answer stays one string.
void ScpiSessionError(ScpiSession* session, int code, const char* detail);
// The oldest error, taken from the queue, as SYSTem:ERRor? answers it.
std::string ScpiNextError(ScpiSession* session);

// A parameter as SCPI numbers are written (digits with an optional point and
// exponent), with an optional unit after it (upper case), rounded to
// 10^-decimals of the unit. Returns 1, 0 when it is no number, -1 when it is
// one too large for any setting.
int ScpiParseNumber(const std::string& text, const char* unit, int decimals, int64_t* value);

// SCPI's "not a number", for a value there is none of.
constexpr const char* SCPI_NOT_A_NUMBER = "9.91E37";
