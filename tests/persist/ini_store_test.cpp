// The INI text store: line reader, classification, look-up, put/get, writing,
// continuation lines, double-byte text and replacing files.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

#include "ScratchDir.h"
#include "persist/IniStore.h"

namespace {

using StorePtr = std::unique_ptr<IniStore, void (*)(IniStore*)>;

StorePtr NewStore() {
    return StorePtr(Ini_New(0), Ini_Dispose);
}

// Bytes handed out a few at a time, so block refills fall inside lines and pairs.
struct MemorySource {
    std::string data;
    size_t position = 0;
    size_t step = 2048;
    bool failAtEnd = false;
};

int MemoryBytes(void* context, char* buffer, int count) {
    auto* source = static_cast<MemorySource*>(context);
    size_t n = std::min(
        {static_cast<size_t>(count), source->step, source->data.size() - source->position});
    if (n == 0 && source->failAtEnd) {
        return INI_ERR_READ;
    }
    std::memcpy(buffer, source->data.data() + source->position, n);
    source->position += n;
    return static_cast<int>(n);
}

std::vector<std::string> ReadLines(MemorySource source, int* status = nullptr) {
    LineFile* reader = LineFile_New(MemoryBytes, &source);
    std::vector<std::string> lines;
    for (;;) {
        char line[INI_MAX_LINE + 1];
        int bytes = -1;
        int end = 0;
        int s = LineFile_Read(reader, line, INI_MAX_LINE, &bytes, &end);
        if (s < 0 || end) {
            if (status != nullptr) {
                *status = s;
            }
            break;
        }
        EXPECT_EQ(static_cast<size_t>(bytes), std::strlen(line));
        lines.emplace_back(line);
    }
    EXPECT_EQ(static_cast<int>(lines.size()), LineFile_NumLinesRead(reader));
    LineFile_Dispose(reader);
    return lines;
}

int StringSink(void* context, const char* line) {
    *static_cast<std::string*>(context) += std::string(line) + "\r\n";
    return 0;
}

std::string Dump(IniStore* store) {
    std::string text;
    EXPECT_EQ(0, Ini_WriteGeneric(store, StringSink, &text));
    return text;
}

class IniStoreTest : public ScratchDirTest {
  protected:
    StorePtr Parse(const std::string& text) {
        WriteFile("in.ini", text);
        StorePtr store = NewStore();
        EXPECT_GE(Ini_ReadFromFile(store.get(), "in.ini"), 0);
        return store;
    }
};

} // namespace

TEST(IniLineFile, EveryLineEndFormReadsAlike) {
    using Lines = std::vector<std::string>;
    for (const char* end : {"\r\n", "\n", "\r", "\n\r"}) {
        for (size_t step : {size_t{1}, size_t{2048}}) {
            std::string e = end;
            MemorySource source{"a" + e + "b" + e + e + "c", 0, step};
            EXPECT_EQ((Lines{"a", "b", "", "c"}), ReadLines(source)) << "step " << step;
        }
    }
    // Two equal line-end bytes are two line ends; a NUL ends a line too.
    EXPECT_EQ((Lines{"a", "", "b"}), ReadLines({"a\r\rb\r\n"}));
    EXPECT_EQ((Lines{"a", "b"}), ReadLines({std::string("a\0b", 3)}));
    // An empty first line is a line of its own, not half of a pair.
    EXPECT_EQ((Lines{"", "x"}), ReadLines({"\nx"}));
    EXPECT_EQ((Lines{}), ReadLines({""}));
}

TEST(IniLineFile, LongLinesKeepTheirFirstBytesAndWholeCharacters) {
    for (size_t step : {size_t{1}, size_t{7}, size_t{2048}}) {
        std::vector<std::string> lines = ReadLines({std::string(300, 'a') + "\nnext\n", 0, step});
        ASSERT_EQ(2u, lines.size());
        EXPECT_EQ(std::string(255, 'a'), lines[0]);
        EXPECT_EQ("next", lines[1]);
        // A character that would straddle the limit is dropped whole.
        lines = ReadLines({std::string(254, 'a') + "\xB0\xA1zz\n", 0, step});
        EXPECT_EQ(std::string(254, 'a'), lines[0]);
        // A character that fits is kept, and so is a lone lead byte at the line end.
        lines = ReadLines(
            {std::string(253, 'a') + "\xB0\xA1\n" + std::string(254, 'b') + "\xB0\n", 0, step});
        EXPECT_EQ(std::string(253, 'a') + "\xB0\xA1", lines[0]);
        EXPECT_EQ(std::string(254, 'b') + "\xB0", lines[1]);
    }
}

TEST(IniLineFile, SourceErrorStopsTheRead) {
    int status = 0;
    MemorySource source{"a\nb", 0, 2048, true};
    // "b" is cut short by the error, so it is not handed out as a line.
    EXPECT_EQ((std::vector<std::string>{"a"}), ReadLines(source, &status));
    EXPECT_EQ(INI_ERR_READ, status);
}

TEST_F(IniStoreTest, FileLineEndsAndMissingLastLineEndGiveTheSameStore) {
    const std::string expected = "[Value]\r\nVol = 2200\r\nFreq = 500\r\n\r\n";
    for (const char* end : {"\r\n", "\n", "\r", "\n\r"}) {
        std::string e = end;
        StorePtr store = Parse("[Value]" + e + "Vol=2200" + e + "Freq  =  500");
        EXPECT_EQ(expected, Dump(store.get()));
        int32_t freq = 0;
        EXPECT_EQ(1, Ini_GetInt(store.get(), "Value", "Freq", &freq));
        EXPECT_EQ(500, freq);
        EXPECT_EQ(3, Ini_LineOfLastAccess(store.get()));
    }
}

TEST_F(IniStoreTest, LookUpIgnoresCaseAndSurroundingBlanks) {
    StorePtr store = Parse("[  Value  ]\r\n  VOL = 1\r\nvol = 2\r\n");
    int32_t v = 0;
    EXPECT_EQ(1, Ini_GetInt(store.get(), "Value", "Vol", &v));
    EXPECT_EQ(1, v); // first of two equal names
    EXPECT_EQ(1, Ini_GetInt(store.get(), " value\t", " vOl ", &v));
    EXPECT_EQ(0, Ini_GetInt(store.get(), "Valu", "Vol", &v));
    EXPECT_EQ(0, Ini_GetInt(store.get(), "Value", "Vo", &v));
}

TEST_F(IniStoreTest, DoubleByteCharactersAreScannedAsOneUnit) {
    // 0xB0 0x5D is one character whose second byte equals "]"; 0x81 0x41 and
    // 0x81 0x61 are two characters whose second bytes look like "A" and "a".
    StorePtr store = Parse("[\xB0\x5D]\r\n\x81\x41=1\r\n\x81\x61=2\r\n[\xB0]\r\nX=3\r\n");
    int32_t v = 0;
    EXPECT_EQ(1, Ini_GetInt(store.get(), "\xB0\x5D", "\x81\x61", &v));
    EXPECT_EQ(2, v);
    // "[" + lead byte + "]" has no closing bracket: X belongs to the first section.
    EXPECT_EQ(1, Ini_GetInt(store.get(), "\xB0\x5D", "X", &v));
    EXPECT_EQ(3, v);
}

TEST_F(IniStoreTest, PutKeepsPositionsCommentsReplacesDuplicatesAndAppends) {
    StorePtr store = Parse("[A]\r\nx=1\r\n; c1\r\nfreq=2\r\ny=3\r\n; c2\r\nFREQ=4\r\n"
                           "[B]\r\n; bench 3\r\nz=5\r\n");
    EXPECT_EQ(0, Ini_PutInt(store.get(), "a", "Freq", -600));
    EXPECT_EQ(0, Ini_PutInt(store.get(), "A", "New", 7));
    EXPECT_EQ(0, Ini_PutInt(store.get(), "C", "Vol", 2147483647));
    EXPECT_EQ(0, Ini_PutInt(store.get(), "B", "z", 0));
    EXPECT_EQ("[A]\r\nx = 1\r\n; c1\r\nFreq = -600\r\ny = 3\r\nNew = 7\r\n\r\n"
              "[B]\r\n; bench 3\r\nz = 0\r\n\r\n[C]\r\nVol = 2147483647\r\n\r\n",
              Dump(store.get()));
}

TEST_F(IniStoreTest, PutStringReadsBackAsGivenQuotedOnlyWhereNeeded) {
    StorePtr store = NewStore();
    const char* texts[] = {"127.0.0.1", " padded ", "", "\"quoted\""};
    for (size_t i = 0; i < std::size(texts); ++i) {
        EXPECT_EQ(0, Ini_PutString(store.get(), "S", ("T" + std::to_string(i)).c_str(), texts[i]));
    }
    EXPECT_EQ(
        "[S]\r\nT0 = 127.0.0.1\r\nT1 = \" padded \"\r\nT2 = \"\"\r\nT3 = \"\"quoted\"\"\r\n\r\n",
        Dump(store.get()));
    StorePtr back = Parse(Dump(store.get()));
    for (size_t i = 0; i < std::size(texts); ++i) {
        char buffer[32];
        Ini_GetRawStringIntoBuffer(back.get(), "S", ("T" + std::to_string(i)).c_str(), buffer,
                                   sizeof buffer);
        EXPECT_STREQ(texts[i], buffer);
    }
}

TEST_F(IniStoreTest, GetIntAcceptsOnlyStrictDecimalIntegers) {
    struct Case {
        const char* text;
        int status;
        int32_t value;
    };
    const Case cases[] = {
        {"65", 1, 65},
        {"\"65\"", 1, 65},
        {"\"  +007  \"", 1, 7},
        {"-2147483648", 1, INT32_MIN},
        {"2147483647", 1, INT32_MAX},
        {"000", 1, 0},
        {"65 ;remark", INI_ERR_NOT_INTEGER, 0},
        {"0x41", INI_ERR_NOT_INTEGER, 0},
        {"6 5", INI_ERR_NOT_INTEGER, 0},
        {"+", INI_ERR_NOT_INTEGER, 0},
        {"- 5", INI_ERR_NOT_INTEGER, 0},
        {"--5", INI_ERR_NOT_INTEGER, 0},
        {"2147483648", INI_ERR_NOT_INTEGER, 0},
        {"-2147483649", INI_ERR_NOT_INTEGER, 0},
        {"4294967296", INI_ERR_NOT_INTEGER, 0},
        {"99999999999999999999", INI_ERR_NOT_INTEGER, 0},
        {"5.0", INI_ERR_NOT_INTEGER, 0},
        {"1e3", INI_ERR_NOT_INTEGER, 0},
        {"\"   \"", 0, 0},
    };
    for (const Case& c : cases) {
        StorePtr store = Parse(std::string("[S]\r\nItem = ") + c.text + "\r\n");
        int32_t v = 12345;
        EXPECT_EQ(c.status, Ini_GetInt(store.get(), "S", "Item", &v)) << c.text;
        EXPECT_EQ(c.status == 1 ? c.value : 12345, v) << c.text;
    }
    // A line with the separator but no value is no item at all.
    StorePtr store = Parse("[S]\r\nVol =\r\n");
    int32_t v = 9;
    EXPECT_EQ(0, Ini_GetInt(store.get(), "S", "Vol", &v));
    EXPECT_EQ(9, v);
}

TEST_F(IniStoreTest, WritingKeepsCommentsAndDropsStrayLines) {
    StorePtr store = Parse("; head 1\n  ; head 2\n\nstray=1\n[S] ; not a header\n"
                           "; about S\n[S]\nno separator\n\n; about a\na = 1 = 2\n"
                           "b=\"q\\d\"\n; tail\n");
    EXPECT_EQ("; head 1\r\n  ; head 2\r\n\r\n; about S\r\n[S]\r\n; about a\r\na = 1 = 2\r\n"
              "b = \"q\\d\"\r\n\r\n; tail\r\n",
              Dump(store.get()));
    char text[8];
    EXPECT_EQ(1, Ini_GetRawStringIntoBuffer(store.get(), "S", "b", text, sizeof text));
    EXPECT_STREQ("q\\d", text);
}

TEST_F(IniStoreTest, LongValuesBecomeContinuationLinesAndJoinBack) {
    std::string value;
    for (int i = 0; i < 200; ++i) {
        value += static_cast<char>('A' + i % 26);
    }
    StorePtr store = Parse("[S]\r\nText = \"" + value + "\"\r\nAfter = 1\r\n");
    EXPECT_EQ("[S]\r\nText Line0001 = \"" + value.substr(0, 80) + "\"\r\nText Line0002 = \"" +
                  value.substr(80, 80) + "\"\r\nText Line0003 = \"" + value.substr(160) +
                  "\"\r\nAfter = 1\r\n\r\n",
              Dump(store.get()));
    ASSERT_EQ(0, Ini_WriteToFile(store.get(), "out.ini"));
    StorePtr again = NewStore();
    ASSERT_EQ(0, Ini_ReadFromFile(again.get(), "out.ini"));
    char buffer[256];
    EXPECT_EQ(1, Ini_GetRawStringIntoBuffer(again.get(), "S", "Text", buffer, sizeof buffer));
    EXPECT_EQ(value, buffer);
    EXPECT_EQ(ReadFile("out.ini"), Dump(again.get()));
    // A run starts only at number 1; a second 1 starts a new item.
    store = Parse("[S]\r\nA Line0002 = x\r\nB Line1 = p\r\nB Line0003 = q\r\nC Line1 = r\r\n");
    EXPECT_EQ("[S]\r\nA Line0002 = x\r\nB = pq\r\nC = r\r\n\r\n", Dump(store.get()));
}

TEST_F(IniStoreTest, CutsNeverSplitADoubleByteCharacter) {
    // 79 ASCII bytes then a two-byte character: the first chunk stops at 79.
    std::string value = std::string(79, 'a') + "\xB0\xA1" + std::string(10, 'b');
    StorePtr store = Parse("[S]\r\nT Line0001 = " + value.substr(0, 60) +
                           "\r\nT Line0002 = " + value.substr(60) + "\r\n");
    EXPECT_EQ("[S]\r\nT Line0001 = " + std::string(79, 'a') + "\r\nT Line0002 = \xB0\xA1" +
                  std::string(10, 'b') + "\r\n\r\n",
              Dump(store.get()));
    // A raw copy into 255 bytes keeps at most 254, never half a character.
    std::string longText = std::string(253, 'c') + "\xB0\xA1";
    store = Parse("[S]\r\nT Line0001 = " + longText.substr(0, 200) +
                  "\r\nT Line0002 = " + longText.substr(200) + "\r\n");
    char buffer[255];
    EXPECT_EQ(1, Ini_GetRawStringIntoBuffer(store.get(), "S", "T", buffer, sizeof buffer));
    EXPECT_EQ(std::string(253, 'c'), buffer);
    char small[3];
    EXPECT_EQ(1, StringCopyMax(small, "a\xB0\xA1", sizeof small));
    EXPECT_EQ(2, StringCopyMax(small, "\xB0\xA1z", sizeof small));
    EXPECT_EQ(0, Ini_GetRawStringIntoBuffer(store.get(), "S", "none", small, sizeof small));
    EXPECT_STREQ("", small);
}

TEST_F(IniStoreTest, LongUnquotedValueWithBlanksAtTheCutsSurvivesARoundTrip) {
    // Each cut falls next to a blank, which reading would trim from an unquoted line.
    std::string value = std::string(79, 'x') + " " + std::string(79, 'y') + " z";
    StorePtr store = Parse("[S]\r\nT Line0001 = " + value.substr(0, 100) +
                           "\r\nT Line0002 = " + value.substr(100) + "\r\n");
    ASSERT_EQ(0, Ini_WriteToFile(store.get(), "out.ini"));
    StorePtr again = NewStore();
    ASSERT_EQ(0, Ini_ReadFromFile(again.get(), "out.ini"));
    char buffer[255];
    EXPECT_EQ(1, Ini_GetRawStringIntoBuffer(again.get(), "S", "T", buffer, sizeof buffer));
    EXPECT_EQ(value, buffer);
}

TEST_F(IniStoreTest, TokensCanBeChangedOneByOne) {
    StorePtr store = NewStore();
    EXPECT_EQ(0, Ini_SetTokens(store.get(), '<', 0, ":", nullptr));
    EXPECT_EQ(0, Ini_SetTokens(store.get(), 0, '>', "", "#-#-#-#-#"));
    WriteFile("in.ini", "#-#-#-#- c\r\n<S>\r\na: 1\r\n; b: 2\r\n");
    ASSERT_EQ(0, Ini_ReadFromFile(store.get(), "in.ini"));
    EXPECT_EQ("#-#-#-#- c\r\n<S>\r\na : 1\r\n; b : 2\r\n\r\n", Dump(store.get()));
}

TEST_F(IniStoreTest, StatusCodes) {
    int32_t v = 0;
    char text[4];
    EXPECT_EQ(INI_ERR_NULL_STORE, Ini_ReadFromFile(nullptr, "x"));
    EXPECT_EQ(INI_ERR_NULL_STORE, Ini_WriteToFile(nullptr, "x"));
    EXPECT_EQ(INI_ERR_NULL_STORE, Ini_PutInt(nullptr, "S", "I", 1));
    EXPECT_EQ(INI_ERR_NULL_STORE, Ini_GetInt(nullptr, "S", "I", &v));
    EXPECT_EQ(INI_ERR_NULL_STORE, Ini_GetRawStringIntoBuffer(nullptr, "S", "I", text, 4));
    EXPECT_EQ(INI_ERR_NULL_STORE, Ini_SetTokens(nullptr, '[', ']', "=", ";"));
    EXPECT_EQ(INI_ERR_NULL_STORE, Ini_WriteGeneric(nullptr, StringSink, nullptr));
    Ini_Dispose(nullptr);
    EXPECT_EQ("", Listing());

    StorePtr store = Parse("[S]\r\nI=1\r\n");
    EXPECT_EQ(INI_ERR_OPEN, Ini_ReadFromFile(store.get(), "missing.ini"));
    EXPECT_EQ(1, Ini_GetInt(store.get(), "S", "I", &v)); // store unchanged
    EXPECT_EQ(2, Ini_LineOfLastAccess(store.get()));
    EXPECT_EQ(-1, Ini_LineOfLastAccess(NewStore().get()));
    EXPECT_EQ(INI_ERR_PATH, Ini_WriteToFile(store.get(), "in.ini/below"));
}

TEST_F(IniStoreTest, WriteReplacesTheFileInOneStepAndLeavesNoTemporaryFile) {
    StorePtr store = Parse("[S]\r\nI=1\r\n");
    // A missing file is created; a foreign temporary-looking file is left alone.
    WriteFile("ini$$0.TMP", "someone else's");
    ASSERT_EQ(0, Ini_WriteToFile(store.get(), "new.ini"));
    EXPECT_EQ("[S]\r\nI = 1\r\n\r\n", ReadFile("new.ini"));
    EXPECT_EQ("someone else's", ReadFile("ini$$0.TMP"));
    EXPECT_EQ("in.ini ini$$0.TMP new.ini", Listing());

    // A file with its write bits taken away stays as it is, even for root.
    ASSERT_EQ(0, chmod("in.ini", 0444));
    EXPECT_EQ(INI_ERR_ACCESS, Ini_WriteToFile(store.get(), "in.ini"));
    EXPECT_EQ("[S]\r\nI=1\r\n", ReadFile("in.ini"));

    // Through a link the file is replaced, the link stays and the mode is kept.
    ASSERT_EQ(0, chmod("in.ini", 0640));
    std::filesystem::create_directory("sub");
    std::filesystem::create_symlink("../in.ini", "sub/link.ini");
    ASSERT_EQ(0, Ini_PutInt(store.get(), "S", "I", 2));
    ASSERT_EQ(0, Ini_WriteToFile(store.get(), "sub/link.ini"));
    EXPECT_TRUE(std::filesystem::is_symlink("sub/link.ini"));
    EXPECT_EQ("[S]\r\nI = 2\r\n\r\n", ReadFile("in.ini"));
    struct stat st;
    ASSERT_EQ(0, stat("in.ini", &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ("in.ini ini$$0.TMP new.ini sub", Listing());

    // With every temporary name taken the target is not touched.
    for (int i = 1; i < 1000; ++i) {
        WriteFile("sub/ini$$" + std::to_string(i) + ".TMP", "");
    }
    WriteFile("sub/ini$$0.TMP", "");
    EXPECT_EQ(INI_ERR_NO_TEMP_NAME, Ini_WriteToFile(store.get(), "sub/new.ini"));
    EXPECT_FALSE(std::filesystem::exists("sub/new.ini"));
}

TEST_F(IniStoreTest, FailedWriteKeepsTheOldFileWhole) {
    StorePtr store = Parse("[S]\r\nI=1\r\n");
    for (int i = 0; i < 2000; ++i) {
        Ini_PutInt(store.get(), "S", ("Item" + std::to_string(i)).c_str(), i);
    }
    // A file-size limit makes the temporary file's write fail part way.
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    int status = Ini_WriteToFile(store.get(), "in.ini");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(INI_ERR_IO, status);
    EXPECT_EQ("[S]\r\nI=1\r\n", ReadFile("in.ini"));
    EXPECT_EQ("in.ini", Listing());
}

TEST(IniGeneric, SourceAndSinkErrorsStopAndAreReturned) {
    StorePtr store = NewStore();
    MemorySource source{"[S]\nI=1\nJ=2", 0, 2048, true};
    LineFile* reader = LineFile_New(MemoryBytes, &source);
    auto lineSource = [](void* context, char* line, int max, int* end, int* number) {
        auto* r = static_cast<LineFile*>(context);
        int s = LineFile_Read(r, line, max, nullptr, end);
        *number = LineFile_NumLinesRead(r);
        return s;
    };
    EXPECT_EQ(INI_ERR_READ, Ini_ReadGeneric(store.get(), lineSource, reader));
    LineFile_Dispose(reader);
    int32_t v = 0;
    EXPECT_EQ(1, Ini_GetInt(store.get(), "S", "I", &v)); // what was read stays
    EXPECT_EQ(0, Ini_GetInt(store.get(), "S", "J", &v));
    int calls = 0;
    auto failingSink = [](void* context, const char*) {
        return ++*static_cast<int*>(context) == 2 ? INI_ERR_DISK_FULL : 0;
    };
    EXPECT_EQ(INI_ERR_DISK_FULL, Ini_WriteGeneric(store.get(), failingSink, &calls));
    EXPECT_EQ(2, calls);
}
