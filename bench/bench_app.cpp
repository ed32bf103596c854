// Start-up and ticking figures of the real program code under a real X server.
//   bench_app startup            prints the milliseconds from main to the first tick
//   bench_app ticking SECONDS    runs the output with all four charts drawing and
//                                prints CPU seconds used and resident memory at the end
// Run from a folder holding the program's data files (bench/run.sh does).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

#include "app/Shell.h"
#include "app/Tick.h"
#include "app/Vx52PSoftUi.h"
#include "link/Scheduler.h"
#include "persist/SettingsFiles.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/FrontPanel.h"
#include "power/PowerRecords.h"

namespace {

double gStartMs = 0.0;
double gFirstTickMs = -1.0;
const char* gMode = "startup";
double gRunSeconds = 60.0;
double gTickingFromMs = 0.0;
double gCpuAtStart = 0.0;
int gTicks = 0;

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

int MeasuringTick(int panel, int control, int event, void* data, int d1, int d2) {
    const int rc = TIMER_50MS_CALLBACK(panel, control, event, data, d1, d2);
    if (event != EVENT_TIMER_TICK) {
        return rc;
    }
    const double now = SysMonotonicMs();
    ++gTicks;
    if (gFirstTickMs < 0) {
        gFirstTickMs = now;
        if (std::strcmp(gMode, "startup") == 0) {
            std::printf("first_tick_ms %.1f\n", gFirstTickMs - gStartMs);
            QuitUserInterface(0);
            return rc;
        }
        // Start the output: online through the link, offline by toggling.
        LED_OUTPUT_CALLBACK(gMainPanel, PANEL_LED_OUTPUT, EVENT_LEFT_CLICK, nullptr, 0, 0);
        gTickingFromMs = now;
        gCpuAtStart = CpuSeconds();
        gTicks = 0;
        return rc;
    }
    if (now - gTickingFromMs >= gRunSeconds * 1000.0) {
        const double cpu = CpuSeconds() - gCpuAtStart;
        const double wall = (now - gTickingFromMs) / 1000.0;
        std::printf("online %d output %d ticks %d wall_s %.2f cpu_s %.3f cpu_pct %.2f rss_mb %.1f\n",
                    gPowerInfo.online, gPowerInfo.outputOn, gTicks, wall, cpu,
                    100.0 * cpu / wall, RssKb() / 1024.0);
        QuitUserInterface(0);
    }
    return rc;
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
    if (!UiInitRuntime(argc, argv)) {
        return 1;
    }
    FileReadSoftSet(SOFTSET_FILE);
    AppRegisterUi();
    UiRegisterCtrlCallback("TIMER_50MS_CALLBACK", MeasuringTick);
    if (AppLoadAndShowPanels() != 0) {
        std::fprintf(stderr, "cannot load the layout from the working folder\n");
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
