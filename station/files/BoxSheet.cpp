#include "station/files/BoxSheet.h"

namespace boxsheet {

Cells cellsOf(const BoxRow &row)
{
    Cells cells;
    cells[size_t(row.kind)] = row.text;
    return cells;
}

namespace {

// A cell of the first columns; past a column's end, empty.
QString cellAt(const std::vector<QStringList> &columns, int column, qsizetype row)
{
    const QStringList &cells = columns[size_t(column)];
    return row < cells.size() ? cells[row] : QString();
}

} // namespace

qsizetype usedRows(const std::vector<QStringList> &columns)
{
    qsizetype rows = 0;
    for (const QStringList &column : columns)
        rows = std::max(rows, column.size());
    return rows;
}

bool holdsAt(const std::vector<QStringList> &columns, int32_t firstRow, const std::vector<BoxRow> &rows)
{
    const int64_t first = int64_t(firstRow) - 1;
    if (first < 0 || rows.empty() || columns.size() != size_t(kColumns) || first >= columns[size_t(kOuterLabelColumn)].size())
        return false;
    for (size_t row = 0; row < rows.size(); ++row) {
        const Cells cells = cellsOf(rows[row]);
        for (int column = 0; column < kColumns; ++column)
            if (cellAt(columns, column, qsizetype(first + int64_t(row))) != cells[size_t(column)])
                return false;
    }
    return true;
}

std::vector<SheetBox> boxesIn(const std::vector<QStringList> &columns)
{
    std::vector<SheetBox> boxes;
    if (columns.size() < size_t(kColumns))
        return boxes;
    auto cell = [&](int column, qsizetype row) { return cellAt(columns, column, row); };
    const qsizetype rows = usedRows(columns);
    for (qsizetype r = kFirstBoxRow - 1; r < rows; ++r) {
        const QString outer = cell(0, r);
        if (!outer.isEmpty()) {
            boxes.push_back({int32_t(r + 1), {{BoxRow::OuterLabel, outer}}});
            continue;
        }
        if (boxes.empty())
            continue; // above the first box
        const QString middle = cell(1, r);
        boxes.back().rows.push_back(middle.isEmpty() ? BoxRow{BoxRow::Pack, cell(2, r)} : BoxRow{BoxRow::MiddleLabel, middle});
    }
    return boxes;
}

} // namespace boxsheet
