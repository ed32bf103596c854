// Strip chart scaling and the set waveform, on the real charts of the window.
#include <gtest/gtest.h>

#include <QTest>
#include <cmath>
#include <vector>

#include "UiTestSupport.h"
#include "app/Shell.h"
#include "app/Tick.h"
#include "charts/Charts.h"
#include "platform/Toolkit.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

using vx52test::MainWindowTest;

namespace {

const int kCharts[] = {PANEL_SCHART_R1, PANEL_SCHART_R2, PANEL_SCHART_R3, PANEL_SCHART_R4};

class ChartsTest : public MainWindowTest {
protected:
    double Last(int chart) {
        double v = -1;
        EXPECT_EQ(1, UiStripChartPoints(gMainPanel, chart, &v, 1));
        return v;
    }
    void Tick() { TIMER_50MS_CALLBACK(gMainPanel, PANEL_TIMER_50MS, EVENT_TIMER_TICK, nullptr, 0, 0); }
    std::vector<StripChartSlot> Slots(int chart) {
        std::vector<StripChartSlot> shown;
        GetStripChartSlots(gMainPanel, chart, &shown);
        return shown;
    }
};

TEST_F(ChartsTest, StartUpSetsSpanAndMeterDecimals) {
    for (int chart : kCharts) {
        int pps = 0;
        GetCtrlAttribute(gMainPanel, chart, ATTR_POINTS_PER_SCREEN, &pps);
        EXPECT_EQ(600, pps);
        EXPECT_EQ(0, UiStripChartPointCount(gMainPanel, chart));
    }
    const int expected[][2] = {{PANEL_MEA_VOL, 1}, {PANEL_MEA_CURR, 3}, {PANEL_MEA_FREQ, 1},
                               {PANEL_MEA_POWER, 3}};
    for (const auto& row : expected) {
        int digits = -1;
        GetCtrlAttribute(gMainPanel, row[0], ATTR_PRECISION, &digits);
        EXPECT_EQ(row[1], digits);
    }
}

TEST_F(ChartsTest, FeedScalesMeasuredValues) {
    gArrMeasureOutput[0] = 2200;
    gArrMeasureOutput[1] = 1500;
    gArrMeasureOutput[2] = 500;
    gArrMeasureOutput[3] = 330;
    Data52PFromMeasureToGraph();
    EXPECT_DOUBLE_EQ(220.0, Last(PANEL_SCHART_R1));
    EXPECT_DOUBLE_EQ(1.5, Last(PANEL_SCHART_R2));
    EXPECT_DOUBLE_EQ(50.0, Last(PANEL_SCHART_R3));
    EXPECT_DOUBLE_EQ(0.33, Last(PANEL_SCHART_R4));
}

TEST_F(ChartsTest, ChartKeepsOneScreenOfPoints) {
    for (int i = 0; i < 650; ++i) {
        gArrMeasureOutput[0] = i;
        Data52PFromMeasureToGraph();
    }
    EXPECT_EQ(600, UiStripChartPointCount(gMainPanel, PANEL_SCHART_R1));
    EXPECT_DOUBLE_EQ(64.9, Last(PANEL_SCHART_R1));
    ClearMeasureGraphAll();
    for (int chart : kCharts) {
        EXPECT_EQ(0, UiStripChartPointCount(gMainPanel, chart));
    }
}

TEST_F(ChartsTest, DoubleClickClearsOnlyThatChart) {
    Data52PFromMeasureToGraph();
    QWidget* r3 = Widget(PANEL_SCHART_R3);
    auto* view = r3->findChild<QWidget*>(QStringLiteral("qt_scrollarea_viewport"));
    QTest::mouseDClick(view ? view : r3, Qt::LeftButton);
    EXPECT_EQ(0, UiStripChartPointCount(gMainPanel, PANEL_SCHART_R3));
    EXPECT_EQ(1, UiStripChartPointCount(gMainPanel, PANEL_SCHART_R1));
    EXPECT_EQ(1, UiStripChartPointCount(gMainPanel, PANEL_SCHART_R2));
    EXPECT_EQ(1, UiStripChartPointCount(gMainPanel, PANEL_SCHART_R4));
}

TEST_F(ChartsTest, TickFeedsChartsEveryOtherTickOnlyWhileRunningAndLeavesGapsOffline) {
    gArrMeasureOutput[0] = 2200;
    for (int i = 0; i < 10; ++i) {
        Tick();
    }
    EXPECT_EQ(0u, Slots(PANEL_SCHART_R1).size());
    // Running with the link closed: time goes on every second tick, with
    // nothing measured in it.
    gPowerInfo.outputOn = 1;
    Tick(); // tick 11: odd
    EXPECT_EQ(0u, Slots(PANEL_SCHART_R1).size());
    for (int i = 0; i < 10; ++i) {
        Tick();
    }
    for (int chart : kCharts) {
        const auto shown = Slots(chart);
        ASSERT_EQ(5u, shown.size());
        for (const StripChartSlot& s : shown) {
            EXPECT_TRUE(std::isnan(s.value)) << chart;
        }
        EXPECT_EQ(0, UiStripChartPointCount(gMainPanel, chart)) << "no point while offline";
    }
    EXPECT_EQ(0, gArrMeasureOutput[0]);
    // Measured values plotted directly sit after the gap.
    gArrMeasureOutput[0] = 2200;
    Data52PFromMeasureToGraph();
    EXPECT_EQ(6u, Slots(PANEL_SCHART_R1).size());
    EXPECT_DOUBLE_EQ(220.0, Last(PANEL_SCHART_R1));
}

TEST_F(ChartsTest, SineSamples) {
    std::vector<double> out(180);
    // 45 Hz fills the window with exactly one period.
    WaverMakeSinByPeak(0.0, 100.0, 45.0, 45.0, 180, out.data());
    EXPECT_NEAR(0.0, out[0], 1e-9);
    EXPECT_NEAR(100.0, out[45], 1e-4);
    EXPECT_NEAR(0.0, out[90], 1e-4);
    EXPECT_NEAR(-100.0, out[135], 1e-4);
    // 400 Hz: each sample advances the phase by 2 * 400 / 45 degrees.
    WaverMakeSinByPeak(0.0, 1.0, 400.0, 45.0, 180, out.data());
    const double step = 2.0 * 400.0 / 45.0;
    EXPECT_NEAR(std::sin(6.2831852 * step * 7 / 360.0), out[7], 1e-12);
    EXPECT_EQ(5, WaverMakeSinByPeak(0.0, 1.0, 50.0, 45.0, 5, out.data()));
}

TEST_F(ChartsTest, SetWaveformGraphFollowsSettings) {
    gNormal52PSet.vol = 3000;
    gNormal52PSet.freq = 500;
    RefreshNormalSetGraph();
    EXPECT_EQ(1, UiGraphPlotCount(gMainPanel, PANEL_GRAPH_SETWAVE));
    double lo = 0, hi = 0;
    UiGraphAxisRange(gMainPanel, PANEL_GRAPH_SETWAVE, &lo, &hi);
    EXPECT_DOUBLE_EQ(-450.0, lo);
    EXPECT_DOUBLE_EQ(450.0, hi);
    std::vector<double> pts(180);
    ASSERT_EQ(180, UiGraphPlotPoints(gMainPanel, PANEL_GRAPH_SETWAVE, pts.data(), 180));
    double peak = 0;
    for (double v : pts) {
        peak = std::max(peak, std::fabs(v));
    }
    EXPECT_NEAR(424.2, peak, 0.5);
    EXPECT_NEAR(424.2, 3000 * 0.1414, 1e-9);
    for (int i = 0; i < 180; ++i) {
        EXPECT_DOUBLE_EQ(gArrSetWave[i], pts[i]);
    }
    // A redraw replaces the plot instead of adding one.
    gNormal52PSet.vol = 2200;
    Data52PFromNormalVarToPanel(0);
    EXPECT_EQ(1, UiGraphPlotCount(gMainPanel, PANEL_GRAPH_SETWAVE));
    UiGraphPlotPoints(gMainPanel, PANEL_GRAPH_SETWAVE, pts.data(), 180);
    peak = 0;
    for (double v : pts) {
        peak = std::max(peak, std::fabs(v));
    }
    EXPECT_NEAR(311.08, peak, 0.5);
}

} // namespace
