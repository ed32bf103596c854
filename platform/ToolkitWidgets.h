// Widgets of the toolkit that Qt lacks: round lamps, meters, the picture
// control and the timer control (the charts are in ChartWidgets.h). The layout
// names them by class; the panel loader builds them.
#pragma once

#include <QColor>
#include <QFrame>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>

// A round indicator, clearly lit or unlit.
class Vx52Lamp : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool value READ value WRITE setValue)
    Q_PROPERTY(QColor onColor READ onColor WRITE setOnColor)
    Q_PROPERTY(QColor offColor READ offColor WRITE setOffColor)
    Q_PROPERTY(QString text READ text WRITE setText)

  public:
    explicit Vx52Lamp(QWidget* parent = nullptr);
    bool value() const { return value_; }
    void setValue(bool on);
    QColor onColor() const { return onColor_; }
    void setOnColor(const QColor& c);
    QColor offColor() const { return offColor_; }
    void setOffColor(const QColor& c);
    QString text() const { return text_; }
    void setText(const QString& t);
    // Drawn dimmed, as a state that is no longer confirmed; clicks still count.
    bool stale() const { return stale_; }
    void setStale(bool stale);
    QSize sizeHint() const override { return {24, 24}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    bool value_ = false;
    bool stale_ = false;
    QColor onColor_{0x3c, 0xe0, 0x3c};
    QColor offColor_{0x2a, 0x3a, 0x2a};
    QString text_;
};

// A numeric display with a fixed number of decimals and a unit.
class Vx52Meter : public QFrame {
    Q_OBJECT
    Q_PROPERTY(double value READ value WRITE setValue)
    Q_PROPERTY(int precision READ precision WRITE setPrecision)
    Q_PROPERTY(QString unit READ unit WRITE setUnit)
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(QColor digitColor READ digitColor WRITE setDigitColor)

  public:
    explicit Vx52Meter(QWidget* parent = nullptr);
    double value() const { return value_; }
    void setValue(double v);
    int precision() const { return precision_; }
    void setPrecision(int p);
    QString unit() const { return unit_; }
    void setUnit(const QString& u);
    QString caption() const { return caption_; }
    void setCaption(const QString& c);
    QColor digitColor() const { return digitColor_; }
    void setDigitColor(const QColor& c);
    // No number: "---" in the digits' font and colour, dimmed, whatever the value.
    bool stale() const { return stale_; }
    void setStale(bool stale);
    QString displayText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double value_ = 0.0;
    bool stale_ = false;
    int precision_ = 1;
    QString unit_;
    QString caption_;
    QColor digitColor_{0x40, 0xff, 0x80};
};

// A picture drawn at its natural size and clipped to the control's width.
class Vx52Picture : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString image READ image WRITE setImage)

  public:
    explicit Vx52Picture(QWidget* parent = nullptr);
    QString image() const { return image_; }
    void setImage(const QString& path);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString image_;
    QPixmap pixmap_;
    QPixmap scaled_;
};

// The timer control: invisible, delivers a tick every interval milliseconds.
class Vx52Timer : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int interval READ interval WRITE setInterval)
    Q_PROPERTY(bool enabledTimer READ enabledTimer WRITE setEnabledTimer)

  public:
    explicit Vx52Timer(QWidget* parent = nullptr);
    int interval() const { return timer_.interval(); }
    void setInterval(int ms) { timer_.setInterval(ms); }
    bool enabledTimer() const { return timer_.isActive(); }
    void setEnabledTimer(bool on);

  signals:
    void tick();

  private:
    QTimer timer_;
};
