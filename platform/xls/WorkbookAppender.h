#pragma once

#include "platform/xls/AppendPlan.h"
#include "platform/xls/BiffStream.h"
#include "platform/xls/FirstSheet.h"
#include "platform/xls/SstTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace xls {

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
    int32_t lastUsedRow() const { return m_sheet.lastUsedRow; }

    // The whole new stream, put together in `spare`'s memory when it is big enough
    // (a stream no longer needed). Raises a RuntimeError when the rows do not fit.
    std::string append(const std::vector<SheetRow> &rows, std::string spare = {}) const;

    // The stream it was made from, for its memory; the appender is of no use after.
    std::string releaseStream() { return std::move(m_stream); }

private:
    class Assembly;

    void readGlobals();

    std::string m_stream;
    BiffLayout m_layout;
    SstTable m_sst;
    size_t m_firstSheet = 0; // index into m_layout.sheets
    FirstSheet m_sheet;
    std::vector<size_t> m_boundSheets;
    long m_textXf = -1; // XF index of the text format, if the workbook has one
    uint16_t m_xfCount = 0;
    size_t m_lastXfRecord = 0;
};

} // namespace xls
