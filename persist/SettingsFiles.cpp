// Output-settings files, the autosave copy and "Set.Dat": two INI files with a
// "FileInfo" section naming their kind and a "Value" section of integers.
#include "persist/SettingsFiles.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "link/PortUart.h"
#include "persist/IniStore.h"
#include "persist/RemoteSettings.h"
#include "power/PowerRecords.h"

namespace {

constexpr int32_t KIND_NORMAL_52P = 65;
constexpr int32_t KIND_SOFT_SET = 128;
constexpr const char* SECTION_FILE_INFO = "FileInfo";
constexpr const char* ITEM_TYPE = "Type";
constexpr const char* SECTION_VALUE = "Value";

struct FieldItem {
    const char* name;
    int32_t* field;
};

// Table order is the order the items are written in.
const FieldItem kNormal52PItems[] = {
    {"Vol", &gNormal52PSet.vol},           {"Freq", &gNormal52PSet.freq},
    {"VolLevel", &gNormal52PSet.volLevel}, {"Up2U", &gNormal52PSet.up2U},
    {"Down2U", &gNormal52PSet.down2U},
};

const FieldItem kSoftSetItems[] = {
    {"SoftwareAddress", &gPowerInfo.address},
    {"CommTypeRS232Port", &gPowerInfo.port},
    {"CommTypeRS232Baudrate", &gPowerInfo.baudRate},
    {"Language", &gPowerInfo.language},
};

// Extra items of "Set.Dat" that the original layout does not have; the INI store
// keeps them whenever the file is written again.
constexpr const char* SECTION_REMOTE = "Remote";

const FieldItem kRemoteItems[] = {
    {"Enable", &gRemoteSet.enabled},
    {"Port", &gRemoteSet.port},
};
constexpr const char* ITEM_REMOTE_ADDRESS = "Address";

void RunNormal52PCheck() {
    Data52PCheck();
}
void RunCommSetCheck() {
    DataCheckCommSet();
}

bool FileExists(const char* path) {
    struct stat st;
    return path != nullptr && ::stat(path, &st) == 0;
}

// Longest start of a file looked at to tell text from other bytes.
constexpr size_t kTextProbeBytes = 64 * 1024;

// Whether the file can be a settings file at all, before the INI reader, which
// takes any bytes, reads it: SETTINGS_READ when it may be.
SettingsRefusal ProbeFile(const char* path, int* error) {
    struct stat st;
    if (path == nullptr || ::stat(path, &st) != 0) {
        *error = errno;
        return errno == ENOENT ? SETTINGS_MISSING : SETTINGS_UNREADABLE;
    }
    if (S_ISDIR(st.st_mode)) {
        *error = EISDIR;
        return SETTINGS_UNREADABLE;
    }
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return SETTINGS_UNREADABLE;
    }
    std::vector<unsigned char> head(kTextProbeBytes);
    const ssize_t n = ::read(fd, head.data(), head.size());
    const int readError = errno;
    ::close(fd);
    if (n < 0) {
        *error = readError;
        return SETTINGS_UNREADABLE;
    }
    if (n == 0) {
        return SETTINGS_EMPTY;
    }
    // Text has no control bytes but tab, line ends and form feed; GBK and
    // UTF-8 bytes are all above them.
    for (ssize_t i = 0; i < n; ++i) {
        const unsigned char c = head[static_cast<size_t>(i)];
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0x7F) {
            return SETTINGS_NOT_TEXT;
        }
    }
    return SETTINGS_READ;
}

template <std::size_t N>
int ReadSettingsFile(const char* path, int32_t kind, const FieldItem (&items)[N], void (*check)(),
                     SettingsReport* report) {
    SettingsReport local;
    SettingsReport& r = report != nullptr ? *report : local;
    r = SettingsReport{};
    r.refusal = ProbeFile(path, &r.error);
    if (r.refusal == SETTINGS_MISSING) {
        check();
        return 0;
    }
    IniStore* store = r.refusal == SETTINGS_READ ? Ini_New(0) : nullptr;
    if (store == nullptr) {
        check();
        return 0;
    }
    if (Ini_ReadFromFile(store, path) < 0) {
        r.refusal = SETTINGS_UNREADABLE;
        r.error = errno;
    }
    // Starts as neither kind, so a file without a valid "Type" is refused.
    int32_t type = -1;
    Ini_GetInt(store, SECTION_FILE_INFO, ITEM_TYPE, &type);
    if (type != kind) {
        Ini_Dispose(store);
        if (r.refusal == SETTINGS_READ) {
            r.refusal = type == -1 ? SETTINGS_NO_KIND : SETTINGS_OTHER_KIND;
            r.kind = type;
        }
        // A refused file leaves the record as it was; the check makes sure that is
        // never the all-zero record of a first start. On a record that was already
        // valid it changes nothing.
        check();
        return 0;
    }
    r.refusal = SETTINGS_READ;
    struct Read {
        int status;
        std::string text;
    };
    Read read[N];
    for (std::size_t i = 0; i < N; ++i) {
        read[i].status = Ini_GetInt(store, SECTION_VALUE, items[i].name, items[i].field);
        char raw[INI_MAX_LINE + 1] = "";
        if (read[i].status == 1) {
            read[i].text = std::to_string(*items[i].field);
        } else if (read[i].status == INI_ERR_NOT_INTEGER &&
                   Ini_GetRawStringIntoBuffer(store, SECTION_VALUE, items[i].name, raw,
                                              sizeof raw) == 1) {
            read[i].text = raw;
        }
    }
    Ini_Dispose(store);
    check();
    // What the file holds that the record does not: out of range, or no number.
    for (std::size_t i = 0; i < N; ++i) {
        const bool replaced =
            (read[i].status == 1 && read[i].text != std::to_string(*items[i].field)) ||
            read[i].status == INI_ERR_NOT_INTEGER;
        if (replaced) {
            r.replaced.push_back({items[i].name, read[i].text, *items[i].field});
        }
    }
    return 1;
}

// Puts what a file holds beyond its kind's "Value" items; a negative status on failure.
using ExtraItems = int (*)(IniStore* store);

int PutRemoteItems(IniStore* store) {
    int status = 0;
    for (const FieldItem& item : kRemoteItems) {
        if (status >= 0) {
            status = Ini_PutInt(store, SECTION_REMOTE, item.name, *item.field);
        }
    }
    if (status >= 0) {
        status = Ini_PutString(store, SECTION_REMOTE, ITEM_REMOTE_ADDRESS, gRemoteSet.address);
    }
    return status;
}

// Returns 0, or the system's reason (an errno value) for not writing the file.
template <std::size_t N>
int PutItemsAndWrite(IniStore* store, const char* path, int32_t kind, const FieldItem (&items)[N],
                     ExtraItems extra) {
    // Everything the old file holds that the store keeps survives the save. A file
    // that exists but cannot be read is not written over: what it holds would be lost.
    const int read = Ini_ReadFromFile(store, path);
    if (read < 0 && !(read == INI_ERR_OPEN && errno == ENOENT)) {
        return errno;
    }
    int status = Ini_PutInt(store, SECTION_FILE_INFO, ITEM_TYPE, kind);
    for (const FieldItem& item : items) {
        if (status >= 0) {
            status = Ini_PutInt(store, SECTION_VALUE, item.name, *item.field);
        }
    }
    if (status >= 0 && extra != nullptr) {
        status = extra(store);
    }
    if (status < 0) {
        return ENOMEM;
    }
    return Ini_WriteToFile(store, path) < 0 ? errno : 0;
}

template <std::size_t N>
int WriteSettingsFile(const char* path, int32_t kind, const FieldItem (&items)[N], int* error,
                      ExtraItems extra = nullptr) {
    IniStore* store = Ini_New(0);
    const int reason =
        store == nullptr ? ENOMEM : PutItemsAndWrite(store, path, kind, items, extra);
    Ini_Dispose(store);
    if (reason != 0 && error != nullptr) {
        *error = reason;
    }
    return reason == 0 ? 1 : 0;
}

} // namespace

int FileReadNormal52P(const char* path, SettingsReport* report) {
    return ReadSettingsFile(path, KIND_NORMAL_52P, kNormal52PItems, RunNormal52PCheck, report);
}

int FileWriteNormal52P(const char* path, int* error) {
    return WriteSettingsFile(path, KIND_NORMAL_52P, kNormal52PItems, error);
}

int FileReadSoftSet(const char* path, SettingsReport* report) {
    return ReadSettingsFile(path, KIND_SOFT_SET, kSoftSetItems, RunCommSetCheck, report);
}

int FileWriteSoftSet(const char* path, int* error) {
    return WriteSettingsFile(path, KIND_SOFT_SET, kSoftSetItems, error);
}

int AutoSave52P(int* error) {
    return FileWriteNormal52P(AUTOSAVE_FILE, error);
}

int AutoSaveSetting(int* autoSaveError, int* softSetError) {
    const int autoSaved = AutoSave52P(autoSaveError);
    const int softSetSaved = FileWriteSoftSet(SOFTSET_FILE, softSetError);
    return autoSaved == 1 && softSetSaved == 1 ? 1 : 0;
}

int FileReadRemoteSet(const char* path) {
    gRemoteSet = RemoteSet{};
    int read = 0;
    IniStore* store = FileExists(path) ? Ini_New(0) : nullptr;
    if (store != nullptr && Ini_ReadFromFile(store, path) >= 0) {
        int32_t type = -1;
        Ini_GetInt(store, SECTION_FILE_INFO, ITEM_TYPE, &type);
        if (type == KIND_SOFT_SET) {
            for (const FieldItem& item : kRemoteItems) {
                Ini_GetInt(store, SECTION_REMOTE, item.name, item.field);
            }
            Ini_GetRawStringIntoBuffer(store, SECTION_REMOTE, ITEM_REMOTE_ADDRESS,
                                       gRemoteSet.address, sizeof gRemoteSet.address);
            read = 1;
        }
    }
    Ini_Dispose(store);
    RemoteSetCheck();
    return read;
}

int FileWriteRemoteSet(const char* path, int* error) {
    return WriteSettingsFile(path, KIND_SOFT_SET, kSoftSetItems, error, PutRemoteItems);
}
