#include "app/LinkMonitor.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/Shell.h"
#include "link/Command.h"
#include "link/LinkEvents.h"
#include "persist/Language.h"
#include "platform/FileReplace.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"
#include "util/Text.h"

int gLinkMonPanel = 0;

namespace {

constexpr int kMaxFrames = 10000;
constexpr int kColumns = 5;

// Texts the rows are made of, read once when the monitor opens or changes
// language, never per frame.
enum Word {
    WORD_PAUSE,
    WORD_RESUME,
    WORD_TIME,
    WORD_DIR,
    WORD_BYTES,
    WORD_TEXT,
    WORD_MEANING,
    WORD_SENT,
    WORD_RECEIVED,
    WORD_ACCEPTED,
    WORD_REFUSED,
    WORD_NONE,
    WORD_NOTHING,
    WORD_COUNT
};
constexpr int kWordItems[WORD_COUNT] = {425, 426, 430, 431, 432, 433, 434,
                                        435, 436, 437, 438, 439, 440};
std::string gWords[WORD_COUNT];
bool gPaused = false;

bool English() {
    return gPowerInfo.language == 1;
}

std::string TimeNow() {
    SysLocalTime t{};
    SysGetLocalTime(&t);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                  t.millisecond);
    return text;
}

std::string Meaning(const uint8_t* bytes, int length, int kind, int subKind, int result) {
    (void)bytes;
    const char* mnemonic = CommMnemonic(kind, subKind);
    std::string out = mnemonic ? mnemonic : "?";
    if (result == kLinkMonitorSent) {
        return out;
    }
    out += ' ';
    if (length == 0) {
        return out + gWords[WORD_NOTHING];
    }
    switch (result) {
    case COMM_RX_ACCEPTED:
        return out + gWords[WORD_ACCEPTED];
    case COMM_RX_UNUSABLE:
        return out + gWords[WORD_REFUSED];
    default:
        return out + gWords[WORD_NONE];
    }
}

void AddRow(const uint8_t* bytes, int length, int kind, int subKind, int result) {
    AppendTableRow(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES,
                   {TimeNow(), gWords[result == kLinkMonitorSent ? WORD_SENT : WORD_RECEIVED],
                    LinkMonitorHex(bytes, length), LinkMonitorPrintable(bytes, length),
                    Meaning(bytes, length, kind, subKind, result)});
}

// Closed or paused, a frame is passed over before anything is made of it.
void Sent(const uint8_t* bytes, int length, int kind, int subKind) {
    if (gLinkMonPanel <= 0 || gPaused) {
        return;
    }
    AddRow(bytes, length, kind, subKind, kLinkMonitorSent);
}

void Received(const uint8_t* bytes, int length, int kind, int subKind, int result) {
    if (gLinkMonPanel <= 0 || gPaused) {
        return;
    }
    AddRow(bytes, length, kind, subKind, result);
}

const LinkObserver kObserver{Sent, Received, nullptr, nullptr, nullptr};

void LabelPauseButton() {
    SetCtrlAttribute(gLinkMonPanel, LINKMONPANEL_BT_PAUSE, ATTR_LABEL_TEXT,
                     gWords[gPaused ? WORD_RESUME : WORD_PAUSE].c_str());
}

std::string SaveText() {
    int rows = 0;
    GetNumTableRows(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES, &rows);
    std::string text;
    text.reserve(static_cast<size_t>(rows) * 120);
    for (int c = WORD_TIME; c <= WORD_MEANING; ++c) {
        text += gWords[c] + (c == WORD_MEANING ? "\n" : "\t");
    }
    std::vector<std::string> cells;
    for (int r = 0; r < rows; ++r) {
        if (GetTableRowCells(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES, r, &cells) != 0) {
            continue;
        }
        for (size_t c = 0; c < cells.size(); ++c) {
            text += cells[c] + (c + 1 == cells.size() ? "\n" : "\t");
        }
    }
    return text;
}

void SaveAsText() {
    const std::string name = TextDatedNameNow("Vx52Link", ".txt");
    char path[MAX_PATHNAME_LEN] = {};
    const int status = FileSelectPopup("", name.c_str(), "*.txt", "", VAL_SAVE_BUTTON, 0, 1, 1, 1, path);
    if (status != VAL_EXISTING_FILE_SELECTED && status != VAL_NEW_FILE_SELECTED) {
        return;
    }
    const std::string text = SaveText();
    const int error = SysReplaceFile(path, text.data(), text.size());
    if (error == 0) {
        return;
    }
    const std::string p = path;
    const std::string reason = std::strerror(error);
    const std::string message = English()
                                 ? "The frames could not be saved to \"" + p + "\": " + reason + "."
                                 : "通讯记录未能保存到“" + p + "”：" + reason + "。";
    WarningPopup(English() ? "Warning" : "警告", message.c_str());
}

} // namespace

void LinkMonitorInstall() {
    LinkAddObserver(&kObserver);
}

void DisplayPanelLinkMonitor(int show) {
    if (show == 0) {
        DiscardPanel(gLinkMonPanel);
        gLinkMonPanel = 0;
        return;
    }
    if (gLinkMonPanel > 0) {
        DisplayPanel(gLinkMonPanel);
        return;
    }
    const int panel = LoadPanel(0, UIR_FILE, LINKMONPANEL);
    if (panel < 0) {
        return;
    }
    gLinkMonPanel = panel;
    gPaused = false;
    SetCtrlAttribute(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES, ATTR_MAX_ROWS, kMaxFrames);
    LinkMonitorLanguageSet();
    DisplayPanel(gLinkMonPanel);
}

void LinkMonitorLanguageSet() {
    if (gLinkMonPanel <= 0) {
        return;
    }
    LanguageTexts(kWordItems, WORD_COUNT, gWords);
    PanelLinkMonitorLanguageSet(gLinkMonPanel);
    for (int c = 0; c < kColumns; ++c) {
        SetTableColumnLabel(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES, c,
                            gWords[WORD_TIME + c].c_str());
    }
    LabelPauseButton();
}

std::string LinkMonitorHex(const uint8_t* bytes, int length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(static_cast<size_t>(length) * 3);
    for (int i = 0; i < length; ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
    }
    return out;
}

std::string LinkMonitorPrintable(const uint8_t* bytes, int length) {
    std::string out(static_cast<size_t>(length), '.');
    for (int i = 0; i < length; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F) {
            out[static_cast<size_t>(i)] = static_cast<char>(bytes[i]);
        }
    }
    return out;
}

int LINKMONPANEL_CALLBACK(int, int event, void*, int, int) {
    if (event == EVENT_CLOSE) {
        DisplayPanelLinkMonitor(0);
    }
    return 0;
}

int BT_LINKMON_PAUSE_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        gPaused = !gPaused;
        LabelPauseButton();
    }
    return 0;
}

int BT_LINKMON_CLEAR_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        ClearTableRows(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES);
    }
    return 0;
}

int BT_LINKMON_SAVE_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        SaveAsText();
    }
    return 0;
}

int BT_LINKMON_CLOSE_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        DisplayPanelLinkMonitor(0);
    }
    return 0;
}
