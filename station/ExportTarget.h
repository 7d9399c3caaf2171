#pragma once

#include <QString>
#include <cstdint>

// Where a full box is about to be written: the workbook and the sheet row (from 1)
// of its first row. Kept in the journal before the workbook is replaced, so that
// after a crash the station can look whether the box got there.
struct ExportTarget
{
    QString workbook;
    int32_t firstRow = 0;

    bool operator==(const ExportTarget &other) const = default;
};
