#include "power/PowerRecords.h"

#include <algorithm>
#include <cstring>

#include "power/SourceLimits.h"

Normal52PSet gNormal52PSet{};
PowerInfo gPowerInfo{};
int32_t gPowerState = 0;
int32_t gArrMeasureOutput[10] = {};

int NumOutBound(int32_t value, int32_t a, int32_t b) {
    const int32_t low = std::min(a, b);
    const int32_t high = std::max(a, b);
    return (value < low || value > high) ? 1 : 0;
}

int Data52PCheck() {
    Normal52PSet& s = gNormal52PSet;
    int replaced = 0;
    if (NumOutBound(s.freq, SOURCE_FREQ_BAND_MIN, SOURCE_FREQ_BAND_MAX) &&
        !SourceFrequencyIsPreset(s.freq)) {
        s.freq = 500;
        replaced = 1;
    }
    if (NumOutBound(s.vol, SOURCE_VOL_MIN, SOURCE_VOL_MAX)) {
        s.vol = 2200;
        replaced = 1;
    }
    if (NumOutBound(s.volLevel, SOURCE_RANGE_AUTO, SOURCE_RANGE_HIGH)) {
        s.volLevel = 1;
        replaced = 1;
    }
    if (NumOutBound(s.up2U, SOURCE_STEP_MIN, SOURCE_STEP_MAX)) {
        s.up2U = 5;
        replaced = 1;
    }
    if (NumOutBound(s.down2U, SOURCE_STEP_MIN, SOURCE_STEP_MAX)) {
        s.down2U = 5;
        replaced = 1;
    }
    if (NumOutBound(s.auxCode, 0, SOURCE_AUX_CODE_MAX)) {
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
    int64_t low = vol - int64_t{SOURCE_VOL_PER_STEP_VOLT} * s.down2U;
    int64_t high = vol + int64_t{SOURCE_VOL_PER_STEP_VOLT} * s.up2U;
    // The ladder is used while running: the limits of a running output.
    const SourceRange r = SourceVoltageLimits(s.volLevel, 1, s.vol);
    low = std::max<int64_t>(low, r.min);
    high = std::min<int64_t>(high, r.max);

    s.upDownBase = s.vol;
    s.upDownLow = static_cast<int32_t>(low);
    s.upDownHigh = static_cast<int32_t>(high);
}

void PowerVolLimits(int running, int32_t* min, int32_t* max) {
    const SourceRange r = SourceVoltageLimits(gNormal52PSet.volLevel, running, gNormal52PSet.vol);
    *min = r.min;
    *max = r.max;
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
