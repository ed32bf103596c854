// The reply decoder with every command in progress.
//
// Input: a mode byte (which command is in progress, and whether to give the
// reply a right start mark, address and checksum so the decoding behind the
// acceptance test is reached), the address, the records' output and alarm
// state, how many commands already wait in the queue, then the reply.
//
// Checked on every input: no read beyond the reply; the result is 1, -1 or 0
// and matches an acceptance test and reply classification written here from
// the frame and command tables; 0 and -1 leave every record and the queue as
// they were; an accepted measurement or settings reply stores the numbers its
// digits spell; an accepted state reply stores its state character.
#include <algorithm>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "link/Command.h"
#include "link/Frame.h"
#include "link/Scheduler.h"
#include "power/PowerRecords.h"

namespace {

struct Pair {
    int kind;
    int subKind;
};

enum class Expect { Stop, Start, Settings, SettingsQuery, Measure, State, Model, None };

struct Known {
    Pair pair;
    Expect reply;
};

const Known kCommands[] = {
    {{15, 0}, Expect::Stop},      {{15, 10}, Expect::Stop},     {{15, 255}, Expect::Start},
    {{90, 33}, Expect::Settings}, {{90, 80}, Expect::Settings}, {{165, 33}, Expect::SettingsQuery},
    {{240, 17}, Expect::Measure}, {{240, 235}, Expect::State},  {{240, 237}, Expect::Model},
};

// Near misses and plain wrong pairs: none of them is a command.
const Pair kNotCommands[] = {{90, 1},    {165, 17},  {0, 0},   {15, 1},   {240, 0},
                             {240, 236}, {165, 0},   {-1, 0},  {15, -1},  {33, 90},
                             {255, 15},  {240, 238}, {90, 34}, {15, 256}, {1 << 30, 17}};

Expect Classify(int kind, int subKind) {
    for (const Known& k : kCommands) {
        if (k.pair.kind == kind && k.pair.subKind == subKind) {
            return k.reply;
        }
    }
    return Expect::None;
}

struct Records {
    Normal52PSet set;
    PowerInfo info;
    int32_t state;
    int32_t measure[MEASURE_COUNT];
    CommNewCmd queue;

    static Records Take() {
        Records r;
        std::memcpy(&r.set, &gNormal52PSet, sizeof r.set);
        std::memcpy(&r.info, &gPowerInfo, sizeof r.info);
        r.state = gPowerState;
        std::memcpy(r.measure, gArrMeasureOutput, sizeof r.measure);
        std::memcpy(&r.queue, &gCommNewCmd, sizeof r.queue);
        return r;
    }
    bool SameAs(const Records& o) const {
        return std::memcmp(&set, &o.set, sizeof set) == 0 &&
               std::memcmp(&info, &o.info, sizeof info) == 0 && state == o.state &&
               std::memcmp(measure, o.measure, sizeof measure) == 0 &&
               std::memcmp(&queue, &o.queue, sizeof queue) == 0;
    }
};

// The reply as the decoder must see it, with its own bounds.
class Reply {
  public:
    Reply(const std::vector<uint8_t>& b, int address) : b_(b), address_(address) {}

    int Size() const { return static_cast<int>(b_.size()); }
    int At(int i) const { return i >= 0 && i < Size() ? b_[static_cast<size_t>(i)] : -1; }
    bool Digit(int i) const { return At(i) >= '0' && At(i) <= '9'; }
    int D(int i) const { return At(i) - '0'; }

    // Frame length when start mark, address, count and checksum are right, else 0.
    int Accepted() const {
        if (Size() < 4 || At(0) != '{' || At(3) != (address_ & 0xFF)) {
            return 0;
        }
        const int length = At(1);
        if (Size() < length + 3) {
            return 0;
        }
        unsigned sum = 0;
        for (int i = 1; i <= length; ++i) {
            sum += static_cast<unsigned>(At(i));
        }
        return At(length + 1) == static_cast<int>(sum & 0xFF) ? length + 3 : 0;
    }

    bool Mark(int frameLen, const char* mnemonic) const {
        return frameLen >= 8 && At(4) == mnemonic[0] && At(5) == mnemonic[1] &&
               At(6) == mnemonic[2] && At(7) == '=';
    }

    bool AllDigits(std::initializer_list<int> offsets) const {
        for (int i : offsets) {
            if (!Digit(i)) {
                return false;
            }
        }
        return true;
    }

  private:
    const std::vector<uint8_t>& b_;
    int address_;
};

int ExpectedAck(const Reply& r, int t, const char* mnemonic) {
    if (t < 13 || !r.Mark(t, mnemonic)) {
        return 0;
    }
    return r.At(8) == '=' ? 1 : -1;
}

// Digits read for the settings-query reply; every one must be a digit.
bool SettingsQueryDigits(const Reply& r) {
    const bool freqOk = r.Digit(16) ? r.AllDigits({14, 15, 16, 17}) : r.AllDigits({14, 15, 17});
    return r.AllDigits({8, 9, 10, 12, 19, 20, 22, 23, 25}) && freqOk;
}

bool MeasureDigits(const Reply& r) {
    bool ok = r.AllDigits({8, 9, 10, 12});
    if (r.At(15) == '.') {
        ok = ok && r.AllDigits({14, 16, 17, 18, 19});
    } else if (r.At(16) == '.') {
        ok = ok && r.AllDigits({14, 15, 17, 18, 19});
    } else if (r.At(17) == '.') {
        ok = ok && r.AllDigits({14, 15, 16, 18, 19});
    }
    ok = ok && (r.At(23) == '.' ? r.AllDigits({21, 22, 24}) : r.AllDigits({21, 22, 23, 24}));
    ok = ok &&
         (r.At(30) == '.' ? r.AllDigits({26, 27, 28, 29, 31}) : r.AllDigits({27, 28, 29, 30, 31}));
    return ok;
}

int Expected(Expect e, const Reply& r) {
    if (e == Expect::None || e == Expect::Model) {
        return 0; // the model reply is checked on its own below
    }
    const int t = r.Accepted();
    if (t == 0) {
        return 0;
    }
    switch (e) {
    case Expect::Stop:
        return ExpectedAck(r, t, "CSP");
    case Expect::Start:
        return ExpectedAck(r, t, "CST");
    case Expect::Settings:
        return ExpectedAck(r, t, "SNO");
    case Expect::SettingsQuery:
        if (t < 30 || !r.Mark(t, "RNS")) {
            return 0;
        }
        return SettingsQueryDigits(r) ? 1 : -1;
    case Expect::Measure:
        if (!r.Mark(t, "RNT")) {
            return 0;
        }
        if (r.At(8) == '!' || t < 34) {
            return -1;
        }
        return MeasureDigits(r) ? 1 : -1;
    case Expect::State:
        return (t < 13 || !r.Mark(t, "RTE")) ? -1 : 1;
    default:
        return 0;
    }
}

// What an accepted reply must have written, computed from its digits.
void CheckApplied(Expect e, const Reply& r, const Records& before) {
    if (e == Expect::SettingsQuery) {
        const int vol = 1000 * r.D(8) + 100 * r.D(9) + 10 * r.D(10) + r.D(12);
        const int freq = r.Digit(16) ? 1000 * r.D(14) + 100 * r.D(15) + 10 * r.D(16) + r.D(17)
                                     : 100 * r.D(14) + 10 * r.D(15) + r.D(17);
        FUZZ_CHECK(gNormal52PSet.vol == vol, "vol %d, digits say %d", gNormal52PSet.vol, vol);
        FUZZ_CHECK(gNormal52PSet.freq == freq, "freq %d, digits say %d", gNormal52PSet.freq, freq);
        FUZZ_CHECK(gNormal52PSet.up2U == 10 * r.D(19) + r.D(20), "up2U %d", gNormal52PSet.up2U);
        FUZZ_CHECK(gNormal52PSet.down2U == 10 * r.D(22) + r.D(23), "down2U %d",
                   gNormal52PSet.down2U);
        FUZZ_CHECK(gNormal52PSet.auxCode == r.D(25), "auxCode %d", gNormal52PSet.auxCode);
        FUZZ_CHECK(gNormal52PSet.volLevel == (r.At(27) == '1' ? 1 : 0), "volLevel %d",
                   gNormal52PSet.volLevel);
    } else if (e == Expect::Measure) {
        const int volt = 1000 * r.D(8) + 100 * r.D(9) + 10 * r.D(10) + r.D(12);
        int current = 0;
        if (r.At(15) == '.') {
            current =
                (10000 * r.D(14) + 1000 * r.D(16) + 100 * r.D(17) + 10 * r.D(18) + r.D(19) + 5) /
                10;
        } else if (r.At(16) == '.') {
            current = 10000 * r.D(14) + 1000 * r.D(15) + 100 * r.D(17) + 10 * r.D(18) + r.D(19);
        } else if (r.At(17) == '.') {
            current =
                10 * (10000 * r.D(14) + 1000 * r.D(15) + 100 * r.D(16) + 10 * r.D(18) + r.D(19));
        }
        const int freq = r.At(23) == '.' ? 100 * r.D(21) + 10 * r.D(22) + r.D(24)
                                         : 1000 * r.D(21) + 100 * r.D(22) + 10 * r.D(23) + r.D(24);
        const int p =
            r.At(30) == '.'
                ? 10000 * r.D(26) + 1000 * r.D(27) + 100 * r.D(28) + 10 * r.D(29) + r.D(31)
                : 10000 * r.D(27) + 1000 * r.D(28) + 100 * r.D(29) + 10 * r.D(30) + r.D(31);
        const int want[4] = {volt, current, freq, (p + 5) / 10};
        for (int i = 0; i < 4; ++i) {
            FUZZ_CHECK(gArrMeasureOutput[i] == want[i], "entry %d is %d, digits say %d", i,
                       gArrMeasureOutput[i], want[i]);
        }
        for (int i = 4; i < MEASURE_COUNT; ++i) {
            FUZZ_CHECK(gArrMeasureOutput[i] == before.measure[i], "entry %d written", i);
        }
    } else if (e == Expect::State) {
        FUZZ_CHECK(gPowerState == r.At(8), "state %d, reply says %d", gPowerState, r.At(8));
        const bool stopQueued = gCommNewCmd.count == before.queue.count + 1;
        const bool wantStop =
            (r.At(8) == '1' || r.At(8) == '3') && before.queue.count < COMM_QUEUE_SLOTS;
        FUZZ_CHECK(stopQueued == wantStop, "queue %d -> %d for state %d", before.queue.count,
                   gCommNewCmd.count, r.At(8));
        FUZZ_CHECK(gPowerInfo.outputOn == (r.At(8) == '2' ? 1 : 0), "outputOn %d",
                   gPowerInfo.outputOn);
        FUZZ_CHECK(gPowerInfo.alarm == (r.At(8) == '4' ? 1 : 0), "alarm %d", gPowerInfo.alarm);
    } else if (e == Expect::Stop || e == Expect::Start) {
        FUZZ_CHECK(gPowerInfo.outputOn == (e == Expect::Start ? 1 : 0), "outputOn %d",
                   gPowerInfo.outputOn);
        for (int i = 0; i < MEASURE_COUNT; ++i) {
            FUZZ_CHECK(gArrMeasureOutput[i] == 0, "entry %d not cleared", i);
        }
    }
}

// The model reply by its table, test by test.
int ExpectedModel(const Reply& r, int address) {
    if (r.Size() < MODEL_REPLY_LEN || r.At(0) != '{' || r.At(1) != 17 || r.At(2) != 0 ||
        r.At(3) != (address & 0xFF) || r.At(4) != 'R' || r.At(5) != 'M' || r.At(6) != 'O' ||
        r.At(7) != '=' || r.At(8) != 'V' || r.At(9) != 'X') {
        return 0;
    }
    unsigned sum = 0;
    for (int i = 1; i <= 17; ++i) {
        sum += static_cast<unsigned>(r.At(i));
    }
    if (r.At(18) != static_cast<int>(sum & 0xFF)) {
        return 0;
    }
    return r.Digit(10) && r.Digit(11) && r.Digit(12) ? 1 : 0;
}

// Gives the reply a right start, address, length byte (when asked) and checksum.
void MakeAcceptable(std::vector<uint8_t>& b, int address, bool fixLength) {
    if (b.size() < 4) {
        return;
    }
    b[0] = '{';
    b[3] = static_cast<uint8_t>(address & 0xFF);
    if (fixLength) {
        b[1] = static_cast<uint8_t>(std::min<size_t>(b.size() - 3, 255));
    }
    const size_t length = b[1];
    if (length + 2 > b.size()) {
        return;
    }
    unsigned sum = 0;
    for (size_t i = 1; i <= length; ++i) {
        sum += b[i];
    }
    b[length + 1] = static_cast<uint8_t>(sum & 0xFF);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ByteReader in(data, size);
    const uint8_t mode = in.Byte();
    const uint8_t addressByte = in.Byte();
    const uint8_t stateByte = in.Byte();
    const uint8_t queued = in.Byte();

    Pair pair;
    if ((mode & 0x80) == 0) {
        pair = kCommands[(mode & 0x0F) % std::size(kCommands)].pair;
    } else {
        pair = kNotCommands[(mode & 0x0F) % std::size(kNotCommands)];
    }
    const Expect expect = Classify(pair.kind, pair.subKind);
    const int address = addressByte == 0 ? 1 : addressByte;

    std::vector<uint8_t> bytes(in.Rest(), in.Rest() + in.RestSize());
    if (mode & 0x20) {
        MakeAcceptable(bytes, address, (mode & 0x40) != 0);
    }

    PowerRecordsReset();
    CommClearNewCmdAll();
    gPowerInfo.address = address;
    gPowerInfo.outputOn = stateByte & 1;
    gPowerInfo.alarm = (stateByte >> 1) & 1;
    gPowerInfo.riseCountdown = (stateByte >> 2) & 7;
    gPowerState = stateByte;
    std::strcpy(gPowerInfo.modelName, "before");
    gPowerInfo.modelNo = -7;
    for (int i = 0; i < MEASURE_COUNT; ++i) {
        gArrMeasureOutput[i] = 1000 + i;
    }
    gNormal52PSet = Normal52PSet{500, 2200, 1, 5, 6, 3, 0, 0, 0};
    for (int i = 0; i < queued % (COMM_QUEUE_SLOTS + 1); ++i) {
        CommSetNewCmdSingleGroup(240, 17, 0);
    }
    const Records before = Records::Take();

    // An exact-size copy, so a read past the count is a heap overflow.
    std::vector<uint8_t> exact(bytes);
    const int result = CommRx(pair.kind, pair.subKind, 0, exact.empty() ? nullptr : exact.data(),
                              static_cast<int>(exact.size()));

    const Reply reply(bytes, address);
    FUZZ_CHECK(result == 1 || result == 0 || result == -1, "result %d", result);
    if (expect == Expect::Model) {
        const int want = ExpectedModel(reply, address);
        FUZZ_CHECK(result == want, "model reply gave %d, expected %d", result, want);
        if (result == 1) {
            FUZZ_CHECK(std::memcmp(gPowerInfo.modelName, bytes.data() + 8, 8) == 0 &&
                           gPowerInfo.modelName[8] == '\0',
                       "model name not copied");
            const int number = 100 * reply.D(12) + 10 * reply.D(13) + reply.D(14);
            FUZZ_CHECK(gPowerInfo.modelNo == number, "model number %d, expected %d",
                       gPowerInfo.modelNo, number);
        }
    } else {
        const int want = Expected(expect, reply);
        FUZZ_CHECK(result == want, "kind %d sub %d gave %d, expected %d", pair.kind, pair.subKind,
                   result, want);
    }
    if (result != 1) {
        FUZZ_CHECK(Records::Take().SameAs(before), "kind %d sub %d result %d changed a record",
                   pair.kind, pair.subKind, result);
    } else {
        CheckApplied(expect, reply, before);
    }
    return 0;
}
