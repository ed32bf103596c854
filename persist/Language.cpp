// Window, menu and dialog texts from the language files. Each labelling pass opens
// the file of the current language, puts every text of its table on screen and
// closes the file again; nothing is cached between passes.
#include "persist/Language.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iconv.h>
#include <string>

#include "persist/IniStore.h"
#include "persist/TextItems.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "ui/Panels.h"
#include "ui/Vx52PSoftUi.h"

IniStore* gInifileHandle = nullptr;
int gInifileHandleState = 0;
char gIniItemStr[5];
char gStrLanguage[256];

namespace {

constexpr const char* ENGLISH_FILE = "English.dat";
constexpr const char* CHINESE_FILE = "Chinese.dat";
constexpr const char* LANGUAGE_SECTION = "Item";
constexpr int ITEM_BUFFER_SIZE = 255;

// The language of the store now open: its texts are GBK unless it is English.
int gOpenLanguage = 0;

enum TargetKind {
    TARGET_PANEL_TITLE,
    TARGET_MENU_NAME,
    TARGET_ITEM_NAME,
    TARGET_LIST_FIRST, // the text of a list control's first entry, whose value is empty
    TARGET_LABEL,
    TARGET_TEXT,
    TARGET_STRIP_CHARTS // a text of every strip chart: id is the CHART_MENU_... item
};

struct LanguageRow {
    int item;
    TargetKind kind;
    int id; // control or menu item; unused for a panel title
};

const LanguageRow kMainRows[] = {
    {1, TARGET_PANEL_TITLE, 0},
    {2, TARGET_MENU_NAME, MENUBAR_FILE},
    {189, TARGET_ITEM_NAME, MENUBAR_FILE_SAVE},
    {190, TARGET_ITEM_NAME, MENUBAR_FILE_LOAD},
    {420, TARGET_ITEM_NAME, MENUBAR_FILE_LOG_START},
    {421, TARGET_ITEM_NAME, MENUBAR_FILE_LOG_STOP},
    {720, TARGET_ITEM_NAME, MENUBAR_FILE_SEQUENCE},
    {5, TARGET_ITEM_NAME, MENUBAR_FILE_EXIT},
    {175, TARGET_MENU_NAME, MENUBAR_SET},
    {6, TARGET_ITEM_NAME, MENUBAR_SET_COMM},
    {500, TARGET_ITEM_NAME, MENUBAR_SET_REMOTE},
    {760, TARGET_ITEM_NAME, MENUBAR_SET_RECONNECT},
    {7, TARGET_ITEM_NAME, MENUBAR_SET_LANG},
    {8, TARGET_ITEM_NAME, MENUBAR_SET_LANG_CN},
    {9, TARGET_ITEM_NAME, MENUBAR_SET_LANG_EN},
    {422, TARGET_ITEM_NAME, MENUBAR_SET_LINKMON},
    {31, TARGET_MENU_NAME, MENUBAR_HELP},
    {31, TARGET_ITEM_NAME, MENUBAR_HELP_HELP},
    {32, TARGET_ITEM_NAME, MENUBAR_HELP_ABOUT},
    {22, TARGET_TEXT, PANEL_TXT_CAPTION1},
    {33, TARGET_TEXT, PANEL_TXT_OFFLINE},
    {34, TARGET_LABEL, PANEL_BT_CONNECT},
    {35, TARGET_LABEL, PANEL_BT_DISCONNECT},
    {37, TARGET_TEXT, PANEL_TXT_STOPPED},
    {38, TARGET_TEXT, PANEL_TXT_RUNNING},
    {176, TARGET_LABEL, PANEL_BT_CLEAR_ALARM},
    {46, TARGET_TEXT, PANEL_TXT_CAPTION2},
    {47, TARGET_TEXT, PANEL_TXT_CAPTION3},
    {56, TARGET_LABEL, PANEL_NUM_UP2U},
    {57, TARGET_LABEL, PANEL_NUM_DOWN2U},
    {506, TARGET_TEXT, PANEL_TXT_REMOTE},
    {804, TARGET_TEXT, PANEL_TXT_LOG},
    {761, TARGET_LABEL, PANEL_BT_STOP_RETRY},
};

// The strip charts' menus and tips, which the layout cannot hold.
const LanguageRow kStripChartRows[] = {
    {400, TARGET_STRIP_CHARTS, CHART_MENU_SAVE_IMAGE},
    {401, TARGET_STRIP_CHARTS, CHART_MENU_SAVE_DATA},
    {402, TARGET_STRIP_CHARTS, CHART_MENU_PAUSE},
    {403, TARGET_STRIP_CHARTS, CHART_MENU_RESUME},
    {808, TARGET_STRIP_CHARTS, CHART_MENU_CLEAR},
    {404, TARGET_STRIP_CHARTS, CHART_TEXT_HINT},
};

const LanguageRow kAlarmRows[] = {
    {299, TARGET_TEXT, PANEL_TXT_ALARM},
};

const LanguageRow kCommSetRows[] = {
    {6, TARGET_PANEL_TITLE, 0},
    {196, TARGET_LABEL, COMMPANEL_NUM_ADDRESS},
    {198, TARGET_LABEL, COMMPANEL_RING_PORT},
    {199, TARGET_LABEL, COMMPANEL_RING_BAUD},
    {460, TARGET_LABEL, COMMPANEL_RING_DEVICE},
    {461, TARGET_LIST_FIRST, COMMPANEL_RING_DEVICE},
    {806, TARGET_TEXT, COMMPANEL_TXT_ONLINE},
    {178, TARGET_LABEL, COMMPANEL_BT_OK},
    {179, TARGET_LABEL, COMMPANEL_BT_CANCEL},
};

const LanguageRow kAboutRows[] = {
    {32, TARGET_PANEL_TITLE, 0},
    {183, TARGET_TEXT, ABOUTPANEL_TXT_LINE1},
    {1, TARGET_TEXT, ABOUTPANEL_TXT_TITLE},
    {184, TARGET_LABEL, ABOUTPANEL_NUM_VERSION},
    {178, TARGET_LABEL, ABOUTPANEL_BT_OK},
};

const LanguageRow kLinkMonitorRows[] = {
    {805, TARGET_PANEL_TITLE, 0},
    {427, TARGET_LABEL, LINKMONPANEL_BT_CLEAR},
    {428, TARGET_LABEL, LINKMONPANEL_BT_SAVE},
    {429, TARGET_LABEL, LINKMONPANEL_BT_CLOSE},
};

const LanguageRow kRemoteRows[] = {
    {501, TARGET_PANEL_TITLE, 0},
    {502, TARGET_LABEL, REMOTEPANEL_CHK_ENABLE},
    {503, TARGET_LABEL, REMOTEPANEL_TXT_ADDRESS},
    {504, TARGET_LABEL, REMOTEPANEL_NUM_PORT},
    {510, TARGET_LABEL, REMOTEPANEL_NUM_IDLE},
    {505, TARGET_TEXT, REMOTEPANEL_TXT_NOTE},
    {178, TARGET_LABEL, REMOTEPANEL_BT_OK},
    {179, TARGET_LABEL, REMOTEPANEL_BT_CANCEL},
};

const LanguageRow kWaitRows[] = {
    {181, TARGET_PANEL_TITLE, 0},
    {182, TARGET_TEXT, WAITPANEL_TXT_WAIT},
};

// The item's name in the files: its last four digits.
void ItemName(int item, char (&name)[5]) {
    name[0] = static_cast<char>('0' + item / 1000 % 10);
    name[1] = static_cast<char>('0' + item / 100 % 10);
    name[2] = static_cast<char>('0' + item / 10 % 10);
    name[3] = static_cast<char>('0' + item % 10);
    name[4] = '\0';
}

// Converts GBK text to UTF-8 for the toolkit. A byte that is not GBK becomes
// U+FFFD, so a damaged file shows a visible mark instead of losing the rest.
class GbkToUtf8 {
  public:
    GbkToUtf8() : cd_(iconv_open("UTF-8", "GBK")) {}
    ~GbkToUtf8() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(cd_);
        }
    }
    GbkToUtf8(const GbkToUtf8&) = delete;
    GbkToUtf8& operator=(const GbkToUtf8&) = delete;

    std::string Convert(const char* text) {
        size_t length = std::strlen(text);
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            return std::string(text, length);
        }
        std::string out;
        char chunk[256];
        char* in = const_cast<char*>(text);
        size_t inLeft = length;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0) {
            char* outPtr = chunk;
            size_t outLeft = sizeof chunk;
            size_t result = iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
            out.append(chunk, static_cast<size_t>(outPtr - chunk));
            if (result != static_cast<size_t>(-1)) {
                continue;
            }
            if (errno == E2BIG) {
                continue;
            }
            // EILSEQ or a character cut short at the end of the text.
            out += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

  private:
    iconv_t cd_;
};

void PutText(const LanguageRow& row, int panel, int menuBar, const char* text) {
    switch (row.kind) {
    case TARGET_PANEL_TITLE:
        SetPanelAttribute(panel, ATTR_TITLE, text);
        break;
    case TARGET_MENU_NAME:
        SetMenuBarAttribute(menuBar, row.id, ATTR_MENU_NAME, text);
        break;
    case TARGET_ITEM_NAME:
        SetMenuBarAttribute(menuBar, row.id, ATTR_ITEM_NAME, text);
        break;
    case TARGET_LIST_FIRST:
        ReplaceListItem(panel, row.id, 0, text, "");
        break;
    case TARGET_LABEL:
        SetCtrlAttribute(panel, row.id, ATTR_LABEL_TEXT, text);
        break;
    case TARGET_TEXT:
        SetCtrlVal(panel, row.id, text);
        break;
    case TARGET_STRIP_CHARTS:
        for (int chart : {PANEL_SCHART_R1, PANEL_SCHART_R2, PANEL_SCHART_R3, PANEL_SCHART_R4}) {
            SetStripChartText(panel, chart, row.id, text);
        }
        break;
    }
}

template <std::size_t N> void LabelPass(const LanguageRow (&rows)[N], int panel, int menuBar) {
    OpenLanguage(gPowerInfo.language);
    GbkToUtf8 converter;
    bool gbk = gOpenLanguage != 1;
    for (const LanguageRow& row : rows) {
        ReadItem(row.item, gStrLanguage);
        if (gbk) {
            PutText(row, panel, menuBar, converter.Convert(gStrLanguage).c_str());
        } else {
            PutText(row, panel, menuBar, gStrLanguage);
        }
    }
    CloseLanguage();
}

// Texts of the given language (1 English, else Chinese) by item number, as UTF-8,
// from one read of its file; a missing item gives an empty text.
void ReadTexts(int language, const int* items, int count, std::string* texts) {
    OpenLanguage(language);
    GbkToUtf8 converter;
    const bool gbk = gOpenLanguage != 1;
    for (int i = 0; i < count; ++i) {
        gStrLanguage[0] = '\0';
        ReadItem(items[i], gStrLanguage);
        texts[i] = gbk ? converter.Convert(gStrLanguage) : std::string(gStrLanguage);
    }
    CloseLanguage();
}

std::string ReadText(int language, int item) {
    std::string text;
    ReadTexts(language, &item, 1, &text);
    return text;
}

} // namespace

int OpenLanguage(int language) {
    CloseLanguage();
    gInifileHandle = Ini_New(0);
    gInifileHandleState = 1;
    gOpenLanguage = language;
    return Ini_ReadFromFile(gInifileHandle, language == 1 ? ENGLISH_FILE : CHINESE_FILE);
}

void CloseLanguage() {
    if (gInifileHandleState == 1 && gInifileHandle != nullptr) {
        Ini_Dispose(gInifileHandle);
    }
    // Also after a store that could not be made, so no pass starts half open.
    gInifileHandle = nullptr;
    gInifileHandleState = 0;
}

int ReadItem(int itemNumber, char* buffer) {
    if (gInifileHandleState != 1 || gInifileHandle == nullptr) {
        return 0;
    }
    ItemName(itemNumber, gIniItemStr);
    return Ini_GetRawStringIntoBuffer(gInifileHandle, LANGUAGE_SECTION, gIniItemStr, buffer,
                                      ITEM_BUFFER_SIZE);
}

void PanelMainLanguageSet() {
    LabelPass(kMainRows, gMainPanel, gMainMenu);
    PanelStripChartLanguageSet();
}

void PanelStripChartLanguageSet() {
    LabelPass(kStripChartRows, gMainPanel, 0);
}

void PanelCommSetLanguageSet() {
    LabelPass(kCommSetRows, gCommPanel, 0);
}

void PanelAboutLanguageSet() {
    LabelPass(kAboutRows, gAboutPanel, 0);
}

void PanelLinkMonitorLanguageSet(int panel) {
    LabelPass(kLinkMonitorRows, panel, 0);
}

void LanguageTexts(const int* items, int count, std::string* texts) {
    ReadTexts(gPowerInfo.language, items, count, texts);
}

void LanguageTextsIn(int language, const int* items, int count, std::string* texts) {
    ReadTexts(language, items, count, texts);
}

void PanelWaitLanguageSet() {
    LabelPass(kWaitRows, gWaitPanel, 0);
}

void StrAlarmLanguageSet() {
    LabelPass(kAlarmRows, gMainPanel, 0);
}

void PanelRemoteLanguageSet() {
    LabelPass(kRemoteRows, gRemotePanel, 0);
}

bool LanguageIsEnglish() {
    return gPowerInfo.language == 1;
}

std::string LanguageText(int item) {
    return ReadText(gPowerInfo.language, item);
}

std::string LanguageMessage(int item, TextValues values) {
    return LanguageMessageIn(LanguageIsEnglish(), item, values);
}

std::string LanguageMessageIn(bool english, int item, TextValues values) {
    std::string text = ReadText(english ? 1 : 0, item);
    if (text.empty() && !english) {
        text = ReadText(1, item);
    }
    if (!text.empty()) {
        return TextFillIn(text, values);
    }
    // A language file missing or older than the program: a box that is not
    // empty and still names what the operator needs.
    char name[5];
    ItemName(item, name);
    text = std::string("[") + name + "]";
    for (const auto& value : values) {
        text += " " + value.second;
    }
    return text;
}

void LanguageWarningPopup(const std::string& text, const char* detail) {
    WarningPopup(LanguageMessage(TEXT_WARNING).c_str(), text.c_str(), detail);
}

namespace {

// The codes whose reason an operator meets, each with its item; both language
// files hold them, English.dat with the system's own words.
struct ReasonItem {
    int code;
    int item;
};
constexpr ReasonItem kReasonItems[] = {
    {EPERM, 850},  {ENOENT, 851},     {EIO, 852},           {ENXIO, 853},        {EACCES, 854},
    {EBUSY, 855},  {EEXIST, 856},     {ENODEV, 857},        {ENOTDIR, 858},      {EISDIR, 859},
    {EINVAL, 860}, {ENFILE, 861},     {EMFILE, 862},        {ENOTTY, 863},       {EFBIG, 864},
    {ENOSPC, 865}, {EROFS, 866},      {ENAMETOOLONG, 867},  {ENOMEM, 868},       {EDQUOT, 869},
    {ELOOP, 870},  {EADDRINUSE, 871}, {EADDRNOTAVAIL, 872}, {ECONNREFUSED, 873}, {ETIMEDOUT, 874},
    {EAGAIN, 875}, {EXDEV, 876},      {ETXTBSY, 877},
};

} // namespace

std::string LanguageReasonText(int code) {
    const std::string system = SysErrorText(code);
    if (LanguageIsEnglish()) {
        return system;
    }
    for (const ReasonItem& r : kReasonItems) {
        if (r.code == code) {
            const std::string chinese = LanguageText(r.item);
            // The system's words stay first: they are what a search or a
            // service desk knows.
            return chinese.empty() ? system : system + "（" + chinese + "）";
        }
    }
    return system;
}
