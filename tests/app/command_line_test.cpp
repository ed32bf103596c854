// The command line: the program's own long options, and everything else left
// to the toolkit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
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

} // namespace
