// Frames as the power source sees them: "{" L 0x00 address mnemonic mark data checksum "}".
// Written from the instrument's side only; it shares nothing with the program's link code,
// so a mistake on one side shows up as a failed exchange instead of cancelling out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kStartMark = '{';
constexpr uint8_t kEndMark = '}';

// Smallest length byte of any frame ("{" L 0 addr XXX* ... is L = 7) and the largest this
// instrument accepts in a request; anything longer is line noise, not a request.
constexpr int kMinLength = 7;
constexpr int kMaxRequestLength = 64;

// Sum of the bytes at offsets 1..length of a frame, modulo 256.
uint8_t FrameChecksum(const uint8_t* frame, int length);

// A complete frame with the given header and data; the length byte counts offsets 1 up to the
// last data byte.
Bytes BuildFrame(uint8_t address, std::string_view mnemonic, char mark, std::string_view data);

// Text for logs: printable ASCII as is, anything else as '.'.
std::string Printable(const Bytes& bytes);
// "7B 07 00 01 ..."
std::string Hex(const Bytes& bytes);

// Cuts the byte stream from the line into checked frames and the junk between them. A frame is
// taken only when its length byte is plausible, byte 2 is 0, the checksum matches and the end
// mark is in place; otherwise its start mark is treated as noise and the search goes on from
// the next start mark, so one garbled byte never swallows the request behind it. A whole frame
// found behind an unfinished one is taken at once; the unfinished one becomes junk.
class FrameSplitter {
  public:
    struct Piece {
        bool isFrame = false;
        Bytes bytes;
    };

    void Push(const uint8_t* data, size_t count);
    // The next frame or run of junk, if the buffer holds one complete piece.
    bool Next(Piece& out);
    // True while bytes wait for the rest of their frame.
    bool HasPartial() const { return !buffer_.empty(); }
    // Gives up on the oldest incomplete frame (its sender went quiet): returns its bytes up to
    // the next start mark, which may begin a frame of its own.
    Bytes DropStale();
    void Reset() { buffer_.clear(); }

  private:
    Bytes TakeUpToNextStart();
    // Size of the intact frame starting at that offset, 0 if there is none (yet).
    size_t CompleteFrameAt(size_t at) const;

    Bytes buffer_;
};

} // namespace sim
