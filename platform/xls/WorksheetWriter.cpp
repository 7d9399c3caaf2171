#include "platform/xls/WorksheetWriter.h"

#include "platform/xls/Records.h"
#include "platform/xls/RowBlock.h"
#include "platform/xls/Styles.h"
#include "platform/xls/WorkbookData.h"

namespace xls {

namespace {

constexpr int32_t kRowsPerBlock = int32_t(fields::kRowsPerBlock);

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

void writeCell(ByteSink &out, uint16_t row, uint16_t column, const Cell &cell, const std::vector<uint32_t> &sst,
               size_t &nextSst)
{
    if (cell.kind == Cell::Text && !cell.text.isEmpty())
        records::labelSst(out, row, column, kTextXf, sst[nextSst++]);
    else if (cell.kind == Cell::Number)
        records::number(out, row, column, kGeneralXf, cell.number);
    else // empty texts are blank cells: an empty shared string makes some readers refuse the file
        records::blank(out, row, column, kTextXf);
}

} // namespace

void writeWorksheet(ByteSink &out, const Sheet &sheet, const std::vector<uint32_t> &sstIndexes, bool selected)
{
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

    records::bof(out, records::Substream::Worksheet);
    const size_t defColWidthAt = records::index(out, uint32_t(std::max(firstCellRow, 0)), uint32_t(lastCellRow + 1), blocks.size());
    const size_t dbCellTableAt = defColWidthAt + 4;
    records::calculationSettings(out);
    records::guts(out);
    records::defaultRowHeight(out);
    records::wsBool(out);
    records::pageHeaderAndCentring(out);
    records::setup(out);
    out.patch32(defColWidthAt, uint32_t(out.size()));
    records::defColWidth(out);
    for (size_t c = 0; c < sheet.columnWidths.size(); ++c)
        if (sheet.columnWidths[c] != 0)
            records::colInfo(out, uint16_t(c), uint16_t(c), sheet.columnWidths[c]);

    const int32_t usedRows = std::max(sheet.usedRows(), lastCellRow + 1);
    const int32_t usedColumns = sheet.usedColumns();
    const bool empty = usedRows == 0 || usedColumns == 0;
    records::dimensions(out, empty ? 0 : uint32_t(std::max(firstCellRow, 0)), empty ? 0 : uint32_t(usedRows), 0,
                        empty ? 0 : uint16_t(usedColumns));

    size_t nextSst = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
        const int32_t start = blocks[b];
        const int32_t end = std::min(start + kRowsPerBlock, lastCellRow + 1);
        RowBlock block(out);
        std::vector<int32_t> rowsInBlock;
        for (int32_t r = start; r < end; ++r) {
            const auto [first, last] = cellSpan(sheet.rows[size_t(r)]);
            if (first == last)
                continue;
            rowsInBlock.push_back(r);
            block.rowRecordHere(uint16_t(r));
            records::row(out, uint16_t(r), first, last);
        }
        for (int32_t r : rowsInBlock) {
            block.cellHere(uint16_t(r));
            const std::vector<Cell> &cells = sheet.rows[size_t(r)];
            for (size_t c = 0; c < cells.size(); ++c)
                if (written(cells[c]))
                    writeCell(out, uint16_t(r), uint16_t(c), cells[c], sstIndexes, nextSst);
        }
        out.patch32(dbCellTableAt + 4 * b, uint32_t(block.finish()));
    }

    records::window2(out, selected);
    records::eof(out);
}

} // namespace xls
