// The report of a synthetic run, made through the runner and the report
// writer as a real one is:
//   bench_report [HOURS] [STEP_S] [FOLDER]
// runs a profile of STEP_S-second steps (default 60) for HOURS (default 1)
// against a stand-in source that answers at once and is measured once a
// second, as the polls do, with a failed step now and then; writes the two
// report files into FOLDER (default: the working folder) and prints their
// sizes and the CPU the writing took.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>

#include "platform/System.h"
#include "power/SourceLimits.h"
#include "sequence/Report.h"
#include "sequence/Runner.h"

namespace {

double gNowMs = 0;
SeqSourceState gState{1, 1, 0, 0, 2300, 500, SOURCE_RANGE_HIGH};

void Clock(SysLocalTime* wall, double* ms) {
    *ms = gNowMs;
    SysLocalTimeAt(1796738400000LL + static_cast<long long>(gNowMs), wall);
}

SeqSourceState State() {
    return gState;
}
int Range(int32_t level) {
    gState.volLevel = level;
    return 0;
}
int Preset(int32_t freq) {
    gState.freq = freq;
    return 0;
}
int Controls(int32_t vol, int32_t freq) {
    gState.vol = vol;
    gState.freq = freq;
    return 0;
}
int Output(int on) {
    gState.outputOn = on;
    return 0;
}
void Hold(int) {}

const SeqSource kSource{State, Range, Preset, Controls, Output, Hold};

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    const double hours = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int stepS = argc > 2 ? std::atoi(argv[2]) : 60;
    const std::string folder = argc > 3 ? argv[3] : ".";
    // A burn-in of the mains tolerance: nominal, low and high, with limits.
    const int32_t volts[] = {2300, 2070, 2530, 2300, 2200, 2400};
    SeqProfile profile;
    const int steps = static_cast<int>(hours * 3600 / stepS);
    for (int k = 0; k < steps; ++k) {
        SeqStep s;
        s.line = k + 2;
        s.vol = volts[k % 6];
        s.freq = k % 12 < 6 ? 500 : 600;
        s.dwell = stepS * 10;
        s.ramp = k % 6 == 2 ? 3 : 0;
        s.settle = s.ramp > 0 ? 50 : 20;
        s.vMin = s.vol - 50;
        s.vMax = s.vol + 50;
        s.iMax = 3000;
        s.fTol = 5;
        s.note = "step " + std::to_string(k + 1);
        profile.steps.push_back(s);
    }
    SeqSettings settings;
    settings.onFailContinue = 1;
    SeqRunner runner;
    runner.clock = Clock;
    if (SeqRunnerStart(&runner, profile, settings, &kSource, nullptr) != SEQ_START_OK) {
        std::fprintf(stderr, "bench_report: the run did not start\n");
        return 1;
    }
    long measurements = 0;
    for (long tick = 0; runner.phase != SEQ_PHASE_DONE; ++tick) {
        gNowMs += 50;
        SeqRunnerTick(&runner);
        if (runner.phase == SEQ_PHASE_RUNNING && tick % 20 == 0) {
            // Now and then a load a little above the current limit.
            const int32_t reading[4] = {gState.vol + static_cast<int32_t>(tick % 7) - 3,
                                        tick % 14000 == 0 ? 3100
                                                          : 2200 + static_cast<int32_t>(tick % 50),
                                        gState.freq, gState.vol * 22 / 100};
            SeqRunnerMeasured(&runner, reading);
            ++measurements;
        }
    }
    SeqReportInfo info{folder + "/burn-in.csv", "VX52300P"};
    std::string csvPath;
    std::string htmlPath;
    const double c0 = CpuMs();
    const int error = SeqReportWrite(runner.run, info, folder, &csvPath, &htmlPath);
    const double cpu = CpuMs() - c0;
    if (error != 0) {
        std::fprintf(stderr, "bench_report: %s: error %d\n", csvPath.c_str(), error);
        return 1;
    }
    const std::string csv = SeqReportCsv(runner.run);
    const std::string html = SeqReportHtml(runner.run, info);
    std::printf("hours %.2f steps %zu measurements %ld outcome %s csv_bytes %zu html_bytes %zu "
                "write_cpu_ms %.1f csv %s html %s\n",
                hours, runner.run.steps.size(), measurements, SeqOutcomeWord(runner.run.outcome),
                csv.size(), html.size(), cpu, csvPath.c_str(), htmlPath.c_str());
    return 0;
}
