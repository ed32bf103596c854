// Figures of the frame codec, and the wire time of each exchange set against
// the reply wait the scheduler allows at each baud rate.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/Command.h"
#include "link/Frame.h"
#include "link/Scheduler.h"
#include "power/PowerRecords.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> Reply(const std::string& text) {
    std::vector<uint8_t> f;
    f.reserve(text.size() + 6);
    for (uint8_t b :
         {uint8_t{0x7B}, static_cast<uint8_t>(text.size() + 3), uint8_t{0x00}, uint8_t{0x01}}) {
        f.push_back(b);
    }
    for (char c : text) {
        f.push_back(static_cast<uint8_t>(c));
    }
    unsigned sum = 0;
    for (size_t i = 1; i < f.size(); ++i) {
        sum += f[i];
    }
    f.push_back(static_cast<uint8_t>(sum));
    f.push_back(0x7D);
    return f;
}

template <typename Fn> double PerSecond(int n, Fn fn) {
    const auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
        fn();
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    return n / s;
}

} // namespace

int main() {
    PowerRecordsReset();
    gPowerInfo.address = 1;
    // Display calls go nowhere without a window, so this times the decoding itself.
    const auto rnt = Reply("RNT=220.1,01.234,50.00,0271.6,2");
    const auto rte = Reply("RTE=200");
    const auto model = Reply("RMO=VX52300P01");
    const int n = 2000000;
    volatile int sink = 0;
    const double rntRate =
        PerSecond(n, [&] { sink = sink + CommRx(240, 17, 0, rnt.data(), int(rnt.size())); });
    const double rteRate =
        PerSecond(n, [&] { sink = sink + CommRx(240, 235, 0, rte.data(), int(rte.size())); });
    char name[12];
    int32_t number = 0;
    const double modelRate = PerSecond(
        n, [&] { sink = sink + ModelQueryRx(model.data(), int(model.size()), name, &number); });
    uint8_t buf[64];
    gNormal52PSet = {500, 2200, 1, 5, 5, 0, 0, 0, 0};
    const double txRate = PerSecond(n, [&] { sink = sink + CommTx(90, 33, 0, buf); });
    std::printf("decode_rnt_per_s %.0f decode_rte_per_s %.0f decode_model_per_s %.0f "
                "encode_sno_per_s %.0f\n",
                rntRate, rteRate, modelRate, txRate);

    // Request and reply lengths of each exchange; 10 bits per byte on the line.
    const struct {
        const char* name;
        int request, reply;
    } exchanges[] = {{"RMO", 10, 20}, {"RTE", 10, 13}, {"CSP/CST", 10, 13},
                     {"SNO", 30, 13}, {"RNS", 10, 32}, {"RNT", 10, 36}};
    for (int baud : {1200, 2400, 4800, 9600}) {
        gPowerInfo.baudRate = baud;
        const int waitTicks = CommGetInterval(240, 17);
        // The reply is read on the tick after the wait: (interval + 1) ticks of 50 ms.
        const double waitMs = (waitTicks + 1) * 50.0;
        for (const auto& e : exchanges) {
            const double wireMs = (e.request + e.reply) * 10.0 * 1000.0 / baud;
            std::printf("wire baud %d exchange %s wire_ms %.1f wait_ms %.0f margin_ms %.1f\n", baud,
                        e.name, wireMs, waitMs, waitMs - wireMs);
        }
    }
    return sink == 42 ? 1 : 0;
}
