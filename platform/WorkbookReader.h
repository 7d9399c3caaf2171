#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// Reading a workbook's first sheet, in the station's terms: the texts of its first
// columns, for the lookups (which box holds a pack, is a label used today, is a box
// already written). Beside WorkbookFile, which appends.
namespace workbook {

// columns[c][r] is column c, sheet row r + 1; "" for cells that hold no text. Every
// column has as many rows as the longest. Raises a RuntimeError naming the file and
// the reason when it cannot be read; a damaged file never brings the station down.
std::vector<QStringList> readFirstSheetColumns(const QString &path, int columnCount);

// One column (from 0) of the same.
QStringList readFirstSheetColumn(const QString &path, int column);

} // namespace workbook
