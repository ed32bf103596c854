// Menu bars: loading one onto a panel, and the attributes of its menus and items.
#include "platform/Toolkit.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <string>

#include "platform/ToolkitInternal.h"

using namespace toolkit;

// ---- menu bars --------------------------------------------------------------------

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
