// What the source allows, and how each quantity is counted and written: the
// one place these numbers live. Validation, the panel's limits, the request
// functions, the remote commands, the data log, the meters and charts read
// them from here, so a value one path takes can never be refused by another.
//
// Quantities are the records' fixed-point integers: voltage in 0.1 V,
// frequency in 0.1 Hz, current in 0.001 A, power in 1 W, step amounts in 1 V.
#pragma once

#include <cstdint>
#include <string>

// ---- voltage (0.1 V) --------------------------------------------------------------
constexpr int32_t SOURCE_VOL_MIN = 10;   // 1.0 V
constexpr int32_t SOURCE_VOL_MAX = 3000; // 300.0 V
// In AUTO the source switches its internal range at 150.0 V: a running output
// stays on the side of it where it started.
constexpr int32_t SOURCE_AUTO_LOW_SIDE_TOP = 1500;     // 150.0 V belongs to the low side
constexpr int32_t SOURCE_AUTO_HIGH_SIDE_BOTTOM = 1501; // 150.1 V

// ---- frequency (0.1 Hz) -------------------------------------------------------------
// A continuous band, plus fixed high frequencies that only the preset buttons
// reach.
constexpr int32_t SOURCE_FREQ_BAND_MIN = 450; // 45.0 Hz
constexpr int32_t SOURCE_FREQ_BAND_MAX = 650; // 65.0 Hz
constexpr int32_t SOURCE_PRESET_FREQS[] = {1000, 1200, 2000, 2400, 4000};
constexpr int32_t SOURCE_FREQ_MAX = 4000; // the highest preset, 400 Hz

// ---- step amounts (V) ---------------------------------------------------------------
constexpr int32_t SOURCE_STEP_MIN = 5;
constexpr int32_t SOURCE_STEP_MAX = 30;
// One volt of a step amount counted in the voltage's 0.1 V.
constexpr int32_t SOURCE_VOL_PER_STEP_VOLT = 10;

// ---- the rest of the settings record ------------------------------------------------
constexpr int32_t SOURCE_RANGE_AUTO = 0;
constexpr int32_t SOURCE_RANGE_HIGH = 1;
constexpr int32_t SOURCE_AUX_CODE_MAX = 6; // carried unchanged, 0..6

// The voltages an output may be set to: 1.0-300.0 V, and while it runs in
// AUTO only the side of 150.0 V that vol (the voltage in force) is on.
struct SourceRange {
    int32_t min;
    int32_t max;
};
SourceRange SourceVoltageLimits(int32_t volLevel, int running, int32_t vol);
bool SourceVoltageAllowed(int32_t vol, int32_t volLevel, int running, int32_t volInForce);

bool SourceFrequencyInBand(int32_t freq);
bool SourceFrequencyIsPreset(int32_t freq);
// In the band or one of the presets.
bool SourceFrequencyValid(int32_t freq);
// A fixed high frequency: above the band (the preset buttons' territory).
bool SourceFrequencyAboveBand(int32_t freq);

bool SourceStepAmountAllowed(int32_t amount);

// ---- counting and writing -----------------------------------------------------------
enum SourceQuantity {
    SOURCE_Q_SET_VOLTAGE,
    SOURCE_Q_SET_FREQUENCY,
    SOURCE_Q_STEP_AMOUNT,
    SOURCE_Q_MEASURED_VOLTAGE,
    SOURCE_Q_MEASURED_CURRENT,
    SOURCE_Q_MEASURED_FREQUENCY,
    SOURCE_Q_MEASURED_POWER,
    SOURCE_Q_COUNT
};

struct SourceQuantityInfo {
    const char* unit; // the unit the record counts in: "V", "Hz", "A", "W"
    int decimals;     // the record counts 10^-decimals of the unit: 1 for 0.1 V
    int32_t scale;    // 10^decimals: record units per unit
};
const SourceQuantityInfo& SourceQuantityOf(SourceQuantity q);

// The four measured values as gArrMeasureOutput holds them (0 voltage, 1 current,
// 2 frequency, 3 power) and as the meters, the charts and the data log show them:
// V, A, Hz and kW. Power is counted in W and shown in kW: three more decimals.
constexpr int SOURCE_MEASURED_COUNT = 4;
SourceQuantity SourceMeasuredQuantity(int index);
int SourceMeterDecimals(int index);
double SourceMeterValue(int index, int64_t value);
std::string SourceMeterText(int index, int64_t value);

// The record's integer as a number of the unit (2300 -> 230.0 for a voltage).
double SourceToUnit(SourceQuantity q, int64_t value);
// A number of the unit to the record's integer, rounded half away from zero to
// the resolution (219.96 V -> 2200).
int64_t SourceFromUnit(SourceQuantity q, double value);
// The record's integer written with the quantity's decimals ("230.0").
std::string SourceText(SourceQuantity q, int64_t value);
