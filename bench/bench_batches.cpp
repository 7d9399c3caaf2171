// Batches at the station: the time from 开始 to the batch window standing, with 1,000
// batches on the line (the record asked through the station's own link, the window
// built and shown); and what the check of a pack against the batch adds to a scan,
// beside the floor of the box's own GS1 check measured in the same run.
#include "Quantile.h"

#include "support/PgServer.h"
#include "support/PlantDb.h"

#include "packing/Gs1Rules.h"
#include "plant/PlantLink.h"
#include "ui/setup/frm_BATCH.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kBatches = 1000;
constexpr int kOpenings = 30;
constexpr int kPacks = 200000;

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PgServer server;
    if (const QString why = server.start(); !why.isEmpty()) {
        std::fprintf(stderr, "bench_batches: %s\n", qPrintable(why));
        return 1;
    }
    const QString name = plantdb::make(server, QStringLiteral("batches"));
    auto admin = database::connect(server.url(QStringLiteral("postgres"), name));
    // The line's batches: most released, some running with boxes of their own.
    admin->run(QStringLiteral("INSERT INTO zantrel.batches (batch, line, gtin, lot, expiry, planned, per_middle, per_outer, added_by)"
                              " SELECT 'B' || lpad(n::text, 5, '0'), 'L1', '09501101530003', 'L' || n, '271231', 5000, 2, 10, 'bench'"
                              " FROM generate_series(1, $1::integer) n"),
               {QString::number(kBatches)});
    admin->run(QStringLiteral("INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at, pack_count, batch)"
                              " SELECT gen_random_uuid(), 'line3-a', 'W' || n, '20261210.xls', 2 + 11 * n, 11, now(), 10,"
                              "        'B' || lpad((1 + n % 50)::text, 5, '0')"
                              " FROM generate_series(1, 5000) n"));
    admin->run(QStringLiteral("ANALYZE"));

    QTemporaryDir folder;
    PlantLink::Options options;
    options.url = server.url(QStringLiteral("line3"), name);
    options.station = QStringLiteral("line3-a");
    PlantLink link(folder.path(), options);
    std::vector<double> ms;
    size_t listed = 0;
    for (int i = 0; i < kOpenings; ++i) {
        QElapsedTimer clock;
        clock.start();
        const BatchSource::Offer offer = link.startable(QStringLiteral("L1"), {});
        auto *window = new frm_BATCH(offer.batches, offer.lastPacked, QStringLiteral("Zantrel系统V1.0"));
        window->show();
        QCoreApplication::processEvents();
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        listed = offer.batches.size();
        window->close();
        QCoreApplication::processEvents();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("batch window, %zu batches listed: median %.1f ms, p95 %.1f ms, worst %.1f ms (target < 200 ms)\n", listed,
                quantile(ms, 0.5), quantile(ms, 0.95), ms.back());

    // The scan's check against the batch, and the floor: the box's own check of the same pack.
    Batch batch;
    batch.number = QStringLiteral("B00001");
    batch.gtin = QStringLiteral("09501101530003");
    batch.lot = QStringLiteral("L24");
    batch.expiry = QStringLiteral("271231");
    const QDate today = QDate::currentDate();
    std::vector<Pack> packs;
    packs.reserve(kPacks);
    for (int i = 0; i < kPacks; ++i)
        packs.emplace_back(std::vector<gs1::Element>{{QStringLiteral("01"), batch.gtin}, {QStringLiteral("17"), batch.expiry},
                                                     {QStringLiteral("10"), batch.lot}, {QStringLiteral("21"), QString::number(i)}});
    const gs1rules::BoxKind kind{batch.gtin, batch.lot, batch.expiry};
    size_t refused = 0;
    QElapsedTimer clock;
    clock.start();
    for (const Pack &p : packs)
        refused += gs1rules::check(p, kind, today, 0).fault != gs1rules::PackFault::None;
    const double floorNs = double(clock.nsecsElapsed()) / kPacks;
    clock.start();
    for (const Pack &p : packs)
        refused += gs1rules::checkBatch(p, batch, today).fault != gs1rules::PackFault::None;
    const double batchNs = double(clock.nsecsElapsed()) / kPacks;
    std::printf("check of a pack against the batch: %.0f ns a scan (target < 5000 ns); the box's own check beside it: %.0f ns;"
                " %zu refused (0 expected)\n",
                batchNs, floorNs, refused);
    return 0;
}
