// Operating-system services on Linux.
#include "platform/System.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSocketNotifier>
#include <QUrl>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

void Delay(double seconds) {
    if (seconds > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
}

namespace {

std::tm LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm;
}

} // namespace

void GetSystemTime(int* hours, int* minutes, int* seconds) {
    const std::tm tm = LocalNow();
    *hours = tm.tm_hour;
    *minutes = tm.tm_min;
    *seconds = tm.tm_sec;
}

void GetSystemDate(int* month, int* day, int* year) {
    const std::tm tm = LocalNow();
    *month = tm.tm_mon + 1;
    *day = tm.tm_mday;
    *year = tm.tm_year + 1900;
}

double SysMonotonicMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The guard is a socket bound to a name in the abstract namespace: the kernel
// drops the name when the process ends however it ends, so a crashed copy
// never blocks the next start, and no file or permission is involved.
int SysCreateNamedGuard(const char* name, int* alreadyExists) {
    *alreadyExists = 0;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const size_t len = std::min(std::strlen(name), sizeof(addr.sun_path) - 2);
    std::memcpy(addr.sun_path + 1, name, len);
    const socklen_t addrLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + len);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), addrLen) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EADDRINUSE) {
            *alreadyExists = 1;
            return 0;
        }
        return -1;
    }
    return fd + 1; // 0 is reserved for "held by another process"
}

void SysCloseNamedGuard(int handle) {
    if (handle > 0) {
        ::close(handle - 1);
    }
}

namespace {
QString gOriginalMode; // the xrandr mode to restore, empty when unchanged
}

int SysGetScreenMode(int* width, int* height, int* bitsPerPixel, int* refreshRate) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return -1;
    }
    const QSize size = screen->size();
    *width = size.width();
    *height = size.height();
    *bitsPerPixel = screen->depth();
    *refreshRate = static_cast<int>(screen->refreshRate() + 0.5);
    return 0;
}

int SysChangeScreenModeTemporary(int width, int height, int bitsPerPixel, int refreshRate) {
    (void)bitsPerPixel;
    (void)refreshRate;
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return -1;
    }
    int w = 0, h = 0, bpp = 0, hz = 0;
    if (SysGetScreenMode(&w, &h, &bpp, &hz) != 0) {
        return -1;
    }
    const QString wanted = QStringLiteral("%1x%2").arg(width).arg(height);
    const int rc = QProcess::execute(QStringLiteral("xrandr"), {QStringLiteral("-s"), wanted});
    if (rc != 0) {
        return -1;
    }
    if (gOriginalMode.isEmpty()) {
        gOriginalMode = QStringLiteral("%1x%2").arg(w).arg(h);
    }
    return 0;
}

void SysRestoreScreenMode() {
    if (gOriginalMode.isEmpty()) {
        return;
    }
    QProcess::execute(QStringLiteral("xrandr"), {QStringLiteral("-s"), gOriginalMode});
    gOriginalMode.clear();
}

int SysOpenDocument(const char* path) {
    const QFileInfo info(QString::fromUtf8(path));
    if (!info.exists()) {
        return -1;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())) ? 0 : -1;
}

namespace {

int gSignalPipe[2] = {-1, -1};
void (*gTerminationHandler)() = nullptr;

void OnSignal(int) {
    const char byte = 1;
    // Only an async-signal-safe write here; the handler runs from the event loop.
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

} // namespace

void SysOnTerminationSignal(void (*handler)()) {
    gTerminationHandler = handler;
    if (gSignalPipe[0] >= 0) {
        return;
    }
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, []() {
        char buf[16];
        while (::read(gSignalPipe[0], buf, sizeof buf) > 0) {
        }
        if (gTerminationHandler) {
            gTerminationHandler();
        }
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}
