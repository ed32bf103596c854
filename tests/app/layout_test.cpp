// The window as the operator sees it: it fits 1024 x 768, no visible control
// overlaps another, no text is clipped, in both languages and in the stopped,
// running-at-400-Hz and alarm states. Each state is also saved as a PNG in
// build/screenshots for a person to look at.
#include <gtest/gtest.h>

#include <QRegularExpression>

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "UiTestSupport.h"
#include "app/LinkMonitor.h"
#include "app/MenuDialogs.h"
#include "app/RemoteControl.h"
#include "app/Shell.h"
#include "link/LinkEvents.h"
#include "link/PortUart.h"
#include "persist/Language.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

using vx52test::MainWindowTest;
using vx52test::ScreenshotDir;

namespace {

QWidget* Form(int panel) {
    auto* host = static_cast<QWidget*>(UiWidgetOfPanel(panel));
    return host ? host->findChild<QWidget*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

// Every visible text that does not fit its control.
std::string ClippedTexts(QWidget* root) {
    std::string out;
    for (auto* label : root->findChildren<QLabel*>()) {
        if (label->isHidden() || label->wordWrap() || label->text().isEmpty()) {
            continue;
        }
        const int need = label->fontMetrics().horizontalAdvance(label->text());
        if (need > label->contentsRect().width()) {
            out += label->objectName().toStdString() + "(" + label->text().toStdString() + ") ";
        }
    }
    for (auto* button : root->findChildren<QAbstractButton*>()) {
        if (button->isHidden() || button->text().isEmpty()) {
            continue;
        }
        if (button->sizeHint().width() > button->width() + 4) {
            out += button->objectName().toStdString() + "(" + button->text().toStdString() + ") ";
        }
    }
    for (auto* label : root->findChildren<QLabel*>()) {
        if (!label->isHidden() && label->wordWrap() &&
            label->heightForWidth(label->contentsRect().width()) > label->contentsRect().height()) {
            out += label->objectName().toStdString() + "(wrapped) ";
        }
    }
    return out;
}

// Pairs of visible controls that overlap; group frames are backgrounds.
std::string Overlaps(QWidget* form) {
    std::string out;
    QList<QWidget*> shown;
    for (auto* w : form->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w->isHidden() || w->property("role").toString() == "group" || w->width() <= 1) {
            continue;
        }
        shown.append(w);
    }
    for (int i = 0; i < shown.size(); ++i) {
        for (int j = i + 1; j < shown.size(); ++j) {
            if (shown[i]->geometry().intersects(shown[j]->geometry())) {
                out += shown[i]->objectName().toStdString() + "/" +
                       shown[j]->objectName().toStdString() + " ";
            }
        }
    }
    return out;
}

class LayoutTest : public MainWindowTest {
  protected:
    void Check(const std::string& name) {
        QWidget* form = Form(gMainPanel);
        ASSERT_NE(nullptr, form);
        EXPECT_EQ("", Overlaps(form)) << name;
        EXPECT_EQ("", ClippedTexts(form)) << name;
        EXPECT_EQ(0, UiSavePanelImage(gMainPanel, (ScreenshotDir() + "/" + name + ".png").c_str()));
    }
    void States(const std::string& language) {
        gPowerInfo.outputOn = 0;
        gPowerInfo.alarm = 0;
        RefreshOutputState();
        Check("main-" + language + "-stopped");

        gNormal52PSet.freq = 4000;
        gNormal52PSet.vol = 2300;
        gPowerInfo.outputOn = 1;
        Cal52PPowerUpDown(1);
        RefreshOutputState();
        gArrMeasureOutput[0] = 2301;
        gArrMeasureOutput[1] = 4567;
        gArrMeasureOutput[2] = 4000;
        gArrMeasureOutput[3] = 1050;
        Data52PFromMeasureToPanel();
        Check("main-" + language + "-running-400Hz");

        gPowerInfo.outputOn = 0;
        gPowerInfo.alarm = 1;
        gNormal52PSet.freq = 500;
        PowerClearMeasure();
        Data52PFromMeasureToPanel();
        RefreshOutputState();
        Check("main-" + language + "-alarm");

        // The link area with a device in use, then after the link was lost.
        const int pty = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(pty, 0);
        ASSERT_EQ(0, grantpt(pty));
        ASSERT_EQ(0, unlockpt(pty));
        ASSERT_EQ(0, symlink(ptsname(pty), "COM1"));
        ASSERT_EQ(0, PortUartOpenDefault(1, 9600));
        LinkNotifyConnected(1, 9600, 1);
        // A remote client is connected.
        SetCtrlAttribute(gMainPanel, PANEL_TXT_REMOTE, ATTR_VISIBLE, 1);
        Check("main-" + language + "-link-online");
        SetCtrlAttribute(gMainPanel, PANEL_TXT_REMOTE, ATTR_VISIBLE, 0);
        LinkNotifyLosing();
        LinkNotifyClosed();
        Check("main-" + language + "-link-lost");
        PortUartClose(1);
        close(pty);
        unlink("COM1");
    }
    void Dialogs(const std::string& language) {
        DisplayPanelCommSet(1);
        EXPECT_EQ("", ClippedTexts(Form(gCommPanel))) << language;
        UiSavePanelImage(gCommPanel,
                         (ScreenshotDir() + "/link-settings-" + language + ".png").c_str());
        DisplayPanelCommSet(0);
        DisplayPanelAbout(1);
        EXPECT_EQ("", ClippedTexts(Form(gAboutPanel))) << language;
        UiSavePanelImage(gAboutPanel, (ScreenshotDir() + "/about-" + language + ".png").c_str());
        DisplayPanelAbout(0);
        DisplayPanelWait(1);
        EXPECT_EQ("", ClippedTexts(Form(gWaitPanel))) << language;
        UiSavePanelImage(gWaitPanel, (ScreenshotDir() + "/wait-" + language + ".png").c_str());
        DisplayPanelWait(0);
        DisplayPanelLinkMonitor(1);
        EXPECT_EQ("", ClippedTexts(Form(gLinkMonPanel))) << language;
        UiSavePanelImage(gLinkMonPanel,
                         (ScreenshotDir() + "/link-monitor-" + language + ".png").c_str());
        DisplayPanelLinkMonitor(0);
        DisplayPanelRemote(1);
        EXPECT_EQ("", ClippedTexts(Form(gRemotePanel))) << language;
        UiSavePanelImage(gRemotePanel, (ScreenshotDir() + "/remote-" + language + ".png").c_str());
        DisplayPanelRemote(0);
    }
};

TEST_F(LayoutTest, FitsTheSmallestScreenItIsMeantFor) {
    int width = 0, height = 0;
    GetPanelAttribute(gMainPanel, ATTR_WIDTH, &width);
    GetPanelAttribute(gMainPanel, ATTR_HEIGHT, &height);
    // Placed at left 5, top 30, with room for a window frame and title bar.
    EXPECT_LE(5 + width + 8, 1024);
    EXPECT_LE(30 + 32 + height, 768);
}

TEST_F(LayoutTest, ChineseStatesReadWell) {
    States("cn");
    Dialogs("cn");
}

TEST_F(LayoutTest, EnglishStatesReadWell) {
    SetLanguageEnglish();
    PanelMainLanguageSet();
    States("en");
    Dialogs("en");
}

TEST_F(LayoutTest, BuiltInTextsAreTheChineseLanguageFile) {
    // Relabelling a freshly loaded window in Chinese must change nothing.
    QWidget* form = Form(gMainPanel);
    auto texts = [form] {
        std::string all;
        for (auto* label : form->findChildren<QLabel*>()) {
            all += label->objectName().toStdString() + "=" + label->text().toStdString() + "\n";
        }
        for (auto* button : form->findChildren<QAbstractButton*>()) {
            all += button->objectName().toStdString() + "=" + button->text().toStdString() + "\n";
        }
        return all;
    };
    std::string title;
    GetPanelAttribute(gMainPanel, ATTR_TITLE, &title);
    const std::string before = texts();
    gPowerInfo.language = 0;
    PanelMainLanguageSet();
    EXPECT_EQ(before, texts());
    std::string after;
    GetPanelAttribute(gMainPanel, ATTR_TITLE, &after);
    EXPECT_EQ(title, after);
    for (int item : {MENUBAR_FILE, MENUBAR_FILE_SAVE, MENUBAR_SET_LANG_EN, MENUBAR_HELP_ABOUT}) {
        std::string name;
        GetMenuBarAttribute(gMainMenu, item, ATTR_ITEM_NAME, &name);
        EXPECT_FALSE(name.empty()) << item;
    }
}

// The link area breaks its lines between words only: every word and path of the text stands
// whole on one line (or, too long for any, cut at its start), in either language.
TEST_F(LayoutTest, LinkAreaBreaksOnlyBetweenWords) {
    const char* texts[] = {
        "COM1 = /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0, 9600 baud, "
        "address 1",
        "Link lost at 14:03:12: no answer on COM1 (/dev/ttyUSB0)",
        "COM1 = /dev/ttyUSB0，9600 波特，地址 1",
        "通讯中断（14:03:12）：COM1（/dev/ttyUSB0）无应答",
    };
    auto* label = qobject_cast<QLabel*>(Widget(PANEL_TXT_LINKLOST));
    ASSERT_NE(nullptr, label);
    for (const char* text : texts) {
        SetCtrlVal(gMainPanel, PANEL_TXT_LINKLOST, text);
        std::string back;
        GetCtrlVal(gMainPanel, PANEL_TXT_LINKLOST, &back);
        EXPECT_EQ(text, back) << "the text reads back whole";
        const QStringList lines = label->text().split(QLatin1Char('\n'));
        EXPECT_GT(lines.size(), 1) << text;
        for (const QString& word : QString::fromUtf8(text).split(
                 QRegularExpression(QStringLiteral("[ ，：（]")), Qt::SkipEmptyParts)) {
            const bool whole = std::any_of(lines.begin(), lines.end(), [&](const QString& l) {
                return l.contains(word) ||
                       (l.startsWith(QChar(0x2026)) && word.endsWith(l.mid(1).section(' ', 0, 0)));
            });
            EXPECT_TRUE(whole) << word.toStdString() << " in " << label->text().toStdString();
        }
    }
}

} // namespace
