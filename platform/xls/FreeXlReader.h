#pragma once

#include "platform/xls/WorkbookData.h"

#include <QString>
#include <QStringList>

namespace xls {

// Every cell value of every sheet of an existing workbook. Raises a RuntimeError
// naming the file and FreeXL's reason when it cannot be read in full.
Workbook readWorkbook(const QString &path);

// The texts of one column (from 0) of the first sheet, one per row from row 1;
// "" for cells that hold no text. Raises a RuntimeError like readWorkbook.
QStringList readFirstSheetColumn(const QString &path, int column);

} // namespace xls
