#include "power/PowerRecords.h"

#include <algorithm>
#include <cstring>

Normal52PSet gNormal52PSet{};
PowerInfo gPowerInfo{};
int32_t gPowerState = 0;
int32_t gArrMeasureOutput[10] = {};

namespace {

// The source runs a continuous 45.0-65.0 Hz band plus a few fixed high
// frequencies that only the preset buttons reach.
constexpr int32_t kFixedHighFreqs[] = {1000, 1200, 2000, 2400, 4000};

constexpr int32_t kVolMin = 10;
constexpr int32_t kVolMax = 3000;
// In AUTO the source switches its internal range at 150.0 V; a running output
// must not be stepped across that line.
constexpr int32_t kAutoLowSideTop = 1500;
constexpr int32_t kAutoHighSideBottom = 1501;

bool IsFixedHighFreq(int32_t freq) {
    for (int32_t fixed : kFixedHighFreqs) {
        if (freq == fixed) {
            return true;
        }
    }
    return false;
}

} // namespace

int NumOutBound(int32_t value, int32_t a, int32_t b) {
    const int32_t low = std::min(a, b);
    const int32_t high = std::max(a, b);
    return (value < low || value > high) ? 1 : 0;
}

int Data52PCheck() {
    Normal52PSet& s = gNormal52PSet;
    int replaced = 0;
    if (NumOutBound(s.freq, 450, 650) && !IsFixedHighFreq(s.freq)) {
        s.freq = 500;
        replaced = 1;
    }
    if (NumOutBound(s.vol, kVolMin, kVolMax)) {
        s.vol = 2200;
        replaced = 1;
    }
    if (NumOutBound(s.volLevel, 0, 1)) {
        s.volLevel = 1;
        replaced = 1;
    }
    if (NumOutBound(s.up2U, 5, 30)) {
        s.up2U = 5;
        replaced = 1;
    }
    if (NumOutBound(s.down2U, 5, 30)) {
        s.down2U = 5;
        replaced = 1;
    }
    if (NumOutBound(s.auxCode, 0, 6)) {
        s.auxCode = 0;
        replaced = 1;
    }
    return replaced;
}

void Cal52PPowerUpDown(int enable) {
    Normal52PSet& s = gNormal52PSet;
    if (enable == 0) {
        s.upDownBase = 0;
        s.upDownHigh = 0;
        s.upDownLow = 0;
        return;
    }

    // Settings taken from the source's reply are not validated, so the sums are
    // formed in 64 bits and only narrowed once the levels have been clamped.
    const int64_t vol = s.vol;
    int64_t low = vol - int64_t{10} * s.down2U;
    int64_t high = vol + int64_t{10} * s.up2U;
    if (low < kVolMin) {
        low = kVolMin;
    }
    if (high > kVolMax) {
        high = kVolMax;
    }
    if (s.volLevel == 0) {
        if (vol >= kAutoHighSideBottom) {
            low = std::max<int64_t>(low, kAutoHighSideBottom);
        } else {
            high = std::min<int64_t>(high, kAutoLowSideTop);
        }
    }

    s.upDownBase = s.vol;
    s.upDownLow = static_cast<int32_t>(low);
    s.upDownHigh = static_cast<int32_t>(high);
}

void PowerVolLimits(int running, int32_t* min, int32_t* max) {
    *min = kVolMin;
    *max = kVolMax;
    if (running != 0 && gNormal52PSet.volLevel == 0) {
        if (gNormal52PSet.vol >= kAutoHighSideBottom) {
            *min = kAutoHighSideBottom;
        } else {
            *max = kAutoLowSideTop;
        }
    }
}

void PowerClearMeasure() {
    std::memset(gArrMeasureOutput, 0, sizeof(gArrMeasureOutput));
}

void PowerRecordsReset() {
    gNormal52PSet = Normal52PSet{};
    gPowerInfo = PowerInfo{};
    gPowerState = 0;
    PowerClearMeasure();
}
