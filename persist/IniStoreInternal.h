// The store's records and the byte-text helpers that its reading and its
// writing share. Only the store's own files include it.
#pragma once

#include <string>
#include <vector>

#include "persist/IniStore.h"

struct IniItem {
    std::string name;
    std::string value;
    int quoted = 0;
    int line = 0;
    std::string comment; // empty: none
};

struct IniSection {
    std::string name;
    std::vector<IniItem> items;
    int sorted = 0;
    int line = 0;
    std::string comment;
};

struct IniStore {
    std::vector<IniSection> sections;
    int lastSection = -1; // index into sections; sections are never removed
    int autoSort = 0;
    int lineOfLastAccess = -1;
    char sectionStart = '[';
    char sectionEnd = ']';
    char separator[8] = "=";
    char paddedSeparator[16] = " = ";
    char commentMarker[8] = ";";
    int duplicateChecking = 1;
    std::string headerText; // empty: none
    std::string trailerText;
};

namespace ini {

inline bool IsWhite(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

inline bool IsLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

inline bool IsTrail(unsigned char c) {
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

// Length of the character at p: 0 at the NUL, 2 for a double-byte character, else 1.
inline int CharLen(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if (u[0] == 0) {
        return 0;
    }
    return (IsLead(u[0]) && IsTrail(u[1])) ? 2 : 1;
}

inline const char* SkipWhite(const char* p) {
    while (IsWhite(static_cast<unsigned char>(*p))) {
        ++p;
    }
    return p;
}

// End of the text [begin, end) less trailing white space, found scanning forward
// so that a trail byte is never judged on its own.
const char* EndWithoutWhite(const char* begin, const char* end);

// Leaves the system's reason for a failure in errno, whatever cleaning up did
// to it since.
int FailWith(int status, int error);

} // namespace ini
