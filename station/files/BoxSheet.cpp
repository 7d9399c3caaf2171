#include "station/files/BoxSheet.h"

namespace boxsheet {

Cells cellsOf(const BoxRow &row)
{
    Cells cells;
    cells[size_t(row.kind)] = row.text;
    return cells;
}

std::vector<SheetBox> boxesIn(const std::vector<QStringList> &columns)
{
    std::vector<SheetBox> boxes;
    if (columns.size() < size_t(kColumns))
        return boxes;
    auto cell = [&](int column, qsizetype row) {
        const QStringList &cells = columns[size_t(column)];
        return row < cells.size() ? cells[row] : QString();
    };
    qsizetype rows = 0;
    for (const QStringList &column : columns)
        rows = std::max(rows, column.size());
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
