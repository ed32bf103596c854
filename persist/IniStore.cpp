// The INI text store. Texts are raw bytes; a GBK double-byte character (lead byte
// 0x81..0xFE followed by a trail byte) is always stepped over as one unit, so a
// trail byte that happens to equal "]" or an ASCII letter is never taken for one.
#include "persist/IniStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "persist/IniStoreInternal.h"
#include "platform/FileReplace.h"

namespace ini {

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

int FailWith(int status, int error) {
    errno = error != 0 ? error : EIO;
    return status;
}

} // namespace ini

using namespace ini;

namespace {

constexpr int kTempNames = 1000;
constexpr int kTempAccessRetries = 100;

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

// The whole text is made in memory and then written in one piece.
int TextLineSink(void* context, const char* line) {
    try {
        auto* text = static_cast<std::string*>(context);
        text->append(line);
        text->append("\r\n");
        return 0;
    } catch (const std::bad_alloc&) {
        return INI_ERR_OUT_OF_MEMORY;
    }
}

// What a temporary file that cannot be made means for the store's result.
int TempStatusFromErrno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return INI_ERR_ACCESS;
    case EEXIST: // every name taken
        return INI_ERR_NO_TEMP_NAME;
    default:
        return INI_ERR_TEMP_CREATE;
    }
}

// An existing target must open for update; a missing one must be creatable. A file
// whose owner took every write bit away counts as read-only even for root, as a
// read-only file would elsewhere.
int GetFileWritability(const char* path) {
    struct stat st;
    if (::stat(path, &st) == 0) {
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
    int status = GetFileWritability(path);
    if (status < 0) {
        return FailWith(status, errno);
    }
    std::string text;
    status = Ini_WriteGeneric(store, TextLineSink, &text);
    if (status < 0) {
        return FailWith(status, ENOMEM); // the only way a write into memory fails
    }
    const SysTempNames names = {"ini$$%1d.TMP", kTempNames, kTempAccessRetries};
    bool tempFailed = false;
    const int error = SysReplaceFileNamed(path, text.data(), text.size(), names, &tempFailed);
    if (error != 0) {
        return FailWith(tempFailed ? TempStatusFromErrno(error) : StatusFromErrno(error), error);
    }
    return 0;
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
