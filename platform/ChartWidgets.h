// The strip chart and the waveform graph: QPainter widgets that draw their
// frame, grid and labels once into a cached picture and only the trace anew.
// The layout names them by class; the panel loader builds them.
#pragma once

#include <QColor>
#include <QImage>
#include <QPen>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <vector>

class QMenu;
class QPainter;

// One time slot of a strip chart: the value measured then, or NaN when there
// was nothing to measure.
struct Vx52ChartSlot {
    double value;
    qint64 monoMs;  // steady clock: differences between slots stay true
    qint64 epochMs; // wall clock, for people reading the data later
};

// A strip chart with one trace. Each point fills the next time slot at the
// right edge and everything older moves left; a slot without a value leaves a
// gap. The frame, grid and labels are drawn once into a cached picture; the
// trace lives in an image of the plot area that is scrolled by whole pixels,
// so a new point costs the drawing of its own segment and one blit.
class Vx52StripChart : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int pointsPerScreen READ pointsPerScreen WRITE setPointsPerScreen)
    Q_PROPERTY(double yMin READ yMin WRITE setYMin)
    Q_PROPERTY(double yMax READ yMax WRITE setYMax)
    Q_PROPERTY(QColor traceColor READ traceColor WRITE setTraceColor)
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(double pointInterval READ pointInterval WRITE setPointInterval)
    Q_PROPERTY(QString unit READ unit WRITE setUnit)
    Q_PROPERTY(int precision READ precision WRITE setPrecision)

  public:
    // Context-menu entries, in the order shown; Pause and Resume share a place.
    // 5 is no entry (the toolkit's number for the tip's hint).
    enum MenuItem {
        MenuSaveImage = 1,
        MenuSaveData,
        MenuPause,
        MenuResume,
        MenuClear = 6,
        MenuItemCount
    };

    explicit Vx52StripChart(QWidget* parent = nullptr);
    int pointsPerScreen() const { return pointsPerScreen_; }
    void setPointsPerScreen(int n);
    double yMin() const { return yMin_; }
    void setYMin(double v);
    double yMax() const { return yMax_; }
    void setYMax(double v);
    QColor traceColor() const { return traceColor_; }
    void setTraceColor(const QColor& c);
    QString title() const { return title_; }
    void setTitle(const QString& t);
    double pointInterval() const { return pointInterval_; }
    void setPointInterval(double seconds);
    QString unit() const { return unit_; }
    void setUnit(const QString& u);
    int precision() const { return precision_; }
    void setPrecision(int digits);
    void setMenuText(int item, const QString& text);
    void setHint(const QString& text) { hint_ = text; }

    // NaN values take a slot without a value.
    void appendPoints(const double* values, int count);
    void clearPoints();
    // While paused the picture stands still; points are still taken and show on resume.
    void setPaused(bool paused);
    bool paused() const { return paused_; }

    // Measured values of the latest slots, oldest first, gaps left out.
    std::vector<double> values() const;
    // The slots on screen, oldest first: the frozen ones while paused.
    std::vector<Vx52ChartSlot> shownSlots() const;
    QRect plotRect() {
        ensureLayout();
        return plot_;
    }
    QImage exportImage();

  signals:
    void menuChosen(int item);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;

  private:
    struct Ring {
        std::vector<Vx52ChartSlot> cells; // as many as it can hold
        qint64 taken = 0;                 // slots taken since the last clear: their numbers
        void reset(int capacity);
        void resize(int capacity);
        void push(const Vx52ChartSlot& slot);
        const Vx52ChartSlot* at(qint64 seq) const; // nullptr once overwritten
    };
    const Ring& shown() const { return paused_ ? frozen_ : live_; }
    qint64 firstShown(const Ring& ring) const;
    int columnOf(qint64 seq, qint64 newest) const;
    int rowOf(double value) const;
    QPen tracePen() const;
    void drawSegment(QPainter& p, const Ring& ring, qint64 seq) const;
    void ensureLayout();
    void rebuildTrace();
    QString tipText(const QPoint& pos) const;

    // One slot more than a screen: the segment entering at the left edge is
    // then drawn alike by a new point and by a full redraw.
    Ring live_;
    Ring frozen_;
    int pointsPerScreen_ = 100;
    double yMin_ = 0.0;
    double yMax_ = 10.0;
    double pointInterval_ = 0.1;
    QColor traceColor_{Qt::yellow};
    QString title_;
    QString unit_;
    int precision_ = 3;
    QString menuText_[MenuItemCount];
    QString hint_;
    bool paused_ = false;
    bool exporting_ = false;
    bool layoutStale_ = true;
    QRect plot_;
    QPixmap background_;
    QImage trace_;
    QMenu* menu_ = nullptr;
};

// An XY graph whose plots are arrays of samples, drawn into a cached picture
// whenever the plots or the axes change.
class Vx52Graph : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double yMin READ yMin WRITE setYMin)
    Q_PROPERTY(double yMax READ yMax WRITE setYMax)
    Q_PROPERTY(double xMax READ xMax WRITE setXMax)
    Q_PROPERTY(QString title READ title WRITE setTitle)

  public:
    explicit Vx52Graph(QWidget* parent = nullptr);
    double yMin() const { return yMin_; }
    void setYMin(double v);
    double yMax() const { return yMax_; }
    void setYMax(double v);
    double xMax() const { return xMax_; }
    void setXMax(double v);
    QString title() const { return title_; }
    void setTitle(const QString& t);

    void setYRange(double min, double max, bool autoscale);
    void deleteAllPlots();
    int plot(const double* y, int n, double yGain, double yOffset, double x0, double dx,
             const QColor& color);
    int plotCount() const { return static_cast<int>(plots_.size()); }
    std::vector<double> plotValues(int index) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Plot {
        std::vector<QPointF> points;
        QColor color;
    };
    void changed();
    void render();

    std::vector<Plot> plots_;
    double yMin_ = -450.0;
    double yMax_ = 450.0;
    double xMax_ = 179.0;
    QString title_;
    int nextPlotHandle_ = 1;
    QPixmap cache_;
    bool stale_ = true;
};
