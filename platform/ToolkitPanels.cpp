// Panels: loading them from the layout resource, showing, hiding and
// discarding them, and their attributes.
#include "platform/Toolkit.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <algorithm>
#include <string>

#include "platform/ToolkitInternal.h"

using namespace toolkit;

namespace {

// Keeps the window inside its screen's free area. A window larger than the
// area gets the area's size and its form scrolls inside it; one that has no
// place of its own is first centred on the main window.
void FitToScreen(PanelRec& p) {
    QMainWindow* host = p.host;
    QScreen* screen = host->screen() ? host->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    const QRect free = screen->availableGeometry();
    // The window manager's frame is known once the window is up; before, none.
    const QSize frame = host->isVisible() ? host->frameGeometry().size() - host->size() : QSize();
    const QSize room(std::max(1, free.width() - frame.width()),
                     std::max(1, free.height() - frame.height()));
    auto* area = qobject_cast<QScrollArea*>(host->centralWidget());
    QSize natural = area ? host->maximumSize() : host->sizeHint();
    if (!area && (natural.width() > room.width() || natural.height() > room.height())) {
        QWidget* form = host->takeCentralWidget();
        area = new QScrollArea;
        area->setFrameShape(QFrame::NoFrame);
        area->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        area->setWidget(form);
        host->setCentralWidget(area);
        // A scroll bar takes room beside the form that it would otherwise not need.
        const int bar = area->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area);
        if (natural.height() > room.height()) {
            natural.rwidth() += bar;
        }
        if (natural.width() > room.width()) {
            natural.rheight() += bar;
        }
        // The fixed size the layout gave the window goes with it.
        host->layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
        host->setMinimumSize(std::min(natural.width(), 320), std::min(natural.height(), 240));
        host->setMaximumSize(natural);
    }
    if (area) {
        host->resize(std::min(natural.width(), room.width()),
                     std::min(natural.height(), room.height()));
    }
    QPoint at = host->pos();
    QMainWindow* owner = Reg().mainHost;
    if (!p.placed && owner && owner != host) {
        at = owner->frameGeometry().center() -
             QPoint(host->width() + frame.width(), host->height() + frame.height()) / 2;
    }
    const int right = free.right() + 1 - host->width() - frame.width();
    const int bottom = free.bottom() + 1 - host->height() - frame.height();
    at.setX(std::max(free.left(), std::min(at.x(), right)));
    at.setY(std::max(free.top(), std::min(at.y(), bottom)));
    host->move(at);
    p.placed = true;
}

} // namespace

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
    auto* host =
        new QMainWindow(parent ? parent->host.data() : nullptr, parent ? Qt::Dialog : Qt::Window);
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

int SetPanelPos(int panel, int top, int left) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return UIE_BAD_HANDLE;
    }
    p->host->move(left, top);
    p->placed = true;
    if (p->fitScreen) {
        FitToScreen(*p);
    }
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
    if (p->fitScreen) {
        FitToScreen(*p);
    }
    p->host->show();
    p->host->raise();
    return 0;
}

int RaisePanel(int panel) {
    PanelRec* p = FindPanel(panel);
    if (!p) {
        return UIE_BAD_HANDLE;
    }
    if (p->host->isMinimized()) {
        p->host->showNormal();
    }
    p->host->show();
    p->host->raise();
    p->host->activateWindow();
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
        p->host->setVisible(value != 0);
        return 0;
    case ATTR_DIMMED:
        p->form->setEnabled(value == 0);
        return 0;
    case ATTR_FIT_SCREEN:
        p->fitScreen = value != 0;
        if (p->fitScreen && p->host->isVisible()) {
            FitToScreen(*p);
        }
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
    p->host->setWindowTitle(PlainTitle(ToQ(value)));
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
