// Serial ports on POSIX terminals. Every descriptor is non-blocking: the link
// never waits for bytes that have not arrived, and a device that disappears
// (USB adapter unplugged, simulator ended) turns into error results rather than
// a descriptor that reads as empty forever.
#include "platform/Rs232.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kMaxPorts = 10;

struct PortSlot {
    int fd = -1;
    long baudRate = 0;
    char device[512] = {}; // the device the open reached, links followed
};

PortSlot gPorts[kMaxPorts];

ComOpenFailure gOpenFailure{};
bool gOpenFailed = false;

// Keeps what an open tried and the system's reason; the path is made absolute
// because a "COM<N>" link resolves against a working folder the operator
// may not know.
int OpenFailed(int result, const char* path, int error) {
    ComOpenFailure& f = gOpenFailure;
    f = ComOpenFailure{};
    f.sysError = error != 0 ? error : EIO;
    gOpenFailed = true;
    if (path == nullptr || path[0] == '\0') {
        return result;
    }
    char cwd[400];
    if (path[0] != '/' && getcwd(cwd, sizeof cwd) != nullptr) {
        std::snprintf(f.device, sizeof f.device, "%s/%s", cwd, path);
    } else {
        std::snprintf(f.device, sizeof f.device, "%s", path);
    }
    const ssize_t n = readlink(path, f.linkTarget, sizeof f.linkTarget - 1);
    f.linkTarget[n > 0 ? n : 0] = '\0';
    // Only a group that may both read and write the device is worth joining.
    struct stat st {};
    if (stat(path, &st) == 0 && (st.st_mode & 060) == 060) {
        const group* g = getgrgid(st.st_gid);
        if (g != nullptr && g->gr_name != nullptr) {
            std::snprintf(f.deviceGroup, sizeof f.deviceGroup, "%s", g->gr_name);
        }
    }
    return result;
}

PortSlot* SlotOf(int port) {
    if (port < 1 || port > kMaxPorts) {
        return nullptr;
    }
    return &gPorts[port - 1];
}

// Resolves a port number to the file to open: a "COM<N>" entry in the working
// directory wins, so a link to any tty or pseudo-terminal can stand in for a
// port; otherwise the N-th on-board serial device. A dangling link still
// counts as the operator's choice: the open then fails instead of quietly
// talking to a different device.
void DefaultDeviceName(int port, char* out, size_t size) {
    char local[16];
    std::snprintf(local, sizeof local, "COM%d", port);
    struct stat st {};
    if (lstat(local, &st) == 0) {
        std::snprintf(out, size, "%s", local);
    } else {
        std::snprintf(out, size, "/dev/ttyS%d", port - 1);
    }
}

speed_t SpeedOf(long baudRate) {
    switch (baudRate) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    default:
        return B0;
    }
}

bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// How long a write may make no progress before it gives up. At the slowest
// rate the kernel frees room in chunks of a few hundred bytes, so the limit
// grows as the line gets slower.
int WriteStallLimitMs(long baudRate) {
    long rate = baudRate > 0 ? baudRate : 1200;
    return static_cast<int>(500 + 512L * 10L * 1000L / rate);
}

} // namespace

int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize) {
    (void)inputQueueSize; // the kernel's own queues are larger than any frame
    (void)outputQueueSize;
    PortSlot* slot = SlotOf(port);
    if (slot == nullptr) {
        return OpenFailed(RS232_ERR_PORT_NUMBER, nullptr, EINVAL);
    }
    speed_t speed = SpeedOf(baudRate);
    if (speed == B0 || parity < 0 || parity > 2 || dataBits < 5 || dataBits > 8 || stopBits < 1 ||
        stopBits > 2) {
        return OpenFailed(RS232_ERR_CONFIG, nullptr, EINVAL);
    }
    if (slot->fd >= 0) {
        CloseCom(port);
    }

    char path[512];
    if (deviceName != nullptr && deviceName[0] != '\0') {
        std::snprintf(path, sizeof path, "%s", deviceName);
    } else {
        DefaultDeviceName(port, path, sizeof path);
    }
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return OpenFailed(RS232_ERR_OPEN, path, errno);
    }
    // Two programs on one line would steal each other's reply bytes. The
    // exclusive mode set below keeps out other users but not root; the lock
    // keeps out every copy of this program, before the line is touched.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        return OpenFailed(RS232_ERR_OPEN, path, error);
    }

    struct termios tio {};
    if (tcgetattr(fd, &tio) != 0) {
        const int error = errno;
        close(fd);
        return OpenFailed(RS232_ERR_OPEN, path, error); // not a terminal: no serial port there
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[dataBits - 5];
    if (parity != 0) {
        tio.c_cflag |= PARENB;
        if (parity == 1) {
            tio.c_cflag |= PARODD;
        }
    }
    if (stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 ||
        tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int error = errno;
        close(fd);
        return OpenFailed(RS232_ERR_CONFIG, path, error);
    }
    // Another program opening the same line would steal reply bytes; an open
    // refused by this comes back as EBUSY.
    ioctl(fd, TIOCEXCL);
    gOpenFailed = false;
    slot->fd = fd;
    slot->baudRate = baudRate;
    // "COM1" says little; the operator recognises the adapter by its device.
    char* real = realpath(path, nullptr);
    std::snprintf(slot->device, sizeof slot->device, "%s", real != nullptr ? real : path);
    std::free(real);
    return RS232_NO_ERROR;
}

int GetComDevice(int port, char* device, int size) {
    PortSlot* slot = SlotOf(port);
    if (slot == nullptr || slot->fd < 0 || device == nullptr || size <= 0) {
        return RS232_ERR_NOT_OPEN;
    }
    std::snprintf(device, static_cast<size_t>(size), "%s", slot->device);
    return RS232_NO_ERROR;
}

int GetComOpenFailure(ComOpenFailure* failure) {
    if (!gOpenFailed || failure == nullptr) {
        return 0;
    }
    *failure = gOpenFailure;
    return 1;
}

int CloseCom(int port) {
    PortSlot* slot = SlotOf(port);
    if (slot == nullptr) {
        return RS232_ERR_PORT_NUMBER;
    }
    if (slot->fd < 0) {
        return RS232_ERR_NOT_OPEN;
    }
    // Unsent bytes are dropped: on a line held up by handshake, close would
    // otherwise wait for them for up to half a minute.
    tcflush(slot->fd, TCIOFLUSH);
    int r = close(slot->fd);
    slot->fd = -1;
    slot->baudRate = 0;
    return r == 0 ? RS232_NO_ERROR : RS232_ERR_IO;
}

int SetCTSMode(int port, int mode) {
    PortSlot* slot = SlotOf(port);
    if (slot == nullptr) {
        return RS232_ERR_PORT_NUMBER;
    }
    if (slot->fd < 0) {
        return RS232_ERR_NOT_OPEN;
    }
    struct termios tio {};
    if (tcgetattr(slot->fd, &tio) != 0) {
        return RS232_ERR_IO;
    }
    if (mode != 0) {
        tio.c_cflag |= CRTSCTS;
    } else {
        tio.c_cflag &= ~CRTSCTS;
    }
    return tcsetattr(slot->fd, TCSANOW, &tio) == 0 ? RS232_NO_ERROR : RS232_ERR_CONFIG;
}

static int Flush(int port, int queue) {
    PortSlot* slot = SlotOf(port);
    if (slot == nullptr) {
        return RS232_ERR_PORT_NUMBER;
    }
    if (slot->fd < 0) {
        return RS232_ERR_NOT_OPEN;
    }
    return tcflush(slot->fd, queue) == 0 ? RS232_NO_ERROR : RS232_ERR_IO;
}

int FlushInQ(int port) {
    return Flush(port, TCIFLUSH);
}

int FlushOutQ(int port) {
    return Flush(port, TCOFLUSH);
}

int GetInQLen(int port) {
    PortSlot* slot = SlotOf(port);
    if (slot == nullptr) {
        return RS232_ERR_PORT_NUMBER;
    }
    if (slot->fd < 0) {
        return RS232_ERR_NOT_OPEN;
    }
    int queued = 0;
    if (ioctl(slot->fd, FIONREAD, &queued) != 0) {
        return RS232_ERR_IO;
    }
    if (queued == 0 && HungUp(slot->fd)) {
        return RS232_ERR_IO;
    }
    return queued;
}

int ComWrt(int port, const char* buffer, int count) {
    PortSlot* slot = SlotOf(port);
    if (slot == nullptr) {
        return RS232_ERR_PORT_NUMBER;
    }
    if (slot->fd < 0) {
        return RS232_ERR_NOT_OPEN;
    }
    if (count <= 0) {
        return 0;
    }
    if (buffer == nullptr) {
        return RS232_ERR_IO;
    }
    const int stallLimitMs = WriteStallLimitMs(slot->baudRate);
    int written = 0;
    while (written < count) {
        ssize_t r = write(slot->fd, buffer + written, static_cast<size_t>(count - written));
        if (r > 0) {
            written += static_cast<int>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return RS232_ERR_IO;
        }
        // The output queue is full: wait for room, but not forever, because a
        // line stopped by handshake or a dead adapter never drains.
        auto start = std::chrono::steady_clock::now();
        for (;;) {
            auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
            if (waited >= stallLimitMs) {
                return RS232_ERR_WRITE_TIMEOUT;
            }
            pollfd p{slot->fd, POLLOUT, 0};
            int pr = poll(&p, 1, stallLimitMs - static_cast<int>(waited));
            if (pr < 0 && errno == EINTR) {
                continue;
            }
            if (pr < 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return RS232_ERR_IO;
            }
            if (pr > 0) {
                break;
            }
        }
    }
    return written;
}

int ComRd(int port, char* buffer, int count) {
    PortSlot* slot = SlotOf(port);
    if (slot == nullptr) {
        return RS232_ERR_PORT_NUMBER;
    }
    if (slot->fd < 0) {
        return RS232_ERR_NOT_OPEN;
    }
    if (count <= 0) {
        return 0;
    }
    if (buffer == nullptr) {
        return RS232_ERR_IO;
    }
    int got = 0;
    while (got < count) {
        ssize_t r = read(slot->fd, buffer + got, static_cast<size_t>(count - got));
        if (r > 0) {
            got += static_cast<int>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return got > 0 ? got : RS232_ERR_IO;
        }
        // Zero means "nothing queued" on a raw line, but also end of file on
        // a hung-up one; only the latter is an error.
        if (r == 0 && got == 0 && HungUp(slot->fd)) {
            return RS232_ERR_IO;
        }
        break;
    }
    return got;
}
