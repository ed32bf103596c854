// The simulated power source on a pseudo-terminal: the instrument, its end of the line, the
// frame log and the run-time fault commands, in one object.
//
// In-process use (tests): Open(), point the program's port at SlavePath() or LinkPath(), and
// call Pump() between the program's ticks. Pump() handles every byte the program has written
// so far and, unless the late fault holds them, leaves the replies countable in the program's
// input queue before it returns. No thread and no sleep is involved, so a tick-counting test is
// deterministic.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "sim/FrameLog.h"
#include "sim/Instrument.h"
#include "sim/PtyLink.h"

namespace sim {

class Simulator {
  public:
    // An unfinished frame is dropped after this much quiet on the line.
    static constexpr int kStaleInputMs = 500;
    static constexpr int kDefaultLateMs = 400;

    Simulator() = default;
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator() { Close(); }

    Instrument& instrument() { return instrument_; }
    const Instrument& instrument() const { return instrument_; }
    FrameLog& log() { return log_; }
    const FrameLog& log() const { return log_; }

    // A fresh terminal (not yet linked).
    bool Open(std::string* error);
    // Also reachable as DIR/COM<port>; the link is remade by Replug and removed by Close.
    bool Link(const std::string& dir, int port, std::string* error);
    void Close();

    bool IsPlugged() const { return pty_.IsOpen(); }
    const std::string& SlavePath() const { return pty_.SlavePath(); }
    const std::string& LinkPath() const { return pty_.LinkPath(); }
    int MasterFd() const { return pty_.MasterFd(); }
    LineSettings Line() const { return pty_.Line(); }

    // Handles what has arrived, answers, sends held replies that are due. Returns the number
    // of requests at our address that were handled.
    int Pump();
    // Sends every held reply now, whatever its due time.
    int ReleaseHeld();
    int HeldCount() const { return static_cast<int>(held_.size()); }
    // Milliseconds until Pump() has timed work (a held reply or a stale frame); -1 if none.
    int MillisUntilDue() const;

    // The device vanishes: link removed, terminal closed, a program holding the port gets EIO.
    void Unplug();
    // A new terminal, linked under the old name again.
    bool Replug(std::string* error);

    // Whether Pump() waits until its replies are countable on the program's side. Needed when
    // the program runs in this process; the stand-alone simulator turns it off, because a
    // program in another process may read them the moment they arrive.
    void SetSettle(bool on) { settle_ = on; }

    // One run-time command ("silence on", "load 50 0.8", "status", ...). Returns the answer
    // text; sets *quit for "quit".
    std::string Command(const std::string& line, bool* quit);
    std::string Status() const;
    static std::string CommandHelp();

  private:
    using Clock = std::chrono::steady_clock;
    struct Held {
        Clock::time_point due;
        Bytes bytes;
        std::string note;
    };

    void Process(const Exchange& ex, Clock::time_point now, int* handled);
    void Send(const Bytes& bytes, const std::string& note);
    void NoteLineChange();

    Instrument instrument_;
    FrameLog log_;
    PtyLink pty_;
    std::vector<Held> held_;
    Clock::time_point lastInput_{};
    LineSettings lastLine_;
    std::string linkDir_;
    int linkPort_ = 0;
    bool settle_ = true;
    int sentThisPump_ = 0;
    int queuedBeforeSend_ = 0;
};

} // namespace sim
