#include "platform/xls/WorkbookData.h"

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

namespace {

// Display width in digit widths: East Asian characters take two.
int displayWidth(const QString &text)
{
    int width = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (c.isLowSurrogate())
            continue;
        width += (u >= 0x1100 && (u <= 0x115F || (u >= 0x2E80 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3)
                                  || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F)
                                  || (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6)))
                     || c.isHighSurrogate()
                     ? 2
                     : 1;
    }
    return width;
}

} // namespace

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
    for (size_t c = 0; c < widest.size(); ++c) {
        // A little room on either side, as spreadsheet programs leave; 255 characters at most.
        const int characters = widest[c] == 0 ? 0 : std::min(255, widest[c] + 1);
        columnWidths[c] = uint16_t(characters * 256 + (characters ? 128 : 0));
    }
}

} // namespace xls
