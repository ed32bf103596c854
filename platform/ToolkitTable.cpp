#include "platform/ToolkitTable.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <iterator>

int Vx52TextRows::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int Vx52TextRows::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(labels_.size());
}

QVariant Vx52TextRows::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    if (role == kStripeRole) {
        return static_cast<int>((dropped_ + static_cast<unsigned>(index.row())) & 1u);
    }
    if (role == kLookRole) {
        return looks_[static_cast<size_t>(index.row())];
    }
    if (role == Qt::ToolTipRole) {
        // The whole row, whatever its cells show.
        const QStringList& cells = rows_[static_cast<size_t>(index.row())];
        QStringList lines;
        for (int c = 0; c < cells.size(); ++c) {
            const QString label = c < labels_.size() ? labels_[c] : QString();
            lines << (label.isEmpty() ? cells[c] : label + QStringLiteral(": ") + cells[c]);
        }
        return lines.join(QLatin1Char('\n'));
    }
    if (role != Qt::DisplayRole) {
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
    looks_.erase(looks_.begin(), looks_.begin() + n);
    dropped_ += static_cast<unsigned>(n);
    endRemoveRows();
}

void Vx52TextRows::append(std::deque<QStringList>&& rows) {
    if (rows.empty()) {
        return;
    }
    // Rows that would be dropped at once never go in.
    if (rows.size() > static_cast<size_t>(maxRows_)) {
        rows.erase(rows.begin(), rows.end() - maxRows_);
    }
    dropOldest(static_cast<int>(rows_.size() + rows.size()) - maxRows_);
    const int at = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), at, at + static_cast<int>(rows.size()) - 1);
    std::move(rows.begin(), rows.end(), std::back_inserter(rows_));
    looks_.resize(rows_.size(), 0);
    endInsertRows();
}

void Vx52TextRows::clear() {
    beginResetModel();
    rows_.clear();
    looks_.clear();
    endResetModel();
}

bool Vx52TextRows::setCell(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
        return false;
    }
    QStringList& cells = rows_[static_cast<size_t>(row)];
    while (cells.size() <= column) {
        cells.append(QString());
    }
    cells[column] = text;
    emit dataChanged(index(row, column), index(row, column));
    return true;
}

bool Vx52TextRows::setLook(int row, int look) {
    if (row < 0 || row >= rowCount()) {
        return false;
    }
    looks_[static_cast<size_t>(row)] = look;
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    return true;
}

void Vx52PlainCells::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    // Looks given by the program: dark enough for light text on either theme.
    static const QColor kLooks[] = {QColor(), QColor(0x1f, 0x5f, 0x9a), QColor(0x1d, 0x4a, 0x2b),
                                    QColor(0x7a, 0x1f, 0x1f)};
    const int look = index.data(Vx52TextRows::kLookRole).toInt();
    const bool marked = look > 0 && look < 4;
    if (marked) {
        painter->fillRect(option.rect, kLooks[look]);
    } else if (selected) {
        painter->fillRect(option.rect, option.palette.brush(QPalette::Highlight));
    } else if (index.data(Vx52TextRows::kStripeRole).toInt() != 0) {
        painter->fillRect(option.rect, option.palette.brush(QPalette::AlternateBase));
    }
    QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) {
        return;
    }
    constexpr int kMargin = 4;
    const QRect r = option.rect.adjusted(kMargin, 0, -kMargin, 0);
    const QFontMetrics& fm = option.fontMetrics;
    // A cut cell says so; the row's tip holds all of it.
    if (fm.horizontalAdvance(text) > r.width()) {
        text = fm.elidedText(text, Qt::ElideRight, r.width());
    }
    painter->save();
    painter->setClipRect(r, Qt::IntersectClip);
    QFont font = option.font;
    font.setBold(look == 1);
    painter->setFont(font);
    painter->setPen(
        marked ? QColor(Qt::white)
               : option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(QPoint(r.left(), r.top() + (r.height() - fm.height()) / 2 + fm.ascent()),
                      text);
    painter->restore();
}

Vx52TextTable::Vx52TextTable(QWidget* parent) : QTableView(parent), rows_(new Vx52TextRows(this)) {
    setModel(rows_);
    setItemDelegate(new Vx52PlainCells(this));
    batch_.setSingleShot(true);
    batch_.setInterval(kBatchMs);
    connect(&batch_, &QTimer::timeout, this, &Vx52TextTable::flushRows);
    // Hex columns line up only in a fixed-pitch font.
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    // The stripes come from the delegate, tied to the rows rather than to
    // their places, so that moving the picture up stays true.
    setAlternatingRowColors(false);
    // Only an opaque viewport is scrolled by moving its picture.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // The stock view redraws every visible row when the row count changes;
    // flushRows draws what changed itself.
    disconnect(verticalHeader(), SIGNAL(sectionCountChanged(int, int)), this,
               SLOT(rowCountChanged(int, int)));
    connect(verticalHeader(), &QHeaderView::sectionCountChanged, this, &Vx52TextTable::rowsCounted);
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

void Vx52TextTable::setFitColumns(bool fit) {
    fit_ = fit;
    // Fitted columns always fit: a cut cell ends in "…" instead.
    setHorizontalScrollBarPolicy(fit ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    horizontalHeader()->setMinimumSectionSize(fit ? 40 : -1);
    needed_.clear();
    if (fit_) {
        measure(0);
    }
}

void Vx52TextTable::measure(int first) {
    if (!fit_) {
        return;
    }
    // Both sides of a cell, as the delegate leaves them, and the grid line.
    constexpr int kMargin = 8 + 2;
    const int columns = rows_->columnCount();
    needed_.resize(static_cast<size_t>(columns), 0);
    const QFontMetrics cells(font());
    const QFontMetrics titles(horizontalHeader()->font());
    for (int c = 0; c < columns; ++c) {
        const QString title = rows_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        // The header's own padding and bold face, with some room to spare.
        needed_[c] = std::max(needed_[c], titles.horizontalAdvance(title) * 6 / 5 + 2 * kMargin);
    }
    for (int r = first; r < rows_->rowCount(); ++r) {
        const QStringList& row = rows_->row(r);
        for (int c = 0; c < columns && c < row.size(); ++c) {
            needed_[c] = std::max(needed_[c], cells.horizontalAdvance(row[c]) + kMargin);
        }
    }
    applyFit();
}

void Vx52TextTable::applyFit() {
    const int columns = static_cast<int>(needed_.size());
    if (!fit_ || columns == 0) {
        return;
    }
    // The last column stretches into what is left; the others get what they
    // need, and the widest gives way until the last keeps its own need.
    std::vector<int> widths(needed_.begin(), needed_.end() - 1);
    const int last = std::max(std::min(needed_.back(), viewport()->width() / 3),
                              horizontalHeader()->minimumSectionSize());
    const int room = viewport()->width() - last;
    int total = 0;
    for (int w : widths) {
        total += w;
    }
    while (total > room && !widths.empty()) {
        auto widest = std::max_element(widths.begin(), widths.end());
        const int cut = std::min(total - room, *widest / 2);
        if (cut <= 0) {
            break;
        }
        *widest -= cut;
        total -= cut;
    }
    for (int c = 0; c < static_cast<int>(widths.size()); ++c) {
        if (columnWidth(c) != widths[static_cast<size_t>(c)]) {
            setColumnWidth(c, widths[static_cast<size_t>(c)]);
        }
    }
}

void Vx52TextTable::resizeEvent(QResizeEvent* e) {
    QTableView::resizeEvent(e);
    applyFit();
}

void Vx52TextTable::setMaxRows(int n) {
    flushRows();
    rows_->setMaxRows(n);
    viewport()->update();
}

Vx52TextRows* Vx52TextTable::rows() {
    flushRows();
    return rows_;
}

void Vx52TextTable::appendRow(const QStringList& cells) {
    waiting_.push_back(cells);
    if (waiting_.size() > static_cast<size_t>(rows_->maxRows())) {
        waiting_.pop_front();
    }
    if (!batch_.isActive()) {
        batch_.start();
    }
}

void Vx52TextTable::rowsCounted() {
    updateGeometries();
}

void Vx52TextTable::paintEvent(QPaintEvent* e) {
    // The viewport is opaque (so that scrolling moves the picture instead of
    // redrawing it): the ground under and below the rows is ours to paint.
    {
        QPainter painter(viewport());
        painter.fillRect(e->rect(), palette().brush(QPalette::Base));
    }
    QTableView::paintEvent(e);
}

void Vx52TextTable::flushRows() {
    batch_.stop();
    if (waiting_.empty()) {
        return;
    }
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const int before = rows_->rowCount();
    const int added = std::min(static_cast<int>(waiting_.size()), rows_->maxRows());
    const int dropped = std::max(before + added - rows_->maxRows(), 0);
    const int offset = verticalHeader()->offset();
    moved_ = 0;
    rows_->append(std::move(waiting_));
    waiting_.clear();
    measure(rows_->rowCount() - added);
    const int rowHeight = verticalHeader()->defaultSectionSize();
    if (dropped > 0 && !following) {
        // Rare (a full list scrolled back): the rows under the operator's
        // eyes changed places, all of them are drawn again.
        viewport()->update();
        return;
    }
    // The rows that stay on screen move up by those dropped above them and by
    // the change of the scroll offset; the view moves the picture for the
    // latter only in part (a new scroll bar range shifts the offset by part of
    // a row unseen), so the rest of the move is made here.
    if (following) {
        scrollToBottom();
    }
    const int move = offset - verticalHeader()->offset() - dropped * rowHeight;
    if (move != moved_) {
        viewport()->scroll(0, move - moved_);
    }
    // New rows within the screen's height (a list not yet full) appear
    // without a move that would uncover them.
    const int first = rows_->rowCount() - added;
    viewport()->update(
        QRect(0, rowViewportPosition(first), viewport()->width(), added * rowHeight));
}

void Vx52TextTable::scrollContentsBy(int dx, int dy) {
    const int offset = verticalHeader()->offset();
    QTableView::scrollContentsBy(dx, dy);
    moved_ += offset - verticalHeader()->offset();
}

void Vx52TextTable::clearRows() {
    batch_.stop();
    waiting_.clear();
    rows_->clear();
}
