#include "platform/ToolkitTable.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QScrollBar>

int Vx52TextRows::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int Vx52TextRows::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(labels_.size());
}

QVariant Vx52TextRows::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const QStringList& cells = rows_[static_cast<size_t>(index.row())];
    return index.column() < cells.size() ? cells[index.column()] : QString();
}

QVariant Vx52TextRows::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= labels_.size()) {
        return {};
    }
    return labels_[section];
}

void Vx52TextRows::setLabels(const QStringList& labels) {
    beginResetModel();
    labels_ = labels;
    endResetModel();
}

void Vx52TextRows::setLabel(int column, const QString& text) {
    if (column < 0 || column >= labels_.size()) {
        return;
    }
    labels_[column] = text;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void Vx52TextRows::setMaxRows(int n) {
    maxRows_ = n > 0 ? n : 1;
    dropOldest(static_cast<int>(rows_.size()) - maxRows_);
}

void Vx52TextRows::dropOldest(int n) {
    if (n <= 0) {
        return;
    }
    beginRemoveRows(QModelIndex(), 0, n - 1);
    rows_.erase(rows_.begin(), rows_.begin() + n);
    endRemoveRows();
}

void Vx52TextRows::append(const QStringList& cells) {
    dropOldest(static_cast<int>(rows_.size()) + 1 - maxRows_);
    const int at = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), at, at);
    rows_.push_back(cells);
    endInsertRows();
}

void Vx52TextRows::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

Vx52TextTable::Vx52TextTable(QWidget* parent) : QTableView(parent), rows_(new Vx52TextRows(this)) {
    setModel(rows_);
    // Hex columns line up only in a fixed-pitch font.
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setAlternatingRowColors(true);
    verticalHeader()->setVisible(false);
    // One height for every row: the view then never measures rows off screen.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setHighlightSections(false);
}

void Vx52TextTable::setColumns(const QString& titles) {
    columns_ = titles;
    rows_->setLabels(titles.split('|'));
    setColumnWidths(widths_);
}

void Vx52TextTable::setColumnWidths(const QString& widths) {
    widths_ = widths;
    const QStringList parts = widths.split('|', Qt::SkipEmptyParts);
    for (int i = 0; i < parts.size() && i < rows_->columnCount(); ++i) {
        setColumnWidth(i, parts[i].toInt());
    }
}

void Vx52TextTable::appendRow(const QStringList& cells) {
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    rows_->append(cells);
    if (following) {
        scrollToBottom();
    }
}
