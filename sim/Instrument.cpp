#include "sim/Instrument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sim {

namespace {

// The low `count` decimal digits of a non-negative value, leading zeros kept.
std::string Digits(long value, int count) {
    std::string text(static_cast<size_t>(count), '0');
    value = std::max(0L, value);
    for (int i = count - 1; i >= 0; --i) {
        text[static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return text;
}

long Clamp(long value, long high) {
    return std::clamp(value, 0L, high);
}

// ddd.d
std::string FormatVolts(double volts) {
    const long tenths = Clamp(std::lround(volts * 10), 9999);
    return Digits(tenths / 10, 3) + "." + Digits(tenths % 10, 1);
}

// Six characters with the point where the magnitude puts it: d.dddd, dd.ddd or ddd.dd.
std::string FormatAmps(double amps) {
    const long tenthMilli = std::lround(std::max(0.0, amps) * 10000);
    if (tenthMilli <= 99999) {
        return Digits(tenthMilli / 10000, 1) + "." + Digits(tenthMilli % 10000, 4);
    }
    const long milli = std::lround(amps * 1000);
    if (milli <= 99999) {
        return Digits(milli / 1000, 2) + "." + Digits(milli % 1000, 3);
    }
    const long centi = Clamp(std::lround(amps * 100), 99999);
    return Digits(centi / 100, 3) + "." + Digits(centi % 100, 2);
}

// dd.d below 100 Hz; from 100 Hz on the point no longer fits, so four digits of 0.1 Hz.
std::string FormatTenthsHertz(long tenths) {
    tenths = Clamp(tenths, 9999);
    if (tenths < 1000) {
        return Digits(tenths / 10, 2) + "." + Digits(tenths % 10, 1);
    }
    return Digits(tenths, 4);
}

// dddd.d
std::string FormatWatts(double watts) {
    const long tenths = Clamp(std::lround(watts * 10), 99999);
    return Digits(tenths / 10, 4) + "." + Digits(tenths % 10, 1);
}

bool AllDigits(const std::string& text, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

int Number(const std::string& text, size_t from, size_t count) {
    int value = 0;
    for (size_t i = from; i < from + count; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "vvvv,ffff,uu,dd,c,l*"
bool ParseSettings(const std::string& data, Settings& out) {
    if (data.size() != 20 || data[4] != ',' || data[9] != ',' || data[12] != ',' ||
        data[15] != ',' || data[17] != ',' || data[19] != '*') {
        return false;
    }
    if (!AllDigits(data, 0, 4) || !AllDigits(data, 5, 4) || !AllDigits(data, 10, 2) ||
        !AllDigits(data, 13, 2) || !AllDigits(data, 16, 1) || !AllDigits(data, 18, 1)) {
        return false;
    }
    out.vol = Number(data, 0, 4);
    out.freq = Number(data, 5, 4);
    out.up = Number(data, 10, 2);
    out.down = Number(data, 13, 2);
    out.code = Number(data, 16, 1);
    out.level = Number(data, 18, 1);
    return true;
}

std::string Describe(const Settings& s) {
    char text[96];
    std::snprintf(text, sizeof text, "%d.%d V %d.%d Hz up %d down %d code %d level %d", s.vol / 10,
                  s.vol % 10, s.freq / 10, s.freq % 10, s.up, s.down, s.code, s.level);
    return text;
}

} // namespace

Instrument::Instrument() : rng_(52) {
    SetModelName("VX52300P");
}

void Instrument::SetModelName(const std::string& name) {
    modelName_ = name.substr(0, 8);
    modelName_.resize(8, ' ');
}

void Instrument::SetLoad(double ohms, double powerFactor) {
    loadOhms_ = std::max(0.0, ohms);
    powerFactor_ = std::clamp(powerFactor, 0.0, 1.0);
    CheckOverload();
}

void Instrument::SetCurrentLimit(double amps) {
    currentLimit_ = amps;
    CheckOverload();
}

char Instrument::RealState() const {
    if (Alarm()) {
        return '4';
    }
    return running_ ? '2' : '0';
}

char Instrument::ReportedState() const {
    return faults_.forcedState != 0 ? faults_.forcedState : RealState();
}

void Instrument::TripOverload() {
    running_ = false;
    alarmCause_ = AlarmCause::Forced;
}

double Instrument::NominalCurrent() const {
    if (loadOhms_ <= 0) {
        return 0;
    }
    return settings_.vol / 10.0 / loadOhms_;
}

void Instrument::CheckOverload() {
    if (running_ && NominalCurrent() > currentLimit_) {
        running_ = false;
        alarmCause_ = AlarmCause::Overcurrent;
    }
}

bool Instrument::Acceptable(const Settings& s) {
    const bool band = s.freq >= 450 && s.freq <= 650;
    const bool preset =
        s.freq == 1000 || s.freq == 1200 || s.freq == 2000 || s.freq == 2400 || s.freq == 4000;
    return s.vol >= 0 && s.vol <= 3000 && (band || preset) && (s.level == 0 || s.level == 1);
}

Measurement Instrument::Measure() {
    CheckOverload();
    Measurement m;
    if (!running_) {
        return m;
    }
    std::uniform_real_distribution<double> voltNoise(-0.2, 0.2);
    std::uniform_real_distribution<double> freqNoise(-0.06, 0.06);
    m.volts = std::max(0.0, settings_.vol / 10.0 + (noise_ ? voltNoise(rng_) : 0.0));
    m.hertz = settings_.freq / 10.0 + (noise_ ? freqNoise(rng_) : 0.0);
    m.amps = loadOhms_ > 0 ? m.volts / loadOhms_ : 0.0;
    m.watts = m.volts * m.amps * powerFactor_;
    return m;
}

Bytes Instrument::Reply(const std::string& mnemonic, const std::string& data) const {
    return BuildFrame(static_cast<uint8_t>(address_), mnemonic, '=', data);
}

// Acknowledgement: "=" and "00" when taken, "!" and a reason code when refused.
Bytes Instrument::Ack(const std::string& mnemonic, bool accepted, int why) const {
    return Reply(mnemonic, accepted ? "=00" : "!" + Digits(why, 2));
}

std::string Instrument::SettingsData() const {
    const Settings& s = settings_;
    return FormatVolts(s.vol / 10.0) + "," + FormatTenthsHertz(s.freq) + "," + Digits(s.up, 2) +
           "," + Digits(s.down, 2) + "," + Digits(s.code, 1) + "," + Digits(s.level, 1) + "," +
           ReportedState();
}

std::string Instrument::MeasurementData() {
    const Measurement m = Measure();
    return FormatVolts(m.volts) + "," + FormatAmps(m.amps) + "," +
           FormatTenthsHertz(std::lround(m.hertz * 10)) + "," + FormatWatts(m.watts) + "," +
           ReportedState();
}

std::vector<Exchange> Instrument::Receive(const uint8_t* data, size_t count) {
    splitter_.Push(data, count);
    std::vector<Exchange> result;
    FrameSplitter::Piece piece;
    while (splitter_.Next(piece)) {
        if (piece.isFrame) {
            result.push_back(Handle(piece.bytes));
        } else {
            Exchange junk;
            junk.in = std::move(piece.bytes);
            junk.note = "not a frame";
            result.push_back(std::move(junk));
        }
    }
    return result;
}

std::vector<Exchange> Instrument::DropStaleInput() {
    std::vector<Exchange> result;
    if (!splitter_.HasPartial()) {
        return result;
    }
    Exchange junk;
    junk.in = splitter_.DropStale();
    junk.note = "incomplete frame, sender went quiet";
    result.push_back(std::move(junk));
    // What follows the dropped start mark may be a whole frame that was waiting behind it.
    std::vector<Exchange> rest = Receive(nullptr, 0);
    result.insert(result.end(), rest.begin(), rest.end());
    return result;
}

Exchange Instrument::Handle(const Bytes& frame) {
    Exchange ex;
    ex.in = frame;
    const int length = frame[1];
    const int to = frame[3];
    const std::string mnemonic(frame.begin() + 4, frame.begin() + 7);
    const char mark = static_cast<char>(frame[7]);
    const std::string data(frame.begin() + 8, frame.begin() + length + 1);

    if (to != address_) {
        ex.kind = Exchange::Kind::OtherAddress;
        ex.note = "for address " + std::to_string(to);
        return ex;
    }
    if (faults_.silence) {
        ex.kind = Exchange::Kind::Silenced;
        ex.note = mnemonic + " ignored (silence)";
        return ex;
    }

    if (mnemonic != "RMO" && mnemonic != "RTE" && mnemonic != "CSP" && mnemonic != "CST" &&
        mnemonic != "SNO" && mnemonic != "RNS" && mnemonic != "RNT") {
        ex.kind = Exchange::Kind::Unknown;
        ex.note = "unknown request " + Printable(Bytes(mnemonic.begin(), mnemonic.end()));
        return ex;
    }
    ex.kind = Exchange::Kind::Request;
    ++requestsSeen_;
    const bool plain = mark == '*' && data.empty();
    const bool refusedByFault = faults_.refuse && (mnemonic == "CSP" || mnemonic == "CST" ||
                                                   mnemonic == "SNO" || mnemonic == "RNT");

    if (refusedByFault) {
        ex.out = Ack(mnemonic, false, reason::kRefusedByFault);
        ex.note = mnemonic + " refused (refuse fault)";
    } else if (mnemonic == "SNO") {
        Settings wanted;
        if (mark != '=' || !ParseSettings(data, wanted) || !Acceptable(wanted)) {
            ex.out = Ack(mnemonic, false, reason::kBadRequest);
            ex.note = "SNO refused: bad settings";
        } else {
            settings_ = wanted;
            CheckOverload();
            ex.out = Ack(mnemonic, true, 0);
            ex.note = "settings " + Describe(settings_);
        }
    } else if (!plain) {
        ex.out = Ack(mnemonic, false, reason::kBadRequest);
        ex.note = mnemonic + " refused: unexpected data";
    } else if (mnemonic == "RMO") {
        ex.out = Reply(mnemonic, modelName_ + "01");
        ex.note = "model " + modelName_;
    } else if (mnemonic == "RTE") {
        CheckOverload();
        const int cause = alarmCause_ == AlarmCause::Overcurrent ? 1
                          : alarmCause_ == AlarmCause::Forced    ? 2
                                                                 : 0;
        ex.out = Reply(mnemonic, std::string(1, ReportedState()) + Digits(cause, 2));
        ex.note = std::string("state ") + ReportedState();
    } else if (mnemonic == "CSP") {
        running_ = false;
        alarmCause_ = AlarmCause::None;
        ex.out = Ack(mnemonic, true, 0);
        ex.note = "output off, alarm cleared";
    } else if (mnemonic == "CST") {
        if (Alarm()) {
            ex.out = Ack(mnemonic, false, reason::kInAlarm);
            ex.note = "start refused: alarm";
        } else {
            running_ = true;
            CheckOverload();
            ex.out = Ack(mnemonic, true, 0);
            ex.note = running_ ? "output on" : "output on, tripped at once (overcurrent)";
        }
    } else if (mnemonic == "RNS") {
        ex.out = Reply(mnemonic, SettingsData());
        ex.note = "settings " + Describe(settings_);
    } else { // RNT
        ex.out = Reply(mnemonic, MeasurementData());
        ex.note = "measurement " + Printable(Bytes(ex.out.begin() + 8, ex.out.end() - 2));
    }

    if (faults_.wrongAddress) {
        // Rebuilt rather than patched, so only the address is wrong and the checksum fits.
        const uint8_t other = static_cast<uint8_t>(address_ >= 255 ? 1 : address_ + 1);
        const std::string body(ex.out.begin() + 8, ex.out.end() - 2);
        ex.out = BuildFrame(other, mnemonic, '=', body);
        ex.note += " [wrong address]";
    }
    if (faults_.corrupt) {
        ex.out[ex.out.size() - 2] = static_cast<uint8_t>(ex.out[ex.out.size() - 2] + 1);
        ex.note += " [bad checksum]";
    }
    if (faults_.stray) {
        ex.out.insert(ex.out.begin(), 0x00);
        ex.note += " [stray byte]";
    }
    ++repliesSent_;
    return ex;
}

} // namespace sim
