#pragma once

#include <QString>
#include <QUuid>
#include <cstdint>

// Where a full box is about to be written: the workbook and the sheet row (from 1)
// of its first row. Kept in the journal before the workbook is replaced, so that
// after a crash the station can look whether the box got there. The box's id,
// chosen here, goes with it to the plant record: however often a crash makes the
// station hand the box on again, the record stores it once.
struct ExportTarget
{
    QString workbook;
    int32_t firstRow = 0;
    QUuid boxId; // null in journals written before the plant record

    bool operator==(const ExportTarget &other) const = default;
};
