#pragma once

#include "packing/ExportTarget.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <functional>

class Box;

// What an export did with a box.
struct ExportReceipt
{
    QString outerLabel;   // the box's outer label
    QString workbook;     // the file the rows went to
    int32_t firstRow = 0; // sheet row (from 1) of the box's first row
    QDateTime at;
    // Something the operator should know once (a new workbook for a full day); "" if nothing.
    QString notice;
};

// Where a full outer box goes. A failure raises a RuntimeError and leaves the box
// (and the file) as they were; emptying the box after success is the caller's job.
class BoxExport
{
public:
    // Told where the box is about to go, after the workbook is ready and before it
    // is replaced; a failure it raises stops the export with the file unchanged.
    using BeforeReplace = std::function<void(const ExportTarget &)>;

    virtual ~BoxExport() = default;
    virtual ExportReceipt exportBox(const Box &box, const BeforeReplace &beforeReplace) = 0;
    // Whether the workbook already holds exactly this box's cells from that row on
    // (an export that was done before the station could note it). Raises when the
    // workbook cannot be read; false when there is no such file.
    virtual bool holds(const Box &box, const ExportTarget &target) = 0;
    // A box that will never be finished, kept in a file of its own; returns its path.
    virtual QString keepUnfinished(const Box &box) = 0;
};
