#include "platform/xls/BiffWorkbookWriter.h"

#include "platform/xls/GlobalsWriter.h"
#include "platform/xls/SharedStrings.h"
#include "platform/xls/WorkbookData.h"
#include "platform/xls/WorksheetWriter.h"

namespace xls {

namespace {

// Gives every non-empty text its shared-string index, sheet by sheet in row-major order.
std::vector<std::vector<uint32_t>> collectStrings(const Workbook &book, SharedStrings &strings)
{
    std::vector<std::vector<uint32_t>> perSheet;
    for (const Sheet &sheet : book.sheets) {
        std::vector<uint32_t> indexes;
        for (const std::vector<Cell> &row : sheet.rows)
            for (const Cell &cell : row)
                if (cell.kind == Cell::Text && !cell.text.isEmpty())
                    indexes.push_back(strings.add(cell.text));
        perSheet.push_back(std::move(indexes));
    }
    return perSheet;
}

size_t estimatedSize(const Workbook &book)
{
    size_t cells = 0;
    for (const Sheet &sheet : book.sheets)
        for (const std::vector<Cell> &row : sheet.rows)
            cells += row.size();
    return 4096 + cells * 30;
}

} // namespace

std::string workbookStream(const Workbook &book)
{
    // A workbook always has at least one sheet.
    Workbook oneSheet;
    oneSheet.sheets.resize(1);
    oneSheet.sheets[0].name = QStringLiteral("Sheet1");
    const Workbook &b = book.sheets.empty() ? oneSheet : book;
    SharedStrings strings;
    const std::vector<std::vector<uint32_t>> sstIndexes = collectStrings(b, strings);

    std::vector<QString> names;
    for (const Sheet &sheet : b.sheets)
        names.push_back(sheet.name);

    ByteSink out;
    out.reserve(estimatedSize(b));
    const std::vector<size_t> sheetOffsetFields = writeGlobals(out, names, strings);
    for (size_t i = 0; i < b.sheets.size(); ++i) {
        out.patch32(sheetOffsetFields[i], uint32_t(out.size()));
        writeWorksheet(out, b.sheets[i], sstIndexes[i], i == 0);
    }
    return out.take();
}

} // namespace xls
