// Reading a file into the store: the buffered line reader, what kind of line
// each one is, and the joining of continuation lines.
#include "persist/IniStore.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "persist/IniStoreInternal.h"

using namespace ini;

struct LineFile {
    LineFileByteSourceFn source = nullptr;
    void* context = nullptr;
    char buffer[2048];
    int position = 0;
    int remaining = 0;
    int linesRead = 0;
    char previousLineEnd = 0;
    bool anyLineEnd = false;
    bool sourceDone = false;
    int skippedLineEnds = 0;
    long long offset = 0;
    long long lastLineOffset = 0;
};

namespace {

constexpr int kFileBlock = 2048;

std::string Trimmed(const char* begin, const char* end) {
    begin = SkipWhite(begin);
    if (begin >= end) {
        return std::string();
    }
    return std::string(begin, EndWithoutWhite(begin, end));
}

// ---- classifying a line ----------------------------------------------------------

enum LineKind { LINE_COMMENT, LINE_SECTION, LINE_ITEM, LINE_OTHER };

struct ParsedLine {
    LineKind kind = LINE_OTHER;
    std::string name;
    std::string value;
};

// First occurrence of token in text at a character boundary, or null.
const char* FindToken(const char* text, const char* token) {
    size_t tokenLen = std::strlen(token);
    if (tokenLen == 0) {
        return nullptr;
    }
    for (const char* p = text; *p;) {
        if (std::strncmp(p, token, tokenLen) == 0) {
            return p;
        }
        p += CharLen(p);
    }
    return nullptr;
}

ParsedLine ClassifyLine(const IniStore* store, const char* line) {
    ParsedLine parsed;
    const char* p = SkipWhite(line);
    const char* end = p + std::strlen(p);
    size_t markerLen = std::strlen(store->commentMarker);
    if (markerLen > 0 && std::strncmp(p, store->commentMarker, markerLen) == 0) {
        parsed.kind = LINE_COMMENT;
        return parsed;
    }
    if (*p != '\0' && *p == store->sectionStart) {
        const char* lastClose = nullptr;
        for (const char* q = p + 1; *q;) {
            int len = CharLen(q);
            if (len == 1 && *q == store->sectionEnd) {
                lastClose = q;
            }
            q += len;
        }
        if (lastClose == nullptr || *SkipWhite(lastClose + 1) != '\0') {
            return parsed;
        }
        parsed.name = Trimmed(p + 1, lastClose);
        if (!parsed.name.empty()) {
            parsed.kind = LINE_SECTION;
        }
        return parsed;
    }
    const char* sep = FindToken(p, store->separator);
    if (sep == nullptr) {
        return parsed;
    }
    parsed.name.assign(p, EndWithoutWhite(p, sep));
    parsed.value = Trimmed(sep + std::strlen(store->separator), end);
    if (!parsed.name.empty() && !parsed.value.empty()) {
        parsed.kind = LINE_ITEM;
    }
    return parsed;
}

// ---- continuation lines ----------------------------------------------------------

// A name "<base> Line<digits>" is continuation line <digits>; returns the number, or
// -1 when the name is not one.
long ContinuationNumber(const std::string& name, size_t* baseLength) {
    static const char kMarker[] = " Line";
    const size_t markerLen = sizeof(kMarker) - 1;
    const char* text = name.c_str();
    for (const char* p = text; *p;) {
        if (std::strncmp(p, kMarker, markerLen) == 0) {
            const char* digits = p + markerLen;
            if (*digits != '\0') {
                long number = 0;
                const char* d = digits;
                for (; *d >= '0' && *d <= '9'; ++d) {
                    if (number > (INT32_MAX - (*d - '0')) / 10) {
                        return -1;
                    }
                    number = number * 10 + (*d - '0');
                }
                if (*d == '\0') {
                    *baseLength = static_cast<size_t>(p - text);
                    return number;
                }
            }
        }
        p += CharLen(p);
    }
    return -1;
}

void JoinContinuationItems(IniSection& section) {
    bool any = false;
    for (const IniItem& item : section.items) {
        size_t base = 0;
        if (ContinuationNumber(item.name, &base) == 1) {
            any = true;
            break;
        }
    }
    if (!any) {
        return;
    }
    std::vector<IniItem> joined;
    joined.reserve(section.items.size());
    size_t i = 0;
    while (i < section.items.size()) {
        size_t base = 0;
        if (ContinuationNumber(section.items[i].name, &base) != 1) {
            joined.push_back(std::move(section.items[i]));
            ++i;
            continue;
        }
        IniItem run = std::move(section.items[i]);
        // Blanks before " Line" belong to no name: names never end on white space.
        run.name.resize(static_cast<size_t>(
            EndWithoutWhite(run.name.data(), run.name.data() + base) - run.name.data()));
        ++i;
        while (i < section.items.size()) {
            size_t nextBase = 0;
            long number = ContinuationNumber(section.items[i].name, &nextBase);
            if (number < 0 || number == 1) {
                break;
            }
            run.value += section.items[i].value;
            ++i;
        }
        joined.push_back(std::move(run));
    }
    section.items = std::move(joined);
}

int FileByteSource(void* context, char* buffer, int count) {
    FILE* file = static_cast<FILE*>(context);
    size_t n = std::fread(buffer, 1, static_cast<size_t>(count), file);
    if (n == 0 && std::ferror(file)) {
        return INI_ERR_READ;
    }
    return static_cast<int>(n);
}

int LineFileLineSource(void* context, char* lineBuffer, int maxBytes, int* endOfInput,
                       int* lineNumber) {
    LineFile* reader = static_cast<LineFile*>(context);
    int status = LineFile_Read(reader, lineBuffer, maxBytes, nullptr, endOfInput);
    *lineNumber = LineFile_NumLinesRead(reader);
    return status;
}

} // namespace

// ---- reading the store -------------------------------------------------------------

int Ini_ReadGeneric(IniStore* store, IniLineSourceFn source, void* context) {
    if (store == nullptr) {
        return INI_ERR_NULL_STORE;
    }
    int status = 0;
    try {
        char line[INI_MAX_LINE + 1];
        std::string pending;
        int current = -1;
        bool sectionRead = false;
        for (;;) {
            int endOfInput = 0;
            int lineNumber = 0;
            line[0] = '\0';
            int s = source(context, line, INI_MAX_LINE, &endOfInput, &lineNumber);
            if (s < 0) {
                status = s;
                break;
            }
            if (endOfInput) {
                if (!pending.empty() && store->trailerText.empty()) {
                    store->trailerText = pending;
                }
                break;
            }
            ParsedLine parsed = ClassifyLine(store, line);
            switch (parsed.kind) {
            case LINE_COMMENT:
                if (!pending.empty()) {
                    pending += "\r\n";
                }
                pending += line;
                break;
            case LINE_SECTION: {
                IniSection section;
                section.name = std::move(parsed.name);
                section.sorted = store->autoSort;
                section.line = lineNumber;
                section.comment = std::move(pending);
                pending.clear();
                store->sections.push_back(std::move(section));
                current = static_cast<int>(store->sections.size()) - 1;
                sectionRead = true;
                break;
            }
            case LINE_ITEM: {
                if (current < 0) {
                    pending.clear();
                    break;
                }
                IniItem item;
                item.name = std::move(parsed.name);
                item.value = std::move(parsed.value);
                if (item.value.size() >= 2 && item.value.front() == '"' &&
                    item.value.back() == '"') {
                    item.value = item.value.substr(1, item.value.size() - 2);
                    item.quoted = 1;
                }
                item.line = lineNumber;
                item.comment = std::move(pending);
                pending.clear();
                store->sections[current].items.push_back(std::move(item));
                break;
            }
            case LINE_OTHER:
                if (!pending.empty() && !sectionRead && store->headerText.empty()) {
                    store->headerText = std::move(pending);
                    pending.clear();
                }
                break;
            }
        }
        for (IniSection& section : store->sections) {
            JoinContinuationItems(section);
        }
    } catch (const std::bad_alloc&) {
        return INI_ERR_OUT_OF_MEMORY;
    }
    return status;
}

int Ini_ReadFromFile(IniStore* store, const char* path) {
    if (store == nullptr) {
        return FailWith(INI_ERR_NULL_STORE, EINVAL);
    }
    if (path == nullptr) {
        return FailWith(INI_ERR_OPEN, ENOENT);
    }
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return FailWith(INI_ERR_OPEN, errno);
    }
    LineFile* reader = LineFile_New(FileByteSource, file);
    if (reader == nullptr) {
        std::fclose(file);
        return FailWith(INI_ERR_OUT_OF_MEMORY, ENOMEM);
    }
    errno = 0;
    int status = Ini_ReadGeneric(store, LineFileLineSource, reader);
    const int error = status == INI_ERR_OUT_OF_MEMORY ? ENOMEM : errno;
    LineFile_Dispose(reader);
    std::fclose(file);
    return status < 0 ? FailWith(status, error) : 0;
}

// ---- line reader ---------------------------------------------------------------------

LineFile* LineFile_New(LineFileByteSourceFn source, void* context) {
    LineFile* reader = new (std::nothrow) LineFile;
    if (reader == nullptr) {
        return nullptr;
    }
    reader->source = source;
    reader->context = context;
    return reader;
}

void LineFile_Dispose(LineFile* reader) {
    delete reader;
}

int LineFile_NumLinesRead(LineFile* reader) {
    return reader == nullptr ? 0 : reader->linesRead;
}

int LineFile_Read(LineFile* reader, char* buffer, int maxBytes, int* bytesRead, int* endOfInput) {
    if (endOfInput != nullptr) {
        *endOfInput = 0;
    }
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    if (maxBytes < 0) {
        maxBytes = 0;
    }
    int stored = 0;
    bool first = true;
    bool consumed = false; // a byte of this line (or its line end) was taken
    bool full = false;     // the line outgrew the buffer; the rest is dropped
    bool leadPending = false;
    bool leadStoredLast = false;
    for (;;) {
        if (reader->remaining == 0) {
            if (reader->sourceDone) {
                break;
            }
            int n = reader->source(reader->context, reader->buffer, kFileBlock);
            if (n < 0) {
                buffer[stored] = '\0';
                if (bytesRead != nullptr) {
                    *bytesRead = stored;
                }
                return n;
            }
            if (n == 0) {
                reader->sourceDone = true;
                break;
            }
            reader->position = 0;
            reader->remaining = n;
        }
        unsigned char c = static_cast<unsigned char>(reader->buffer[reader->position]);
        bool lineEnd = c == '\r' || c == '\n' || c == '\0';
        // The second byte of CR LF or LF CR belongs to the previous line's end. Before
        // the first line there is no previous end, so a leading empty line is kept.
        if (first && lineEnd && reader->anyLineEnd &&
            static_cast<char>(c) != reader->previousLineEnd) {
            first = false;
            ++reader->position;
            --reader->remaining;
            ++reader->offset;
            ++reader->skippedLineEnds;
            continue;
        }
        if (!consumed) {
            reader->lastLineOffset = reader->offset;
        }
        first = false;
        consumed = true;
        ++reader->position;
        --reader->remaining;
        ++reader->offset;
        if (lineEnd) {
            reader->previousLineEnd = static_cast<char>(c);
            reader->anyLineEnd = true;
            ++reader->linesRead;
            buffer[stored] = '\0';
            if (bytesRead != nullptr) {
                *bytesRead = stored;
            }
            return 0;
        }
        if (leadPending && IsTrail(c)) {
            leadPending = false;
            if (!full && stored < maxBytes) {
                buffer[stored++] = static_cast<char>(c);
            } else if (!full) {
                // Never keep the first half of a character that did not fit.
                full = true;
                if (leadStoredLast) {
                    --stored;
                }
            }
            leadStoredLast = false;
            continue;
        }
        leadPending = IsLead(c);
        leadStoredLast = false;
        if (!full && stored < maxBytes) {
            buffer[stored++] = static_cast<char>(c);
            leadStoredLast = leadPending;
        } else {
            full = true;
        }
    }
    // End of input.
    buffer[stored] = '\0';
    if (bytesRead != nullptr) {
        *bytesRead = stored;
    }
    if (consumed) {
        ++reader->linesRead;
        return 0;
    }
    if (endOfInput != nullptr) {
        *endOfInput = 1;
    }
    return 0;
}
