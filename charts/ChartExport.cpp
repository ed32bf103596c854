#include "charts/ChartExport.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "persist/Language.h"
#include "platform/FileReplace.h"
#include "platform/System.h"
#include "power/PowerRecords.h"
#include "util/Text.h"

namespace {

// Shortest text that reads back as the same double, or a fixed number of
// decimals; always with a "." whatever the locale.
std::string Number(double v, int decimals = -1) {
    char buf[64];
    const auto result =
        decimals < 0 ? std::to_chars(buf, buf + sizeof buf, v)
                     : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, result.ptr);
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    if (text.size() < tail.size()) {
        return false;
    }
    for (size_t i = 0; i < tail.size(); ++i) {
        const unsigned char a = text[text.size() - tail.size() + i];
        if (std::tolower(a) != std::tolower(static_cast<unsigned char>(tail[i]))) {
            return false;
        }
    }
    return true;
}

constexpr int kItemCsvFiles = 842;
constexpr int kItemPngFiles = 843;

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
    std::string filter = LanguageText(filterItem);
    if (filter.empty()) {
        filter = std::string("*") + extension;
    }
    const std::string name = DefaultName(panel, control, extension);
    char path[MAX_PATHNAME_LEN] = {};
    const int status =
        FileSelectPopup("", name.c_str(), filter.c_str(), "", VAL_SAVE_BUTTON, 0, 1, 1, 1, path);
    if (status != VAL_EXISTING_FILE_SELECTED && status != VAL_NEW_FILE_SELECTED) {
        return {};
    }
    std::string chosen = path;
    if (!EndsWithNoCase(chosen, extension)) {
        chosen += extension;
    }
    return chosen;
}

void ReportFailure(const std::string& path, const std::string& reason) {
    if (gPowerInfo.language == 1) {
        WarningPopup("Warning", ("The file could not be saved:\n" + path + "\n" + reason).c_str());
    } else {
        WarningPopup("警告", ("文件保存失败：\n" + path + "\n" + reason).c_str());
    }
}

int WriteChosen(const std::string& path, const std::string& bytes) {
    const int err = SysReplaceFile(path.c_str(), bytes.data(), bytes.size());
    if (err != 0) {
        ReportFailure(path, LanguageReasonText(err));
        return 0;
    }
    return 1;
}

} // namespace

std::string StripChartCsv(const std::vector<StripChartSlot>& shown, const std::string& valueName) {
    std::string out = "seconds,local_time," + TextCsvField(valueName) + "\n";
    for (const StripChartSlot& slot : shown) {
        out += Number(slot.seconds, 3);
        out += ',';
        SysLocalTime t{};
        SysLocalTimeAt(slot.epochMs, &t);
        out += TextTimeStamp(t);
        out += ',';
        if (!std::isnan(slot.value)) {
            out += Number(slot.value);
        }
        out += '\n';
    }
    return out;
}

int SaveStripChartImage(int panel, int control) {
    const std::string path = ChooseFile(panel, control, ".png", kItemPngFiles);
    if (path.empty()) {
        return 0;
    }
    std::string png;
    if (GetCtrlImagePng(panel, control, &png) != 0) {
        ReportFailure(path, "no picture of the chart could be made");
        return 0;
    }
    return WriteChosen(path, png);
}

int SaveStripChartData(int panel, int control) {
    const std::string path = ChooseFile(panel, control, ".csv", kItemCsvFiles);
    if (path.empty()) {
        return 0;
    }
    std::vector<StripChartSlot> slots;
    std::string title;
    GetStripChartSlots(panel, control, &slots);
    GetCtrlAttribute(panel, control, ATTR_LABEL_TEXT, &title);
    return WriteChosen(path, StripChartCsv(slots, title));
}
