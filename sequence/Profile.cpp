// The file is read strictly: a value finer than the source's resolution, a
// row with a field too many or too few, or a column nobody knows is an error
// rather than a guess, because a test record must say exactly what was run.
#include "sequence/Profile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "power/SourceLimits.h"
#include "util/Text.h"

namespace {

// The file's column names.
const char* const kSeqColumns[] = {"voltage_v", "frequency_hz", "dwell_s", "ramp_s",
                                   "settle_s",  "v_min",        "v_max",   "i_max_a",
                                   "p_max_w",   "f_tol_hz",     "note"};

enum Column {
    COL_VOLTAGE,
    COL_FREQUENCY,
    COL_DWELL,
    COL_RAMP,
    COL_SETTLE,
    COL_VMIN,
    COL_VMAX,
    COL_IMAX,
    COL_PMAX,
    COL_FTOL,
    COL_NOTE,
    COL_COUNT
};

// Times in the file are counted in tenths of a second.
constexpr int kTimeDecimals = 1;
constexpr int64_t kTenthsPerSecond = 10;
constexpr int64_t kDwellMin = 10;        // 1.0 s
constexpr int64_t kDwellMax = 6048000;   // a week
constexpr int64_t kSettleDefault = 20;   // 2.0 s
constexpr int64_t kLimitMax = 999999999; // any limit the records can hold
constexpr const char* kWholeLine = "-";

using Values = std::vector<std::pair<std::string, std::string>>;

void Add(std::vector<SeqError>* errors, int line, const std::string& column, SeqReason reason,
         Values values = {}) {
    errors->push_back(SeqError{line, column, reason, std::move(values)});
}

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// Length of the UTF-8 sequence at text[at], or 0 when it is not one.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b = byte(at);
    size_t n = 0;
    unsigned min = 0;
    if (b < 0x80) {
        return b == 0 ? 0 : 1;
    } else if ((b & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (at + n > text.size()) {
        return 0;
    }
    unsigned code = b & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < min || code > 0x10FFFF || surrogate ? 0 : n;
}

bool IsText(const std::string& line) {
    for (size_t i = 0; i < line.size();) {
        const size_t n = Utf8Length(line, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

// Splits one line into fields; false when a quote is left open or followed by
// anything but the next comma. Unquoted fields are trimmed.
bool SplitFields(const std::string& line, std::vector<std::string>* fields) {
    fields->clear();
    size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        std::string field;
        if (i < line.size() && line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                field += line[i++];
            }
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
                ++i;
            }
            if (!closed || (i < line.size() && line[i] != ',')) {
                return false;
            }
        } else {
            const size_t comma = line.find(',', i);
            field = TextTrim(
                line.substr(i, comma == std::string::npos ? std::string::npos : comma - i));
            i = comma == std::string::npos ? line.size() : comma;
        }
        fields->push_back(field);
        if (i >= line.size()) {
            return true;
        }
        ++i; // the comma
    }
}

enum class Num { Ok, Empty, NotNumber, TooFine, TooLarge };

// A decimal number written plainly ("230", "230.0", "-5", ".5"), as the
// integer count of 10^-decimals; no exponent, no thousands separator, the
// same in every locale.
Num ParseFixed(const std::string& text, int decimals, int64_t* out) {
    if (text.empty()) {
        return Num::Empty;
    }
    size_t i = 0;
    const bool negative = text[0] == '-';
    if (text[0] == '+' || text[0] == '-') {
        ++i;
    }
    int64_t whole = 0;
    int wholeDigits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (++wholeDigits > 12) {
            return Num::TooLarge;
        }
        whole = whole * 10 + (text[i++] - '0');
    }
    int64_t fraction = 0;
    int fractionDigits = 0;
    bool finer = false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            const int digit = text[i++] - '0';
            if (fractionDigits < decimals) {
                fraction = fraction * 10 + digit;
            } else if (digit != 0) {
                finer = true;
            }
            ++fractionDigits;
        }
    }
    if (i != text.size() || wholeDigits + fractionDigits == 0) {
        return Num::NotNumber;
    }
    if (finer) {
        return Num::TooFine;
    }
    for (int d = std::min(fractionDigits, decimals); d < decimals; ++d) {
        fraction *= 10;
    }
    int64_t scale = 1;
    for (int d = 0; d < decimals; ++d) {
        scale *= 10;
    }
    const int64_t value = whole * scale + fraction;
    *out = negative ? -value : value;
    return Num::Ok;
}

std::string WithUnit(int64_t value, int decimals, const char* unit) {
    return TextFixed(value, decimals) + " " + unit;
}

std::string BandText() {
    return SourceText(SOURCE_Q_SET_FREQUENCY, SOURCE_FREQ_BAND_MIN) + "-" +
           WithUnit(SOURCE_FREQ_BAND_MAX, SourceQuantityOf(SOURCE_Q_SET_FREQUENCY).decimals, "Hz");
}

std::string PresetsText() {
    std::string text;
    for (int32_t preset : SOURCE_PRESET_FREQS) {
        // Whole hertz, as the buttons name them.
        text += (text.empty() ? "" : ", ") +
                std::to_string(preset / SourceQuantityOf(SOURCE_Q_SET_FREQUENCY).scale);
    }
    return text + " Hz";
}

// One row being read: its fields by column, and where errors go.
class Row {
  public:
    Row(int line, const std::vector<std::string>& fields, const int* fieldOf,
        std::vector<SeqError>* errors)
        : line_(line), fields_(fields), fieldOf_(fieldOf), errors_(errors) {}

    const std::string& Text(Column c) const {
        static const std::string kEmpty;
        return fieldOf_[c] >= 0 ? fields_[static_cast<size_t>(fieldOf_[c])] : kEmpty;
    }
    bool Empty(Column c) const { return Text(c).empty(); }
    void Error(Column c, SeqReason reason, Values values = {}) {
        Add(errors_, line_, kSeqColumns[c], reason, std::move(values));
        ok_ = false;
    }
    bool Ok() const { return ok_; }
    // Wrong for a reason already said on another line.
    void Unusable() { ok_ = false; }

    // The column's number: empty gives fallback, or an error when there is
    // none (fallback < 0 and required). Values below min are negative when
    // min is 0, else outside; so are values above max.
    bool Number(Column c, int decimals, const char* unit, int64_t min, int64_t max,
                int64_t fallback, bool required, int32_t* out) {
        int64_t v = 0;
        switch (ParseFixed(Text(c), decimals, &v)) {
        case Num::Empty:
            if (required) {
                Error(c, SEQ_ERR_REQUIRED);
                return false;
            }
            *out = static_cast<int32_t>(fallback);
            return true;
        case Num::NotNumber:
            Error(c, SEQ_ERR_NOT_NUMBER);
            return false;
        case Num::TooFine:
            Error(c, SEQ_ERR_RESOLUTION, {{"resolution", WithUnit(1, decimals, unit)}});
            return false;
        case Num::TooLarge:
            v = max + 1;
            break;
        case Num::Ok:
            break;
        }
        if (v < 0 && min == 0) {
            Error(c, SEQ_ERR_NEGATIVE);
            return false;
        }
        if (v < min || v > max) {
            Error(c, SEQ_ERR_OUTSIDE,
                  {{"min", WithUnit(min, decimals, unit)}, {"max", WithUnit(max, decimals, unit)}});
            return false;
        }
        *out = static_cast<int32_t>(v);
        return true;
    }

    bool Limit(Column c, SourceQuantity q, int32_t* out) {
        const SourceQuantityInfo& info = SourceQuantityOf(q);
        return Number(c, info.decimals, info.unit, 0, kLimitMax, SEQ_NO_LIMIT, false, out);
    }

  private:
    int line_;
    const std::vector<std::string>& fields_;
    const int* fieldOf_;
    std::vector<SeqError>* errors_;
    bool ok_ = true;
};

// Reads one step; false when any of its fields is wrong (each one said).
// The frequency an empty field carries over from the rows before: none before
// the first frequency given, and unknown after one that was wrong.
struct Carried {
    bool given = false;
    bool valid = false;
    int32_t freq = 0;
};

bool ReadStep(Row& row, int line, Carried* carried, SeqStep* step) {
    step->line = line;
    const SourceQuantityInfo& v = SourceQuantityOf(SOURCE_Q_SET_VOLTAGE);
    const SourceQuantityInfo& f = SourceQuantityOf(SOURCE_Q_SET_FREQUENCY);

    row.Number(COL_VOLTAGE, v.decimals, v.unit, SOURCE_VOL_MIN, SOURCE_VOL_MAX, 0, true,
               &step->vol);

    if (row.Empty(COL_FREQUENCY) && carried->given) {
        step->freq = carried->freq;
        if (!carried->valid) {
            row.Unusable();
        }
    } else {
        bool valid =
            row.Number(COL_FREQUENCY, f.decimals, f.unit, 0, kLimitMax, 0, true, &step->freq);
        if (valid && !SourceFrequencyValid(step->freq)) {
            row.Error(COL_FREQUENCY, SEQ_ERR_FREQUENCY,
                      {{"band", BandText()}, {"presets", PresetsText()}});
            valid = false;
        }
        if (!row.Empty(COL_FREQUENCY)) {
            *carried = Carried{true, valid, step->freq};
        }
    }

    // A ramp is made of one-second steps: tenths are refused.
    const bool dwellOk =
        row.Number(COL_DWELL, kTimeDecimals, "s", kDwellMin, kDwellMax, 0, true, &step->dwell);
    if (row.Number(COL_RAMP, 0, "s", 0, kDwellMax, 0, false, &step->ramp) && dwellOk &&
        step->ramp != 0 && step->ramp * kTenthsPerSecond >= step->dwell) {
        row.Error(COL_RAMP, SEQ_ERR_LESS_THAN, {{"column", kSeqColumns[COL_DWELL]}});
    }
    const bool settleOk = row.Number(COL_SETTLE, kTimeDecimals, "s", 0, kDwellMax, kSettleDefault,
                                     false, &step->settle);

    const bool vMinOk = row.Limit(COL_VMIN, SOURCE_Q_MEASURED_VOLTAGE, &step->vMin);
    const bool vMaxOk = row.Limit(COL_VMAX, SOURCE_Q_MEASURED_VOLTAGE, &step->vMax);
    if (vMinOk && vMaxOk && step->vMin != SEQ_NO_LIMIT && step->vMax != SEQ_NO_LIMIT &&
        step->vMin >= step->vMax) {
        row.Error(COL_VMIN, SEQ_ERR_LESS_THAN, {{"column", kSeqColumns[COL_VMAX]}});
    }
    row.Limit(COL_IMAX, SOURCE_Q_MEASURED_CURRENT, &step->iMax);
    row.Limit(COL_PMAX, SOURCE_Q_MEASURED_POWER, &step->pMax);
    row.Limit(COL_FTOL, SOURCE_Q_MEASURED_FREQUENCY, &step->fTol);
    step->note = row.Text(COL_NOTE);

    // Limits never checked would let a step pass untested.
    if (dwellOk && settleOk && SeqStepHasLimits(*step) && step->settle >= step->dwell) {
        row.Error(COL_SETTLE, SEQ_ERR_LESS_THAN, {{"column", kSeqColumns[COL_DWELL]}});
    }
    return row.Ok();
}

// Reads the header; false when the rows cannot be read by it (a required
// column is missing). A column unknown or named twice is said once and its
// fields are passed over, so the rows' own errors are listed too.
bool ReadHeader(const std::vector<std::string>& names, int line, int* fieldOf,
                std::vector<SeqError>* errors) {
    std::fill(fieldOf, fieldOf + COL_COUNT, -1);
    bool ok = true;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string name = Lower(names[i]);
        const auto* found = std::find_if(kSeqColumns, kSeqColumns + COL_COUNT,
                                         [&](const char* c) { return name == c; });
        if (found == kSeqColumns + COL_COUNT) {
            Add(errors, line, names[i].empty() ? kWholeLine : names[i], SEQ_ERR_UNKNOWN_COLUMN);
            continue;
        }
        const int c = static_cast<int>(found - kSeqColumns);
        if (fieldOf[c] >= 0) {
            Add(errors, line, names[i], SEQ_ERR_TWICE);
            continue;
        }
        fieldOf[c] = static_cast<int>(i);
    }
    // The first step must give a frequency, so its column must be there.
    for (Column required : {COL_VOLTAGE, COL_FREQUENCY, COL_DWELL}) {
        if (fieldOf[required] < 0) {
            Add(errors, line, kSeqColumns[required], SEQ_ERR_MISSING);
            ok = false;
        }
    }
    return ok;
}

bool AllEmpty(const std::vector<std::string>& fields) {
    return std::all_of(fields.begin(), fields.end(),
                       [](const std::string& f) { return f.empty(); });
}

bool SideOfBoundary(int32_t vol) {
    return vol >= SOURCE_AUTO_HIGH_SIDE_BOTTOM;
}

} // namespace

bool SeqStepHasLimits(const SeqStep& s) {
    return s.vMin != SEQ_NO_LIMIT || s.vMax != SEQ_NO_LIMIT || s.iMax != SEQ_NO_LIMIT ||
           s.pMax != SEQ_NO_LIMIT || s.fTol != SEQ_NO_LIMIT;
}

int64_t SeqProfileMs(const std::vector<SeqStep>& steps) {
    int64_t ms = 0;
    for (const SeqStep& s : steps) {
        ms += int64_t{s.dwell} * (1000 / kTenthsPerSecond);
    }
    return ms;
}

void SeqParseProfile(const std::string& bytes, SeqProfile* profile, std::vector<SeqError>* errors) {
    profile->steps.clear();
    if (bytes.size() > SEQ_MAX_FILE_BYTES) {
        Add(errors, 1, kWholeLine, SEQ_ERR_FILE_SIZE, {{"limit", "1 MB"}});
        return;
    }
    const size_t bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int fieldOf[COL_COUNT];
    bool haveHeader = false;
    bool headerOk = false;
    size_t columns = 0;
    int headerLine = 1;
    int line = 0;
    int stepRows = 0;
    Carried carried;
    std::vector<std::string> fields;
    for (size_t at = bom; at < bytes.size();) {
        ++line;
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::string text = bytes.substr(at, end - at);
        at = end + 1;
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        // Past a byte that is not text nothing can be trusted: one error only.
        if (!IsText(text)) {
            Add(errors, line, kWholeLine, SEQ_ERR_NOT_TEXT);
            profile->steps.clear();
            return;
        }
        const std::string trimmed = TextTrim(text);
        if (trimmed.empty() || trimmed[0] == '#') {
            continue;
        }
        const bool split = SplitFields(text, &fields);
        if (!split) {
            Add(errors, line, kWholeLine, SEQ_ERR_QUOTE);
        }
        if (!haveHeader) {
            haveHeader = true;
            headerLine = line;
            headerOk = split && ReadHeader(fields, line, fieldOf, errors);
            columns = fields.size();
            continue;
        }
        // Spreadsheets write a blank row as commas alone.
        if (split && AllEmpty(fields)) {
            continue;
        }
        if (++stepRows > SEQ_MAX_STEPS) {
            Add(errors, line, kWholeLine, SEQ_ERR_STEP_COUNT,
                {{"limit", std::to_string(SEQ_MAX_STEPS)}});
            profile->steps.clear();
            return;
        }
        if (!headerOk || !split) {
            continue;
        }
        if (fields.size() != columns) {
            Add(errors, line, kWholeLine, SEQ_ERR_FIELD_COUNT,
                {{"count", std::to_string(fields.size())}, {"columns", std::to_string(columns)}});
            continue;
        }
        Row row(line, fields, fieldOf, errors);
        SeqStep step;
        if (ReadStep(row, line, &carried, &step)) {
            profile->steps.push_back(step);
        }
    }
    if (stepRows == 0) {
        Add(errors, haveHeader ? headerLine : 1, kWholeLine, SEQ_ERR_NO_STEPS);
    }
}

void SeqCheckProfile(const SeqProfile& profile, int32_t volLevel, std::vector<SeqError>* errors) {
    if (profile.steps.empty()) {
        return;
    }
    const SeqStep& first = profile.steps.front();
    const bool fixed = SourceFrequencyIsPreset(first.freq);
    const bool highSide = SideOfBoundary(first.vol);
    std::vector<SeqError> found;
    for (const SeqStep& s : profile.steps) {
        if (SourceFrequencyIsPreset(s.freq) != fixed || (fixed && s.freq != first.freq)) {
            Add(&found, s.line, kSeqColumns[COL_FREQUENCY], SEQ_ERR_PRESET_MIXED);
        }
        // The panel dims the voltage while the output runs at a fixed frequency.
        if (fixed && s.vol != first.vol) {
            Add(&found, s.line, kSeqColumns[COL_VOLTAGE], SEQ_ERR_FIXED_VOLTAGE);
        } else if (volLevel == SOURCE_RANGE_AUTO && SideOfBoundary(s.vol) != highSide) {
            Add(&found, s.line, kSeqColumns[COL_VOLTAGE], SEQ_ERR_AUTO_SIDE,
                {{"boundary", SourceText(SOURCE_Q_SET_VOLTAGE, SOURCE_AUTO_LOW_SIDE_TOP) + " V"}});
        }
    }
    errors->insert(errors->end(), found.begin(), found.end());
    std::stable_sort(errors->begin(), errors->end(),
                     [](const SeqError& a, const SeqError& b) { return a.line < b.line; });
}

int SeqReadProfile(const char* path, SeqProfile* profile, std::vector<SeqError>* errors) {
    profile->steps.clear();
    errors->clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return errno != 0 ? errno : ENOENT;
    }
    // One byte beyond the limit is enough to refuse the file.
    std::string bytes(SEQ_MAX_FILE_BYTES + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) {
        return errno != 0 ? errno : EIO;
    }
    bytes.resize(static_cast<size_t>(in.gcount()));
    SeqParseProfile(bytes, profile, errors);
    return 0;
}

std::string SeqErrorText(const SeqError& e, const SeqErrorTexts& texts) {
    std::string reason = texts.reasons[e.reason];
    for (const auto& [name, value] : e.values) {
        reason = TextFillIn(reason, {{name.c_str(), value}});
    }
    return TextFillIn(texts.line,
                      {{"line", std::to_string(e.line)}, {"column", e.column}, {"reason", reason}});
}
