// The INI text store. Texts are raw bytes; a GBK double-byte character (lead byte
// 0x81..0xFE followed by a trail byte) is always stepped over as one unit, so a
// trail byte that happens to equal "]" or an ASCII letter is never taken for one.
#include "persist/IniStore.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
constexpr int kWriteBuffer = 16384;
constexpr int kTempNames = 1000;
constexpr int kTempAccessRetries = 100;

bool IsWhite(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

bool IsTrail(unsigned char c) {
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

// Length of the character at p: 0 at the NUL, 2 for a double-byte character, else 1.
int CharLen(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if (u[0] == 0) {
        return 0;
    }
    return (IsLead(u[0]) && IsTrail(u[1])) ? 2 : 1;
}

const char* SkipWhite(const char* p) {
    while (IsWhite(static_cast<unsigned char>(*p))) {
        ++p;
    }
    return p;
}

// End of the text [begin, end) less trailing white space, found scanning forward
// so that a trail byte is never judged on its own.
const char* EndWithoutWhite(const char* begin, const char* end) {
    const char* lastEnd = begin;
    for (const char* p = begin; p < end;) {
        int len = CharLen(p);
        if (len == 0) {
            break;
        }
        if (len == 2 || !IsWhite(static_cast<unsigned char>(*p))) {
            lastEnd = p + len;
        }
        p += len;
    }
    return lastEnd;
}

std::string Trimmed(const char* begin, const char* end) {
    begin = SkipWhite(begin);
    if (begin >= end) {
        return std::string();
    }
    return std::string(begin, EndWithoutWhite(begin, end));
}

char FoldSingle(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the text ends on a lead byte that has no trail byte after it. Written
// right before a closing bracket, such a byte would take the bracket for its
// trail byte on reading.
bool EndsOnLoneLead(const std::string& text) {
    int last = 0;
    for (const char* p = text.c_str(); *p;) {
        last = CharLen(p);
        p += last;
    }
    return last == 1 && IsLead(static_cast<unsigned char>(text.back()));
}

// Names compare ignoring the case of single-byte letters and surrounding white space.
int StrICmpWithoutSurrWhiteSpace(const char* a, const char* b) {
    a = SkipWhite(a);
    b = SkipWhite(b);
    const char* aEnd = EndWithoutWhite(a, a + std::strlen(a));
    const char* bEnd = EndWithoutWhite(b, b + std::strlen(b));
    while (a < aEnd && b < bEnd) {
        int la = CharLen(a);
        int lb = CharLen(b);
        if (la != lb) {
            return la < lb ? -1 : 1;
        }
        if (la == 1) {
            char ca = FoldSingle(*a);
            char cb = FoldSingle(*b);
            if (ca != cb) {
                return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
            }
        } else {
            int d = std::memcmp(a, b, 2);
            if (d != 0) {
                return d;
            }
        }
        a += la;
        b += lb;
    }
    if (a < aEnd) {
        return 1;
    }
    if (b < bEnd) {
        return -1;
    }
    return 0;
}

int FindSection(IniStore* store, const char* name) {
    int n = static_cast<int>(store->sections.size());
    if (store->lastSection >= 0 && store->lastSection < n &&
        StrICmpWithoutSurrWhiteSpace(store->sections[store->lastSection].name.c_str(), name) == 0) {
        return store->lastSection;
    }
    for (int i = 0; i < n; ++i) {
        if (StrICmpWithoutSurrWhiteSpace(store->sections[i].name.c_str(), name) == 0) {
            store->lastSection = i;
            return i;
        }
    }
    return -1;
}

IniItem* FindItem(IniStore* store, const char* section, const char* item) {
    if (section == nullptr || item == nullptr) {
        return nullptr;
    }
    int s = FindSection(store, section);
    if (s < 0) {
        return nullptr;
    }
    for (IniItem& it : store->sections[s].items) {
        if (StrICmpWithoutSurrWhiteSpace(it.name.c_str(), item) == 0) {
            return &it;
        }
    }
    return nullptr;
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

// ---- writing -----------------------------------------------------------------------

// Whether an unquoted text, written alone after the separator, reads back as itself.
bool ReadsBackUnquoted(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    if (IsWhite(static_cast<unsigned char>(text.front()))) {
        return false;
    }
    if (EndWithoutWhite(text.data(), text.data() + text.size()) != text.data() + text.size()) {
        return false;
    }
    return !(text.size() >= 2 && text.front() == '"' && text.back() == '"');
}

int WriteItem(const IniStore* store, const IniItem& item, IniLineSinkFn sink, void* context) {
    int status = 0;
    if (!item.comment.empty()) {
        status = sink(context, item.comment.c_str());
        if (status < 0) {
            return status;
        }
    }
    // Reading keeps only the first INI_MAX_LINE bytes of a line. A line that
    // would be longer with blanks around the separator goes without them, and a
    // value that still does not fit beside its name is cut into shorter chunks.
    const size_t separatorLength = std::strlen(store->separator);
    std::string line;
    auto emit = [&](const std::string& name, const std::string& value, bool quoted) {
        const size_t quotes = quoted ? 2 : 0;
        const bool padded =
            name.size() + std::strlen(store->paddedSeparator) + value.size() + quotes <=
            static_cast<size_t>(INI_MAX_LINE);
        line = name;
        line += padded ? store->paddedSeparator : store->separator;
        if (quoted) {
            line += '"';
            line += value;
            line += '"';
        } else {
            line += value;
        }
        return sink(context, line.c_str());
    };
    const size_t ownQuotes = item.quoted != 0 ? 2 : 0;
    if (item.value.size() <= static_cast<size_t>(INI_MAX_VALUE_PER_LINE) &&
        item.name.size() + separatorLength + item.value.size() + ownQuotes <=
            static_cast<size_t>(INI_MAX_LINE)) {
        return emit(item.name, item.value, item.quoted != 0);
    }
    // Room beside the name, " Line0001", the separator and two quotes; at least
    // one double-byte character, so every chunk takes something.
    const long room = INI_MAX_LINE - static_cast<long>(item.name.size() + 9 + separatorLength + 2);
    const long chunkMax = std::max(2L, std::min(static_cast<long>(INI_MAX_VALUE_PER_LINE), room));
    std::vector<std::string> chunks;
    const char* p = item.value.c_str();
    const char* end = p + item.value.size();
    while (p < end) {
        const char* q = p;
        while (q < end) {
            int len = CharLen(q);
            if (len == 0) {
                len = 1; // an embedded NUL is carried as a byte
            }
            if (q + len - p > chunkMax) {
                break;
            }
            q += len;
        }
        chunks.emplace_back(p, q);
        p = q;
    }
    // Reading trims each line and strips surrounding quotes, so an unquoted value
    // whose cut falls next to a blank would lose it; such a value is quoted instead.
    bool quoted = item.quoted != 0;
    for (size_t i = 0; !quoted && i < chunks.size(); ++i) {
        quoted = !ReadsBackUnquoted(chunks[i]);
    }
    char suffix[32];
    for (size_t i = 0; i < chunks.size(); ++i) {
        std::snprintf(suffix, sizeof suffix, "%s%04d", " Line", static_cast<int>(i + 1));
        status = emit(item.name + suffix, chunks[i], quoted);
        if (status < 0) {
            return status;
        }
    }
    return 0;
}

int StatusFromErrno(int error) {
    switch (error) {
    case ENOMEM:
        return INI_ERR_OUT_OF_MEMORY;
    case EACCES:
    case EPERM:
    case EROFS:
        return INI_ERR_ACCESS;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return INI_ERR_DISK_FULL;
    default:
        return INI_ERR_IO;
    }
}

int FileLineSink(void* context, const char* line) {
    FILE* file = static_cast<FILE*>(context);
    errno = 0;
    if (std::fputs(line, file) == EOF || std::fputs("\r\n", file) == EOF) {
        return StatusFromErrno(errno);
    }
    return 0;
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

std::string DirectoryPart(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// An existing target must open for update; a missing one must be creatable. A file
// whose owner took every write bit away counts as read-only even for root, as a
// read-only file would elsewhere.
int GetFileWritability(const char* path, bool* exists, mode_t* mode) {
    struct stat st;
    if (::stat(path, &st) == 0) {
        *exists = true;
        *mode = st.st_mode & 07777;
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            return INI_ERR_ACCESS;
        }
        if ((st.st_mode & 0222) == 0) {
            errno = EACCES;
            return INI_ERR_ACCESS;
        }
        int fd = ::open(path, O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            return errno == ENOMEM ? INI_ERR_OUT_OF_MEMORY : INI_ERR_ACCESS;
        }
        ::close(fd);
        return 0;
    }
    if (errno != ENOENT) {
        return INI_ERR_PATH;
    }
    *exists = false;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        switch (errno) {
        case EACCES:
        case EPERM:
        case EROFS:
            return INI_ERR_ACCESS;
        case ENOMEM:
            return INI_ERR_OUT_OF_MEMORY;
        default:
            return INI_ERR_PATH;
        }
    }
    ::close(fd);
    ::unlink(path);
    return 0;
}

int CreateAndOpenTemporaryFile(const std::string& directory, std::string* tempPath, int* fd) {
    int accessFailures = 0;
    char name[64];
    for (int counter = 0; counter < kTempNames; ++counter) {
        std::snprintf(name, sizeof name, "%s%1d.%s", "ini$$", counter, "TMP");
        std::string candidate = directory + name;
        int f = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (f >= 0) {
            *tempPath = candidate;
            *fd = f;
            return 0;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (errno == EACCES || errno == EPERM) {
            if (++accessFailures >= kTempAccessRetries) {
                return INI_ERR_ACCESS;
            }
            continue;
        }
        return errno == EROFS ? INI_ERR_ACCESS : INI_ERR_TEMP_CREATE;
    }
    errno = EEXIST;
    return INI_ERR_NO_TEMP_NAME;
}

// Leaves the system's reason for a failure in errno, whatever cleaning up did
// to it since.
int FailWith(int status, int error) {
    errno = error != 0 ? error : EIO;
    return status;
}

void SyncDirectory(const std::string& directory) {
    int fd =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

// ---- store -------------------------------------------------------------------------

IniStore* Ini_New(int autoSort) {
    IniStore* store = new (std::nothrow) IniStore;
    if (store == nullptr) {
        return nullptr;
    }
    store->autoSort = autoSort;
    Ini_SetTokens(store, '[', ']', "=", ";");
    return store;
}

void Ini_Dispose(IniStore* store) {
    delete store;
}

int Ini_SetTokens(IniStore* store, char sectionStart, char sectionEnd, const char* separator,
                  const char* commentMarker) {
    if (store == nullptr) {
        return INI_ERR_NULL_STORE;
    }
    if (sectionStart != '\0') {
        store->sectionStart = sectionStart;
    }
    if (sectionEnd != '\0') {
        store->sectionEnd = sectionEnd;
    }
    if (separator != nullptr && *separator != '\0') {
        StringCopyMax(store->separator, separator, sizeof store->separator);
    }
    if (commentMarker != nullptr && *commentMarker != '\0') {
        StringCopyMax(store->commentMarker, commentMarker, sizeof store->commentMarker);
    }
    std::snprintf(store->paddedSeparator, sizeof store->paddedSeparator, " %s ", store->separator);
    return 0;
}

int Ini_LineOfLastAccess(IniStore* store) {
    return store == nullptr ? INI_ERR_NULL_STORE : store->lineOfLastAccess;
}

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

int Ini_WriteGeneric(IniStore* store, IniLineSinkFn sink, void* context) {
    if (store == nullptr) {
        return INI_ERR_NULL_STORE;
    }
    try {
        int status = 0;
        if (!store->headerText.empty()) {
            if ((status = sink(context, store->headerText.c_str())) < 0 ||
                (status = sink(context, "")) < 0) {
                return status;
            }
        }
        std::string line;
        for (const IniSection& section : store->sections) {
            if (!section.comment.empty() && (status = sink(context, section.comment.c_str())) < 0) {
                return status;
            }
            line.clear();
            line += store->sectionStart;
            line += section.name;
            if (EndsOnLoneLead(section.name)) {
                line += ' ';
            }
            line += store->sectionEnd;
            if ((status = sink(context, line.c_str())) < 0) {
                return status;
            }
            for (const IniItem& item : section.items) {
                if ((status = WriteItem(store, item, sink, context)) < 0) {
                    return status;
                }
            }
            if ((status = sink(context, "")) < 0) {
                return status;
            }
        }
        if (!store->trailerText.empty() &&
            (status = sink(context, store->trailerText.c_str())) < 0) {
            return status;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return INI_ERR_OUT_OF_MEMORY;
    }
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

// The new text goes to a temporary file beside the target, is synced, and then
// replaces the target in one rename: a crash or a full disk at any moment leaves
// either the old file or the new one, never neither.
int Ini_WriteToFile(IniStore* store, const char* path) {
    if (store == nullptr) {
        return FailWith(INI_ERR_NULL_STORE, EINVAL);
    }
    if (path == nullptr || *path == '\0') {
        return FailWith(INI_ERR_PATH, ENOENT);
    }
    try {
        bool exists = false;
        mode_t mode = 0;
        int status = GetFileWritability(path, &exists, &mode);
        if (status < 0) {
            return FailWith(status, errno);
        }
        // Through a symbolic link the file it points to is replaced, not the link.
        std::string target = path;
        if (exists) {
            char* resolved = ::realpath(path, nullptr);
            if (resolved != nullptr) {
                target = resolved;
                std::free(resolved);
            }
        }
        std::string directory = DirectoryPart(target);
        std::string tempPath;
        int fd = -1;
        status = CreateAndOpenTemporaryFile(directory, &tempPath, &fd);
        if (status < 0) {
            return FailWith(status, errno);
        }
        if (exists) {
            ::fchmod(fd, mode);
        }
        FILE* file = ::fdopen(fd, "wb");
        if (file == nullptr) {
            const int error = errno;
            ::close(fd);
            ::unlink(tempPath.c_str());
            return FailWith(StatusFromErrno(error), error);
        }
        std::setvbuf(file, nullptr, _IOFBF, kWriteBuffer);
        errno = 0;
        status = Ini_WriteGeneric(store, FileLineSink, file);
        int error = status == INI_ERR_OUT_OF_MEMORY ? ENOMEM : errno;
        if (status >= 0) {
            errno = 0;
            if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0) {
                error = errno;
                status = StatusFromErrno(error);
            }
        }
        errno = 0;
        if (std::fclose(file) != 0 && status >= 0) {
            error = errno;
            status = StatusFromErrno(error);
        }
        if (status >= 0 && ::rename(tempPath.c_str(), target.c_str()) != 0) {
            error = errno;
            status = StatusFromErrno(error);
        }
        if (status < 0) {
            ::unlink(tempPath.c_str());
            return FailWith(status, error);
        }
        SyncDirectory(directory);
        return 0;
    } catch (const std::bad_alloc&) {
        return FailWith(INI_ERR_OUT_OF_MEMORY, ENOMEM);
    }
}

namespace {

// Puts an item in place of the one of that name, or at the end of its section.
int PutValue(IniStore* store, const char* section, const char* item, const std::string& value,
             int quoted) {
    try {
        IniItem fresh;
        fresh.name = item;
        fresh.value = value;
        fresh.quoted = quoted;
        int s = FindSection(store, section);
        if (s < 0) {
            IniSection created;
            created.name = section;
            created.sorted = store->autoSort;
            created.items.push_back(std::move(fresh));
            store->sections.push_back(std::move(created));
            return 0;
        }
        std::vector<IniItem>& items = store->sections[s].items;
        size_t place = items.size();
        if (store->duplicateChecking) {
            // Scanning backwards, the last one met is the first in the file: the
            // new item takes its place and the hand-written comment above it.
            for (size_t i = items.size(); i-- > 0;) {
                if (StrICmpWithoutSurrWhiteSpace(items[i].name.c_str(), item) == 0) {
                    fresh.comment = std::move(items[i].comment);
                    items.erase(items.begin() + static_cast<long>(i));
                    place = i;
                }
            }
        }
        items.insert(items.begin() + static_cast<long>(place), std::move(fresh));
        return 0;
    } catch (const std::bad_alloc&) {
        return INI_ERR_OUT_OF_MEMORY;
    }
}

} // namespace

int Ini_PutInt(IniStore* store, const char* section, const char* item, int32_t value) {
    if (store == nullptr || section == nullptr || item == nullptr) {
        return INI_ERR_NULL_STORE;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(value));
    return PutValue(store, section, item, text, 0);
}

int Ini_PutString(IniStore* store, const char* section, const char* item, const char* value) {
    if (store == nullptr || section == nullptr || item == nullptr || value == nullptr) {
        return INI_ERR_NULL_STORE;
    }
    // Quoted only where reading would not give the text back otherwise.
    const std::string text = value;
    return PutValue(store, section, item, text, ReadsBackUnquoted(text) ? 0 : 1);
}

int Ini_GetInt(IniStore* store, const char* section, const char* item, int32_t* value) {
    if (store == nullptr || value == nullptr) {
        return INI_ERR_NULL_STORE;
    }
    IniItem* found = FindItem(store, section, item);
    if (found == nullptr) {
        return 0;
    }
    store->lineOfLastAccess = found->line;
    if (*SkipWhite(found->value.c_str()) == '\0') {
        return 0;
    }
    int32_t number = 0;
    if (!StrToInt(found->value.c_str(), &number)) {
        return INI_ERR_NOT_INTEGER;
    }
    *value = number;
    return 1;
}

int Ini_GetRawStringIntoBuffer(IniStore* store, const char* section, const char* item, char* buffer,
                               int bufferSize) {
    if (store == nullptr || buffer == nullptr) {
        return INI_ERR_NULL_STORE;
    }
    if (bufferSize > 0) {
        buffer[0] = '\0';
    }
    IniItem* found = FindItem(store, section, item);
    if (found == nullptr) {
        return 0;
    }
    store->lineOfLastAccess = found->line;
    StringCopyMax(buffer, found->value.c_str(), bufferSize);
    return 1;
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

// ---- helpers -------------------------------------------------------------------------

int StringCopyMax(char* dest, const char* source, int destSize) {
    if (dest == nullptr || destSize <= 0) {
        return 0;
    }
    if (source == nullptr) {
        dest[0] = '\0';
        return 0;
    }
    int limit = destSize - 1;
    int length = 0;
    while (source[length] != '\0') {
        int len = CharLen(source + length);
        if (length + len > limit) {
            break;
        }
        length += len;
    }
    std::memmove(dest, source, static_cast<size_t>(length));
    dest[length] = '\0';
    return length;
}

int StrToInt(const char* text, int32_t* value) {
    if (text == nullptr) {
        return 0;
    }
    const char* p = SkipWhite(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return 0;
    }
    unsigned long long magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
        if (magnitude > 4294967295ULL) {
            return 0;
        }
    }
    if (*SkipWhite(p) != '\0') {
        return 0;
    }
    if (negative ? magnitude > 2147483648ULL : magnitude > 2147483647ULL) {
        return 0;
    }
    if (value != nullptr) {
        *value = negative ? static_cast<int32_t>(-static_cast<long long>(magnitude))
                          : static_cast<int32_t>(magnitude);
    }
    return 1;
}
