// Output-settings files, "Set.Dat" and the autosave: exact bytes, defaults,
// refusal of the other kind, repair of a refused file at start-up, failed saves.
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "ScratchDir.h"
#include "persist/RemoteSettings.h"
#include "persist/SettingsFiles.h"
#include "power/PowerRecords.h"

namespace {

const char kNormalExample[] =
    "[FileInfo]\r\nType = 65\r\n\r\n[Value]\r\nVol = 1200\r\nFreq = 600\r\n"
    "VolLevel = 0\r\nUp2U = 10\r\nDown2U = 10\r\n\r\n";
const char kSoftSetExample[] = "[FileInfo]\r\nType = 128\r\n\r\n[Value]\r\nSoftwareAddress = 1\r\n"
                               "CommTypeRS232Port = 3\r\nCommTypeRS232Baudrate = 9600\r\n"
                               "Language = 1\r\n\r\n";

class SettingsFilesTest : public ScratchDirTest {
  protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        PowerRecordsReset();
    }
    void TearDown() override {
        PowerRecordsReset();
        ScratchDirTest::TearDown();
    }
    static void SetOutput(int32_t vol, int32_t freq, int32_t level, int32_t up, int32_t down) {
        gNormal52PSet.vol = vol;
        gNormal52PSet.freq = freq;
        gNormal52PSet.volLevel = level;
        gNormal52PSet.up2U = up;
        gNormal52PSet.down2U = down;
    }
    static void SetLink(int32_t address, int32_t port, int32_t baud, int32_t language) {
        gPowerInfo.address = address;
        gPowerInfo.port = port;
        gPowerInfo.baudRate = baud;
        gPowerInfo.language = language;
    }
    static void ExpectOutput(int32_t vol, int32_t freq, int32_t level, int32_t up, int32_t down) {
        EXPECT_EQ(vol, gNormal52PSet.vol);
        EXPECT_EQ(freq, gNormal52PSet.freq);
        EXPECT_EQ(level, gNormal52PSet.volLevel);
        EXPECT_EQ(up, gNormal52PSet.up2U);
        EXPECT_EQ(down, gNormal52PSet.down2U);
    }
    static void ExpectLink(int32_t address, int32_t port, int32_t baud, int32_t language) {
        EXPECT_EQ(address, gPowerInfo.address);
        EXPECT_EQ(port, gPowerInfo.port);
        EXPECT_EQ(baud, gPowerInfo.baudRate);
        EXPECT_EQ(language, gPowerInfo.language);
    }
};

} // namespace

TEST_F(SettingsFilesTest, FirstStartWithoutFilesGivesTheDefaults) {
    EXPECT_EQ(0, FileReadSoftSet(SOFTSET_FILE));
    EXPECT_EQ(0, FileReadNormal52P(AUTOSAVE_FILE));
    ExpectLink(1, 1, 9600, 0);
    ExpectOutput(2200, 500, 0, 5, 5);
    EXPECT_EQ("", Listing());
}

TEST_F(SettingsFilesTest, NewFilesAreWrittenByteForByteAndReadBack) {
    SetOutput(1200, 600, 0, 10, 10);
    SetLink(1, 3, 9600, 1);
    EXPECT_EQ(1, FileWriteNormal52P("out.52P"));
    EXPECT_EQ(1, FileWriteSoftSet(SOFTSET_FILE));
    EXPECT_EQ(kNormalExample, ReadFile("out.52P"));
    EXPECT_EQ(kSoftSetExample, ReadFile(SOFTSET_FILE));

    PowerRecordsReset();
    EXPECT_EQ(1, FileReadNormal52P("out.52P"));
    EXPECT_EQ(1, FileReadSoftSet(SOFTSET_FILE));
    ExpectOutput(1200, 600, 0, 10, 10);
    ExpectLink(1, 3, 9600, 1);

    // Shutdown writes both fixed files.
    SetOutput(2300, 4000, 1, 30, 7);
    AutoSaveSetting();
    PowerRecordsReset();
    EXPECT_EQ(1, FileReadNormal52P(AUTOSAVE_FILE));
    ExpectOutput(2300, 4000, 1, 30, 7);
    EXPECT_EQ(kSoftSetExample, ReadFile(SOFTSET_FILE));
}

TEST_F(SettingsFilesTest, ReadingRepairsOutOfRangeAndKeepsFieldsOfMissingItems) {
    WriteFile(SOFTSET_FILE, "[FileInfo]\r\nType=128\r\n[Value]\r\nSoftwareAddress=17\r\n"
                            "CommTypeRS232Port=4\r\nCommTypeRS232Baudrate=300\r\nLanguage=7\r\n");
    EXPECT_EQ(1, FileReadSoftSet(SOFTSET_FILE));
    ExpectLink(17, 4, 9600, 0);

    SetOutput(1000, 600, 1, 12, 9);
    WriteFile("a.52P", "[FileInfo]\nType = \"65\"\n[Value]\nVol = 2300\nDown2U = x\n");
    EXPECT_EQ(1, FileReadNormal52P("a.52P"));
    ExpectOutput(2300, 600, 1, 12, 9);
}

TEST_F(SettingsFilesTest, FileOfTheOtherKindIsRefusedAndValidSettingsStay) {
    WriteFile(SOFTSET_FILE, kSoftSetExample);
    WriteFile("noType.52P", "[Value]\r\nVol = 1500\r\n");
    WriteFile("badType.52P", "[FileInfo]\r\nType = 65x\r\n[Value]\r\nVol = 1500\r\n");
    SetOutput(1100, 550, 1, 20, 25);
    SetLink(9, 2, 4800, 0);
    for (const char* path : {SOFTSET_FILE, "noType.52P", "badType.52P"}) {
        EXPECT_EQ(0, FileReadNormal52P(path)) << path;
        ExpectOutput(1100, 550, 1, 20, 25);
    }
    WriteFile("out.52P", kNormalExample);
    EXPECT_EQ(0, FileReadSoftSet("out.52P"));
    ExpectLink(9, 2, 4800, 0);
}

TEST_F(SettingsFilesTest, FileRefusedAtStartUpGetsTheDefaultsLikeAMissingOne) {
    // An output-settings file saved over "Set.Dat" and a "Set.Dat" copied over
    // the autosave file: both refused while the records are still all zero.
    WriteFile(AUTOSAVE_FILE, kSoftSetExample);
    SetLink(1, 3, 2400, 1);
    SetOutput(1200, 600, 0, 10, 10);
    EXPECT_EQ(1, FileWriteNormal52P(SOFTSET_FILE));
    EXPECT_EQ("[FileInfo]\r\nType = 65\r\n\r\n[Value]\r\nVol = 1200\r\nFreq = 600\r\n"
              "VolLevel = 0\r\nUp2U = 10\r\nDown2U = 10\r\n\r\n",
              ReadFile(SOFTSET_FILE));
    PowerRecordsReset();
    EXPECT_EQ(0, FileReadSoftSet(SOFTSET_FILE));
    EXPECT_EQ(0, FileReadNormal52P(AUTOSAVE_FILE));
    ExpectLink(1, 1, 9600, 0);
    ExpectOutput(2200, 500, 0, 5, 5);
}

TEST_F(SettingsFilesTest, SavingOverAnExistingFileKeepsWhatItHolds) {
    // Saving output settings onto "Set.Dat" keeps the link items and appends.
    WriteFile(SOFTSET_FILE, kSoftSetExample);
    SetOutput(1200, 600, 0, 10, 10);
    EXPECT_EQ(1, FileWriteNormal52P(SOFTSET_FILE));
    EXPECT_EQ("[FileInfo]\r\nType = 65\r\n\r\n[Value]\r\nSoftwareAddress = 1\r\n"
              "CommTypeRS232Port = 3\r\nCommTypeRS232Baudrate = 9600\r\nLanguage = 1\r\n"
              "Vol = 1200\r\nFreq = 600\r\nVolLevel = 0\r\nUp2U = 10\r\nDown2U = 10\r\n\r\n",
              ReadFile(SOFTSET_FILE));
    SetLink(5, 6, 1200, 1);
    EXPECT_EQ(0, FileReadSoftSet(SOFTSET_FILE));
    ExpectLink(5, 6, 1200, 1);

    // A hand-written file: comments and extra items stay, the program's items
    // change in place under their own names.
    WriteFile("hand.52P", "; my bench\n[fileinfo]\ntype=65\n[value]\nfreq=600\n"
                          "; keep\nNote=hello\n; bench 3 voltage\nvol=1000\n[Extra]\nA=1\n");
    EXPECT_EQ(1, FileReadNormal52P("hand.52P"));
    ExpectOutput(1000, 600, 0, 10, 10);
    gNormal52PSet.vol = 1300;
    EXPECT_EQ(1, FileWriteNormal52P("hand.52P"));
    EXPECT_EQ("; my bench\r\n[fileinfo]\r\nType = 65\r\n\r\n[value]\r\nFreq = 600\r\n"
              "; keep\r\nNote = hello\r\n; bench 3 voltage\r\nVol = 1300\r\nVolLevel = 0\r\n"
              "Up2U = 10\r\nDown2U = 10\r\n\r\n[Extra]\r\nA = 1\r\n\r\n",
              ReadFile("hand.52P"));
}

TEST_F(SettingsFilesTest, FailedSaveIsReportedWithItsReasonAndLeavesTheFile) {
    WriteFile("locked.52P", kNormalExample);
    ASSERT_EQ(0, chmod("locked.52P", 0444));
    WriteFile("unreadable.52P", kNormalExample);
    ASSERT_EQ(0, chmod("unreadable.52P", 0200));
    ASSERT_EQ(0, mkdir("folder.52P", 0755));
    SetOutput(2000, 500, 1, 5, 5);
    struct Case {
        const char* path;
        int error;
    };
    // A file that cannot be read is not written over; root can read it anyway.
    const Case cases[] = {{"locked.52P", EACCES},
                          {"no/such/dir/x.52P", ENOENT},
                          {"folder.52P", EISDIR},
                          {"unreadable.52P", geteuid() == 0 ? 0 : EACCES}};
    for (const Case& c : cases) {
        int error = 0;
        EXPECT_EQ(c.error == 0 ? 1 : 0, FileWriteNormal52P(c.path, &error)) << c.path;
        EXPECT_EQ(c.error, error) << c.path;
    }
    int error = 0;
    EXPECT_EQ(0, FileWriteSoftSet("folder.52P", &error));
    EXPECT_EQ(EISDIR, error);
    EXPECT_EQ(kNormalExample, ReadFile("locked.52P"));
    EXPECT_EQ("folder.52P locked.52P unreadable.52P", Listing());
}

TEST_F(SettingsFilesTest, RemoteSettingsAreExtraItemsOfSetDatThatOtherWritersKeep) {
    EXPECT_EQ(0, FileReadRemoteSet(SOFTSET_FILE));
    EXPECT_EQ(0, gRemoteSet.enabled);
    EXPECT_STREQ("127.0.0.1", gRemoteSet.address);
    EXPECT_EQ(5025, gRemoteSet.port);

    SetLink(1, 3, 9600, 1);
    gRemoteSet = RemoteSet{1, "0.0.0.0", 6000};
    ASSERT_EQ(1, FileWriteRemoteSet(SOFTSET_FILE));
    const std::string withRemote =
        std::string(kSoftSetExample) +
        "[Remote]\r\nEnable = 1\r\nPort = 6000\r\nAddress = 0.0.0.0\r\n\r\n";
    EXPECT_EQ(withRemote, ReadFile(SOFTSET_FILE));
    // The shutdown's write of "Set.Dat" knows nothing of them and keeps them.
    ASSERT_EQ(1, FileWriteSoftSet(SOFTSET_FILE));
    EXPECT_EQ(withRemote, ReadFile(SOFTSET_FILE));
    gRemoteSet = RemoteSet{};
    EXPECT_EQ(1, FileReadRemoteSet(SOFTSET_FILE));
    EXPECT_EQ(1, gRemoteSet.enabled);
    EXPECT_STREQ("0.0.0.0", gRemoteSet.address);
    EXPECT_EQ(6000, gRemoteSet.port);

    WriteFile(SOFTSET_FILE, std::string(kSoftSetExample) +
                                "[Remote]\r\nEnable = 7\r\nPort = 0\r\nAddress = 1.2.3.256\r\n");
    EXPECT_EQ(1, FileReadRemoteSet(SOFTSET_FILE));
    EXPECT_EQ(0, gRemoteSet.enabled);
    EXPECT_STREQ("127.0.0.1", gRemoteSet.address);
    EXPECT_EQ(5025, gRemoteSet.port);
}
