// The four records that describe the power source, their validation and the
// voltage step ladder. Every other module reads and writes the records
// directly; they live for the whole run and start zeroed.
#pragma once

#include <cstdint>

// Quantities are fixed-point integers: voltage 0.1 V, frequency 0.1 Hz,
// current 0.001 A, power 1 W, step amounts whole volts. What each may hold is
// written once, in power/SourceLimits.h.
struct Normal52PSet {
    int32_t freq; // the band, or one of the fixed high frequencies
    int32_t vol;
    int32_t volLevel; // 0 AUTO, 1 HIGH
    int32_t up2U;
    int32_t down2U;     // held positive
    int32_t auxCode;    // 0..6, carried unchanged in the settings exchange
    int32_t upDownBase; // step ladder, 0 while there is none
    int32_t upDownHigh;
    int32_t upDownLow;
};

struct PowerInfo {
    int32_t modelNo;
    char modelName[12]; // NUL-terminated, 8 characters used
    int32_t language;   // 1 English, any other value Chinese
    int32_t address;    // 1..255
    int32_t port;       // 1..10
    int32_t baudRate;   // 1200, 2400, 4800, 9600
    int32_t logoAnimate;
    int32_t outputOn;
    int32_t riseCountdown;
    int32_t alarm;
    int32_t online;
    int32_t waitShown;
};

extern Normal52PSet gNormal52PSet;
extern PowerInfo gPowerInfo;
extern int32_t gPowerState;           // character code of the last state reply
extern int32_t gArrMeasureOutput[10]; // 0 V (0.1 V), 1 A (mA), 2 Hz (0.1 Hz), 3 P (W)

constexpr int MEASURE_COUNT = 10;

// 1 when value lies outside the inclusive range between a and b (either order).
int NumOutBound(int32_t value, int32_t a, int32_t b);

// Replaces every out-of-range setting by its fixed value; 1 if any was replaced.
int Data52PCheck();

// Sets the step ladder from vol, up2U, down2U and volLevel, or clears it (enable 0).
void Cal52PPowerUpDown(int enable);

// The voltages (0.1 V) the output may be set to: the whole span, and while it
// runs in AUTO only the side of the range boundary that vol is on.
void PowerVolLimits(int running, int32_t* min, int32_t* max);

// Sets every entry of gArrMeasureOutput to 0.
void PowerClearMeasure();

// Zeroes all four records, as at program start (tests use it between cases).
void PowerRecordsReset();
