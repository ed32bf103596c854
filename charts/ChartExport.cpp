#include "charts/ChartExport.h"

#include <cerrno>
#include <charconv>
#include <cmath>

#include "persist/Language.h"
#include "persist/TextItems.h"
#include "platform/FileReplace.h"
#include "platform/System.h"
#include "util/Text.h"

namespace {

// Shortest text that reads back as the same double, always with a "."
// whatever the locale.
std::string Number(double v) {
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, result.ptr);
}

// "U-20261208-140312.csv": the chart's quantity (the first word of its
// title) and the moment, as every file the program proposes is named.
std::string DefaultName(int panel, int control, const char* extension) {
    std::string title;
    GetCtrlAttribute(panel, control, ATTR_LABEL_TEXT, &title);
    std::string quantity = TextTrim(title.substr(0, title.find(' ')));
    for (char& c : quantity) {
        if (c == '/' || c == '\\') {
            c = '_';
        }
    }
    return TextDatedNameNow(quantity.empty() ? "Chart" : quantity.c_str(), extension);
}

// The chosen path, with the extension added when the name lacks it; empty
// when the operator chose nothing.
std::string ChooseFile(int panel, int control, const char* extension, int filterItem) {
    const std::string filter = LanguageMessage(filterItem);
    const std::string name = DefaultName(panel, control, extension);
    char path[MAX_PATHNAME_LEN] = {};
    const int status =
        FileSelectPopup("", name.c_str(), filter.c_str(), "", VAL_SAVE_BUTTON, 0, 1, 1, 1, path);
    if (status != VAL_EXISTING_FILE_SELECTED && status != VAL_NEW_FILE_SELECTED) {
        return {};
    }
    std::string chosen = path;
    if (!TextEndsWithNoCase(chosen, extension)) {
        chosen += extension;
    }
    return chosen;
}

void ReportFailure(const std::string& path, const std::string& reason) {
    LanguageWarningPopup(LanguageMessage(TEXT_CHART_NOT_SAVED) + "\n" + path + "\n" + reason);
}

int WriteChosen(const std::string& path, const std::string& bytes) {
    const int error = SysReplaceFile(path.c_str(), bytes.data(), bytes.size());
    if (error != 0) {
        ReportFailure(path, LanguageReasonText(error));
    }
    return error;
}

} // namespace

std::string StripChartCsv(const std::vector<StripChartSlot>& shown, const std::string& valueName) {
    std::string out = TextCsvRow({"seconds", "local_time", valueName});
    for (const StripChartSlot& slot : shown) {
        SysLocalTime t{};
        SysLocalTimeAt(slot.epochMs, &t);
        // The slots are whole milliseconds apart.
        out += TextCsvRow({TextFixed(std::llround(slot.seconds * 1000.0), 3), TextTimeStamp(t),
                           std::isnan(slot.value) ? std::string() : Number(slot.value)});
    }
    return out;
}

int SaveStripChartImage(int panel, int control) {
    const std::string path = ChooseFile(panel, control, ".png", TEXT_FILTER_PNG);
    if (path.empty()) {
        return ECANCELED;
    }
    std::string png;
    if (GetCtrlImagePng(panel, control, &png) != 0) {
        ReportFailure(path, LanguageText(TEXT_CHART_NO_PICTURE));
        return EIO;
    }
    return WriteChosen(path, png);
}

int SaveStripChartData(int panel, int control) {
    const std::string path = ChooseFile(panel, control, ".csv", TEXT_FILTER_CSV);
    if (path.empty()) {
        return ECANCELED;
    }
    std::vector<StripChartSlot> slots;
    std::string title;
    GetStripChartSlots(panel, control, &slots);
    GetCtrlAttribute(panel, control, ATTR_LABEL_TEXT, &title);
    return WriteChosen(path, StripChartCsv(slots, title));
}
