// The command line: the program's own long options, and everything else left
// to the toolkit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/CommandLine.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome Read(std::vector<std::string> args) {
    args.insert(args.begin(), "Vx52PSoft");
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    char* outText = nullptr;
    char* errText = nullptr;
    size_t outSize = 0, errSize = 0;
    std::FILE* out = open_memstream(&outText, &outSize);
    std::FILE* err = open_memstream(&errText, &errSize);
    const int status = CommandLineRead(static_cast<int>(args.size()), argv.data(), out, err);
    std::fclose(out);
    std::fclose(err);
    Outcome o{status, outText, errText};
    std::free(outText);
    std::free(errText);
    return o;
}

TEST(CommandLine, OwnOptionsActOrAreRefusedAndTheRestGoesOn) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* outHas; // "" for no output
        const char* errHas;
    } const cases[] = {
        {{}, kCommandLineGoOn, "", ""},
        {{"--version"}, 0, "Vx52PSoft 1.", ""},
        {{"--help"}, 0, "--version", ""},
        // The toolkit's options and their values, and anything after "--".
        {{"-platform", "offscreen", "file.52P", "--", "--bogus"}, kCommandLineGoOn, "", ""},
        {{"--bogus"}, 255, "", "unknown option --bogus"},
        {{"--version=2"}, 255, "", "--version takes no value"},
        {{"--bogus", "--version"}, 255, "", "--bogus"},
    };
    for (const Case& c : cases) {
        const Outcome o = Read(c.args);
        const std::string line = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(c.status, o.status) << line;
        EXPECT_NE(std::string::npos, o.out.find(c.outHas)) << line << ": " << o.out;
        EXPECT_EQ(*c.outHas == '\0', o.out.empty()) << line;
        EXPECT_NE(std::string::npos, o.err.find(c.errHas)) << line << ": " << o.err;
        EXPECT_EQ(*c.errHas == '\0', o.err.empty()) << line;
    }
}

TEST(CommandLine, RemoteOptionAndItsRefusals) {
    const struct {
        std::vector<std::string> args;
        const char* address; // nullptr: refused
        int port;
    } cases[] = {
        {{"--remote", "5025"}, "127.0.0.1", 5025},
        {{"--remote=0.0.0.0:6000", "-platform", "offscreen"}, "0.0.0.0", 6000},
        {{"--remote", "[::1]:65535"}, "::1", 65535},
        {{"-platform", "offscreen", "--", "--remote"}, "", 0}, // not given
        {{"--remote", "0"}, nullptr, 0},
        {{"--remote", "65536"}, nullptr, 0},
        {{"--remote", "localhost:5025"}, nullptr, 0},
        {{"--remote", "10.0.0.300:5025"}, nullptr, 0},
        {{"--remote", "::1:5025"}, nullptr, 0},
        {{"--remote"}, nullptr, 0},
    };
    for (const auto& c : cases) {
        const Outcome o = Read(c.args);
        const std::string what = c.args.back();
        const CommandLineRemote& r = CommandLineRemoteServer();
        if (c.address == nullptr) {
            EXPECT_EQ(255, o.status) << what;
            EXPECT_EQ(0u, o.err.rfind("Vx52PSoft: ", 0)) << what;
            EXPECT_EQ(1, std::count(o.err.begin(), o.err.end(), '\n')) << o.err;
            EXPECT_EQ(0, r.given) << what;
            continue;
        }
        EXPECT_EQ(kCommandLineGoOn, o.status) << what;
        EXPECT_EQ("", o.err) << what;
        EXPECT_EQ(c.port != 0 ? 1 : 0, r.given) << what;
        EXPECT_EQ(c.address, r.address) << what;
        EXPECT_EQ(c.port, r.port) << what;
    }
}

// Everything is written in the working folder: one it could not use ends the
// start at once, in one line, and the process stays where it was.
TEST(CommandLine, WorkdirRefusals) {
    char file[] = "/tmp/vx52-workdir-XXXXXX";
    const int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::filesystem::path before = std::filesystem::current_path();
    const struct {
        std::string dir;
        const char* why;
    } cases[] = {
        {"/nonexistent/vx52", "No such file or directory"},
        {file, "not a folder"},
        // Read-only even for root, which passes any permission bits.
        {"/proc/1", "no write access"},
    };
    for (const auto& c : cases) {
        const Outcome o = Read({"--workdir", c.dir, "--headless"});
        EXPECT_EQ(255, o.status) << c.dir;
        EXPECT_EQ("Vx52PSoft: cannot work in " + c.dir + ": " + c.why + "\n", o.err);
        EXPECT_EQ(before, std::filesystem::current_path());
    }
    std::remove(file);
}

} // namespace

TEST(CommandLine, SequenceOptionsAndTheirRefusals) {
    const struct {
        std::vector<std::string> args;
        const char* errHas; // nullptr: taken
        int repeat, range, onFailContinue, endHold, exitWhenDone;
        const char* report;
    } cases[] = {
        {{"--sequence", "p.csv"}, nullptr, 1, SEQ_RANGE_IN_FORCE, 0, 0, 0, ""},
        {{"--sequence=p.csv", "--repeat", "0", "--range", "auto", "--on-fail", "continue", "--end",
          "HOLD", "--report", "out", "--exit-when-done"},
         nullptr,
         0,
         0,
         1,
         1,
         1,
         "out"},
        {{"--sequence", "p.csv", "--repeat", "9999", "--range=HIGH"},
         nullptr,
         9999,
         1,
         0,
         0,
         0,
         ""},
        {{"--sequence", "p.csv", "--repeat", "10000"}, "--repeat 10000", 0, 0, 0, 0, 0, ""},
        {{"--sequence", "p.csv", "--repeat", "2x"}, "--repeat 2x", 0, 0, 0, 0, 0, ""},
        {{"--sequence", "p.csv", "--range", "LOW"}, "AUTO or HIGH", 0, 0, 0, 0, 0, ""},
        {{"--sequence", "p.csv", "--on-fail", "ignore"}, "stop or continue", 0, 0, 0, 0, 0, ""},
        {{"--sequence", "p.csv", "--end", "on"}, "off or hold", 0, 0, 0, 0, 0, ""},
        {{"--repeat", "2"}, "--repeat needs --sequence", 0, 0, 0, 0, 0, ""},
        {{"--exit-when-done"}, "--exit-when-done needs --sequence", 0, 0, 0, 0, 0, ""},
    };
    for (const auto& c : cases) {
        const Outcome o = Read(c.args);
        const std::string line = c.args[0] + " " + c.args.back();
        if (c.errHas) {
            EXPECT_EQ(255, o.status) << line;
            EXPECT_NE(std::string::npos, o.err.find(c.errHas)) << line << ": " << o.err;
            continue;
        }
        const CommandLineSequence& s = CommandLineSequenceRun();
        EXPECT_EQ(kCommandLineGoOn, o.status) << line << ": " << o.err;
        EXPECT_EQ(s.path, "p.csv") << line;
        EXPECT_EQ(
            std::vector<int>({s.settings.repeat, s.settings.range, s.settings.onFailContinue,
                              s.settings.endHold, s.exitWhenDone}),
            std::vector<int>({c.repeat, c.range, c.onFailContinue, c.endHold, c.exitWhenDone}))
            << line;
        EXPECT_EQ(s.reportFolder, c.report) << line;
    }
}
