// Operating-system services on Linux.
#include "platform/System.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeDatabase>
#include <QProcess>
#include <QScreen>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// The GNU strerror_r returns its text, which need not be in the buffer; the
// POSIX one fills the buffer and returns 0.
[[maybe_unused]] const char* ErrorTextOf(const char* result, const char*) {
    return result;
}
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}

} // namespace

std::string SysErrorText(int code) {
    char buffer[256] = "";
    const char* text = ErrorTextOf(strerror_r(code, buffer, sizeof buffer), buffer);
    if (text == nullptr || *text == '\0') {
        return "Unknown error " + std::to_string(code);
    }
    return text;
}

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

void SysGetLocalTime(SysLocalTime* t) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    SysLocalTimeAt(int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000, t);
}

void SysLocalTimeAt(int64_t epochMs, SysLocalTime* t) {
    // Floor division, so a moment before 1970 keeps a millisecond in 0..999.
    int64_t seconds = epochMs / 1000;
    int64_t ms = epochMs % 1000;
    if (ms < 0) {
        ms += 1000;
        --seconds;
    }
    const time_t s = static_cast<time_t>(seconds);
    std::tm tm{};
    localtime_r(&s, &tm);
    t->year = tm.tm_year + 1900;
    t->month = tm.tm_mon + 1;
    t->day = tm.tm_mday;
    t->hour = tm.tm_hour;
    t->minute = tm.tm_min;
    t->second = tm.tm_sec;
    t->millisecond = static_cast<int>(ms);
    t->utcOffsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
}

// The guard is a socket bound to a name in the abstract namespace: the kernel
// drops the name when the process ends however it ends, so a crashed copy
// never blocks the next start, and no file or permission is involved.
namespace {

// The guard's abstract socket address: a leading zero byte, then the name.
socklen_t GuardAddress(const char* name, sockaddr_un* addr) {
    *addr = sockaddr_un{};
    addr->sun_family = AF_UNIX;
    const size_t len = std::min(std::strlen(name), sizeof(addr->sun_path) - 2);
    std::memcpy(addr->sun_path + 1, name, len);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + len);
}

} // namespace

int SysCreateNamedGuard(const char* name, int* handle) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    sockaddr_un addr;
    const socklen_t addrLen = GuardAddress(name, &addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), addrLen) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EADDRINUSE ? EEXIST : err;
    }
    // Another copy may knock; without a listener its knock would be refused,
    // which is all that changes, so a failure here is no failure of the guard.
    ::listen(fd, 4);
    *handle = fd + 1; // 0 stands for no handle
    return 0;
}

void SysCloseNamedGuard(int handle) {
    if (handle > 0) {
        ::close(handle - 1);
    }
}

int SysWatchNamedGuard(int handle, void (*onKnock)()) {
    if (handle <= 0 || !qApp) {
        return EINVAL;
    }
    const int fd = handle - 1;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd, onKnock]() {
        const int knock = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (knock < 0) {
            return;
        }
        ::close(knock);
        if (onKnock) {
            onKnock();
        }
    });
    return 0;
}

int SysKnockNamedGuard(const char* name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    sockaddr_un addr;
    const socklen_t addrLen = GuardAddress(name, &addr);
    const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), addrLen);
    const int err = rc == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

const SysDisplayMode* SysDisplayOutput::Mode(const std::string& id) const {
    for (const SysDisplayMode& mode : modes) {
        if (mode.id == id) {
            return &mode;
        }
    }
    return nullptr;
}

namespace {

// "0x48" out of "... (0x48) ...", from `from` on; empty when there is none.
std::string ModeIdIn(const std::string& line, size_t from = 0) {
    const size_t open = line.find("(0x", from);
    if (open == std::string::npos) {
        return {};
    }
    const size_t close = line.find(')', open);
    return close == std::string::npos ? std::string() : line.substr(open + 1, close - open - 1);
}

// The number that follows `key` in a line, or -1.
double NumberAfter(const std::string& line, const char* key) {
    const size_t at = line.find(key);
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtod(line.c_str() + at + std::strlen(key), nullptr);
}

} // namespace

// Lines at the left margin start a screen or an output; a mode is indented by
// two spaces and followed by its "h:" and "v:" timing lines; output properties
// are indented by a tab and of no interest here.
std::vector<SysDisplayOutput> SysParseXrandr(const std::string& text) {
    std::vector<SysDisplayOutput> outputs;
    bool connected = false; // the modes that follow belong to a connected output
    SysDisplayMode* mode = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) {
            continue;
        }
        if (line[0] != ' ' && line[0] != '\t') {
            mode = nullptr;
            connected = false;
            const size_t space = line.find(' ');
            if (line.rfind("Screen ", 0) == 0 || space == std::string::npos) {
                continue;
            }
            SysDisplayOutput out;
            out.name = line.substr(0, space);
            std::string rest = line.substr(space + 1);
            if (rest.rfind("connected", 0) != 0) {
                continue; // disconnected, or unknown connection
            }
            rest = rest.substr(std::strlen("connected"));
            if (rest.rfind(" primary", 0) == 0) {
                out.primary = true;
                rest = rest.substr(std::strlen(" primary"));
            }
            int w = 0, h = 0, x = 0, y = 0;
            if (std::sscanf(rest.c_str(), " %dx%d+%d+%d", &w, &h, &x, &y) == 4) {
                out.width = w;
                out.height = h;
                out.currentMode = ModeIdIn(rest);
            }
            outputs.push_back(out);
            connected = true;
            continue;
        }
        if (!connected || line[0] == '\t') {
            continue;
        }
        const size_t text0 = line.find_first_not_of(' ');
        if (text0 == 2) {
            mode = nullptr;
            const std::string id = ModeIdIn(line);
            if (!id.empty()) {
                SysDisplayMode m;
                m.id = id;
                outputs.back().modes.push_back(m);
                mode = &outputs.back().modes.back();
            }
        } else if (mode && line.compare(text0, 2, "h:") == 0) {
            mode->width = static_cast<int>(NumberAfter(line, "width"));
        } else if (mode && line.compare(text0, 2, "v:") == 0) {
            mode->height = static_cast<int>(NumberAfter(line, "height"));
            mode->rate = NumberAfter(line, "clock");
        }
    }
    // An output whose current mode is not among its modes cannot be measured.
    for (SysDisplayOutput& out : outputs) {
        if (!out.currentMode.empty() && !out.Mode(out.currentMode)) {
            out.currentMode.clear();
        }
    }
    return outputs;
}

const SysDisplayOutput* SysPickOutput(const std::vector<SysDisplayOutput>& outputs,
                                      const std::string& name) {
    const SysDisplayOutput* primary = nullptr;
    const SysDisplayOutput* first = nullptr;
    for (const SysDisplayOutput& out : outputs) {
        if (out.currentMode.empty()) {
            continue;
        }
        if (out.name == name) {
            return &out;
        }
        if (out.primary && !primary) {
            primary = &out;
        }
        if (!first) {
            first = &out;
        }
    }
    return primary ? primary : first;
}

const SysDisplayMode* SysPickMode(const SysDisplayOutput& output, int width, int height,
                                  double rate) {
    const SysDisplayMode* best = nullptr;
    for (const SysDisplayMode& mode : output.modes) {
        if (mode.width == width && mode.height == height &&
            (!best || std::abs(mode.rate - rate) < std::abs(best->rate - rate))) {
            best = &mode;
        }
    }
    return best;
}

namespace {

// The mode to give back at exit, and the output it belongs to.
std::string gRestoreOutput;
std::string gRestoreMode;

// Under X the modes come from the RandR extension through the xrandr tool;
// elsewhere there are none to read or set.
std::vector<SysDisplayOutput> XrandrOutputs() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return {};
    }
    QProcess xrandr;
    xrandr.start(QStringLiteral("xrandr"),
                 {QStringLiteral("--verbose"), QStringLiteral("--current")});
    if (!xrandr.waitForFinished(5000) || xrandr.exitStatus() != QProcess::NormalExit ||
        xrandr.exitCode() != 0) {
        xrandr.kill();
        return {};
    }
    return SysParseXrandr(xrandr.readAllStandardOutput().toStdString());
}

std::string PrimaryScreenName() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->name().toStdString() : std::string();
}

int SetXrandrMode(const std::string& output, const std::string& mode) {
    return QProcess::execute(QStringLiteral("xrandr"),
                             {QStringLiteral("--output"), QString::fromStdString(output),
                              QStringLiteral("--mode"), QString::fromStdString(mode)}) == 0
               ? 0
               : EIO;
}

} // namespace

int SysGetScreenMode(int* width, int* height, int* bitsPerPixel, int* refreshRate) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return ENODEV;
    }
    *bitsPerPixel = screen->depth();
    const std::vector<SysDisplayOutput> outputs = XrandrOutputs();
    if (const SysDisplayOutput* out = SysPickOutput(outputs, screen->name().toStdString())) {
        *width = out->width;
        *height = out->height;
        *refreshRate = static_cast<int>(std::lround(out->Mode(out->currentMode)->rate));
        return 0;
    }
    // Qt scales its sizes by the screen's device pixel ratio; undo that.
    const qreal ratio = screen->devicePixelRatio();
    *width = qRound(screen->size().width() * ratio);
    *height = qRound(screen->size().height() * ratio);
    *refreshRate = qRound(screen->refreshRate());
    return 0;
}

int SysChangeScreenModeTemporary(int width, int height, int bitsPerPixel, int refreshRate) {
    (void)bitsPerPixel; // RandR modes carry no depth; the screen keeps its own
    const std::vector<SysDisplayOutput> outputs = XrandrOutputs();
    const SysDisplayOutput* out = SysPickOutput(outputs, PrimaryScreenName());
    if (!out) {
        return ENODEV;
    }
    const SysDisplayMode* wanted = SysPickMode(*out, width, height, refreshRate);
    if (!wanted) {
        return EINVAL;
    }
    if (wanted->id == out->currentMode) {
        return 0;
    }
    const std::string original = out->currentMode;
    const std::string name = out->name;
    if (const int error = SetXrandrMode(name, wanted->id); error != 0) {
        return error;
    }
    // A second change keeps the first original: that is the one to return to.
    if (gRestoreOutput.empty()) {
        gRestoreOutput = name;
        gRestoreMode = original;
    }
    return 0;
}

void SysRestoreScreenMode() {
    if (gRestoreOutput.empty()) {
        return;
    }
    SetXrandrMode(gRestoreOutput, gRestoreMode);
    gRestoreOutput.clear();
    gRestoreMode.clear();
}

namespace {

int (*gDocumentOpener)(const char*) = nullptr;
constexpr int kOpenerStartMs = 3000;
constexpr int kOpenerVerdictMs = 1500;

} // namespace

int SysOpenDocument(const char* path) {
    const QFileInfo info(QString::fromUtf8(path));
    if (!info.exists()) {
        return ENOENT;
    }
    if (gDocumentOpener) {
        return gDocumentOpener(info.absoluteFilePath().toUtf8().constData());
    }
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())) ? 0 : EIO;
    }
    // Qt only starts xdg-open and calls that success; xdg-open gives up at once
    // where nothing on the desktop can show the file, and that failure is the
    // one the operator must hear of. A viewer it starts may keep it waiting
    // until the viewer ends, which is success.
    auto* process = new QProcess(qApp);
    process->start(opener, {info.absoluteFilePath()});
    if (!process->waitForStarted(kOpenerStartMs)) {
        delete process;
        return EIO;
    }
    if (process->waitForFinished(kOpenerVerdictMs)) {
        const bool opened =
            process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
        delete process;
        return opened ? 0 : EIO;
    }
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    return 0;
}

void SysSetDocumentOpener(int (*opener)(const char* absolutePath)) {
    gDocumentOpener = opener;
}

// The type is told by the name, as the desktop's file managers tell it; a viewer
// may have registered the type under one of its older names (aliases).
int SysHasDocumentViewer(const char* path) {
    const QFileInfo info(QString::fromUtf8(path));
    if (!info.isFile()) {
        return 0;
    }
    const QMimeType type =
        QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) {
        return 0;
    }
    const QStringList names = QStringList{type.name()} + type.aliases();
    for (const QString& name : names) {
        QProcess query;
        query.start(QStringLiteral("xdg-mime"),
                    {QStringLiteral("query"), QStringLiteral("default"), name});
        if (!query.waitForStarted(5000)) {
            return 0; // no xdg-mime: nothing to ask
        }
        if (!query.waitForFinished(5000)) {
            query.kill();
            query.waitForFinished(1000);
            continue;
        }
        if (query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0 &&
            !query.readAllStandardOutput().trimmed().isEmpty()) {
            return 1;
        }
    }
    return 0;
}

void SysSetDesktopEntryName(const char* name) {
    QGuiApplication::setDesktopFileName(QString::fromUtf8(name));
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
