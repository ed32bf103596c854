// SCPI-style commands: case-insensitive headers in short or long form, ';'
// between the commands of a line, a query ending in '?' and answered on one
// line (the answers of one line joined by ';'). After a command, the next one
// on the line may leave out the path it shares with it ("MEAS:VOLT?;CURR?");
// a header not found from there is looked up from the root. The first error
// ends its line: what follows an out-of-range voltage must not run.
//
// Numbers and answers never go through the C library's number formatting,
// which follows the locale the toolkit sets: a client always sees "230.0".
#include "remote/RemoteCommand.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "platform/System.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "power/SourceLimits.h"
#include "util/Text.h"

#ifndef VX52_VERSION
#error "VX52_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace {

enum Command {
    CMD_VOLTAGE,
    CMD_RANGE,
    CMD_STEP_UP,
    CMD_STEP_DOWN,
    CMD_FREQUENCY,
    CMD_OUTPUT,
    CMD_PROTECTION_CLEAR,
    CMD_PROTECTION_TRIPPED,
    CMD_MEASURE_VOLTAGE,
    CMD_MEASURE_CURRENT,
    CMD_MEASURE_FREQUENCY,
    CMD_MEASURE_POWER,
    CMD_MEASURE_ALL,
    CMD_MEASURE_AGE,
    CMD_SYSTEM_ERROR,
    CMD_SYSTEM_LINK,
};

// Headers as SCPI writes them: the short form is the capitals, [..] optional.
struct CommandRow {
    const char* header;
    Command command;
    bool settable;
    bool queryable;
};

const CommandRow kCommands[] = {
    {"[SOURce]:VOLTage[:LEVel]", CMD_VOLTAGE, true, true},
    {"[SOURce]:VOLTage:RANGe", CMD_RANGE, true, true},
    {"[SOURce]:VOLTage:STEP:UP", CMD_STEP_UP, true, true},
    {"[SOURce]:VOLTage:STEP:DOWN", CMD_STEP_DOWN, true, true},
    {"[SOURce]:FREQuency", CMD_FREQUENCY, true, true},
    {"OUTPut[:STATe]", CMD_OUTPUT, true, true},
    {"OUTPut:PROTection:CLEar", CMD_PROTECTION_CLEAR, true, false},
    {"OUTPut:PROTection:TRIPped", CMD_PROTECTION_TRIPPED, false, true},
    {"MEASure:VOLTage", CMD_MEASURE_VOLTAGE, false, true},
    {"MEASure:CURRent", CMD_MEASURE_CURRENT, false, true},
    {"MEASure:FREQuency", CMD_MEASURE_FREQUENCY, false, true},
    {"MEASure:POWer", CMD_MEASURE_POWER, false, true},
    {"MEASure:ALL", CMD_MEASURE_ALL, false, true},
    {"MEASure:AGE", CMD_MEASURE_AGE, false, true},
    {"SYSTem:ERRor[:NEXT]", CMD_SYSTEM_ERROR, false, true},
    {"SYSTem:LINK", CMD_SYSTEM_LINK, false, true},
};

struct Node {
    std::string longForm; // upper case
    size_t shortLength;
    bool optional;
};

std::vector<Node> ParseHeaderPattern(const char* pattern) {
    std::vector<Node> nodes;
    const std::string p = pattern;
    size_t i = 0;
    while (i < p.size()) {
        const bool optional = p[i] == '[';
        if (optional) {
            ++i;
        }
        if (i < p.size() && p[i] == ':') {
            ++i;
        }
        Node n{"", 0, optional};
        while (i < p.size() && std::isalpha(static_cast<unsigned char>(p[i]))) {
            if (std::isupper(static_cast<unsigned char>(p[i])) &&
                n.shortLength == n.longForm.size()) {
                ++n.shortLength;
            }
            n.longForm += static_cast<char>(std::toupper(static_cast<unsigned char>(p[i])));
            ++i;
        }
        if (i < p.size() && p[i] == ']') {
            ++i;
        }
        nodes.push_back(n);
    }
    return nodes;
}

const std::vector<std::vector<Node>>& CommandTree() {
    static const std::vector<std::vector<Node>> tree = [] {
        std::vector<std::vector<Node>> t;
        for (const CommandRow& row : kCommands) {
            t.push_back(ParseHeaderPattern(row.header));
        }
        return t;
    }();
    return tree;
}

bool Matches(const std::string& mnemonic, const Node& node) {
    return mnemonic == node.longForm || mnemonic == node.longForm.substr(0, node.shortLength);
}

// Matches upper-case mnemonics against a header; *lastGiven is the index of
// the last node that was written out rather than left implied.
bool MatchFrom(const std::vector<std::string>& m, size_t i, const std::vector<Node>& nodes,
               size_t j, size_t* lastGiven) {
    if (j == nodes.size()) {
        return i == m.size();
    }
    if (i < m.size() && Matches(m[i], nodes[j]) && MatchFrom(m, i + 1, nodes, j + 1, lastGiven)) {
        if (i + 1 == m.size()) {
            *lastGiven = j;
        }
        return true;
    }
    return nodes[j].optional && MatchFrom(m, i, nodes, j + 1, lastGiven);
}

// The row the mnemonics name, or -1; newPath gets the path that follows it.
int FindCommand(const std::vector<std::string>& m, std::vector<std::string>* newPath) {
    const auto& tree = CommandTree();
    for (size_t row = 0; row < tree.size(); ++row) {
        size_t lastGiven = 0;
        if (!m.empty() && MatchFrom(m, 0, tree[row], 0, &lastGiven)) {
            newPath->clear();
            for (size_t k = 0; k < lastGiven; ++k) {
                newPath->push_back(tree[row][k].longForm);
            }
            return static_cast<int>(row);
        }
    }
    return -1;
}

std::string Upper(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// SCPI's "not a number", for an age there is none of.
constexpr const char* kNotANumber = "9.91E37";

const char* ErrorText(int code) {
    switch (code) {
    case REMOTE_COMMAND_ERROR:
        return "Command error";
    case REMOTE_UNDEFINED_HEADER:
        return "Undefined header";
    case REMOTE_SETTINGS_CONFLICT:
        return "Settings conflict";
    case REMOTE_DATA_OUT_OF_RANGE:
        return "Data out of range";
    case REMOTE_TOO_MUCH_DATA:
        return "Too much data";
    case REMOTE_HARDWARE_ERROR:
        return "Hardware error";
    case REMOTE_QUEUE_OVERFLOW:
        return "Queue overflow";
    default:
        return "No error";
    }
}

// A parameter as SCPI numbers are written (digits with an optional point and
// exponent), with an optional unit after it. Rounded to the setting's
// resolution: scale 10 gives tenths. Returns 1, 0 when it is no number, -1
// when it is one too large for any setting.
int ParseNumber(const std::string& text, const char* unit, int scale, int32_t* value) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return 0;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t k = i + 1;
        if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
            ++k;
        }
        size_t expDigits = 0;
        while (k < text.size() && std::isdigit(static_cast<unsigned char>(text[k]))) {
            ++k;
            ++expDigits;
        }
        if (expDigits == 0) {
            return 0;
        }
        i = k;
    }
    const size_t numberEnd = i;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    const std::string suffix = Upper(text.substr(i));
    if (!suffix.empty() && suffix != unit) {
        return 0;
    }
    // from_chars takes no leading '+'.
    const size_t from = text[0] == '+' ? 1 : 0;
    double v = 0.0;
    const auto r = std::from_chars(text.data() + from, text.data() + numberEnd, v);
    if (r.ec == std::errc::result_out_of_range) {
        return -1;
    }
    if (r.ec != std::errc() || r.ptr != text.data() + numberEnd) {
        return 0;
    }
    const double scaled = v * scale;
    if (!std::isfinite(scaled) || std::fabs(scaled) > 1e9) {
        return -1;
    }
    *value = static_cast<int32_t>(std::llround(scaled));
    return 1;
}

// What a refused request is for the client.
void ErrorForRequest(RemoteSession* s, int result) {
    switch (result) {
    case POWER_REQUEST_ALARM:
        RemoteSessionError(s, REMOTE_SETTINGS_CONFLICT, "output protection tripped");
        break;
    case POWER_REQUEST_RISING:
        RemoteSessionError(s, REMOTE_SETTINGS_CONFLICT, "output rising");
        break;
    case POWER_REQUEST_OUTPUT_STATE:
        RemoteSessionError(s, REMOTE_SETTINGS_CONFLICT, "not in this output state");
        break;
    case POWER_REQUEST_OUT_OF_RANGE:
        RemoteSessionError(s, REMOTE_DATA_OUT_OF_RANGE, "");
        break;
    case POWER_REQUEST_OFFLINE:
        RemoteSessionError(s, REMOTE_HARDWARE_ERROR, "link offline");
        break;
    case POWER_REQUEST_QUEUE_FULL:
        RemoteSessionError(s, REMOTE_QUEUE_OVERFLOW, "command queue full");
        break;
    default:
        break;
    }
}

bool Refused(int result) {
    return result != POWER_REQUEST_DONE && result != POWER_REQUEST_UNCHANGED;
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

std::string MeasureAnswer(Command c) {
    const int32_t* v = gPowerLastMeasurement.values;
    switch (c) {
    case CMD_MEASURE_VOLTAGE:
        return SourceText(SOURCE_Q_MEASURED_VOLTAGE, v[0]);
    case CMD_MEASURE_CURRENT:
        return SourceText(SOURCE_Q_MEASURED_CURRENT, v[1]);
    case CMD_MEASURE_FREQUENCY:
        return SourceText(SOURCE_Q_MEASURED_FREQUENCY, v[2]);
    case CMD_MEASURE_POWER:
        return SourceText(SOURCE_Q_MEASURED_POWER, v[3]);
    case CMD_MEASURE_ALL:
        return SourceText(SOURCE_Q_MEASURED_VOLTAGE, v[0]) + "," +
               SourceText(SOURCE_Q_MEASURED_CURRENT, v[1]) + "," +
               SourceText(SOURCE_Q_MEASURED_FREQUENCY, v[2]) + "," +
               SourceText(SOURCE_Q_MEASURED_POWER, v[3]);
    default:
        break;
    }
    if (!gPowerLastMeasurement.valid) {
        return kNotANumber;
    }
    const double ageMs = SysMonotonicMs() - gPowerLastMeasurement.atMs;
    return TextFixed(std::llround(std::max(0.0, ageMs) / 100.0), 1);
}

std::string NextError(RemoteSession* s) {
    if (s->errors.empty()) {
        return "0,\"No error\"";
    }
    std::string e = s->errors.front();
    s->errors.pop_front();
    return e;
}

enum class Outcome { Ok, Failed, Wait };

// Runs a set command with its one parameter.
Outcome RunSetting(RemoteSession* s, Command c, const std::string& param) {
    const std::string word = Upper(param);
    int32_t value = 0;
    auto number = [&](SourceQuantity q) {
        const SourceQuantityInfo& info = SourceQuantityOf(q);
        const int parsed = ParseNumber(param, Upper(info.unit).c_str(), info.scale, &value);
        if (parsed == 0) {
            RemoteSessionError(s, REMOTE_COMMAND_ERROR, "not a number");
        } else if (parsed < 0) {
            RemoteSessionError(s, REMOTE_DATA_OUT_OF_RANGE, "");
        }
        return parsed == 1;
    };
    int result = POWER_REQUEST_DONE;
    switch (c) {
    case CMD_VOLTAGE:
        if (word == "UP" || word == "DOWN") {
            result = PowerRequestStep(word == "UP" ? 1 : 0, POWER_CALLER_REMOTE);
        } else if (number(SOURCE_Q_SET_VOLTAGE)) {
            result = PowerRequestVoltage(value, POWER_CALLER_REMOTE);
        } else {
            return Outcome::Failed;
        }
        break;
    case CMD_FREQUENCY:
        if (!number(SOURCE_Q_SET_FREQUENCY)) {
            return Outcome::Failed;
        }
        result = PowerRequestFrequency(value, POWER_CALLER_REMOTE);
        break;
    case CMD_STEP_UP:
    case CMD_STEP_DOWN: {
        if (!number(SOURCE_Q_STEP_AMOUNT)) {
            return Outcome::Failed;
        }
        PowerEntry e = PowerEntryFromRecord();
        (c == CMD_STEP_UP ? e.up2U : e.down2U) = value;
        result = PowerRequestStepAmounts(e, POWER_CALLER_REMOTE);
        break;
    }
    case CMD_RANGE:
        if (word != "AUTO" && word != "HIGH") {
            RemoteSessionError(s, REMOTE_COMMAND_ERROR, "AUTO or HIGH");
            return Outcome::Failed;
        }
        result = PowerRequestRange(word == "AUTO" ? 0 : 1, POWER_CALLER_REMOTE);
        break;
    case CMD_OUTPUT:
        if (word != "ON" && word != "OFF" && word != "1" && word != "0") {
            RemoteSessionError(s, REMOTE_COMMAND_ERROR, "ON, OFF, 1 or 0");
            return Outcome::Failed;
        }
        result = PowerRequestOutput(word == "ON" || word == "1" ? 1 : 0, POWER_CALLER_REMOTE);
        break;
    default:
        break;
    }
    if (Refused(result)) {
        ErrorForRequest(s, result);
        return Outcome::Failed;
    }
    return Outcome::Ok;
}

std::string RunQuery(RemoteSession* s, Command c) {
    const Normal52PSet& set = gNormal52PSet;
    switch (c) {
    case CMD_VOLTAGE:
        return SourceText(SOURCE_Q_SET_VOLTAGE, set.vol);
    case CMD_RANGE:
        return set.volLevel == 0 ? "AUTO" : "HIGH";
    case CMD_STEP_UP:
        return SourceText(SOURCE_Q_STEP_AMOUNT, set.up2U);
    case CMD_STEP_DOWN:
        return SourceText(SOURCE_Q_STEP_AMOUNT, set.down2U);
    case CMD_FREQUENCY:
        return SourceText(SOURCE_Q_SET_FREQUENCY, set.freq);
    case CMD_OUTPUT:
        return gPowerInfo.outputOn != 0 ? "1" : "0";
    case CMD_PROTECTION_TRIPPED:
        return gPowerInfo.alarm != 0 ? "1" : "0";
    case CMD_SYSTEM_ERROR:
        return NextError(s);
    case CMD_SYSTEM_LINK:
        return PowerLinkReady() ? "ONLINE" : "OFFLINE";
    default:
        return MeasureAnswer(c);
    }
}

Outcome RunCommon(RemoteSession* s, const std::string& header, const std::string& params,
                  std::string* reply) {
    const std::string h = Upper(header);
    if (h != "*IDN?" && h != "*CLS" && h != "*OPC?") {
        RemoteSessionError(s, REMOTE_UNDEFINED_HEADER, "");
        return Outcome::Failed;
    }
    if (!params.empty()) {
        RemoteSessionError(s, REMOTE_COMMAND_ERROR, "parameter not allowed");
        return Outcome::Failed;
    }
    if (h == "*IDN?") {
        *reply = std::string("Vx52PSoft,") + ModelName() + ",0," + VX52_VERSION;
    } else if (h == "*CLS") {
        s->errors.clear();
    } else {
        const uint64_t mark = PowerCommandsMark();
        if (!PowerCommandsOut(mark)) {
            s->waitMark = mark;
            return Outcome::Wait;
        }
        *reply = "1";
    }
    return Outcome::Ok;
}

bool IsHeaderChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

Outcome RunCommand(RemoteSession* s, const std::string& text, std::string* reply) {
    const std::string cmd = TextTrim(text);
    size_t split = 0;
    while (split < cmd.size() && !IsBlank(cmd[split])) {
        ++split;
    }
    std::string header = cmd.substr(0, split);
    const std::string params = TextTrim(cmd.substr(split));
    if (header[0] == '*') {
        return RunCommon(s, header, params, reply);
    }
    const bool query = header.back() == '?';
    if (query) {
        header.pop_back();
    }
    const bool absolute = !header.empty() && header[0] == ':';
    if (absolute) {
        header.erase(0, 1);
    }
    std::vector<std::string> mnemonics;
    size_t start = 0;
    while (true) {
        const size_t colon = header.find(':', start);
        const std::string m = header.substr(start, colon - start);
        if (m.empty() || !std::all_of(m.begin(), m.end(), IsHeaderChar)) {
            RemoteSessionError(s, REMOTE_COMMAND_ERROR, "invalid header");
            return Outcome::Failed;
        }
        mnemonics.push_back(Upper(m));
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    std::vector<std::string> newPath;
    int row = -1;
    if (!absolute && !s->path.empty()) {
        std::vector<std::string> relative = s->path;
        relative.insert(relative.end(), mnemonics.begin(), mnemonics.end());
        row = FindCommand(relative, &newPath);
    }
    if (row < 0) {
        row = FindCommand(mnemonics, &newPath);
    }
    if (row < 0 || !(query ? kCommands[row].queryable : kCommands[row].settable)) {
        RemoteSessionError(s, REMOTE_UNDEFINED_HEADER, "");
        return Outcome::Failed;
    }
    s->path = newPath;
    const Command c = kCommands[row].command;
    const bool takesParameter = !query && c != CMD_PROTECTION_CLEAR;
    if (!takesParameter && !params.empty()) {
        RemoteSessionError(s, REMOTE_COMMAND_ERROR, "parameter not allowed");
        return Outcome::Failed;
    }
    if (takesParameter && (params.empty() || params.find(',') != std::string::npos)) {
        RemoteSessionError(s, REMOTE_COMMAND_ERROR,
                           params.empty() ? "missing parameter" : "one parameter only");
        return Outcome::Failed;
    }
    if (query) {
        *reply = RunQuery(s, c);
        return Outcome::Ok;
    }
    if (c == CMD_PROTECTION_CLEAR) {
        const int result = PowerRequestClearAlarm(POWER_CALLER_REMOTE);
        if (Refused(result)) {
            ErrorForRequest(s, result);
            return Outcome::Failed;
        }
        return Outcome::Ok;
    }
    return RunSetting(s, c, params);
}

void SendReplies(RemoteSession* s, std::string* out) {
    if (s->replies.empty()) {
        return;
    }
    for (size_t i = 0; i < s->replies.size(); ++i) {
        *out += (i == 0 ? "" : ";") + s->replies[i];
    }
    *out += '\n';
    s->replies.clear();
}

// Runs commands in order until one fails or a *OPC? has to wait.
void RunCommands(RemoteSession* s, const std::vector<std::string>& commands, size_t from,
                 std::string* out) {
    for (size_t i = from; i < commands.size(); ++i) {
        if (TextTrim(commands[i]).empty()) {
            continue;
        }
        std::string reply;
        const Outcome o = RunCommand(s, commands[i], &reply);
        if (o == Outcome::Wait) {
            s->waiting = true;
            s->rest.assign(commands.begin() + static_cast<long>(i) + 1, commands.end());
            return;
        }
        if (o == Outcome::Failed) {
            break;
        }
        if (!reply.empty()) {
            s->replies.push_back(reply);
        }
    }
    SendReplies(s, out);
}

void RunLine(RemoteSession* s, const std::string& line, std::string* out) {
    std::vector<std::string> commands;
    size_t start = 0;
    while (true) {
        const size_t semi = line.find(';', start);
        commands.push_back(line.substr(start, semi - start));
        if (semi == std::string::npos) {
            break;
        }
        start = semi + 1;
    }
    s->path.clear();
    s->replies.clear();
    RunCommands(s, commands, 0, out);
}

// Runs every complete line of the input, unless a *OPC? holds them up.
void Pump(RemoteSession* s, std::string* out) {
    size_t at = 0;
    std::string& in = s->input;
    while (!s->waiting) {
        const size_t lf = in.find('\n', at);
        if (s->discarding) {
            if (lf == std::string::npos) {
                at = in.size();
                break;
            }
            s->discarding = false;
            at = lf + 1;
            continue;
        }
        if (lf == std::string::npos) {
            // A CR may still wait for its LF behind a line of full length.
            if (in.size() - at > static_cast<size_t>(REMOTE_MAX_LINE) + 1) {
                RemoteSessionError(s, REMOTE_TOO_MUCH_DATA, "line over 256 bytes");
                s->discarding = true;
                at = in.size();
            }
            break;
        }
        size_t end = lf;
        if (end > at && in[end - 1] == '\r') {
            --end;
        }
        const size_t length = end - at;
        const std::string line = in.substr(at, length);
        at = lf + 1;
        if (length > static_cast<size_t>(REMOTE_MAX_LINE)) {
            RemoteSessionError(s, REMOTE_TOO_MUCH_DATA, "line over 256 bytes");
            continue;
        }
        RunLine(s, line, out);
    }
    in.erase(0, at);
}

} // namespace

void RemoteSessionError(RemoteSession* s, int code, const char* detail) {
    std::string e = std::to_string(code) + ",\"" + ErrorText(code);
    if (detail && *detail) {
        e += std::string(";") + detail;
    }
    e += "\"";
    if (s->errors.size() < static_cast<size_t>(REMOTE_ERROR_QUEUE)) {
        s->errors.push_back(e);
    } else {
        // The oldest errors stay; the newest place says some were lost.
        s->errors.back() = "-350,\"Queue overflow\"";
    }
}

void RemoteSessionFeed(RemoteSession* s, const char* data, size_t length, std::string* out) {
    if (s->waiting && s->input.size() + length > static_cast<size_t>(REMOTE_MAX_HELD_INPUT)) {
        if (!s->heldOverflow) {
            RemoteSessionError(s, REMOTE_QUEUE_OVERFLOW, "input held behind *OPC?");
            s->heldOverflow = true;
        }
        return;
    }
    s->input.append(data, length);
    Pump(s, out);
}

void RemoteSessionPoll(RemoteSession* s, std::string* out) {
    if (!s->waiting || !PowerCommandsOut(s->waitMark)) {
        return;
    }
    s->waiting = false;
    s->heldOverflow = false;
    s->replies.push_back("1");
    const std::vector<std::string> rest = std::move(s->rest);
    s->rest.clear();
    RunCommands(s, rest, 0, out);
    Pump(s, out);
}
