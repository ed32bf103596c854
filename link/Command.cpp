#include "link/Command.h"

#include "link/CommandIds.h"
#include <initializer_list>

#include "link/Frame.h"
#include "link/LinkView.h"
#include "link/Scheduler.h"
#include "power/PowerRecords.h"

namespace {

enum class Reply {
    Stop,          // "CSP" acknowledgement
    Start,         // "CST" acknowledgement
    Settings,      // "SNO" acknowledgement
    SettingsQuery, // "RNS" with the output settings
    Measure,       // "RNT" with the measured values
    State,         // "RTE" with the state character
    Model,         // "RMO", identified by the model query
};

struct CommandEntry {
    CommandId id;
    const char* mnemonic;
    bool carriesSettings;
    Reply reply;
};

// Several pairs share one frame on purpose: stop and clear-alarm are the same
// request to the instrument, and the front panel sends settings under two
// sub-kinds.
constexpr CommandEntry kCommands[] = {
    {COMM_ID_STOP, "CSP", false, Reply::Stop},
    {COMM_ID_CLEAR_ALARM, "CSP", false, Reply::Stop},
    {COMM_ID_START, "CST", false, Reply::Start},
    {COMM_ID_SETTINGS_STOPPED, "SNO", true, Reply::Settings},
    {COMM_ID_SETTINGS_RUNNING, "SNO", true, Reply::Settings},
    {COMM_ID_SETTINGS_QUERY, "RNS", false, Reply::SettingsQuery},
    {COMM_ID_MEASURE_QUERY, "RNT", false, Reply::Measure},
    {COMM_ID_STATE_QUERY, "RTE", false, Reply::State},
    {COMM_ID_MODEL_QUERY, "RMO", false, Reply::Model},
};

const CommandEntry* FindCommand(int kind, int subKind) {
    for (const CommandEntry& c : kCommands) {
        if (CommIs(kind, subKind, c.id)) {
            return &c;
        }
    }
    return nullptr;
}

// An accepted reply frame of length T. Bytes past the end of the frame are
// treated as absent, so no read ever reaches beyond what was received.
class ReplyView {
  public:
    ReplyView(const uint8_t* bytes, int frameLen) : b_(bytes), t_(frameLen) {}
    int Length() const { return t_; }
    bool Is(int offset, char c) const {
        return offset >= 0 && offset < t_ && b_[offset] == static_cast<uint8_t>(c);
    }
    bool HasMark(const char* mnemonic) const {
        return Is(4, mnemonic[0]) && Is(5, mnemonic[1]) && Is(6, mnemonic[2]) && Is(7, '=');
    }
    bool IsDigitAt(int offset) const {
        return offset >= 0 && offset < t_ && b_[offset] >= '0' && b_[offset] <= '9';
    }
    uint8_t At(int offset) const { return (offset >= 0 && offset < t_) ? b_[offset] : 0; }

  private:
    const uint8_t* b_;
    int t_;
};

// Reads digits at the given offsets into one number. A character that is not
// a digit makes the whole reply unusable rather than a wrong number that
// would be shown and later sent back to the source.
class DigitReader {
  public:
    explicit DigitReader(const ReplyView& v) : v_(v) {}
    int32_t Number(std::initializer_list<int> offsets) {
        int32_t value = 0;
        for (int off : offsets) {
            if (!v_.IsDigitAt(off)) {
                ok_ = false;
                return 0;
            }
            value = value * 10 + (v_.At(off) - '0');
        }
        return value;
    }
    bool Ok() const { return ok_; }

  private:
    const ReplyView& v_;
    bool ok_ = true;
};

void ClearMeasureAndShow() {
    PowerClearMeasure();
    LinkViewData52PFromMeasureToPanel();
}

int RxOutputAck(const ReplyView& v, const char* mnemonic, int outputOn) {
    if (v.Length() < 13 || !v.HasMark(mnemonic)) {
        return COMM_RX_NONE;
    }
    if (!v.Is(8, '=')) {
        return COMM_RX_UNUSABLE;
    }
    LinkViewData52PFromNormalVarToPanel(gPowerInfo.outputOn);
    gPowerInfo.outputOn = outputOn;
    gPowerInfo.alarm = 0;
    gPowerInfo.riseCountdown = 0;
    LinkViewRefreshOutputState();
    ClearMeasureAndShow();
    return COMM_RX_ACCEPTED;
}

int RxSettingsAck(const ReplyView& v) {
    if (v.Length() < 13 || !v.HasMark("SNO")) {
        return COMM_RX_NONE;
    }
    if (!v.Is(8, '=')) {
        return COMM_RX_UNUSABLE;
    }
    LinkViewData52PFromNormalVarToPanel(gPowerInfo.outputOn);
    gPowerInfo.alarm = 0;
    gPowerInfo.riseCountdown = 0;
    LinkViewRefreshOutputState();
    return COMM_RX_ACCEPTED;
}

int RxSettingsQuery(const ReplyView& v) {
    if (v.Length() < 30 || !v.HasMark("RNS")) {
        return COMM_RX_NONE;
    }
    DigitReader d(v);
    const int32_t vol = d.Number({8, 9, 10, 12});
    // Frequencies of 100 Hz and more come as four digits, lower ones as
    // "dd.d"; offset 16 tells the two apart.
    const int32_t freq = v.IsDigitAt(16) ? d.Number({14, 15, 16, 17}) : d.Number({14, 15, 17});
    const int32_t up2U = d.Number({19, 20});
    const int32_t down2U = d.Number({22, 23});
    const int32_t auxCode = d.Number({25});
    if (!d.Ok()) {
        return COMM_RX_UNUSABLE;
    }
    gNormal52PSet.vol = vol;
    gNormal52PSet.freq = freq;
    gNormal52PSet.up2U = up2U;
    gNormal52PSet.down2U = down2U;
    gNormal52PSet.auxCode = auxCode;
    gNormal52PSet.volLevel = v.Is(27, '1') ? 1 : 0;
    return COMM_RX_ACCEPTED;
}

int32_t RoundTenth(int32_t v) {
    return (v + 5) / 10;
}

int RxMeasure(const ReplyView& v) {
    if (!v.HasMark("RNT")) {
        return COMM_RX_NONE;
    }
    if (v.Is(8, '!') || v.Length() < 34) {
        return COMM_RX_UNUSABLE;
    }
    DigitReader d(v);
    const int32_t volt = d.Number({8, 9, 10, 12});

    // The current keeps five significant digits; where its point sits says
    // how they scale to milliamperes.
    int32_t current = 0;
    if (v.Is(15, '.')) {
        current = RoundTenth(d.Number({14, 16, 17, 18, 19}));
    } else if (v.Is(16, '.')) {
        current = d.Number({14, 15, 17, 18, 19});
    } else if (v.Is(17, '.')) {
        current = 10 * d.Number({14, 15, 16, 18, 19});
    }

    const int32_t freq = v.Is(23, '.') ? d.Number({21, 22, 24}) : d.Number({21, 22, 23, 24});
    const int32_t power = v.Is(30, '.') ? RoundTenth(d.Number({26, 27, 28, 29, 31}))
                                        : RoundTenth(d.Number({27, 28, 29, 30, 31}));
    if (!d.Ok()) {
        return COMM_RX_UNUSABLE;
    }
    gArrMeasureOutput[0] = volt;
    gArrMeasureOutput[1] = current;
    gArrMeasureOutput[2] = freq;
    gArrMeasureOutput[3] = power;
    if (gPowerInfo.outputOn == 1) {
        LinkViewData52PFromMeasureToPanel();
    }
    return COMM_RX_ACCEPTED;
}

void ApplyStopped(int alarm) {
    gPowerInfo.outputOn = 0;
    gPowerInfo.alarm = alarm;
    LinkViewRefreshOutputState();
    ClearMeasureAndShow();
}

int RxState(const ReplyView& v) {
    // A short or foreign state reply still shows the instrument is there.
    if (v.Length() < 13 || !v.HasMark("RTE")) {
        return COMM_RX_UNUSABLE;
    }
    const uint8_t state = v.At(8);
    gPowerState = state;
    switch (state) {
    case '1':
    case '3':
        // The source reports an output we did not start: stop it.
        CommSetNewCmdSingleGroup(COMM_ID_STOP.kind, COMM_ID_STOP.subKind, 0);
        ApplyStopped(0);
        break;
    case '2':
        gPowerInfo.outputOn = 1;
        gPowerInfo.alarm = 0;
        // Started without us, at the source's own panel for instance: without a
        // ladder a step would send 0 V. Take it from the settings in force, as
        // connecting to a running source does.
        if (gNormal52PSet.upDownBase == 0 && gNormal52PSet.upDownHigh == 0 &&
            gNormal52PSet.upDownLow == 0) {
            Cal52PPowerUpDown(1);
        }
        LinkViewRefreshOutputState();
        break;
    case '4':
        ApplyStopped(1);
        break;
    default:
        ApplyStopped(0);
        break;
    }
    return COMM_RX_ACCEPTED;
}

void PutDigits(uint8_t* out, int32_t value, int digits) {
    int32_t scale = 1;
    for (int i = 1; i < digits; ++i) {
        scale *= 10;
    }
    for (int i = 0; i < digits; ++i, scale /= 10) {
        out[i] = static_cast<uint8_t>((value / scale) % 10 + '0');
    }
}

// "2200,0500,05,05,0,1*": the data of the settings command.
int SettingsData(uint8_t* out) {
    const Normal52PSet& s = gNormal52PSet;
    PutDigits(out + 0, s.vol, 4);
    out[4] = ',';
    PutDigits(out + 5, s.freq, 4);
    out[9] = ',';
    PutDigits(out + 10, s.up2U, 2);
    out[12] = ',';
    PutDigits(out + 13, s.down2U, 2);
    out[15] = ',';
    PutDigits(out + 16, s.auxCode, 1);
    out[17] = ',';
    PutDigits(out + 18, s.volLevel, 1);
    out[19] = '*';
    return 20;
}

} // namespace

int CommTx(int kind, int subKind, int parameter, uint8_t* buffer) {
    (void)parameter;
    const CommandEntry* c = FindCommand(kind, subKind);
    if (c == nullptr || buffer == nullptr) {
        return 0;
    }
    char head[4] = {c->mnemonic[0], c->mnemonic[1], c->mnemonic[2], '*'};
    if (!c->carriesSettings) {
        return FrameBuild(buffer, head, nullptr, 0);
    }
    head[3] = '=';
    uint8_t data[20];
    const int n = SettingsData(data);
    return FrameBuild(buffer, head, data, n);
}

int CommRx(int kind, int subKind, int parameter, const uint8_t* bytes, int count) {
    (void)parameter;
    const CommandEntry* c = FindCommand(kind, subKind);
    if (c == nullptr) {
        return COMM_RX_NONE;
    }
    if (c->reply == Reply::Model) {
        return ModelQueryRx(bytes, count, gPowerInfo.modelName, &gPowerInfo.modelNo);
    }
    const int frameLen = FrameAccept(bytes, count);
    if (frameLen == 0) {
        return COMM_RX_NONE;
    }
    const ReplyView v(bytes, frameLen);
    switch (c->reply) {
    case Reply::Stop:
        return RxOutputAck(v, "CSP", 0);
    case Reply::Start:
        return RxOutputAck(v, "CST", 1);
    case Reply::Settings:
        return RxSettingsAck(v);
    case Reply::SettingsQuery:
        return RxSettingsQuery(v);
    case Reply::Measure:
        return RxMeasure(v);
    case Reply::State:
        return RxState(v);
    case Reply::Model:
        break;
    }
    return COMM_RX_NONE;
}

const char* CommMnemonic(int kind, int subKind) {
    const CommandEntry* c = FindCommand(kind, subKind);
    return c ? c->mnemonic : nullptr;
}
