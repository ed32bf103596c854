// The toolkit over Qt Widgets. Panels are Designer forms loaded at run time
// from the layout resource; controls are found by object name and addressed
// by the integers the program registers. Callbacks are looked up by the name
// each widget carries in its "callback" property.
#include "platform/Toolkit.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QResource>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QTranslator>
#include <QUiLoader>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/ToolkitEntry.h"
#include "platform/ToolkitTable.h"
#include "platform/ToolkitWidgets.h"

namespace {

struct CtrlRec {
    QPointer<QWidget> widget;
    QPointer<QLabel> label; // the caption beside a control that has none of its own
    CtrlCallbackPtr callback = nullptr;
};

struct PanelRec {
    int resourceId = 0;
    QPointer<QMainWindow> host;
    QPointer<QWidget> form;
    std::map<int, CtrlRec> ctrls;
    PanelCallbackPtr callback = nullptr;
};

struct MenuItemRec {
    QPointer<QAction> action;
    bool isMenu = false;
    MenuCallbackPtr callback = nullptr;
};

struct MenuBarRec {
    int panel = 0;
    QPointer<QMenuBar> bar;
    std::map<int, MenuItemRec> items;
};

struct Registry {
    std::map<int, std::string> resourceNames;
    std::map<int, std::vector<std::pair<int, std::string>>> itemNames;
    std::map<std::string, CtrlCallbackPtr> ctrlCallbacks;
    std::map<std::string, PanelCallbackPtr> panelCallbacks;
    std::map<std::string, MenuCallbackPtr> menuCallbacks;
    std::map<int, PanelRec> panels;
    std::map<int, MenuBarRec> menuBars;
    std::map<QString, QString> resourceRoots; // absolute file path -> resource root
    int nextHandle = 1;
    UiPopupResponder* responder = nullptr;
    QPointer<QMainWindow> mainHost; // the first panel displayed: parent of popups
};

Registry& Reg() {
    static Registry registry;
    return registry;
}

// Callbacks under way: a panel discarded from inside one may still have its
// own widget on the call stack, so it is deleted later by the event loop.
int gCallbackDepth = 0;
void (*gCallbackEndHook)() = nullptr;

struct CallbackScope {
    CallbackScope() { ++gCallbackDepth; }
    ~CallbackScope() {
        if (--gCallbackDepth == 0 && gCallbackEndHook) {
            // The hook is a callback too: a panel it discards is deleted later.
            ++gCallbackDepth;
            gCallbackEndHook();
            --gCallbackDepth;
        }
    }
};

int gArgc = 0;
std::vector<char*> gArgv;

PanelRec* FindPanel(int panel) {
    auto it = Reg().panels.find(panel);
    if (it == Reg().panels.end() || !it->second.host) {
        return nullptr;
    }
    return &it->second;
}

QWidget* FindCtrl(int panel, int control, CtrlRec** rec = nullptr) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return nullptr;
    }
    auto it = p->ctrls.find(control);
    if (it == p->ctrls.end() || !it->second.widget) {
        return nullptr;
    }
    if (rec) {
        *rec = &it->second;
    }
    return it->second.widget;
}

MenuItemRec* FindMenuItem(int menuBar, int item) {
    auto it = Reg().menuBars.find(menuBar);
    if (it == Reg().menuBars.end() || !it->second.bar) {
        return nullptr;
    }
    auto jt = it->second.items.find(item);
    if (jt == it->second.items.end() || !jt->second.action) {
        return nullptr;
    }
    return &jt->second;
}

void DeliverCtrl(int panel, int control, int event, int data1 = 0, int data2 = 0) {
    CtrlRec* rec = nullptr;
    if (!FindCtrl(panel, control, &rec) || !rec->callback) {
        return;
    }
    CallbackScope scope;
    rec->callback(panel, control, event, nullptr, data1, data2);
}

QString ToQ(const char* s) { return QString::fromUtf8(s ? s : ""); }

// A menu text as plain text: "(&F)" as Chinese menus write it goes whole, a
// single "&" goes, "&&" becomes "&".
QString WithoutMnemonics(const QString& text) {
    static const QRegularExpression kBracketed(QStringLiteral("\\(&[^&\\s]\\)"));
    QString in = text;
    in.remove(kBracketed);
    QString out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != QLatin1Char('&')) {
            out += in[i];
        } else if (i + 1 < in.size() && in[i + 1] == QLatin1Char('&')) {
            out += in[++i];
        }
    }
    return out;
}

std::vector<int> RingValues(QComboBox* box) {
    std::vector<int> values;
    const QString spec = box->property("ringValues").toString();
    if (!spec.isEmpty()) {
        for (const QString& part : spec.split(',')) {
            values.push_back(part.trimmed().toInt());
        }
    }
    while (static_cast<int>(values.size()) < box->count()) {
        values.push_back(static_cast<int>(values.size()));
    }
    return values;
}

PanelRec* PanelOfHost(const QObject* host) {
    for (auto& [handle, rec] : Reg().panels) {
        if (rec.host == host) {
            return &rec;
        }
    }
    return nullptr;
}

// The keyboard does what the mouse does. Space on a lamp that takes clicks
// (the output indicator) is its click. A dialog names its default and cancel
// buttons in the form properties "defaultButton" and "cancelButton": Escape
// presses the cancel button, Enter the button it is pressed on, else the
// default one. Pressing goes through the button, so a dimmed one stays unpressed
// and the callback is the button's own. Held keys repeat nothing: one Space
// must never switch the output on and off again.
bool KeyPressed(QWidget* w, QKeyEvent* key) {
    if (key->isAutoRepeat() || (key->modifiers() & ~Qt::KeypadModifier) != 0) {
        return false;
    }
    const int k = key->key();
    if (k == Qt::Key_Space && qobject_cast<Vx52Lamp*>(w)) {
        if (w->isEnabled()) {
            const QPoint centre = w->rect().center();
            DeliverCtrl(w->property("vx52Panel").toInt(), w->property("vx52Ctrl").toInt(),
                        EVENT_LEFT_CLICK, centre.y(), centre.x());
        }
        return true;
    }
    const bool enter = k == Qt::Key_Return || k == Qt::Key_Enter;
    if (!enter && k != Qt::Key_Escape) {
        return false;
    }
    QPointer<QAbstractButton> press;
    if (auto* button = qobject_cast<QAbstractButton*>(w); button && enter) {
        PanelRec* p = FindPanel(w->property("vx52Panel").toInt());
        if (!p || p->form->property("defaultButton").toString().isEmpty()) {
            return false;
        }
        press = button;
    } else if (PanelRec* p = PanelOfHost(w)) {
        const QString name = p->form->property(enter ? "defaultButton" : "cancelButton").toString();
        if (name.isEmpty()) {
            return false;
        }
        press = p->form->findChild<QAbstractButton*>(name);
    } else {
        return false; // on its way up to the panel
    }
    if (press && press->isEnabled() && press->isVisibleTo(press->window())) {
        press->click();
    }
    return true;
}

// Delivers mouse clicks on a control, the keys above, and the close box of a
// panel to callbacks.
class EventRouter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::KeyPress) {
            auto* w = qobject_cast<QWidget*>(watched);
            return w && KeyPressed(w, static_cast<QKeyEvent*>(event));
        }
        if (type == QEvent::Close) {
            for (auto& [handle, rec] : Reg().panels) {
                if (rec.host == watched) {
                    event->ignore();
                    if (rec.callback) {
                        CallbackScope scope;
                        rec.callback(handle, EVENT_CLOSE, nullptr, 0, 0);
                    }
                    return true;
                }
            }
            return false;
        }
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick) {
            return false;
        }
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton) {
            return false;
        }
        const QVariant panel = watched->property("vx52Panel");
        const QVariant control = watched->property("vx52Ctrl");
        if (!panel.isValid() || !control.isValid()) {
            return false;
        }
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && !w->isEnabled()) {
            return false;
        }
        const QPoint pos = me->position().toPoint();
        DeliverCtrl(panel.toInt(), control.toInt(),
                    type == QEvent::MouseButtonPress ? EVENT_LEFT_CLICK : EVENT_LEFT_DOUBLE_CLICK,
                    pos.y(), pos.x());
        return false;
    }
};

EventRouter& Router() {
    static EventRouter router;
    return router;
}

class PanelLoader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent,
                          const QString& name) override {
        QWidget* w = nullptr;
        if (className == QLatin1String("Vx52Lamp")) {
            w = new Vx52Lamp(parent);
        } else if (className == QLatin1String("Vx52Meter")) {
            w = new Vx52Meter(parent);
        } else if (className == QLatin1String("Vx52StripChart")) {
            w = new Vx52StripChart(parent);
        } else if (className == QLatin1String("Vx52Graph")) {
            w = new Vx52Graph(parent);
        } else if (className == QLatin1String("Vx52Picture")) {
            w = new Vx52Picture(parent);
        } else if (className == QLatin1String("Vx52Timer")) {
            w = new Vx52Timer(parent);
        } else if (className == QLatin1String("Vx52TextTable")) {
            w = new Vx52TextTable(parent);
        } else if (className == QLatin1String("QDoubleSpinBox")) {
            w = new ToolkitDoubleEntry(parent);
        } else if (className == QLatin1String("QSpinBox")) {
            w = new ToolkitIntEntry(parent);
        } else {
            return QUiLoader::createWidget(className, parent, name);
        }
        w->setObjectName(name);
        return w;
    }
};

QString gProgramDir; // where layout files named without a folder are found

QString LayoutPath(const char* fileName) {
    const QString name = ToQ(fileName);
    if (name.contains(QLatin1Char('/')) || gProgramDir.isEmpty()) {
        return QFileInfo(name).absoluteFilePath();
    }
    return QDir(gProgramDir).absoluteFilePath(name);
}

// Opens the layout resource once per file; returns the root under which its
// forms are found, or an empty string with err set when the file is missing or
// is not a layout resource.
QString ResourceRoot(const char* fileName, int* err) {
    const QFileInfo info(LayoutPath(fileName));
    if (!info.exists()) {
        *err = UIE_FILE_NOT_FOUND;
        return {};
    }
    const QString path = info.absoluteFilePath();
    auto& roots = Reg().resourceRoots;
    auto it = roots.find(path);
    if (it != roots.end()) {
        return it->second;
    }
    const QString root = QStringLiteral("/vx52uir%1").arg(roots.size());
    if (!info.isFile() || !QResource::registerResource(path, root)) {
        *err = UIE_BAD_FILE;
        return {};
    }
    roots[path] = root;
    return root;
}

// Loads one form of the layout resource; nullptr with err set on failure.
QWidget* LoadForm(const char* fileName, int resourceId, int* err) {
    if (!qApp) {
        *err = UIE_NOT_INITIALIZED;
        return nullptr;
    }
    const QString root = ResourceRoot(fileName, err);
    if (root.isEmpty()) {
        return nullptr;
    }
    auto name = Reg().resourceNames.find(resourceId);
    if (name == Reg().resourceNames.end()) {
        *err = UIE_RESOURCE_NOT_FOUND;
        return nullptr;
    }
    QFile file(QStringLiteral(":%1/%2.ui").arg(root, QString::fromStdString(name->second)));
    if (!file.open(QIODevice::ReadOnly)) {
        *err = UIE_RESOURCE_NOT_FOUND;
        return nullptr;
    }
    PanelLoader loader;
    QWidget* form = loader.load(&file, nullptr);
    if (!form) {
        *err = UIE_RESOURCE_NOT_FOUND;
        return nullptr;
    }
    // Pictures name their image relative to the layout resource they come from.
    for (auto* picture : form->findChildren<Vx52Picture*>()) {
        if (!picture->image().isEmpty() && !picture->image().startsWith(':')) {
            picture->setImage(QStringLiteral(":%1/%2").arg(root, picture->image()));
        }
    }
    return form;
}

// One timer per lamp: a flash during a flash lasts from the newer one on.
void FlashLamp(Vx52Lamp* lamp, int ms) {
    auto* timer = lamp->findChild<QTimer*>(QStringLiteral("vx52Flash"));
    if (!timer) {
        timer = new QTimer(lamp);
        timer->setObjectName(QStringLiteral("vx52Flash"));
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, lamp, [lamp]() { lamp->setValue(false); });
    }
    lamp->setValue(true);
    timer->start(std::max(1, ms));
}

// Text typed into a numeric control but not committed is dropped when the
// control is dimmed or hidden: Qt would commit it as the focus leaves, and
// send a value the operator never confirmed.
void DropPendingEntry(QWidget* w) {
    QSignalBlocker block(w);
    if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
        d->setValue(d->value());
    } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
        s->setValue(s->value());
    }
}

void WireControl(int handle, int id, CtrlRec& rec) {
    QWidget* w = rec.widget;
    w->setProperty("vx52Panel", handle);
    w->setProperty("vx52Ctrl", id);
    const std::string cbName = w->property("callback").toString().toStdString();
    if (!cbName.empty()) {
        auto it = Reg().ctrlCallbacks.find(cbName);
        if (it != Reg().ctrlCallbacks.end()) {
            rec.callback = it->second;
        } else {
            std::fprintf(stderr, "toolkit: no callback named %s\n", cbName.c_str());
        }
    }

    auto commitAfterChange = [handle, id]() {
        DeliverCtrl(handle, id, EVENT_VAL_CHANGED);
        DeliverCtrl(handle, id, EVENT_COMMIT);
    };
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [handle, id]() { DeliverCtrl(handle, id, EVENT_COMMIT); });
    } else if (auto* dspin = qobject_cast<QDoubleSpinBox*>(w)) {
        // Only a committed entry, an arrow or the wheel counts as a change,
        // never each keystroke.
        dspin->setKeyboardTracking(false);
        QObject::connect(dspin, &QDoubleSpinBox::valueChanged, dspin, commitAfterChange);
    } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
        spin->setKeyboardTracking(false);
        QObject::connect(spin, &QSpinBox::valueChanged, spin, commitAfterChange);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        QObject::connect(combo, &QComboBox::activated, combo, commitAfterChange);
    } else if (auto* timer = qobject_cast<Vx52Timer*>(w)) {
        QObject::connect(timer, &Vx52Timer::tick, timer,
                         [handle, id]() { DeliverCtrl(handle, id, EVENT_TIMER_TICK); });
    } else if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
        QObject::connect(chart, &Vx52StripChart::menuChosen, chart, [handle, id](int item) {
            DeliverCtrl(handle, id, EVENT_CHART_MENU, item);
        });
    }
    if (rec.callback) {
        w->installEventFilter(&Router());
        if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) {
            area->viewport()->setProperty("vx52Panel", handle);
            area->viewport()->setProperty("vx52Ctrl", id);
            area->viewport()->installEventFilter(&Router());
        }
    }
}

} // namespace

// ---- run-time -------------------------------------------------------------------

namespace {

struct HeldMessage {
    QtMsgType type;
    std::string category;
    std::string text;
};
std::vector<HeldMessage> gHeldMessages;
QtMessageHandler gUsualHandler = nullptr;
std::string gProgramName = "Vx52PSoft";
bool gHeadless = false;

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

void UiSetHeadless(int on) {
    gHeadless = on != 0;
    if (gHeadless) {
        // The platform Qt renders into memory with, needing no server; its
        // default screen suits panels that are never shown.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

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

void UiSetCallbackEndHook(void (*fn)()) { gCallbackEndHook = fn; }

// ---- names and callbacks ----------------------------------------------------------

void UiRegisterLayoutNames(const UiLayoutName* names, int count) {
    for (int i = 0; i < count; ++i) {
        if (names[i].id == names[i].resourceId) {
            Reg().resourceNames[names[i].resourceId] = names[i].objectName;
        } else {
            auto& list = Reg().itemNames[names[i].resourceId];
            bool known = false;
            for (auto& entry : list) {
                known = known || entry.first == names[i].id;
            }
            if (!known) {
                list.emplace_back(names[i].id, names[i].objectName);
            }
        }
    }
}

void UiRegisterCtrlCallback(const char* name, CtrlCallbackPtr fn) {
    Reg().ctrlCallbacks[name] = fn;
}

void UiRegisterPanelCallback(const char* name, PanelCallbackPtr fn) {
    Reg().panelCallbacks[name] = fn;
}

void UiRegisterMenuCallback(const char* name, MenuCallbackPtr fn) {
    Reg().menuCallbacks[name] = fn;
}

// ---- panels ---------------------------------------------------------------------

void UiSetProgramDir(const char* dir) {
    gProgramDir = ToQ(dir);
}

std::string UiProgramDir() {
    return gProgramDir.toStdString();
}

std::string UiLayoutPath(const char* fileName) {
    return LayoutPath(fileName).toStdString();
}

int LoadPanel(int parentPanel, const char* fileName, int panelResourceId) {
    int err = 0;
    QWidget* form = LoadForm(fileName, panelResourceId, &err);
    if (!form) {
        return err;
    }
    PanelRec* parent = parentPanel > 0 ? FindPanel(parentPanel) : nullptr;
    auto* host = new QMainWindow(parent ? parent->host.data() : nullptr,
                                 parent ? Qt::Dialog : Qt::Window);
    host->setAttribute(Qt::WA_DeleteOnClose, false);
    host->setWindowTitle(form->windowTitle());
    form->setFixedSize(form->size());
    host->setCentralWidget(form);
    host->layout()->setSizeConstraint(QLayout::SetFixedSize);
    host->installEventFilter(&Router());

    const int handle = Reg().nextHandle++;
    PanelRec rec;
    rec.resourceId = panelResourceId;
    rec.host = host;
    rec.form = form;
    const std::string panelCb = form->property("callback").toString().toStdString();
    if (!panelCb.empty()) {
        auto it = Reg().panelCallbacks.find(panelCb);
        if (it != Reg().panelCallbacks.end()) {
            rec.callback = it->second;
        }
    }
    for (const auto& [id, name] : Reg().itemNames[panelResourceId]) {
        QWidget* w = form->findChild<QWidget*>(QString::fromStdString(name));
        if (!w) {
            continue;
        }
        CtrlRec ctrl;
        ctrl.widget = w;
        ctrl.label = form->findChild<QLabel*>(QString::fromStdString(name) + "_LABEL");
        rec.ctrls[id] = ctrl;
    }
    auto& stored = Reg().panels[handle] = std::move(rec);
    for (auto& [id, ctrl] : stored.ctrls) {
        WireControl(handle, id, ctrl);
    }
    return handle;
}

int LoadMenuBar(int panel, const char* fileName, int menuBarResourceId) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return UIE_BAD_HANDLE;
    }
    int err = 0;
    QWidget* form = LoadForm(fileName, menuBarResourceId, &err);
    if (!form) {
        return err;
    }
    auto* holder = qobject_cast<QMainWindow*>(form);
    QMenuBar* bar = holder ? qobject_cast<QMenuBar*>(holder->menuWidget()) : nullptr;
    if (!bar) {
        delete form;
        return UIE_RESOURCE_NOT_FOUND;
    }
    // The items belong to the form; they move with the bar so they outlive it.
    for (QAction* action : form->findChildren<QAction*>(Qt::FindDirectChildrenOnly)) {
        action->setParent(bar);
    }
    // Moving the bar out of its form clears the form's reference to it.
    bar->setParent(nullptr);
    p->host->setMenuBar(bar);
    delete form;

    const int handle = Reg().nextHandle++;
    MenuBarRec rec;
    rec.panel = panel;
    rec.bar = bar;
    for (const auto& [id, name] : Reg().itemNames[menuBarResourceId]) {
        const QString qname = QString::fromStdString(name);
        MenuItemRec item;
        if (auto* menu = bar->findChild<QMenu*>(qname)) {
            item.action = menu->menuAction();
            item.isMenu = true;
        } else if (auto* action = bar->findChild<QAction*>(qname)) {
            item.action = action;
        } else {
            continue;
        }
        const std::string cbName = item.action->property("callback").toString().toStdString();
        if (!cbName.empty()) {
            auto it = Reg().menuCallbacks.find(cbName);
            if (it != Reg().menuCallbacks.end()) {
                item.callback = it->second;
            }
        }
        rec.items[id] = item;
    }
    auto& stored = Reg().menuBars[handle] = std::move(rec);
    for (auto& [id, item] : stored.items) {
        if (item.isMenu || !item.callback) {
            continue;
        }
        QAction* action = item.action;
        const int itemId = id;
        QObject::connect(action, &QAction::triggered, action, [handle, itemId, action](bool) {
            // Check marks belong to the program: undo Qt's own toggle.
            if (action->isCheckable()) {
                QSignalBlocker block(action);
                action->setChecked(!action->isChecked());
            }
            MenuItemRec* it = FindMenuItem(handle, itemId);
            CallbackScope scope;
            if (it && it->callback) {
                it->callback(handle, itemId, nullptr, Reg().menuBars[handle].panel);
            }
        });
    }
    return handle;
}

int SetPanelPos(int panel, int top, int left) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return UIE_BAD_HANDLE;
    }
    p->host->move(left, top);
    return 0;
}

int DisplayPanel(int panel) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return UIE_BAD_HANDLE;
    }
    if (!Reg().mainHost) {
        Reg().mainHost = p->host;
    }
    if (gHeadless) {
        return 0;
    }
    p->host->show();
    p->host->raise();
    return 0;
}

int HidePanel(int panel) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return UIE_BAD_HANDLE;
    }
    p->host->hide();
    return 0;
}

int InstallPopup(int panel) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return UIE_BAD_HANDLE;
    }
    QMainWindow* host = p->host;
    QMainWindow* owner = Reg().mainHost;
    if (owner && owner != host && host->parentWidget() != owner) {
        host->setParent(owner, Qt::Dialog);
    }
    // Modal for the operator, but never a nested event loop: the 50 ms timer
    // keeps running underneath.
    host->setWindowModality(Qt::ApplicationModal);
    host->adjustSize();
    if (owner && owner != host) {
        const QRect og = owner->frameGeometry();
        host->move(og.center() - QPoint(host->width() / 2, host->height() / 2));
    }
    if (gHeadless) {
        return 0;
    }
    host->show();
    host->raise();
    host->activateWindow();
    return 0;
}

int DiscardPanel(int panel) {
    auto it = Reg().panels.find(panel);
    if (it == Reg().panels.end()) {
        return UIE_BAD_HANDLE;
    }
    QPointer<QMainWindow> host = it->second.host;
    for (auto mt = Reg().menuBars.begin(); mt != Reg().menuBars.end();) {
        mt = mt->second.panel == panel ? Reg().menuBars.erase(mt) : std::next(mt);
    }
    Reg().panels.erase(it);
    if (host) {
        if (Reg().mainHost == host) {
            Reg().mainHost = nullptr;
        }
        host->removeEventFilter(&Router());
        host->hide();
        if (gCallbackDepth > 0) {
            host->deleteLater();
        } else {
            delete host.data();
        }
    }
    return 0;
}

int SetPanelAttribute(int panel, int attribute, int value) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return UIE_BAD_HANDLE;
    }
    switch (attribute) {
    case ATTR_VISIBLE:
        if (!gHeadless) {
            p->host->setVisible(value != 0);
        }
        return 0;
    case ATTR_DIMMED:
        p->form->setEnabled(value == 0);
        return 0;
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int SetPanelAttribute(int panel, int attribute, const char* value) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return UIE_BAD_HANDLE;
    }
    if (attribute != ATTR_TITLE) {
        return UIE_BAD_ATTRIBUTE;
    }
    // Titles often share a menu item's text, whose mnemonic has no place here.
    p->host->setWindowTitle(WithoutMnemonics(ToQ(value)));
    return 0;
}

int GetPanelAttribute(int panel, int attribute, int* value) {
    PanelRec* p = FindPanel(panel);
    if (!p || !value) {
        return UIE_BAD_HANDLE;
    }
    switch (attribute) {
    case ATTR_VISIBLE:
        *value = p->host->isVisible() ? 1 : 0;
        return 0;
    case ATTR_WIDTH:
        *value = p->host->width();
        return 0;
    case ATTR_HEIGHT:
        *value = p->host->height();
        return 0;
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int GetPanelAttribute(int panel, int attribute, std::string* value) {
    PanelRec* p = FindPanel(panel);
    if (!p || !value) {
        return UIE_BAD_HANDLE;
    }
    if (attribute != ATTR_TITLE) {
        return UIE_BAD_ATTRIBUTE;
    }
    *value = p->host->windowTitle().toStdString();
    return 0;
}

// ---- control values -------------------------------------------------------------

int SetCtrlVal(int panel, int control, double value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    // Values set by the program never count as operator changes.
    QSignalBlocker block(w);
    if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
        d->setValue(value);
    } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
        s->setValue(static_cast<int>(value < 0 ? value - 0.5 : value + 0.5));
    } else if (auto* m = qobject_cast<Vx52Meter*>(w)) {
        m->setValue(value);
    } else if (auto* l = qobject_cast<Vx52Lamp*>(w)) {
        l->setValue(value != 0.0);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const auto values = RingValues(c);
        for (size_t i = 0; i < values.size(); ++i) {
            if (values[i] == static_cast<int>(value)) {
                c->setCurrentIndex(static_cast<int>(i));
            }
        }
    } else if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) {
        b->setChecked(value != 0.0);
    } else if (auto* lab = qobject_cast<QLabel*>(w)) {
        lab->setText(QString::number(value));
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

int SetCtrlVal(int panel, int control, int value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    if (auto* lab = qobject_cast<QLabel*>(w)) {
        lab->setText(QString::number(value));
        return 0;
    }
    return SetCtrlVal(panel, control, static_cast<double>(value));
}

int SetCtrlVal(int panel, int control, const char* value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    QSignalBlocker block(w);
    if (auto* lab = qobject_cast<QLabel*>(w)) {
        lab->setText(ToQ(value));
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(ToQ(value));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(ToQ(value));
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        const int index = combo->findData(ToQ(value));
        if (index < 0) {
            return UIE_BAD_ATTRIBUTE;
        }
        combo->setCurrentIndex(index);
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

int GetCtrlVal(int panel, int control, double* value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w || !value) {
        return UIE_BAD_CONTROL;
    }
    if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
        *value = d->value();
    } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
        *value = s->value();
    } else if (auto* m = qobject_cast<Vx52Meter*>(w)) {
        *value = m->value();
    } else if (auto* l = qobject_cast<Vx52Lamp*>(w)) {
        *value = l->value() ? 1.0 : 0.0;
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const auto values = RingValues(c);
        const int i = c->currentIndex();
        *value = (i >= 0 && i < static_cast<int>(values.size())) ? values[i] : 0;
    } else if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) {
        *value = b->isChecked() ? 1.0 : 0.0;
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

int GetCtrlVal(int panel, int control, int* value) {
    double d = 0.0;
    const int rc = GetCtrlVal(panel, control, &d);
    if (rc == 0 && value) {
        *value = static_cast<int>(d < 0 ? d - 0.5 : d + 0.5);
    }
    return rc;
}

int GetCtrlVal(int panel, int control, std::string* value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w || !value) {
        return UIE_BAD_CONTROL;
    }
    if (auto* lab = qobject_cast<QLabel*>(w)) {
        *value = lab->text().toStdString();
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        *value = edit->text().toStdString();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        *value = button->text().toStdString();
    } else if (auto* m = qobject_cast<Vx52Meter*>(w)) {
        *value = m->displayText().toStdString();
    } else if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
        *value = d->text().toStdString();
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        const QVariant data = combo->currentData();
        *value = (data.isValid() ? data.toString() : combo->currentText()).toStdString();
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

// ---- list controls ----------------------------------------------------------------

int InsertListItem(int panel, int control, int index, const char* label, const char* value) {
    auto* combo = qobject_cast<QComboBox*>(FindCtrl(panel, control));
    if (!combo) {
        return UIE_BAD_CONTROL;
    }
    if (index < 0 || index > combo->count()) {
        index = combo->count();
    }
    QSignalBlocker block(combo);
    combo->insertItem(index, ToQ(label), ToQ(value));
    // Entries may be longer than the control is wide; the open list shows them whole.
    QAbstractItemView* view = combo->view();
    view->setMinimumWidth(std::max(combo->width(), view->sizeHintForColumn(0) + 24));
    return index;
}

int ReplaceListItem(int panel, int control, int index, const char* label, const char* value) {
    auto* combo = qobject_cast<QComboBox*>(FindCtrl(panel, control));
    if (!combo) {
        return UIE_BAD_CONTROL;
    }
    if (index < 0 || index >= combo->count()) {
        return UIE_BAD_ATTRIBUTE;
    }
    QSignalBlocker block(combo);
    combo->setItemText(index, ToQ(label));
    combo->setItemData(index, ToQ(value));
    return 0;
}

int GetNumListItems(int panel, int control, int* count) {
    auto* combo = qobject_cast<QComboBox*>(FindCtrl(panel, control));
    if (!combo || !count) {
        return UIE_BAD_CONTROL;
    }
    *count = combo->count();
    return 0;
}

int GetLabelFromIndex(int panel, int control, int index, std::string* label) {
    auto* combo = qobject_cast<QComboBox*>(FindCtrl(panel, control));
    if (!combo || !label) {
        return UIE_BAD_CONTROL;
    }
    if (index < 0 || index >= combo->count()) {
        return UIE_BAD_ATTRIBUTE;
    }
    *label = combo->itemText(index).toStdString();
    return 0;
}

// ---- control attributes ---------------------------------------------------------

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    CtrlRec* rec = nullptr;
    QWidget* w = FindCtrl(panel, control, &rec);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    switch (attribute) {
    case ATTR_DIMMED:
        if (value != 0) {
            DropPendingEntry(w);
        }
        w->setEnabled(value == 0);
        if (rec->label) {
            rec->label->setEnabled(value == 0);
        }
        // A dimmed entry field must not keep a bright selection from its last edit.
        if (value != 0 && qobject_cast<QAbstractSpinBox*>(w)) {
            if (auto* edit = w->findChild<QLineEdit*>()) {
                edit->deselect();
            }
        }
        return 0;
    case ATTR_VISIBLE:
        if (value == 0) {
            DropPendingEntry(w);
        }
        w->setVisible(value != 0);
        if (rec->label) {
            rec->label->setVisible(value != 0);
        }
        return 0;
    case ATTR_WIDTH:
        w->resize(std::max(0, value), w->height());
        return 0;
    case ATTR_PRECISION: {
        QSignalBlocker block(w);
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            d->setDecimals(value);
        } else if (auto* m = qobject_cast<Vx52Meter*>(w)) {
            m->setPrecision(value);
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    }
    case ATTR_POINTS_PER_SCREEN:
        if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
            chart->setPointsPerScreen(value);
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_CHART_PAUSED:
        if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
            chart->setPaused(value != 0);
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_FLASH:
        if (auto* lamp = qobject_cast<Vx52Lamp*>(w)) {
            FlashLamp(lamp, value);
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_MAX_ROWS:
        if (auto* table = qobject_cast<Vx52TextTable*>(w)) {
            table->setMaxRows(value);
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_MIN_VALUE:
    case ATTR_MAX_VALUE:
    case ATTR_CTRL_VAL:
        return SetCtrlAttribute(panel, control, attribute, static_cast<double>(value));
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, double value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    QSignalBlocker block(w);
    switch (attribute) {
    case ATTR_MIN_VALUE:
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            d->setMinimum(value);
        } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
            s->setMinimum(static_cast<int>(value));
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_MAX_VALUE:
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            d->setMaximum(value);
        } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
            s->setMaximum(static_cast<int>(value));
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_CTRL_VAL:
        return SetCtrlVal(panel, control, value);
    default:
        return SetCtrlAttribute(panel, control, attribute, static_cast<int>(value));
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, const char* value) {
    CtrlRec* rec = nullptr;
    QWidget* w = FindCtrl(panel, control, &rec);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    if (attribute == ATTR_CTRL_VAL) {
        return SetCtrlVal(panel, control, value);
    }
    if (attribute != ATTR_LABEL_TEXT) {
        return UIE_BAD_ATTRIBUTE;
    }
    const QString text = ToQ(value);
    if (rec->label) {
        rec->label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
    } else if (auto* lab = qobject_cast<QLabel*>(w)) {
        lab->setText(text);
    } else if (auto* lamp = qobject_cast<Vx52Lamp*>(w)) {
        lamp->setText(text);
    } else if (auto* meter = qobject_cast<Vx52Meter*>(w)) {
        meter->setCaption(text);
    } else if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
        chart->setTitle(text);
    } else if (auto* graph = qobject_cast<Vx52Graph*>(w)) {
        graph->setTitle(text);
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    CtrlRec* rec = nullptr;
    QWidget* w = FindCtrl(panel, control, &rec);
    if (!w || !value) {
        return UIE_BAD_CONTROL;
    }
    switch (attribute) {
    case ATTR_DIMMED:
        *value = w->isEnabled() ? 0 : 1;
        return 0;
    case ATTR_VISIBLE:
        // Whether the control is set visible, whatever its panel's state.
        *value = w->isHidden() ? 0 : 1;
        return 0;
    case ATTR_WIDTH:
        *value = w->width();
        return 0;
    case ATTR_HEIGHT:
        *value = w->height();
        return 0;
    case ATTR_PRECISION:
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            *value = d->decimals();
        } else if (auto* m = qobject_cast<Vx52Meter*>(w)) {
            *value = m->precision();
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_POINTS_PER_SCREEN:
        if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
            *value = chart->pointsPerScreen();
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_CHART_PAUSED:
        if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
            *value = chart->paused() ? 1 : 0;
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_CTRL_VAL:
        return GetCtrlVal(panel, control, value);
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, double* value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w || !value) {
        return UIE_BAD_CONTROL;
    }
    switch (attribute) {
    case ATTR_MIN_VALUE:
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            *value = d->minimum();
        } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
            *value = s->minimum();
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_MAX_VALUE:
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            *value = d->maximum();
        } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
            *value = s->maximum();
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_CTRL_VAL:
        return GetCtrlVal(panel, control, value);
    default: {
        int i = 0;
        const int rc = GetCtrlAttribute(panel, control, attribute, &i);
        *value = i;
        return rc;
    }
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, std::string* value) {
    CtrlRec* rec = nullptr;
    QWidget* w = FindCtrl(panel, control, &rec);
    if (!w || !value) {
        return UIE_BAD_CONTROL;
    }
    if (attribute == ATTR_CTRL_VAL) {
        return GetCtrlVal(panel, control, value);
    }
    if (attribute != ATTR_LABEL_TEXT) {
        return UIE_BAD_ATTRIBUTE;
    }
    if (rec->label) {
        *value = rec->label->text().toStdString();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        *value = button->text().toStdString();
    } else if (auto* lab = qobject_cast<QLabel*>(w)) {
        *value = lab->text().toStdString();
    } else if (auto* lamp = qobject_cast<Vx52Lamp*>(w)) {
        *value = lamp->text().toStdString();
    } else if (auto* meter = qobject_cast<Vx52Meter*>(w)) {
        *value = meter->caption().toStdString();
    } else if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
        *value = chart->title().toStdString();
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

// ---- menu bars --------------------------------------------------------------------

int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, int value) {
    MenuItemRec* item = FindMenuItem(menuBar, menuOrItem);
    if (!item) {
        return UIE_BAD_HANDLE;
    }
    switch (attribute) {
    case ATTR_DIMMED:
        item->action->setEnabled(value == 0);
        return 0;
    case ATTR_CHECKED: {
        QSignalBlocker block(item->action);
        item->action->setCheckable(true);
        item->action->setChecked(value != 0);
        return 0;
    }
    case ATTR_VISIBLE:
        item->action->setVisible(value != 0);
        return 0;
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, const char* value) {
    MenuItemRec* item = FindMenuItem(menuBar, menuOrItem);
    if (!item) {
        return UIE_BAD_HANDLE;
    }
    if (attribute != ATTR_MENU_NAME && attribute != ATTR_ITEM_NAME) {
        return UIE_BAD_ATTRIBUTE;
    }
    item->action->setText(ToQ(value));
    return 0;
}

int GetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, int* value) {
    MenuItemRec* item = FindMenuItem(menuBar, menuOrItem);
    if (!item || !value) {
        return UIE_BAD_HANDLE;
    }
    switch (attribute) {
    case ATTR_DIMMED:
        *value = item->action->isEnabled() ? 0 : 1;
        return 0;
    case ATTR_CHECKED:
        *value = item->action->isChecked() ? 1 : 0;
        return 0;
    case ATTR_VISIBLE:
        *value = item->action->isVisible() ? 1 : 0;
        return 0;
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int GetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, std::string* value) {
    MenuItemRec* item = FindMenuItem(menuBar, menuOrItem);
    if (!item || !value) {
        return UIE_BAD_HANDLE;
    }
    if (attribute != ATTR_MENU_NAME && attribute != ATTR_ITEM_NAME) {
        return UIE_BAD_ATTRIBUTE;
    }
    *value = item->action->text().toStdString();
    return 0;
}

int UiTriggerMenuItem(int menuBar, int menuOrItem) {
    MenuItemRec* item = FindMenuItem(menuBar, menuOrItem);
    if (!item) {
        return UIE_BAD_HANDLE;
    }
    item->action->trigger();
    return 0;
}

// ---- popups -----------------------------------------------------------------------

void UiSetPopupResponder(UiPopupResponder* responder) { Reg().responder = responder; }

int UiSetStockDialogLocale(const char* locale) {
    static QPointer<QTranslator> installed;
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed.data();
    }
    const QString name = ToQ(locale);
    // Qt's own texts are English already.
    if (name.isEmpty() || name.startsWith(QLatin1String("en"))) {
        return 0;
    }
    auto* translator = new QTranslator(qApp);
    if (!translator->load(QStringLiteral("qtbase_") + name,
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return UIE_FILE_NOT_FOUND;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return 0;
}

int MessagePopup(const char* title, const char* message) {
    if (Reg().responder) {
        return Reg().responder->Message(title ? title : "", message ? message : "");
    }
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    QMessageBox box(QMessageBox::Information, ToQ(title), ToQ(message), QMessageBox::Ok,
                    Reg().mainHost);
    box.exec();
    return 0;
}

constexpr int kWarningDetailWidth = 520;

int WarningPopup(const char* title, const char* message, const char* detail) {
    if (Reg().responder) {
        return Reg().responder->Warning(title ? title : "", message ? message : "",
                                        detail ? detail : "");
    }
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    QMessageBox box(QMessageBox::Warning, ToQ(title), ToQ(message), QMessageBox::Ok,
                    Reg().mainHost);
    box.setInformativeText(ToQ(detail));
    // Device paths in the detail would otherwise wrap at every few words.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()); grid && detail && *detail) {
        grid->addItem(
            new QSpacerItem(kWarningDetailWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
            grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
    return 0;
}

int ConfirmPopup(const char* title, const char* message) {
    if (Reg().responder) {
        return Reg().responder->Confirm(title ? title : "", message ? message : "");
    }
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    QMessageBox box(QMessageBox::Question, ToQ(title), ToQ(message),
                    QMessageBox::Yes | QMessageBox::No, Reg().mainHost);
    return box.exec() == QMessageBox::Yes ? 1 : 0;
}

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec,
                    const char* fileTypeList, const char* title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char* pathName) {
    (void)restrictDirectory;
    (void)allowCancel;
    if (!pathName) {
        return UIE_BAD_ATTRIBUTE;
    }
    pathName[0] = '\0';
    std::string chosen;
    int status = VAL_NO_FILE_SELECTED;
    if (Reg().responder) {
        status = Reg().responder->FileSelect(buttonLabel, defaultFileSpec ? defaultFileSpec : "",
                                             &chosen);
    } else {
        if (!qApp) {
            return UIE_NOT_INITIALIZED;
        }
        QFileDialog dialog(Reg().mainHost, ToQ(title),
                           ToQ(defaultDirectory).isEmpty() ? QDir::currentPath()
                                                           : ToQ(defaultDirectory));
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setOption(QFileDialog::ReadOnly, allowMakeDirectory == 0);
        const QString pattern = ToQ(fileTypeList);
        dialog.setNameFilter(pattern.isEmpty() ? QStringLiteral("*") : pattern);
        // Select names a file to write into that may or may not exist: no
        // question about replacing it, since nothing is replaced.
        const bool selecting = buttonLabel == VAL_SELECT_BUTTON;
        const bool saving = buttonLabel == VAL_SAVE_BUTTON || selecting;
        dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, selecting);
        if (restrictExtension && pattern.startsWith(QLatin1String("*."))) {
            dialog.setDefaultSuffix(pattern.mid(2));
        }
        const QString proposed = ToQ(defaultFileSpec);
        if (saving && !proposed.isEmpty() && !proposed.contains(QLatin1Char('*'))) {
            dialog.selectFile(proposed);
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return VAL_NO_FILE_SELECTED;
        }
        const QString path = dialog.selectedFiles().first();
        chosen = path.toStdString();
        status = QFileInfo::exists(path) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
    }
    if (status != VAL_EXISTING_FILE_SELECTED && status != VAL_NEW_FILE_SELECTED) {
        return status;
    }
    // A path that does not fit is an error, never a silently shortened name.
    if (chosen.empty() || chosen.size() > MAX_PATHNAME_LEN - 1) {
        return UIE_BAD_ATTRIBUTE;
    }
    std::memcpy(pathName, chosen.c_str(), chosen.size() + 1);
    return status;
}

// ---- strip charts and graph --------------------------------------------------------

int PlotStripChart(int panel, int control, const void* array, int numberOfPoints,
                   int startingIndex, int skipCount, int dataType) {
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    if (!chart) {
        return UIE_BAD_CONTROL;
    }
    if (dataType != VAL_DOUBLE || !array || numberOfPoints < 0 || startingIndex < 0 ||
        skipCount < 0) {
        return UIE_BAD_ATTRIBUTE;
    }
    const auto* values = static_cast<const double*>(array);
    std::vector<double> taken;
    taken.reserve(numberOfPoints);
    for (int i = 0; i < numberOfPoints; ++i) {
        taken.push_back(values[startingIndex + i * (skipCount + 1)]);
    }
    chart->appendPoints(taken.data(), numberOfPoints);
    return 0;
}

int ClearStripChart(int panel, int control) {
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    if (!chart) {
        return UIE_BAD_CONTROL;
    }
    chart->clearPoints();
    return 0;
}

int DeleteGraphPlot(int panel, int control, int plotHandle, int refresh) {
    (void)plotHandle;
    (void)refresh;
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    if (!graph) {
        return UIE_BAD_CONTROL;
    }
    graph->deleteAllPlots();
    return 0;
}

int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max) {
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    if (!graph) {
        return UIE_BAD_CONTROL;
    }
    if (axis != VAL_LEFT_YAXIS) {
        return UIE_BAD_ATTRIBUTE;
    }
    graph->setYRange(min, max, mode == VAL_AUTOSCALE);
    return 0;
}

int PlotWaveform(int panel, int control, const void* yArray, int numberOfPoints, int dataType,
                 double yGain, double yOffset, double initialX, double xIncrement,
                 int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color) {
    (void)plotStyle;
    (void)pointStyle;
    (void)lineStyle;
    (void)pointFrequency;
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    if (!graph) {
        return UIE_BAD_CONTROL;
    }
    if (dataType != VAL_DOUBLE || !yArray || numberOfPoints < 0) {
        return UIE_BAD_ATTRIBUTE;
    }
    return graph->plot(static_cast<const double*>(yArray), numberOfPoints, yGain, yOffset,
                       initialX, xIncrement,
                       QColor((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF));
}

int SetStripChartText(int panel, int control, int item, const char* text) {
    static_assert(CHART_MENU_SAVE_IMAGE == int(Vx52StripChart::MenuSaveImage) &&
                  CHART_MENU_SAVE_DATA == int(Vx52StripChart::MenuSaveData) &&
                  CHART_MENU_PAUSE == int(Vx52StripChart::MenuPause) &&
                  CHART_MENU_RESUME == int(Vx52StripChart::MenuResume));
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    if (!chart) {
        return UIE_BAD_CONTROL;
    }
    if (item == CHART_TEXT_HINT) {
        chart->setHint(ToQ(text));
    } else if (item >= CHART_MENU_SAVE_IMAGE && item <= CHART_MENU_RESUME) {
        chart->setMenuText(item, ToQ(text));
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

int GetStripChartSlots(int panel, int control, std::vector<StripChartSlot>* out) {
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    if (!chart || !out) {
        return UIE_BAD_CONTROL;
    }
    const std::vector<Vx52ChartSlot> shown = chart->shownSlots();
    out->clear();
    for (const Vx52ChartSlot& s : shown) {
        out->push_back({s.value, (s.monoMs - shown.back().monoMs) / 1000.0, s.epochMs});
    }
    return static_cast<int>(out->size());
}

int GetCtrlImagePng(int panel, int control, std::string* png) {
    QWidget* w = FindCtrl(panel, control);
    if (!w || !png) {
        return UIE_BAD_CONTROL;
    }
    auto* chart = qobject_cast<Vx52StripChart*>(w);
    const QImage image = chart ? chart->exportImage() : w->grab().toImage();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG")) {
        return UIE_BAD_ATTRIBUTE;
    }
    png->assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    return 0;
}

int UiStripChartPointCount(int panel, int control) {
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    return chart ? static_cast<int>(chart->values().size()) : UIE_BAD_CONTROL;
}

int UiStripChartPoints(int panel, int control, double* out, int maxPoints) {
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    if (!chart) {
        return UIE_BAD_CONTROL;
    }
    const std::vector<double> pts = chart->values();
    const int n = std::min<int>(maxPoints, static_cast<int>(pts.size()));
    std::copy(pts.end() - n, pts.end(), out);
    return n;
}

int UiGraphPlotCount(int panel, int control) {
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    return graph ? graph->plotCount() : UIE_BAD_CONTROL;
}

int UiGraphPlotPoints(int panel, int control, double* out, int maxPoints) {
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    if (!graph || graph->plotCount() < 1) {
        return UIE_BAD_CONTROL;
    }
    const auto values = graph->plotValues(graph->plotCount() - 1);
    const int n = std::min<int>(maxPoints, static_cast<int>(values.size()));
    std::copy(values.begin(), values.begin() + n, out);
    return n;
}

int UiGraphAxisRange(int panel, int control, double* min, double* max) {
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    if (!graph) {
        return UIE_BAD_CONTROL;
    }
    *min = graph->yMin();
    *max = graph->yMax();
    return 0;
}

// ---- tables ---------------------------------------------------------------------

namespace {

Vx52TextTable* FindTable(int panel, int control) {
    return qobject_cast<Vx52TextTable*>(FindCtrl(panel, control));
}

} // namespace

int AppendTableRow(int panel, int control, const std::vector<std::string>& cells) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table) {
        return UIE_BAD_CONTROL;
    }
    QStringList row;
    row.reserve(static_cast<qsizetype>(cells.size()));
    for (const std::string& cell : cells) {
        row.append(QString::fromStdString(cell));
    }
    table->appendRow(row);
    return 0;
}

int ClearTableRows(int panel, int control) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table) {
        return UIE_BAD_CONTROL;
    }
    table->clearRows();
    return 0;
}

int GetNumTableRows(int panel, int control, int* rows) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table || !rows) {
        return UIE_BAD_CONTROL;
    }
    *rows = table->rows()->rowCount();
    return 0;
}

int GetTableRowCells(int panel, int control, int row, std::vector<std::string>* cells) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table || !cells || row < 0 || row >= table->rows()->rowCount()) {
        return UIE_BAD_CONTROL;
    }
    cells->clear();
    for (const QString& cell : table->rows()->row(row)) {
        cells->push_back(cell.toStdString());
    }
    return 0;
}

int SetTableColumnLabel(int panel, int control, int column, const char* text) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table) {
        return UIE_BAD_CONTROL;
    }
    table->rows()->setLabel(column, ToQ(text));
    return 0;
}

// ---- test access --------------------------------------------------------------------

void* UiWidgetOfCtrl(int panel, int control) { return FindCtrl(panel, control); }

void* UiWidgetOfPanel(int panel) {
    PanelRec* p = FindPanel(panel);
    return p ? static_cast<QWidget*>(p->host.data()) : nullptr;
}

int UiSavePanelImage(int panel, const char* path) {
    PanelRec* p = FindPanel(panel);
    if (!p || !path) {
        return UIE_BAD_HANDLE;
    }
    p->host->adjustSize();
    return p->host->grab().save(ToQ(path), "PNG") ? 0 : UIE_FILE_NOT_FOUND;
}

int UiSetTimersEnabled(int panel, int enabled) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return UIE_BAD_HANDLE;
    }
    for (auto* timer : p->form->findChildren<Vx52Timer*>()) {
        timer->setEnabledTimer(enabled != 0);
    }
    return 0;
}
