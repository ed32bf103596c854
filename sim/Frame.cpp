#include "sim/Frame.h"

#include <algorithm>
#include <cstdio>

namespace sim {

uint8_t FrameChecksum(const uint8_t* frame, int length) {
    unsigned sum = 0;
    for (int i = 1; i <= length; ++i) {
        sum += frame[i];
    }
    return static_cast<uint8_t>(sum & 0xFF);
}

Bytes BuildFrame(uint8_t address, std::string_view mnemonic, char mark, std::string_view data) {
    const int length = 7 + static_cast<int>(data.size());
    Bytes frame;
    frame.reserve(static_cast<size_t>(length) + 3);
    frame.push_back(kStartMark);
    frame.push_back(static_cast<uint8_t>(length));
    frame.push_back(0x00);
    frame.push_back(address);
    for (size_t i = 0; i < 3; ++i) {
        frame.push_back(i < mnemonic.size() ? static_cast<uint8_t>(mnemonic[i]) : '?');
    }
    frame.push_back(static_cast<uint8_t>(mark));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(FrameChecksum(frame.data(), length));
    frame.push_back(kEndMark);
    return frame;
}

std::string Printable(const Bytes& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (uint8_t b : bytes) {
        text.push_back(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.');
    }
    return text;
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    char cell[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += cell;
    }
    return text;
}

void FrameSplitter::Push(const uint8_t* data, size_t count) {
    buffer_.insert(buffer_.end(), data, data + count);
}

Bytes FrameSplitter::TakeUpToNextStart() {
    auto next = std::find(buffer_.begin() + (buffer_.empty() ? 0 : 1), buffer_.end(), kStartMark);
    Bytes taken(buffer_.begin(), next);
    buffer_.erase(buffer_.begin(), next);
    return taken;
}

bool FrameSplitter::Next(Piece& out) {
    if (buffer_.empty()) {
        return false;
    }
    if (buffer_[0] != kStartMark) {
        out.isFrame = false;
        auto next = std::find(buffer_.begin(), buffer_.end(), kStartMark);
        out.bytes.assign(buffer_.begin(), next);
        buffer_.erase(buffer_.begin(), next);
        return true;
    }
    if (buffer_.size() < 2) {
        return false;
    }
    const int length = buffer_[1];
    if (length < kMinLength || length > kMaxRequestLength) {
        out.isFrame = false;
        out.bytes = TakeUpToNextStart();
        return true;
    }
    const size_t total = static_cast<size_t>(length) + 3;
    if (buffer_.size() < total) {
        // A sender that gave up half-way and started afresh: the whole frame behind the
        // broken one need not wait for the broken one to go stale.
        for (size_t at = 1; at < buffer_.size(); ++at) {
            if (buffer_[at] == kStartMark && CompleteFrameAt(at) > 0) {
                out.isFrame = false;
                out.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<long>(at));
                buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(at));
                return true;
            }
        }
        return false;
    }
    if (CompleteFrameAt(0) == 0) {
        out.isFrame = false;
        out.bytes = TakeUpToNextStart();
        return true;
    }
    out.isFrame = true;
    out.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
    return true;
}

size_t FrameSplitter::CompleteFrameAt(size_t at) const {
    if (buffer_.size() < at + 2 || buffer_[at] != kStartMark) {
        return 0;
    }
    const int length = buffer_[at + 1];
    const size_t total = static_cast<size_t>(length) + 3;
    if (length < kMinLength || length > kMaxRequestLength || buffer_.size() < at + total) {
        return 0;
    }
    const uint8_t* frame = buffer_.data() + at;
    const bool intact = frame[2] == 0x00 && frame[length + 1] == FrameChecksum(frame, length) &&
                        frame[length + 2] == kEndMark;
    return intact ? total : 0;
}

Bytes FrameSplitter::DropStale() {
    return TakeUpToNextStart();
}

} // namespace sim
