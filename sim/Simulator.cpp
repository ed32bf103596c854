#include "sim/Simulator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>

namespace sim {

namespace {

std::string KindText(const Exchange& ex) {
    switch (ex.kind) {
    case Exchange::Kind::Request:
        return ex.note;
    case Exchange::Kind::OtherAddress:
        return "ignored, " + ex.note;
    case Exchange::Kind::Unknown:
        return "ignored, " + ex.note;
    case Exchange::Kind::Silenced:
        return ex.note;
    case Exchange::Kind::Junk:
        return "junk: " + ex.note;
    }
    return ex.note;
}

bool ParseDouble(const std::string& text, double* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == nullptr || *end != '\0') {
        return false;
    }
    *out = value;
    return true;
}

bool ParseInt(const std::string& text, long* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end == nullptr || *end != '\0') {
        return false;
    }
    *out = value;
    return true;
}

std::string Fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

bool Simulator::Open(std::string* error) {
    if (!pty_.Open(error)) {
        return false;
    }
    lastLine_ = pty_.Line();
    log_.Note("terminal " + pty_.SlavePath() + ", line " + lastLine_.Describe());
    return true;
}

bool Simulator::Link(const std::string& dir, int port, std::string* error) {
    if (!pty_.Link(dir, port, error)) {
        return false;
    }
    linkDir_ = dir;
    linkPort_ = port;
    log_.Note("linked " + pty_.LinkPath() + " -> " + pty_.SlavePath());
    return true;
}

void Simulator::Close() {
    if (pty_.IsOpen()) {
        pty_.Close();
    }
    held_.clear();
    instrument_.ResetInput();
}

void Simulator::NoteLineChange() {
    const LineSettings now = pty_.Line();
    if (!(now == lastLine_)) {
        lastLine_ = now;
        log_.Note("line " + now.Describe());
    }
}

void Simulator::Send(const Bytes& bytes, const std::string& note) {
    if (sentThisPump_ == 0) {
        queuedBeforeSend_ = pty_.QueuedForProgram();
    }
    if (pty_.Write(bytes)) {
        sentThisPump_ += static_cast<int>(bytes.size());
        log_.Add(LogEntry::Dir::Out, bytes, note);
    } else {
        log_.Add(LogEntry::Dir::Out, bytes, note + " (write failed)");
    }
}

void Simulator::Process(const Exchange& ex, Clock::time_point now, int* handled) {
    log_.Add(LogEntry::Dir::In, ex.in, KindText(ex));
    if (ex.kind == Exchange::Kind::Request) {
        ++*handled;
    }
    if (ex.out.empty()) {
        return;
    }
    const int late = instrument_.faults().lateMs;
    if (late > 0) {
        held_.push_back({now + std::chrono::milliseconds(late), ex.out, "late reply"});
        log_.Note("reply held " + std::to_string(late) + " ms (late)");
    } else {
        Send(ex.out, "reply");
    }
}

int Simulator::Pump() {
    if (!pty_.IsOpen()) {
        return 0;
    }
    sentThisPump_ = 0;
    int handled = 0;
    uint8_t buffer[512];
    bool heard = false;
    for (;;) {
        const ssize_t n = pty_.Read(buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        if (!heard) {
            heard = true;
            NoteLineChange();
        }
        const Clock::time_point now = Clock::now();
        lastInput_ = now;
        for (const Exchange& ex : instrument_.Receive(buffer, static_cast<size_t>(n))) {
            Process(ex, now, &handled);
        }
    }

    const Clock::time_point now = Clock::now();
    if (instrument_.HasPartialInput() &&
        now - lastInput_ >= std::chrono::milliseconds(kStaleInputMs)) {
        for (const Exchange& ex : instrument_.DropStaleInput()) {
            Process(ex, now, &handled);
        }
    }

    auto due = std::stable_partition(held_.begin(), held_.end(),
                                     [&](const Held& h) { return h.due <= now; });
    std::vector<Held> sending(std::make_move_iterator(held_.begin()), std::make_move_iterator(due));
    held_.erase(held_.begin(), due);
    for (const Held& h : sending) {
        Send(h.bytes, h.note);
    }

    if (settle_ && sentThisPump_ > 0) {
        pty_.SettleQueued(queuedBeforeSend_ + sentThisPump_, 1000);
    }
    return handled;
}

int Simulator::ReleaseHeld() {
    if (!pty_.IsOpen() || held_.empty()) {
        return 0;
    }
    sentThisPump_ = 0;
    std::vector<Held> sending = std::move(held_);
    held_.clear();
    for (const Held& h : sending) {
        Send(h.bytes, h.note);
    }
    if (settle_ && sentThisPump_ > 0) {
        pty_.SettleQueued(queuedBeforeSend_ + sentThisPump_, 1000);
    }
    return static_cast<int>(sending.size());
}

int Simulator::MillisUntilDue() const {
    if (!pty_.IsOpen()) {
        return -1;
    }
    std::optional<Clock::time_point> next;
    for (const Held& h : held_) {
        if (!next || h.due < *next) {
            next = h.due;
        }
    }
    if (instrument_.HasPartialInput()) {
        const Clock::time_point stale = lastInput_ + std::chrono::milliseconds(kStaleInputMs);
        if (!next || stale < *next) {
            next = stale;
        }
    }
    if (!next) {
        return -1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*next - Clock::now()).count();
    // Round up, so a poll timeout never wakes a hair early and comes straight back.
    return static_cast<int>(std::max<long long>(0, left + 1));
}

void Simulator::Unplug() {
    if (!pty_.IsOpen()) {
        return;
    }
    log_.Note("unplugged " + (pty_.LinkPath().empty() ? pty_.SlavePath() : pty_.LinkPath()));
    Close();
}

bool Simulator::Replug(std::string* error) {
    if (pty_.IsOpen()) {
        *error = "already plugged in";
        return false;
    }
    if (!Open(error)) {
        return false;
    }
    if (linkPort_ > 0 && !Link(linkDir_, linkPort_, error)) {
        return false;
    }
    log_.Note("plugged in again");
    return true;
}

std::string Simulator::Status() const {
    const Instrument& in = instrument_;
    const Faults& f = in.faults();
    const Settings& s = in.settings();
    std::ostringstream out;
    out << "plugged " << (pty_.IsOpen() ? "yes" : "no");
    if (pty_.IsOpen()) {
        out << ", terminal " << pty_.SlavePath();
        if (!pty_.LinkPath().empty()) {
            out << ", link " << pty_.LinkPath();
        }
        out << "\nline " << pty_.Line().Describe();
    }
    out << "\naddress " << in.Address() << ", model \"" << in.ModelName() << "\"";
    out << "\nsettings " << s.vol / 10 << "." << s.vol % 10 << " V, " << s.freq / 10 << "."
        << s.freq % 10 << " Hz, up " << s.up << ", down " << s.down << ", code " << s.code
        << ", level " << s.level;
    const char* cause = in.Cause() == AlarmCause::Overcurrent ? "overcurrent"
                        : in.Cause() == AlarmCause::Forced    ? "overload fault"
                                                              : "none";
    out << "\noutput " << (in.Running() ? "on" : "off") << ", state " << in.RealState()
        << " (reported " << in.ReportedState() << "), alarm " << cause;
    out << "\nload " << (in.LoadOhms() > 0 ? Fixed(in.LoadOhms(), 2) + " ohm" : "open") << ", pf "
        << Fixed(in.PowerFactor(), 2) << ", current at set voltage "
        << Fixed(in.NominalCurrent(), 3) << " A, limit " << Fixed(in.CurrentLimit(), 2) << " A";
    std::string faults;
    if (f.silence) {
        faults += " silence";
    }
    if (f.corrupt) {
        faults += " corrupt";
    }
    if (f.wrongAddress) {
        faults += " wrongaddr";
    }
    if (f.stray) {
        faults += " stray";
    }
    if (f.refuse) {
        faults += " refuse";
    }
    if (f.lateMs > 0) {
        faults += " late=" + std::to_string(f.lateMs) + "ms";
    }
    if (f.forcedState != 0) {
        faults += std::string(" state=") + f.forcedState;
    }
    out << "\nfaults" << (faults.empty() ? " none" : faults);
    out << "\nrequests " << in.RequestsSeen() << ", replies " << in.RepliesSent() << ", held "
        << held_.size();
    return out.str();
}

std::string Simulator::CommandHelp() {
    return "silence on|off      hear nothing, answer nothing\n"
           "corrupt on|off      replies with a checksum off by one\n"
           "wrongaddr on|off    replies carry the next address up (255: 1)\n"
           "stray on|off        one noise byte ahead of each reply\n"
           "late on [MS]|off    send each reply MS ms (default 400) after its request; every\n"
           "                    request is still answered, in order\n"
           "refuse on|off       CSP, CST, SNO and RNT answered with \"!\" and not carried out\n"
           "state C|normal      report state character C (1, 3, 4, ...) to state queries\n"
           "overload            trip the alarm: output off, state 4 until a stop command\n"
           "load OHMS [PF]|open set the load impedance (and power factor)\n"
           "limit AMPS          current above which the output trips\n"
           "address A           answer at address A (1..255)\n"
           "model NAME          model name in the model reply (8 characters)\n"
           "noise on|off        measurement noise\n"
           "unplug              remove the link and close the terminal\n"
           "replug              a new terminal, linked under the same name\n"
           "status              print the instrument's state\n"
           "quit                end the simulator\n";
}

std::string Simulator::Command(const std::string& line, bool* quit) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    if (words.empty()) {
        return "";
    }
    const std::string& verb = words[0];
    const std::string arg = words.size() > 1 ? words[1] : "";
    Faults& f = instrument_.faults();

    auto onOff = [&](bool* flag) -> std::string {
        if (words.size() != 2 || (arg != "on" && arg != "off")) {
            return "error: " + verb + " takes on or off";
        }
        *flag = arg == "on";
        log_.Note("fault " + verb + " " + arg);
        return "ok " + verb + " " + arg;
    };

    if (verb == "silence") {
        return onOff(&f.silence);
    }
    if (verb == "corrupt") {
        return onOff(&f.corrupt);
    }
    if (verb == "wrongaddr") {
        return onOff(&f.wrongAddress);
    }
    if (verb == "stray") {
        return onOff(&f.stray);
    }
    if (verb == "refuse") {
        return onOff(&f.refuse);
    }
    if (verb == "late") {
        long ms = kDefaultLateMs;
        if (arg == "on" && words.size() <= 3 &&
            (words.size() == 2 || (ParseInt(words[2], &ms) && ms > 0 && ms <= 60000))) {
            f.lateMs = static_cast<int>(ms);
        } else if (arg == "off" && words.size() == 2) {
            f.lateMs = 0;
        } else {
            return "error: late on [MS] | late off";
        }
        log_.Note("fault late " + std::to_string(f.lateMs) + " ms");
        return "ok late " + (f.lateMs > 0 ? std::to_string(f.lateMs) + " ms" : std::string("off"));
    }
    if (verb == "state") {
        if (words.size() != 2 || (arg != "normal" && arg.size() != 1)) {
            return "error: state takes one character or normal";
        }
        f.forcedState = arg == "normal" ? 0 : arg[0];
        log_.Note("fault state " + arg);
        return "ok state " + arg;
    }
    if (verb == "overload" && words.size() == 1) {
        instrument_.TripOverload();
        log_.Note("fault overload: alarm tripped");
        return "ok overload";
    }
    if (verb == "load") {
        double ohms = 0;
        double pf = 1.0;
        const bool open = arg == "open" && words.size() == 2;
        if (!open &&
            (words.size() < 2 || words.size() > 3 || !ParseDouble(arg, &ohms) || ohms <= 0 ||
             (words.size() == 3 && !ParseDouble(words[2], &pf)) || pf <= 0 || pf > 1)) {
            return "error: load OHMS [PF] with OHMS > 0 and 0 < PF <= 1, or load open";
        }
        const bool wasAlarm = instrument_.Alarm();
        instrument_.SetLoad(open ? 0 : ohms, pf);
        log_.Note("load " +
                  (open ? std::string("open") : Fixed(ohms, 2) + " ohm pf " + Fixed(pf, 2)));
        if (!wasAlarm && instrument_.Alarm()) {
            log_.Note("alarm: overcurrent");
        }
        return std::string("ok load ") +
               (open ? "open" : Fixed(ohms, 2) + " ohm pf " + Fixed(pf, 2)) +
               (instrument_.Alarm() ? ", alarm" : "");
    }
    if (verb == "limit") {
        double amps = 0;
        if (words.size() != 2 || !ParseDouble(arg, &amps) || amps <= 0) {
            return "error: limit AMPS with AMPS > 0";
        }
        instrument_.SetCurrentLimit(amps);
        log_.Note("current limit " + Fixed(amps, 2) + " A");
        return "ok limit " + Fixed(amps, 2) + " A";
    }
    if (verb == "address") {
        long a = 0;
        if (words.size() != 2 || !ParseInt(arg, &a) || a < 1 || a > 255) {
            return "error: address takes 1..255";
        }
        instrument_.SetAddress(static_cast<int>(a));
        log_.Note("address " + arg);
        return "ok address " + arg;
    }
    if (verb == "model") {
        const size_t at = line.find("model") + 5;
        std::string name = line.substr(std::min(line.size(), line.find_first_not_of(' ', at)));
        if (name.empty()) {
            return "error: model NAME";
        }
        instrument_.SetModelName(name);
        log_.Note("model \"" + instrument_.ModelName() + "\"");
        return "ok model \"" + instrument_.ModelName() + "\"";
    }
    if (verb == "noise") {
        if (words.size() != 2 || (arg != "on" && arg != "off")) {
            return "error: noise takes on or off";
        }
        instrument_.SetNoise(arg == "on");
        log_.Note("measurement noise " + arg);
        return "ok noise " + arg;
    }
    if (verb == "unplug" && words.size() == 1) {
        if (!IsPlugged()) {
            return "error: not plugged in";
        }
        Unplug();
        return "ok unplugged";
    }
    if (verb == "replug" && words.size() == 1) {
        std::string error;
        if (!Replug(&error)) {
            return "error: " + error;
        }
        return "ok plugged " +
               (LinkPath().empty() ? SlavePath() : LinkPath() + " -> " + SlavePath());
    }
    if (verb == "status" && words.size() == 1) {
        return Status();
    }
    if (verb == "help") {
        return CommandHelp();
    }
    if (verb == "quit" && words.size() == 1) {
        if (quit != nullptr) {
            *quit = true;
        }
        return "ok quit";
    }
    return "error: unknown command \"" + line + "\" (try help)";
}

} // namespace sim
