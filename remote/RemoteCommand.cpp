// The rows of this program's command set and what they do. A set command
// asks the same request function as the panel's control, so the limits and
// refusals are the panel's; a refusal becomes the client's error.
#include "remote/RemoteCommand.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iterator>

#include "link/PortUart.h"
#include "platform/System.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "power/SourceLimits.h"
#include "power/Watchdog.h"
#include "sequence/Sequence.h"
#include "util/Text.h"

#ifndef VX52_VERSION
#error "VX52_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace {

// What a refused request is for the client.
struct Refusal {
    int result; // PowerRequestResult
    int code;
    const char* detail;
};
const Refusal kRefusals[] = {
    {POWER_REQUEST_ALARM, SCPI_SETTINGS_CONFLICT, "output protection tripped"},
    {POWER_REQUEST_RISING, SCPI_SETTINGS_CONFLICT, "output rising"},
    {POWER_REQUEST_OUTPUT_STATE, SCPI_SETTINGS_CONFLICT, "not in this output state"},
    {POWER_REQUEST_OUT_OF_RANGE, SCPI_DATA_OUT_OF_RANGE, ""},
    {POWER_REQUEST_OFFLINE, SCPI_HARDWARE_ERROR, "link offline"},
    {POWER_REQUEST_QUEUE_FULL, SCPI_QUEUE_OVERFLOW, "command queue full"},
    {POWER_REQUEST_HELD, SCPI_SETTINGS_CONFLICT, "test sequence running"},
};

// 0 for a request done (or with nothing to do), else the error it queued.
int Answer(ScpiSession* s, int result) {
    if (result == POWER_REQUEST_DONE || result == POWER_REQUEST_UNCHANGED) {
        return 0;
    }
    for (const Refusal& r : kRefusals) {
        if (r.result == result) {
            ScpiSessionError(s, r.code, r.detail);
            return r.code;
        }
    }
    return SCPI_COMMAND_ERROR;
}

// A number's unit and resolution, as the records count the quantity.
ScpiUnit Unit(SourceQuantity q) {
    const SourceQuantityInfo& info = SourceQuantityOf(q);
    return {info.unit, info.decimals};
}

const char* OnOff(int32_t on) {
    return on != 0 ? "1" : "0";
}

// ---- settings -------------------------------------------------------------------------

const char* const kStepWords[] = {"UP", "DOWN", nullptr};
const char* const kRangeWords[] = {"AUTO", "HIGH", nullptr}; // as volLevel counts them

int SetVoltage(ScpiSession* s, const ScpiParam& p) {
    if (p.word >= 0) {
        return Answer(s, PowerRequestStep(p.word == 0 ? 1 : 0, POWER_CALLER_REMOTE));
    }
    return Answer(s, PowerRequestVoltage(static_cast<int32_t>(p.number), POWER_CALLER_REMOTE));
}
std::string QueryVoltage(ScpiSession*) {
    return SourceText(SOURCE_Q_SET_VOLTAGE, gNormal52PSet.vol);
}
// The limits in force: while the output runs in AUTO, one side of the switch point.
ScpiLimits VoltageLimits() {
    const SourceRange r =
        SourceVoltageLimits(gNormal52PSet.volLevel, gPowerInfo.outputOn, gNormal52PSet.vol);
    return {r.min, r.max, PowerFirstStartSettings().vol};
}

int SetRange(ScpiSession* s, const ScpiParam& p) {
    return Answer(s, PowerRequestRange(p.word == 0 ? SOURCE_RANGE_AUTO : SOURCE_RANGE_HIGH,
                                       POWER_CALLER_REMOTE));
}
std::string QueryRange(ScpiSession*) {
    return kRangeWords[gNormal52PSet.volLevel == SOURCE_RANGE_AUTO ? 0 : 1];
}

template <int32_t PowerEntry::*amount> int SetStepAmount(ScpiSession* s, const ScpiParam& p) {
    PowerEntry e = PowerEntryFromRecord();
    e.*amount = static_cast<int32_t>(p.number);
    return Answer(s, PowerRequestStepAmounts(e, POWER_CALLER_REMOTE));
}
template <int32_t Normal52PSet::*amount> std::string QueryStepAmount(ScpiSession*) {
    return SourceText(SOURCE_Q_STEP_AMOUNT, gNormal52PSet.*amount);
}
template <int32_t Normal52PSet::*amount> ScpiLimits StepLimits() {
    return {SOURCE_STEP_MIN, SOURCE_STEP_MAX, PowerFirstStartSettings().*amount};
}

int SetFrequency(ScpiSession* s, const ScpiParam& p) {
    return Answer(s, PowerRequestFrequency(static_cast<int32_t>(p.number), POWER_CALLER_REMOTE));
}
std::string QueryFrequency(ScpiSession*) {
    return SourceText(SOURCE_Q_SET_FREQUENCY, gNormal52PSet.freq);
}
// The continuous band: the fixed high frequencies are the preset buttons' own.
ScpiLimits FrequencyLimits() {
    return {SOURCE_FREQ_BAND_MIN, SOURCE_FREQ_BAND_MAX, PowerFirstStartSettings().freq};
}

int SetOutput(ScpiSession* s, const ScpiParam& p) {
    return Answer(s, PowerRequestOutput(p.number != 0 ? 1 : 0, POWER_CALLER_REMOTE));
}
std::string QueryOutput(ScpiSession*) {
    return OnOff(gPowerInfo.outputOn);
}

// Clears a watchdog trip, and the source's alarm as ever.
int ClearProtection(ScpiSession* s, const ScpiParam&) {
    WatchdogClear();
    return Answer(s, PowerRequestClearAlarm(POWER_CALLER_REMOTE));
}
// The source's alarm, or the watchdog's trip.
std::string QueryTripped(ScpiSession*) {
    return OnOff(gPowerInfo.alarm != 0 || WatchdogTripped() != 0);
}

int SetWdog(ScpiSession*, const ScpiParam& p) {
    WatchdogSetOn(p.number != 0 ? 1 : 0);
    return 0;
}
std::string QueryWdog(ScpiSession*) {
    return OnOff(WatchdogOn());
}
int SetWdogDelay(ScpiSession* s, const ScpiParam& p) {
    const int32_t seconds =
        static_cast<int32_t>(std::clamp<int64_t>(p.number, INT32_MIN, INT32_MAX));
    return Answer(s, WatchdogSetDelay(seconds));
}
std::string QueryWdogDelay(ScpiSession*) {
    return std::to_string(WatchdogDelay());
}
constexpr ScpiUnit kSeconds{"S", 0};
ScpiLimits WdogDelayLimits() {
    return {WATCHDOG_MIN_DELAY, WATCHDOG_MAX_DELAY, WATCHDOG_DEFAULT_DELAY};
}

// ---- measurements ---------------------------------------------------------------------

// What the meter at index shows (gArrMeasureOutput's order), in its quantity's
// own unit: zero after a stop or an alarm; no number while the link does not
// confirm what the window shows, as the meters show none then.
std::string Measured(int index) {
    if (!PowerLinkReady()) {
        return SCPI_NOT_A_NUMBER;
    }
    return SourceText(SourceMeasuredQuantity(index), gArrMeasureOutput[index]);
}
template <int index> std::string QueryMeasured(ScpiSession*) {
    return Measured(index);
}
std::string QueryMeasuredAll(ScpiSession*) {
    std::string all;
    for (int i = 0; i < SOURCE_MEASURED_COUNT; ++i) {
        all += (i == 0 ? "" : ",") + Measured(i);
    }
    return all;
}
// Seconds since the last accepted measurement, in tenths.
std::string QueryMeasurementAge(ScpiSession*) {
    if (!gPowerLastMeasurement.valid) {
        return SCPI_NOT_A_NUMBER;
    }
    const double ageMs = SysMonotonicMs() - gPowerLastMeasurement.atMs;
    return TextFixed(std::llround(std::max(0.0, ageMs) / 100.0), 1);
}

// ---- test sequences ---------------------------------------------------------------------

const char* const kSeqRangeWords[] = {"AUTO", "HIGH", nullptr}; // as volLevel counts them
const char* const kSeqOnFailWords[] = {"STOP", "CONTINUE", nullptr};
const char* const kSeqEndWords[] = {"OFF", "HOLD", nullptr};

int Queued(ScpiSession* s, int code, const std::string& detail) {
    ScpiSessionError(s, code, detail.c_str());
    return code;
}

// A run's settings and profile are its own while it runs.
int Busy(ScpiSession* s) {
    return Queued(s, SCPI_SETTINGS_CONFLICT, "test sequence running");
}

// -256 when the file cannot be read; -224 with the profile's first error,
// and the rest queued behind it.
int SetSequenceLoad(ScpiSession* s, const ScpiParam& p) {
    if (SequenceActive()) {
        return Busy(s);
    }
    const int error = SequenceLoad(p.text);
    if (error != 0) {
        return Queued(s, SCPI_FILE_NOT_FOUND, p.text + ": " + std::strerror(error));
    }
    const std::vector<std::string> lines = SequenceErrorLines(true);
    for (const std::string& line : lines) {
        ScpiSessionError(s, SCPI_ILLEGAL_PARAMETER_VALUE, line.c_str());
    }
    return lines.empty() ? 0 : SCPI_ILLEGAL_PARAMETER_VALUE;
}
std::string QuerySequenceLoad(ScpiSession*) {
    std::string quoted = "\"";
    for (char c : SequencePath()) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// One run setting changed, the others kept.
template <typename Change> int SetSequenceSetting(ScpiSession* s, Change change) {
    if (SequenceActive()) {
        return Busy(s);
    }
    SeqSettings settings = SequenceSettings();
    change(&settings);
    SequenceSetSettings(settings);
    return 0;
}

int SetSequenceCount(ScpiSession* s, const ScpiParam& p) {
    if (p.number < 0 || p.number > SEQ_MAX_REPEAT) {
        return Queued(s, SCPI_DATA_OUT_OF_RANGE, "0 to 9999");
    }
    return SetSequenceSetting(s, [&](SeqSettings* t) { t->repeat = static_cast<int>(p.number); });
}
ScpiLimits SequenceCountLimits() {
    return {0, SEQ_MAX_REPEAT, 1};
}
std::string QuerySequenceCount(ScpiSession*) {
    return std::to_string(SequenceSettings().repeat);
}

int SetSequenceRange(ScpiSession* s, const ScpiParam& p) {
    return SetSequenceSetting(
        s, [&](SeqSettings* t) { t->range = p.word == 0 ? SOURCE_RANGE_AUTO : SOURCE_RANGE_HIGH; });
}
// The range a run would use now.
std::string QuerySequenceRange(ScpiSession*) {
    const int range = SequenceSettings().range;
    return kSeqRangeWords[(range == SEQ_RANGE_IN_FORCE ? gNormal52PSet.volLevel : range) ==
                                  SOURCE_RANGE_AUTO
                              ? 0
                              : 1];
}

int SetSequenceOnFail(ScpiSession* s, const ScpiParam& p) {
    return SetSequenceSetting(s, [&](SeqSettings* t) { t->onFailContinue = p.word; });
}
std::string QuerySequenceOnFail(ScpiSession*) {
    return kSeqOnFailWords[SequenceSettings().onFailContinue != 0 ? 1 : 0];
}

int SetSequenceEnd(ScpiSession* s, const ScpiParam& p) {
    return SetSequenceSetting(s, [&](SeqSettings* t) { t->endHold = p.word; });
}
std::string QuerySequenceEnd(ScpiSession*) {
    return kSeqEndWords[SequenceSettings().endHold != 0 ? 1 : 0];
}

int StartSequence(ScpiSession* s, const ScpiParam&) {
    switch (SequenceStart()) {
    case SEQ_START_OK:
        return 0;
    case SEQ_START_BUSY:
        return Busy(s);
    case SEQ_START_NO_PROFILE:
        return Queued(s, SCPI_SETTINGS_CONFLICT, "no profile without errors loaded");
    case SEQ_START_OFFLINE:
        return Queued(s, SCPI_HARDWARE_ERROR, "link offline");
    case SEQ_START_ALARM:
        return Queued(s, SCPI_SETTINGS_CONFLICT, "output protection tripped");
    default:
        return Queued(s, SCPI_SETTINGS_CONFLICT, "output on");
    }
}

int AbortSequence(ScpiSession*, const ScpiParam&) {
    SequenceAbort(SEQ_CAUSE_REMOTE);
    return 0;
}

std::string QuerySequenceState(ScpiSession*) {
    return SequenceStateText();
}

// ---- common commands and the rest -----------------------------------------------------

// Connecting or disconnecting never shows a box at the window; a port that
// will not open tells the client why.
int SetLink(ScpiSession* s, const ScpiParam& p) {
    const int result = PowerRequestLink(p.number != 0 ? 1 : 0, POWER_CALLER_REMOTE);
    PortUartOpenFailure f;
    if (result != POWER_REQUEST_OFFLINE || PortUartLastOpenFailure(&f) == 0) {
        return Answer(s, result);
    }
    const std::string why =
        "COM" + std::to_string(gPowerInfo.port) + " would not open: " +
        (f.sysError == EBUSY ? "in use by another program" : std::strerror(f.sysError));
    ScpiSessionError(s, SCPI_HARDWARE_ERROR, why.c_str());
    return SCPI_HARDWARE_ERROR;
}
std::string QueryLink(ScpiSession*) {
    return PowerLinkStateName();
}

std::string ModelName() {
    std::string name;
    for (size_t i = 0; i < sizeof gPowerInfo.modelName && gPowerInfo.modelName[i]; ++i) {
        const char c = gPowerInfo.modelName[i];
        // The answer's own separators, and bytes a client could not print.
        const bool plain = c > ' ' && c < 0x7F && c != ',' && c != ';' && c != '"';
        name += plain ? c : (c == ' ' ? ' ' : '_');
    }
    name = TextTrim(name);
    return name.empty() ? "NONE" : name;
}
std::string Identify(ScpiSession*) {
    return std::string("Vx52PSoft,") + ModelName() + ",0," + VX52_VERSION;
}

int ResetSettings(ScpiSession* s) {
    return Answer(s, PowerRequestDefaults(POWER_CALLER_REMOTE));
}
// The output stopped as its button stops it; once the source has answered,
// the settings of a first start.
int Reset(ScpiSession* s, const ScpiParam&) {
    if (gPowerInfo.outputOn == 0) {
        return ResetSettings(s);
    }
    if (const int code = Answer(s, PowerRequestOutput(0, POWER_CALLER_REMOTE))) {
        return code;
    }
    return ScpiHold(s, "", ResetSettings);
}

std::string SelfTest(ScpiSession*) {
    return PowerLinkAnswering() ? "0" : "1";
}
std::string Options(ScpiSession*) {
    return "0";
}

// ---- the instrument ---------------------------------------------------------------------

void Settle(ScpiSession* s, uint64_t from, uint64_t through) {
    if (PowerCommandsFailed(from, through) > 0) {
        ScpiSessionError(s, SCPI_HARDWARE_ERROR, "not carried out by the source");
    }
}

// STATus:OPERation bits.
constexpr int kOperSettling = 1 << 1; // commands asked of the source and not yet through
constexpr int kOperOutputOn = 1 << 8;
int Operation() {
    return (PowerCommandsDone(PowerCommandsMark()) ? 0 : kOperSettling) |
           (gPowerInfo.outputOn != 0 ? kOperOutputOn : 0);
}

// STATus:QUEStionable bits.
constexpr int kQuesLinkDown = 1 << 9;
constexpr int kQuesAlarm = 1 << 10;
constexpr int kQuesWatchdog = 1 << 11; // tripped, until cleared
int Questionable() {
    return (PowerLinkReady() ? 0 : kQuesLinkDown) | (gPowerInfo.alarm != 0 ? kQuesAlarm : 0) |
           (WatchdogTripped() != 0 ? kQuesWatchdog : 0);
}

constexpr ScpiParamKind NONE = SCPI_PARAM_NONE;
constexpr ScpiParamKind NUMBER = SCPI_PARAM_NUMBER;
constexpr ScpiParamKind CHOICE = SCPI_PARAM_CHOICE;
constexpr ScpiParamKind BOOLEAN = SCPI_PARAM_BOOLEAN;
constexpr int32_t Normal52PSet::*kUp = &Normal52PSet::up2U;
constexpr int32_t Normal52PSet::*kDown = &Normal52PSet::down2U;
constexpr ScpiParamKind STRING = SCPI_PARAM_STRING;

// pattern, set, query, parameter, unit (from the table of what the source
// allows), words, parameters of the set form, limits. The first row a header
// matches is the one it names.
const ScpiCommand kCommands[] = {
    {"[SOURce]:VOLTage[:LEVel][:IMMediate][:AMPLitude]", SetVoltage, QueryVoltage, NUMBER,
     Unit(SOURCE_Q_SET_VOLTAGE), kStepWords, 1, VoltageLimits},
    {"[SOURce]:VOLTage:RANGe", SetRange, QueryRange, CHOICE, {}, kRangeWords, 1, nullptr},
    {"[SOURce]:VOLTage:STEP:UP", SetStepAmount<&PowerEntry::up2U>, QueryStepAmount<kUp>, NUMBER,
     Unit(SOURCE_Q_STEP_AMOUNT), nullptr, 1, StepLimits<kUp>},
    {"[SOURce]:VOLTage:STEP:DOWN", SetStepAmount<&PowerEntry::down2U>, QueryStepAmount<kDown>,
     NUMBER, Unit(SOURCE_Q_STEP_AMOUNT), nullptr, 1, StepLimits<kDown>},
    {"[SOURce]:FREQuency[:CW]", SetFrequency, QueryFrequency, NUMBER, Unit(SOURCE_Q_SET_FREQUENCY),
     nullptr, 1, FrequencyLimits},
    {"[SOURce]:FREQuency:IMMediate", SetFrequency, QueryFrequency, NUMBER,
     Unit(SOURCE_Q_SET_FREQUENCY), nullptr, 1, FrequencyLimits},
    {"OUTPut[:STATe]", SetOutput, QueryOutput, BOOLEAN, {}, nullptr, 1, nullptr},
    {"OUTPut:PROTection:CLEar", ClearProtection, nullptr, NONE, {}, nullptr, 0, nullptr},
    ScpiQueryOnly("OUTPut:PROTection:TRIPped", QueryTripped),
    {"OUTPut:PROTection:WDOG[:STATe]", SetWdog, QueryWdog, BOOLEAN, {}, nullptr, 1, nullptr},
    {"OUTPut:PROTection:WDOG:DELay", SetWdogDelay, QueryWdogDelay, NUMBER, kSeconds, nullptr, 1,
     WdogDelayLimits},
    ScpiQueryOnly("MEASure[:SCALar]:VOLTage[:AC]", QueryMeasured<0>),
    ScpiQueryOnly("MEASure[:SCALar]:CURRent[:AC]", QueryMeasured<1>),
    ScpiQueryOnly("MEASure[:SCALar]:FREQuency", QueryMeasured<2>),
    ScpiQueryOnly("MEASure[:SCALar]:POWer[:AC][:REAL]", QueryMeasured<3>),
    ScpiQueryOnly("MEASure:ALL", QueryMeasuredAll),
    ScpiQueryOnly("MEASure:AGE", QueryMeasurementAge),
    ScpiQueryOnly("FETCh[:SCALar]:VOLTage[:AC]", QueryMeasured<0>),
    ScpiQueryOnly("FETCh[:SCALar]:CURRent[:AC]", QueryMeasured<1>),
    ScpiQueryOnly("FETCh[:SCALar]:FREQuency", QueryMeasured<2>),
    ScpiQueryOnly("FETCh[:SCALar]:POWer[:AC][:REAL]", QueryMeasured<3>),
    ScpiQueryOnly("FETCh:ALL", QueryMeasuredAll),
    {"SYSTem:LINK", SetLink, QueryLink, BOOLEAN, {}, nullptr, 1, nullptr},
    ScpiQueryOnly("*IDN", Identify),
    {"*RST", Reset, nullptr, NONE, {}, nullptr, 0, nullptr},
    ScpiQueryOnly("*TST", SelfTest),
    ScpiQueryOnly("*OPT", Options),
    {"SEQuence:LOAD", SetSequenceLoad, QuerySequenceLoad, STRING, {}, nullptr, 1, nullptr},
    {"SEQuence:COUNt", SetSequenceCount, QuerySequenceCount, NUMBER, {"", 0}, nullptr, 1,
     SequenceCountLimits},
    {"SEQuence:RANGe", SetSequenceRange, QuerySequenceRange, CHOICE, {}, kSeqRangeWords, 1,
     nullptr},
    {"SEQuence:ONFail", SetSequenceOnFail, QuerySequenceOnFail, CHOICE, {}, kSeqOnFailWords, 1,
     nullptr},
    {"SEQuence:END", SetSequenceEnd, QuerySequenceEnd, CHOICE, {}, kSeqEndWords, 1, nullptr},
    {"SEQuence:STARt", StartSequence, nullptr, NONE, {}, nullptr, 0, nullptr},
    {"SEQuence:ABORt", AbortSequence, nullptr, NONE, {}, nullptr, 0, nullptr},
    ScpiQueryOnly("SEQuence:STATe", QuerySequenceState),
};

const ScpiInstrument& Instrument() {
    static const ScpiInstrument instrument =
        ScpiInstrumentMake(kCommands, std::size(kCommands),
                           {PowerCommandsMark, PowerCommandsDone, Settle, Operation, Questionable});
    return instrument;
}

} // namespace

void RemoteSessionFeed(RemoteSession* s, const char* data, size_t length, std::string* out) {
    // A client that still sends whole lines is alive.
    if (length > 0 && std::memchr(data, '\n', length) != nullptr) {
        WatchdogNoteCommand();
    }
    ScpiSessionFeed(s, Instrument(), data, length, out);
}

void RemoteSessionPoll(RemoteSession* s, std::string* out) {
    ScpiSessionPoll(s, Instrument(), out);
}
