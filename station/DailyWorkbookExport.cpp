#include "station/DailyWorkbookExport.h"

#include "core/Checked.h"
#include "core/RuntimeError.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramEnvironment.h"
#include "platform/RecordGrid.h"
#include "platform/Spreadsheet.h"
#include "settings/modINI.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>

namespace {
constexpr int kColumns = 3;
constexpr int32_t kSheetRowLimit = 65536;
} // namespace

QString DailyWorkbookExport::workbookPathFor(const QString &programFolder, const QDate &date)
{
    return programFolder + "\\files\\" + date.toString(QStringLiteral("yyyyMMdd")) + ".xls";
}

void DailyWorkbookExport::exportBox(const RecordGrid &grid)
{
    lExportRows = grid.rowCount();
    if (lExportRows <= 1)
        return;
    sXlsFile = workbookPathFor(program::folder(), program::now().date());
    const QString path = profile::resolvePath(sXlsFile);
    try {
        // The day's folder is made when missing, rather than failing every box.
        const QString folder = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(folder))
            throw RuntimeError(RuntimeError::PathNotFound, QStringLiteral("export"),
                               QStringLiteral("无法创建文件夹 %1").arg(folder));
        xlApp.start();
        if (!modINI::FileExists(sXlsFile, 0))
            xlApp.newWorkbook(path);
        else
            xlApp.openWorkbook(path);
        xlApp.hide();
        xlApp.useFirstWorksheet();
        appendRows(grid);
        xlApp.autoFitColumns();
        xlApp.save();
        xlApp.quit();
    } catch (const RuntimeError &e) {
        xlApp.quit(); // drops whatever this export changed but could not save
        throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("export"),
                           QStringLiteral("无法写入工作簿 %1：%2。本箱 %3 行仍在清单中，下一次扫描时将重新导出。")
                               .arg(QDir::toNativeSeparators(path), e.description())
                               .arg(lExportRows));
    }
}

void DailyWorkbookExport::appendRows(const RecordGrid &grid)
{
    const int32_t lastUsed = xlApp.lastUsedRow();
    if (int64_t(lastUsed) + lExportRows > kSheetRowLimit)
        throw RuntimeError(RuntimeError::Overflow, QStringLiteral("export"),
                           QStringLiteral("第一个工作表已用 %1 行，再加 %2 行将超过 %3 行的上限")
                               .arg(lastUsed).arg(lExportRows).arg(kSheetRowLimit));
    // Its own row counter: the pack count stays as it was if this fails part-way.
    for (int32_t row = 0; row < lExportRows; ++row) {
        const int32_t target = checked::add32(checked::add32(lastUsed, 1), row);
        for (int column = 0; column < kColumns; ++column)
            xlApp.setCellText(target, column + 1, grid.cellText(row, column));
    }
}
