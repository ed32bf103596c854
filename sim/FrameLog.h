// Every frame in and out, with a time stamp and a direction, plus notes on what the instrument
// did. Lines go to a stream as they happen (flushed, so a test can read the file while the
// simulator runs); the latest entries are also kept in memory for in-process tests.
//
// Line format:  YYYY-MM-DD HH:MM:SS.mmm DIR  HEX BYTES  | text
//   DIR is RX (bytes the instrument received), TX (bytes it sent) or -- (a note, no bytes);
//   for RX and TX the text is the bytes as ASCII (others as ".") followed by what they meant.
#pragma once

#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "sim/Frame.h"

namespace sim {

struct LogEntry {
    enum class Dir { In, Out, Note };
    Dir dir = Dir::Note;
    std::chrono::system_clock::time_point at;
    Bytes bytes;
    std::string text;
};

class FrameLog {
  public:
    static constexpr size_t kKept = 4096;

    // The stream is not owned; nullptr keeps the log in memory only.
    void SetSink(std::FILE* sink) { sink_ = sink; }
    void Add(LogEntry::Dir dir, const Bytes& bytes, const std::string& text);
    void Note(const std::string& text) { Add(LogEntry::Dir::Note, {}, text); }

    const std::deque<LogEntry>& entries() const { return entries_; }
    // The bytes of every kept entry in one direction, oldest first.
    std::vector<Bytes> Frames(LogEntry::Dir dir) const;
    void Clear() { entries_.clear(); }

    static std::string Format(const LogEntry& entry);

  private:
    std::FILE* sink_ = nullptr;
    std::deque<LogEntry> entries_;
};

} // namespace sim
