#include "power/SourceLimits.h"

#include <cmath>

#include "util/Text.h"

namespace {

constexpr SourceQuantityInfo kQuantities[SOURCE_Q_COUNT] = {
    {"V", 1, 10},   // set voltage, 0.1 V
    {"Hz", 1, 10},  // set frequency, 0.1 Hz
    {"V", 0, 1},    // step amount, 1 V
    {"V", 1, 10},   // measured voltage, 0.1 V
    {"A", 3, 1000}, // measured current, 0.001 A
    {"Hz", 1, 10},  // measured frequency, 0.1 Hz
    {"W", 0, 1},    // measured power, 1 W
};

constexpr SourceQuantity kMeasured[SOURCE_MEASURED_COUNT] = {
    SOURCE_Q_MEASURED_VOLTAGE, SOURCE_Q_MEASURED_CURRENT, SOURCE_Q_MEASURED_FREQUENCY,
    SOURCE_Q_MEASURED_POWER};
// Power alone is shown in a larger unit than it is counted in.
constexpr int kKiloDecimals = 3;

int ShownExtraDecimals(int index) {
    return kMeasured[index] == SOURCE_Q_MEASURED_POWER ? kKiloDecimals : 0;
}

int ValidIndex(int index) {
    return index >= 0 && index < SOURCE_MEASURED_COUNT ? index : 0;
}

} // namespace

SourceRange SourceVoltageLimits(int32_t volLevel, int running, int32_t vol) {
    SourceRange r{SOURCE_VOL_MIN, SOURCE_VOL_MAX};
    if (running != 0 && volLevel == SOURCE_RANGE_AUTO) {
        if (vol >= SOURCE_AUTO_HIGH_SIDE_BOTTOM) {
            r.min = SOURCE_AUTO_HIGH_SIDE_BOTTOM;
        } else {
            r.max = SOURCE_AUTO_LOW_SIDE_TOP;
        }
    }
    return r;
}

bool SourceVoltageAllowed(int32_t vol, int32_t volLevel, int running, int32_t volInForce) {
    const SourceRange r = SourceVoltageLimits(volLevel, running, volInForce);
    return vol >= r.min && vol <= r.max;
}

bool SourceFrequencyInBand(int32_t freq) {
    return freq >= SOURCE_FREQ_BAND_MIN && freq <= SOURCE_FREQ_BAND_MAX;
}

bool SourceFrequencyIsPreset(int32_t freq) {
    for (int32_t preset : SOURCE_PRESET_FREQS) {
        if (freq == preset) {
            return true;
        }
    }
    return false;
}

bool SourceFrequencyValid(int32_t freq) {
    return SourceFrequencyInBand(freq) || SourceFrequencyIsPreset(freq);
}

bool SourceFrequencyAboveBand(int32_t freq) {
    return freq > SOURCE_FREQ_BAND_MAX;
}

bool SourceStepAmountAllowed(int32_t amount) {
    const int64_t a = amount < 0 ? -int64_t{amount} : amount;
    return a >= SOURCE_STEP_MIN && a <= SOURCE_STEP_MAX;
}

const SourceQuantityInfo& SourceQuantityOf(SourceQuantity q) {
    return kQuantities[q >= 0 && q < SOURCE_Q_COUNT ? q : 0];
}

double SourceToUnit(SourceQuantity q, int64_t value) {
    return static_cast<double>(value) / SourceQuantityOf(q).scale;
}

int64_t SourceFromUnit(SourceQuantity q, double value) {
    return std::llround(value * SourceQuantityOf(q).scale);
}

std::string SourceText(SourceQuantity q, int64_t value) {
    return TextFixed(value, SourceQuantityOf(q).decimals);
}

SourceQuantity SourceMeasuredQuantity(int index) {
    return kMeasured[ValidIndex(index)];
}

int SourceMeterDecimals(int index) {
    index = ValidIndex(index);
    return SourceQuantityOf(kMeasured[index]).decimals + ShownExtraDecimals(index);
}

double SourceMeterValue(int index, int64_t value) {
    index = ValidIndex(index);
    int32_t divisor = SourceQuantityOf(kMeasured[index]).scale;
    for (int i = 0; i < ShownExtraDecimals(index); ++i) {
        divisor *= 10;
    }
    return static_cast<double>(value) / divisor;
}

std::string SourceMeterText(int index, int64_t value) {
    return TextFixed(value, SourceMeterDecimals(index));
}
