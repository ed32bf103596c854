// The INI reader: the line reader, the store built from the lines, look-ups,
// integer reads, writing and reading back.
//
// Input: a mode byte (how the bytes are handed out, whether the file route is
// taken, whether the source fails), a line limit byte, then the file.
// Checked:
// - the line reader splits lines as a splitter written here does, keeps the
//   longest whole-character prefix of each that fits, and counts them;
// - the store does not depend on how the source hands out its bytes, nor on
//   reading through a file rather than a memory source;
// - every item written can be looked up with the value written (first
//   section and first item of a name win, names compare ignoring the case of
//   single-byte letters), and Ini_GetInt on it agrees with the strict rule;
// - writing the store and reading it back keeps every section, item name,
//   value and comment, double-byte text included: a second write is the same
//   text. Items whose names read as continuation lines, and names too long to
//   leave room for a continuation line, are beyond what the file can hold.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "persist/IniStore.h"

namespace {

int gMemFd = -1;
std::string gMemPath;

struct MemorySource {
    const std::string* data;
    size_t position = 0;
    size_t step = 2048; // bytes handed out per call at most
    size_t failAt = 0;  // a read error once this many bytes were handed out; 0 never
};

int MemoryBytes(void* context, char* buffer, int count) {
    auto* source = static_cast<MemorySource*>(context);
    if (source->failAt != 0 && source->position >= source->failAt) {
        return INI_ERR_READ;
    }
    size_t n = std::min(
        {static_cast<size_t>(count), source->step, source->data->size() - source->position});
    std::memcpy(buffer, source->data->data() + source->position, n);
    source->position += n;
    return static_cast<int>(n);
}

int LineFileSource(void* context, char* lineBuffer, int maxBytes, int* endOfInput,
                   int* lineNumber) {
    auto* reader = static_cast<LineFile*>(context);
    const int status = LineFile_Read(reader, lineBuffer, maxBytes, nullptr, endOfInput);
    *lineNumber = LineFile_NumLinesRead(reader);
    return status;
}

int Collect(void* context, const char* line) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(line);
    return 0;
}

struct FailingSink {
    int left;
};

int FailAfter(void* context, const char* /*line*/) {
    auto* sink = static_cast<FailingSink*>(context);
    return sink->left-- > 0 ? 0 : INI_ERR_DISK_FULL;
}

std::vector<std::string> Written(IniStore* store) {
    std::vector<std::string> lines;
    FUZZ_CHECK(Ini_WriteGeneric(store, Collect, &lines) == 0, "write failed");
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

IniStore* ReadMemory(const std::string& bytes, size_t step, size_t failAt, int* status) {
    IniStore* store = Ini_New(0);
    FUZZ_CHECK(store != nullptr, "no store");
    MemorySource source{&bytes, 0, step, failAt};
    LineFile* reader = LineFile_New(MemoryBytes, &source);
    FUZZ_CHECK(reader != nullptr, "no reader");
    *status = Ini_ReadGeneric(store, LineFileSource, reader);
    LineFile_Dispose(reader);
    return store;
}

IniStore* ReadFile(const std::string& bytes) {
    FUZZ_CHECK(ftruncate(gMemFd, 0) == 0, "truncate");
    FUZZ_CHECK(pwrite(gMemFd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
               "pwrite");
    IniStore* store = Ini_New(0);
    const int status = Ini_ReadFromFile(store, gMemPath.c_str());
    FUZZ_CHECK(status == 0, "file read gave %d", status);
    return store;
}

// ---- the line reader against a splitter written here ------------------------------

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n' || c == '\0';
}

// Physical lines: CR, LF and NUL end a line; a line-end byte right after a
// line end of another kind is the second half of a pair.
std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t i = 0;
    char previousEnd = 0;
    bool anyEnd = false;
    while (i < bytes.size()) {
        if (anyEnd && IsLineEnd(bytes[i]) && bytes[i] != previousEnd) {
            ++i;
            if (i >= bytes.size()) {
                break;
            }
        }
        std::string line;
        while (i < bytes.size() && !IsLineEnd(bytes[i])) {
            line += bytes[i++];
        }
        if (i < bytes.size()) {
            previousEnd = bytes[i++];
            anyEnd = true;
        }
        lines.push_back(line);
    }
    return lines;
}

void CheckLineReader(const std::string& bytes, size_t step, int maxBytes) {
    MemorySource source{&bytes, 0, step, 0};
    LineFile* reader = LineFile_New(MemoryBytes, &source);
    const std::vector<std::string> expected = SplitLines(bytes);
    std::vector<char> buffer(static_cast<size_t>(maxBytes) + 1);
    size_t count = 0;
    for (;;) {
        int bytesRead = -1;
        int end = 0;
        FUZZ_CHECK(LineFile_Read(reader, buffer.data(), maxBytes, &bytesRead, &end) == 0,
                   "line read failed");
        if (end) {
            FUZZ_CHECK(buffer[0] == '\0' && bytesRead == 0, "text at the end of input");
            break;
        }
        FUZZ_CHECK(count < expected.size(), "more lines than the %zu expected", expected.size());
        const std::string got(buffer.data());
        FUZZ_CHECK(static_cast<size_t>(bytesRead) == got.size(), "count %d for %zu bytes",
                   bytesRead, got.size());
        const std::string& line = expected[count];
        const size_t keep = fuzz::LongestWholePrefix(line, static_cast<size_t>(maxBytes));
        FUZZ_CHECK(got == line.substr(0, keep), "line %zu: kept %zu bytes, expected %zu of %zu",
                   count + 1, got.size(), keep, line.size());
        ++count;
        FUZZ_CHECK(LineFile_NumLinesRead(reader) == static_cast<int>(count), "line count %d",
                   LineFile_NumLinesRead(reader));
    }
    FUZZ_CHECK(count == expected.size(), "%zu lines, expected %zu", count, expected.size());
    LineFile_Dispose(reader);
}

// ---- what the writer wrote, parsed back here ------------------------------------

struct Item {
    std::string name;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Item> items;
    bool plain = true; // no item name that reading could take for a continuation line
};

// " Line" and digits up to the end of the name: reading takes such an item
// for a continuation line.
bool LooksContinued(const std::string& name, std::string* base, std::string* digits) {
    const size_t at = name.rfind(" Line");
    if (at == std::string::npos || at + 5 == name.size()) {
        return false;
    }
    for (size_t i = at + 5; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
    }
    *base = name.substr(0, at);
    *digits = name.substr(at + 5);
    return true;
}

// Items as the writer put them: one line each, or a run of chunk lines
// "<name> Line0001", "<name> Line0002", ... of which all but the last are full.
// A section holding any other name that reading would take for a chunk is not
// plain: what look-ups must answer there is beyond this parser.
class WrittenParser {
  public:
    std::vector<Section> Parse(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            const size_t first = line.find_first_not_of(" \t\r\n\v\f");
            if (first == std::string::npos || line[first] == ';') {
                continue; // blank line, or comment text
            }
            if (line[0] == '[') {
                FUZZ_CHECK(line.size() >= 3 && line.back() == ']', "header line \"%s\"",
                           line.c_str());
                Flush();
                sections_.push_back({line.substr(1, line.size() - 2), {}, true});
                continue;
            }
            // Names hold no "=" and end on no blank; the blanks around the
            // separator are left out where the line would be too long.
            const size_t eq = line.find('=');
            FUZZ_CHECK(!sections_.empty() && eq != std::string::npos && eq >= 1, "item line \"%s\"",
                       line.c_str());
            const bool padded = eq >= 2 && line.compare(eq - 1, 3, " = ") == 0;
            Item item = padded ? Item{line.substr(0, eq - 1), line.substr(eq + 2)}
                               : Item{line.substr(0, eq), line.substr(eq + 1)};
            if (line.size() > static_cast<size_t>(INI_MAX_LINE)) {
                // Only a name too long to leave room for " LineNNNN", the
                // separator, quotes and one character can give such a line.
                FUZZ_CHECK(item.name.size() > 241 + 9, "written line of %zu bytes: \"%s\"",
                           line.size(), line.c_str());
                tooLong_ = true;
            }
            if (item.value.size() >= 2 && item.value.front() == '"' && item.value.back() == '"') {
                item.value = item.value.substr(1, item.value.size() - 2);
            }
            Add(item);
        }
        Flush();
        return std::move(sections_);
    }

    // A line longer than reading keeps was written.
    bool TooLong() const { return tooLong_; }

  private:
    void Add(const Item& item) {
        std::string base;
        std::string digits;
        const bool continued = LooksContinued(item.name, &base, &digits);
        char expectedDigits[16];
        std::snprintf(expectedDigits, sizeof expectedDigits, "%04zu", chunks_.size() + 1);
        if (continued && !chunks_.empty() && base == runBase_ && digits == expectedDigits &&
            chunks_.back().size() >= 79) {
            chunks_.push_back(item.value);
            return;
        }
        Flush();
        if (continued && digits == "0001") {
            runBase_ = base;
            chunks_.push_back(item.value);
            return;
        }
        if (continued) {
            sections_.back().plain = false;
        }
        sections_.back().items.push_back(item);
    }

    void Flush() {
        if (chunks_.empty()) {
            return;
        }
        if (chunks_.size() == 1) {
            // One chunk is never written for a value: an item of that very name.
            sections_.back().plain = false;
            sections_.back().items.push_back({runBase_ + " Line0001", chunks_[0]});
        } else {
            std::string value;
            for (const std::string& c : chunks_) {
                value += c;
            }
            sections_.back().items.push_back({runBase_, value});
        }
        chunks_.clear();
    }

    std::vector<Section> sections_;
    std::string runBase_;
    std::vector<std::string> chunks_;
    bool tooLong_ = false;
};

// Names compare ignoring the case of single-byte letters; a double-byte
// character compares as it stands, whatever its second byte looks like.
bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    for (size_t i = 0; i < a.size();) {
        const bool pairA = fuzz::IsLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size() &&
                           fuzz::IsTrailByte(static_cast<unsigned char>(a[i + 1]));
        const bool pairB = fuzz::IsLeadByte(static_cast<unsigned char>(b[i])) && i + 1 < b.size() &&
                           fuzz::IsTrailByte(static_cast<unsigned char>(b[i + 1]));
        if (pairA != pairB) {
            return false;
        }
        if (pairA) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) {
                return false;
            }
            i += 2;
        } else {
            if (fold(a[i]) != fold(b[i])) {
                return false;
            }
            ++i;
        }
    }
    return true;
}

void CheckLookUps(IniStore* store, const std::vector<Section>& sections) {
    for (const Section& section : sections) {
        // The first section of that name answers every look-up in it.
        const Section* owner = nullptr;
        for (const Section& s : sections) {
            if (SameName(s.name, section.name)) {
                owner = &s;
                break;
            }
        }
        for (const Item& item : section.items) {
            const Item* want = nullptr;
            for (const Item& i : owner->items) {
                if (SameName(i.name, item.name)) {
                    want = &i;
                    break;
                }
            }
            // A buffer that grows until the whole value fits, so no cut hides a
            // difference (a cut keeps at most two bytes less than the buffer).
            std::string raw;
            int found = 0;
            for (size_t room = 256;; room *= 2) {
                raw.assign(room, '\0');
                found = Ini_GetRawStringIntoBuffer(store, section.name.c_str(), item.name.c_str(),
                                                   raw.data(), static_cast<int>(room));
                raw.resize(std::strlen(raw.c_str()));
                if (raw.size() + 2 < room) {
                    break;
                }
            }
            if (section.plain && owner->plain) {
                FUZZ_CHECK((found == 1) == (want != nullptr), "[%s] %s found %d",
                           section.name.c_str(), item.name.c_str(), found);
                if (want != nullptr) {
                    FUZZ_CHECK(raw == want->value, "[%s] %s is \"%s\", written \"%s\"",
                               section.name.c_str(), item.name.c_str(), raw.c_str(),
                               want->value.c_str());
                }
            }
            int32_t value = 12345;
            const int status = Ini_GetInt(store, section.name.c_str(), item.name.c_str(), &value);
            int64_t ref = 0;
            if (found != 1 || raw.find_first_not_of(" \t\r\n\v\f") == std::string::npos) {
                FUZZ_CHECK(status == 0 && value == 12345, "blank or absent gave %d", status);
            } else if (fuzz::StrictInt(raw, &ref)) {
                FUZZ_CHECK(status == 1 && value == ref, "\"%s\" gave %d/%d, reference %lld",
                           raw.c_str(), status, value, static_cast<long long>(ref));
            } else {
                FUZZ_CHECK(status == INI_ERR_NOT_INTEGER && value == 12345,
                           "\"%s\" gave %d/%d, reference refuses", raw.c_str(), status, value);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    gMemFd = memfd_create("fuzz_ini", 0);
    FUZZ_CHECK(gMemFd >= 0, "memfd_create");
    gMemPath = "/proc/self/fd/" + std::to_string(gMemFd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ByteReader in(data, size);
    const uint8_t mode = in.Byte();
    const uint8_t limit = in.Byte();
    const std::string bytes(reinterpret_cast<const char*>(in.Rest()), in.RestSize());
    static const size_t kSteps[] = {1, 2, 3, 7, 64, 255, 256, 2047, 2048};
    const size_t step = kSteps[(mode & 0x0F) % std::size(kSteps)];

    CheckLineReader(bytes, step, limit);

    int status = 0;
    IniStore* store = ReadMemory(bytes, step, 0, &status);
    FUZZ_CHECK(status == 0, "read gave %d", status);
    const std::vector<std::string> written = Written(store);

    IniStore* other = (mode & 0x10) ? ReadFile(bytes) : ReadMemory(bytes, 2048, 0, &status);
    FUZZ_CHECK(Written(other) == written, "the store depends on how the bytes arrive");
    Ini_Dispose(other);

    if (mode & 0x20) {
        // A source that fails part way: the error comes back, nothing breaks.
        const size_t failAt = 1 + limit * bytes.size() / 256;
        other = ReadMemory(bytes, step, failAt, &status);
        FUZZ_CHECK(status == INI_ERR_READ || failAt > bytes.size(), "failing source gave %d",
                   status);
        Written(other);
        Ini_Dispose(other);
        FailingSink sink{limit % 8};
        const int w = Ini_WriteGeneric(store, FailAfter, &sink);
        FUZZ_CHECK(w == 0 || w == INI_ERR_DISK_FULL, "failing sink gave %d", w);
    }

    WrittenParser parser;
    const std::vector<Section> sections = parser.Parse(written);
    CheckLookUps(store, sections);

    // Names ending in " Line" and digits are the file's own continuation lines:
    // an item that merely carries such a name is joined to the item before it
    // on reading, as the file format has it, so the round trip leaves it out.
    bool plain = true;
    for (const Section& section : sections) {
        plain = plain && section.plain;
    }
    if (plain && !parser.TooLong()) {
        IniStore* again = ReadMemory(Joined(written), 2048, 0, &status);
        const std::vector<std::string> rewritten = Written(again);
        if (rewritten != written) {
            size_t k = 0;
            while (k < written.size() && k < rewritten.size() && written[k] == rewritten[k]) {
                ++k;
            }
            FUZZ_CHECK(false, "read back differs at written line %zu: \"%s\" became \"%s\"", k,
                       k < written.size() ? written[k].c_str() : "(none)",
                       k < rewritten.size() ? rewritten[k].c_str() : "(none)");
        }
        Ini_Dispose(again);
    }
    Ini_Dispose(store);
    return 0;
}
