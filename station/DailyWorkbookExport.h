#pragma once

#include "station/ports/BoxExport.h"

#include <QString>
#include <cstdint>

class WorkbookFile;

// Appends a full outer box to the day's workbook in files/ below the last used
// row of its first worksheet. When the box does not fit there, it goes to the
// day's next workbook (yyyymmdd-2.xls, -3, …), and later boxes follow it.
class DailyWorkbookExport : public BoxExport
{
public:
    explicit DailyWorkbookExport(WorkbookFile &workbook) : xlBook(workbook) {}

    // Raises a RuntimeError naming the workbook and the reason; the box is not
    // touched and the file is as it was.
    ExportReceipt exportBox(const Box &box, const BeforeReplace &beforeReplace) override;
    bool holds(const Box &box, const ExportTarget &target) override;

    // A box that will not be finished, in a workbook of its own laid out like a
    // day's workbook (files/unfinished-yyyymmdd-hhmmss.xls); returns its path.
    QString keepUnfinished(const Box &box) override;

    int32_t lExportRows = 0;
    QString sXlsFile;

private:
    // Opens the workbook, or starts it when there is no file; returns its last used row.
    int32_t openOrCreate(const QString &path);
    void appendRows(const Box &box, int32_t lastUsed);

    WorkbookFile &xlBook;
};
