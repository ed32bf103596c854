// Where the layout resource is found and what a failed load says about it: the program must
// start from any working folder, and a start that cannot load the layout must tell why.
#include <gtest/gtest.h>

#include <filesystem>

#include "UiTestSupport.h"
#include "platform/Toolkit.h"
#include "ui/Vx52PSoftUi.h"

namespace fs = std::filesystem;
using vx52test::ScratchDir;

TEST(LayoutFile, BareNameIsFoundBesideTheProgramAndPathsAreTakenAsGiven) {
    UiRegisterLayoutNames(kVx52LayoutNames, kVx52LayoutNameCount);
    constexpr int kNoSuchPanel = 999;
    const UiLayoutName noSuchPanel{kNoSuchPanel, kNoSuchPanel, "NOSUCHPANEL"};
    UiRegisterLayoutNames(&noSuchPanel, 1);

    ScratchDir scratch(false);
    // A working folder with a broken file of the layout's name must not matter.
    ScratchDir::WriteFile(UIR_FILE, "not a layout");
    ScratchDir::WriteFile("broken.uir", "not a layout");
    fs::create_directory("folder.uir");
    fs::copy_file(vx52test::BinDir() + "/" + UIR_FILE, "copy.uir");

    EXPECT_EQ(UiLayoutPath(UIR_FILE), vx52test::BinDir() + "/" + UIR_FILE);
    EXPECT_EQ(UiLayoutPath("./copy.uir"), scratch.path() + "/copy.uir");

    const struct {
        const char* file;
        int panel;
        int expected; // 1: a panel handle
    } cases[] = {
        {UIR_FILE, WAITPANEL, 1},
        {"./copy.uir", WAITPANEL, 1},
        {"./Vx52PSoft.uir", WAITPANEL, UIE_BAD_FILE},
        {"./broken.uir", WAITPANEL, UIE_BAD_FILE},
        {"./folder.uir", WAITPANEL, UIE_BAD_FILE},
        {"./missing.uir", WAITPANEL, UIE_FILE_NOT_FOUND},
        {"missing.uir", WAITPANEL, UIE_FILE_NOT_FOUND},
        {UIR_FILE, kNoSuchPanel, UIE_RESOURCE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        const int handle = LoadPanel(0, c.file, c.panel);
        if (c.expected == 1) {
            EXPECT_GT(handle, 0) << c.file;
            DiscardPanel(handle);
        } else {
            EXPECT_EQ(handle, c.expected) << c.file << " panel " << c.panel;
        }
    }
    UiProcessEvents();
}
