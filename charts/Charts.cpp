// Strip charts of the measured output and the graph of the set waveform.
#include "charts/Charts.h"

#include <cmath>
#include <limits>

#include "charts/ChartExport.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "power/SourceLimits.h"
#include "ui/Panels.h"
#include "ui/Vx52PSoftUi.h"

double gArrSetWave[SET_WAVE_POINTS];

namespace {

constexpr int kStripCharts[] = {PANEL_SCHART_R1, PANEL_SCHART_R2, PANEL_SCHART_R3, PANEL_SCHART_R4};

void PlotOne(int control, double value) {
    PlotStripChart(gMainPanel, control, &value, 1, 0, 0, VAL_DOUBLE);
}

} // namespace

void Data52PFromMeasureToGraph() {
    PlotOne(PANEL_SCHART_R1, SourceMeterValue(0, gArrMeasureOutput[0]));
    PlotOne(PANEL_SCHART_R2, SourceMeterValue(1, gArrMeasureOutput[1]));
    PlotOne(PANEL_SCHART_R3, SourceMeterValue(2, gArrMeasureOutput[2]));
    PlotOne(PANEL_SCHART_R4, SourceMeterValue(3, gArrMeasureOutput[3]));
}

void Data52PGapToGraph() {
    for (int chart : kStripCharts) {
        PlotOne(chart, std::numeric_limits<double>::quiet_NaN());
    }
}

void ClearMeasureGraphR1() {
    ClearStripChart(gMainPanel, PANEL_SCHART_R1);
}
void ClearMeasureGraphR2() {
    ClearStripChart(gMainPanel, PANEL_SCHART_R2);
}
void ClearMeasureGraphR3() {
    ClearStripChart(gMainPanel, PANEL_SCHART_R3);
}
void ClearMeasureGraphR4() {
    ClearStripChart(gMainPanel, PANEL_SCHART_R4);
}

void ClearMeasureGraphAll() {
    ClearMeasureGraphR1();
    ClearMeasureGraphR2();
    ClearMeasureGraphR3();
    ClearMeasureGraphR4();
}

void SetMeasureGraphSpeed(int pointsPerScreen) {
    for (int chart : kStripCharts) {
        SetCtrlAttribute(gMainPanel, chart, ATTR_POINTS_PER_SCREEN, pointsPerScreen);
    }
}

void SetNormalMeasureDisplayGraph52P() {
    const int meters[] = {PANEL_MEA_VOL, PANEL_MEA_CURR, PANEL_MEA_FREQ, PANEL_MEA_POWER};
    for (int i = 0; i < SOURCE_MEASURED_COUNT; ++i) {
        SetCtrlAttribute(gMainPanel, meters[i], ATTR_PRECISION, SourceMeterDecimals(i));
    }
}

int WaverMakeSinByPeak(double startAngle, double peak, double frequency, double windowFrequency,
                       int count, double* out) {
    for (int i = 0; i < count; ++i) {
        const double degrees = startAngle + i * 360.0 * (frequency / windowFrequency) / count;
        out[i] = peak * std::sin(6.2831852 * degrees / 360.0);
    }
    return count;
}

void RefreshNormalSetGraph() {
    // The graph always spans 1/45 s, so it shows freq / 45 periods.
    const double peak = gNormal52PSet.vol * 0.1414;
    const double frequency = SourceToUnit(SOURCE_Q_SET_FREQUENCY, gNormal52PSet.freq);
    WaverMakeSinByPeak(0.0, peak, frequency, 45.0, SET_WAVE_POINTS, gArrSetWave);
    DeleteGraphPlot(gMainPanel, PANEL_GRAPH_SETWAVE, -1, 1);
    SetAxisScalingMode(gMainPanel, PANEL_GRAPH_SETWAVE, VAL_LEFT_YAXIS, VAL_MANUAL, -450.0, 450.0);
    PlotWaveform(gMainPanel, PANEL_GRAPH_SETWAVE, gArrSetWave, SET_WAVE_POINTS, VAL_DOUBLE, 1.0,
                 0.0, 0.0, 1.0, VAL_THIN_LINE, VAL_EMPTY_SQUARE, VAL_SOLID, 1,
                 MakeColor(255, 255, 0));
}

namespace {

int StripChartEvent(int panel, int control, int event, int item, void (*clear)()) {
    if (event == EVENT_LEFT_DOUBLE_CLICK) {
        clear();
    } else if (event == EVENT_CHART_MENU) {
        switch (item) {
        case CHART_MENU_SAVE_IMAGE:
            SaveStripChartImage(panel, control);
            break;
        case CHART_MENU_SAVE_DATA:
            SaveStripChartData(panel, control);
            break;
        case CHART_MENU_PAUSE:
        case CHART_MENU_RESUME:
            SetCtrlAttribute(panel, control, ATTR_CHART_PAUSED, item == CHART_MENU_PAUSE ? 1 : 0);
            break;
        case CHART_MENU_CLEAR:
            // The double click's action, where the operator can find it.
            clear();
            break;
        default:
            break;
        }
    }
    return 0;
}

} // namespace

int SCHART_MEA_R1_CALLBACK(int panel, int control, int event, void*, int item, int) {
    return StripChartEvent(panel, control, event, item, ClearMeasureGraphR1);
}
int SCHART_MEA_R2_CALLBACK(int panel, int control, int event, void*, int item, int) {
    return StripChartEvent(panel, control, event, item, ClearMeasureGraphR2);
}
int SCHART_MEA_R3_CALLBACK(int panel, int control, int event, void*, int item, int) {
    return StripChartEvent(panel, control, event, item, ClearMeasureGraphR3);
}
int SCHART_MEA_R4_CALLBACK(int panel, int control, int event, void*, int item, int) {
    return StripChartEvent(panel, control, event, item, ClearMeasureGraphR4);
}
