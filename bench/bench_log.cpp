// The data log's path taken apart, one piece at a time, in this process:
//   bench_log [FOLDER] [ROWS_PER_S] [CALLBACKS_PER_S]
// writes a scratch log in FOLDER (default the working folder: the figures are
// those of its file system) and prints the CPU of each piece per call, then
// what an hour of logging costs at the given rates (defaults: one measurement
// row a second, as the output running gives, and 22 callbacks a second: the
// 50 ms tick and the exchange's replies). The whole program's figure, every
// hidden cost included, is bench_app's "ab log".
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "platform/System.h"
#include "record/DataLog.h"
#include "util/Text.h"

namespace {

double CpuUs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double WallUs() {
    return SysMonotonicMs() * 1000.0;
}

// A clock the bench moves by hand, so it decides when a sync falls due.
double gFakeMs = 0;
void FakeClock(SysLocalTime* wall, double* monotonicMs) {
    SysGetLocalTime(wall);
    *monotonicMs = gFakeMs;
}

const DataLogState kState{.setVol = 2200,
                          .setFreq = 500,
                          .volLevel = 1,
                          .up2U = 5,
                          .down2U = -5,
                          .outputOn = 1,
                          .alarm = 0,
                          .online = 1};
const DataLogReadings kReadings{.vol = 2198, .curr = 2198, .freq = 500, .power = 483};

struct Cost {
    double cpuUs;
    double wallUs;
};

template <typename Fn> Cost PerCall(int n, Fn fn) {
    const double c0 = CpuUs(), w0 = WallUs();
    for (int i = 0; i < n; ++i) {
        fn(i);
    }
    return {(CpuUs() - c0) / n, (WallUs() - w0) / n};
}

int Fail(const char* what, int error) {
    std::fprintf(stderr, "bench_log: %s: error %d\n", what, error);
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string folder = argc > 1 ? argv[1] : ".";
    const double rowsPerS = argc > 2 ? std::atof(argv[2]) : 1.0;
    const double callbacksPerS = argc > 3 ? std::atof(argv[3]) : 22.0;
    const std::string path = folder + "/bench_log-" + std::to_string(getpid()) + ".csv";
    DataLogSetClock(FakeClock);
    int error = DataLogStart(path.c_str(), kState);
    if (error != 0) {
        return Fail("start", error);
    }

    // Text only: the time stamp and the row, no file.
    std::string sink;
    const Cost format = PerCall(200000, [&](int i) {
        SysLocalTime t{};
        SysGetLocalTime(&t);
        sink = DataLogMeasureRow(TextTimeStamp(t), i, kReadings, kState);
    });

    // What every callback's end costs with the log on and nothing changed.
    const Cost observe = PerCall(1000000, [&](int) {
        DataLogObserve(kState, "");
        DataLogPoll();
    });

    // A row written, no sync due.
    const Cost row = PerCall(20000, [&](int) { error = DataLogMeasure(kReadings, kState, ""); });

    // A row and the sync it brings once a second has passed.
    const int syncsBefore = DataLogSyncCount();
    const Cost rowSync = PerCall(300, [&](int) {
        gFakeMs += 1000.0;
        error = DataLogMeasure(kReadings, kState, "");
    });
    const int syncs = DataLogSyncCount() - syncsBefore;
    if (DataLogIsOn() == 0) {
        return Fail("write", error);
    }
    DataLogStop();
    unlink(path.c_str());

    std::printf("log_format_row_us %.3f\n", format.cpuUs);
    std::printf("log_observe_unchanged_us %.4f\n", observe.cpuUs);
    std::printf("log_row_written_us %.2f\n", row.cpuUs);
    std::printf("log_row_and_sync_us %.1f wall_us %.0f syncs %d of %d\n", rowSync.cpuUs,
                rowSync.wallUs, syncs, 300);
    // An hour at the rates given: every row brings a sync when rows come at most
    // once a second, else one sync a second covers several rows.
    const double syncsPerS = std::min(rowsPerS, 1.0);
    const double rowOnly = std::max(rowsPerS - syncsPerS, 0.0);
    const double usPerS =
        syncsPerS * rowSync.cpuUs + rowOnly * row.cpuUs + callbacksPerS * observe.cpuUs;
    std::printf("log_cpu_per_hour_ms %.1f log_cpu_pct %.4f at rows_per_s %.2f callbacks_per_s "
                "%.1f\n",
                usPerS * 3600 / 1000, usPerS / 1e4, rowsPerS, callbacksPerS);
    return 0;
}
