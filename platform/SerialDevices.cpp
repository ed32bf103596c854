// Device discovery works on names only: nothing is opened, so listing needs no
// permission on the devices and never disturbs a line another program uses.
#include "platform/SerialDevices.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Names of a folder's entries, "." and ".." left out; empty when it is missing.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    return names;
}

std::string Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The number a kernel name ends in, so ttyUSB10 comes after ttyUSB9; -1 when
// the name is not prefix followed by digits only.
long NumberAfter(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
        return -1;
    }
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(),
                                          [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return -1;
    }
    return std::strtol(digits.c_str(), nullptr, 10);
}

// Families in the order they are listed.
const char* const kFamilies[] = {"ttyUSB", "ttyACM", "ttyS"};

// Sorting key of a device's kernel name: family, then number.
std::pair<int, long> KernelOrder(const std::string& name) {
    for (int f = 0; f < 3; ++f) {
        const long n = NumberAfter(name, kFamilies[f]);
        if (n >= 0) {
            return {f, n};
        }
    }
    return {3, 0};
}

// An on-board port name exists for every possible UART; the kernel marks the
// ones with nothing behind them as type 0.
bool MayHaveUart(const std::string& root, const std::string& name) {
    std::ifstream in(root + "/sys/class/tty/" + name + "/type");
    int type = -1;
    if (!(in >> type)) {
        return true; // cannot tell: better listed than hidden
    }
    return type != 0;
}

std::string PortName(int port) {
    return "COM" + std::to_string(port);
}

} // namespace

int SerialListDevices(const char* root, std::vector<SerialDevice>* out) {
    if (out == nullptr) {
        return EINVAL;
    }
    out->clear();
    if (root == nullptr) {
        root = std::getenv("VX52_SYSTEM_ROOT");
    }
    const std::string top = root != nullptr ? root : "";
    const std::string dev = top + "/dev";

    std::vector<SerialDevice> byId;
    const std::string byIdFolder = dev + "/serial/by-id";
    for (const std::string& name : Entries(byIdFolder)) {
        SerialDevice d;
        d.path = byIdFolder + "/" + name;
        d.device = Resolved(d.path);
        if (d.device.empty()) {
            continue; // the adapter is gone and its name is stale
        }
        d.label = BaseName(d.device) + "  (" + name + ")";
        byId.push_back(d);
    }
    std::sort(byId.begin(), byId.end(), [](const SerialDevice& a, const SerialDevice& b) {
        const auto ka = KernelOrder(BaseName(a.device));
        const auto kb = KernelOrder(BaseName(b.device));
        return ka != kb ? ka < kb : a.path < b.path;
    });

    std::vector<SerialDevice> plain;
    for (const std::string& name : Entries(dev)) {
        const auto order = KernelOrder(name);
        if (order.first > 2 || (order.first == 2 && !MayHaveUart(top, name))) {
            continue;
        }
        SerialDevice d;
        d.path = dev + "/" + name;
        d.device = Resolved(d.path);
        const bool covered = std::any_of(
            byId.begin(), byId.end(), [&](const SerialDevice& b) { return b.device == d.device; });
        if (d.device.empty() || covered) {
            continue;
        }
        d.label = name;
        plain.push_back(d);
    }
    std::sort(plain.begin(), plain.end(), [](const SerialDevice& a, const SerialDevice& b) {
        return KernelOrder(BaseName(a.path)) < KernelOrder(BaseName(b.path));
    });

    out->insert(out->end(), byId.begin(), byId.end());
    out->insert(out->end(), plain.begin(), plain.end());
    return 0;
}

int SerialPortNameKind(int port) {
    struct stat st {};
    if (lstat(PortName(port).c_str(), &st) != 0) {
        return SERIAL_NAME_ABSENT;
    }
    return S_ISLNK(st.st_mode) ? SERIAL_NAME_LINK : SERIAL_NAME_OTHER;
}

std::string SerialPortNameTarget(int port) {
    const std::string name = PortName(port);
    struct stat st {};
    if (lstat(name.c_str(), &st) != 0) {
        return "/dev/ttyS" + std::to_string(port - 1);
    }
    char resolved[PATH_MAX];
    if (realpath(name.c_str(), resolved) != nullptr) {
        return resolved;
    }
    // A link that leads nowhere: where it points is still what it stands for.
    char target[PATH_MAX];
    const ssize_t n = readlink(name.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : name;
}

int SerialLinkPortName(int port, const char* target, int replaceOther) {
    if (target == nullptr || target[0] == '\0' || port < 1) {
        return EINVAL;
    }
    const std::string name = PortName(port);
    struct stat st {};
    if (lstat(name.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        if (replaceOther == 0) {
            return EEXIST;
        }
        // A rename cannot put a link in place of a folder; an empty one goes
        // first, one with content stays and the failure says why.
        if (S_ISDIR(st.st_mode) && rmdir(name.c_str()) != 0) {
            return errno;
        }
    }
    // Made beside the name and renamed over it, so "COM<N>" is always either
    // the old entry or the new link.
    const std::string temporary = "." + name + ".link-" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target, temporary.c_str()) != 0) {
        return errno;
    }
    if (rename(temporary.c_str(), name.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        return error;
    }
    return 0;
}
