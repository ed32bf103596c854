#include "platform/ChartWidgets.h"

#include <QContextMenuEvent>
#include <QDateTime>
#include <QEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iterator>

// ---- drawing shared by the strip charts and the graph -----------------------

namespace {

const QColor kViewColor(0x1b, 0x1f, 0x24);
const QColor kPlotColor(0x14, 0x18, 0x1c);
const QColor kGridColor(0x30, 0x38, 0x40);
const QColor kAxisColor(0x60, 0x68, 0x70);
const QColor kLabelColor(0xa8, 0xb0, 0xb8);
const QColor kTitleColor(0xd0, 0xd8, 0xe0);

// A tick: where it sits between the low end (0) and the high end (1) of its axis.
struct Tick {
    double at;
    QString label;
};

std::vector<Tick> EvenTicks(double lo, double hi, int count, char format, int digits) {
    std::vector<Tick> ticks;
    for (int i = 0; i < count; ++i) {
        const double f = double(i) / (count - 1);
        double v = lo + f * (hi - lo);
        if (std::fabs(v) < 1e-9 * std::max(1.0, std::fabs(hi - lo))) {
            v = 0.0; // no "-0" or "1e-17" at the origin
        }
        ticks.push_back({f, QString::number(v, format, digits)});
    }
    return ticks;
}

// Ticks from 0 at a round step (1, 2, 2.5, 3 or 5 times a power of ten), at
// most `most` of them up to hi.
std::vector<Tick> RoundTicks(double hi, int most) {
    std::vector<Tick> ticks;
    if (!(hi > 0.0)) {
        return ticks;
    }
    const double decade = std::pow(10.0, std::floor(std::log10(hi / most)));
    double step = 10.0 * decade;
    for (double m : {1.0, 2.0, 2.5, 3.0, 5.0}) {
        if (hi / (m * decade) < most) {
            step = m * decade;
            break;
        }
    }
    for (int i = 0; i * step <= hi + 1e-9 * hi; ++i) {
        ticks.push_back({i * step / hi, QString::number(i * step, 'g', 6)});
    }
    return ticks;
}

// Whole steps of seconds between time labels, at most six across the span.
std::vector<Tick> TimeTicks(double span) {
    static const double kSteps[] = {0.5, 1, 2, 5, 10, 15, 20, 30, 60, 120, 300, 600, 1800, 3600};
    double step = kSteps[std::size(kSteps) - 1];
    for (double s : kSteps) {
        if (span / s <= 6.0 + 1e-9) {
            step = s;
            break;
        }
    }
    std::vector<Tick> ticks;
    for (int i = 0; i * step <= span + 1e-9; ++i) {
        const double t = i * step;
        const QString label =
            i == 0 ? QStringLiteral("0 s") : QStringLiteral("\u2212") + QString::number(t, 'g', 6);
        ticks.push_back({1.0 - t / span, label});
    }
    return ticks;
}

QFont ChartFont(const QFont& base, int pixels, bool bold) {
    QFont f = base;
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// Draws the frame, title, grid and labels into a picture of the whole widget
// and returns the plot area, or an empty rectangle when the widget is too small.
QRect DrawChartFrame(QPixmap* out, const QWidget* widget, const QString& title,
                     const std::vector<Tick>& yTicks, const std::vector<Tick>& xTicks) {
    // Drawn at the screen's own resolution, so the text stays sharp on a
    // scaled screen.
    const QSize size = widget->size().expandedTo(QSize(1, 1));
    const qreal dpr = widget->devicePixelRatioF();
    *out = QPixmap(size * dpr);
    out->setDevicePixelRatio(dpr);
    out->fill(kViewColor);
    const QFont& base = widget->font();
    const QFont labelFont = ChartFont(base, 10, false);
    const QFont titleFont = ChartFont(base, 12, true);
    const QFontMetrics lm(labelFont);
    int labelWidth = 0;
    for (const Tick& t : yTicks) {
        labelWidth = std::max(labelWidth, lm.horizontalAdvance(t.label));
    }
    const int top = title.isEmpty() ? 10 : QFontMetrics(titleFont).height() + 8;
    const QRect plot(QPoint(13 + labelWidth, top),
                     QPoint(size.width() - 13, size.height() - lm.height() - 8));

    QPainter p(out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kPlotColor);
    p.drawRoundedRect(QRectF(1, 1, size.width() - 2, size.height() - 2), 4, 4);
    p.setRenderHint(QPainter::Antialiasing, false);
    if (!title.isEmpty()) {
        p.setFont(titleFont);
        p.setPen(kTitleColor);
        p.drawText(QRect(0, 3, size.width(), top - 6), Qt::AlignCenter, title);
    }
    if (plot.width() < 4 || plot.height() < 4) {
        return {};
    }
    p.setFont(labelFont);
    for (const Tick& t : yTicks) {
        const int y = plot.bottom() - int(std::lround(t.at * (plot.height() - 1)));
        p.setPen(kGridColor);
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(kLabelColor);
        p.drawText(QRect(2, y - lm.height() / 2, plot.left() - 7, lm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, t.label);
    }
    for (const Tick& t : xTicks) {
        const int x = plot.left() + int(std::lround(t.at * (plot.width() - 1)));
        p.setPen(kGridColor);
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.setPen(kAxisColor);
        p.drawLine(x, plot.bottom() + 1, x, plot.bottom() + 3);
        // Centred under its tick, but never past the frame.
        const int w = lm.horizontalAdvance(t.label) + 2;
        const int left = std::clamp(x - w / 2, 2, std::max(2, size.width() - 2 - w));
        p.setPen(kLabelColor);
        p.drawText(QRect(left, plot.bottom() + 4, w, lm.height()), Qt::AlignCenter, t.label);
    }
    p.setPen(kAxisColor);
    p.drawLine(plot.bottomLeft(), plot.bottomRight());
    p.drawLine(plot.topLeft(), plot.bottomLeft());
    return plot;
}

// Whether a picture drawn by DrawChartFrame still fits the widget.
bool PictureFits(const QPixmap& picture, const QWidget* widget) {
    return picture.devicePixelRatio() == widget->devicePixelRatioF() &&
           picture.deviceIndependentSize() == QSizeF(widget->size().expandedTo(QSize(1, 1)));
}

// Paints the parts of a cached picture that a paint event asks for.
void PaintPicture(QPainter& p, const QPixmap& picture, const QRegion& region) {
    const qreal dpr = picture.devicePixelRatio();
    for (const QRect& r : region) {
        p.drawPixmap(QRectF(r), picture,
                     QRectF(r.x() * dpr, r.y() * dpr, r.width() * dpr, r.height() * dpr));
    }
}

// Moves an image's pixels left by whole columns; the columns freed are cleared.
void ShiftLeft(QImage* image, int columns) {
    const int w = image->width();
    if (columns >= w) {
        image->fill(Qt::transparent);
        return;
    }
    const size_t px = sizeof(quint32);
    for (int y = 0; y < image->height(); ++y) {
        auto* row = image->scanLine(y);
        std::memmove(row, row + columns * px, (w - columns) * px);
        std::memset(row + (w - columns) * px, 0, columns * px);
    }
}

qint64 MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

// ---- Vx52StripChart ---------------------------------------------------------

void Vx52StripChart::Ring::reset(int capacity) {
    cells.assign(std::max(1, capacity), Vx52ChartSlot{});
    taken = 0;
}

void Vx52StripChart::Ring::resize(int capacity) {
    Ring fresh;
    fresh.reset(capacity);
    for (qint64 seq = std::max<qint64>(0, taken - capacity); seq < taken; ++seq) {
        if (const Vx52ChartSlot* s = at(seq)) {
            fresh.cells[seq % capacity] = *s;
        }
    }
    fresh.taken = taken;
    *this = std::move(fresh);
}

void Vx52StripChart::Ring::push(const Vx52ChartSlot& slot) {
    cells[taken % qint64(cells.size())] = slot;
    ++taken;
}

const Vx52ChartSlot* Vx52StripChart::Ring::at(qint64 seq) const {
    if (seq < 0 || seq >= taken || seq < taken - qint64(cells.size())) {
        return nullptr;
    }
    return &cells[seq % qint64(cells.size())];
}

Vx52StripChart::Vx52StripChart(QWidget* parent) : QWidget(parent) {
    // Every pixel comes from the cached pictures: nothing to clear first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    live_.reset(pointsPerScreen_ + 1);
    menuText_[MenuSaveImage] = QStringLiteral("Save Image...");
    menuText_[MenuSaveData] = QStringLiteral("Save Data...");
    menuText_[MenuPause] = QStringLiteral("Pause");
    menuText_[MenuResume] = QStringLiteral("Resume");
    menuText_[MenuClear] = QStringLiteral("Clear");
    // The tip in the panel's colours, on an opaque background of its own.
    setStyleSheet(QStringLiteral("QToolTip { color: #e8eef4; background-color: #262d34; "
                                 "border: 1px solid #6a7886; padding: 2px; }"));
}

void Vx52StripChart::setPointsPerScreen(int n) {
    pointsPerScreen_ = std::max(2, n);
    live_.resize(pointsPerScreen_ + 1);
    frozen_.resize(pointsPerScreen_ + 1);
    layoutStale_ = true;
    update();
}

void Vx52StripChart::setYMin(double v) {
    yMin_ = v;
    layoutStale_ = true;
    update();
}

void Vx52StripChart::setYMax(double v) {
    yMax_ = v;
    layoutStale_ = true;
    update();
}

void Vx52StripChart::setTraceColor(const QColor& c) {
    traceColor_ = c;
    layoutStale_ = true;
    update();
}

void Vx52StripChart::setTitle(const QString& t) {
    title_ = t;
    layoutStale_ = true;
    update();
}

void Vx52StripChart::setPointInterval(double seconds) {
    if (seconds > 0.0) {
        pointInterval_ = seconds;
        layoutStale_ = true;
        update();
    }
}

void Vx52StripChart::setUnit(const QString& u) {
    unit_ = u;
}

void Vx52StripChart::setPrecision(int digits) {
    precision_ = std::clamp(digits, 0, 15);
}

void Vx52StripChart::setMenuText(int item, const QString& text) {
    if (item > 0 && item < MenuItemCount && item != MenuClear - 1) {
        menuText_[item] = text;
    }
}

qint64 Vx52StripChart::firstShown(const Ring& ring) const {
    return std::max<qint64>(0, ring.taken - pointsPerScreen_);
}

int Vx52StripChart::columnOf(qint64 seq, qint64 newest) const {
    // Slot k belongs at floor(k * width / points): each new slot moves every
    // older one by the same whole number of pixels, so the picture is shifted,
    // never redrawn.
    const qint64 w = plot_.width();
    const qint64 shift = newest * w / pointsPerScreen_ - seq * w / pointsPerScreen_;
    return int(std::max<qint64>(-1, w - 1 - shift));
}

int Vx52StripChart::rowOf(double value) const {
    const double range = yMax_ > yMin_ ? yMax_ - yMin_ : 1.0;
    const int h = plot_.height();
    // Counted from the bottom, as the grid lines are: a value on a grid line
    // is drawn on it. Far-off values still leave the plot in their direction.
    const double up = std::clamp((value - yMin_) / range * (h - 1), -4.0 * h, 5.0 * h);
    return h - 1 - int(std::lround(up));
}

QPen Vx52StripChart::tracePen() const {
    QPen pen(traceColor_, 1);
    pen.setCosmetic(true);
    return pen;
}

void Vx52StripChart::drawSegment(QPainter& p, const Ring& ring, qint64 seq) const {
    const Vx52ChartSlot* cur = ring.at(seq);
    if (!cur || std::isnan(cur->value)) {
        return;
    }
    const qint64 newest = ring.taken - 1;
    const QPoint here(columnOf(seq, newest), rowOf(cur->value));
    const Vx52ChartSlot* prev = ring.at(seq - 1);
    if (prev && !std::isnan(prev->value)) {
        p.drawLine(QPoint(columnOf(seq - 1, newest), rowOf(prev->value)), here);
    } else {
        p.drawPoint(here); // a lone point after a gap still shows
    }
}

void Vx52StripChart::ensureLayout() {
    if (!layoutStale_ && PictureFits(background_, this)) {
        return;
    }
    layoutStale_ = false;
    plot_ = DrawChartFrame(&background_, this, title_, EvenTicks(yMin_, yMax_, 5, 'g', 6),
                           TimeTicks(pointsPerScreen_ * pointInterval_));
    rebuildTrace();
}

void Vx52StripChart::rebuildTrace() {
    if (plot_.isEmpty()) {
        trace_ = QImage();
        return;
    }
    trace_ = QImage(plot_.size(), QImage::Format_ARGB32_Premultiplied);
    trace_.fill(Qt::transparent);
    const Ring& ring = shown();
    QPainter p(&trace_);
    p.setPen(tracePen());
    for (qint64 seq = firstShown(ring); seq < ring.taken; ++seq) {
        drawSegment(p, ring, seq);
    }
}

void Vx52StripChart::appendPoints(const double* values, int count) {
    const qint64 mono = MonotonicMs();
    const qint64 wall = QDateTime::currentMSecsSinceEpoch();
    bool scrolled = false;
    for (int i = 0; i < count; ++i) {
        live_.push({values[i], mono, wall});
        if (paused_ || layoutStale_ || trace_.isNull()) {
            continue; // drawn in full when shown again
        }
        const qint64 newest = live_.taken - 1;
        const int shift = trace_.width() - 1 - columnOf(newest - 1, newest);
        if (newest > 0 && shift > 0) {
            ShiftLeft(&trace_, shift);
            scrolled = true;
        }
        QPainter p(&trace_);
        p.setPen(tracePen());
        drawSegment(p, live_, newest);
    }
    if (paused_ || count == 0) {
        return;
    }
    // Without a shift only the newest column has changed.
    update(scrolled || layoutStale_ ? plot_
                                    : QRect(plot_.right() - 1, plot_.top(), 2, plot_.height()));
}

void Vx52StripChart::clearPoints() {
    live_.reset(pointsPerScreen_ + 1);
    frozen_.reset(pointsPerScreen_ + 1);
    if (!layoutStale_) {
        rebuildTrace();
    }
    update();
}

void Vx52StripChart::setPaused(bool paused) {
    if (paused == paused_) {
        return;
    }
    if (paused) {
        frozen_ = live_;
    }
    paused_ = paused;
    if (!paused) {
        frozen_.reset(pointsPerScreen_ + 1);
        if (!layoutStale_) {
            rebuildTrace(); // what came meanwhile appears at once
        }
    }
    update();
}

std::vector<double> Vx52StripChart::values() const {
    std::vector<double> out;
    for (qint64 seq = firstShown(live_); seq < live_.taken; ++seq) {
        const double v = live_.at(seq)->value;
        if (!std::isnan(v)) {
            out.push_back(v);
        }
    }
    return out;
}

std::vector<Vx52ChartSlot> Vx52StripChart::shownSlots() const {
    const Ring& ring = shown();
    std::vector<Vx52ChartSlot> out;
    for (qint64 seq = firstShown(ring); seq < ring.taken; ++seq) {
        out.push_back(*ring.at(seq));
    }
    return out;
}

QImage Vx52StripChart::exportImage() {
    // The pause mark belongs to the screen, not to the picture of the data.
    exporting_ = true;
    const QImage image = grab().toImage();
    exporting_ = false;
    return image;
}

void Vx52StripChart::paintEvent(QPaintEvent* event) {
    ensureLayout();
    QPainter p(this);
    PaintPicture(p, background_, event->region());
    const QRect r = event->rect() & plot_;
    if (!trace_.isNull() && !r.isEmpty()) {
        p.drawImage(r.topLeft(), trace_, r.translated(-plot_.topLeft()));
    }
    if (paused_ && !exporting_ && !plot_.isEmpty()) {
        // Two bars at the top right: this picture stands still.
        p.setPen(QColor(0x10, 0x14, 0x18));
        p.setBrush(QColor(0xe8, 0xee, 0xf4));
        p.drawRect(plot_.right() - 14, plot_.top() + 4, 3, 10);
        p.drawRect(plot_.right() - 8, plot_.top() + 4, 3, 10);
    }
}

void Vx52StripChart::resizeEvent(QResizeEvent* event) {
    layoutStale_ = true;
    QWidget::resizeEvent(event);
}

void Vx52StripChart::contextMenuEvent(QContextMenuEvent* event) {
    if (!menu_) {
        menu_ = new QMenu(this);
        for (int item : {int(MenuSaveImage), int(MenuSaveData), 0, int(MenuPause), int(MenuResume),
                         int(MenuClear)}) {
            if (item == 0) {
                menu_->addSeparator();
                continue;
            }
            QAction* action = menu_->addAction(QString());
            action->setData(item);
            connect(action, &QAction::triggered, this, [this, item]() { emit menuChosen(item); });
        }
    }
    for (QAction* action : menu_->actions()) {
        if (action->isSeparator()) {
            continue;
        }
        const int item = action->data().toInt();
        action->setText(menuText_[item]);
        action->setVisible(item == MenuPause ? !paused_ : item == MenuResume ? paused_ : true);
    }
    // Not exec(): the 50 ms timer and the link keep running while it is open.
    menu_->popup(event->globalPos());
    event->accept();
}

QString Vx52StripChart::tipText(const QPoint& pos) const {
    const Ring& ring = shown();
    const qint64 newest = ring.taken - 1;
    if (!plot_.contains(pos) || ring.taken == 0) {
        return hint_;
    }
    // The slot drawn nearest to the pointer.
    const int column = pos.x() - plot_.left();
    const qint64 age = std::llround(double(plot_.width() - 1 - column) * pointsPerScreen_ /
                                    std::max(1, plot_.width()));
    const Vx52ChartSlot* slot = newest - age >= firstShown(ring) ? ring.at(newest - age) : nullptr;
    if (!slot) {
        return hint_;
    }
    const double seconds = (slot->monoMs - ring.at(newest)->monoMs) / 1000.0;
    QString text =
        (seconds < 0 ? QStringLiteral("\u2212") : QString()) +
        QString::number(std::fabs(seconds), 'f', 1) + QStringLiteral(" s  (") +
        QDateTime::fromMSecsSinceEpoch(slot->epochMs).toString(QStringLiteral("HH:mm:ss")) +
        QStringLiteral(")   ");
    text += std::isnan(slot->value) ? QStringLiteral("\u2014")
                                    : QString::number(slot->value, 'f', precision_) + ' ' + unit_;
    return hint_.isEmpty() ? text : text + '\n' + hint_;
}

bool Vx52StripChart::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        ensureLayout();
        const QString text = tipText(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
        } else {
            // Shown again with fresh figures once the pointer leaves its pixel.
            QToolTip::showText(help->globalPos(), text, this, QRect(help->pos(), QSize(1, 1)));
        }
        return true;
    }
    return QWidget::event(event);
}

// ---- Vx52Graph ----------------------------------------------------------------

Vx52Graph::Vx52Graph(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

void Vx52Graph::changed() {
    stale_ = true;
    update();
}

void Vx52Graph::setYMin(double v) {
    yMin_ = v;
    changed();
}

void Vx52Graph::setYMax(double v) {
    yMax_ = v;
    changed();
}

void Vx52Graph::setXMax(double v) {
    xMax_ = v;
    changed();
}

void Vx52Graph::setTitle(const QString& t) {
    title_ = t;
    changed();
}

void Vx52Graph::setYRange(double min, double max, bool autoscale) {
    if (autoscale) {
        bool any = false;
        for (const Plot& plot : plots_) {
            for (const QPointF& p : plot.points) {
                min = any ? std::min(min, p.y()) : p.y();
                max = any ? std::max(max, p.y()) : p.y();
                any = true;
            }
        }
        if (!any || !(max > min)) {
            return;
        }
    }
    yMin_ = min;
    yMax_ = max;
    changed();
}

void Vx52Graph::deleteAllPlots() {
    plots_.clear();
    changed();
}

int Vx52Graph::plot(const double* y, int n, double yGain, double yOffset, double x0, double dx,
                    const QColor& color) {
    Plot plot;
    plot.color = color;
    plot.points.reserve(n);
    for (int i = 0; i < n; ++i) {
        plot.points.emplace_back(x0 + i * dx, y[i] * yGain + yOffset);
    }
    plots_.push_back(std::move(plot));
    changed();
    return nextPlotHandle_++;
}

std::vector<double> Vx52Graph::plotValues(int index) const {
    std::vector<double> out;
    if (index >= 0 && index < plotCount()) {
        for (const QPointF& p : plots_[index].points) {
            out.push_back(p.y());
        }
    }
    return out;
}

void Vx52Graph::render() {
    stale_ = false;
    const QRect plot = DrawChartFrame(&cache_, this, title_, EvenTicks(yMin_, yMax_, 7, 'f', 0),
                                      RoundTicks(xMax_, 7));
    if (plot.isEmpty() || !(xMax_ > 0.0) || !(yMax_ > yMin_)) {
        return;
    }
    // Redrawn only when the settings change, so it may be smooth.
    QPainter p(&cache_);
    p.setClipRect(plot);
    p.setRenderHint(QPainter::Antialiasing);
    const double sx = (plot.width() - 1) / xMax_;
    const double sy = (plot.height() - 1) / (yMax_ - yMin_);
    for (const Plot& one : plots_) {
        QPolygonF line;
        line.reserve(qsizetype(one.points.size()));
        for (const QPointF& pt : one.points) {
            line.append(QPointF(plot.left() + pt.x() * sx, plot.bottom() - (pt.y() - yMin_) * sy));
        }
        p.setPen(QPen(one.color, 2.0));
        p.drawPolyline(line);
    }
}

void Vx52Graph::paintEvent(QPaintEvent* event) {
    if (stale_ || !PictureFits(cache_, this)) {
        render();
    }
    QPainter p(this);
    PaintPicture(p, cache_, event->region());
}

void Vx52Graph::resizeEvent(QResizeEvent* event) {
    stale_ = true;
    QWidget::resizeEvent(event);
}
