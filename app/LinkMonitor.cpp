#include "app/LinkMonitor.h"

#include <cerrno>
#include <deque>
#include <vector>

#include "app/LinkArea.h"
#include "app/Shell.h"
#include "link/Command.h"
#include "link/CommandIds.h"
#include "link/LinkEvents.h"
#include "persist/Language.h"
#include "persist/TextItems.h"
#include "platform/FileReplace.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
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
                                        435, 436, 822, 823, 824, 825};
std::string gWords[WORD_COUNT];

// What each request is, in words: as sent, and as the name its reply goes by.
struct CommandWords {
    CommandId id;
    int sentItem;
    int replyItem;
};
constexpr CommandWords kCommandWords[] = {
    {COMM_ID_MODEL_QUERY, 810, 811},
    {COMM_ID_STATE_QUERY, 812, 813},
    {COMM_ID_MEASURE_QUERY, 814, 815},
    {COMM_ID_SETTINGS_QUERY, 816, 817},
    {COMM_ID_SETTINGS_STOPPED, 818, 817},
    {COMM_ID_SETTINGS_RUNNING, 818, 817},
    {COMM_ID_START, 819, 819},
    {COMM_ID_STOP, 820, 820},
    {COMM_ID_CLEAR_ALARM, 821, 821},
};
constexpr int kCommandCount = sizeof kCommandWords / sizeof kCommandWords[0];
std::string gSentWords[kCommandCount];
std::string gReplyWords[kCommandCount];

bool gPaused = false;
// When each listed row came, oldest first: the table shows the clock time, the
// saved text the full time stamp.
std::deque<SysLocalTime> gRowTimes;

std::string Meaning(int kind, int subKind, int length, int result) {
    int found = -1;
    for (int i = 0; i < kCommandCount; ++i) {
        if (CommIs(kind, subKind, kCommandWords[i].id)) {
            found = i;
        }
    }
    if (found < 0) {
        // Not one of the program's requests: its mnemonic is all there is.
        const char* mnemonic = CommMnemonic(kind, subKind);
        return mnemonic ? mnemonic : "?";
    }
    if (result == kLinkMonitorSent) {
        return gSentWords[found];
    }
    const Word outcome = length == 0                  ? WORD_NOTHING
                         : result == COMM_RX_ACCEPTED ? WORD_ACCEPTED
                         : result == COMM_RX_UNUSABLE ? WORD_REFUSED
                                                      : WORD_NONE;
    const std::string& what = gReplyWords[found];
    return TextFillIn(
        gWords[outcome],
        {{"what", outcome == WORD_NOTHING || outcome == WORD_NONE ? gSentWords[found] : what}});
}

void AddRow(const uint8_t* bytes, int length, int kind, int subKind, int result) {
    SysLocalTime t{};
    SysGetLocalTime(&t);
    gRowTimes.push_back(t);
    // The table keeps as many rows, dropping the oldest.
    if (gRowTimes.size() > static_cast<size_t>(kMaxFrames)) {
        gRowTimes.pop_front();
    }
    AppendTableRow(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES,
                   {TextClock(t, true),
                    gWords[result == kLinkMonitorSent ? WORD_SENT : WORD_RECEIVED],
                    LinkMonitorHex(bytes, length), LinkMonitorPrintable(bytes, length),
                    Meaning(kind, subKind, length, result)});
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

const LinkObserver kObserver{Sent, Received, nullptr, nullptr, nullptr, nullptr};

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
    // The table's rows are the newest of those timed.
    const long firstTime = static_cast<long>(gRowTimes.size()) - rows;
    std::vector<std::string> cells;
    for (int r = 0; r < rows; ++r) {
        if (GetTableRowCells(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES, r, &cells) != 0) {
            continue;
        }
        if (firstTime + r >= 0 && !cells.empty()) {
            cells[0] = TextTimeStamp(gRowTimes[static_cast<size_t>(firstTime + r)]);
        }
        for (size_t c = 0; c < cells.size(); ++c) {
            text += cells[c] + (c + 1 == cells.size() ? "\n" : "\t");
        }
    }
    return text;
}

// 0 when saved; ECANCELED when no file was chosen, else the errno (the
// operator has been told).
int SaveAsText() {
    const std::string name = TextDatedNameNow("Vx52Link", ".txt");
    char path[MAX_PATHNAME_LEN] = {};
    const int status =
        FileSelectPopup("", name.c_str(), "*.txt", "", VAL_SAVE_BUTTON, 0, 1, 1, 1, path);
    if (status != VAL_EXISTING_FILE_SELECTED && status != VAL_NEW_FILE_SELECTED) {
        return ECANCELED;
    }
    const std::string text = SaveText();
    const int error = SysReplaceFile(path, text.data(), text.size());
    if (error != 0) {
        LanguageWarningPopup(LanguageMessage(
            TEXT_MONITOR_NOT_SAVED, {{"file", path}, {"reason", LanguageReasonText(error)}}));
    }
    return error;
}

} // namespace

void LinkMonitorInstall() {
    LinkAddObserver(&kObserver);
}

void DisplayPanelLinkMonitor(int show) {
    if (show == 0) {
        DiscardPanel(gLinkMonPanel);
        gLinkMonPanel = 0;
        gRowTimes.clear();
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
    gRowTimes.clear();
    SetCtrlAttribute(gLinkMonPanel, LINKMONPANEL_TBL_FRAMES, ATTR_MAX_ROWS, kMaxFrames);
    LinkMonitorLanguageSet();
    // Beside the main window, and all of it on the screen.
    SetPanelAttribute(gLinkMonPanel, ATTR_FIT_SCREEN, 1);
    DisplayPanel(gLinkMonPanel);
}

void LinkMonitorLanguageSet() {
    if (gLinkMonPanel <= 0) {
        return;
    }
    LanguageTexts(kWordItems, WORD_COUNT, gWords);
    int items[2 * kCommandCount];
    std::string texts[2 * kCommandCount];
    for (int i = 0; i < kCommandCount; ++i) {
        items[2 * i] = kCommandWords[i].sentItem;
        items[2 * i + 1] = kCommandWords[i].replyItem;
    }
    LanguageTexts(items, 2 * kCommandCount, texts);
    for (int i = 0; i < kCommandCount; ++i) {
        gSentWords[i] = texts[2 * i];
        gReplyWords[i] = texts[2 * i + 1];
    }
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
        gRowTimes.clear();
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
