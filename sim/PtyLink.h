// The instrument's end of the serial line: a pseudo-terminal whose slave side the program opens
// like a serial port, optionally reachable as "COM<N>" in a chosen folder.
//
// We keep a slave descriptor of our own open for as long as the terminal exists. Without it the
// master reports a hang-up every time the program closes the port, which turns a poll loop into
// a busy loop; with it, the terminal (and the line settings the program made) survive the
// program closing and reopening the port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

#include "sim/Frame.h"

namespace sim {

struct LineSettings {
    int baud = 0;        // as the program set it; a pseudo-terminal ignores it
    std::string framing; // "8N1" and the like
    bool raw = false;    // no echo, no line editing, no character translation
    std::string Describe() const;
    bool operator==(const LineSettings&) const = default;
};

class PtyLink {
  public:
    PtyLink() = default;
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;
    ~PtyLink();

    // A fresh pseudo-terminal in raw mode at 9600 8N1.
    bool Open(std::string* error);
    // Removes the link (if any) and closes the terminal; a program that still holds the port
    // gets EIO from then on.
    void Close();
    bool IsOpen() const { return master_ >= 0; }
    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Makes DIR/COM<port> a symbolic link to the slave. Refuses when that name exists already,
    // as anything: a link there may lead to a real serial port.
    bool Link(const std::string& dir, int port, std::string* error);
    // Removes the link, but only while it still points at our slave (another simulator may
    // have taken the name over since).
    void Unlink();
    const std::string& LinkPath() const { return linkPath_; }

    // What the program has written, without waiting: the byte count, 0 when nothing is there,
    // -1 on an error.
    ssize_t Read(uint8_t* buffer, size_t capacity);
    // Writes all bytes; false if the terminal refused them.
    bool Write(const Bytes& bytes);
    // Bytes waiting in the slave's input queue, as the program's FIONREAD would count them.
    int QueuedForProgram() const;
    // The terminal delivers written bytes to the slave's queue a moment after the write returns.
    // Waits (at most timeoutMs) until `expected` bytes are countable there, so a program in the
    // same process sees a reply as soon as it looks.
    bool SettleQueued(int expected, int timeoutMs);

    LineSettings Line() const;

  private:
    int master_ = -1;
    int ownSlave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

} // namespace sim
