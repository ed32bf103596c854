// Headers are matched case-insensitively in short or long form; ';' separates
// the commands of a line, and a query's answer joins the line's others on one
// line, separated by ';'. After a command, the next one on the line may leave
// out the path it shares with it ("MEAS:VOLT?;CURR?"); a header not found from
// there is looked up from the root. The first error ends its line: what
// follows an out-of-range voltage must not run.
#include "remote/Scpi.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iterator>
#include <system_error>

#include "util/Text.h"

namespace {

std::vector<ScpiNode> ParsePattern(const char* pattern) {
    std::vector<ScpiNode> nodes;
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
        ScpiNode n{"", 0, optional};
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

bool Matches(const std::string& mnemonic, const ScpiNode& node) {
    return mnemonic == node.longForm || mnemonic == node.longForm.substr(0, node.shortLength);
}

// Matches upper-case mnemonics against a header; *lastGiven is the index of
// the last node that was written out rather than left implied.
bool MatchFrom(const std::vector<std::string>& m, size_t i, const std::vector<ScpiNode>& nodes,
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

std::string Upper(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The first c at or after from that is not inside a quoted string; npos if none.
size_t FindOutsideQuotes(const std::string& text, char c, size_t from) {
    char quote = 0;
    for (size_t i = from; i < text.size(); ++i) {
        if (quote != 0) {
            quote = text[i] == quote ? 0 : quote; // a doubled quote closes and opens again
        } else if (text[i] == '"' || text[i] == '\'') {
            quote = text[i];
        } else if (text[i] == c) {
            return i;
        }
    }
    return std::string::npos;
}

// A quoted string's text; false when the parameter is not one string.
bool Unquote(const std::string& param, std::string* text) {
    if (param.size() < 2 || (param[0] != '"' && param[0] != '\'') || param.back() != param[0]) {
        return false;
    }
    const char q = param[0];
    text->clear();
    for (size_t i = 1; i + 1 < param.size(); ++i) {
        if (param[i] == q) {
            if (param[i + 1] != q || i + 2 == param.size()) {
                return false;
            }
            ++i;
        }
        *text += param[i];
    }
    return true;
}

bool IsHeaderChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

const char* ErrorText(int code) {
    switch (code) {
    case SCPI_COMMAND_ERROR:
        return "Command error";
    case SCPI_UNDEFINED_HEADER:
        return "Undefined header";
    case SCPI_SETTINGS_CONFLICT:
        return "Settings conflict";
    case SCPI_DATA_OUT_OF_RANGE:
        return "Data out of range";
    case SCPI_TOO_MUCH_DATA:
        return "Too much data";
    case SCPI_ILLEGAL_PARAMETER:
        return "Illegal parameter value";
    case SCPI_HARDWARE_ERROR:
        return "Hardware error";
    case SCPI_FILE_NOT_FOUND:
        return "File name not found";
    case SCPI_QUEUE_OVERFLOW:
        return "Queue overflow";
    default:
        return "No error";
    }
}

// ---- the machinery's own commands ---------------------------------------------------

int ClearStatus(ScpiSession* s, const ScpiParam&) {
    s->errors.clear();
    return 0;
}

// Holds the line until the instrument has done what was asked before it.
std::string OperationComplete(ScpiSession* s) {
    const uint64_t mark = s->instrument->mark();
    if (!s->instrument->done(mark)) {
        s->waitMark = mark;
        s->waiting = true;
        return "";
    }
    return "1";
}

const ScpiCommand kCommon[] = {
    {"*CLS", ClearStatus, nullptr, SCPI_PARAM_NONE, {}, nullptr, 0},
    {"*OPC", nullptr, OperationComplete, SCPI_PARAM_NONE, {}, nullptr, 0},
    {"SYSTem:ERRor[:NEXT]", nullptr, ScpiNextError, SCPI_PARAM_NONE, {}, nullptr, 0},
};

const ScpiInstrument& Common() {
    static const ScpiInstrument common =
        ScpiInstrumentMake(kCommon, std::size(kCommon), nullptr, nullptr);
    return common;
}

// ---- finding a command ---------------------------------------------------------------

// The row the mnemonics name in the instrument's table, then in the
// machinery's, or nullptr; newPath gets the path that follows it.
const ScpiCommand* FindIn(const ScpiInstrument& inst, const std::vector<std::string>& m,
                          std::vector<std::string>* newPath) {
    for (size_t row = 0; row < inst.count; ++row) {
        const std::vector<ScpiNode>& nodes = inst.tree[row];
        size_t lastGiven = 0;
        if (!m.empty() && !nodes.empty() && MatchFrom(m, 0, nodes, 0, &lastGiven)) {
            newPath->clear();
            for (size_t k = 0; k < lastGiven; ++k) {
                newPath->push_back(nodes[k].longForm);
            }
            return &inst.commands[row];
        }
    }
    return nullptr;
}

const ScpiCommand* Find(const ScpiInstrument& inst, const std::vector<std::string>& m,
                        std::vector<std::string>* newPath) {
    const ScpiCommand* c = FindIn(inst, m, newPath);
    return c ? c : FindIn(Common(), m, newPath);
}

// A common command ("*IDN") is its pattern, whole.
const ScpiCommand* FindCommon(const ScpiInstrument& inst, const std::string& name) {
    for (const ScpiInstrument* table : {&inst, &Common()}) {
        for (size_t row = 0; row < table->count; ++row) {
            if (name == table->commands[row].pattern) {
                return &table->commands[row];
            }
        }
    }
    return nullptr;
}

// ---- parameters ------------------------------------------------------------------------

const char* const kBooleanWords[] = {"ON", "OFF", "1", "0", nullptr};

int WordIndex(const char* const* words, const std::string& word) {
    for (int i = 0; words && words[i]; ++i) {
        if (word == words[i]) {
            return i;
        }
    }
    return -1;
}

// "AUTO or HIGH", "ON, OFF, 1 or 0".
std::string WordList(const char* const* words) {
    std::string list;
    for (int i = 0; words && words[i]; ++i) {
        list += (i == 0 ? "" : words[i + 1] ? ", " : " or ") + std::string(words[i]);
    }
    return list;
}

// The parameter of a set command, as its row takes it; false after queuing why not.
bool ReadParam(ScpiSession* s, const ScpiCommand& c, const std::string& param, ScpiParam* p) {
    const std::string word = Upper(param);
    *p = ScpiParam{-1, 0, {}};
    switch (c.kind) {
    case SCPI_PARAM_NUMBER: {
        p->word = WordIndex(c.words, word);
        if (p->word >= 0) {
            return true;
        }
        const int parsed = ScpiParseNumber(param, c.unit.unit, c.unit.decimals, &p->number);
        if (parsed == 0) {
            ScpiSessionError(s, SCPI_COMMAND_ERROR, "not a number");
        } else if (parsed < 0) {
            ScpiSessionError(s, SCPI_DATA_OUT_OF_RANGE, "");
        }
        return parsed == 1;
    }
    case SCPI_PARAM_CHOICE:
        p->word = WordIndex(c.words, word);
        if (p->word < 0) {
            ScpiSessionError(s, SCPI_COMMAND_ERROR, WordList(c.words).c_str());
        }
        return p->word >= 0;
    case SCPI_PARAM_BOOLEAN: {
        const int i = WordIndex(kBooleanWords, word);
        if (i < 0) {
            ScpiSessionError(s, SCPI_COMMAND_ERROR, WordList(kBooleanWords).c_str());
            return false;
        }
        p->number = i == 0 || i == 2 ? 1 : 0;
        return true;
    }
    case SCPI_PARAM_STRING:
        if (!Unquote(param, &p->text)) {
            ScpiSessionError(s, SCPI_COMMAND_ERROR, "a quoted string");
            return false;
        }
        return true;
    case SCPI_PARAM_NONE:
        break;
    }
    return true;
}

// ---- running commands ------------------------------------------------------------------

// The upper-case mnemonics of a header without its leading ':'; false after
// queuing the error when one is empty or holds what no header may.
bool Mnemonics(ScpiSession* s, const std::string& header, std::vector<std::string>* out) {
    size_t start = 0;
    while (true) {
        const size_t colon = header.find(':', start);
        const std::string m = header.substr(start, colon - start);
        if (m.empty() || !std::all_of(m.begin(), m.end(), IsHeaderChar)) {
            ScpiSessionError(s, SCPI_COMMAND_ERROR, "invalid header");
            return false;
        }
        out->push_back(Upper(m));
        if (colon == std::string::npos) {
            return true;
        }
        start = colon + 1;
    }
}

// Runs one command; false when it failed (its error is queued).
bool RunCommand(ScpiSession* s, const ScpiInstrument& inst, const std::string& text,
                std::string* reply) {
    const std::string cmd = TextTrim(text);
    size_t split = 0;
    while (split < cmd.size() && !IsBlank(cmd[split])) {
        ++split;
    }
    std::string header = cmd.substr(0, split);
    const std::string params = TextTrim(cmd.substr(split));
    const bool query = header.back() == '?';
    if (query) {
        header.pop_back();
    }
    const ScpiCommand* c = nullptr;
    if (header[0] == '*') {
        c = FindCommon(inst, Upper(header));
    } else {
        const bool absolute = !header.empty() && header[0] == ':';
        if (absolute) {
            header.erase(0, 1);
        }
        std::vector<std::string> mnemonics;
        if (!Mnemonics(s, header, &mnemonics)) {
            return false;
        }
        std::vector<std::string> newPath;
        if (!absolute && !s->path.empty()) {
            std::vector<std::string> relative = s->path;
            relative.insert(relative.end(), mnemonics.begin(), mnemonics.end());
            c = Find(inst, relative, &newPath);
        }
        if (c == nullptr) {
            c = Find(inst, mnemonics, &newPath);
        }
        if (c != nullptr && (query ? c->query != nullptr : c->set != nullptr)) {
            s->path = newPath;
        }
    }
    if (c == nullptr || (query ? c->query == nullptr : c->set == nullptr)) {
        ScpiSessionError(s, SCPI_UNDEFINED_HEADER, "");
        return false;
    }
    const bool takesParameter = !query && c->arity > 0;
    if (!takesParameter && !params.empty()) {
        ScpiSessionError(s, SCPI_COMMAND_ERROR, "parameter not allowed");
        return false;
    }
    if (takesParameter &&
        (params.empty() || FindOutsideQuotes(params, ',', 0) != std::string::npos)) {
        ScpiSessionError(s, SCPI_COMMAND_ERROR,
                         params.empty() ? "missing parameter" : "one parameter only");
        return false;
    }
    if (query) {
        *reply = c->query(s);
        return true;
    }
    ScpiParam p{};
    return ReadParam(s, *c, params, &p) && c->set(s, p) == 0;
}

void SendReplies(ScpiSession* s, std::string* out) {
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
void RunCommands(ScpiSession* s, const ScpiInstrument& inst,
                 const std::vector<std::string>& commands, std::string* out) {
    for (size_t i = 0; i < commands.size(); ++i) {
        if (TextTrim(commands[i]).empty()) {
            continue;
        }
        std::string reply;
        const bool ok = RunCommand(s, inst, commands[i], &reply);
        if (s->waiting) {
            s->rest.assign(commands.begin() + static_cast<long>(i) + 1, commands.end());
            return;
        }
        if (!ok) {
            break;
        }
        if (!reply.empty()) {
            s->replies.push_back(reply);
        }
    }
    SendReplies(s, out);
}

void RunLine(ScpiSession* s, const ScpiInstrument& inst, const std::string& line,
             std::string* out) {
    std::vector<std::string> commands;
    size_t start = 0;
    while (true) {
        const size_t semi = FindOutsideQuotes(line, ';', start);
        commands.push_back(line.substr(start, semi - start));
        if (semi == std::string::npos) {
            break;
        }
        start = semi + 1;
    }
    s->path.clear();
    s->replies.clear();
    RunCommands(s, inst, commands, out);
}

// Runs every complete line of the input, unless a *OPC? holds them up.
void Pump(ScpiSession* s, const ScpiInstrument& inst, std::string* out) {
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
            if (in.size() - at > static_cast<size_t>(SCPI_MAX_LINE) + 1) {
                ScpiSessionError(s, SCPI_TOO_MUCH_DATA, "line over 256 bytes");
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
        if (length > static_cast<size_t>(SCPI_MAX_LINE)) {
            ScpiSessionError(s, SCPI_TOO_MUCH_DATA, "line over 256 bytes");
            continue;
        }
        RunLine(s, inst, line, out);
    }
    in.erase(0, at);
}

} // namespace

ScpiInstrument ScpiInstrumentMake(const ScpiCommand* commands, size_t count, uint64_t (*mark)(),
                                  int (*done)(uint64_t)) {
    ScpiInstrument inst{commands, count, mark, done, {}};
    for (size_t i = 0; i < count; ++i) {
        // A common command is found by its whole name, never by the path rules.
        inst.tree.push_back(commands[i].pattern[0] == '*' ? std::vector<ScpiNode>{}
                                                          : ParsePattern(commands[i].pattern));
    }
    return inst;
}

void ScpiSessionError(ScpiSession* s, int code, const char* detail) {
    std::string e = std::to_string(code) + ",\"" + ErrorText(code);
    if (detail && *detail) {
        e += ';';
        for (const char* c = detail; *c; ++c) {
            e += *c == '"' ? std::string("\"\"") : std::string(1, *c);
        }
    }
    e += "\"";
    if (s->errors.size() < static_cast<size_t>(SCPI_ERROR_QUEUE)) {
        s->errors.push_back(e);
    } else {
        // The oldest errors stay; the newest place says some were lost.
        s->errors.back() = "-350,\"Queue overflow\"";
    }
}

std::string ScpiNextError(ScpiSession* s) {
    if (s->errors.empty()) {
        return "0,\"No error\"";
    }
    std::string e = s->errors.front();
    s->errors.pop_front();
    return e;
}

int ScpiParseNumber(const std::string& text, const char* unit, int decimals, int64_t* value) {
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
    if (!suffix.empty() && suffix != Upper(unit)) {
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
    int64_t scale = 1;
    for (int d = 0; d < decimals; ++d) {
        scale *= 10;
    }
    const double scaled = v * static_cast<double>(scale);
    if (!std::isfinite(scaled) || std::fabs(scaled) > 1e9) {
        return -1;
    }
    *value = std::llround(scaled);
    return 1;
}

void ScpiSessionFeed(ScpiSession* s, const ScpiInstrument& inst, const char* data, size_t length,
                     std::string* out) {
    s->instrument = &inst;
    if (s->waiting && s->input.size() + length > static_cast<size_t>(SCPI_MAX_HELD_INPUT)) {
        if (!s->heldOverflow) {
            ScpiSessionError(s, SCPI_QUEUE_OVERFLOW, "input held behind *OPC?");
            s->heldOverflow = true;
        }
        return;
    }
    s->input.append(data, length);
    Pump(s, inst, out);
}

void ScpiSessionPoll(ScpiSession* s, const ScpiInstrument& inst, std::string* out) {
    s->instrument = &inst;
    if (!s->waiting || !inst.done(s->waitMark)) {
        return;
    }
    s->waiting = false;
    s->heldOverflow = false;
    s->replies.push_back("1");
    const std::vector<std::string> rest = std::move(s->rest);
    s->rest.clear();
    RunCommands(s, inst, rest, out);
    Pump(s, inst, out);
}
