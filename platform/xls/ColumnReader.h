#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace xls {

// The texts of the first columns of a workbook's first worksheet: columns[c][r]
// is column c, sheet row r + 1; "" for cells that hold no text. Every column has
// as many rows as the longest. Read by the station's own record walker, not
// FreeXL: a damaged file in files/ must not bring the station down. Raises a
// RuntimeError naming the file and the reason when it cannot be read.
std::vector<QStringList> readFirstSheetColumns(const QString &path, int columnCount);

// One column (from 0) of the same.
QStringList readFirstSheetColumn(const QString &path, int column);

} // namespace xls
