// Numbers are written by the program's own fixed-decimal formatter, never by
// the C library, whose decimal point follows the locale the toolkit sets.
#include "sequence/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/FileReplace.h"
#include "power/SourceLimits.h"
#include "util/Text.h"

#ifndef VX52_VERSION
#error "VX52_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace {

std::string Q(SourceQuantity q, int64_t value) {
    return SourceText(q, value);
}

// A limit as the profile gives it, or empty.
std::string Limit(SourceQuantity q, int32_t value) {
    return value == SEQ_NO_LIMIT ? std::string() : Q(q, value);
}

int32_t Mean(const SeqStepResult& s) {
    const int64_t m = (2 * (s.vSum < 0 ? -s.vSum : s.vSum) + s.count) / (2 * s.count);
    return static_cast<int32_t>(s.vSum < 0 ? -m : m);
}

std::vector<std::string> CsvFields(const SeqStepResult& s) {
    std::vector<std::string> f = {std::to_string(s.repeat),
                                  std::to_string(s.step),
                                  TextTimeStamp(s.start),
                                  TextTimeStamp(s.end),
                                  Q(SOURCE_Q_SET_VOLTAGE, s.setVol),
                                  Q(SOURCE_Q_SET_FREQUENCY, s.setFreq)};
    if (s.count > 0) {
        f.insert(f.end(),
                 {Q(SOURCE_Q_MEASURED_VOLTAGE, s.vMin), Q(SOURCE_Q_MEASURED_VOLTAGE, Mean(s)),
                  Q(SOURCE_Q_MEASURED_VOLTAGE, s.vMax), Q(SOURCE_Q_MEASURED_CURRENT, s.iMax),
                  Q(SOURCE_Q_MEASURED_POWER, s.pMax), Q(SOURCE_Q_MEASURED_FREQUENCY, s.fMin),
                  Q(SOURCE_Q_MEASURED_FREQUENCY, s.fMax)});
    } else {
        f.insert(f.end(), 7, std::string());
    }
    f.push_back(s.failed ? "FAIL" : "PASS");
    f.push_back(s.reason);
    return f;
}

std::string Html(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// One decimal, for coordinates.
std::string N(double v) {
    return TextFixed(std::llround(v * 10.0), 1);
}

std::string Clock(double ms) {
    const int64_t s = std::llround(ms / 1000.0);
    const std::string mm = TextFixed(100 + (s / 60) % 60, 0).substr(1);
    const std::string ss = TextFixed(100 + s % 60, 0).substr(1);
    return s >= 3600 ? std::to_string(s / 3600) + ":" + mm + ":" + ss
                     : std::to_string(s / 60) + ":" + ss;
}

const char* RangeWord(int32_t range) {
    return range == SOURCE_RANGE_AUTO ? "AUTO" : "HIGH";
}

// A round step of the axis for a span, from 1, 2, 5 times a power of ten.
double NiceStep(double span, int ticks) {
    const double raw = span / ticks;
    double p = 1;
    while (p * 10 <= raw) {
        p *= 10;
    }
    while (p > raw && p > 1e-6) {
        p /= 10;
    }
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (p * m >= raw) {
            return p * m;
        }
    }
    return p * 10;
}

double NiceTimeStep(double seconds) {
    for (double s : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0, 900.0, 1800.0,
                     3600.0, 7200.0, 14400.0, 21600.0, 43200.0, 86400.0}) {
        if (seconds / s <= 10) {
            return s;
        }
    }
    return 86400.0 * std::ceil(seconds / 86400.0 / 10);
}

// The chart: voltage and current over the run, steps as bands, failed steps
// marked. Samples are reduced to the lowest and highest value of each pixel
// column, so a run of days draws as fast as one of minutes.
std::string Chart(const SeqRun& run) {
    constexpr double W = 960, H = 380, L = 64, R = 64, T = 24, B = 44;
    const double pw = W - L - R;
    const double ph = H - T - B;
    double spanMs = std::max(run.endMs, 1000.0);
    for (const SeqSample& s : run.samples) {
        spanMs = std::max(spanMs, s.ms);
    }
    int32_t vTop = 1;
    int32_t iTop = 1;
    for (const SeqSample& s : run.samples) {
        vTop = std::max(vTop, s.vol);
        iTop = std::max(iTop, s.curr);
    }
    const double vStep = NiceStep(SourceToUnit(SOURCE_Q_MEASURED_VOLTAGE, vTop) * 1.1, 5);
    const double vMax =
        vStep * std::ceil(SourceToUnit(SOURCE_Q_MEASURED_VOLTAGE, vTop) * 1.1 / vStep);
    const double iStep = NiceStep(SourceToUnit(SOURCE_Q_MEASURED_CURRENT, iTop) * 1.1, 5);
    const double iMax =
        iStep * std::ceil(SourceToUnit(SOURCE_Q_MEASURED_CURRENT, iTop) * 1.1 / iStep);
    const auto x = [&](double ms) { return L + pw * ms / spanMs; };
    const auto yv = [&](double v) { return T + ph * (1 - v / vMax); };
    const auto yi = [&](double a) { return T + ph * (1 - a / iMax); };

    std::string svg = "<svg id=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + N(W) +
                      "\" height=\"" + N(H) + "\" viewBox=\"0 0 " + N(W) + " " + N(H) +
                      "\" role=\"img\" aria-label=\"Measured voltage and current over the run\">\n";
    // Bands: every step while they can be told apart, else the failed ones.
    const bool all = run.steps.size() <= 2000;
    for (size_t k = 0; k < run.steps.size(); ++k) {
        const SeqStepResult& s = run.steps[k];
        if (!all && !s.failed) {
            continue;
        }
        const double x0 = x(s.startMs);
        const double w = std::max(x(s.endMs) - x0, 0.5);
        const char* cls = s.failed ? "band fail" : (k % 2 == 0 ? "band even" : "band odd");
        svg += "<rect class=\"" + std::string(cls) + "\" x=\"" + N(x0) + "\" y=\"" + N(T) +
               "\" width=\"" + N(w) + "\" height=\"" + N(ph) + "\"><title>repeat " +
               std::to_string(s.repeat) + ", step " + std::to_string(s.step) +
               (s.failed ? ": FAIL, " + Html(s.reason) : std::string(": PASS")) +
               "</title></rect>\n";
        if (s.failed) {
            svg += "<path class=\"failmark\" d=\"M" + N(x0 + w / 2 - 6) + " " + N(T - 14) +
                   "h12l-6 10z\"/>\n";
        }
        if (all && w >= 16) {
            svg += "<text class=\"steplabel\" x=\"" + N(x0 + w / 2) + "\" y=\"" + N(T + 12) +
                   "\">" + std::to_string(s.step) + "</text>\n";
        }
    }
    // Grid and axes.
    for (double v = 0; v <= vMax + vStep / 2; v += vStep) {
        svg += "<line class=\"grid\" x1=\"" + N(L) + "\" x2=\"" + N(L + pw) + "\" y1=\"" +
               N(yv(v)) + "\" y2=\"" + N(yv(v)) + "\"/><text class=\"axis v\" x=\"" + N(L - 6) +
               "\" y=\"" + N(yv(v) + 4) + "\">" + N(v) + "</text>\n";
    }
    for (double a = 0; a <= iMax + iStep / 2; a += iStep) {
        svg += "<text class=\"axis i\" x=\"" + N(L + pw + 6) + "\" y=\"" + N(yi(a) + 4) + "\">" +
               TextFixed(std::llround(a * 1000), 3) + "</text>\n";
    }
    const double tStep = NiceTimeStep(spanMs / 1000.0);
    for (double s = 0; s * 1000 <= spanMs + 1; s += tStep) {
        svg += "<line class=\"tick\" x1=\"" + N(x(s * 1000)) + "\" x2=\"" + N(x(s * 1000)) +
               "\" y1=\"" + N(T + ph) + "\" y2=\"" + N(T + ph + 5) +
               "\"/><text class=\"axis t\" x=\"" + N(x(s * 1000)) + "\" y=\"" + N(T + ph + 18) +
               "\">" + Clock(s * 1000) + "</text>\n";
    }
    svg += "<rect class=\"frame\" x=\"" + N(L) + "\" y=\"" + N(T) + "\" width=\"" + N(pw) +
           "\" height=\"" + N(ph) + "\"/>\n";
    svg += "<text class=\"unit v\" x=\"" + N(L - 6) + "\" y=\"" + N(T - 8) + "\">V</text>";
    svg += "<text class=\"unit i\" x=\"" + N(L + pw + 6) + "\" y=\"" + N(T - 8) + "\">A</text>";
    svg += "<text class=\"unit t\" x=\"" + N(L + pw / 2) + "\" y=\"" + N(H - 6) +
           "\">time since the start (h:mm:ss)</text>\n";

    // Traces, reduced per pixel column.
    const int columns = static_cast<int>(pw);
    std::string vPath;
    std::string iPath;
    size_t k = 0;
    for (int c = 0; c <= columns && k < run.samples.size(); ++c) {
        const double endMs = spanMs * (c + 1) / columns;
        int32_t vLo = INT32_MAX, vHi = INT32_MIN, iLo = INT32_MAX, iHi = INT32_MIN;
        double first = -1;
        while (k < run.samples.size() && (run.samples[k].ms < endMs || c == columns)) {
            const SeqSample& s = run.samples[k++];
            first = first < 0 ? s.ms : first;
            vLo = std::min(vLo, s.vol);
            vHi = std::max(vHi, s.vol);
            iLo = std::min(iLo, s.curr);
            iHi = std::max(iHi, s.curr);
        }
        if (first < 0) {
            continue;
        }
        const std::string px = N(x(first));
        const auto point = [&](std::string* path, double y) {
            *path += (path->empty() ? "M" : " L") + px + " " + N(y);
        };
        point(&vPath, yv(SourceToUnit(SOURCE_Q_MEASURED_VOLTAGE, vLo)));
        if (vHi != vLo) {
            point(&vPath, yv(SourceToUnit(SOURCE_Q_MEASURED_VOLTAGE, vHi)));
        }
        point(&iPath, yi(SourceToUnit(SOURCE_Q_MEASURED_CURRENT, iLo)));
        if (iHi != iLo) {
            point(&iPath, yi(SourceToUnit(SOURCE_Q_MEASURED_CURRENT, iHi)));
        }
    }
    if (!vPath.empty()) {
        svg += "<path class=\"trace v\" d=\"" + vPath + "\"/>\n";
        svg += "<path class=\"trace i\" d=\"" + iPath + "\"/>\n";
    }
    svg += "</svg>\n";
    return svg;
}

// Cells from textFrom on are text, aligned to the left in a table of numbers.
std::string Row(std::initializer_list<std::string> cells, const char* tag = "td",
                size_t textFrom = SIZE_MAX) {
    std::string r = "<tr>";
    size_t i = 0;
    for (const std::string& c : cells) {
        r += std::string("<") + tag + (i++ >= textFrom ? " class=\"text\">" : ">") + c + "</" +
             tag + ">";
    }
    return r + "</tr>\n";
}

std::string InfoRow(const char* label, const std::string& value) {
    return std::string("<tr><th>") + label + "</th><td>" + value + "</td></tr>\n";
}

// The time of day alone on the run's first day; the whole stamp after it.
std::string TimeOfDay(const SysLocalTime& t, const SysLocalTime& day) {
    const std::string stamp = TextTimeStamp(t);
    const bool same = t.year == day.year && t.month == day.month && t.day == day.day;
    return same ? stamp.substr(11, 12) : stamp;
}

std::string Duration(double ms) {
    return Clock(ms);
}

const char* kStyle =
    R"(body{font-family:"DejaVu Sans",Arial,sans-serif;margin:24px;color:#1d1d1d;max-width:1100px}
h1{font-size:22px;margin:0 0 4px}h2{font-size:17px;margin:28px 0 8px;border-bottom:1px solid #bbb;padding-bottom:3px}
.outcome{font-size:56px;font-weight:bold;letter-spacing:2px;margin:8px 0 4px;padding:6px 18px;display:inline-block;border-radius:6px;color:#fff}
.outcome.pass{background:#1e7b34}.outcome.fail{background:#b3261e}.outcome.aborted{background:#8a5a00}.outcome.interrupted{background:#5b3f8c}
.cause{font-size:15px;margin:0 0 12px}
table{border-collapse:collapse;font-size:13px}td,th{border:1px solid #c8c8c8;padding:3px 7px;text-align:left;vertical-align:top}
th{background:#eef0f3}table.num td{text-align:right}table.num td.text{text-align:left}
td.time{white-space:nowrap;text-align:left}
tr.fail td{background:#fde4e1}td.verdict.pass{color:#1e7b34;font-weight:bold}td.verdict.fail{color:#b3261e;font-weight:bold}
#info th{width:170px}
svg{font-size:11px;border:1px solid #ddd;background:#fff}
.band.even{fill:#f1f3f6}.band.odd{fill:#e3e7ec}.band.fail{fill:#f7c6c0}.failmark{fill:#b3261e}
.steplabel{fill:#777;text-anchor:middle}.grid{stroke:#d0d0d0;stroke-width:0.5}.tick{stroke:#555}
.frame{fill:none;stroke:#555}.axis.v{text-anchor:end;fill:#1f4e9c}.axis.i{fill:#c25e00}.axis.t{text-anchor:middle;fill:#333}
.unit{font-weight:bold}.unit.v{text-anchor:end;fill:#1f4e9c}.unit.i{fill:#c25e00}.unit.t{text-anchor:middle;fill:#333}
.trace{fill:none;stroke-width:1.5;stroke-linejoin:round}.trace.v{stroke:#1f4e9c}.trace.i{stroke:#c25e00}
.legend span{display:inline-block;margin-right:18px}.key{display:inline-block;width:22px;height:4px;vertical-align:middle;margin-right:5px}
footer{margin-top:28px;font-size:11px;color:#666}
@media print{body{margin:0}.outcome{-webkit-print-color-adjust:exact;print-color-adjust:exact}}
)";

} // namespace

const char* SeqCauseText(SeqCause c) {
    switch (c) {
    case SEQ_CAUSE_COMPLETED:
        return "every repeat ran";
    case SEQ_CAUSE_LIMIT:
        return "a failed limit stopped the run";
    case SEQ_CAUSE_STOP:
        return "stopped in the sequence window";
    case SEQ_CAUSE_INDICATOR:
        return "stopped by the OUTPUT indicator";
    case SEQ_CAUSE_REMOTE:
        return "aborted by a remote client";
    case SEQ_CAUSE_CLOSE:
        return "the program was closed";
    case SEQ_CAUSE_ALARM:
        return "the source went into its alarm state";
    case SEQ_CAUSE_SOURCE_STOPPED:
        return "the source stopped its output";
    case SEQ_CAUSE_REFUSED:
        return "the source or the program refused a step";
    case SEQ_CAUSE_LINK_LOST:
        return "the link to the source was lost; the source may still be running";
    default:
        return "";
    }
}

std::string SeqDurationText(double ms) {
    return Clock(ms);
}

std::string SeqReportCsv(const SeqRun& run) {
    std::string csv = std::string(kSeqReportHeader) + "\n";
    csv.reserve(run.steps.size() * 160 + 64);
    for (const SeqStepResult& s : run.steps) {
        csv += TextCsvRow(CsvFields(s));
    }
    csv += TextCsvRow({"outcome", SeqOutcomeWord(run.outcome)});
    return csv;
}

std::string SeqReportHtml(const SeqRun& run, const SeqReportInfo& info) {
    const std::string outcome = SeqOutcomeWord(run.outcome);
    std::string lower = outcome;
    for (char& c : lower) {
        c = static_cast<char>(c - 'A' + 'a');
    }
    const std::string name = info.profilePath.substr(info.profilePath.find_last_of('/') + 1);
    std::string h;
    h.reserve(64 * 1024 + run.steps.size() * 400);
    h += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Test "
         "report: " +
         Html(name) + " " + TextTimeStamp(run.start) + "</title>\n<style>\n" + kStyle +
         "</style>\n</head>\n<body>\n";
    h += "<header>\n<h1>Test report: " + Html(name) + "</h1>\n<p id=\"outcome\" class=\"outcome " +
         lower + "\">" + outcome + "</p>\n<p class=\"cause\">" + Html(SeqCauseText(run.cause));
    if (run.failRepeat != 0) {
        h += "; first failed step: repeat " + std::to_string(run.failRepeat) + ", step " +
             std::to_string(run.failStep);
    }
    h += "</p>\n</header>\n";

    const SeqSettings& set = run.settings;
    h += "<section>\n<h2>Run</h2>\n<table id=\"info\">\n";
    h += InfoRow("Profile", Html(info.profilePath));
    h += InfoRow("Source", Html(info.model.empty() ? "-" : info.model));
    h += InfoRow("Start", TextTimeStamp(run.start));
    h += InfoRow("End", TextTimeStamp(run.end));
    h += InfoRow("Duration", Duration(run.endMs));
    h += InfoRow("Repeats",
                 set.repeat == 0 ? std::string("until stopped") : std::to_string(set.repeat));
    h += InfoRow("Range", RangeWord(run.range));
    h += InfoRow("On a failed limit", set.onFailContinue ? "go on and mark it" : "stop the run");
    h += InfoRow("At the end", set.endHold ? "hold the last step" : "output off");
    h += InfoRow("Steps run", std::to_string(run.steps.size()));
    h += "</table>\n</section>\n";

    h += "<section>\n<h2>Measured voltage and current</h2>\n";
    h += "<p class=\"legend\"><span><i class=\"key\" style=\"background:#1f4e9c\"></i>voltage "
         "(V, left)</span><span><i class=\"key\" style=\"background:#c25e00\"></i>current (A, "
         "right)</span><span><i class=\"key\" style=\"background:#f7c6c0;height:10px\"></i>failed "
         "step</span></p>\n";
    h += Chart(run);
    h += "</section>\n";

    h += "<section>\n<h2>Steps</h2>\n<p>Times of day on " + TextTimeStamp(run.start).substr(0, 10) +
         " (UTC" + TextTimeStamp(run.start).substr(23) +
         "); the measured values are those after each step's settle time.</p>\n"
         "<table id=\"steps\" class=\"num\">\n";
    h += Row({"repeat", "step", "start", "end", "set V", "set Hz", "V min", "V mean", "V max",
              "I max (A)", "P max (W)", "f min (Hz)", "f max (Hz)", "verdict", "reason"},
             "th");
    for (const SeqStepResult& s : run.steps) {
        std::vector<std::string> f = CsvFields(s);
        f[2] = TimeOfDay(s.start, run.start);
        f[3] = TimeOfDay(s.end, run.start);
        h += s.failed ? "<tr class=\"fail\">" : "<tr>";
        for (size_t i = 0; i < f.size(); ++i) {
            if (i == 13) {
                h += "<td class=\"verdict " + std::string(s.failed ? "fail" : "pass") + "\">" +
                     f[i] + "</td>";
            } else {
                h += (i == 2 || i == 3 ? "<td class=\"time\">"
                                       : (i == 14 ? "<td class=\"text\">" : "<td>")) +
                     Html(f[i]) + "</td>";
            }
        }
        h += "</tr>\n";
    }
    h += "</table>\n</section>\n";

    h += "<section>\n<h2>Profile</h2>\n<table id=\"profile\" class=\"num\">\n";
    h += Row({"step", "line", "voltage_v", "frequency_hz", "dwell_s", "ramp_s", "settle_s", "v_min",
              "v_max", "i_max_a", "p_max_w", "f_tol_hz", "note"},
             "th");
    for (size_t k = 0; k < run.profile.steps.size(); ++k) {
        const SeqStep& s = run.profile.steps[k];
        h += Row({std::to_string(k + 1), std::to_string(s.line), Q(SOURCE_Q_SET_VOLTAGE, s.vol),
                  Q(SOURCE_Q_SET_FREQUENCY, s.freq), TextFixed(s.dwell, 1), std::to_string(s.ramp),
                  TextFixed(s.settle, 1), Limit(SOURCE_Q_MEASURED_VOLTAGE, s.vMin),
                  Limit(SOURCE_Q_MEASURED_VOLTAGE, s.vMax),
                  Limit(SOURCE_Q_MEASURED_CURRENT, s.iMax), Limit(SOURCE_Q_MEASURED_POWER, s.pMax),
                  Limit(SOURCE_Q_MEASURED_FREQUENCY, s.fTol), Html(s.note)},
                 "td", 12);
    }
    h += "</table>\n</section>\n";
    h += std::string("<footer>Written by Vx52PSoft ") + VX52_VERSION + " at " +
         TextTimeStamp(run.end) + ".</footer>\n</body>\n</html>\n";
    return h;
}

std::string SeqReportBaseName(const std::string& profilePath, const SysLocalTime& start) {
    std::string name = profilePath.substr(profilePath.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return TextDatedName(name.c_str(), start, "");
}

std::string SeqReportDefaultFolder(const std::string& profilePath) {
    const size_t slash = profilePath.find_last_of('/');
    if (slash == std::string::npos) {
        return "";
    }
    return slash == 0 ? "/" : profilePath.substr(0, slash);
}

int SeqReportWrite(const SeqRun& run, const SeqReportInfo& info, const std::string& folder,
                   std::string* csvPath, std::string* htmlPath) {
    const std::string name = SeqReportBaseName(info.profilePath, run.start);
    const std::string base = folder.empty() ? name : folder + "/" + name;
    *csvPath = base + ".csv";
    *htmlPath = base + ".html";
    const std::string csv = SeqReportCsv(run);
    if (const int error = SysReplaceFile(csvPath->c_str(), csv.data(), csv.size())) {
        return error;
    }
    const std::string html = SeqReportHtml(run, info);
    return SysReplaceFile(htmlPath->c_str(), html.data(), html.size());
}
