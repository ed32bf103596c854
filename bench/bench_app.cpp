// Figures of the real program code under a real X server.
//   bench_app startup                 ms from main to the first tick
//   bench_app ticking SECONDS MODE    MODE "stopped" or "running": after the first tick
//                                     (and the connect sequence when a source answers on
//                                     the configured port) the output is left stopped or
//                                     started; once it runs, the four strip charts are
//                                     filled with a screen of points each, so the figures
//                                     are those of full charts. Prints CPU used, resident
//                                     memory at the end, exchanges sent and the cost of
//                                     one tick
//   bench_app refresh N               cost of one RefreshOutputState, median of N calls
//   bench_app ab SECONDS ROUNDS WHAT  WHAT "log", "monitor" or "none": online with the output
//                                     running and full charts, ROUNDS pairs of windows of
//                                     SECONDS each, one with WHAT on and one with it off, in
//                                     turn (off-on, on-off, ...), in this one process against
//                                     the same source. Prints the CPU of each side, the median
//                                     of the per-round ratios and differences, and the tick's
//                                     cost on each side; "none" switches nothing and so shows
//                                     how far two equal windows differ (the noise floor).
//                                     The monitor opens holding 10,000 frames, as after an
//                                     hour open
// Run from a folder holding the program's data files (bench/run.sh does).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <vector>

#include "app/LinkMonitor.h"
#include "app/Recording.h"
#include "app/Shell.h"
#include "app/Tick.h"
#include "charts/Charts.h"
#include "link/LinkEvents.h"
#include "link/Scheduler.h"
#include "persist/SettingsFiles.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/FrontPanel.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "record/DataLog.h"
#include "ui/Vx52PSoftUi.h"

namespace {

double gStartMs = 0.0;
double gFirstTickMs = -1.0;
std::string gMode = "startup";
std::string gOutput = "running";
double gRunSeconds = 60.0;
double gTickingFromMs = -1.0;
double gCpuAtStart = 0.0;
bool gStartAsked = false;
int gTicks = 0;
int gRequests = 0;
std::vector<double> gTickCostUs;

// Every thread of the process, to the nanosecond: a window of a few seconds
// then tells apart differences far below a clock tick.
double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long RssKb() {
    FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (f && std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kb = std::strtol(line + 6, nullptr, 10);
        }
    }
    if (f) {
        std::fclose(f);
    }
    return kb;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * (v.size() - 1))];
}

// A screen of points on each strip chart, varying a little as measured values do,
// so a run starts with full charts instead of filling them during the minute.
void FillCharts() {
    int pointsPerScreen = 0;
    GetCtrlAttribute(gMainPanel, PANEL_SCHART_R1, ATTR_POINTS_PER_SCREEN, &pointsPerScreen);
    int saved[4];
    std::copy(gArrMeasureOutput, gArrMeasureOutput + 4, saved);
    for (int i = 0; i < pointsPerScreen; ++i) {
        const int wobble = i % 7 - 3;
        gArrMeasureOutput[0] = 2200 + wobble;
        gArrMeasureOutput[1] = 1500 + 5 * wobble;
        gArrMeasureOutput[2] = 500 + wobble % 2;
        gArrMeasureOutput[3] = 330 + 2 * wobble;
        Data52PFromMeasureToGraph();
    }
    std::copy(saved, saved + 4, gArrMeasureOutput);
}

// Ready to measure once the link is idle after connecting (or at once offline).
bool Settled() {
    return gPowerInfo.online == 0 || (gCommInfo.presentFlag == 0 && gCommNewCmd.count == 0 &&
                                      gPowerInfo.waitShown == 0 && gPowerInfo.modelName[0]);
}

// ---- ab: one thing switched on and off in turn -------------------------------------
struct AbWindow {
    bool on;
    double cpuS;
    double wallS;
    std::vector<double> tickUs;
};
std::string gAbWhat = "log";
std::string gAbLogPath = "bench-ab.csv";
int gAbRounds = 5;
std::vector<AbWindow> gAbWindows;
double gAbWindowFromMs = -1;
double gAbCpuFrom = 0;

// A monitor open for an hour holds its full 10,000 frames: the figures are
// those of a full list, as the charts' are those of full charts.
void FillMonitor() {
    const uint8_t sent[] = {0x7B, 0x07, 0x00, 0x01, 0x52, 0x4E, 0x54, 0x2A, 0x26, 0x7D};
    for (int i = 0; i < 10000; ++i) {
        LinkNotifyFrameSent(sent, sizeof sent, 240, 17);
    }
}

bool AbOnInRound(int window) {
    // off-on, on-off, off-on ...: a slow drift of the machine falls on both sides alike.
    const int round = window / 2;
    const bool first = window % 2 == 0;
    return (round % 2 == 0) != first;
}

void AbSwitch(bool on) {
    if (gAbWhat == "log") {
        if (on) {
            RecordingStart(gAbLogPath.c_str());
        } else {
            RecordingStop();
        }
    } else if (gAbWhat == "monitor") {
        DisplayPanelLinkMonitor(on ? 1 : 0);
        if (on) {
            FillMonitor();
        }
    }
}

double Median(std::vector<double> v) {
    return Percentile(std::move(v), 0.5);
}

void AbReport() {
    std::vector<double> ratios, diffs, onPct, offPct, onTicks, offTicks;
    for (size_t i = 0; i + 1 < gAbWindows.size(); i += 2) {
        const AbWindow& a = gAbWindows[i].on ? gAbWindows[i] : gAbWindows[i + 1];
        const AbWindow& b = gAbWindows[i].on ? gAbWindows[i + 1] : gAbWindows[i];
        const double on = a.cpuS / a.wallS, off = b.cpuS / b.wallS;
        onPct.push_back(100 * on);
        offPct.push_back(100 * off);
        ratios.push_back(on / off);
        diffs.push_back(100 * (on - off));
        std::fprintf(stderr, "round %zu: off %.3f %% on %.3f %% ratio %.3f difference %+.3f %%\n",
                     i / 2 + 1, 100 * off, 100 * on, on / off, 100 * (on - off));
    }
    for (const AbWindow& w : gAbWindows) {
        (w.on ? onTicks : offTicks)
            .insert((w.on ? onTicks : offTicks).end(), w.tickUs.begin(), w.tickUs.end());
    }
    const auto [lo, hi] = std::minmax_element(diffs.begin(), diffs.end());
    std::printf("ab %s rounds %zu window_s %.0f cpu_off_pct %.3f cpu_on_pct %.3f ratio_median %.4f "
                "diff_median_pct %+.4f diff_min_pct %+.4f diff_max_pct %+.4f "
                "tick_on_median_us %.1f tick_on_p99_us %.1f tick_off_median_us %.1f "
                "tick_off_p99_us %.1f log_syncs %d\n",
                gAbWhat.c_str(), ratios.size(), gRunSeconds, Median(offPct), Median(onPct),
                Median(ratios), Median(diffs), diffs.empty() ? 0.0 : *lo, diffs.empty() ? 0.0 : *hi,
                Percentile(onTicks, 0.5), Percentile(onTicks, 0.99), Percentile(offTicks, 0.5),
                Percentile(offTicks, 0.99), DataLogSyncCount());
}

// Called on each measured tick of an ab run; true once every window is done.
// A switch is followed by a second left out of both windows: what switching
// itself costs (a log's first rows, a monitor's first picture) is not the
// steady cost measured.
bool AbStep(double now, double tickUs) {
    constexpr double kSettleMs = 1000.0;
    if (gAbWindows.empty() || gAbWindows.back().wallS > 0) {
        const int index = static_cast<int>(gAbWindows.size());
        if (index == 2 * gAbRounds) {
            AbSwitch(false);
            AbReport();
            return true;
        }
        const bool on = AbOnInRound(index);
        if (index == 0 || on != gAbWindows.back().on) {
            AbSwitch(on);
        }
        gAbWindows.push_back({on, 0, 0, {}});
        gAbWindowFromMs = now + kSettleMs;
        gAbCpuFrom = -1;
        return false;
    }
    if (now < gAbWindowFromMs) {
        return false;
    }
    if (gAbCpuFrom < 0) {
        gAbWindowFromMs = now;
        gAbCpuFrom = ProcessCpuSeconds();
        return false;
    }
    gAbWindows.back().tickUs.push_back(tickUs);
    if (now - gAbWindowFromMs < gRunSeconds * 1000.0) {
        return false;
    }
    gAbWindows.back().cpuS = ProcessCpuSeconds() - gAbCpuFrom;
    gAbWindows.back().wallS = (now - gAbWindowFromMs) / 1000.0;
    return false;
}

int MeasuringTick(int panel, int control, int event, void* data, int d1, int d2) {
    if (event != EVENT_TIMER_TICK) {
        return TIMER_50MS_CALLBACK(panel, control, event, data, d1, d2);
    }
    const double before = SysMonotonicMs();
    const int rc = TIMER_50MS_CALLBACK(panel, control, event, data, d1, d2);
    const double now = SysMonotonicMs();
    if (gFirstTickMs < 0) {
        gFirstTickMs = now;
        if (gMode == "startup") {
            std::printf("first_tick_ms %.1f\n", gFirstTickMs - gStartMs);
            QuitUserInterface(0);
        }
        return rc;
    }
    if (gTickingFromMs < 0) {
        if (!Settled()) {
            return rc;
        }
        if (gOutput == "running") {
            if (gPowerInfo.outputOn != 1) {
                if (!gStartAsked) {
                    LED_OUTPUT_CALLBACK(gMainPanel, PANEL_LED_OUTPUT, EVENT_LEFT_CLICK, nullptr, 0,
                                        0);
                    gStartAsked = true;
                }
                return rc;
            }
            FillCharts();
        }
        gTickingFromMs = now;
        gCpuAtStart = CpuSeconds();
        return rc;
    }
    if (gMode == "ab") {
        if (AbStep(now, (now - before) * 1000.0)) {
            QuitUserInterface(0);
        }
        return rc;
    }
    ++gTicks;
    gTickCostUs.push_back((now - before) * 1000.0);
    // A request went out when the exchange restarted its reply wait this tick.
    if (gPowerInfo.online && gCommInfo.presentFlag && gCommInfo.intervalCnt == gCommInfo.interval &&
        gCommInfo.txLen > 0) {
        ++gRequests;
    }
    if (now - gTickingFromMs >= gRunSeconds * 1000.0) {
        const double cpu = CpuSeconds() - gCpuAtStart;
        const double wall = (now - gTickingFromMs) / 1000.0;
        std::printf("online %d output %d ticks %d wall_s %.2f cpu_s %.3f cpu_pct %.2f rss_mb %.1f "
                    "requests_per_min %.1f tick_median_us %.1f tick_p99_us %.1f chart_points %d\n",
                    gPowerInfo.online, gPowerInfo.outputOn, gTicks, wall, cpu, 100.0 * cpu / wall,
                    RssKb() / 1024.0, gRequests * 60.0 / wall, Percentile(gTickCostUs, 0.5),
                    Percentile(gTickCostUs, 0.99),
                    UiStripChartPointCount(gMainPanel, PANEL_SCHART_R1));
        QuitUserInterface(0);
    }
    return rc;
}

int RefreshBench(int n) {
    AppRegisterUi();
    if (AppLoadAndShowPanels() != 0) {
        return 1;
    }
    UiSetTimersEnabled(gMainPanel, 0);
    std::vector<double> costs;
    for (int i = 0; i < n; ++i) {
        // Alternate the state so half the calls also redraw the front panel.
        gPowerInfo.outputOn = i % 2;
        const double t0 = SysMonotonicMs();
        RefreshOutputState();
        costs.push_back((SysMonotonicMs() - t0) * 1000.0);
    }
    std::vector<double> same;
    for (int i = 0; i < n; ++i) {
        const double t0 = SysMonotonicMs();
        RefreshOutputState();
        same.push_back((SysMonotonicMs() - t0) * 1000.0);
    }
    std::printf("refresh_changed_median_us %.1f refresh_unchanged_median_us %.1f\n",
                Percentile(costs, 0.5), Percentile(same, 0.5));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    gStartMs = SysMonotonicMs();
    if (argc > 1) {
        gMode = argv[1];
    }
    if (argc > 2) {
        gRunSeconds = std::atof(argv[2]);
    }
    if (argc > 3) {
        gOutput = argv[3];
    }
    if (gMode == "ab") {
        gOutput = "running";
        gAbRounds = argc > 3 ? std::atoi(argv[3]) : 5;
        gAbWhat = argc > 4 ? argv[4] : "log";
    }
    if (!UiInitRuntime(argc, argv)) {
        return 1;
    }
    // The layout sits beside the program, in the build's bin folder next to ours.
    UiSetProgramDir((UiProgramDir() + "/../bin").c_str());
    FileReadSoftSet(SOFTSET_FILE);
    if (gMode == "refresh") {
        return RefreshBench(argc > 2 ? std::atoi(argv[2]) : 1000);
    }
    AppRegisterUi();
    UiRegisterCtrlCallback("TIMER_50MS_CALLBACK", MeasuringTick);
    if (AppLoadAndShowPanels() != 0) {
        std::fprintf(stderr, "cannot load the layout from %s\n", UiLayoutPath(UIR_FILE).c_str());
        return 1;
    }
    gFirstConnect = 1;
    CommConnectDeal(1);
    gFirstConnect = 0;
    RunUserInterface();
    if (gPowerInfo.online) {
        CommConnectDeal(0);
    }
    return 0;
}
