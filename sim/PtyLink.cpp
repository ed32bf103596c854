#include "sim/PtyLink.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

int BaudOf(speed_t speed) {
    switch (speed) {
    case B0:
        return 0;
    case B50:
        return 50;
    case B75:
        return 75;
    case B110:
        return 110;
    case B134:
        return 134;
    case B150:
        return 150;
    case B200:
        return 200;
    case B300:
        return 300;
    case B600:
        return 600;
    case B1200:
        return 1200;
    case B1800:
        return 1800;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return -1;
    }
}

} // namespace

std::string LineSettings::Describe() const {
    return (baud >= 0 ? std::to_string(baud) : std::string("nonstandard")) + " baud " + framing +
           (raw ? " raw" : " NOT raw (echo, line editing or translation on)");
}

PtyLink::~PtyLink() {
    Close();
}

bool PtyLink::Open(std::string* error) {
    Close();
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        *error = Errno("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name)) {
        *error = Errno("pseudo-terminal set-up");
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        *error = Errno(name);
        ::close(master);
        return false;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(slave, TCSANOW, &tio);
    master_ = master;
    ownSlave_ = slave;
    slavePath_ = name;
    return true;
}

void PtyLink::Close() {
    Unlink();
    if (ownSlave_ >= 0) {
        ::close(ownSlave_);
        ownSlave_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    slavePath_.clear();
}

bool PtyLink::Link(const std::string& dir, int port, std::string* error) {
    if (!IsOpen()) {
        *error = "no terminal to link";
        return false;
    }
    Unlink();
    const std::string path = (dir.empty() ? std::string(".") : dir) + "/COM" + std::to_string(port);
    // The name may be the operator's own link to a real serial port, or another simulator's:
    // only a free name is taken, and symlink() takes it in one step or not at all.
    if (symlink(slavePath_.c_str(), path.c_str()) != 0) {
        if (errno == EEXIST) {
            *error = path + " already exists; it is not ours, so it stays as it is (remove it "
                            "if it is left over from an earlier run, or choose another --port "
                            "or --dir)";
        } else {
            *error = Errno(path.c_str());
        }
        return false;
    }
    linkPath_ = path;
    return true;
}

void PtyLink::Unlink() {
    if (linkPath_.empty()) {
        return;
    }
    char target[PATH_MAX];
    const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n >= 0) {
        target[n] = '\0';
        if (slavePath_ == target) {
            ::unlink(linkPath_.c_str());
        }
    }
    linkPath_.clear();
}

ssize_t PtyLink::Read(uint8_t* buffer, size_t capacity) {
    if (master_ < 0) {
        return -1;
    }
    const ssize_t n = ::read(master_, buffer, capacity);
    if (n < 0) {
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    }
    return n;
}

bool PtyLink::Write(const Bytes& bytes) {
    if (master_ < 0) {
        return false;
    }
    size_t done = 0;
    int stalls = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return false;
        }
        // The program does not drain its port: give it a little time, then give up rather
        // than hang the instrument.
        if (++stalls > 10) {
            return false;
        }
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 20);
    }
    return true;
}

int PtyLink::QueuedForProgram() const {
    int queued = 0;
    if (ownSlave_ < 0 || ioctl(ownSlave_, FIONREAD, &queued) != 0) {
        return 0;
    }
    return queued;
}

bool PtyLink::SettleQueued(int expected, int timeoutMs) {
    if (ownSlave_ < 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Polling the slave makes the kernel finish handing over bytes already written, if
        // none are readable yet.
        pollfd p{ownSlave_, POLLIN, 0};
        ::poll(&p, 1, 0);
        if (QueuedForProgram() >= expected) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

LineSettings PtyLink::Line() const {
    LineSettings line;
    termios tio{};
    if (ownSlave_ < 0 || tcgetattr(ownSlave_, &tio) != 0) {
        return line;
    }
    line.baud = BaudOf(cfgetospeed(&tio));
    const tcflag_t size = tio.c_cflag & CSIZE;
    const char bits = size == CS5 ? '5' : size == CS6 ? '6' : size == CS7 ? '7' : '8';
    const char parity = (tio.c_cflag & PARENB) == 0 ? 'N' : (tio.c_cflag & PARODD) ? 'O' : 'E';
    line.framing = std::string(1, bits) + parity + ((tio.c_cflag & CSTOPB) ? "2" : "1");
    line.raw = (tio.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (tio.c_oflag & OPOST) == 0 &&
               (tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON)) == 0;
    return line;
}

} // namespace sim
