#include "platform/xls/WorkbookData.h"

#include "platform/xls/ColumnWidth.h"

namespace xls {

int32_t Sheet::usedColumns() const
{
    int32_t widest = declaredColumns;
    for (const std::vector<Cell> &row : rows)
        widest = std::max<int32_t>(widest, int32_t(row.size()));
    return widest;
}

void Sheet::set(int32_t row, int32_t column, Cell cell)
{
    if (size_t(row) >= rows.size())
        rows.resize(size_t(row) + 1);
    std::vector<Cell> &cells = rows[size_t(row)];
    if (size_t(column) >= cells.size())
        cells.resize(size_t(column) + 1);
    cells[size_t(column)] = std::move(cell);
}

void Sheet::fitColumns()
{
    std::vector<int> widest(size_t(usedColumns()), 0);
    for (const std::vector<Cell> &row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            const Cell &cell = row[c];
            if (cell.kind == Cell::Text)
                widest[c] = std::max(widest[c], displayWidth(cell.text));
            else if (cell.kind == Cell::Number)
                widest[c] = std::max(widest[c], int(QString::number(cell.number, 'g', 15).size()));
        }
    }
    columnWidths.assign(widest.size(), 0);
    for (size_t c = 0; c < widest.size(); ++c)
        columnWidths[c] = fittedColumnWidth(widest[c]);
}

} // namespace xls
