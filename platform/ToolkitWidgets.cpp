#include "platform/ToolkitWidgets.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

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

void Vx52Lamp::setStale(bool stale) {
    if (stale != stale_) {
        stale_ = stale;
        update();
    }
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
    if (stale_) {
        // Greyed as well as darker: a state no longer confirmed, not a lamp turned down.
        base = QColor::fromHsv(base.hue(), base.saturation() / 3, base.value() / 2);
    }
    QRadialGradient g(circle.center() - QPointF(d * 0.15, d * 0.15), d * 0.6);
    g.setColorAt(0.0, value_ && !stale_ ? base.lighter(170) : base.lighter(120));
    g.setColorAt(1.0, base);
    p.setPen(QPen(QColor(0x10, 0x10, 0x10), std::max(1.0, d / 14.0)));
    p.setBrush(g);
    p.drawEllipse(circle);
    if (!text_.isEmpty()) {
        QFont f = font();
        f.setBold(true);
        f.setPixelSize(std::max(8, d / 7));
        p.setFont(f);
        QColor ink = value_ ? QColor(0x10, 0x10, 0x10) : QColor(0xd0, 0xd0, 0xd0);
        if (stale_) {
            ink = value_ ? ink : ink.darker(160);
        }
        p.setPen(ink);
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

void Vx52Meter::setStale(bool stale) {
    if (stale != stale_) {
        stale_ = stale;
        update();
    }
}

QString Vx52Meter::displayText() const {
    return stale_ ? QStringLiteral("---") : QString::number(value_, 'f', precision_);
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
    p.setPen(isEnabled() && !stale_ ? digitColor_ : digitColor_.darker(200));
    const QRectF digits = r.adjusted(6, height() * 0.22, -unitWidth - 4, -2);
    p.drawText(digits, Qt::AlignRight | Qt::AlignVCenter, displayText());

    p.setFont(unitFont);
    p.setPen(QColor(0xc8, 0xd0, 0xd8));
    p.drawText(QRectF(r.right() - unitWidth - 2, digits.top(), unitWidth, digits.height()),
               Qt::AlignLeft | Qt::AlignVCenter, unit_);
    QFrame::paintEvent(event);
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
