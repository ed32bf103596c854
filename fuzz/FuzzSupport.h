// Helpers shared by the fuzz targets: a check that stops the run with a
// message, and reference rules written apart from the program's own code so
// that both cannot share one mistake.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n  ", __FILE__, __LINE__,         \
                         #condition);                                                              \
            std::fprintf(stderr, __VA_ARGS__);                                                     \
            std::fputc('\n', stderr);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// Takes bytes from the front of the input; past the end it yields zeros.
class ByteReader {
  public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    const uint8_t* Rest() const { return data_ + pos_; }
    size_t RestSize() const { return size_ - pos_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

inline bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Double-byte text: a lead byte 0x81..0xFE and a trail byte 0x40..0xFE other
// than 0x7F form one character.
inline bool IsLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}
inline bool IsTrailByte(unsigned char c) {
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

// Offsets at which a character starts when the text is read from its first
// byte, plus the end: the only places where a cut is allowed.
inline std::vector<size_t> CharBoundaries(const std::string& text) {
    std::vector<size_t> cuts{0};
    size_t i = 0;
    while (i < text.size()) {
        const bool pair = IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
                          IsTrailByte(static_cast<unsigned char>(text[i + 1]));
        i += pair ? 2 : 1;
        cuts.push_back(i);
    }
    return cuts;
}

// The longest prefix of text that fits in limit bytes without splitting a
// character.
inline size_t LongestWholePrefix(const std::string& text, size_t limit) {
    size_t best = 0;
    for (size_t cut : CharBoundaries(text)) {
        if (cut <= limit) {
            best = cut;
        }
    }
    return best;
}

// The strict integer rule of the settings files, on decimal strings rather
// than by accumulation: blanks, at most one sign glued to the digits, digits,
// blanks; the magnitude must fit a signed 32-bit number.
inline bool StrictInt(const std::string& text, int64_t* value) {
    size_t i = 0;
    while (i < text.size() && IsBlank(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t firstDigit = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
    }
    if (i == firstDigit) {
        return false;
    }
    std::string digits = text.substr(firstDigit, i - firstDigit);
    while (i < text.size() && IsBlank(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    if (i != text.size()) {
        return false;
    }
    const size_t nonZero = digits.find_first_not_of('0');
    digits = nonZero == std::string::npos ? "0" : digits.substr(nonZero);
    const std::string limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) {
        return false;
    }
    const int64_t magnitude = std::stoll(digits);
    *value = negative ? -magnitude : magnitude;
    return true;
}

// The text up to its first NUL, as a C string sees it.
inline std::string CText(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const size_t nul = text.find('\0');
    return nul == std::string::npos ? text : text.substr(0, nul);
}

} // namespace fuzz
