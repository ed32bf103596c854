// Figures of the remote-control command language itself: queries and refused set commands
// a session answers per second, without sockets. Display calls go nowhere without a window.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <string>

#include "link/Scheduler.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "remote/RemoteCommand.h"

namespace {

// Lines per second through one session; *out collects what it answered.
double LinesPerSecond(const std::string& line, int n, size_t* answered) {
    RemoteSession session;
    std::string out;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
        RemoteSessionFeed(&session, line.data(), line.size(), &out);
        *answered += out.size();
        out.clear();
        session.errors.clear();
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return n / s;
}

} // namespace

int main() {
    PowerRecordsReset();
    CommSchedulerReset();
    gNormal52PSet = Normal52PSet{500, 2200, 1, 5, 5, 0, 0, 0, 0};
    gPowerInfo.online = 1;
    gPowerLastMeasurement = PowerMeasurement{{2201, 1234, 500, 271}, 0.0, 1};
    // What the meters show, which MEASure answers.
    std::copy(std::begin(gPowerLastMeasurement.values), std::end(gPowerLastMeasurement.values),
              gArrMeasureOutput);
    const int n = 200000;
    size_t bytes = 0;
    std::printf("remote_meas_all_per_s %.0f\n", LinesPerSecond("MEAS:ALL?\n", n, &bytes));
    std::printf("remote_volt_query_per_s %.0f\n", LinesPerSecond("SOUR:VOLT?\n", n, &bytes));
    std::printf("remote_five_queries_line_per_s %.0f\n",
                LinesPerSecond("VOLT?;FREQ?;:OUTP?;:MEAS:VOLT?;CURR?\n", n, &bytes));
    // Refused before anything changes: the cost of parsing and range checks alone.
    std::printf("remote_refused_set_per_s %.0f\n", LinesPerSecond("VOLT 999\n", n, &bytes));
    std::printf("remote_answer_bytes %zu\n", bytes);
    return 0;
}
