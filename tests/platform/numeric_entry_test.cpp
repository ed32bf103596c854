// The numeric controls of the real windows under real key, paste and wheel
// events: an entry is read whole on commit and held within the control's
// limits, and the wheel moves only the control that has the focus.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>
#include <string>

#include "UiTestSupport.h"
#include "app/Shell.h"
#include "link/Scheduler.h"
#include "platform/Toolkit.h"
#include "platform/ToolkitEntry.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

using vx52test::MainWindowTest;

namespace {

class NumericEntryTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        auto* host = static_cast<QWidget*>(UiWidgetOfPanel(gMainPanel));
        ASSERT_NE(nullptr, host);
        QApplication::setActiveWindow(host);
        gPowerInfo.online = 1;
    }

    static std::string Shown(QWidget* w) {
        return w->findChild<QLineEdit*>()->text().toStdString();
    }

    // Puts the focus in the control and replaces its text with real keys.
    static void Type(QWidget* w, const std::string& text) {
        w->setFocus();
        QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w, Qt::Key_Delete);
        QTest::keyClicks(w, QString::fromStdString(text));
    }
    static void Paste(QWidget* w, const std::string& text) {
        QApplication::clipboard()->setText(QString::fromStdString(text));
        w->setFocus();
        QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
    }
    static void Enter(QWidget* w) { QTest::keyClick(w, Qt::Key_Return); }
    // Wheel notches over the middle of the control, delivered as the window
    // system delivers them, so Qt's focus-on-wheel rule applies.
    static void Wheel(QWidget* w, int notches) {
        QWidget* target = w->childAt(w->rect().center());
        target = target ? target : w;
        const QPointF local = target->rect().center();
        QWheelEvent ev(local, target->mapToGlobal(local), QPoint(), QPoint(0, 120 * notches),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&ev);
        qApp->notify(target, &ev);
    }

    // Puts a known state on screen: "stopped", "high" (running in HIGH) or
    // "auto148" / "auto180" (running in AUTO at 148.0 / 180.0 V); 220.0 V
    // otherwise, 50.0 Hz, step amounts 7 V, address 9.
    void Prepare(const std::string& state) {
        const int running = state == "stopped" ? 0 : 1;
        gNormal52PSet.vol = state == "auto148" ? 1480 : state == "auto180" ? 1800 : 2200;
        gNormal52PSet.volLevel = state == "high" ? 1 : 0;
        gNormal52PSet.freq = 500;
        gNormal52PSet.up2U = 7;
        gNormal52PSet.down2U = 7;
        gPowerInfo.outputOn = running;
        RefreshOutputState();
        Data52PFromNormalVarToPanel(running);
        if (gCommPanel > 0) {
            SetCtrlVal(gCommPanel, COMMPANEL_NUM_ADDRESS, 9);
        }
        CommClearNewCmdAll();
    }
    int Sent() const { return gCommNewCmd.count; }
    static bool DialogOpen() {
        int shown = 0;
        return GetPanelAttribute(gCommPanel, ATTR_VISIBLE, &shown) == 0 && shown == 1;
    }
    // Main-panel control, or the address in the link dialog (opened as the
    // operator opens it, offline, where the address can be edited) for 0.
    QWidget* Control(int control) {
        if (control == 0 && !DialogOpen()) {
            gPowerInfo.online = 0;
            UiTriggerMenuItem(gMainMenu, MENUBAR_SET_COMM);
            gPowerInfo.online = 1;
        }
        auto* w = static_cast<QWidget*>(
            control ? Widget(control) : UiWidgetOfCtrl(gCommPanel, COMMPANEL_NUM_ADDRESS));
        QApplication::setActiveWindow(w->window());
        return w;
    }
    // Enter in the link dialog is also its OK, which takes the address and closes it.
    double Held(int control) const {
        if (control == 0 && !DialogOpen()) {
            return gPowerInfo.address;
        }
        double v = 0;
        GetCtrlVal(control ? gMainPanel : gCommPanel, control ? control : COMMPANEL_NUM_ADDRESS,
                   &v);
        return v;
    }
    static void FocusElsewhere(QWidget* w) {
        for (auto* button : w->window()->findChildren<QPushButton*>()) {
            if (button->isEnabled()) {
                button->setFocus();
                break;
            }
        }
    }
};

struct EntryCase {
    const char* state;
    int control; // 0: the link dialog's address
    const char* text;
    double held;
    const char* shown;
};

TEST_F(NumericEntryTest, TypedOrPastedEntryIsReadWholeAndHeldWithinTheLimits) {
    const EntryCase cases[] = {
        {"high", PANEL_NUM_VOL, "999", 300.0, "300.0"},
        {"stopped", PANEL_NUM_VOL, "350", 300.0, "300.0"},
        {"auto148", PANEL_NUM_VOL, "180", 150.0, "150.0"},
        {"auto180", PANEL_NUM_VOL, "100", 150.1, "150.1"},
        {"stopped", PANEL_NUM_VOL, "-5", 1.0, "1.0"},
        {"stopped", PANEL_NUM_VOL, "209.95", 210.0, "210.0"}, // 209.9499.. as a double
        {"stopped", PANEL_NUM_VOL, "229.96", 230.0, "230.0"},
        {"stopped", PANEL_NUM_VOL, " +230.04 ", 230.0, "230.0"},
        {"stopped", PANEL_NUM_VOL, "1e2", 220.0, "220.0"},
        {"stopped", PANEL_NUM_VOL, "", 220.0, "220.0"},
        {"stopped", PANEL_NUM_VOL, "2.3.0", 220.0, "220.0"},
        {"stopped", PANEL_NUM_FREQ, "600", 65.0, "65.0"},
        {"stopped", PANEL_NUM_FREQ, "4", 45.0, "45.0"},
        {"stopped", PANEL_NUM_FREQ, "55.55", 55.6, "55.6"},
        {"stopped", PANEL_NUM_FREQ, "59.", 59.0, "59.0"},
        {"stopped", PANEL_NUM_FREQ, "abc", 50.0, "50.0"},
        {"stopped", PANEL_NUM_FREQ, "5,5", 50.0, "50.0"},
        {"stopped", PANEL_NUM_UP2U, "300", 30.0, "30"},
        {"stopped", PANEL_NUM_UP2U, "1", 5.0, "5"},
        {"stopped", PANEL_NUM_UP2U, "12.5", 13.0, "13"},
        {"stopped", PANEL_NUM_UP2U, "1e1", 7.0, "7"},
        {"stopped", PANEL_NUM_UP2U, "0x10", 7.0, "7"},
        {"stopped", PANEL_NUM_DOWN2U, "-300", -30.0, "-30"},
        {"stopped", PANEL_NUM_DOWN2U, "-1", -5.0, "-5"},
        {"stopped", PANEL_NUM_DOWN2U, "-9.5", -10.0, "-10"},
        {"stopped", PANEL_NUM_DOWN2U, "--9", -7.0, "-7"},
        {"stopped", PANEL_NUM_DOWN2U, "", -7.0, "-7"},
        {"stopped", 0, "300", 255.0, "255"},
        {"stopped", 0, "0", 1.0, "1"},
        {"stopped", 0, " 17 ", 17.0, "17"},
        {"stopped", 0, "99999999999999999999999999", 255.0, "255"},
        {"stopped", 0, "1e2", 9.0, "9"},
    };
    for (const bool paste : {false, true}) {
        for (const EntryCase& c : cases) {
            SCOPED_TRACE(std::string(c.state) + " " + std::to_string(c.control) + " \"" + c.text +
                         (paste ? "\" pasted" : "\" typed"));
            QWidget* w = Control(c.control);
            Prepare(c.state);
            const double before = Held(c.control);
            paste ? Paste(w, c.text) : Type(w, c.text);
            EXPECT_EQ(0, Sent()) << "sent before the commit";
            Enter(w);
            EXPECT_DOUBLE_EQ(c.held, Held(c.control));
            if (c.control != 0) {
                EXPECT_EQ(c.shown, Shown(w));
            } else {
                EXPECT_FALSE(DialogOpen()) << "Enter is the dialog's OK";
            }
            // The address sends nothing itself; the dialog's OK reads it.
            EXPECT_EQ(c.control != 0 && c.held != before ? 1 : 0, Sent());
        }
    }
}

TEST_F(NumericEntryTest, EachCommitSendsOnce) {
    Prepare("stopped");
    QWidget* vol = Widget(PANEL_NUM_VOL);
    Type(vol, "230");
    Enter(vol);
    Widget(PANEL_NUM_FREQ)->setFocus(); // leaving after Enter commits nothing more
    EXPECT_EQ(1, Sent());
    Type(vol, "240");
    Widget(PANEL_NUM_FREQ)->setFocus(); // leaving commits
    EXPECT_EQ(2400, gNormal52PSet.vol);
    EXPECT_EQ(2, Sent());
    Type(vol, "240.0");
    Enter(vol); // the same value is no change
    EXPECT_EQ(2, Sent());
}

TEST_F(NumericEntryTest, EntryLeftUncommittedIsDroppedWhenTheControlIsDimmedOrHidden) {
    QWidget* freq = Widget(PANEL_NUM_FREQ);
    for (const bool hide : {false, true}) {
        SCOPED_TRACE(hide ? "hidden" : "dimmed");
        Prepare("stopped");
        Type(freq, "55");
        if (hide) {
            SetCtrlAttribute(gMainPanel, PANEL_NUM_FREQ, ATTR_VISIBLE, 0);
        } else {
            // A reply from the source sets 400 Hz; the redraw dims the control
            // before it sets the value.
            gNormal52PSet.freq = 4000;
            Data52PFromNormalVarToPanel(0);
            ASSERT_EQ(1, Dimmed(PANEL_NUM_FREQ));
        }
        EXPECT_EQ(hide ? 500 : 4000, gNormal52PSet.freq);
        EXPECT_EQ(0, Sent());
        EXPECT_EQ(hide ? "50.0" : "400.0", Shown(freq));
        SetCtrlAttribute(gMainPanel, PANEL_NUM_FREQ, ATTR_VISIBLE, 1);
    }
}

TEST_F(NumericEntryTest, WheelMovesOnlyTheControlWithFocus) {
    const struct {
        const char* state;
        int control;
        double step;
    } cases[] = {{"high", PANEL_NUM_VOL, 1.0},
                 {"stopped", PANEL_NUM_FREQ, 0.1},
                 {"stopped", PANEL_NUM_UP2U, 1.0},
                 {"stopped", PANEL_NUM_DOWN2U, 1.0},
                 {"stopped", 0, 1.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        QWidget* w = Control(c.control);
        Prepare(c.state);
        FocusElsewhere(w);
        ASSERT_FALSE(w->hasFocus());
        const double before = Held(c.control);
        Wheel(w, -3);
        EXPECT_DOUBLE_EQ(before, Held(c.control));
        EXPECT_FALSE(w->hasFocus()) << "the wheel took the focus";
        EXPECT_EQ(0, Sent());

        w->setFocus();
        Wheel(w, -1);
        EXPECT_DOUBLE_EQ(before - c.step, Held(c.control));
        EXPECT_EQ(c.control ? 1 : 0, Sent());
    }
}

} // namespace

// The entry's own reading, without a widget that would bound the value again.
TEST(NumericEntryReading, HoldsAtTheLimitsAndRoundsOnDecimalDigits) {
    const struct {
        const char* text;
        int decimals;
        double min, max;
        bool number;
        double value;
    } cases[] = {
        {"150.0", 1, 1.0, 150.0, true, 150.0},
        {"150.1", 1, 1.0, 150.0, true, 150.0},
        {"150.04", 1, 1.0, 150.0, true, 150.0},
        {"150.05", 1, 1.0, 150.0, true, 150.0}, // rounds to 150.1, then held
        {"150.0", 1, 150.1, 300.0, true, 150.1},
        {"0.95", 1, 1.0, 300.0, true, 1.0},
        {"0.94", 1, 1.0, 300.0, true, 1.0},
        {"209.95", 1, 1.0, 300.0, true, 210.0},
        {"-5", 1, 1.0, 300.0, true, 1.0},
        {" +230.04 ", 1, 1.0, 300.0, true, 230.0},
        {"59.", 1, 45.0, 65.0, true, 59.0},
        {"65.04", 1, 45.0, 65.0, true, 65.0},
        {"44.96", 1, 45.0, 65.0, true, 45.0},
        {"12.5", 0, 5.0, 30.0, true, 13.0},
        {"12.49", 0, 5.0, 30.0, true, 12.0},
        {"-9.5", 0, -30.0, -5.0, true, -10.0},
        {"99999999999999999999999999", 0, 1.0, 255.0, true, 255.0},
        {"", 1, 1.0, 300.0, false, 0},
        {"1e2", 1, 1.0, 300.0, false, 0},
        {"2.3.0", 1, 1.0, 300.0, false, 0},
        {"--9", 0, -30.0, -5.0, false, 0},
        {"abc", 1, 1.0, 300.0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        double v = 0;
        ASSERT_EQ(c.number,
                  ToolkitReadEntry(QString::fromUtf8(c.text), c.decimals, c.min, c.max, &v));
        if (c.number) {
            EXPECT_DOUBLE_EQ(c.value, v);
        }
    }
}
