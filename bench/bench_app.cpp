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
// Run from a folder holding the program's data files (bench/run.sh does).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "app/Shell.h"
#include "app/Tick.h"
#include "app/Vx52PSoftUi.h"
#include "charts/Charts.h"
#include "link/Scheduler.h"
#include "persist/SettingsFiles.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/FrontPanel.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"

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
                    LED_OUTPUT_CALLBACK(gMainPanel, PANEL_LED_OUTPUT, EVENT_LEFT_CLICK, nullptr,
                                        0, 0);
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
                    gPowerInfo.online, gPowerInfo.outputOn, gTicks, wall, cpu,
                    100.0 * cpu / wall, RssKb() / 1024.0, gRequests * 60.0 / wall,
                    Percentile(gTickCostUs, 0.5), Percentile(gTickCostUs, 0.99),
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
