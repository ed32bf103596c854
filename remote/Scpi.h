// The machinery of an SCPI-style command language, apart from any instrument's
// command set: lines framed from a byte stream, commands split at ';',
// headers matched against patterns in short or long form with the path rules,
// parameters (numbers with units and multipliers, MIN/MAX/DEF, words,
// booleans), the error queue, replies joined on one line, the IEEE 488.2
// common commands and status registers, and *OPC?/*WAI holding the commands
// behind them until the instrument says the ones before are done. An
// instrument is a table of rows (ScpiCommand) and a few hooks (ScpiHooks);
// nothing here knows what a row does.
//
// Numbers and answers never go through the C library's number formatting,
// which follows the locale the toolkit sets: a client always sees "230.0".
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

// Longest command line, not counting its LF (or CR LF).
constexpr int SCPI_MAX_LINE = 256;
// Errors a client's queue holds; the last place says the queue overflowed.
constexpr int SCPI_ERROR_QUEUE = 16;
// Input kept unread while a *OPC? waits; more than this is dropped.
constexpr int SCPI_MAX_HELD_INPUT = 16384;

// The protocol's error numbers, as SYSTem:ERRor? gives them. -1xx end the
// rest of their line; after any other, the line's set commands are skipped
// and its queries still answered.
enum ScpiErrorCode {
    SCPI_NO_ERROR = 0,
    SCPI_COMMAND_ERROR = -100,
    SCPI_DATA_TYPE_ERROR = -104,
    SCPI_PARAMETER_NOT_ALLOWED = -108,
    SCPI_MISSING_PARAMETER = -109,
    SCPI_UNDEFINED_HEADER = -113,
    SCPI_INVALID_SUFFIX = -131,
    SCPI_SETTINGS_CONFLICT = -221,
    SCPI_DATA_OUT_OF_RANGE = -222,
    SCPI_TOO_MUCH_DATA = -223,
    SCPI_ILLEGAL_PARAMETER_VALUE = -224,
    SCPI_HARDWARE_ERROR = -240,
    SCPI_FILE_NOT_FOUND = -256,
    SCPI_SYSTEM_ERROR = -310,
    SCPI_QUEUE_OVERFLOW = -350,
};

// The standard event status register (*ESR?) and the status byte (*STB?).
enum ScpiStatusBits {
    SCPI_ESR_OPC = 1,  // operation complete, after *OPC
    SCPI_ESR_QYE = 4,  // query error (-4xx)
    SCPI_ESR_DDE = 8,  // device-dependent error (-3xx)
    SCPI_ESR_EXE = 16, // execution error (-2xx)
    SCPI_ESR_CME = 32, // command error (-1xx)
    SCPI_STB_EAV = 4,  // the error queue holds an error
    SCPI_STB_QSB = 8,  // questionable summary
    SCPI_STB_MAV = 16, // a reply waits in this line
    SCPI_STB_ESB = 32, // an enabled standard event
    SCPI_STB_MSS = 64, // an enabled summary (*SRE)
    SCPI_STB_OSB = 128 // operation summary
};

struct ScpiInstrument;

// One client's state between the bytes it sends.
struct ScpiSession {
    const ScpiInstrument* instrument = nullptr; // the one it was last fed for
    std::string input;                          // received, not yet run
    bool discarding = false;                    // inside a line too long to run, until its LF
    std::deque<std::string> errors;             // oldest first, as SYSTem:ERRor? gives them
    std::vector<std::string> path; // the header path later commands of a line start from
    // A *OPC?, *WAI or a command that waits for what it asked holds up the
    // rest of its line and every line behind it until the instrument says
    // everything asked before waitMark is done.
    bool waiting = false;
    uint64_t waitMark = 0;
    std::string waitReply;                   // "1" for *OPC?
    int (*waitThen)(ScpiSession*) = nullptr; // run once done, like a command
    std::vector<std::string> rest;           // the commands after it on its line
    std::vector<std::string> replies;        // the replies of its line so far
    bool skipSets = false;                   // an execution error earlier on this line
    bool heldOverflow = false;
    // What this client's set commands asked of the instrument (marks before
    // and after), until the instrument has said how each ended.
    std::deque<std::pair<uint64_t, uint64_t>> asked;
    // Status registers.
    int esr = 0;
    int ese = 0;
    int sre = 0;
    bool opcArmed = false; // *OPC: set SCPI_ESR_OPC once opcMark is done
    uint64_t opcMark = 0;
    struct Register {
        int event = 0;
        int enable = 0;
        int last = 0; // the condition when last looked at
    } operation, questionable;
};

// What a set command's parameter is.
enum ScpiParamKind {
    SCPI_PARAM_NONE,    // no parameter
    SCPI_PARAM_NUMBER,  // a number in the row's unit, MIN/MAX/DEF, or one of the row's words
    SCPI_PARAM_CHOICE,  // one of the row's words
    SCPI_PARAM_BOOLEAN, // ON, OFF, or a number (rounded; not 0 is ON)
    SCPI_PARAM_STRING,  // a quoted string: "..." or '...', its quote doubled inside
};

// A number's unit and the resolution it is counted in: decimals 1 counts
// tenths of the unit. unit "" takes no suffix.
struct ScpiUnit {
    const char* unit;
    int decimals;
};

// A numeric setting's limits in force and its default, counted like its
// parameter; MIN, MAX and DEF stand for them.
struct ScpiLimits {
    int64_t min;
    int64_t max;
    int64_t def;
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
// form takes; a numeric row with limits also answers "<header>? MIN|MAX|DEF".
struct ScpiCommand {
    const char* pattern;
    // 0, or the error code it has queued (ScpiSessionError).
    int (*set)(ScpiSession* session, const ScpiParam& param);
    std::string (*query)(ScpiSession* session);
    ScpiParamKind kind;
    ScpiUnit unit; // SCPI_PARAM_NUMBER
    const char* const*
        words;              // nullptr-terminated, upper case; the choices, or words a number may be
    int arity;              // parameters of the set form: 0 or 1
    ScpiLimits (*limits)(); // SCPI_PARAM_NUMBER: MIN, MAX, DEF; nullptr: none
};

// A row with a query form only.
constexpr ScpiCommand ScpiQueryOnly(const char* pattern, std::string (*query)(ScpiSession*)) {
    return {pattern, nullptr, query, SCPI_PARAM_NONE, {}, nullptr, 0, nullptr};
}

// How the machinery asks the instrument what has become of what was asked.
struct ScpiHooks {
    uint64_t (*mark)();         // notes everything asked so far
    int (*done)(uint64_t mark); // 1 once everything noted by mark is done
    // Queues an error for each of the things asked after from, through
    // through, that the instrument did not carry out; called once done.
    void (*settle)(ScpiSession* session, uint64_t from, uint64_t through);
    int (*operation)();    // STATus:OPERation:CONDition bits
    int (*questionable)(); // STATus:QUEStionable:CONDition bits
};

// One mnemonic of a parsed pattern.
struct ScpiNode {
    std::string longForm; // upper case
    size_t shortLength;
    bool optional;
};

struct ScpiInstrument {
    const ScpiCommand* commands;
    size_t count;
    ScpiHooks hooks;
    std::vector<std::vector<ScpiNode>> tree; // the rows' patterns, parsed
};
// The instrument for a table of rows (parsed once: keep it).
ScpiInstrument ScpiInstrumentMake(const ScpiCommand* commands, size_t count,
                                  const ScpiHooks& hooks);

// Takes bytes from the client; reply lines, each ending in LF, are appended to out.
void ScpiSessionFeed(ScpiSession* session, const ScpiInstrument& instrument, const char* data,
                     size_t length, std::string* out);
// Looks at the status conditions and at what the client asked, answers a
// waiting *OPC? once its commands are done and runs what it held up. Call it
// often (every tick).
void ScpiSessionPoll(ScpiSession* session, const ScpiInstrument& instrument, std::string* out);
// Adds an error to the queue ("-222" with its text); detail may be empty, and
// a quote in it is doubled, so the answer stays one string.
void ScpiSessionError(ScpiSession* session, int code, const char* detail);
// Holds the rest of the line until everything asked so far is done, then adds
// reply (may be empty) and runs then (may be nullptr). 0, or the error of
// then when it ran at once.
int ScpiHold(ScpiSession* session, const char* reply, int (*then)(ScpiSession*));

// A parameter as SCPI numbers are written (digits with an optional point and
// exponent), with an optional suffix: the unit, after a multiplier (K, M for
// milli, U, ...; MHZ is megahertz). Rounded half away from zero on its
// decimal digits to 10^-decimals of the unit, as the panel's entry rounds.
// Returns 0, SCPI_DATA_TYPE_ERROR when it is no number, SCPI_INVALID_SUFFIX,
// or SCPI_DATA_OUT_OF_RANGE when it is too large for any setting.
int ScpiParseNumber(const std::string& text, const ScpiUnit& unit, int64_t* value);

// SCPI's "not a number", for a value there is none of.
constexpr const char* SCPI_NOT_A_NUMBER = "9.91E37";
