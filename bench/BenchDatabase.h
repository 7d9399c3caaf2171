#pragma once

#include "support/PgServer.h"
#include "support/PlantDb.h"

#include "core/Gs1.h"

#include <cstdio>
#include <cstdlib>

// A durable server of the benchmark's own and a database on it with the plant
// schema; the benchmark ends, saying why, when the server cannot start.
inline QString benchDatabase(PgServer &server, const QString &name)
{
    const QString why = server.start();
    if (!why.isEmpty()) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(why));
        std::exit(1);
    }
    // Every station a benchmark runs, owned by the stations' login.
    QStringList stations{QStringLiteral("bench-lag"), QStringLiteral("bench-drain"), QStringLiteral("bench-scan"), QStringLiteral("bench-level")};
    for (int n = 0; n < 100; ++n)
        stations << QStringLiteral("load-%1").arg(n, 2, 10, QLatin1Char('0'));
    return plantdb::make(server, name, stations);
}

// GS1 packs of benchmarks: ten products of one company prefix (0614141, seven digits);
// box n holds product n / 3,000 mod 10 of lot "L" n / 3,000.
constexpr int kBenchProducts = 10;
constexpr int kBenchBoxesPerLot = 3000;
inline QStringList benchGtins()
{
    QStringList out;
    for (int i = 0; i < kBenchProducts; ++i) {
        const QString body = QStringLiteral("8061414100%1").arg(i, 3, 10, QLatin1Char('0'));
        out << body + QString::number(gs1::checkDigit(body));
    }
    return out;
}
inline QString benchGtinOf(qint64 box)
{
    return benchGtins()[int((box / kBenchBoxesPerLot) % kBenchProducts)];
}
inline QString benchLotOf(qint64 box)
{
    return QStringLiteral("L%1").arg(box / kBenchBoxesPerLot);
}
// The SQL of a box n's product, for the server to fill rows with.
inline QString benchGtinSql()
{
    return QStringLiteral("(ARRAY['%1'])[(n / %2) %3 %4 + 1]")
        .arg(benchGtins().join(QStringLiteral("','")))
        .arg(kBenchBoxesPerLot)
        .arg(QLatin1Char('%'))
        .arg(kBenchProducts);
}

// The boxes and their label rows, for loadBoxes; a GS1 box with its product and lot.
inline void loadLabelsAndBoxes(database::Connection &db, qint64 boxes, int perBox, qint64 first, bool gs1 = false)
{
    db.runScript(QStringLiteral(
        "INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at, pack_count%4)"
        " SELECT md5(n::text)::uuid, 'line' || (n % 20), 'W' || n, '20261208.xls', 2 + (%2 + 2) * (n / 20), %2 + 2,"
        "        now() - interval '1 second' * n, %2%5 FROM generate_series(%3, %1) n;"
        "INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label)"
        " SELECT md5(n::text)::uuid, 0, 0, 'W' || n, NULL FROM generate_series(%3, %1) n;"
        "INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label)"
        " SELECT md5(n::text)::uuid, 1, 1, 'Z' || n, NULL FROM generate_series(%3, %1) n;")
                     .arg(first + boxes - 1).arg(perBox).arg(first)
                     .arg(gs1 ? QStringLiteral(", gtin, lot") : QString(),
                          gs1 ? QStringLiteral(", %1, 'L' || (n / %2)").arg(benchGtinSql()).arg(kBenchBoxesPerLot) : QString()));
}

// A plant's record at scale, made by the server itself (the figures are about reading,
// not loading): boxes 1 … boxes ("W" n, box id md5(n), one a second back from now),
// each with its outer and middle label rows and packs "P" + the 9-digit n × perBox + p.
// With gs1, each pack also has its GS1 fields: the product and lot above, the serial
// n × perBox + p. From a first box other than 1, a record grows in steps.
inline void loadBoxes(database::Connection &db, qint64 boxes, int perBox, qint64 first = 1, bool gs1 = false)
{
    if (gs1) {
        loadLabelsAndBoxes(db, boxes, perBox, first, true);
        db.runScript(QStringLiteral(
            "INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label, gtin, serial, lot, expiry)"
            " SELECT md5(n::text)::uuid, 2 + p, 2, 'P' || lpad((n * %2 + p)::text, 9, '0'), 'Z' || n,"
            "        %4, (n * %2 + p)::text, 'L' || (n / %5), '271231'"
            " FROM generate_series(%3, %1) n, generate_series(0, %2 - 1) p;")
                         .arg(first + boxes - 1).arg(perBox).arg(first).arg(benchGtinSql()).arg(kBenchBoxesPerLot));
        return;
    }
    loadLabelsAndBoxes(db, boxes, perBox, first);
    db.runScript(QStringLiteral(
        "INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label)"
        " SELECT md5(n::text)::uuid, 2 + p, 2, 'P' || lpad((n * %2 + p)::text, 9, '0'), 'Z' || n"
        " FROM generate_series(%3, %1) n, generate_series(0, %2 - 1) p;")
                     .arg(first + boxes - 1).arg(perBox).arg(first));
}
