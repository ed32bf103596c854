// Panels: loading them from the layout resource, showing, hiding and
// discarding them, and their attributes.
#include "platform/Toolkit.h"

#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QRegularExpression>
#include <string>

#include "platform/ToolkitInternal.h"

using namespace toolkit;

namespace {

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
