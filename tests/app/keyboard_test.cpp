// The program worked from the keyboard alone, on the real window: dialog keys,
// menu shortcuts, Space on the output indicator, the tab order, a focus frame
// that shows, and the toolkit's own popups in the language in force.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "app/MenuDialogs.h"
#include "app/Shell.h"
#include "link/Scheduler.h"
#include "persist/SettingsFiles.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

using vx52test::MainWindowTest;
using vx52test::ScratchDir;
using vx52test::ScreenshotDir;

namespace {

QWidget* Host(int panel) {
    return static_cast<QWidget*>(UiWidgetOfPanel(panel));
}
QWidget* In(int panel, int control) {
    return static_cast<QWidget*>(UiWidgetOfCtrl(panel, control));
}

// The control that has the focus, by its layout name.
std::string Focused() {
    QWidget* w = QApplication::focusWidget();
    while (w && !w->property("vx52Ctrl").isValid()) {
        w = w->parentWidget();
    }
    return w ? w->objectName().toStdString() : "";
}

std::vector<int> gChosenItems;
int RecordMenuItem(int, int menuItem, void*, int) {
    gChosenItems.push_back(menuItem);
    return 0;
}

class KeyboardTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        QApplication::setActiveWindow(Host(gMainPanel));
    }
    static bool Shown(int panel) {
        int v = 0;
        return GetPanelAttribute(panel, ATTR_VISIBLE, &v) == 0 && v == 1;
    }
    // Opens the panel from its menu item and sends one key to one of its widgets.
    static void KeyIn(int item, int* panel, int control, int key) {
        if (!Shown(*panel)) {
            UiTriggerMenuItem(gMainMenu, item);
        }
        QWidget* w = control ? In(*panel, control) : Host(*panel);
        w->setFocus();
        QTest::keyClick(w, Qt::Key(key));
    }
};

TEST_F(KeyboardTest, EscapeIsCancelAndEnterTheDefaultOrFocusedButton) {
    // Escape does what cancel does, offline side effects included.
    gPowerInfo.outputOn = 1;
    KeyIn(MENUBAR_SET_COMM, &gCommPanel, COMMPANEL_RING_BAUD, Qt::Key_Escape);
    EXPECT_FALSE(Shown(gCommPanel));
    EXPECT_EQ(0, gPowerInfo.outputOn);
    // Enter on a button presses that one, not OK.
    KeyIn(MENUBAR_SET_COMM, &gCommPanel, COMMPANEL_BT_CANCEL, Qt::Key_Enter);
    EXPECT_FALSE(Shown(gCommPanel));
    EXPECT_FALSE(ScratchDir::Exists(SOFTSET_FILE));
    // While connected OK is dimmed, and Enter does not get round that.
    gPowerInfo.online = 1;
    KeyIn(MENUBAR_SET_COMM, &gCommPanel, 0, Qt::Key_Return);
    EXPECT_TRUE(Shown(gCommPanel));
    KeyIn(MENUBAR_SET_COMM, &gCommPanel, 0, Qt::Key_Escape);
    gPowerInfo.online = 0;
    EXPECT_FALSE(ScratchDir::Exists(SOFTSET_FILE));
    // Enter in a field commits the entry, then presses OK.
    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
    QWidget* address = In(gCommPanel, COMMPANEL_NUM_ADDRESS);
    address->setFocus();
    QTest::keyClick(address, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(address, "42");
    QTest::keyClick(address, Qt::Key_Return);
    EXPECT_FALSE(Shown(gCommPanel));
    EXPECT_EQ(42, gPowerInfo.address);
    EXPECT_TRUE(ScratchDir::Exists(SOFTSET_FILE));
    // The about box closes with either key.
    for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
        KeyIn(MENUBAR_HELP_ABOUT, &gAboutPanel, 0, key);
        EXPECT_FALSE(Shown(gAboutPanel)) << key;
    }
}

TEST_F(KeyboardTest, ShortcutsGoThroughTheMenuCallback) {
    // A recording callback in place of the menu's, since exit and help would
    // end the test program's event handling or start a viewer.
    UiRegisterMenuCallback("MAIN_MENU_ITEM_CALLBACK", RecordMenuItem);
    gMainMenu = LoadMenuBar(gMainPanel, UIR_FILE, MENUBAR);
    UiRegisterMenuCallback("MAIN_MENU_ITEM_CALLBACK", MAIN_MENU_ITEM_CALLBACK);
    UiProcessEvents();                      // the replaced bar goes, with its shortcuts
    QWidget* field = Widget(PANEL_NUM_VOL); // the focus in a field must not swallow them
    field->setFocus();
    for (int running : {0, 1}) {
        gPowerInfo.outputOn = running;
        RefreshOutputState();
        gChosenItems.clear();
        QTest::keyClick(field, Qt::Key_S, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_F1);
        QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
        // While the output runs, saving and loading stay out of reach here too.
        std::vector<int> expected = {MENUBAR_FILE_SAVE, MENUBAR_FILE_LOAD, MENUBAR_HELP_HELP,
                                     MENUBAR_FILE_EXIT};
        EXPECT_EQ(std::vector<int>(expected.begin() + 2 * running, expected.end()), gChosenItems);
    }
}

TEST_F(KeyboardTest, SpaceOnTheOutputIndicatorIsItsClickOncePerPress) {
    QWidget* lamp = Widget(PANEL_LED_OUTPUT);
    const std::function<void()> press[] = {[this] { Click(PANEL_LED_OUTPUT); },
                                           [lamp] {
                                               lamp->setFocus();
                                               QTest::keyClick(lamp, Qt::Key_Space);
                                               QKeyEvent held(QEvent::KeyPress, Qt::Key_Space,
                                                              Qt::NoModifier, " ", true);
                                               QApplication::sendEvent(lamp, &held);
                                           }};
    for (int state = 0; state < 4; ++state) {
        std::vector<int> seen[2];
        for (int i = 0; i < 2; ++i) {
            gPowerInfo.online = state / 2;
            gPowerInfo.outputOn = state % 2;
            RefreshOutputState();
            CommClearNewCmdAll();
            press[i]();
            seen[i] = {gPowerInfo.outputOn, gPowerInfo.alarm,      gCommNewCmd.count,
                       gCommNewCmd.cmd[0],  gCommNewCmd.subCmd[0], gCommNewCmd.cmd[1]};
        }
        EXPECT_EQ(seen[0], seen[1]) << "online " << state / 2 << " running " << state % 2;
    }
}

TEST_F(KeyboardTest, TabFollowsThePanelAndSkipsChartsAndDimmedControls) {
    const char* order[] = {"NUM_VOL",        "BT_120_220", "BT_AUTO_HIGH", "NUM_FREQ",
                           "BT_50_60",       "BT_M2_M4",   "BT_400",       "NUM_UP2U",
                           "NUM_DOWN2U",     "BT_UUP",     "BT_UDOWN",     "LED_OUTPUT",
                           "BT_CLEAR_ALARM", "BT_CONNECT", "BT_DISCONNECT"};
    for (int alarm : {0, 1}) {
        gPowerInfo.alarm = alarm;
        RefreshOutputState();
        std::vector<std::string> expected, walked;
        for (const char* name : order) {
            auto* w = Host(gMainPanel)->findChild<QWidget*>(name);
            if (w->isEnabled() && w->isVisible()) {
                expected.push_back(name);
            }
        }
        Widget(PANEL_NUM_VOL)->setFocus();
        for (size_t i = 0; i < expected.size(); ++i) {
            walked.push_back(Focused());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        EXPECT_EQ(expected, walked) << "alarm " << alarm;
        EXPECT_EQ("NUM_VOL", Focused()); // round again
    }
    for (int chart : {PANEL_SCHART_R1, PANEL_SCHART_R4, PANEL_GRAPH_SETWAVE}) {
        Click(chart);
        EXPECT_EQ("NUM_VOL", Focused()) << chart;
    }
}

TEST_F(KeyboardTest, TheFocusedControlIsMarked) {
    for (int control : {PANEL_BT_120_220, PANEL_NUM_FREQ, PANEL_LED_OUTPUT}) {
        QWidget* w = Widget(control);
        Widget(PANEL_NUM_UP2U)->setFocus();
        const QImage without = w->grab().toImage();
        w->setFocus();
        EXPECT_NE(without, w->grab().toImage()) << w->objectName().toStdString();
        const std::string name = w->objectName().toStdString();
        UiSavePanelImage(gMainPanel, (ScreenshotDir() + "/focus-" + name + ".png").c_str());
    }
}

// Looks at the next modal popup once it is up, then closes it.
void OnNextPopup(const std::function<void(QWidget*)>& visit, int triesLeft = 200) {
    QTimer::singleShot(0, [visit, triesLeft] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) {
            return triesLeft > 0 ? OnNextPopup(visit, triesLeft - 1) : void();
        }
        visit(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
}

TEST_F(KeyboardTest, StockPopupsSpeakTheLanguageInForce) {
    UiSetPopupResponder(nullptr); // the real boxes
    for (const char* tag : {"cn", "en"}) {
        tag[0] == 'e' ? SetLanguageEnglish() : SetLanguageChinese();
        std::string texts;
        auto keep = [&](QWidget* box, const char* name, QAbstractButton* a, QAbstractButton* b) {
            texts += a->text().toStdString() + "|" + b->text().toStdString() + "|";
            box->grab().save(QString::fromStdString(ScreenshotDir() + "/" + name + tag + ".png"));
        };
        OnNextPopup([&](QWidget* box) {
            if (auto* m = qobject_cast<QMessageBox*>(box)) {
                keep(box, "question-", m->button(QMessageBox::Yes), m->button(QMessageBox::No));
            }
        });
        ConfirmPopup("?", "?");
        OnNextPopup([&](QWidget* box) {
            if (auto* b = box->findChild<QDialogButtonBox*>()) {
                keep(box, "save-dialog-", b->button(QDialogButtonBox::Save),
                     b->button(QDialogButtonBox::Cancel));
            }
        });
        char path[MAX_PATHNAME_LEN];
        FileSelectPopup("", "*.52P", "*.52P", "", VAL_SAVE_BUTTON, 0, 1, 1, 0, path);
        EXPECT_EQ(tag[0] == 'e' ? "&Yes|&No|&Save|Cancel|" : "是(&Y)|否(&N)|保存(&S)|取消|", texts);
    }
    UiSetPopupResponder(&popups_);
}

} // namespace
