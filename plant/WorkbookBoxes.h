#pragma once

#include "plant/Outbox.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <vector>

// The boxes a station's day workbooks hold (files/yyyymmdd.xls and its
// continuations), as the plant record takes them: the station's truth, read back
// so that the record can be brought level with it.
namespace workbookboxes {

struct Found
{
    std::vector<Outbox::Entry> boxes; // in the order they were written
    QStringList unreadable;           // workbooks that could not be read, with why
};

// Every box of the day workbooks from that day on (every day when from is null).
// A box is the rows from one outer label to the next; it has no job, and its time
// is when its workbook was last written (at the latest the end of its day).
// gs1Packs: cells that read as GS1 packs give their rows the fields a scan would have.
Found read(const QString &programFolder, const QString &station, const QDate &from, bool gs1Packs = false);

// The id of the box at that place: the same wherever and however often it is read.
QUuid idOf(const QString &station, const QString &workbook, int32_t firstRow);

} // namespace workbookboxes
