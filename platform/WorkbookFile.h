#pragma once

#include "platform/SheetLimits.h"

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

// A day's workbook on disk, in the station's terms: read it, append a box's rows
// to its first sheet, replace the file in one step. Every failure raises a
// RuntimeError whose description says why in Chinese; the file is then as it was.
class WorkbookFile
{
public:
    enum class Opened { Existing, DoesNotExist };
    using Row = std::array<QString, sheet::kBoxColumns>; // columns A, B, C; "" is an empty cell

    virtual ~WorkbookFile() = default;

    // Reads the workbook for appending. DoesNotExist only when there is no file of
    // that name; a file that cannot be read or safely updated raises instead.
    virtual Opened open(const QString &path) = 0;
    // A new, empty workbook for that path (after DoesNotExist), not yet on disk.
    virtual void create(const QString &path) = 0;
    // Rows in use on the first sheet, 1 for an empty sheet: the next row goes below.
    virtual int32_t lastUsedRow() const = 0;
    // Adds the rows below the last used row, as text cells, and widens columns A-C to fit.
    virtual void appendRows(const std::vector<Row> &rows) = 0;
    // Writes the workbook over its file atomically.
    virtual void replaceFile() = 0;
};
