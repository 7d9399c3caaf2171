#pragma once

#include "plant/Outbox.h"
#include "plant/PlantSender.h"

#include <QTemporaryDir>
#include <QUuid>

// One box delivered as a station's own sender delivers it, from an outbox of its own:
// rows as listed, at a place and time of the caller's choice, of a batch or ("") of none.
inline PlantSender::Report deliverBox(const QString &url, const QString &station, int firstRow, const QDateTime &writtenAt,
                                      const std::vector<BoxRow> &rows, const QString &batch = {})
{
    Outbox::Entry e;
    e.id = QUuid::createUuid();
    e.station = station;
    e.workbook = QStringLiteral("20261208.xls");
    e.firstRow = firstRow;
    e.writtenAt = writtenAt;
    e.rows = rows;
    if (!batch.isEmpty()) {
        PackingJob job;
        job.sBatch = batch;
        e.job = job;
    }
    QTemporaryDir folder;
    Outbox outbox(folder.path());
    outbox.add(e);
    PlantSender sender(url, station, outbox);
    return sender.deliver();
}
