// The display mode as the X server reports it: device pixels and exact mode ids, so a screen
// scaled to 200 % is not taken for a small one and the mode at exit is exactly the one before.
#include <gtest/gtest.h>

#include "platform/System.h"

namespace {

// Shaped like "xrandr --verbose --current": a laptop panel, an empty port, a large monitor,
// a port that is connected but switched off, and a monitor turned on its side.
const char* kOutputs =
    "Screen 0: minimum 320 x 200, current 4480 x 1920, maximum 16384 x 16384\n"
    "eDP-1 connected primary 1920x1080+0+0 (0x46) normal (normal left inverted right x axis y "
    "axis) 344mm x 194mm\n"
    "\tEDID: \n"
    "\t\t00ffffffffffff0006af3d5700000000\n"
    "  1920x1080 (0x46) 138.700MHz +HSync -VSync *current +preferred\n"
    "        h: width  1920 start 1968 end 2000 total 2080 skew    0 clock  66.68KHz\n"
    "        v: height 1080 start 1083 end 1088 total 1111           clock  60.02Hz\n"
    "HDMI-1 disconnected (normal left inverted right x axis y axis)\n"
    "  1024x768 (0x50) 65.000MHz -HSync -VSync\n"
    "        h: width  1024 start 1048 end 1184 total 1344 skew    0 clock  48.36KHz\n"
    "        v: height  768 start  771 end  777 total  806           clock  60.00Hz\n"
    "DP-1 connected 2560x1440+1920+0 (0x48) normal (normal left inverted right x axis y axis) "
    "597mm x 336mm\n"
    "  2560x1440 (0x48) 241.500MHz +HSync -VSync *current +preferred\n"
    "        h: width  2560 start 2608 end 2640 total 2720 skew    0 clock  88.79KHz\n"
    "        v: height 1440 start 1443 end 1448 total 1481           clock  59.95Hz\n"
    "  1024x768 (0x50) 65.000MHz -HSync -VSync\n"
    "        h: width  1024 start 1048 end 1184 total 1344 skew    0 clock  48.36KHz\n"
    "        v: height  768 start  771 end  777 total  806           clock  60.00Hz\n"
    "  1024x768 (0x51) 78.750MHz +HSync +VSync\n"
    "        h: width  1024 start 1040 end 1136 total 1312 skew    0 clock  60.02KHz\n"
    "        v: height  768 start  769 end  772 total  800           clock  75.03Hz\n"
    "  1024x768 (0x52) 75.000MHz -HSync -VSync\n"
    "        h: width  1024 start 1048 end 1184 total 1328 skew    0 clock  56.48KHz\n"
    "        v: height  768 start  771 end  777 total  806           clock  70.07Hz\n"
    "DP-2 connected (normal left inverted right x axis y axis)\n"
    "  1280x1024 (0x53) 108.000MHz +HSync +VSync\n"
    "        h: width  1280 start 1328 end 1440 total 1688 skew    0 clock  63.98KHz\n"
    "        v: height 1024 start 1025 end 1028 total 1066           clock  60.02Hz\n"
    "DP-3 connected 1080x1920+4480+0 (0x54) left (normal left inverted right x axis y axis) "
    "527mm x 296mm\n"
    "  1920x1080 (0x54) 148.500MHz +HSync +VSync *current\n"
    "        h: width  1920 start 2008 end 2052 total 2200 skew    0 clock  67.50KHz\n"
    "        v: height 1080 start 1084 end 1089 total 1125           clock  60.00Hz\n";

// What a virtual X server without real timings says.
const char* kVirtual =
    "Screen 0: minimum 1 x 1, current 1280 x 1024, maximum 1280 x 1024\n"
    "screen connected 1280x1024+0+0 (0x3a) normal (normal) 0mm x 0mm\n"
    "\tIdentifier: 0x3c\n"
    "  1280x1024 (0x3a)  0.000MHz *current\n"
    "        h: width  1280 start    0 end    0 total    0 skew    0 clock   0.00KHz\n"
    "        v: height 1024 start    0 end    0 total    0           clock   0.00Hz\n";

} // namespace

TEST(ScreenMode, TheOutputTheWindowGoesToInDevicePixels) {
    const auto outputs = SysParseXrandr(kOutputs);
    const auto virtualScreen = SysParseXrandr(kVirtual);
    const struct {
        const std::vector<SysDisplayOutput>* outputs;
        const char* qtName; // the screen Qt puts the window on
        const char* output;
        int width, height;
        const char* mode;
        double rate;
    } cases[] = {
        {&outputs, "DP-1", "DP-1", 2560, 1440, "0x48", 59.95},
        {&outputs, "", "eDP-1", 1920, 1080, "0x46", 60.02},
        {&outputs, "DP-2", "eDP-1", 1920, 1080, "0x46", 60.02}, // connected but off
        {&outputs, "HDMI-1", "eDP-1", 1920, 1080, "0x46", 60.02},
        {&outputs, "DP-3", "DP-3", 1080, 1920, "0x54", 60.00},
        {&virtualScreen, "screen", "screen", 1280, 1024, "0x3a", 0.0},
    };
    for (const auto& c : cases) {
        const SysDisplayOutput* out = SysPickOutput(*c.outputs, c.qtName);
        ASSERT_NE(out, nullptr) << c.qtName;
        EXPECT_EQ(out->name, c.output) << c.qtName;
        EXPECT_EQ(out->width, c.width) << c.qtName;
        EXPECT_EQ(out->height, c.height) << c.qtName;
        EXPECT_EQ(out->currentMode, c.mode) << c.qtName;
        ASSERT_NE(out->Mode(c.mode), nullptr) << c.qtName;
        EXPECT_DOUBLE_EQ(out->Mode(c.mode)->rate, c.rate) << c.qtName;
    }
    EXPECT_EQ(SysPickOutput(SysParseXrandr("Screen 0: minimum 1 x 1\nVGA-1 disconnected\n"), ""),
              nullptr);
}

TEST(ScreenMode, TheSmallModeKeepsTheRateNearestTheCurrentOne) {
    const auto outputs = SysParseXrandr(kOutputs);
    const SysDisplayOutput* dp1 = SysPickOutput(outputs, "DP-1");
    const SysDisplayOutput* edp = SysPickOutput(outputs, "eDP-1");
    ASSERT_NE(dp1, nullptr);
    ASSERT_NE(edp, nullptr);
    const struct {
        const SysDisplayOutput* output;
        int width, height, rate;
        const char* mode; // nullptr: none
    } cases[] = {
        {dp1, 1024, 768, 60, "0x50"},
        {dp1, 1024, 768, 75, "0x51"},
        {dp1, 1024, 768, 72, "0x52"},
        {edp, 1024, 768, 60, nullptr}, // listed only under the empty port
    };
    for (const auto& c : cases) {
        const SysDisplayMode* mode = SysPickMode(*c.output, c.width, c.height, c.rate);
        if (!c.mode) {
            EXPECT_EQ(mode, nullptr) << c.output->name << " " << c.rate;
        } else {
            ASSERT_NE(mode, nullptr) << c.output->name << " " << c.rate;
            EXPECT_EQ(mode->id, c.mode) << c.output->name << " " << c.rate;
        }
    }
}
