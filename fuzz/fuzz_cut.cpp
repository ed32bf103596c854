// The cut of texts into fixed buffers: StringCopyMax on its own, and ReadItem
// taking a language text into its 255-byte buffer.
//
// Input: two bytes of buffer size, a mode byte, two bytes of item number, then
// the text. Checked: nothing is written outside the buffer (it is exactly as
// large as stated, so a write past it is a heap overflow); the copy is the
// longest prefix of the text that fits and ends on a whole character, so it
// never ends on the first byte of a double-byte character that the cut split.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "persist/IniStore.h"
#include "persist/Language.h"

namespace {

constexpr int kItemBuffer = 255; // what every caller of ReadItem hands it

struct Lines {
    std::vector<std::string> lines;
    size_t next = 0;
};

int LinesSource(void* context, char* lineBuffer, int maxBytes, int* endOfInput, int* lineNumber) {
    auto* source = static_cast<Lines*>(context);
    if (source->next >= source->lines.size()) {
        *endOfInput = 1;
        lineBuffer[0] = '\0';
        return 0;
    }
    const std::string& line = source->lines[source->next++];
    const size_t n = std::min(line.size(), static_cast<size_t>(maxBytes));
    std::memcpy(lineBuffer, line.data(), n);
    lineBuffer[n] = '\0';
    *lineNumber = static_cast<int>(source->next);
    return 0;
}

void CheckCut(const std::string& source, const char* copy, int returned, int bufferSize,
              const char* what) {
    const size_t length = std::strlen(copy);
    FUZZ_CHECK(returned < 0 || static_cast<size_t>(returned) == length,
               "%s returned %d for %zu bytes", what, returned, length);
    FUZZ_CHECK(length + 1 <= static_cast<size_t>(bufferSize), "%s: %zu bytes in a buffer of %d",
               what, length, bufferSize);
    FUZZ_CHECK(source.compare(0, length, copy, length) == 0, "%s: not a prefix", what);
    const size_t want = fuzz::LongestWholePrefix(source, static_cast<size_t>(bufferSize - 1));
    FUZZ_CHECK(length == want, "%s: kept %zu bytes of %zu, the longest whole prefix is %zu", what,
               length, source.size(), want);
}

// The text as a language file holds it: quoted continuation lines of at most
// 80 bytes, so blanks and quotes at the cuts survive and any length fits.
IniStore* LanguageStore(const std::string& name, const std::string& text) {
    Lines source;
    source.lines.push_back("[Item]");
    if (text.size() <= 80) {
        source.lines.push_back(name + " = \"" + text + "\"");
    } else {
        for (size_t at = 0, n = 1; at < text.size(); at += 80, ++n) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, " Line%04zu", n);
            source.lines.push_back(name + suffix + " = \"" + text.substr(at, 80) + "\"");
        }
    }
    IniStore* store = Ini_New(0);
    FUZZ_CHECK(store != nullptr, "no store");
    FUZZ_CHECK(Ini_ReadGeneric(store, LinesSource, &source) == 0, "read failed");
    return store;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ByteReader in(data, size);
    const int sizeBits = (in.Byte() << 8) | in.Byte();
    const uint8_t mode = in.Byte();
    const int itemNumber = static_cast<int16_t>((in.Byte() << 8) | in.Byte());
    const std::string text = fuzz::CText(in.Rest(), in.RestSize());

    // StringCopyMax into a buffer of exactly the size it is told.
    const int bufferSize = sizeBits % 600 - 2;
    if (bufferSize > 0) {
        std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(bufferSize)]);
        std::memset(buffer.get(), 'Z', static_cast<size_t>(bufferSize));
        const int n = StringCopyMax(buffer.get(), text.c_str(), bufferSize);
        CheckCut(text, buffer.get(), n, bufferSize, "StringCopyMax");
    } else {
        char guard = 'Z';
        FUZZ_CHECK(StringCopyMax(&guard, text.c_str(), bufferSize) == 0 && guard == 'Z',
                   "size %d wrote", bufferSize);
    }

    // ReadItem from a language store holding the text under the item's name.
    const int stored = (mode & 1) ? itemNumber + 1 : itemNumber; // sometimes another item
    const int positive = ((stored % 10000) + 10000) % 10000;
    char name[8];
    std::snprintf(name, sizeof name, "%04d", positive);
    IniStore* store = LanguageStore(name, text);
    std::string raw(text.size() + 1, '\0');
    const int found =
        Ini_GetRawStringIntoBuffer(store, "Item", name, raw.data(), static_cast<int>(raw.size()));
    raw.resize(std::strlen(raw.c_str()));
    FUZZ_CHECK(found == 1 && raw == text, "the store lost the text (%d)", found);

    std::unique_ptr<char[]> item(new char[kItemBuffer]);
    std::memset(item.get(), 'Z', kItemBuffer);
    gInifileHandle = store;
    gInifileHandleState = (mode & 2) ? 0 : 1;
    const int status = ReadItem(itemNumber, item.get());
    if (gInifileHandleState != 1) {
        FUZZ_CHECK(status == 0 && item[0] == 'Z', "ReadItem ran without an open store");
    } else if (itemNumber >= 0 && stored == itemNumber) {
        FUZZ_CHECK(status == 1, "ReadItem did not find item %d", itemNumber);
        CheckCut(raw, item.get(), -1, kItemBuffer, "ReadItem");
    } else if (itemNumber >= 0) {
        FUZZ_CHECK(status == 0 && item[0] == '\0', "ReadItem found absent item %d", itemNumber);
    }
    gInifileHandleState = 1;
    CloseLanguage();
    FUZZ_CHECK(gInifileHandle == nullptr && gInifileHandleState == 0, "store left open");
    return 0;
}
