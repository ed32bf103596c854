// The data log from the operator's side: the File menu starts and stops it,
// a value typed on the front panel is in the log, a log that can no longer be
// written stops with a message naming file and reason while the program goes
// on, and the --log option.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>

#include "UiTestSupport.h"
#include "app/CommandLine.h"
#include "app/MenuDialogs.h"
#include "app/Recording.h"
#include "app/Shell.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "record/DataLog.h"
#include "ui/Vx52PSoftUi.h"

using vx52test::MainWindowTest;
using vx52test::ScratchDir;

namespace {

class RecordingTest : public MainWindowTest {
  protected:
    int ItemDimmed(int item) {
        int v = -1;
        GetMenuBarAttribute(gMainMenu, item, ATTR_DIMMED, &v);
        return v;
    }
    std::string Path() const { return scratch_->path() + "/Vx52Log.csv"; }
};

TEST_F(RecordingTest, MenuStartsAndStopsAndAFailedWriteStopsWithAMessage) {
    const std::string path_ = Path();
    EXPECT_EQ(0, ItemDimmed(MENUBAR_FILE_LOG_START));
    EXPECT_EQ(1, ItemDimmed(MENUBAR_FILE_LOG_STOP));
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    popups_.filePath = path_;
    ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOG_START));
    ASSERT_EQ((std::vector<int>{VAL_SELECT_BUTTON}), popups_.fileButtons)
        << "choosing a file never asks about replacing it";
    EXPECT_EQ(1, ItemDimmed(MENUBAR_FILE_LOG_START));
    EXPECT_EQ(0, ItemDimmed(MENUBAR_FILE_LOG_STOP));

    TypeAndCommit(PANEL_NUM_VOL, "230.0");
    EXPECT_NE(std::string::npos,
              ScratchDir::ReadFile(path_).find(",event,,,,,,,,,,set_change,u_v 220.0->230.0\n"));

    // The descriptor goes behind the log's back; the next row fails.
    ASSERT_EQ(0, close(DataLogDescriptor()));
    TypeAndCommit(PANEL_NUM_VOL, "231.0");
    EXPECT_EQ(0, RecordingIsOn());
    EXPECT_TRUE(popups_.messages.empty()) << "no box in the middle of a handler";
    UiProcessEvents();
    ASSERT_EQ(1u, popups_.messages.size());
    EXPECT_EQ("警告|" + RecordingFailureText(true, path_, EBADF, false), popups_.messages[0]);
    EXPECT_NE(std::string::npos, popups_.messages[0].find(path_));
    EXPECT_NE(std::string::npos, popups_.messages[0].find(std::strerror(EBADF)));
    EXPECT_EQ(0, ItemDimmed(MENUBAR_FILE_LOG_START)) << "the operator may start another";
    TypeAndCommit(PANEL_NUM_VOL, "232.0");
    EXPECT_EQ(2320, gNormal52PSet.vol) << "the program goes on";

    // Started again, it appends; stopped, it says so in its last row.
    ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOG_START));
    ASSERT_EQ(0, UiTriggerMenuItem(gMainMenu, MENUBAR_FILE_LOG_STOP));
    const std::string text = ScratchDir::ReadFile(path_);
    EXPECT_EQ(0u, text.find(DataLogHeader() + "\n"));
    EXPECT_EQ(text.find("time,"), text.rfind("time,"));
    EXPECT_EQ(text.size() - std::strlen(",event,,,,,,,,,,log_stop,\n"),
              text.rfind(",event,,,,,,,,,,log_stop,\n"));
}

TEST(CommandLineTest, LogOptionAndWrongOptions) {
    struct {
        std::vector<const char*> args;
        int status;
        const char* logFile;
        const char* said;
    } cases[] = {
        {{"--log", "run.csv"}, kCommandLineGoOn, "run.csv", ""},
        {{"--log=/tmp/a b.csv", "-platform", "offscreen"}, kCommandLineGoOn, "/tmp/a b.csv", ""},
        {{}, kCommandLineGoOn, "", ""},
        {{"--log"}, 255, "", "Vx52PSoft: option --log needs FILE (see --help)\n"},
        {{"--log="}, 255, "", "Vx52PSoft: option --log needs FILE (see --help)\n"},
        {{"--logs", "x"}, 255, "", "Vx52PSoft: unknown option --logs (see --help)\n"},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv{const_cast<char*>("Vx52PSoft")};
        for (const char* a : c.args) {
            argv.push_back(const_cast<char*>(a));
        }
        char* said = nullptr;
        size_t saidSize = 0;
        std::FILE* err = open_memstream(&said, &saidSize);
        const int status = CommandLineRead(static_cast<int>(argv.size()), argv.data(), stdout, err);
        std::fclose(err);
        const std::string where = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(c.status, status) << where;
        EXPECT_EQ(c.said, std::string(said)) << where;
        if (status == kCommandLineGoOn) {
            EXPECT_EQ(c.logFile, CommandLineLogFile()) << where;
        }
        std::free(said);
    }
}

} // namespace
