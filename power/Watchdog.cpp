#include "power/Watchdog.h"

#include <algorithm>
#include <vector>

#include "power/PowerRequest.h"

namespace {

constexpr int32_t kTicksPerSecond = 20;

int sOn = 0;
int32_t sDelay = WATCHDOG_DEFAULT_DELAY;
int32_t sQuietTicks = 0;
// After a trip the count waits for the next command: one silence, one stop.
bool sArmed = true;
int sTripped = 0;
// The stop found the command queue full; it is asked for again each tick.
bool sStopPending = false;
std::vector<void (*)(int)> sObservers;

void Tell(int tripped) {
    const std::vector<void (*)(int)> now = sObservers;
    for (auto* observer : now) {
        observer(tripped);
    }
}

// A stopped output or a link that is down leaves nothing to stop: the
// connect sequence stops whatever runs when the link comes back.
void AskForStop() {
    sStopPending = PowerRequestOutput(0, POWER_CALLER_REMOTE) == POWER_REQUEST_QUEUE_FULL;
}

void Restart() {
    sQuietTicks = 0;
    sArmed = true;
}

} // namespace

void WatchdogSetOn(int on) {
    sOn = on != 0 ? 1 : 0;
    Restart();
    if (sOn == 0) {
        sStopPending = false;
    }
}

int WatchdogOn() {
    return sOn;
}

int WatchdogSetDelay(int32_t seconds) {
    if (seconds < WATCHDOG_MIN_DELAY || seconds > WATCHDOG_MAX_DELAY) {
        return POWER_REQUEST_OUT_OF_RANGE;
    }
    sDelay = seconds;
    Restart();
    return POWER_REQUEST_DONE;
}

int32_t WatchdogDelay() {
    return sDelay;
}

void WatchdogNoteCommand() {
    Restart();
}

void WatchdogTick() {
    if (sOn == 0) {
        return;
    }
    if (sStopPending) {
        AskForStop();
    }
    if (!sArmed || ++sQuietTicks < sDelay * kTicksPerSecond) {
        return;
    }
    sArmed = false;
    sTripped = 1;
    AskForStop();
    Tell(1);
}

int WatchdogTripped() {
    return sTripped;
}

void WatchdogClear() {
    if (sTripped == 0) {
        return;
    }
    sTripped = 0;
    Tell(0);
}

void WatchdogAddObserver(void (*observer)(int tripped)) {
    if (observer && std::find(sObservers.begin(), sObservers.end(), observer) == sObservers.end()) {
        sObservers.push_back(observer);
    }
}

void WatchdogReset() {
    sOn = 0;
    sDelay = WATCHDOG_DEFAULT_DELAY;
    sTripped = 0;
    sStopPending = false;
    Restart();
}
