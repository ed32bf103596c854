// The simulated power source: what it is set to, what its output does into a load, when it
// trips, and how it answers each request frame. No I/O here: bytes in, reply bytes out, so
// the whole instrument can be exercised without a terminal.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/Frame.h"

namespace sim {

// Output settings as the settings command carries them: voltage in 0.1 V, frequency in
// 0.1 Hz, step amounts in whole volts, the one-digit auxiliary code and the voltage range
// (0 AUTO, 1 HIGH).
struct Settings {
    int vol = 2200;
    int freq = 500;
    int up = 5;
    int down = 5;
    int code = 0;
    int level = 1;

    bool operator==(const Settings&) const = default;
};

// What the output does at one moment, in SI units.
struct Measurement {
    double volts = 0;
    double amps = 0;
    double hertz = 0;
    double watts = 0;
};

enum class AlarmCause { None, Overcurrent, Forced };

// Faults a test can switch on while the instrument runs.
struct Faults {
    bool silence = false;      // hears nothing, answers nothing
    bool corrupt = false;      // reply checksum off by one
    bool wrongAddress = false; // reply carries another address
    bool stray = false;        // one noise byte ahead of each reply
    bool refuse = false;       // acknowledgements and measurements come back with "!"
    int lateMs = 0;            // hold each reply this long (the transport does the holding)
    char forcedState = 0;      // report this state character instead of the real one; 0 = real
};

// One piece of input and what the instrument made of it.
struct Exchange {
    enum class Kind {
        Request,      // a frame at our address, acted upon (it may still be refused)
        OtherAddress, // a good frame for another instrument on the line
        Unknown,      // a good frame at our address with a mnemonic we do not know
        Silenced,     // a good frame at our address, ignored because of the silence fault
        Junk,         // bytes that were not a frame
    };
    Kind kind = Kind::Junk;
    Bytes in;
    Bytes out; // empty: no answer
    std::string note;
};

// Reason codes carried after "!" in a refusal, and after the state in a state reply.
namespace reason {
constexpr int kBadRequest = 1;
constexpr int kInAlarm = 2;
constexpr int kRefusedByFault = 9;
} // namespace reason

class Instrument {
  public:
    Instrument();

    // --- configuration --------------------------------------------------------------------
    void SetAddress(int address) { address_ = address; }
    int Address() const { return address_; }
    // Stored as exactly 8 characters: padded with spaces or cut. The model reply carries it at
    // offsets 8..15 as it stands, so a name the program would reject can be tried on purpose.
    void SetModelName(const std::string& name);
    const std::string& ModelName() const { return modelName_; }
    // Load impedance in ohms (0 = nothing connected) and its power factor (0 < pf <= 1).
    void SetLoad(double ohms, double powerFactor = 1.0);
    double LoadOhms() const { return loadOhms_; }
    double PowerFactor() const { return powerFactor_; }
    // Output current above which the instrument trips into its alarm state.
    void SetCurrentLimit(double amps);
    double CurrentLimit() const { return currentLimit_; }
    // Measurement noise; off gives exact values, for tests that compare digits.
    void SetNoise(bool on) { noise_ = on; }
    void Seed(unsigned seed) { rng_.seed(seed); }
    Faults& faults() { return faults_; }
    const Faults& faults() const { return faults_; }

    // --- state and physics ----------------------------------------------------------------
    const Settings& settings() const { return settings_; }
    bool Running() const { return running_; }
    bool Alarm() const { return alarmCause_ != AlarmCause::None; }
    AlarmCause Cause() const { return alarmCause_; }
    // '0' stopped, '2' running, '4' alarm.
    char RealState() const;
    // What a state query answers: the real state unless a fault forces another.
    char ReportedState() const;
    // Trips the alarm as an overload would: output off, state '4' until a stop command.
    void TripOverload();
    // Current the load draws at the set voltage, without noise.
    double NominalCurrent() const;
    // The output as the instrument measures it now; zero while the output is off.
    Measurement Measure();
    // Settings the instrument can produce; anything else is refused.
    static bool Acceptable(const Settings& s);

    // --- protocol -------------------------------------------------------------------------
    // Feeds bytes from the line; returns what became of every complete piece.
    std::vector<Exchange> Receive(const uint8_t* data, size_t count);
    // The sender went quiet in the middle of a frame: gives up on it.
    std::vector<Exchange> DropStaleInput();
    bool HasPartialInput() const { return splitter_.HasPartial(); }
    void ResetInput() { splitter_.Reset(); }
    // One checked frame (start mark, checksum and end mark already verified).
    Exchange Handle(const Bytes& frame);

    // Counters since construction.
    int RequestsSeen() const { return requestsSeen_; }
    int RepliesSent() const { return repliesSent_; }

  private:
    Bytes Reply(const std::string& mnemonic, const std::string& data) const;
    Bytes Ack(const std::string& mnemonic, bool accepted, int why) const;
    std::string MeasurementData();
    std::string SettingsData() const;
    void CheckOverload();

    int address_ = 1;
    std::string modelName_;
    double loadOhms_ = 100.0;
    double powerFactor_ = 1.0;
    double currentLimit_ = 20.0;
    bool noise_ = true;
    std::mt19937 rng_;
    Faults faults_;

    Settings settings_;
    bool running_ = false;
    AlarmCause alarmCause_ = AlarmCause::None;

    FrameSplitter splitter_;
    int requestsSeen_ = 0;
    int repliesSent_ = 0;
};

} // namespace sim
