#pragma once

#include "station/BoxExport.h"

#include <QDate>
#include <QString>
#include <cstdint>

class Spreadsheet;

// Appends a full outer box to the day's workbook, files/yyyymmdd.xls in the
// program's folder, below the last used row of its first worksheet.
class DailyWorkbookExport : public BoxExport
{
public:
    explicit DailyWorkbookExport(Spreadsheet &spreadsheet) : xlApp(spreadsheet) {}

    // Raises a RuntimeError naming the workbook and the reason; the grid is not touched
    // and the file is as it was unless the failure came after its replacement.
    void exportBox(const RecordGrid &grid) override;

    // The path of the day's workbook at the given moment's date.
    static QString workbookPathFor(const QString &programFolder, const QDate &date);

    int32_t lExportRows = 0;
    QString sXlsFile;

private:
    void appendRows(const RecordGrid &grid);

    Spreadsheet &xlApp;
};
