// The program worked from the keyboard alone, on the real window: dialog keys,
// menu shortcuts and mnemonics, Space on the output indicator, the tab order,
// a focus frame that shows, and the toolkit's own popups in the language in force.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "app/MenuDialogs.h"
#include "app/Shell.h"
#include "app/Vx52PSoftUi.h"
#include "link/Scheduler.h"
#include "persist/Language.h"
#include "persist/SettingsFiles.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"

using vx52test::MainWindowTest;
using vx52test::ScratchDir;
using vx52test::ScreenshotDir;

namespace {

class KeyboardTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        Activate(gMainPanel);
    }
    static QWidget* Host(int panel) { return static_cast<QWidget*>(UiWidgetOfPanel(panel)); }
    static void Activate(int panel) { QApplication::setActiveWindow(Host(panel)); }
    static bool Shown(int panel) {
        int v = 0;
        return GetPanelAttribute(panel, ATTR_VISIBLE, &v) == 0 && v == 1;
    }
    static QWidget* In(int panel, int control) {
        return static_cast<QWidget*>(UiWidgetOfCtrl(panel, control));
    }
    // The control that has the focus, by its layout name.
    static std::string Focused() {
        for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
            if (w->property("vx52Ctrl").isValid()) {
                return w->objectName().toStdString();
            }
        }
        return "";
    }
    void OpenLinkDialog() {
        UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
        ASSERT_TRUE(Shown(gCommPanel));
        Activate(gCommPanel);
    }
    // What the program did: output state, alarm, the commands queued.
    std::vector<int> Effects() const {
        std::vector<int> out = {gPowerInfo.outputOn, gPowerInfo.alarm, gCommNewCmd.count};
        for (int i = 0; i < gCommNewCmd.count; ++i) {
            out.push_back(gCommNewCmd.cmd[i] * 1000 + gCommNewCmd.subCmd[i]);
        }
        return out;
    }
};

TEST_F(KeyboardTest, EscapeIsCancelAndEnterIsTheDefaultButton) {
    // Escape does what cancel does, offline side effects included.
    gPowerInfo.outputOn = 1;
    RefreshOutputState();
    OpenLinkDialog();
    int dialog = gCommPanel;
    QTest::keyClick(In(gCommPanel, COMMPANEL_NUM_ADDRESS), Qt::Key_Escape);
    EXPECT_FALSE(Shown(dialog));
    EXPECT_EQ(0, gPowerInfo.outputOn);
    EXPECT_FALSE(ScratchDir::Exists(SOFTSET_FILE));

    // Enter in a field commits the entry, then presses OK.
    OpenLinkDialog();
    dialog = gCommPanel;
    In(gCommPanel, COMMPANEL_NUM_ADDRESS)->setFocus();
    QTest::keyClick(In(gCommPanel, COMMPANEL_NUM_ADDRESS), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(In(gCommPanel, COMMPANEL_NUM_ADDRESS), "42");
    QTest::keyClick(In(gCommPanel, COMMPANEL_NUM_ADDRESS), Qt::Key_Return);
    EXPECT_FALSE(Shown(dialog));
    EXPECT_EQ(42, gPowerInfo.address);
    EXPECT_TRUE(ScratchDir::Exists(SOFTSET_FILE));
    std::filesystem::remove(SOFTSET_FILE);

    // Enter on a button presses that button, not the default one.
    OpenLinkDialog();
    In(gCommPanel, COMMPANEL_BT_CANCEL)->setFocus();
    QTest::keyClick(In(gCommPanel, COMMPANEL_BT_CANCEL), Qt::Key_Enter);
    EXPECT_FALSE(ScratchDir::Exists(SOFTSET_FILE));

    // While connected OK is dimmed, and Enter does not get round that.
    gPowerInfo.online = 1;
    OpenLinkDialog();
    QTest::keyClick(Host(gCommPanel), Qt::Key_Return);
    EXPECT_TRUE(Shown(gCommPanel));
    EXPECT_FALSE(ScratchDir::Exists(SOFTSET_FILE));
    QTest::keyClick(Host(gCommPanel), Qt::Key_Escape);
    EXPECT_FALSE(Shown(gCommPanel));
    gPowerInfo.online = 0;

    // The about box closes with either key.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        UiTriggerMenuItem(gMainMenu, MENUBAR_HELP_ABOUT);
        const int about = gAboutPanel;
        ASSERT_TRUE(Shown(about));
        QTest::keyClick(Host(about), key);
        EXPECT_FALSE(Shown(about)) << key;
    }
}

std::vector<int> gChosenItems;

int RecordMenuItem(int, int menuItem, void*, int) {
    gChosenItems.push_back(menuItem);
    return 0;
}

TEST_F(KeyboardTest, ShortcutsGoThroughTheMenuCallback) {
    // A recording callback in place of the menu's: exit and help would leave
    // the test program or start a viewer.
    UiRegisterMenuCallback("MAIN_MENU_ITEM_CALLBACK", RecordMenuItem);
    gMainMenu = LoadMenuBar(gMainPanel, UIR_FILE, MENUBAR);
    UiRegisterMenuCallback("MAIN_MENU_ITEM_CALLBACK", MAIN_MENU_ITEM_CALLBACK);
    UiProcessEvents(); // the replaced bar goes, with its shortcuts
    gChosenItems.clear();
    QWidget* field = Widget(PANEL_NUM_VOL); // the focus in a field must not swallow them
    field->setFocus();
    QTest::keyClick(field, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_F1);
    QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ((std::vector<int>{MENUBAR_FILE_SAVE, MENUBAR_FILE_LOAD, MENUBAR_HELP_HELP,
                                MENUBAR_FILE_EXIT}),
              gChosenItems);

    // While the output runs, saving and loading stay out of reach here too.
    gPowerInfo.outputOn = 1;
    RefreshOutputState();
    gChosenItems.clear();
    QTest::keyClick(field, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(gChosenItems.empty());
}

TEST_F(KeyboardTest, MenusOpenWithTheirMnemonicsInBothLanguages) {
    QMenuBar* bar = Host(gMainPanel)->findChild<QMenuBar*>();
    for (int language : {0, 1}) {
        if (language == 1) {
            SetLanguageEnglish();
            PanelMainLanguageSet();
        }
        const struct {
            int key;
            const char* menu;
        } cases[] = {{Qt::Key_F, "FILE"}, {Qt::Key_S, "SET"}, {Qt::Key_H, "HELP"}};
        for (const auto& c : cases) {
            auto* menu = bar->findChild<QMenu*>(c.menu);
            QTest::keyClick(Host(gMainPanel), Qt::Key(c.key), Qt::AltModifier);
            EXPECT_TRUE(menu->isVisible()) << language << " " << c.menu;
            menu->close();
        }
    }
    // A window titled with a menu text shows no mnemonic mark.
    std::string title;
    OpenLinkDialog();
    GetPanelAttribute(gCommPanel, ATTR_TITLE, &title);
    EXPECT_EQ("Link Settings", title);
}

TEST_F(KeyboardTest, SpaceOnTheOutputIndicatorIsItsClick) {
    QWidget* lamp = Widget(PANEL_LED_OUTPUT);
    const std::function<void()> click = [this] { Click(PANEL_LED_OUTPUT); };
    const std::function<void()> space = [lamp] {
        lamp->setFocus();
        QTest::keyClick(lamp, Qt::Key_Space);
    };
    for (int online : {0, 1}) {
        for (int running : {0, 1}) {
            std::vector<int> seen[2];
            for (int i = 0; i < 2; ++i) {
                gPowerInfo.online = online;
                gPowerInfo.outputOn = running;
                RefreshOutputState();
                CommClearNewCmdAll();
                (i == 0 ? click : space)();
                seen[i] = Effects();
            }
            EXPECT_EQ(seen[0], seen[1]) << "online " << online << " running " << running;
        }
    }
    // A held key is one press: no repeats.
    gPowerInfo.online = 0;
    gPowerInfo.outputOn = 0;
    RefreshOutputState();
    QTest::keyPress(lamp, Qt::Key_Space);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
    QApplication::sendEvent(lamp, &repeat);
    EXPECT_EQ(1, gPowerInfo.outputOn);
}

TEST_F(KeyboardTest, TabFollowsThePanelAndSkipsChartsAndDimmedControls) {
    const char* order[] = {"NUM_VOL",        "BT_120_220", "BT_AUTO_HIGH", "NUM_FREQ",
                           "BT_50_60",       "BT_M2_M4",   "BT_400",       "NUM_UP2U",
                           "NUM_DOWN2U",     "BT_UUP",     "BT_UDOWN",     "LED_OUTPUT",
                           "BT_CLEAR_ALARM", "BT_CONNECT", "BT_DISCONNECT"};
    for (int alarm : {0, 1}) {
        gPowerInfo.alarm = alarm;
        RefreshOutputState();
        std::vector<std::string> expected;
        for (const char* name : order) {
            auto* w = Host(gMainPanel)->findChild<QWidget*>(name);
            if (w->isEnabled() && w->isVisible()) {
                expected.push_back(name);
            }
        }
        Widget(PANEL_NUM_VOL)->setFocus();
        std::vector<std::string> walked = {Focused()};
        for (size_t i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked.push_back(Focused());
        }
        expected.push_back("NUM_VOL"); // round again
        EXPECT_EQ(expected, walked) << "alarm " << alarm;
    }
    // Clicking a chart or the graph leaves the focus where it was.
    for (int chart : {PANEL_SCHART_R1, PANEL_SCHART_R4, PANEL_GRAPH_SETWAVE}) {
        Click(chart);
        EXPECT_EQ("NUM_VOL", Focused()) << chart;
    }
}

TEST_F(KeyboardTest, TheFocusedControlIsMarked) {
    // Each control looks different with the focus than without; the pictures
    // are kept for a person to look at.
    for (int control : {PANEL_BT_120_220, PANEL_NUM_FREQ, PANEL_LED_OUTPUT}) {
        QWidget* w = Widget(control);
        Widget(PANEL_NUM_UP2U)->setFocus();
        const QImage without = w->grab().toImage();
        w->setFocus();
        ASSERT_TRUE(w->hasFocus());
        EXPECT_NE(without, w->grab().toImage()) << w->objectName().toStdString();
        EXPECT_EQ(
            0, UiSavePanelImage(
                   gMainPanel,
                   (ScreenshotDir() + "/focus-" + w->objectName().toStdString() + ".png").c_str()));
    }
}

// Answers the next modal popup once it is up: the visitor sees it, then it is closed.
void OnNextPopup(const std::function<void(QWidget*)>& visit, int triesLeft = 200) {
    QTimer::singleShot(0, [visit, triesLeft] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) {
            if (triesLeft > 0) {
                OnNextPopup(visit, triesLeft - 1);
            }
            return;
        }
        visit(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
}

TEST_F(KeyboardTest, StockPopupsSpeakTheLanguageInForce) {
    UiSetPopupResponder(nullptr); // the real boxes
    for (int language : {0, 1}) {
        language == 1 ? SetLanguageEnglish() : SetLanguageChinese();
        const std::string tag = language == 1 ? "en" : "cn";
        std::string yes, no, save;
        OnNextPopup([&](QWidget* box) {
            auto* message = qobject_cast<QMessageBox*>(box);
            ASSERT_NE(nullptr, message);
            yes = message->button(QMessageBox::Yes)->text().toStdString();
            no = message->button(QMessageBox::No)->text().toStdString();
            box->grab().save(QString::fromStdString(ScreenshotDir() + "/question-" + tag + ".png"));
        });
        EXPECT_EQ(0,
                  ConfirmPopup(language ? "Tip" : "提示",
                               language ? "Change the screen resolution?" : "是否改变屏幕分辨率?"));
        OnNextPopup([&](QWidget* box) {
            auto* buttons = box->findChild<QDialogButtonBox*>();
            ASSERT_NE(nullptr, buttons);
            save = buttons->button(QDialogButtonBox::Save)
                       ? buttons->button(QDialogButtonBox::Save)->text().toStdString()
                       : buttons->buttons().first()->text().toStdString();
            box->grab().save(
                QString::fromStdString(ScreenshotDir() + "/save-dialog-" + tag + ".png"));
        });
        char path[MAX_PATHNAME_LEN];
        EXPECT_EQ(VAL_NO_FILE_SELECTED,
                  FileSelectPopup("", "*.52P", "*.52P", "", VAL_SAVE_BUTTON, 0, 1, 1, 0, path));
        if (language == 1) {
            EXPECT_EQ("&Yes", yes);
            EXPECT_EQ("&No", no);
            EXPECT_EQ("&Save", save);
        } else {
            EXPECT_EQ("是(&Y)", yes);
            EXPECT_EQ("否(&N)", no);
            EXPECT_EQ("保存(&S)", save);
        }
    }
    UiSetPopupResponder(&popups_);
}

} // namespace
