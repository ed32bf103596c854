// The strip charts as the operator meets them: the context menu and what its
// entries do, the tip, and what lands on screen, pixel by pixel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QToolTip>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <regex>
#include <sstream>

#include "UiTestSupport.h"
#include "app/MenuDialogs.h"
#include "app/Shell.h"
#include "charts/ChartExport.h"
#include "charts/Charts.h"
#include "persist/Language.h"
#include "platform/ChartWidgets.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

using vx52test::MainWindowTest;

namespace {

constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

class StripChartTest : public MainWindowTest {
  protected:
    Vx52StripChart* Chart(int control) { return qobject_cast<Vx52StripChart*>(Widget(control)); }
    void Plot(int control, double v, int times = 1) {
        for (int i = 0; i < times; ++i) {
            PlotStripChart(gMainPanel, control, &v, 1, 0, 0, VAL_DOUBLE);
        }
    }
    // Opens the chart's context menu as a right click does.
    QMenu* OpenMenu(int control) {
        QWidget* w = Widget(control);
        QContextMenuEvent event(QContextMenuEvent::Mouse, w->rect().center(),
                                w->mapToGlobal(w->rect().center()));
        QApplication::sendEvent(w, &event);
        return w->findChild<QMenu*>();
    }
    // The texts of the entries offered, in order.
    std::vector<std::string> Offered(QMenu* menu) {
        std::vector<std::string> texts;
        for (QAction* a : menu->actions()) {
            if (a->isVisible()) {
                texts.push_back(a->text().toStdString());
            }
        }
        return texts;
    }
    void Choose(int control, int item) {
        QMenu* menu = OpenMenu(control);
        ASSERT_NE(nullptr, menu);
        for (QAction* a : menu->actions()) {
            if (a->data().toInt() == item) {
                ASSERT_TRUE(a->isVisible()) << item;
                menu->hide();
                a->trigger();
                return;
            }
        }
        FAIL() << "no entry " << item;
    }
    std::string Path(const std::string& name) { return scratch_->path() + "/" + name; }
};

// At a Chinese start the main window keeps its layout's texts; the charts' menus, which the
// layout cannot hold, are Chinese as well, and Clear does what a double-click does.
TEST_F(StripChartTest, MenuIsChineseAtAChineseStartAndClears) {
    Plot(PANEL_SCHART_R3, 50.0, 20);
    EXPECT_EQ(
        (std::vector<std::string>{"保存图像(&I)……", "保存数据(&D)……", "", "暂停(&P)", "清除(&C)"}),
        Offered(OpenMenu(PANEL_SCHART_R3)));
    Choose(PANEL_SCHART_R3, CHART_MENU_CLEAR);
    EXPECT_EQ(0, UiStripChartPointCount(gMainPanel, PANEL_SCHART_R3));
}

TEST_F(StripChartTest, MenuSpeaksTheLanguageInForce) {
    const struct {
        void (*set)();
        const char* shot;
        std::vector<std::string> running, paused;
    } cases[] = {
        {SetLanguageEnglish,
         "en",
         {"Save &Image ...", "Save &Data ...", "", "&Pause", "&Clear"},
         {"Save &Image ...", "Save &Data ...", "", "&Resume", "&Clear"}},
        {SetLanguageChinese,
         "cn",
         {"保存图像(&I)……", "保存数据(&D)……", "", "暂停(&P)", "清除(&C)"},
         {"保存图像(&I)……", "保存数据(&D)……", "", "继续(&R)", "清除(&C)"}},
    };
    for (const auto& c : cases) {
        c.set();
        PanelMainLanguageSet();
        Plot(PANEL_SCHART_R2, 1.5, 300);
        QMenu* menu = OpenMenu(PANEL_SCHART_R2);
        ASSERT_NE(nullptr, menu);
        EXPECT_EQ(c.running, Offered(menu)) << c.shot;

        // The panel with the menu where the operator sees it, for a person to look at.
        QWidget* host = static_cast<QWidget*>(UiWidgetOfPanel(gMainPanel));
        QImage shot = host->grab().toImage();
        QWidget* chart = Widget(PANEL_SCHART_R2);
        QPainter(&shot).drawPixmap(chart->mapTo(host, chart->rect().center()), menu->grab());
        const std::string dir = vx52test::BinDir() + "/../screenshots";
        std::filesystem::create_directories(dir);
        EXPECT_TRUE(shot.save(QString::fromStdString(dir + "/chart-menu-" + c.shot + ".png")));
        menu->hide();

        Choose(PANEL_SCHART_R2, CHART_MENU_PAUSE);
        EXPECT_EQ(c.paused, Offered(OpenMenu(PANEL_SCHART_R2))) << c.shot;
        Choose(PANEL_SCHART_R2, CHART_MENU_RESUME);
    }
}

TEST_F(StripChartTest, PauseFreezesThePictureWhilePointsAreStillTaken) {
    Vx52StripChart* r1 = Chart(PANEL_SCHART_R1);
    Plot(PANEL_SCHART_R1, 100.0, 50);
    Choose(PANEL_SCHART_R1, CHART_MENU_PAUSE);
    int paused = 0;
    GetCtrlAttribute(gMainPanel, PANEL_SCHART_R1, ATTR_CHART_PAUSED, &paused);
    EXPECT_EQ(1, paused);
    const QImage frozen = r1->grab().toImage();

    Plot(PANEL_SCHART_R1, 300.0, 40);
    EXPECT_EQ(90, UiStripChartPointCount(gMainPanel, PANEL_SCHART_R1)) << "still collected";
    EXPECT_EQ(frozen, r1->grab().toImage()) << "the picture stands still";
    std::vector<StripChartSlot> shown;
    GetStripChartSlots(gMainPanel, PANEL_SCHART_R1, &shown);
    EXPECT_EQ(50u, shown.size()) << "what is saved is what is seen";

    Choose(PANEL_SCHART_R1, CHART_MENU_RESUME);
    GetStripChartSlots(gMainPanel, PANEL_SCHART_R1, &shown);
    EXPECT_EQ(90u, shown.size());
    EXPECT_EQ(300.0, shown.back().value);
    EXPECT_NE(frozen, r1->grab().toImage()) << "the points taken meanwhile appear";
}

TEST_F(StripChartTest, SavedPictureIsAPngOfTheChart) {
    Plot(PANEL_SCHART_R4, 1.2, 100);
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    popups_.filePath = Path("power"); // the extension is added
    Choose(PANEL_SCHART_R4, CHART_MENU_SAVE_IMAGE);
    EXPECT_EQ(std::vector<int>{VAL_SAVE_BUTTON}, popups_.fileButtons);
    QImage saved;
    ASSERT_TRUE(saved.load(QString::fromStdString(Path("power.png")), "PNG"));
    EXPECT_EQ(Widget(PANEL_SCHART_R4)->size(), saved.size());
    EXPECT_TRUE(popups_.messages.empty());
}

TEST_F(StripChartTest, SavedDataHoldsTheSlotsShownWithTheirTimes) {
    Plot(PANEL_SCHART_R3, 50.0, 3);
    Plot(PANEL_SCHART_R3, kGap, 2);
    Plot(PANEL_SCHART_R3, 49.9);
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    popups_.filePath = Path("f.CSV");
    Choose(PANEL_SCHART_R3, CHART_MENU_SAVE_DATA);

    std::istringstream csv(vx52test::ScratchDir::ReadFile(Path("f.CSV")));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ("seconds,local_time,f (Hz)", line);
    const std::regex row(
        R"((-?\d+\.\d{3}),(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d),(.*))");
    std::vector<std::string> values;
    double previous = -1e9, seconds = 0;
    while (std::getline(csv, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, row)) << line;
        seconds = std::stod(m[1]);
        EXPECT_GE(seconds, previous);
        previous = seconds;
        values.push_back(m[3]);
    }
    EXPECT_EQ((std::vector<std::string>{"50", "50", "50", "", "", "49.9"}), values);
    EXPECT_EQ(0.0, seconds) << "times count back from the newest slot";
}

TEST_F(StripChartTest, FailedSaveIsReportedInTheLanguageInForce) {
    const struct {
        void (*set)();
        const char* title;
    } cases[] = {{SetLanguageEnglish, "Warning|"}, {SetLanguageChinese, "警告|"}};
    Plot(PANEL_SCHART_R1, 220.0, 10);
    popups_.fileStatus = VAL_NEW_FILE_SELECTED;
    popups_.filePath = Path("missing-folder/u.csv");
    for (const auto& c : cases) {
        c.set();
        popups_.messages.clear();
        Choose(PANEL_SCHART_R1, CHART_MENU_SAVE_DATA);
        ASSERT_EQ(1u, popups_.messages.size());
        const std::string& text = popups_.messages[0];
        EXPECT_EQ(0u, text.find(c.title)) << text;
        EXPECT_TRUE(popups_.warned[0]);
        EXPECT_NE(std::string::npos, text.find(popups_.filePath)) << text;
        EXPECT_NE(std::string::npos, text.find(std::strerror(ENOENT))) << text;
    }
    EXPECT_FALSE(vx52test::ScratchDir::Exists(Path("missing-folder")));
}

// The trace, the gap and the time axis where they belong, and the picture
// built point by point equal to one drawn afresh.
TEST_F(StripChartTest, PixelsOfTraceGapAndTimeAxis) {
    Vx52StripChart* r1 = Chart(PANEL_SCHART_R1); // 0 to 320 V, 600 slots across
    const QRect plot = r1->plotRect();           // laid out: points are drawn as they come
    ASSERT_GT(plot.width(), 100);
    Plot(PANEL_SCHART_R1, 160.0, 200);
    Plot(PANEL_SCHART_R1, kGap, 100);
    Plot(PANEL_SCHART_R1, 240.0, 300);
    const QImage drawn = r1->grab().toImage();
    drawn.save(QString::fromStdString(vx52test::BinDir() + "/../screenshots/chart-gap.png"));
    const QRgb trace = r1->traceColor().rgb();
    const int w = plot.width(), h = plot.height();
    auto column = [&](int oldest, int count) {
        return plot.left() + (oldest + count / 2) * w / 600;
    };
    auto row = [&](double v) { return plot.bottom() - int(std::lround(v / 320.0 * (h - 1))); };
    auto traceRows = [&](int x) {
        std::vector<int> rows;
        for (int y = plot.top(); y <= plot.bottom(); ++y) {
            if (drawn.pixel(x, y) == trace) {
                rows.push_back(y);
            }
        }
        return rows;
    };
    EXPECT_EQ(std::vector<int>{row(160.0)}, traceRows(column(0, 200)));
    EXPECT_EQ(std::vector<int>{}, traceRows(column(200, 100))) << "the gap stays empty";
    EXPECT_EQ(std::vector<int>{row(240.0)}, traceRows(column(300, 300)));

    // Time labels: light pixels under each tick, none half-way between ticks.
    auto labelPixels = [&](int x0, int x1) {
        int n = 0;
        for (int x = std::max(0, x0); x <= std::min(drawn.width() - 1, x1); ++x) {
            for (int y = plot.bottom() + 4; y < drawn.height() - 2; ++y) {
                n += qGray(drawn.pixel(x, y)) > 110;
            }
        }
        return n;
    };
    for (int t = 0; t <= 60; t += 10) {
        const int x = plot.left() + int(std::lround((1.0 - t / 60.0) * (w - 1)));
        EXPECT_GT(labelPixels(x - 6, x + 6), 5) << "label at -" << t << " s";
        if (t < 60) {
            const int mid = x - (w - 1) / 12;
            EXPECT_EQ(0, labelPixels(mid - 3, mid + 3)) << "between -" << t << " s and the next";
        }
    }

    SetCtrlAttribute(gMainPanel, PANEL_SCHART_R1, ATTR_POINTS_PER_SCREEN, 600); // full redraw
    EXPECT_EQ(drawn, r1->grab().toImage());
}

TEST_F(StripChartTest, TipShowsTimeAndValueReadably) {
    SetLanguageEnglish();
    PanelMainLanguageSet();
    Plot(PANEL_SCHART_R2, 4.5678, 600);
    Vx52StripChart* r2 = Chart(PANEL_SCHART_R2);
    const QPoint at(r2->plotRect().right() - 2, r2->plotRect().center().y());
    QHelpEvent help(QEvent::ToolTip, at, r2->mapToGlobal(at));
    QApplication::sendEvent(r2, &help);
    ASSERT_TRUE(QToolTip::isVisible());
    EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("4.568 A")))
        << QToolTip::text().toStdString();
    EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("Double-click to clear")));

    // Text and background of the tip stand well apart.
    QWidget* tip = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->inherits("QTipLabel") && w->isVisible()) {
            tip = w;
        }
    }
    ASSERT_NE(nullptr, tip);
    const QImage image = tip->grab().toImage();
    image.save(QString::fromStdString(vx52test::BinDir() + "/../screenshots/chart-tip.png"));
    int darkest = 255, lightest = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            darkest = std::min(darkest, qGray(image.pixel(x, y)));
            lightest = std::max(lightest, qGray(image.pixel(x, y)));
        }
    }
    const int background = qGray(image.pixel(image.width() / 2, 3));
    EXPECT_GT(std::max(lightest - background, background - darkest), 120);
    QToolTip::hideText();
}

} // namespace
