// Filling in "{name}" marks: one pass over the text, so a value is never taken
// for a mark (a path may hold braces), and what is not a known mark stays.
#include <gtest/gtest.h>

#include <string>

#include "util/Text.h"

TEST(TextFillIn, OnePassOverTheTextOnly) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"{file}: {reason}", "/tmp/{reason}: No such file"},
        {"{reason} {reason}", "No such file No such file"},
        {"{{file}}", "{/tmp/{reason}}"},
        {"{other} {file", "{other} {file"},
        {"}{", "}{"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected,
                  TextFillIn(c.text, {{"file", "/tmp/{reason}"}, {"reason", "No such file"}}))
            << c.text;
    }
}
