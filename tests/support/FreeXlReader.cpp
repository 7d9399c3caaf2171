#include "support/FreeXlReader.h"

#include "core/RuntimeError.h"
#include "core/SystemReason.h"

#include <QFile>
#include <freexl.h>

namespace xls {

namespace {

QString freexlReason(int code)
{
    switch (code) {
    case FREEXL_FILE_NOT_FOUND:
        return reason::withSystemText(QStringLiteral("文件不存在"), QStringLiteral("file not found"));
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return reason::notAWorkbook();
    case FREEXL_INSUFFICIENT_MEMORY:
        return QStringLiteral("内存不足（out of memory）");
    case FREEXL_CRAFTED_FILE:
        return QStringLiteral("工作簿已损坏（damaged or crafted workbook）");
    case FREEXL_CFBF_READ_ERROR:
    case FREEXL_CFBF_SEEK_ERROR:
        return QStringLiteral("读取错误（read error）");
    default:
        return QStringLiteral("无法读取的工作簿（FreeXL 代码 %1）").arg(code);
    }
}

[[noreturn]] void fail(const QString &path, const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("readWorkbook"),
                       QStringLiteral("无法读取 %1：%2").arg(path, why));
}

// Closes the handle on every way out.
struct Handle
{
    const void *h = nullptr;
    ~Handle()
    {
        if (h)
            freexl_close(h);
    }
};

Cell cellOf(const FreeXL_CellValue &v)
{
    Cell cell;
    switch (v.type) {
    case FREEXL_CELL_INT:
        cell.kind = Cell::Number;
        cell.number = v.value.int_value;
        break;
    case FREEXL_CELL_DOUBLE:
        cell.kind = Cell::Number;
        cell.number = v.value.double_value;
        break;
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        // Dates come as text; they are kept as that text.
        cell.kind = Cell::Text;
        cell.text = QString::fromUtf8(v.value.text_value);
        if (cell.text.isEmpty())
            cell.kind = Cell::Blank;
        break;
    default:
        // Blank cells (and formulas, whose values FreeXL cannot give) stay blank
        // cells, so the used range and the empty cells of box rows survive a rewrite.
        cell.kind = Cell::Blank;
        break;
    }
    return cell;
}

} // namespace

Workbook readWorkbook(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    Handle handle;
    const int opened = freexl_open(name.constData(), &handle.h);
    // FreeXL may answer OK with no handle for files it will not read.
    if (opened != FREEXL_OK || !handle.h)
        fail(path, freexlReason(opened != FREEXL_OK ? opened : FREEXL_CRAFTED_FILE));

    unsigned int sheets = 0;
    if (freexl_get_info(handle.h, FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK)
        fail(path, QStringLiteral("无法得到工作表数量"));

    Workbook book;
    book.sheets.resize(sheets);
    for (unsigned int s = 0; s < sheets; ++s) {
        Sheet &sheet = book.sheets[s];
        const char *sheetName = nullptr;
        if (freexl_get_worksheet_name(handle.h, static_cast<unsigned short>(s), &sheetName) == FREEXL_OK && sheetName)
            sheet.name = QString::fromUtf8(sheetName);
        if (freexl_select_active_worksheet(handle.h, static_cast<unsigned short>(s)) != FREEXL_OK)
            fail(path, QStringLiteral("无法选择第 %1 个工作表").arg(s + 1));
        unsigned int rows = 0;
        unsigned short columns = 0;
        if (freexl_worksheet_dimensions(handle.h, &rows, &columns) != FREEXL_OK)
            fail(path, QStringLiteral("第 %1 个工作表没有范围信息").arg(s + 1));
        sheet.declaredRows = int32_t(std::min<unsigned int>(rows, kMaxRows));
        sheet.declaredColumns = int32_t(std::min<unsigned short>(columns, kMaxColumns));
        sheet.rows.resize(size_t(sheet.declaredRows));
        for (int32_t r = 0; r < sheet.declaredRows; ++r) {
            std::vector<Cell> &cells = sheet.rows[size_t(r)];
            cells.resize(size_t(sheet.declaredColumns));
            for (int32_t c = 0; c < sheet.declaredColumns; ++c) {
                FreeXL_CellValue value;
                const int got = freexl_get_cell_value(handle.h, unsigned(r), static_cast<unsigned short>(c), &value);
                if (got != FREEXL_OK)
                    fail(path, QStringLiteral("单元格 %1,%2：%3").arg(r + 1).arg(c + 1).arg(freexlReason(got)));
                cells[size_t(c)] = cellOf(value);
            }
        }
    }
    return book;
}

} // namespace xls

