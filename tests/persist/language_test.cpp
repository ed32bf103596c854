// Language tables: item look-up, and every text reaching its window, menu or
// control on the real layout, converted from GBK where the file is Chinese.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ScratchDir.h"
#include "app/Shell.h"
#include "persist/IniStore.h"
#include "persist/Language.h"
#include "persist/TextItems.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

namespace {

enum Kind { TITLE, MENU, ITEM, LABEL, TEXT, LIST_FIRST };
enum Where { MAIN, COMM, ABOUT, WAIT };

struct Target {
    int item;
    Where where;
    Kind kind;
    int id;
};

const std::vector<Target> kMainTargets = {
    {1, MAIN, TITLE, 0},
    {2, MAIN, MENU, MENUBAR_FILE},
    {189, MAIN, ITEM, MENUBAR_FILE_SAVE},
    {190, MAIN, ITEM, MENUBAR_FILE_LOAD},
    {5, MAIN, ITEM, MENUBAR_FILE_EXIT},
    {175, MAIN, MENU, MENUBAR_SET},
    {6, MAIN, ITEM, MENUBAR_SET_COMM},
    {7, MAIN, ITEM, MENUBAR_SET_LANG},
    {8, MAIN, ITEM, MENUBAR_SET_LANG_CN},
    {9, MAIN, ITEM, MENUBAR_SET_LANG_EN},
    {31, MAIN, MENU, MENUBAR_HELP},
    {31, MAIN, ITEM, MENUBAR_HELP_HELP},
    {32, MAIN, ITEM, MENUBAR_HELP_ABOUT},
    {22, MAIN, TEXT, PANEL_TXT_CAPTION1},
    {33, MAIN, TEXT, PANEL_TXT_OFFLINE},
    {34, MAIN, LABEL, PANEL_BT_CONNECT},
    {35, MAIN, LABEL, PANEL_BT_DISCONNECT},
    {37, MAIN, TEXT, PANEL_TXT_STOPPED},
    {38, MAIN, TEXT, PANEL_TXT_RUNNING},
    {176, MAIN, LABEL, PANEL_BT_CLEAR_ALARM},
    {46, MAIN, TEXT, PANEL_TXT_CAPTION2},
    {47, MAIN, TEXT, PANEL_TXT_CAPTION3},
    {56, MAIN, LABEL, PANEL_NUM_UP2U},
    {57, MAIN, LABEL, PANEL_NUM_DOWN2U},
};
const std::vector<Target> kAlarmTargets = {{299, MAIN, TEXT, PANEL_TXT_ALARM}};
const std::vector<Target> kCommTargets = {
    {6, COMM, TITLE, 0},
    {196, COMM, LABEL, COMMPANEL_NUM_ADDRESS},
    {198, COMM, LABEL, COMMPANEL_RING_PORT},
    {199, COMM, LABEL, COMMPANEL_RING_BAUD},
    {460, COMM, LABEL, COMMPANEL_RING_DEVICE},
    {461, COMM, LIST_FIRST, COMMPANEL_RING_DEVICE},
    {178, COMM, LABEL, COMMPANEL_BT_OK},
    {179, COMM, LABEL, COMMPANEL_BT_CANCEL},
};
const std::vector<Target> kAboutTargets = {
    {32, ABOUT, TITLE, 0},
    {183, ABOUT, TEXT, ABOUTPANEL_TXT_LINE1},
    {1, ABOUT, TEXT, ABOUTPANEL_TXT_TITLE},
    {184, ABOUT, LABEL, ABOUTPANEL_NUM_VERSION},
    {178, ABOUT, LABEL, ABOUTPANEL_BT_OK},
};
const std::vector<Target> kWaitTargets = {
    {181, WAIT, TITLE, 0},
    {182, WAIT, TEXT, WAITPANEL_TXT_WAIT},
};

const int kAllItems[] = {1,   2,   5,   6,   7,   8,   9,   22,  31,  32,  33,  34,
                         35,  37,  38,  46,  47,  56,  57,  175, 176, 178, 179, 181,
                         182, 183, 184, 189, 190, 196, 198, 199, 299, 460, 461};

std::string Shown(const Target& t) {
    int panel = t.where == MAIN    ? gMainPanel
                : t.where == COMM  ? gCommPanel
                : t.where == ABOUT ? gAboutPanel
                                   : gWaitPanel;
    std::string text = "<unreadable>";
    switch (t.kind) {
    case TITLE:
        GetPanelAttribute(panel, ATTR_TITLE, &text);
        break;
    case MENU:
        GetMenuBarAttribute(gMainMenu, t.id, ATTR_MENU_NAME, &text);
        break;
    case ITEM:
        GetMenuBarAttribute(gMainMenu, t.id, ATTR_ITEM_NAME, &text);
        break;
    case LABEL:
        GetCtrlAttribute(panel, t.id, ATTR_LABEL_TEXT, &text);
        break;
    case TEXT:
        GetCtrlVal(panel, t.id, &text);
        break;
    case LIST_FIRST:
        GetLabelFromIndex(panel, t.id, 0, &text);
        break;
    }
    return text;
}

// A language file in which item n reads "<prefix>n<suffix>".
std::string NumberedFile(const std::string& prefix, const std::string& suffix) {
    std::string text = "[Item]\r\n";
    for (int item : kAllItems) {
        char name[8];
        std::snprintf(name, sizeof name, "%04d", item);
        text += std::string(name) + " = " + prefix + std::to_string(item) + suffix + "\r\n";
    }
    return text;
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class LanguageTest : public ScratchDirTest {
  protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        PowerRecordsReset();
        CloseLanguage();
    }
    void TearDown() override {
        CloseLanguage();
        for (int* panel : {&gAboutPanel, &gCommPanel, &gWaitPanel, &gMainPanel}) {
            if (*panel > 0) {
                DiscardPanel(*panel);
            }
            *panel = 0;
        }
        gMainMenu = 0;
        PowerRecordsReset();
        ScratchDirTest::TearDown();
    }
    // The real window, menu bar and dialogs, as the program shows them.
    void LoadPanels(int language) {
        std::filesystem::copy_file(Env("VX52_BIN_DIR") + "/" + UIR_FILE, UIR_FILE);
        gPowerInfo.language = language;
        ASSERT_EQ(0, AppLoadAndShowPanels());
        gAboutPanel = LoadPanel(0, UIR_FILE, ABOUTPANEL);
        ASSERT_GT(gAboutPanel, 0);
    }
    void ExpectNumbered(const std::vector<Target>& targets, const std::string& prefix,
                        const std::string& suffix) {
        for (const Target& t : targets) {
            EXPECT_EQ(prefix + std::to_string(t.item) + suffix, Shown(t)) << "item " << t.item;
        }
    }
};

} // namespace

TEST_F(LanguageTest, ItemsAreNamedWithFourDigitsAndReadRaw) {
    WriteFile("English.dat", "[Item]\r\n0001 = one\r\n1 = short\r\n002 = short\r\n"
                             "0189 = \"  quoted \\n text \"\r\n0299 = C:\\dir\\\r\n");
    WriteFile("Chinese.dat", "[Item]\r\n0001 = chinese\r\n");
    char buffer[256] = "untouched";
    EXPECT_EQ(0, ReadItem(1, buffer)); // nothing open: buffer stays
    EXPECT_STREQ("untouched", buffer);

    OpenLanguage(1);
    EXPECT_EQ(1, gInifileHandleState);
    EXPECT_EQ(1, ReadItem(1, buffer));
    EXPECT_STREQ("one", buffer);
    EXPECT_STREQ("0001", gIniItemStr);
    EXPECT_EQ(0, ReadItem(2, buffer)); // "002" is another name
    EXPECT_STREQ("", buffer);
    ReadItem(189, buffer);
    EXPECT_STREQ("  quoted \\n text ", buffer);
    ReadItem(299, buffer);
    EXPECT_STREQ("C:\\dir\\", buffer);
    for (int language : {0, 7, -1}) {
        OpenLanguage(language); // closes the previous store first
        ReadItem(1, buffer);
        EXPECT_STREQ("chinese", buffer) << language;
    }
    CloseLanguage();
    EXPECT_EQ(0, gInifileHandleState);
    EXPECT_EQ(nullptr, gInifileHandle);

    // A missing file gives an open but empty table.
    std::filesystem::remove("English.dat");
    EXPECT_EQ(INI_ERR_OPEN, OpenLanguage(1));
    std::strcpy(buffer, "old");
    EXPECT_EQ(0, ReadItem(1, buffer));
    EXPECT_STREQ("", buffer);
    CloseLanguage();
}

TEST_F(LanguageTest, EveryEnglishTextReachesItsTarget) {
    WriteFile("English.dat", NumberedFile("T", ""));
    LoadPanels(1); // an English start labels the main window
    ExpectNumbered(kMainTargets, "T", "");
    StrAlarmLanguageSet();
    PanelCommSetLanguageSet();
    PanelAboutLanguageSet();
    PanelWaitLanguageSet();
    for (const auto* targets : {&kAlarmTargets, &kCommTargets, &kAboutTargets, &kWaitTargets}) {
        ExpectNumbered(*targets, "T", "");
    }
    EXPECT_EQ(0, gInifileHandleState);
}

TEST_F(LanguageTest, ChineseTextsAreConvertedFromGbk) {
    // "中" is D6 D0 in GBK; a byte that is no GBK character shows as U+FFFD.
    WriteFile("Chinese.dat", NumberedFile("\xD6\xD0", "\xFF"));
    LoadPanels(0);
    PanelMainLanguageSet();
    StrAlarmLanguageSet();
    PanelCommSetLanguageSet();
    PanelAboutLanguageSet();
    PanelWaitLanguageSet();
    for (const auto* targets :
         {&kMainTargets, &kAlarmTargets, &kCommTargets, &kAboutTargets, &kWaitTargets}) {
        ExpectNumbered(*targets, "\xE4\xB8\xAD", "\xEF\xBF\xBD");
    }
}

TEST_F(LanguageTest, MissingLanguageFileEmptiesEveryText) {
    LoadPanels(0);
    gPowerInfo.language = 1; // English chosen, "English.dat" absent
    PanelMainLanguageSet();
    PanelCommSetLanguageSet();
    for (const auto* targets : {&kMainTargets, &kCommTargets}) {
        for (const Target& t : *targets) {
            EXPECT_EQ("", Shown(t)) << "item " << t.item;
        }
    }
}

TEST_F(LanguageTest, ShippedFilesHoldEveryItemAndTheLayoutSpeaksChineseDat) {
    // The shipped Chinese.dat (GBK) must show exactly what its UTF-8 source says,
    // and the layout's own texts must already be those texts.
    IniStore* source = Ini_New(0);
    ASSERT_EQ(0, Ini_ReadFromFile(
                     source, (Env("VX52_SOURCE_DIR") + "/data/lang/Chinese.utf8.dat").c_str()));
    auto expected = [&](int item) {
        char name[8];
        char text[256];
        std::snprintf(name, sizeof name, "%04d", item);
        EXPECT_EQ(1, Ini_GetRawStringIntoBuffer(source, "Item", name, text, sizeof text)) << item;
        return std::string(text);
    };
    for (const char* file : {"Chinese.dat", "English.dat"}) {
        std::filesystem::copy_file(Env("VX52_BIN_DIR") + "/" + file, file);
    }
    LoadPanels(0);
    const std::vector<const std::vector<Target>*> all = {&kMainTargets, &kCommTargets,
                                                         &kAboutTargets, &kWaitTargets};
    // A menu text that doubles as a window title shows there without its mnemonic.
    auto shownAs = [&](const Target& t) {
        const std::string text = expected(t.item);
        return t.kind == TITLE ? std::regex_replace(text, std::regex(R"(\(&.\)|&)"), "") : text;
    };
    for (const auto* targets : all) {
        for (const Target& t : *targets) {
            EXPECT_EQ(shownAs(t), Shown(t)) << "layout text of item " << t.item;
        }
    }
    PanelMainLanguageSet();
    StrAlarmLanguageSet();
    PanelCommSetLanguageSet();
    PanelAboutLanguageSet();
    PanelWaitLanguageSet();
    for (const auto* targets : all) {
        for (const Target& t : *targets) {
            EXPECT_EQ(shownAs(t), Shown(t)) << "Chinese.dat item " << t.item;
        }
    }
    EXPECT_EQ(expected(299), Shown(kAlarmTargets[0]));
    Ini_Dispose(source);

    OpenLanguage(1);
    for (int item : kAllItems) {
        char text[256];
        EXPECT_EQ(1, ReadItem(item, text)) << "English.dat lacks item " << item;
    }
    CloseLanguage();
}

// The program's own texts (0600-0699): every item in both files, not empty,
// with the same "{name}" marks, so no message loses its file or its reason in
// one language.
TEST(OwnTexts, BothFilesHoldEveryItemWithTheSameMarks) {
    auto read = [](const std::string& path) {
        std::map<int, std::set<std::string>> marks;
        std::ifstream in(path);
        const std::regex item(R"(^(06\d\d) = (.*[^\s])\s*$)"), mark(R"(\{[a-z]+\})");
        std::smatch m;
        for (std::string line; std::getline(in, line);) {
            if (!std::regex_match(line, m, item)) {
                continue;
            }
            const std::string text = m[2];
            std::set<std::string>& found = marks[std::stoi(m[1])];
            for (std::sregex_iterator i(text.begin(), text.end(), mark), e; i != e; ++i) {
                found.insert(i->str());
            }
        }
        return marks;
    };
    const std::string lang = Env("VX52_SOURCE_DIR") + "/data/lang/";
    const auto english = read(lang + "English.dat");
    const auto chinese = read(lang + "Chinese.utf8.dat");
    EXPECT_EQ(english, chinese);
    for (int item :
         {TEXT_WARNING, TEXT_WRITE_EXIT_SOFTSET, TEXT_LOG_STOPPED, TEXT_PORT_NOT_SERIAL}) {
        EXPECT_EQ(1u, english.count(item)) << item;
    }
}

// A message is filled in from the language in force; where its file lacks the
// item the English text stands in, and where both lack it the number and the
// values, never an empty box.
TEST_F(LanguageTest, MessagesFillInAndFallBackToSomethingReadable) {
    for (const char* file : {"Chinese.dat", "English.dat"}) {
        std::filesystem::copy_file(Env("VX52_BIN_DIR") + "/" + file, file);
    }
    const TextValues values = {{"file", "Set.Dat"}, {"reason", "Is a directory"}};
    const std::string english = "The link and language settings could not be saved to "
                                "\"Set.Dat\": Is a directory. The next start will not use them.";
    const struct {
        const char* chineseFile; // nullptr: the shipped one
        bool englishFile;
        int language;
        std::string expected;
    } cases[] = {
        {nullptr, true, 1, english},
        {nullptr, true, 0,
         "通讯和语言设置未能保存到“Set.Dat”：Is a directory。下次启动时不会使用这些设置。"},
        {"[Item]\r\n0001 = x\r\n", true, 0, english},
        {"[Item]\r\n0001 = x\r\n", false, 0, "[0605] Set.Dat Is a directory"},
        {"[Item]\r\n0001 = x\r\n", false, 1, "[0605] Set.Dat Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        if (c.chineseFile != nullptr) {
            WriteFile("Chinese.dat", c.chineseFile);
        }
        if (!c.englishFile) {
            std::filesystem::remove("English.dat");
        }
        gPowerInfo.language = c.language;
        EXPECT_EQ(c.expected, LanguageMessage(TEXT_WRITE_EXIT_SOFTSET, values));
        EXPECT_EQ(0, gInifileHandleState);
    }
    EXPECT_EQ("", LanguageText(TEXT_WRITE_EXIT_SOFTSET)) << "a plain text stays empty";
}

// The alarms page quotes the alarm text word for word, so an operator who looks
// it up finds it.
TEST(HelpDocuments, QuoteTheAlarmTextOfTheirLanguage) {
    const std::string source = Env("VX52_SOURCE_DIR");
    for (const auto& [lang, page] :
         {std::pair<const char*, const char*>{"English.dat", "en"}, {"Chinese.utf8.dat", "cn"}}) {
        const std::string items = ScratchDirTest::ReadFile(source + "/data/lang/" + lang);
        const size_t at = items.find("\n0299 = ");
        ASSERT_NE(std::string::npos, at) << lang;
        const size_t from = at + std::strlen("\n0299 = ");
        std::string text = items.substr(from, items.find('\n', from) - from);
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        const std::string html =
            ScratchDirTest::ReadFile(source + "/data/help/" + page + "/alarms.html");
        EXPECT_NE(std::string::npos, html.find(text)) << page << " lacks: " << text;
    }
}

TEST(HelpDocuments, BothLanguagesAreCompiledBesideTheProgram) {
    for (const char* name : {"Vx52P_PC_Software_EN.chm", "Vx52P_PC_Software_CN.chm"}) {
        std::string bytes = ScratchDirTest::ReadFile(Env("VX52_BIN_DIR") + "/" + name);
        ASSERT_GT(bytes.size(), 4096u) << name;
        EXPECT_EQ("ITSF", bytes.substr(0, 4)) << name;
        // Every topic page is in the document.
        for (const char* page : {"/index.html", "/connect.html", "/output.html", "/alarms.html",
                                 "/charts.html", "/files.html"}) {
            EXPECT_NE(std::string::npos, bytes.find(page)) << name << " lacks " << page;
        }
    }
}
