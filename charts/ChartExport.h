// Saving what a strip chart shows: its picture as a PNG file, its points as a
// CSV file.
#pragma once

#include <string>
#include <vector>

#include "platform/Toolkit.h"

// UTF-8, comma separated, "." decimals, LF line ends. A header line, then one
// line per slot: seconds before the newest slot, local time with milliseconds,
// and the value, left empty where nothing was measured.
std::string StripChartCsv(const std::vector<StripChartSlot>& shown, const std::string& valueName);

// Ask for a file name, then write. 0 when a file was written; ECANCELED when
// the operator chose none, else the errno of the failure (EIO when no picture
// could be made); the operator has been told why.
int SaveStripChartImage(int panel, int control);
int SaveStripChartData(int panel, int control);
