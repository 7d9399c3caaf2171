#include "platform/xls/WorksheetWriter.h"

#include "platform/xls/BiffRecords.h"
#include "platform/xls/GlobalsWriter.h"
#include "platform/xls/Styles.h"
#include "platform/xls/WorkbookData.h"

namespace xls {

namespace {

constexpr int32_t kRowsPerBlock = 32;
constexpr uint32_t kRowRecordSize = 4 + 16;

bool written(const Cell &cell)
{
    return cell.kind != Cell::None;
}

// First and one-past-last column with a written cell; first == last when none.
std::pair<uint16_t, uint16_t> cellSpan(const std::vector<Cell> &row)
{
    uint16_t first = 0, last = 0;
    bool any = false;
    for (size_t c = 0; c < row.size(); ++c) {
        if (!written(row[c]))
            continue;
        if (!any)
            first = uint16_t(c);
        any = true;
        last = uint16_t(c + 1);
    }
    return {first, last};
}

void writeSheetSettings(ByteSink &out)
{
    out.u16Record(rec::kCalcMode, 1);
    out.u16Record(rec::kCalcCount, 100);
    out.u16Record(rec::kRefMode, 1);
    out.u16Record(rec::kIteration, 0);
    out.header(rec::kDelta, 8);
    out.f64(0.001);
    out.u16Record(rec::kSaveRecalc, 1);
    out.u16Record(rec::kPrintHeaders, 0);
    out.u16Record(rec::kPrintGridLines, 0);
    out.u16Record(rec::kGridSet, 1);
    out.header(rec::kGuts, 8);
    out.zeros(8);
    out.header(rec::kDefaultRowHeight, 4);
    out.u16(0);
    out.u16(255);
    out.u16Record(rec::kWsBool, 0x04C1);
    out.header(rec::kHeader, 0);
    out.header(rec::kFooter, 0);
    out.u16Record(rec::kHCenter, 0);
    out.u16Record(rec::kVCenter, 0);
    out.header(rec::kSetup, 34);
    out.u16(9);      // A4
    out.u16(100);    // scale
    out.u16(1);      // first page number
    out.u16(1);      // fit to one page wide
    out.u16(1);      // and high
    out.u16(0x0004); // no printer settings stored
    out.u16(300);
    out.u16(300);
    out.f64(0.5);
    out.f64(0.5);
    out.u16(1);
}

void writeCell(ByteSink &out, uint16_t row, uint16_t column, const Cell &cell, const std::vector<uint32_t> &sst,
               size_t &nextSst)
{
    if (cell.kind == Cell::Text && !cell.text.isEmpty()) {
        out.header(rec::kLabelSst, 10);
        out.u16(row);
        out.u16(column);
        out.u16(kTextXf);
        out.u32(sst[nextSst++]);
    } else if (cell.kind == Cell::Number) {
        out.header(rec::kNumber, 14);
        out.u16(row);
        out.u16(column);
        out.u16(kGeneralXf);
        out.f64(cell.number);
    } else {
        // Empty texts are blank cells: an empty shared string makes some readers refuse the file.
        out.header(rec::kBlank, 6);
        out.u16(row);
        out.u16(column);
        out.u16(kTextXf);
    }
}

void writeWindow2(ByteSink &out, bool selected)
{
    out.header(rec::kWindow2, 18);
    out.u16(selected ? 0x06B6 : 0x00B6);
    out.u16(0);
    out.u16(0);
    out.u16(0x40);
    out.u16(0);
    out.u16(0);
    out.u16(0);
    out.u32(0);
}

} // namespace

void writeWorksheet(ByteSink &out, const Sheet &sheet, const std::vector<uint32_t> &sstIndexes, bool selected)
{
    writeBof(out, 0x0010);

    const int32_t rowCount = int32_t(sheet.rows.size());
    int32_t firstCellRow = -1, lastCellRow = -1;
    for (int32_t r = 0; r < rowCount; ++r) {
        const auto [first, last] = cellSpan(sheet.rows[size_t(r)]);
        if (first == last)
            continue;
        if (firstCellRow < 0)
            firstCellRow = r;
        lastCellRow = r;
    }
    // First row of every 32-row block that holds cells.
    std::vector<int32_t> blocks;
    for (int32_t start = firstCellRow - firstCellRow % kRowsPerBlock; firstCellRow >= 0 && start <= lastCellRow;
         start += kRowsPerBlock) {
        for (int32_t r = start; r < std::min(start + kRowsPerBlock, lastCellRow + 1); ++r) {
            const auto [first, last] = cellSpan(sheet.rows[size_t(r)]);
            if (first != last) {
                blocks.push_back(start);
                break;
            }
        }
    }

    out.header(rec::kIndex, uint16_t(16 + 4 * blocks.size()));
    out.u32(0);
    out.u32(uint32_t(std::max(firstCellRow, 0)));
    out.u32(uint32_t(lastCellRow + 1));
    const size_t defColWidthAt = out.size();
    out.u32(0);
    const size_t dbCellTableAt = out.size();
    out.zeros(4 * blocks.size());

    writeSheetSettings(out);
    out.patch32(defColWidthAt, uint32_t(out.size()));
    out.u16Record(rec::kDefColWidth, 8);
    for (size_t c = 0; c < sheet.columnWidths.size(); ++c) {
        if (sheet.columnWidths[c] == 0)
            continue;
        out.header(rec::kColInfo, 12);
        out.u16(uint16_t(c));
        out.u16(uint16_t(c));
        out.u16(sheet.columnWidths[c]);
        out.u16(kGeneralXf);
        out.u16(0x0002); // width set by the user (fitted), so readers keep it
        out.u16(0);
    }

    out.header(rec::kDimensions, 14);
    const int32_t usedRows = std::max(sheet.usedRows(), lastCellRow + 1);
    const int32_t usedColumns = sheet.usedColumns();
    const bool empty = usedRows == 0 || usedColumns == 0;
    out.u32(empty ? 0 : uint32_t(std::max(firstCellRow, 0)));
    out.u32(empty ? 0 : uint32_t(usedRows));
    out.u16(0);
    out.u16(empty ? 0 : uint16_t(usedColumns));
    out.u16(0);

    size_t nextSst = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
        const int32_t start = blocks[b];
        const int32_t end = std::min(start + kRowsPerBlock, lastCellRow + 1);
        const size_t firstRowRecord = out.size();
        std::vector<int32_t> rowsInBlock;
        for (int32_t r = start; r < end; ++r) {
            const auto [first, last] = cellSpan(sheet.rows[size_t(r)]);
            if (first == last)
                continue;
            rowsInBlock.push_back(r);
            out.header(rec::kRow, 16);
            out.u16(uint16_t(r));
            out.u16(first);
            out.u16(last);
            out.u16(0x00FF); // default height
            out.u16(0);
            out.u16(0);
            out.u16(0x0100);
            out.u16(kGeneralXf);
        }
        std::vector<size_t> firstCells;
        for (int32_t r : rowsInBlock) {
            firstCells.push_back(out.size());
            const std::vector<Cell> &cells = sheet.rows[size_t(r)];
            for (size_t c = 0; c < cells.size(); ++c)
                if (written(cells[c]))
                    writeCell(out, uint16_t(r), uint16_t(c), cells[c], sstIndexes, nextSst);
        }
        const size_t dbCell = out.size();
        out.patch32(dbCellTableAt + 4 * b, uint32_t(dbCell));
        out.header(rec::kDbCell, uint16_t(4 + 2 * firstCells.size()));
        out.u32(uint32_t(dbCell - firstRowRecord));
        for (size_t i = 0; i < firstCells.size(); ++i)
            out.u16(uint16_t(i == 0 ? firstCells[0] - (firstRowRecord + kRowRecordSize)
                                    : firstCells[i] - firstCells[i - 1]));
    }

    writeWindow2(out, selected);
    writeEof(out);
}

} // namespace xls
