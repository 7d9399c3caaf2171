// A station's delivery, for the board's browser test: one box put in a station's
// outbox and delivered by the station's own sender, as a packing station does after
// it wrote the box to its workbook.
//   board_station [--batch BATCH] URL STATION FOLDER WRITTEN_AT OUTER BARCODE...
// WRITTEN_AT: yyyy-MM-ddTHH:mm:ss local time, or "now". Prints the conflicts found
// (packs of an earlier box), one per line. A
// barcode in GS1's human-readable form is a GS1 pack, as a station that reads GS1 scans lists it.
// Exit status: 0 delivered, 1 not delivered (why on stderr), 2 wrong arguments.
#include "plant/Outbox.h"
#include "plant/PlantSender.h"
#include "packing/Gs1Rules.h"

#include <QCoreApplication>
#include <QUuid>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList a = app.arguments().mid(1);
    QString batch; // the box's batch, as a station of a batch writes it
    if (a.size() >= 2 && a[0] == QLatin1String("--batch")) {
        batch = a[1];
        a = a.mid(2);
    }
    if (a.size() < 6) {
        std::fprintf(stderr, "usage: board_station URL STATION FOLDER WRITTEN_AT OUTER BARCODE...\n");
        return 2;
    }
    const QDateTime at = a[3] == QLatin1String("now") ? QDateTime::currentDateTime()
                                                        : QDateTime::fromString(a[3], Qt::ISODate);
    if (!at.isValid()) {
        std::fprintf(stderr, "bad time %s\n", qPrintable(a[3]));
        return 2;
    }
    Outbox::Entry e;
    e.id = QUuid::createUuid();
    e.station = a[1];
    e.workbook = at.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".xls");
    // After the station's last box in that workbook, as the workbook appends.
    e.firstRow = database::connect(a[0])
                     ->run(QStringLiteral("SELECT coalesce(max(first_row + row_count), 2) FROM zantrel.boxes"
                                          " WHERE station = $1 AND workbook = $2"),
                           {e.station, e.workbook})[0][0]
                     .value_or(QStringLiteral("2"))
                     .toInt();
    e.writtenAt = at;
    if (!batch.isEmpty()) {
        PackingJob job;
        job.sBatch = batch;
        e.job = job;
    }
    e.rows.push_back({BoxRow::OuterLabel, a[4]});
    e.rows.push_back({BoxRow::MiddleLabel, QStringLiteral("Z-") + a[4]});
    for (const QString &barcode : a.mid(5))
        e.rows.push_back(BoxRow::of(gs1rules::listedPack(barcode, at.date())));
    Outbox outbox(a[2]);
    outbox.add(e);
    PlantSender sender(a[0], a[1], outbox);
    const PlantSender::Report r = sender.deliver();
    for (const PlantSender::Conflict &c : r.conflicts)
        std::printf("%s\n", qPrintable(c.barcode));
    if (!r.recorded) {
        std::fprintf(stderr, "not delivered: %s\n", qPrintable(r.why));
        return 1;
    }
    return 0;
}
