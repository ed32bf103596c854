// A list of text rows in columns that keeps only its newest rows: the
// toolkit's table control, for lists that grow while the program runs (the
// link monitor). Rows are held once, in the model; the view draws only what
// is on screen, so ten thousand rows cost no more to show than ten.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QTableView>
#include <deque>

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
    void append(const QStringList& cells);
    void clear();
    const QStringList& row(int i) const { return rows_[static_cast<size_t>(i)]; }

  private:
    void dropOldest(int n);

    QStringList labels_;
    std::deque<QStringList> rows_;
    int maxRows_ = 1000;
};

class Vx52TextTable : public QTableView {
    Q_OBJECT
    // Column titles separated by "|"; the number of titles is the number of columns.
    Q_PROPERTY(QString columns READ columns WRITE setColumns)
    Q_PROPERTY(int maxRows READ maxRows WRITE setMaxRows)
    // Column widths in pixels separated by "|"; the last column takes the rest.
    Q_PROPERTY(QString columnWidths READ columnWidths WRITE setColumnWidths)

  public:
    explicit Vx52TextTable(QWidget* parent = nullptr);
    QString columns() const { return columns_; }
    void setColumns(const QString& titles);
    int maxRows() const { return rows_->maxRows(); }
    void setMaxRows(int n) { rows_->setMaxRows(n); }
    QString columnWidths() const { return widths_; }
    void setColumnWidths(const QString& widths);

    Vx52TextRows* rows() const { return rows_; }
    // Appends a row; the view follows the newest row unless the operator has
    // scrolled away from it.
    void appendRow(const QStringList& cells);

  private:
    Vx52TextRows* rows_;
    QString columns_;
    QString widths_;
};
