// Controls that hold entries: the items of ring and list controls, and the
// rows of text tables.
#include "platform/Toolkit.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <algorithm>
#include <string>
#include <vector>

#include "platform/ToolkitInternal.h"
#include "platform/ToolkitTable.h"

using namespace toolkit;

// ---- list controls ----------------------------------------------------------------

int InsertListItem(int panel, int control, int index, const char* label, const char* value) {
    auto* combo = qobject_cast<QComboBox*>(FindCtrl(panel, control));
    if (!combo) {
        return UIE_BAD_CONTROL;
    }
    if (index < 0 || index > combo->count()) {
        index = combo->count();
    }
    QSignalBlocker block(combo);
    combo->insertItem(index, ToQ(label), ToQ(value));
    // Entries may be longer than the control is wide; the open list shows them whole.
    QAbstractItemView* view = combo->view();
    view->setMinimumWidth(std::max(combo->width(), view->sizeHintForColumn(0) + 24));
    return index;
}

int ReplaceListItem(int panel, int control, int index, const char* label, const char* value) {
    auto* combo = qobject_cast<QComboBox*>(FindCtrl(panel, control));
    if (!combo) {
        return UIE_BAD_CONTROL;
    }
    if (index < 0 || index >= combo->count()) {
        return UIE_BAD_ATTRIBUTE;
    }
    QSignalBlocker block(combo);
    combo->setItemText(index, ToQ(label));
    combo->setItemData(index, ToQ(value));
    return 0;
}

int GetNumListItems(int panel, int control, int* count) {
    auto* combo = qobject_cast<QComboBox*>(FindCtrl(panel, control));
    if (!combo || !count) {
        return UIE_BAD_CONTROL;
    }
    *count = combo->count();
    return 0;
}

int GetLabelFromIndex(int panel, int control, int index, std::string* label) {
    auto* combo = qobject_cast<QComboBox*>(FindCtrl(panel, control));
    if (!combo || !label) {
        return UIE_BAD_CONTROL;
    }
    if (index < 0 || index >= combo->count()) {
        return UIE_BAD_ATTRIBUTE;
    }
    *label = combo->itemText(index).toStdString();
    return 0;
}

// ---- tables ---------------------------------------------------------------------

namespace {

Vx52TextTable* FindTable(int panel, int control) {
    return qobject_cast<Vx52TextTable*>(FindCtrl(panel, control));
}

} // namespace

int AppendTableRow(int panel, int control, const std::vector<std::string>& cells) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table) {
        return UIE_BAD_CONTROL;
    }
    QStringList row;
    row.reserve(static_cast<qsizetype>(cells.size()));
    for (const std::string& cell : cells) {
        row.append(QString::fromStdString(cell));
    }
    table->appendRow(row);
    return 0;
}

int ClearTableRows(int panel, int control) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table) {
        return UIE_BAD_CONTROL;
    }
    table->clearRows();
    return 0;
}

int GetNumTableRows(int panel, int control, int* rows) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table || !rows) {
        return UIE_BAD_CONTROL;
    }
    *rows = table->rows()->rowCount();
    return 0;
}

int GetTableRowCells(int panel, int control, int row, std::vector<std::string>* cells) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table || !cells || row < 0 || row >= table->rows()->rowCount()) {
        return UIE_BAD_CONTROL;
    }
    cells->clear();
    for (const QString& cell : table->rows()->row(row)) {
        cells->push_back(cell.toStdString());
    }
    return 0;
}

int SetTableColumnLabel(int panel, int control, int column, const char* text) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table) {
        return UIE_BAD_CONTROL;
    }
    table->rows()->setLabel(column, ToQ(text));
    table->fitTitles();
    return 0;
}

int SetTableCell(int panel, int control, int row, int column, const char* text) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table || !table->rows()->setCell(row, column, ToQ(text))) {
        return UIE_BAD_CONTROL;
    }
    return 0;
}

int SetTableRowLook(int panel, int control, int row, int look) {
    Vx52TextTable* table = FindTable(panel, control);
    if (!table || !table->rows()->setLook(row, look)) {
        return UIE_BAD_CONTROL;
    }
    if (look == TABLE_ROW_CURRENT) {
        table->scrollTo(table->rows()->index(row, 0), QAbstractItemView::PositionAtCenter);
    }
    return 0;
}
