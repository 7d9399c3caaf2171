#pragma once

#include "platform/xls/BiffStream.h"
#include "platform/xls/SstTable.h"

#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace xls {

// One sheet row of a box: the texts of columns A, B and C ("" for an empty cell).
using SheetRow = std::array<QString, 3>;

// Appends rows to the first worksheet of an existing BIFF8 "Workbook" stream and
// keeps everything else record for record: the box's cells go below the last used
// row (its ROW, LABELSST and BLANK records, the last 32-row block re-emitted with
// them), new strings after the last shared string, DIMENSIONS widened, columns
// A to C widened to fit, and every stream offset patched (BOUNDSHEET, INDEX,
// DBCELL, EXTSST). The one new XF, when the workbook has none for text, goes after
// the last XF, so no cell's format index changes.
class WorkbookAppender
{
public:
    // Raises a RuntimeError (in Chinese) for a workbook it cannot safely update.
    explicit WorkbookAppender(std::string workbookStream);

    // Rows used on the first sheet, counting the empty first row of an empty sheet:
    // the next box starts on sheet row lastUsedRow() + 1 (from 1).
    int32_t lastUsedRow() const { return m_lastUsedRow; }

    // The whole new stream. Raises a RuntimeError when the rows do not fit.
    std::string append(const std::vector<SheetRow> &rows) const;

private:
    struct ColInfo
    {
        size_t record;
        uint16_t first;
        uint16_t last;
        uint16_t width;
    };

    // What the scan of the first sheet keeps while it reads.
    struct FirstSheetScan
    {
        long dimensions = -1;
        int32_t usedRows = 0;
        long blockFirstRow = -1; // the current block's first ROW
    };

    void readGlobals();
    void scanFirstSheetRecord(size_t index, const BiffRecord &record);
    void scanOtherFirstSheetRecord(size_t index, const BiffRecord &record);
    [[noreturn, gnu::cold, gnu::noinline]] static void refuseDamagedCell(long column);
    void finishFirstSheet();
    void checkPositions() const;

    std::string m_stream;
    BiffLayout m_layout;
    SstTable m_sst;
    size_t m_firstSheet = 0;      // index into m_layout.sheets
    std::vector<size_t> m_boundSheets;
    long m_textXf = -1;           // XF index of the text format, if the workbook has one
    uint16_t m_xfCount = 0;
    size_t m_lastXfRecord = 0;
    // The first sheet's own records (not those of embedded charts).
    long m_index = -1;
    long m_defColWidth = -1;
    size_t m_dimensions = 0;
    std::vector<ColInfo> m_colInfos;
    std::vector<size_t> m_dbCells;
    std::vector<size_t> m_blockFirstRows; // each DBCELL's first ROW record, or SIZE_MAX
    long m_lastCellTable = -1;    // last ROW, cell or DBCELL record
    long m_blockStart = -1;       // the last 32-row block, when it can take more rows
    uint32_t m_blockBase = 0;
    int32_t m_lastUsedRow = 1;
    uint32_t m_usedColumns = 0;   // one past the last column holding a cell
    uint32_t m_firstCellRow = UINT32_MAX;
    FirstSheetScan m_scan;
};

} // namespace xls
