#include "platform/ToolkitWidgets.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <cmath>

// ---- Vx52Lamp ---------------------------------------------------------------

// The colour of the focus frame in the panels' style sheets.
const QColor kFocusColor(0x3d, 0xb8, 0xff);

Vx52Lamp::Vx52Lamp(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void Vx52Lamp::setValue(bool on) {
    if (on != value_) {
        value_ = on;
        update();
    }
}

void Vx52Lamp::setOnColor(const QColor& c) {
    onColor_ = c;
    update();
}

void Vx52Lamp::setOffColor(const QColor& c) {
    offColor_ = c;
    update();
}

void Vx52Lamp::setText(const QString& t) {
    text_ = t;
    update();
}

void Vx52Lamp::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        update();
    }
    QWidget::changeEvent(event);
}

void Vx52Lamp::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // A lamp the keyboard can reach keeps a margin for its focus ring.
    const int ring = focusPolicy() & Qt::TabFocus ? 6 : 0;
    const int d = std::min(width(), height()) - 2 - 2 * ring;
    const QRectF circle((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    if (hasFocus()) {
        const double inset = ring - 2.0;
        p.setPen(QPen(kFocusColor, 3));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(circle.adjusted(-inset, -inset, inset, inset));
    }
    QColor base = value_ ? onColor_ : offColor_;
    if (!isEnabled()) {
        base = base.darker(160);
    }
    QRadialGradient g(circle.center() - QPointF(d * 0.15, d * 0.15), d * 0.6);
    g.setColorAt(0.0, value_ ? base.lighter(170) : base.lighter(120));
    g.setColorAt(1.0, base);
    p.setPen(QPen(QColor(0x10, 0x10, 0x10), std::max(1.0, d / 14.0)));
    p.setBrush(g);
    p.drawEllipse(circle);
    if (!text_.isEmpty()) {
        QFont f = font();
        f.setBold(true);
        f.setPixelSize(std::max(8, d / 7));
        p.setFont(f);
        p.setPen(value_ ? QColor(0x10, 0x10, 0x10) : QColor(0xd0, 0xd0, 0xd0));
        p.drawText(circle, Qt::AlignCenter, text_);
    }
}

// ---- Vx52Meter --------------------------------------------------------------

Vx52Meter::Vx52Meter(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
}

void Vx52Meter::setValue(double v) {
    value_ = v;
    update();
}

void Vx52Meter::setPrecision(int p) {
    precision_ = std::clamp(p, 0, 15);
    update();
}

void Vx52Meter::setUnit(const QString& u) {
    unit_ = u;
    update();
}

void Vx52Meter::setCaption(const QString& c) {
    caption_ = c;
    update();
}

void Vx52Meter::setDigitColor(const QColor& c) {
    digitColor_ = c;
    update();
}

QString Vx52Meter::displayText() const {
    return QString::number(value_, 'f', precision_);
}

void Vx52Meter::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    p.setPen(QPen(QColor(0x50, 0x58, 0x60), 1));
    p.setBrush(QColor(0x10, 0x14, 0x18));
    p.drawRoundedRect(r, 6, 6);

    QFont capFont = font();
    capFont.setPixelSize(std::max(10, height() / 6));
    p.setFont(capFont);
    p.setPen(QColor(0xa0, 0xa8, 0xb0));
    p.drawText(r.adjusted(8, 4, -8, 0), Qt::AlignLeft | Qt::AlignTop, caption_);

    QFont unitFont = font();
    unitFont.setPixelSize(std::max(12, height() / 4));
    unitFont.setBold(true);
    const QFontMetrics um(unitFont);
    const int unitWidth = um.horizontalAdvance(unit_) + 10;

    QFont digitFont = font();
    digitFont.setFamily(QStringLiteral("DejaVu Sans Mono"));
    digitFont.setBold(true);
    digitFont.setPixelSize(std::max(14, int(height() * 0.52)));
    p.setFont(digitFont);
    p.setPen(isEnabled() ? digitColor_ : digitColor_.darker(200));
    const QRectF digits = r.adjusted(6, height() * 0.22, -unitWidth - 4, -2);
    p.drawText(digits, Qt::AlignRight | Qt::AlignVCenter, displayText());

    p.setFont(unitFont);
    p.setPen(QColor(0xc8, 0xd0, 0xd8));
    p.drawText(QRectF(r.right() - unitWidth - 2, digits.top(), unitWidth, digits.height()),
               Qt::AlignLeft | Qt::AlignVCenter, unit_);
    QFrame::paintEvent(event);
}

// ---- chart styling shared by the strip charts and the graph -----------------

namespace {

void StyleView(QChartView* view) {
    view->setFrameShape(QFrame::NoFrame);
    view->setBackgroundBrush(QColor(0x1b, 0x1f, 0x24));
    view->setStyleSheet(QStringLiteral("background: transparent;"));
}

void StyleChart(QChart* chart) {
    chart->setBackgroundBrush(QColor(0x14, 0x18, 0x1c));
    chart->setBackgroundRoundness(4);
    chart->setMargins(QMargins(2, 2, 6, 2));
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    QFont tf = chart->titleFont();
    tf.setPixelSize(12);
    tf.setBold(true);
    chart->setTitleFont(tf);
    chart->setTitleBrush(QColor(0xd0, 0xd8, 0xe0));
}

void StyleAxis(QValueAxis* axis) {
    QFont f = axis->labelsFont();
    f.setPixelSize(10);
    axis->setLabelsFont(f);
    axis->setLabelsColor(QColor(0xa0, 0xa8, 0xb0));
    axis->setGridLineColor(QColor(0x30, 0x38, 0x40));
    axis->setLinePenColor(QColor(0x60, 0x68, 0x70));
    axis->setMinorGridLineVisible(false);
}

} // namespace

// ---- Vx52StripChart ---------------------------------------------------------

Vx52StripChart::Vx52StripChart(QWidget* parent)
    // Built around its own chart: a chart replaced later is released, not deleted.
    : QChartView(new QChart, parent), chart_(QChartView::chart()), series_(new QLineSeries),
      axisX_(new QValueAxis), axisY_(new QValueAxis) {
    StyleChart(chart_);
    chart_->addSeries(series_);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    series_->attachAxis(axisX_);
    series_->attachAxis(axisY_);
    StyleAxis(axisX_);
    StyleAxis(axisY_);
    axisX_->setLabelsVisible(false);
    axisX_->setTickCount(7);
    axisY_->setTickCount(5);
    axisY_->setLabelFormat(QStringLiteral("%g"));
    setTraceColor(traceColor_);
    StyleView(this);
    setRenderHint(QPainter::Antialiasing, false);
    updateAxes();
}

void Vx52StripChart::setPointsPerScreen(int n) {
    pointsPerScreen_ = std::max(2, n);
    while (static_cast<int>(points_.size()) > pointsPerScreen_) {
        points_.pop_front();
    }
    updateAxes();
    redrawSeries();
}

void Vx52StripChart::setYMin(double v) {
    yMin_ = v;
    updateAxes();
}

void Vx52StripChart::setYMax(double v) {
    yMax_ = v;
    updateAxes();
}

void Vx52StripChart::setTraceColor(const QColor& c) {
    traceColor_ = c;
    QPen pen(c);
    pen.setWidthF(1.5);
    series_->setPen(pen);
}

void Vx52StripChart::setTitle(const QString& t) {
    title_ = t;
    chart_->setTitle(t);
}

void Vx52StripChart::appendPoints(const double* values, int count) {
    for (int i = 0; i < count; ++i) {
        points_.push_back(values[i]);
    }
    while (static_cast<int>(points_.size()) > pointsPerScreen_) {
        points_.pop_front();
    }
    redrawSeries();
}

void Vx52StripChart::clearPoints() {
    points_.clear();
    redrawSeries();
}

void Vx52StripChart::redrawSeries() {
    // Points sit at fixed x positions 0..n-1 and move left as new ones arrive,
    // so the axes never change while the trace scrolls: only the line is redrawn.
    QList<QPointF> pts;
    pts.reserve(static_cast<qsizetype>(points_.size()));
    double x = 0.0;
    for (double v : points_) {
        pts.append(QPointF(x, v));
        x += 1.0;
    }
    series_->replace(pts);
}

void Vx52StripChart::updateAxes() {
    axisX_->setRange(0, pointsPerScreen_ - 1);
    axisY_->setRange(yMin_, yMax_);
}

// ---- Vx52Graph ----------------------------------------------------------------

Vx52Graph::Vx52Graph(QWidget* parent)
    : QChartView(new QChart, parent), chart_(QChartView::chart()), axisX_(new QValueAxis),
      axisY_(new QValueAxis) {
    StyleChart(chart_);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    StyleAxis(axisX_);
    StyleAxis(axisY_);
    axisX_->setRange(0, 179);
    axisX_->setLabelFormat(QStringLiteral("%d"));
    axisX_->setTickCount(7);
    axisY_->setRange(-450, 450);
    axisY_->setTickCount(7);
    axisY_->setLabelFormat(QStringLiteral("%d"));
    StyleView(this);
    setRenderHint(QPainter::Antialiasing, true);
}

double Vx52Graph::yMin() const { return axisY_->min(); }
void Vx52Graph::setYMin(double v) { axisY_->setMin(v); }
double Vx52Graph::yMax() const { return axisY_->max(); }
void Vx52Graph::setYMax(double v) { axisY_->setMax(v); }
double Vx52Graph::xMax() const { return axisX_->max(); }
void Vx52Graph::setXMax(double v) { axisX_->setMax(v); }

void Vx52Graph::setTitle(const QString& t) {
    title_ = t;
    chart_->setTitle(t);
}

void Vx52Graph::setYRange(double min, double max, bool autoscale) {
    if (autoscale) {
        double lo = 0, hi = 0;
        bool first = true;
        for (auto* s : chart_->series()) {
            for (const QPointF& p : static_cast<QLineSeries*>(s)->points()) {
                lo = first ? p.y() : std::min(lo, p.y());
                hi = first ? p.y() : std::max(hi, p.y());
                first = false;
            }
        }
        if (!first && hi > lo) {
            axisY_->setRange(lo, hi);
        }
        return;
    }
    axisY_->setRange(min, max);
}

void Vx52Graph::deleteAllPlots() {
    chart_->removeAllSeries();
}

int Vx52Graph::plot(const double* y, int n, double yGain, double yOffset, double x0, double dx,
                    const QColor& color) {
    auto* series = new QLineSeries;
    QList<QPointF> pts;
    pts.reserve(n);
    for (int i = 0; i < n; ++i) {
        pts.append(QPointF(x0 + i * dx, y[i] * yGain + yOffset));
    }
    series->replace(pts);
    QPen pen(color);
    pen.setWidthF(2.0);
    series->setPen(pen);
    chart_->addSeries(series);
    series->attachAxis(axisX_);
    series->attachAxis(axisY_);
    return nextPlotHandle_++;
}

int Vx52Graph::plotCount() const { return static_cast<int>(chart_->series().size()); }

std::vector<double> Vx52Graph::plotValues(int index) const {
    std::vector<double> out;
    const auto list = chart_->series();
    if (index < 0 || index >= list.size()) {
        return out;
    }
    for (const QPointF& p : static_cast<QLineSeries*>(list[index])->points()) {
        out.push_back(p.y());
    }
    return out;
}

// ---- Vx52Picture ------------------------------------------------------------

Vx52Picture::Vx52Picture(QWidget* parent) : QWidget(parent) {}

void Vx52Picture::setImage(const QString& path) {
    image_ = path;
    pixmap_.load(path);
    scaled_ = QPixmap();
    update();
}

void Vx52Picture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (pixmap_.isNull()) {
        return;
    }
    // Drawn at the control's height and clipped by its width, so a narrower
    // control reveals the picture from the left. The scaled copy is kept
    // because the logo animation repaints ten times a second.
    if (scaled_.height() != height()) {
        scaled_ = pixmap_.scaledToHeight(height(), Qt::SmoothTransformation);
    }
    p.drawPixmap(0, 0, scaled_);
}

// ---- Vx52Timer ----------------------------------------------------------------

Vx52Timer::Vx52Timer(QWidget* parent) : QWidget(parent) {
    setVisible(false);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, &Vx52Timer::tick);
    timer_.start();
}

void Vx52Timer::setEnabledTimer(bool on) {
    if (on) {
        timer_.start();
    } else {
        timer_.stop();
    }
}
