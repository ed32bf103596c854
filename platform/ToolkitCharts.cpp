// The toolkit functions of strip charts and the graph, and their test access.
#include "platform/Toolkit.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <algorithm>
#include <string>
#include <vector>

#include "platform/ChartWidgets.h"
#include "platform/ToolkitInternal.h"

using namespace toolkit;

// ---- strip charts and graph --------------------------------------------------------

int PlotStripChart(int panel, int control, const void* array, int numberOfPoints, int startingIndex,
                   int skipCount, int dataType) {
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    if (!chart) {
        return UIE_BAD_CONTROL;
    }
    if (dataType != VAL_DOUBLE || !array || numberOfPoints < 0 || startingIndex < 0 ||
        skipCount < 0) {
        return UIE_BAD_ATTRIBUTE;
    }
    const auto* values = static_cast<const double*>(array);
    std::vector<double> taken;
    taken.reserve(numberOfPoints);
    for (int i = 0; i < numberOfPoints; ++i) {
        taken.push_back(values[startingIndex + i * (skipCount + 1)]);
    }
    chart->appendPoints(taken.data(), numberOfPoints);
    return 0;
}

int ClearStripChart(int panel, int control) {
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    if (!chart) {
        return UIE_BAD_CONTROL;
    }
    chart->clearPoints();
    return 0;
}

int DeleteGraphPlot(int panel, int control, int plotHandle, int refresh) {
    (void)plotHandle;
    (void)refresh;
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    if (!graph) {
        return UIE_BAD_CONTROL;
    }
    graph->deleteAllPlots();
    return 0;
}

int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max) {
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    if (!graph) {
        return UIE_BAD_CONTROL;
    }
    if (axis != VAL_LEFT_YAXIS) {
        return UIE_BAD_ATTRIBUTE;
    }
    graph->setYRange(min, max, mode == VAL_AUTOSCALE);
    return 0;
}

int PlotWaveform(int panel, int control, const void* yArray, int numberOfPoints, int dataType,
                 double yGain, double yOffset, double initialX, double xIncrement, int plotStyle,
                 int pointStyle, int lineStyle, int pointFrequency, int color) {
    (void)plotStyle;
    (void)pointStyle;
    (void)lineStyle;
    (void)pointFrequency;
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    if (!graph) {
        return UIE_BAD_CONTROL;
    }
    if (dataType != VAL_DOUBLE || !yArray || numberOfPoints < 0) {
        return UIE_BAD_ATTRIBUTE;
    }
    return graph->plot(static_cast<const double*>(yArray), numberOfPoints, yGain, yOffset, initialX,
                       xIncrement, QColor((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF));
}

int SetStripChartText(int panel, int control, int item, const char* text) {
    static_assert(CHART_MENU_SAVE_IMAGE == int(Vx52StripChart::MenuSaveImage) &&
                  CHART_MENU_SAVE_DATA == int(Vx52StripChart::MenuSaveData) &&
                  CHART_MENU_PAUSE == int(Vx52StripChart::MenuPause) &&
                  CHART_MENU_RESUME == int(Vx52StripChart::MenuResume) &&
                  CHART_MENU_CLEAR == int(Vx52StripChart::MenuClear));
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    if (!chart) {
        return UIE_BAD_CONTROL;
    }
    if (item == CHART_TEXT_HINT) {
        chart->setHint(ToQ(text));
    } else if ((item >= CHART_MENU_SAVE_IMAGE && item <= CHART_MENU_RESUME) ||
               item == CHART_MENU_CLEAR) {
        chart->setMenuText(item, ToQ(text));
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

int GetStripChartSlots(int panel, int control, std::vector<StripChartSlot>* out) {
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    if (!chart || !out) {
        return UIE_BAD_CONTROL;
    }
    const std::vector<Vx52ChartSlot> shown = chart->shownSlots();
    out->clear();
    for (const Vx52ChartSlot& s : shown) {
        out->push_back({s.value, (s.monoMs - shown.back().monoMs) / 1000.0, s.epochMs});
    }
    return static_cast<int>(out->size());
}

int GetCtrlImagePng(int panel, int control, std::string* png) {
    QWidget* w = FindCtrl(panel, control);
    if (!w || !png) {
        return UIE_BAD_CONTROL;
    }
    auto* chart = qobject_cast<Vx52StripChart*>(w);
    const QImage image = chart ? chart->exportImage() : w->grab().toImage();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG")) {
        return UIE_BAD_ATTRIBUTE;
    }
    png->assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    return 0;
}

int UiStripChartPointCount(int panel, int control) {
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    return chart ? static_cast<int>(chart->values().size()) : UIE_BAD_CONTROL;
}

int UiStripChartPoints(int panel, int control, double* out, int maxPoints) {
    auto* chart = qobject_cast<Vx52StripChart*>(FindCtrl(panel, control));
    if (!chart) {
        return UIE_BAD_CONTROL;
    }
    const std::vector<double> pts = chart->values();
    const int n = std::min<int>(maxPoints, static_cast<int>(pts.size()));
    std::copy(pts.end() - n, pts.end(), out);
    return n;
}

int UiGraphPlotCount(int panel, int control) {
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    return graph ? graph->plotCount() : UIE_BAD_CONTROL;
}

int UiGraphPlotPoints(int panel, int control, double* out, int maxPoints) {
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    if (!graph || graph->plotCount() < 1) {
        return UIE_BAD_CONTROL;
    }
    const auto values = graph->plotValues(graph->plotCount() - 1);
    const int n = std::min<int>(maxPoints, static_cast<int>(values.size()));
    std::copy(values.begin(), values.begin() + n, out);
    return n;
}

int UiGraphAxisRange(int panel, int control, double* min, double* max) {
    auto* graph = qobject_cast<Vx52Graph*>(FindCtrl(panel, control));
    if (!graph) {
        return UIE_BAD_CONTROL;
    }
    *min = graph->yMin();
    *max = graph->yMax();
    return 0;
}
