#include "platform/xls/NativeSpreadsheet.h"

#include "core/RuntimeError.h"
#include "platform/AtomicFile.h"
#include "platform/xls/BiffWorkbookWriter.h"
#include "platform/xls/FreeXlReader.h"
#include "platform/xls/OleContainer.h"
#include "platform/xls/SharedStrings.h"

#include <QFile>

namespace xls {

namespace {

[[noreturn]] void fail(const QString &what)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("Spreadsheet"), what);
}

} // namespace

bool NativeSpreadsheet::FileStamp::operator==(const FileStamp &o) const
{
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec
           && modified.tv_nsec == o.modified.tv_nsec;
}

std::optional<NativeSpreadsheet::FileStamp> NativeSpreadsheet::stampOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

void NativeSpreadsheet::start()
{
    m_book.reset();
    m_path.clear();
    m_sheetChosen = false;
    m_changed = false;
}

void NativeSpreadsheet::newWorkbook(const QString &path)
{
    Workbook book;
    book.sheets.resize(1);
    book.sheets[0].name = QStringLiteral("Sheet1");
    m_book = std::move(book);
    m_path = path;
    save();
}

void NativeSpreadsheet::openWorkbook(const QString &path)
{
    const std::optional<FileStamp> stamp = stampOf(path);
    if (m_saved && m_savedPath == path && stamp && m_savedStamp && *stamp == *m_savedStamp) {
        // Moved out: the session changes it in place, and quit() without save drops it.
        m_book = std::move(m_saved);
        m_saved.reset();
    } else {
        m_saved.reset();
        ++m_fileReads;
        m_book = readWorkbook(path);
        if (m_book->sheets.empty())
            fail(QStringLiteral("%1 holds no worksheet").arg(path));
    }
    m_path = path;
}

void NativeSpreadsheet::requireWorkbook() const
{
    if (!m_book)
        fail(QStringLiteral("没有打开的工作簿"));
}

void NativeSpreadsheet::useFirstWorksheet()
{
    requireWorkbook();
    m_sheetChosen = true;
}

Sheet &NativeSpreadsheet::firstSheet()
{
    requireWorkbook();
    if (!m_sheetChosen)
        fail(QStringLiteral("没有选定工作表"));
    return m_book->sheets.front();
}

int32_t NativeSpreadsheet::lastUsedRow() const
{
    requireWorkbook();
    return std::max<int32_t>(1, m_book->sheets.front().usedRows());
}

void NativeSpreadsheet::setCellText(int32_t row, int32_t column, const QString &text)
{
    if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
        fail(QStringLiteral("单元格 %1,%2 超出工作表范围（最多 %3 行、%4 列）")
                 .arg(row).arg(column).arg(kMaxRows).arg(kMaxColumns));
    if (text.size() > kMaxCellText)
        fail(QStringLiteral("单元格 %1,%2 的文字有 %3 个字符，超过上限 %4")
                 .arg(row).arg(column).arg(text.size()).arg(kMaxCellText));
    Cell cell;
    cell.kind = text.isEmpty() ? Cell::Blank : Cell::Text;
    cell.text = text;
    firstSheet().set(row - 1, column - 1, std::move(cell));
    m_changed = true;
}

void NativeSpreadsheet::autoFitColumns()
{
    firstSheet().fitColumns();
    m_changed = true;
}

void NativeSpreadsheet::save()
{
    requireWorkbook();
    replaceFileAtomically(m_path, compoundDocument(workbookStream(*m_book)));
    m_changed = false;
    m_savedStamp = stampOf(m_path);
    m_savedPath = m_path;
}

void NativeSpreadsheet::quit()
{
    // Only a workbook whose every change reached its file may serve the next export.
    if (m_book && !m_changed && m_savedPath == m_path && m_savedStamp)
        m_saved = std::move(m_book);
    m_book.reset();
    m_sheetChosen = false;
}

} // namespace xls
