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

} // namespace xls
