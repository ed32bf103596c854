// Starts the toolkit offscreen before any test, so widget tests drive real
// widgets without a display.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Toolkit.h"

int main(int argc, char* argv[]) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    testing::InitGoogleTest(&argc, argv);
    if (!UiInitRuntime(argc, argv)) {
        return 2;
    }
    // The layout sits beside the program in the build's bin folder, not beside the tests.
    if (const char* bin = std::getenv("VX52_BIN_DIR")) {
        UiSetProgramDir(bin);
    }
    return RUN_ALL_TESTS();
}
