#include "station/DailyWorkbookExport.h"

#include "core/Checked.h"
#include "core/RuntimeError.h"
#include "platform/SheetLimits.h"
#include "platform/ProgramEnvironment.h"
#include "platform/RegularFile.h"
#include "platform/WorkbookFile.h"
#include "platform/WorkbookReader.h"
#include "packing/Box.h"
#include "station/files/BoxSheet.h"
#include "station/files/DayWorkbooks.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr int kColumns = boxsheet::kColumns;

void makeFolderFor(const QString &path)
{
    // The files folder is made when missing, rather than failing every box.
    const QString folder = QFileInfo(path).absolutePath();
    const QString why = regularfile::makeFolders(folder);
    if (!why.isEmpty())
        throw RuntimeError(RuntimeError::PathNotFound, QStringLiteral("export"),
                           QStringLiteral("无法创建文件夹 %1（%2）").arg(folder, why), RuntimeError::Kind::Workbook);
}

} // namespace

int32_t DailyWorkbookExport::openOrCreate(const QString &path)
{
    // Only a file that is not there at all is started afresh; one that cannot be read is refused.
    if (xlBook.open(path) == WorkbookFile::Opened::DoesNotExist)
        xlBook.create(path);
    return xlBook.lastUsedRow();
}

ExportReceipt DailyWorkbookExport::exportBox(const Box &box, const BeforeReplace &beforeReplace)
{
    ExportReceipt receipt;
    receipt.at = program::now();
    lExportRows = box.rowCount();
    if (lExportRows <= 1)
        return receipt;
    const QDate day = receipt.at.date();
    const QList<int> existing = dayworkbooks::existing(program::folder(), day);
    int number = existing.isEmpty() ? 1 : existing.last();
    sXlsFile = dayworkbooks::path(program::folder(), day, number);
    QString path = sXlsFile;
    try {
        makeFolderFor(path);
        int32_t lastUsed = openOrCreate(path);
        if (int64_t(lastUsed) + lExportRows > dayworkbooks::kSheetRowLimit) {
            // The day's workbook is full: the box and the rest of the day go to the next one.
            const QString full = path;
            sXlsFile = dayworkbooks::path(program::folder(), day, ++number);
            path = sXlsFile;
            lastUsed = openOrCreate(path);
            receipt.notice = QStringLiteral("工作簿 %1 已满（每个工作表最多 %2 行）。本箱及今天以后的箱子写入 %3。")
                                 .arg(dayworkbooks::shownName(full)).arg(dayworkbooks::kSheetRowLimit).arg(dayworkbooks::shownName(path));
        }
        appendRows(box, lastUsed);
        if (beforeReplace)
            beforeReplace({path, lastUsed + 1, QUuid()}); // the box gives itself its id
        xlBook.replaceFile();
        receipt.workbook = path;
        receipt.firstRow = lastUsed + 1;
        return receipt;
    } catch (const RuntimeError &e) {
        throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("export"),
                           QStringLiteral("无法写入工作簿 %1：%2。本箱 %3 行仍在清单中，下一次扫描时将重新导出。")
                               .arg(QDir::toNativeSeparators(path), e.description())
                               .arg(lExportRows),
                           RuntimeError::Kind::Workbook);
    }
}

bool DailyWorkbookExport::holds(const Box &box, const ExportTarget &target)
{
    if (!QFileInfo::exists(target.workbook))
        return false;
    return boxsheet::holdsAt(workbook::readFirstSheetColumns(target.workbook, kColumns), target.firstRow, box.rows());
}

QString DailyWorkbookExport::keepUnfinished(const Box &box)
{
    const QString path = dayworkbooks::unfinishedPath(program::folder(), program::now());
    try {
        makeFolderFor(path);
        if (QFileInfo::exists(path))
            throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("export"), QStringLiteral("文件已存在"));
        const int32_t lastUsed = openOrCreate(path);
        appendRows(box, lastUsed);
        xlBook.replaceFile();
        return path;
    } catch (const RuntimeError &e) {
        throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("export"),
                           QStringLiteral("无法写入工作簿 %1：%2").arg(QDir::toNativeSeparators(path), e.description()),
                           RuntimeError::Kind::Workbook);
    }
}

void DailyWorkbookExport::appendRows(const Box &box, int32_t lastUsed)
{
    const int32_t rows = box.rowCount();
    if (int64_t(lastUsed) + rows > dayworkbooks::kSheetRowLimit)
        throw RuntimeError(RuntimeError::Overflow, QStringLiteral("export"),
                           QStringLiteral("第一个工作表已用 %1 行，再加 %2 行将超过 %3 行的上限")
                               .arg(lastUsed).arg(rows).arg(dayworkbooks::kSheetRowLimit));
    std::vector<WorkbookFile::Row> sheetRows(static_cast<size_t>(rows));
    for (int32_t row = 0; row < rows; ++row)
        sheetRows[size_t(row)] = boxsheet::cellsOf(box.rows()[size_t(row)]);
    xlBook.appendRows(sheetRows);
}
