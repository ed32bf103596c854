// The toolkit over Qt Widgets. Panels are Designer forms loaded at run time
// from the layout resource; controls are found by object name and addressed
// by the integers the program registers. Callbacks are looked up by the name
// each widget carries in its "callback" property. This file holds the registry,
// the routing of events, the loading of forms and the wiring of controls; the
// toolkit's functions are in the Toolkit*.cpp files by kind.
#include "platform/Toolkit.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QResource>
#include <QSpinBox>
#include <QUiLoader>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/ChartWidgets.h"
#include "platform/ToolkitEntry.h"
#include "platform/ToolkitInternal.h"
#include "platform/ToolkitTable.h"
#include "platform/ToolkitWidgets.h"

namespace toolkit {

Registry& Reg() {
    static Registry registry;
    return registry;
}

int gCallbackDepth = 0;
void (*gCallbackEndHook)() = nullptr;
QString gProgramDir;

PanelRec* FindPanel(int panel) {
    auto it = Reg().panels.find(panel);
    if (it == Reg().panels.end() || !it->second.host) {
        return nullptr;
    }
    return &it->second;
}

QWidget* FindCtrl(int panel, int control, CtrlRec** rec) {
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

void DeliverCtrl(int panel, int control, int event, int data1, int data2) {
    CtrlRec* rec = nullptr;
    if (!FindCtrl(panel, control, &rec) || !rec->callback) {
        return;
    }
    CallbackScope scope;
    rec->callback(panel, control, event, nullptr, data1, data2);
}

QString PlainTitle(const QString& text) {
    static const QRegularExpression kBracketed(QStringLiteral("\\(&[^&\\s]\\)"));
    static const QRegularExpression kEllipsis(QStringLiteral("\\s*(\\.\\.\\.|\u2026+)$"));
    QString in = text;
    in.remove(kBracketed);
    in.remove(kEllipsis);
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

QString ToQ(const char* s) {
    return QString::fromUtf8(s ? s : "");
}

} // namespace toolkit

using namespace toolkit;

namespace {

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

class PanelLoader : public QUiLoader {
  public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
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

} // namespace

namespace toolkit {

QObject& Router() {
    static EventRouter router;
    return router;
}

QString LayoutPath(const char* fileName) {
    const QString name = ToQ(fileName);
    if (name.contains(QLatin1Char('/')) || gProgramDir.isEmpty()) {
        return QFileInfo(name).absoluteFilePath();
    }
    return QDir(gProgramDir).absoluteFilePath(name);
}

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

} // namespace toolkit

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

// ---- test access --------------------------------------------------------------------

void* UiWidgetOfCtrl(int panel, int control) {
    return FindCtrl(panel, control);
}

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
