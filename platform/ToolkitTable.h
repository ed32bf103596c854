// A list of text rows in columns that keeps only its newest rows: the
// toolkit's table control, for lists that grow while the program runs (the
// link monitor). Rows are held once, in the model; the view draws only what
// is on screen, so ten thousand rows cost no more to show than ten. New rows
// wait a moment and go in together, and only they are drawn: the rows already
// on screen move up as a picture. A list that grows by a few rows a second is
// read no faster than that, and every drawing has a fixed cost of its own.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <deque>
#include <vector>

class Vx52TextRows : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit Vx52TextRows(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setLabels(const QStringList& labels);
    void setLabel(int column, const QString& text);
    void setMaxRows(int n);
    int maxRows() const { return maxRows_; }
    // All at once: one insertion, whatever their number.
    void append(std::deque<QStringList>&& rows);
    void clear();
    const QStringList& row(int i) const { return rows_[static_cast<size_t>(i)]; }
    // False when the row or column is not there.
    bool setCell(int row, int column, const QString& text);
    // One of the toolkit's TABLE_ROW_... looks.
    bool setLook(int row, int look);

    // 1 for every other row counted from the first row ever listed: the stripe
    // stays with its row when older rows drop out at the top.
    static constexpr int kStripeRole = Qt::UserRole;
    static constexpr int kLookRole = Qt::UserRole + 1;

  private:
    void dropOldest(int n);

    QStringList labels_;
    std::deque<QStringList> rows_;
    std::deque<int> looks_; // beside rows_, one a row
    int maxRows_ = 1000;
    unsigned dropped_ = 0; // rows dropped so far, for the stripes
};

// Plain text in the view's font and colours, cut at the cell's edge: the
// stock delegate lays every cell out twice to elide it, through the style
// sheet's rules, which costs far more than the list is worth.
class Vx52PlainCells : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

class Vx52TextTable : public QTableView {
    Q_OBJECT
    // Column titles separated by "|"; the number of titles is the number of columns.
    Q_PROPERTY(QString columns READ columns WRITE setColumns)
    Q_PROPERTY(int maxRows READ maxRows WRITE setMaxRows)
    // Column widths in pixels separated by "|"; the last column takes the rest.
    Q_PROPERTY(QString columnWidths READ columnWidths WRITE setColumnWidths)
    // Columns as wide as their widest title or cell so far, the widest one
    // giving way when they do not all fit; a cut cell ends in "…".
    Q_PROPERTY(bool fitColumns READ fitColumns WRITE setFitColumns)

  public:
    explicit Vx52TextTable(QWidget* parent = nullptr);
    QString columns() const { return columns_; }
    void setColumns(const QString& titles);
    int maxRows() const { return rows_->maxRows(); }
    void setMaxRows(int n);
    QString columnWidths() const { return widths_; }
    void setColumnWidths(const QString& widths);
    bool fitColumns() const { return fit_; }
    void setFitColumns(bool fit);
    // Widens the fitted columns for new titles.
    void fitTitles() { measure(rows_->rowCount()); }

    // The rows listed, the waiting ones included.
    Vx52TextRows* rows();
    // Appends a row, shown with the others that come within kBatchMs; the view
    // follows the newest row unless the operator has scrolled away from it.
    void appendRow(const QStringList& cells);
    // Puts the waiting rows in the list now.
    void flushRows();
    void clearRows();

    static constexpr int kBatchMs = 500;

  protected:
    void paintEvent(QPaintEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* e) override;

  private:
    void rowsCounted();
    // Widens the columns for the titles and the rows [first, end).
    void measure(int first);
    void applyFit();

    Vx52TextRows* rows_;
    std::deque<QStringList> waiting_;
    QTimer batch_;
    int moved_ = 0; // pixels the view itself moved the picture down in a flush
    QString columns_;
    QString widths_;
    bool fit_ = false;
    std::vector<int> needed_; // per column, pixels its widest text so far takes
};
