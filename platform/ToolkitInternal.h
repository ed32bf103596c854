// What the toolkit's source files share: the registry of panels, controls and
// menu bars, and the look-ups and wiring every part of the toolkit needs. Only
// the toolkit's own files include it.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QString>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/Toolkit.h"

namespace toolkit {

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
    bool placed = false;    // given a position by the program
    bool fitScreen = false; // ATTR_FIT_SCREEN
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

Registry& Reg();

// Callbacks under way: a panel discarded from inside one may still have its
// own widget on the call stack, so it is deleted later by the event loop.
extern int gCallbackDepth;
extern void (*gCallbackEndHook)();

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

extern QString gProgramDir; // where layout files named without a folder are found

PanelRec* FindPanel(int panel);
QWidget* FindCtrl(int panel, int control, CtrlRec** rec = nullptr);
MenuItemRec* FindMenuItem(int menuBar, int item);
void DeliverCtrl(int panel, int control, int event, int data1 = 0, int data2 = 0);
QString ToQ(const char* s);
// A menu text as a window title: without its mnemonic ("(&F)" as Chinese menus
// write it goes whole, a single "&" goes, "&&" becomes "&") and without the
// "..." that says the item opens a window.
QString PlainTitle(const QString& text);

// Delivers mouse clicks, keys and the close box of the panels and controls it
// is installed on to their callbacks.
QObject& Router();

QString LayoutPath(const char* fileName);
// Loads one form of the layout resource; nullptr with err set on failure.
QWidget* LoadForm(const char* fileName, int resourceId, int* err);
// Connects a control of a freshly loaded panel to its callback.
void WireControl(int handle, int id, CtrlRec& rec);

} // namespace toolkit
