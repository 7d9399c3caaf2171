#include "platform/xls/RowBlock.h"

#include "platform/xls/Records.h"

#include <algorithm>

namespace xls {

size_t RowBlock::finish()
{
    const size_t dbCell = m_out.size();
    const size_t firstRow = m_rows.empty() ? dbCell : m_rows.front().at;
    // Each row's offset runs from the previous row's first cell (the first row's from
    // the end of the first ROW record) to its own first cell; a row without cells of
    // its own points where the next cells start.
    std::vector<uint16_t> offsets;
    size_t previous = firstRow + fields::kRowRecordSize;
    for (const Placed &row : m_rows) {
        size_t at = dbCell;
        for (const Placed &cell : m_cells)
            if (cell.row >= row.row) {
                at = cell.at;
                break;
            }
        at = std::max(at, previous);
        offsets.push_back(uint16_t(std::min<size_t>(at - previous, UINT16_MAX)));
        previous = at;
    }
    records::dbCell(m_out, uint32_t(dbCell - firstRow), offsets);
    return dbCell;
}

} // namespace xls
