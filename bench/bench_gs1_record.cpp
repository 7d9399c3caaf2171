// GS1 packs in the plant record at a plant's size: 10 million packs with GTIN, serial
// and lot (about 303,000 boxes of 33; a lot is 3,000 boxes, some 99,000 packs, of one
// of ten products), made by the server itself. Then, timed:
//  - the station's plant-wide check by GTIN and serial, asked in another spelling than
//    recorded (target p99 < 5 ms);
//  - a recall of a lot, every box holding its packs now (target < 200 ms);
//  - the EPCIS export of the latest 65,000 packs as SGTINs (target < 10 s, 100 MiB).
// Usage: bench_gs1_record [BOXES] (303,031 by default). Prints each figure beside its target.
#include "BenchDatabase.h"
#include "ExportFigures.h"
#include "Quantile.h"
#include "TimedCheck.h"

#include "core/Gs1.h"
#include "plant/Epcis.h"
#include "plant/PlantCheck.h"
#include "plant/Recall.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 kYearBoxes = 303031; // 10 million packs
qint64 kBoxes = kYearBoxes;            // fewer for a quick run (BOXES on the command line)
constexpr int kPacksPerBox = 33;
constexpr int kBoxesPerLot = kBenchBoxesPerLot;
constexpr int kQuestions = 2000;
constexpr int kRecalls = 20;

// Box n's packs: the product and lot of BenchDatabase's GS1 packs, serial n * 33 + p, in
// human-readable form as a station lists them.
void load(database::Connection &db)
{
    loadLabelsAndBoxes(db, kBoxes, kPacksPerBox, 1, true);
    db.runScript(QStringLiteral(
        "INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label, gtin, serial, lot, expiry)"
        " SELECT md5(n::text)::uuid, 2 + p, 2, '(01)' || g || '(21)' || (n * %2 + p) || '(10)L' || (n / %3) || '(17)271231',"
        "        'Z' || n, g, (n * %2 + p)::text, 'L' || (n / %3), '271231'"
        " FROM generate_series(1, %1) n CROSS JOIN LATERAL (SELECT %4 AS g) x, generate_series(0, %2 - 1) p;")
                     .arg(kBoxes).arg(kPacksPerBox).arg(kBenchBoxesPerLot).arg(benchGtinSql()));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1)
        kBoxes = std::max<qint64>(2 * kBoxesPerLot, QByteArray(argv[1]).toLongLong());
    PgServer server(true);
    const QString name = benchDatabase(server, QStringLiteral("gs1bench"));
    auto admin = database::connect(server.url(QStringLiteral("postgres"), name));
    QElapsedTimer loading;
    loading.start();
    load(*admin);
    admin->runScript(QStringLiteral("VACUUM ANALYZE zantrel.boxes"));
    admin->runScript(QStringLiteral("VACUUM ANALYZE zantrel.box_rows"));
    std::printf("recorded: %s GS1 packs in %s boxes (loaded in %.0f s)\n",
                qPrintable(plantdb::one(*admin, "SELECT count(*) FROM zantrel.box_rows WHERE gtin IS NOT NULL")),
                qPrintable(plantdb::one(*admin, "SELECT count(*) FROM zantrel.boxes")), loading.elapsed() / 1000.0);

    // The check, each pack spelled with its fields in another order than recorded.
    PlantCheck check(server.url(QStringLiteral("line3"), name));
    QRandomGenerator random(20261209);
    std::vector<double> ms;
    for (int n = 0; n < kQuestions; ++n) {
        const bool recorded = n % 2 == 0;
        const qint64 box = 1 + qint64(random.bounded(int(kBoxes)));
        const QString serial = recorded ? QString::number(box * kPacksPerBox) : QStringLiteral("X%1").arg(n);
        const Pack pack({{"10", benchLotOf(box)}, {"21", serial}, {"01", benchGtinOf(box)}});
        const auto [answer, took] = timedCheck(check, pack);
        if (!answer.reached || answer.found.has_value() != recorded) {
            std::fprintf(stderr, "wrong answer for %s\n", qPrintable(pack.text()));
            return 1;
        }
        ms.push_back(took);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("gs1_check_median: %.3f ms\n", quantile(ms, 0.5));
    std::printf("gs1_check_p99: %.3f ms (target < 5 ms) over %d questions, half of them recorded\n", quantile(ms, 0.99), kQuestions);

    // Recalls of whole lots.
    std::vector<double> recalls;
    int boxes = 0, packs = 0;
    for (int n = 0; n < kRecalls; ++n) {
        const qint64 box = kBoxesPerLot * (1 + qint64(random.bounded(int(kBoxes / kBoxesPerLot) - 1)));
        QElapsedTimer clock;
        clock.start();
        const std::vector<recall::Box> found = recall::boxesOf(*admin, benchGtinOf(box), benchLotOf(box));
        recalls.push_back(double(clock.nsecsElapsed()) / 1e6);
        boxes = int(found.size());
        packs = 0;
        for (const recall::Box &b : found)
            packs += b.packs;
    }
    std::sort(recalls.begin(), recalls.end());
    std::printf("gs1_recall_median: %.1f ms, max %.1f ms (target < 200 ms) for a lot of %d packs in %d boxes\n",
                quantile(recalls, 0.5), recalls.back(), packs, boxes);

    // The export of the latest 65,000 packs: 1,970 boxes, one a second apart.
    epcis::Options o;
    o.to = QDateTime::currentDateTime().addSecs(60);
    o.from = QDateTime::fromSecsSinceEpoch(
        plantdb::one(*admin, "SELECT extract(epoch FROM written_at)::bigint FROM zantrel.boxes WHERE outer_label = 'W1970'").toLongLong());
    o.idBase = QStringLiteral("https://id.example.com/");
    o.gcpLength = 7;
    CountingDevice out;
    const qint64 before = peakKib();
    QElapsedTimer clock;
    clock.start();
    const qint64 events = epcis::write(*admin, o, out);
    std::printf("gs1_epcis_export: %lld events, %.0f MB in %.2f s (target < 10 s)\n", static_cast<long long>(events), out.bytes / 1e6,
                clock.elapsed() / 1000.0);
    std::printf("gs1_epcis_export_peak_memory: %lld KiB before, %lld KiB after (target < 100 MiB, this process)\n",
                static_cast<long long>(before), static_cast<long long>(peakKib()));
    return 0;
}
