// Headers are matched case-insensitively in short or long form; ';' separates
// the commands of a line, and a query's answer joins the line's others on one
// line, separated by ';'. After a command, the next one on the line may leave
// out the path it shares with it ("MEAS:VOLT?;CURR?"); a header not found from
// there is looked up from the root. A command error ends its line; after any
// other error the line's set commands are skipped (what follows an
// out-of-range voltage must not run) but its queries are answered, so a client
// never waits for a reply that will not come.
#include "remote/Scpi.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "util/Text.h"

namespace {

// ---- text ------------------------------------------------------------------------------

std::string Upper(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsHeaderChar(char c) {
    return IsAlpha(c) || IsDigit(c) || c == '_';
}

// ---- header patterns ---------------------------------------------------------------------

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
        while (i < p.size() && IsAlpha(p[i])) {
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

// ---- errors ------------------------------------------------------------------------------

const char* ErrorText(int code) {
    switch (code) {
    case SCPI_COMMAND_ERROR:
        return "Command error";
    case SCPI_DATA_TYPE_ERROR:
        return "Data type error";
    case SCPI_PARAMETER_NOT_ALLOWED:
        return "Parameter not allowed";
    case SCPI_MISSING_PARAMETER:
        return "Missing parameter";
    case SCPI_UNDEFINED_HEADER:
        return "Undefined header";
    case SCPI_INVALID_SUFFIX:
        return "Invalid suffix";
    case SCPI_SETTINGS_CONFLICT:
        return "Settings conflict";
    case SCPI_DATA_OUT_OF_RANGE:
        return "Data out of range";
    case SCPI_TOO_MUCH_DATA:
        return "Too much data";
    case SCPI_ILLEGAL_PARAMETER_VALUE:
        return "Illegal parameter value";
    case SCPI_HARDWARE_ERROR:
        return "Hardware error";
    case SCPI_SYSTEM_ERROR:
        return "System error";
    case SCPI_FILE_NOT_FOUND:
        return "File name not found";
    case SCPI_QUEUE_OVERFLOW:
        return "Queue overflow";
    default:
        return "No error";
    }
}

// The standard event an error of this class sets.
int ErrorEvent(int code) {
    if (code <= -100 && code > -200) {
        return SCPI_ESR_CME;
    }
    if (code <= -200 && code > -300) {
        return SCPI_ESR_EXE;
    }
    if (code <= -300 && code > -400) {
        return SCPI_ESR_DDE;
    }
    return code <= -400 && code > -500 ? SCPI_ESR_QYE : 0;
}

bool IsCommandError(int code) {
    return code <= -100 && code > -200;
}

// ---- what was asked, and the status registers ---------------------------------------------

const ScpiHooks& Hooks(const ScpiSession* s) {
    return s->instrument->hooks;
}

// Runs what may ask the instrument for something, noting what it asked.
template <typename Run> int Asking(ScpiSession* s, Run run) {
    const uint64_t before = Hooks(s).mark();
    const int code = run();
    const uint64_t after = Hooks(s).mark();
    if (after != before) {
        s->asked.emplace_back(before, after);
    }
    return code;
}

// Errors for what the instrument did not carry out, once it is through.
void Settle(ScpiSession* s) {
    while (!s->asked.empty() && Hooks(s).done(s->asked.front().second)) {
        const auto [from, through] = s->asked.front();
        s->asked.pop_front();
        Hooks(s).settle(s, from, through);
    }
}

// Conditions that have come since the last look are events.
void Look(ScpiSession::Register* r, int condition) {
    r->event |= condition & ~r->last;
    r->last = condition;
}

void LookAtConditions(ScpiSession* s) {
    Look(&s->operation, Hooks(s).operation());
    Look(&s->questionable, Hooks(s).questionable());
}

int StatusByte(ScpiSession* s) {
    LookAtConditions(s);
    int stb = 0;
    stb |= s->errors.empty() ? 0 : SCPI_STB_EAV;
    stb |= (s->questionable.event & s->questionable.enable) != 0 ? SCPI_STB_QSB : 0;
    stb |= s->replies.empty() ? 0 : SCPI_STB_MAV;
    stb |= (s->esr & s->ese) != 0 ? SCPI_STB_ESB : 0;
    stb |= (s->operation.event & s->operation.enable) != 0 ? SCPI_STB_OSB : 0;
    stb |= (stb & s->sre) != 0 ? SCPI_STB_MSS : 0;
    return stb;
}

// ---- the machinery's own commands ---------------------------------------------------

std::string Number(int64_t value) {
    return TextFixed(value, 0);
}

int ClearStatus(ScpiSession* s, const ScpiParam&) {
    s->errors.clear();
    s->esr = 0;
    s->operation.event = 0;
    s->questionable.event = 0;
    s->opcArmed = false;
    return 0;
}

int InRange(ScpiSession* s, int64_t value, int64_t max, int* field) {
    if (value < 0 || value > max) {
        ScpiSessionError(s, SCPI_DATA_OUT_OF_RANGE, "");
        return SCPI_DATA_OUT_OF_RANGE;
    }
    *field = static_cast<int>(value);
    return 0;
}

int SetEventEnable(ScpiSession* s, const ScpiParam& p) {
    return InRange(s, p.number, 255, &s->ese);
}
std::string EventEnable(ScpiSession* s) {
    return Number(s->ese);
}
std::string EventStatus(ScpiSession* s) {
    const int esr = s->esr;
    s->esr = 0;
    return Number(esr);
}
int SetRequestEnable(ScpiSession* s, const ScpiParam& p) {
    const int code = InRange(s, p.number, 255, &s->sre);
    s->sre &= ~SCPI_STB_MSS;
    return code;
}
std::string RequestEnable(ScpiSession* s) {
    return Number(s->sre);
}
std::string StatusByteQuery(ScpiSession* s) {
    return Number(StatusByte(s));
}
ScpiLimits ByteLimits() {
    return {0, 255, 0};
}

int ArmOperationComplete(ScpiSession* s, const ScpiParam&) {
    s->opcMark = Hooks(s).mark();
    s->opcArmed = true;
    if (Hooks(s).done(s->opcMark)) {
        s->esr |= SCPI_ESR_OPC;
        s->opcArmed = false;
    }
    return 0;
}
std::string OperationComplete(ScpiSession* s) {
    ScpiHold(s, "1", nullptr);
    return "";
}
int Wait(ScpiSession* s, const ScpiParam&) {
    return ScpiHold(s, "", nullptr);
}

std::string NextError(ScpiSession* s) {
    if (s->errors.empty()) {
        return "0,\"No error\"";
    }
    std::string e = s->errors.front();
    s->errors.pop_front();
    return e;
}
std::string ErrorCount(ScpiSession* s) {
    return Number(static_cast<int64_t>(s->errors.size()));
}
std::string AllErrors(ScpiSession* s) {
    std::string all = NextError(s);
    while (!s->errors.empty()) {
        all += "," + NextError(s);
    }
    return all;
}
std::string Version(ScpiSession*) {
    return "1999.0";
}

template <ScpiSession::Register ScpiSession::*reg> std::string Event(ScpiSession* s) {
    LookAtConditions(s);
    const int event = (s->*reg).event;
    (s->*reg).event = 0;
    return Number(event);
}
template <int (*ScpiHooks::*condition)()> std::string Condition(ScpiSession* s) {
    LookAtConditions(s);
    return Number((Hooks(s).*condition)());
}
template <ScpiSession::Register ScpiSession::*reg>
int SetEnable(ScpiSession* s, const ScpiParam& p) {
    return InRange(s, p.number, 32767, &(s->*reg).enable);
}
template <ScpiSession::Register ScpiSession::*reg> std::string Enable(ScpiSession* s) {
    return Number((s->*reg).enable);
}
ScpiLimits RegisterLimits() {
    return {0, 32767, 0};
}
int StatusPreset(ScpiSession* s, const ScpiParam&) {
    s->operation.enable = 0;
    s->questionable.enable = 0;
    return 0;
}

constexpr ScpiUnit kCount{"", 0};
constexpr auto kOper = &ScpiSession::operation;
constexpr auto kQues = &ScpiSession::questionable;
constexpr ScpiParamKind NONE = SCPI_PARAM_NONE;
constexpr ScpiParamKind NUMBER = SCPI_PARAM_NUMBER;

const ScpiCommand kCommon[] = {
    {"*CLS", ClearStatus, nullptr, NONE, {}, nullptr, 0, nullptr},
    {"*ESE", SetEventEnable, EventEnable, NUMBER, kCount, nullptr, 1, ByteLimits},
    ScpiQueryOnly("*ESR", EventStatus),
    {"*SRE", SetRequestEnable, RequestEnable, NUMBER, kCount, nullptr, 1, ByteLimits},
    ScpiQueryOnly("*STB", StatusByteQuery),
    {"*OPC", ArmOperationComplete, OperationComplete, NONE, {}, nullptr, 0, nullptr},
    {"*WAI", Wait, nullptr, NONE, {}, nullptr, 0, nullptr},
    ScpiQueryOnly("SYSTem:ERRor[:NEXT]", NextError),
    ScpiQueryOnly("SYSTem:ERRor:COUNt", ErrorCount),
    ScpiQueryOnly("SYSTem:ERRor:ALL", AllErrors),
    ScpiQueryOnly("SYSTem:VERSion", Version),
    ScpiQueryOnly("STATus:OPERation[:EVENt]", Event<kOper>),
    ScpiQueryOnly("STATus:OPERation:CONDition", Condition<&ScpiHooks::operation>),
    {"STATus:OPERation:ENABle", SetEnable<kOper>, Enable<kOper>, NUMBER, kCount, nullptr, 1,
     RegisterLimits},
    ScpiQueryOnly("STATus:QUEStionable[:EVENt]", Event<kQues>),
    ScpiQueryOnly("STATus:QUEStionable:CONDition", Condition<&ScpiHooks::questionable>),
    {"STATus:QUEStionable:ENABle", SetEnable<kQues>, Enable<kQues>, NUMBER, kCount, nullptr, 1,
     RegisterLimits},
    {"STATus:PRESet", StatusPreset, nullptr, NONE, {}, nullptr, 0, nullptr},
};

const ScpiInstrument& Common() {
    static const ScpiInstrument common = ScpiInstrumentMake(kCommon, std::size(kCommon), {});
    return common;
}

// ---- finding a command ---------------------------------------------------------------

// The row the mnemonics name in a table, or nullptr; newPath gets the path
// that follows it.
const ScpiCommand* FindIn(const ScpiInstrument& table, const std::vector<std::string>& m,
                          std::vector<std::string>* newPath) {
    for (size_t row = 0; row < table.count; ++row) {
        const std::vector<ScpiNode>& nodes = table.tree[row];
        size_t lastGiven = 0;
        if (!m.empty() && !nodes.empty() && MatchFrom(m, 0, nodes, 0, &lastGiven)) {
            newPath->clear();
            for (size_t k = 0; k < lastGiven; ++k) {
                newPath->push_back(nodes[k].longForm);
            }
            return &table.commands[row];
        }
    }
    return nullptr;
}

// The instrument's rows first, then the machinery's.
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

// ---- parameters ------------------------------------------------------------------------

const char* const kBooleanWords[] = {"OFF", "ON", nullptr};
const char* const kBooleanChoices[] = {"ON", "OFF", "1", "0", nullptr};

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

// MIN, MAX or DEF (short or long) as its value; false for any other word.
bool Keyword(const std::string& word, ScpiLimits (*limits)(), int64_t* value) {
    if (limits == nullptr) {
        return false;
    }
    const ScpiLimits l = limits();
    if (word == "MIN" || word == "MINIMUM") {
        *value = l.min;
    } else if (word == "MAX" || word == "MAXIMUM") {
        *value = l.max;
    } else if (word == "DEF" || word == "DEFAULT") {
        *value = l.def;
    } else {
        return false;
    }
    return true;
}

// The parameters of a command, split at commas; none when the text is empty.
std::vector<std::string> SplitParams(const std::string& text) {
    std::vector<std::string> params;
    if (text.empty()) {
        return params;
    }
    size_t start = 0;
    while (true) {
        const size_t comma = FindOutsideQuotes(text, ',', start);
        params.push_back(TextTrim(text.substr(start, comma - start)));
        if (comma == std::string::npos) {
            return params;
        }
        start = comma + 1;
    }
}

int Refuse(ScpiSession* s, int code, const std::string& detail) {
    ScpiSessionError(s, code, detail.c_str());
    return code;
}

int NumberError(ScpiSession* s, int code, const ScpiUnit& unit) {
    switch (code) {
    case SCPI_DATA_TYPE_ERROR:
        return Refuse(s, code, "not a number");
    case SCPI_INVALID_SUFFIX:
        return Refuse(s, code, *unit.unit ? std::string("the unit is ") + unit.unit : "no unit");
    default:
        return Refuse(s, code, "");
    }
}

// The parameter of a set command, as its row takes it: 0, or the error queued.
int ReadParam(ScpiSession* s, const ScpiCommand& c, const std::string& text, ScpiParam* p) {
    *p = ScpiParam{-1, 0, {}};
    const std::string word = Upper(text);
    const bool isWord = !text.empty() && IsAlpha(text[0]);
    const bool isString = !text.empty() && (text[0] == '"' || text[0] == '\'');
    switch (c.kind) {
    case SCPI_PARAM_NUMBER:
        if (isWord) {
            p->word = WordIndex(c.words, word);
            if (p->word >= 0 || Keyword(word, c.limits, &p->number)) {
                return 0;
            }
            return Refuse(s, SCPI_DATA_TYPE_ERROR, "a number expected");
        }
        if (isString) {
            return Refuse(s, SCPI_DATA_TYPE_ERROR, "a number expected");
        }
        if (const int code = ScpiParseNumber(text, c.unit, &p->number)) {
            return NumberError(s, code, c.unit);
        }
        return 0;
    case SCPI_PARAM_CHOICE:
        if (!isWord) {
            return Refuse(s, SCPI_DATA_TYPE_ERROR, WordList(c.words));
        }
        p->word = WordIndex(c.words, word);
        return p->word >= 0 ? 0 : Refuse(s, SCPI_ILLEGAL_PARAMETER_VALUE, WordList(c.words));
    case SCPI_PARAM_BOOLEAN:
        if (isWord) {
            const int i = WordIndex(kBooleanWords, word);
            p->number = i;
            return i >= 0 ? 0 : Refuse(s, SCPI_ILLEGAL_PARAMETER_VALUE, WordList(kBooleanChoices));
        }
        if (isString) {
            return Refuse(s, SCPI_DATA_TYPE_ERROR, WordList(kBooleanChoices));
        }
        if (const int code = ScpiParseNumber(text, kCount, &p->number)) {
            return NumberError(s, code, kCount);
        }
        p->number = p->number != 0 ? 1 : 0;
        return 0;
    case SCPI_PARAM_STRING:
        if (!isString || !Unquote(text, &p->text)) {
            return Refuse(s, SCPI_DATA_TYPE_ERROR, "a quoted string");
        }
        return 0;
    case SCPI_PARAM_NONE:
        break;
    }
    return 0;
}

// "<header>? MIN|MAX|DEF" of a numeric row.
int QueryLimit(ScpiSession* s, const ScpiCommand& c, const std::string& text, std::string* reply) {
    int64_t value = 0;
    if (!Keyword(Upper(text), c.limits, &value)) {
        return Refuse(s, SCPI_ILLEGAL_PARAMETER_VALUE, "MIN, MAX or DEF");
    }
    *reply = TextFixed(value, c.unit.decimals);
    return 0;
}

// ---- running commands ------------------------------------------------------------------

// The header of a command's text, up to the first blank.
std::string HeaderOf(const std::string& cmd, size_t* end) {
    size_t split = 0;
    while (split < cmd.size() && !IsBlank(cmd[split])) {
        ++split;
    }
    *end = split;
    return cmd.substr(0, split);
}

bool IsQuery(const std::string& text) {
    size_t end = 0;
    const std::string header = HeaderOf(TextTrim(text), &end);
    return !header.empty() && header.back() == '?';
}

// Runs one command: 0, or the error it queued.
int RunCommand(ScpiSession* s, const ScpiInstrument& inst, const std::string& text,
               std::string* reply) {
    const std::string cmd = TextTrim(text);
    size_t split = 0;
    std::string header = HeaderOf(cmd, &split);
    const std::vector<std::string> params = SplitParams(TextTrim(cmd.substr(split)));
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
            return SCPI_COMMAND_ERROR;
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
        return Refuse(s, SCPI_UNDEFINED_HEADER, "");
    }
    const size_t allowed = query ? (c->limits != nullptr ? 1 : 0) : static_cast<size_t>(c->arity);
    if (params.size() > allowed) {
        return Refuse(s, SCPI_PARAMETER_NOT_ALLOWED, "");
    }
    if (query) {
        if (!params.empty()) {
            return QueryLimit(s, *c, params[0], reply);
        }
        *reply = c->query(s);
        return 0;
    }
    if (params.size() < allowed) {
        return Refuse(s, SCPI_MISSING_PARAMETER, "");
    }
    ScpiParam p{-1, 0, {}};
    if (!params.empty()) {
        if (const int code = ReadParam(s, *c, params[0], &p)) {
            return code;
        }
    }
    return Asking(s, [&] { return c->set(s, p); });
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

// A command error ends the line; any other skips the set commands after it.
bool EndsLine(ScpiSession* s, int code) {
    if (IsCommandError(code)) {
        return true;
    }
    s->skipSets = s->skipSets || code != 0;
    return false;
}

// Runs commands in order until the line ends or one has to wait.
void RunCommands(ScpiSession* s, const ScpiInstrument& inst,
                 const std::vector<std::string>& commands, std::string* out) {
    for (size_t i = 0; i < commands.size(); ++i) {
        if (TextTrim(commands[i]).empty() || (s->skipSets && !IsQuery(commands[i]))) {
            continue;
        }
        std::string reply;
        const int code = RunCommand(s, inst, commands[i], &reply);
        if (s->waiting) {
            s->rest.assign(commands.begin() + static_cast<long>(i) + 1, commands.end());
            return;
        }
        if (!reply.empty()) {
            s->replies.push_back(reply);
        }
        if (EndsLine(s, code)) {
            break;
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
    s->skipSets = false;
    RunCommands(s, inst, commands, out);
}

// Runs every complete line of the input, unless a held command holds them up.
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

// Finishes a held command once what it waits for is done, and runs the rest
// of its line and the lines behind it.
void Resume(ScpiSession* s, const ScpiInstrument& inst, std::string* out) {
    if (!s->waiting || !inst.hooks.done(s->waitMark)) {
        return;
    }
    Settle(s);
    s->waiting = false;
    s->heldOverflow = false;
    if (!s->waitReply.empty()) {
        s->replies.push_back(s->waitReply);
    }
    int (*then)(ScpiSession*) = s->waitThen;
    s->waitReply.clear();
    s->waitThen = nullptr;
    const std::vector<std::string> rest = std::move(s->rest);
    s->rest.clear();
    if (then != nullptr && EndsLine(s, Asking(s, [&] { return then(s); }))) {
        SendReplies(s, out);
    } else if (s->waiting) {
        s->rest = rest;
        return;
    } else {
        RunCommands(s, inst, rest, out);
    }
    Pump(s, inst, out);
}

} // namespace

ScpiInstrument ScpiInstrumentMake(const ScpiCommand* commands, size_t count,
                                  const ScpiHooks& hooks) {
    ScpiInstrument inst{commands, count, hooks, {}};
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
    s->esr |= ErrorEvent(code);
    if (s->errors.size() < static_cast<size_t>(SCPI_ERROR_QUEUE)) {
        s->errors.push_back(e);
    } else {
        // The oldest errors stay; the newest place says some were lost.
        s->errors.back() = "-350,\"Queue overflow\"";
    }
}

int ScpiHold(ScpiSession* s, const char* reply, int (*then)(ScpiSession*)) {
    const uint64_t mark = Hooks(s).mark();
    if (!Hooks(s).done(mark)) {
        s->waiting = true;
        s->waitMark = mark;
        s->waitReply = reply;
        s->waitThen = then;
        return 0;
    }
    Settle(s);
    if (*reply) {
        s->replies.push_back(reply);
    }
    return then != nullptr ? Asking(s, [&] { return then(s); }) : 0;
}

int ScpiParseNumber(const std::string& text, const ScpiUnit& unit, int64_t* value) {
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        ++i;
    }
    std::string digits;
    int64_t shift = 0; // value = digits * 10^shift
    while (i < text.size() && IsDigit(text[i])) {
        digits += text[i++];
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) {
            digits += text[i++];
            --shift;
        }
    }
    if (digits.empty()) {
        return SCPI_DATA_TYPE_ERROR;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t k = i + 1;
        const bool down = k < text.size() && text[k] == '-';
        if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
            ++k;
        }
        int64_t exponent = 0;
        const size_t first = k;
        while (k < text.size() && IsDigit(text[k])) {
            exponent = std::min<int64_t>(exponent * 10 + (text[k++] - '0'), 100000);
        }
        if (k == first) {
            return SCPI_DATA_TYPE_ERROR;
        }
        shift += down ? -exponent : exponent;
        i = k;
    }
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    const std::string suffix = Upper(text.substr(i));
    if (!std::all_of(suffix.begin(), suffix.end(), IsAlpha)) {
        return SCPI_DATA_TYPE_ERROR;
    }
    // IEEE 488.2's multipliers; "M" alone is milli, "MA" mega, and MHZ megahertz.
    static const struct {
        const char* prefix;
        int exponent;
    } kMultipliers[] = {{"", 0},    {"EX", 18}, {"PE", 15}, {"T", 12}, {"G", 9},
                        {"MA", 6},  {"K", 3},   {"M", -3},  {"U", -6}, {"N", -9},
                        {"P", -12}, {"F", -15}, {"A", -18}};
    const std::string u = Upper(unit.unit);
    bool known = suffix.empty();
    if (!known && !u.empty()) {
        for (const auto& m : kMultipliers) {
            if (suffix == std::string(m.prefix) + u) {
                shift += u == "HZ" && suffix == "MHZ" ? 6 : m.exponent;
                known = true;
                break;
            }
        }
    }
    if (!known) {
        return SCPI_INVALID_SUFFIX;
    }
    shift += unit.decimals;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    // Resolutions are coarse and limits small: ten digits are more than any setting.
    constexpr int64_t kMaxDigits = 10;
    constexpr int64_t kLargest = 1000000000;
    if (static_cast<int64_t>(digits.size()) + shift > kMaxDigits) {
        return SCPI_DATA_OUT_OF_RANGE;
    }
    int64_t v = 0;
    const int64_t kept = static_cast<int64_t>(digits.size()) + std::min<int64_t>(shift, 0);
    for (int64_t k = 0; k < kept; ++k) {
        v = v * 10 + (digits[static_cast<size_t>(k)] - '0');
    }
    for (int64_t k = 0; k < shift; ++k) {
        v *= 10;
    }
    // Half away from zero on the first digit dropped, as the panel's entry rounds.
    if (kept >= 0 && kept < static_cast<int64_t>(digits.size()) &&
        digits[static_cast<size_t>(kept)] >= '5') {
        ++v;
    }
    if (v > kLargest) {
        return SCPI_DATA_OUT_OF_RANGE;
    }
    *value = negative ? -v : v;
    return 0;
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
    Settle(s);
    LookAtConditions(s);
    if (s->opcArmed && inst.hooks.done(s->opcMark)) {
        s->esr |= SCPI_ESR_OPC;
        s->opcArmed = false;
    }
    Resume(s, inst, out);
}
