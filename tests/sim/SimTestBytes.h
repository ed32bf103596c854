// Byte helpers for the simulator's tests. Replies are checked against offsets written out by
// hand here, never by a decoder, so the tests say what is on the wire.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Of(std::initializer_list<int> values) {
    Bytes bytes;
    for (int v : values) {
        bytes.push_back(static_cast<uint8_t>(v));
    }
    return bytes;
}

// The characters at offsets [from, from + count).
inline std::string At(const Bytes& frame, size_t from, size_t count) {
    if (from + count > frame.size()) {
        return "<short frame>";
    }
    return std::string(frame.begin() + static_cast<long>(from),
                       frame.begin() + static_cast<long>(from + count));
}

// Sum of offsets 1..L modulo 256, counted here independently of the simulator.
inline int SumOverLength(const Bytes& frame) {
    const int length = frame.at(1);
    int sum = 0;
    for (int i = 1; i <= length; ++i) {
        sum += frame.at(static_cast<size_t>(i));
    }
    return sum % 256;
}

// A request at address 1 written out byte by byte: "{" L 0 1 mnemonic mark data sum "}".
inline Bytes Request(const std::string& mnemonicAndMark, const std::string& data = "",
                     int address = 1) {
    Bytes frame = {0x7B, static_cast<uint8_t>(7 + data.size()), 0x00,
                   static_cast<uint8_t>(address)};
    frame.insert(frame.end(), mnemonicAndMark.begin(), mnemonicAndMark.end());
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(0);
    frame.push_back(0x7D);
    frame[frame.size() - 2] = static_cast<uint8_t>(SumOverLength(frame));
    return frame;
}

} // namespace simtest
