#pragma once

#include <QString>
#include <QStringList>

namespace xls {

// The texts of one column (from 0) of a workbook's first worksheet, one per row
// from row 1; "" for cells that hold no text. Read by the station's own record
// walker, not FreeXL: a damaged file in files/ must not bring the station down.
// Raises a RuntimeError naming the file and the reason when it cannot be read.
QStringList readFirstSheetColumn(const QString &path, int column);

} // namespace xls
