// The record of a run, in two files beside the profile: a CSV file with one
// row per step run, and one self-contained HTML page for a person to file
// with a test record (no external files, no script).
#pragma once

#include <string>

#include "sequence/Runner.h"

constexpr const char* kSeqReportHeader =
    "repeat,step,start,end,set_v,set_hz,v_min,v_mean,v_max,i_max_a,p_max_w,f_min_hz,f_max_hz,"
    "verdict,reason";

// What the page says beside the run itself.
struct SeqReportInfo {
    std::string profilePath;
    std::string model; // as the source identified itself
};

std::string SeqReportCsv(const SeqRun& run);
std::string SeqReportHtml(const SeqRun& run, const SeqReportInfo& info);
// "<profile name without extension>-YYYYMMDD-HHMMSS" from the run's start.
std::string SeqReportBaseName(const std::string& profilePath, const SysLocalTime& start);
// What ended a run, in the report's words ("every repeat ran").
const char* SeqCauseText(SeqCause cause);
// A span of time as "m:ss", or "h:mm:ss" from an hour on.
std::string SeqDurationText(double ms);
// The folder the reports go to when none is given: the profile's own (empty
// for the working folder).
std::string SeqReportDefaultFolder(const std::string& profilePath);
// Writes both files into folder. Returns 0, or the errno of the write that
// failed; the paths written (or tried) are given back.
int SeqReportWrite(const SeqRun& run, const SeqReportInfo& info, const std::string& folder,
                   std::string* csvPath, std::string* htmlPath);
