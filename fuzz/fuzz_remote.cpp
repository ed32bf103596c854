// The remote-control command language, from the bytes a client sends.
//
// Input: three state bytes (link ready or not, output stopped / running /
// alarm, range, frequency and voltage picks, commands already queued), one
// byte of chunk size, then the client's bytes.
//
// Checked on every input: the answers are whole lines of printable ASCII; the
// error queue never grows past its size; nothing is queued while the link is
// not ready, and only a clear-alarm stop during an alarm; every settings
// command leaves settings that pass validation and a voltage inside the
// limits in force; and the same bytes fed whole or in pieces give the same
// answers, records and queue.
#include <algorithm>
#include <cstring>
#include <deque>
#include <string>

#include "FuzzSupport.h"
#include "link/Scheduler.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "power/Watchdog.h"
#include "remote/RemoteCommand.h"

namespace {

// The command language never asks the operator anything.
class NoPopups : public UiPopupResponder {
  public:
    int Message(const std::string& t, const std::string& m) override {
        FUZZ_CHECK(false, "message box %s: %s", t.c_str(), m.c_str());
        return 0;
    }
    int Confirm(const std::string& t, const std::string& m) override { return Message(t, m); }
    int FileSelect(int, const std::string&, std::string*) override {
        FUZZ_CHECK(false, "file dialog");
        return 0;
    }
};

struct State {
    Normal52PSet set;
    PowerInfo info;
    CommNewCmd queue;
};

State Take() {
    State s;
    std::memcpy(&s.set, &gNormal52PSet, sizeof s.set);
    std::memcpy(&s.info, &gPowerInfo, sizeof s.info);
    std::memcpy(&s.queue, &gCommNewCmd, sizeof s.queue);
    return s;
}

// The same bytes always give the same start, the scheduler's counts included.
void Prepare(const uint8_t* stateBytes) {
    fuzz::ByteReader in(stateBytes, 3);
    PowerRecordsReset();
    CommSchedulerReset();
    WatchdogReset();
    gPowerLastMeasurement = PowerMeasurement{}; // no age: answers do not depend on time
    const uint8_t a = in.Byte();
    const uint8_t b = in.Byte();
    const uint8_t c = in.Byte();
    static const int32_t kFreqs[] = {500, 600, 550, 450, 650, 1000, 2400, 4000};
    static const int32_t kVols[] = {2200, 1200, 1500, 1501, 10, 3000, 2995, 15};
    gNormal52PSet.freq = kFreqs[b & 7];
    gNormal52PSet.vol = kVols[(b >> 3) & 7];
    gNormal52PSet.volLevel = (b >> 6) & 1;
    gNormal52PSet.up2U = 5 + (c & 15);
    gNormal52PSet.down2U = 5 + ((c >> 4) & 15);
    gPowerInfo.online = (a & 1) != 0 ? 1 : 0;
    if ((a & 2) != 0) {
        CommSetNewCmdGroup(18); // the connect sequence still runs
    }
    switch ((a >> 2) & 3) {
    case 1:
        gPowerInfo.outputOn = 1;
        Cal52PPowerUpDown(1);
        break;
    case 2:
        gPowerInfo.alarm = 1;
        break;
    default:
        break;
    }
    for (int i = 0; i < ((a >> 4) & 7) && gCommNewCmd.count < COMM_QUEUE_SLOTS; ++i) {
        CommSetNewCmdSingleGroup(240, 235, 0);
    }
    gPowerInfo.riseCountdown = (a & 0x80) != 0 ? 3 : 0;
}

void CheckAnswers(const std::string& out) {
    FUZZ_CHECK(out.empty() || out.back() == '\n', "an answer without its line end");
    for (char ch : out) {
        const unsigned char u = static_cast<unsigned char>(ch);
        FUZZ_CHECK(ch == '\n' || (u >= 0x20 && u < 0x7F), "byte %02X in an answer", u);
    }
}

// The commands one feed added, and the settings they will send.
void CheckQueued(uint64_t queuedBefore, int readyBefore, int alarmBefore) {
    const uint64_t added = CommQueuedCount() - queuedBefore;
    if (added == 0) {
        return;
    }
    FUZZ_CHECK(readyBefore == 1, "%llu commands queued while the link was not ready",
               static_cast<unsigned long long>(added));
    FUZZ_CHECK(added <= static_cast<uint64_t>(gCommNewCmd.count) &&
                   gCommNewCmd.count <= COMM_QUEUE_SLOTS,
               "queue holds %d after %llu were added", gCommNewCmd.count,
               static_cast<unsigned long long>(added));
    for (int i = gCommNewCmd.count - static_cast<int>(added); i < gCommNewCmd.count; ++i) {
        const int slot = (gCommNewCmd.readPos + i) % COMM_QUEUE_SLOTS;
        const int kind = gCommNewCmd.cmd[slot];
        const int sub = gCommNewCmd.subCmd[slot];
        FUZZ_CHECK(alarmBefore == 0 || (kind == 15 && sub == 10), "%d/%d queued during an alarm",
                   kind, sub);
    }
    const Normal52PSet copy = gNormal52PSet;
    FUZZ_CHECK(Data52PCheck() == 0, "settings that validation would replace: %d V %d Hz", copy.vol,
               copy.freq);
    gNormal52PSet = copy;
    int32_t min = 0;
    int32_t max = 0;
    PowerVolLimits(gPowerInfo.outputOn, &min, &max);
    FUZZ_CHECK(gNormal52PSet.vol >= min && gNormal52PSet.vol <= max, "voltage %d outside %d..%d",
               gNormal52PSet.vol, min, max);
}

struct Run {
    std::string out;
    State after;
    std::deque<std::string> errors;
};

Run Feed(const uint8_t* stateBytes, const uint8_t* data, size_t size, size_t chunk) {
    Prepare(stateBytes);
    RemoteSession session;
    Run r;
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = std::min(chunk, size - at);
        const int ready = CommLinkReady();
        const int alarm = gPowerInfo.alarm;
        const uint64_t queued = CommQueuedCount();
        RemoteSessionFeed(&session, reinterpret_cast<const char*>(data + at), n, &r.out);
        FUZZ_CHECK(session.errors.size() <= static_cast<size_t>(REMOTE_ERROR_QUEUE),
                   "%zu errors kept", session.errors.size());
        CheckQueued(queued, ready, alarm);
    }
    // Whatever waits behind a *OPC? runs once the commands have gone out; the
    // lines it held may queue more and wait again, but each round answers one.
    for (size_t round = 0; session.waiting; ++round) {
        FUZZ_CHECK(round <= size, "*OPC? still waits after %zu emptied queues", round);
        CommClearNewCmdAll();
        RemoteSessionPoll(&session, &r.out);
    }
    CheckAnswers(r.out);
    r.after = Take();
    r.errors = session.errors;
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static NoPopups popups;
    UiSetPopupResponder(&popups);
    uint8_t state[3] = {};
    std::memcpy(state, data, std::min<size_t>(size, 3));
    fuzz::ByteReader in(data, size);
    in.Byte();
    in.Byte();
    in.Byte();
    const size_t chunk = 1 + in.Byte() % 64;
    const Run whole = Feed(state, in.Rest(), in.RestSize(), in.RestSize() + 1);
    // Input held behind a waiting *OPC? is capped per piece, so pieces may lose more.
    if (in.RestSize() > static_cast<size_t>(REMOTE_MAX_HELD_INPUT)) {
        return 0;
    }
    const Run pieces = Feed(state, in.Rest(), in.RestSize(), chunk);
    FUZZ_CHECK(whole.out == pieces.out, "answers differ when fed in pieces of %zu", chunk);
    FUZZ_CHECK(whole.errors == pieces.errors, "errors differ when fed in pieces of %zu", chunk);
    FUZZ_CHECK(std::memcmp(&whole.after.set, &pieces.after.set, sizeof whole.after.set) == 0 &&
                   std::memcmp(&whole.after.info, &pieces.after.info, sizeof whole.after.info) == 0,
               "records differ when fed in pieces of %zu", chunk);
    return 0;
}
