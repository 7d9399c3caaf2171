#pragma once

#include "platform/SheetLimits.h"
#include "platform/xls/BiffStream.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace xls {

// What the appender must know of the first worksheet: where its records that
// change are, its blocks, and how far its cells reach.
struct FirstSheet
{
    struct ColInfo
    {
        size_t record;
        uint16_t first;
        uint16_t last;
        uint16_t width;
    };

    long index = -1;
    long defColWidth = -1;
    size_t dimensions = 0;
    std::vector<ColInfo> colInfos;
    std::vector<size_t> dbCells;
    std::vector<size_t> blockFirstRows; // each DBCELL's first ROW record, or SIZE_MAX
    long lastCellTable = -1;            // last ROW, cell or DBCELL record
    long blockStart = -1;               // the last 32-row block, when it can take more rows
    uint32_t blockBase = 0;             // its first row
    int32_t lastUsedRow = 1;            // rows in use, counting the empty first row of an empty sheet
    uint32_t usedColumns = 0;           // one past the last column holding a cell
    uint32_t firstCellRow = UINT32_MAX;
};

// Gathers a FirstSheet from the sheet's own records (not those of an embedded chart)
// as the stream walk meets them: a sheet of 65,536 rows is read once. Raises a
// RuntimeError for a record it cannot trust.
class FirstSheetScanner
{
public:
    // Cell records are nearly all of a large sheet: they take the short road.
    void record(size_t i, const BiffRecord &r)
    {
        if (r.type != rec::kRow && !isCellRecord(r.type)) {
            other(i, r);
            return;
        }
        if (r.length < 2)
            refuseDamagedCell(-1);
        const uint16_t row = r.u16(0);
        if (r.type == rec::kRow && m_blockFirstRow < 0)
            m_blockFirstRow = long(i);
        m_usedRows = std::max<int32_t>(m_usedRows, int32_t(row) + 1);
        m_sheet.firstCellRow = std::min<uint32_t>(m_sheet.firstCellRow, row);
        if (r.type != rec::kRow && r.length >= 4) {
            const uint32_t column = lastColumnOf(r);
            if (column >= uint32_t(sheet::kColumns) || r.u16(2) > column)
                refuseDamagedCell(long(column));
            m_sheet.usedColumns = std::max<uint32_t>(m_sheet.usedColumns, column + 1);
        }
        m_sheet.lastCellTable = long(i);
    }

    // What is left to work out once the sheet has been read.
    FirstSheet finish(const BiffLayout &layout);

private:
    void other(size_t i, const BiffRecord &r);
    [[noreturn, gnu::cold, gnu::noinline]] static void refuseDamagedCell(long column);

    FirstSheet m_sheet;
    long m_dimensions = -1;
    int32_t m_usedRows = 0;
    long m_blockFirstRow = -1; // the current block's first ROW
};

} // namespace xls
