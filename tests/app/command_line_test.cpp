// The options: --remote in its forms, the toolkit's own arguments left alone,
// and one line on standard error with status 255 for anything wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

struct Outcome {
    int status;
    std::string err;
};

Outcome Read(std::vector<std::string> args) {
    args.insert(args.begin(), "Vx52PSoft");
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    std::FILE* err = std::tmpfile();
    gCommandLineRemote = CommandLineRemote{};
    const int status = CommandLineRead(static_cast<int>(argv.size()), argv.data(), stdout, err);
    std::rewind(err);
    char text[256] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, err);
    std::fclose(err);
    return {status, std::string(text, n)};
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
        {{"--remote-control", "5025"}, nullptr, 0},
    };
    for (const auto& c : cases) {
        const Outcome r = Read(c.args);
        const std::string what = c.args.back();
        if (c.address == nullptr) {
            EXPECT_EQ(255, r.status) << what;
            EXPECT_EQ(0u, r.err.rfind("Vx52PSoft: ", 0)) << what;
            EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
            continue;
        }
        EXPECT_EQ(kCommandLineGoOn, r.status) << what;
        EXPECT_EQ("", r.err) << what;
        EXPECT_EQ(c.port != 0 ? 1 : 0, gCommandLineRemote.given) << what;
        EXPECT_EQ(c.address, gCommandLineRemote.address) << what;
        EXPECT_EQ(c.port, gCommandLineRemote.port) << what;
    }
}

} // namespace
