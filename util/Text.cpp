#include "util/Text.h"

#include <cctype>
#include <cstdio>

#include "platform/System.h"

std::string TextFixed(int64_t value, int decimals) {
    const bool negative = value < 0;
    // Built from the magnitude as unsigned, so even INT64_MIN has one.
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : value;
    std::string digits = std::to_string(magnitude);
    if (decimals > 0) {
        const size_t d = static_cast<size_t>(decimals);
        if (digits.size() <= d) {
            digits = std::string(d + 1 - digits.size(), '0') + digits;
        }
        const size_t whole = digits.size() - d;
        digits = digits.substr(0, whole) + '.' + digits.substr(whole);
    }
    return negative ? "-" + digits : digits;
}

std::string TextTrim(const std::string& text) {
    const size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos) {
        return {};
    }
    const size_t e = text.find_last_not_of(" \t");
    return text.substr(b, e - b + 1);
}

bool TextEndsWithNoCase(const std::string& text, const std::string& tail) {
    if (text.size() < tail.size()) {
        return false;
    }
    const size_t start = text.size() - tail.size();
    for (size_t i = 0; i < tail.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[start + i])) !=
            std::tolower(static_cast<unsigned char>(tail[i]))) {
            return false;
        }
    }
    return true;
}

std::string TextFillIn(const std::string& text, TextValues values) {
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find('{', at);
        if (open == std::string::npos) {
            break;
        }
        out.append(text, at, open - at);
        const size_t close = text.find('}', open + 1);
        const std::pair<const char*, std::string>* found = nullptr;
        if (close != std::string::npos) {
            for (const auto& value : values) {
                if (text.compare(open + 1, close - open - 1, value.first) == 0) {
                    found = &value;
                    break;
                }
            }
        }
        if (found == nullptr) {
            out += '{';
            at = open + 1;
            continue;
        }
        out += found->second;
        at = close + 1;
    }
    out.append(text, at, std::string::npos);
    return out;
}

std::string TextCsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string TextCsvRow(const std::vector<std::string>& fields) {
    std::string row;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i != 0) {
            row += ',';
        }
        row += TextCsvField(fields[i]);
    }
    return row + '\n';
}

std::string TextTimeStamp(const SysLocalTime& t) {
    const int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.year,
                  t.month, t.day, t.hour, t.minute, t.second, t.millisecond,
                  t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

std::string TextTimeStampNow() {
    SysLocalTime t{};
    SysGetLocalTime(&t);
    return TextTimeStamp(t);
}

std::string TextClock(const SysLocalTime& t, bool milliseconds) {
    char text[32];
    if (milliseconds) {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                      t.millisecond);
    } else {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    }
    return text;
}

std::string TextDatedName(const char* prefix, const SysLocalTime& t, const char* extension) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "-%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return std::string(prefix) + stamp + extension;
}

std::string TextDatedNameNow(const char* prefix, const char* extension) {
    SysLocalTime t{};
    SysGetLocalTime(&t);
    return TextDatedName(prefix, t, extension);
}
