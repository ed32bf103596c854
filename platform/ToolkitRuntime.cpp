// The toolkit's run-time: starting Qt (with one line and exit 255 when there
// is no display), the event loop, and calls deferred to it.
#include "platform/Toolkit.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/ToolkitInternal.h"

using namespace toolkit;

// ---- run-time -------------------------------------------------------------------

namespace {

int gArgc = 0;
std::vector<char*> gArgv;

struct HeldMessage {
    QtMsgType type;
    std::string category;
    std::string text;
};
std::vector<HeldMessage> gHeldMessages;
QtMessageHandler gUsualHandler = nullptr;
std::string gProgramName = "Vx52PSoft";

// Qt finds out that there is no display inside QApplication's constructor,
// says so in several lines and aborts. Its lines are held back meanwhile; the
// first of them names the cause best, and becomes our one line.
void StartMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        gHeldMessages.push_back(
            {type, context.category ? context.category : "", text.trimmed().toStdString()});
        return;
    }
    std::string cause = gHeldMessages.empty()
                            ? text.trimmed().section(QLatin1Char('\n'), 0, 0).toStdString()
                            : gHeldMessages.front().text;
    const char* display = std::getenv("DISPLAY");
    if (cause.ends_with("display") && (!display || !*display)) {
        cause += " (DISPLAY is not set)";
    }
    std::fprintf(stderr, "%s: no display: %s\n", gProgramName.c_str(), cause.c_str());
    std::fflush(stderr);
    _exit(255);
}

void ReplayHeldMessages() {
    for (const HeldMessage& m : gHeldMessages) {
        QMessageLogger logger(nullptr, 0, nullptr, m.category.c_str());
        switch (m.type) {
        case QtDebugMsg:
            logger.debug("%s", m.text.c_str());
            break;
        case QtInfoMsg:
            logger.info("%s", m.text.c_str());
            break;
        case QtWarningMsg:
            logger.warning("%s", m.text.c_str());
            break;
        default:
            logger.critical("%s", m.text.c_str());
            break;
        }
    }
    gHeldMessages.clear();
}

} // namespace

int UiInitRuntime(int argc, char* argv[]) {
    if (qApp) {
        return 1;
    }
    if (argc > 0 && argv[0] && *argv[0]) {
        gProgramName = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString();
    }
    gArgc = argc;
    gArgv.assign(argv, argv + argc);
    gArgv.push_back(nullptr);
    gUsualHandler = qInstallMessageHandler(StartMessageHandler);
    auto* app = new QApplication(gArgc, gArgv.data());
    qInstallMessageHandler(gUsualHandler);
    ReplayHeldMessages();
    if (!app) {
        return 0;
    }
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setQuitOnLastWindowClosed(false);
    if (gProgramDir.isEmpty()) {
        gProgramDir = QCoreApplication::applicationDirPath();
    }
    return 1;
}

int RunUserInterface() {
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    return QApplication::exec();
}

int QuitUserInterface(int returnCode) {
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    QApplication::exit(returnCode);
    return 0;
}

void UiProcessEvents() {
    if (!qApp) {
        return;
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void UiPostDeferredCall(void (*fn)(void* data), void* data) {
    if (!fn || !qApp) {
        return;
    }
    QTimer::singleShot(0, qApp, [fn, data]() {
        CallbackScope scope;
        fn(data);
    });
}

void UiPostDelayedCall(int ms, void (*fn)(void* data), void* data) {
    if (!fn || !qApp) {
        return;
    }
    QTimer::singleShot(std::max(0, ms), qApp, [fn, data]() {
        CallbackScope scope;
        fn(data);
    });
}

void UiSetCallbackEndHook(void (*fn)()) {
    gCallbackEndHook = fn;
}
