// The watchdog for scripts: the source has none of its own, so a client that
// dies would leave the output running at whatever it last set. While the
// watchdog is on, a stretch of its delay without any remote command stops the
// output, as the output button does, and the trip stays noted until a client
// clears it. Counted in 50 ms ticks; plain code, no window.
#pragma once

#include <cstdint>

constexpr int32_t WATCHDOG_MIN_DELAY = 1;    // s
constexpr int32_t WATCHDOG_MAX_DELAY = 3600; // s
constexpr int32_t WATCHDOG_DEFAULT_DELAY = 10;

// On starts the count afresh; off leaves a trip noted. A client that goes
// away changes neither.
void WatchdogSetOn(int on);
int WatchdogOn();
// POWER_REQUEST_DONE (the count starts afresh), or POWER_REQUEST_OUT_OF_RANGE
// outside WATCHDOG_MIN_DELAY..WATCHDOG_MAX_DELAY.
int WatchdogSetDelay(int32_t seconds);
int32_t WatchdogDelay();
// A remote command arrived.
void WatchdogNoteCommand();
// One 50 ms tick.
void WatchdogTick();
// 1 from a trip until WatchdogClear.
int WatchdogTripped();
void WatchdogClear();

// Told of a trip (1) and of its clearing (0). Observers must outlive their
// registration; adding one twice adds it once.
void WatchdogAddObserver(void (*observer)(int tripped));
// As at program start: off, the default delay, no trip (tests use it).
void WatchdogReset();
