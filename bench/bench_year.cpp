// A plant's record at a year's size: 100 million packs (10 million boxes of 10, one a
// second back from now, 20 stations) loaded in steps on the bench's own durable server
// with a plant server's memory settings. After each step, figures at that size:
//  - the load: time of the step, packs per second;
//  - disk: the database, its tables and each index (growth per million packs follows);
//  - a station's plant-wide check (p99 target < 5 ms), for recorded and unknown packs;
//  - a lookup as the board makes it, where a pack or box is and its story (target < 50 ms);
//  - a station's delivery of a box with its conflicts recorded;
//  - the board's data of a day (target < 300 ms);
//  - batches: 1,000 on five lines, one of 3,000 boxes (30,000 packs, some taken out); the
//    list of a line's batches and a batch's count against plan (each target < 50 ms);
//  - with gs1: every pack also has GS1 fields (ten products, lots of 3,000 boxes), and the
//    check by GTIN and serial (p99 < 5 ms) and a recall of a lot (< 200 ms) are timed too.
// Usage: bench_year [BOXES_IN_MILLIONS [gs1]] (10 by default; 1 for a quick run).
// Prints "figure_name: value unit" lines.
#include "Quantile.h"
#include "BenchDatabase.h"
#include "TimedCheck.h"

#include "board/BoardData.h"
#include "support/DeliverBox.h"
#include "plant/Batches.h"
#include "plant/PlantCheck.h"
#include "plant/Recall.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kPacksPerBox = 10;
constexpr qint64 kStep = 500000; // boxes loaded in one transaction

QString pack(qint64 box, int p)
{
    return QStringLiteral("P%1").arg(box * kPacksPerBox + p, 9, 10, QLatin1Char('0'));
}

double mib(database::Connection &db, const QString &sizeOf)
{
    return plantdb::one(db, QStringLiteral("SELECT %1").arg(sizeOf)).toDouble() / (1024.0 * 1024.0);
}

// The check by GTIN and serial, and recalls of whole lots.
void measureGs1(PlantCheck &check, database::Connection &admin, qint64 boxes, QRandomGenerator &random)
{
    std::vector<double> checks;
    for (int n = 0; n < 2000; ++n) {
        const bool recorded = n % 4 != 0;
        const qint64 box = 1 + random.bounded(boxes);
        const QString serial = recorded ? QString::number(box * kPacksPerBox + random.bounded(kPacksPerBox)) : QStringLiteral("X%1").arg(n);
        const auto [answer, ms] = timedCheck(check, Pack({{"21", serial}, {"01", benchGtinOf(box)}}));
        checks.push_back(ms);
        if (!answer.reached || answer.found.has_value() != recorded) {
            std::fprintf(stderr, "wrong answer for GS1 serial %s\n", qPrintable(serial));
            std::exit(1);
        }
    }
    std::sort(checks.begin(), checks.end());
    std::printf("gs1_check_median: %.3f ms\ngs1_check_p99: %.3f ms (target < 5 ms)\n", quantile(checks, 0.5), quantile(checks, 0.99));
    if (boxes < 2 * kBenchBoxesPerLot)
        return;
    std::vector<double> recalls;
    int packs = 0;
    for (int n = 0; n < 10; ++n) {
        const qint64 box = kBenchBoxesPerLot * (1 + random.bounded(boxes / kBenchBoxesPerLot - 1));
        QElapsedTimer clock;
        clock.start();
        packs = 0;
        for (const recall::Box &b : recall::boxesOf(admin, benchGtinOf(box), benchLotOf(box)))
            packs += b.packs;
        recalls.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(recalls.begin(), recalls.end());
    std::printf("gs1_recall_median: %.1f ms, max %.1f ms (target < 200 ms) for a lot of %d packs\n", quantile(recalls, 0.5),
                recalls.back(), packs);
}

// The batches, made once: 1,000 on five lines; Y00001 with 3,000 boxes of 10 packs, 20
// of its packs taken out, so that its count asks the changed boxes pack by pack.
void makeBatches(database::Connection &admin)
{
    admin.runScript(QStringLiteral(
        "INSERT INTO zantrel.batches (batch, line, gtin, lot, expiry, planned, added_by)"
        " SELECT 'Y' || lpad(n::text, 5, '0'), 'L' || (1 + n % 5), '09501101530003', 'Y' || n, '271231', 30000, 'bench'"
        " FROM generate_series(1, 1000) n;"
        "CREATE TEMPORARY TABLE y AS SELECT gen_random_uuid() AS box_id, n FROM generate_series(1, 3000) n;"
        "INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at, pack_count, batch)"
        " SELECT box_id, 'batchline', 'YW' || n, '20261210.xls', 2 + 11 * n, 11, now(), 10, 'Y00001' FROM y;"
        "INSERT INTO zantrel.box_rows (box_id, row_index, kind, text)"
        " SELECT box_id, 0, 0, 'YW' || n FROM y;"
        "INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label)"
        " SELECT box_id, p, 2, 'YP' || (n * 10 + p), NULL FROM y, generate_series(1, 10) p;"
        "INSERT INTO zantrel.box_changes (kind, box_id, barcode, person, reason)"
        " SELECT 'take-out', box_id, 'YP' || (n * 10 + 1), 'bench', '抽样' FROM y WHERE n % 150 = 0;"
        "DROP TABLE y; ANALYZE zantrel.batches, zantrel.batch_states, zantrel.boxes, zantrel.box_changes;"));
}

void measureBatches(PgServer &server, const QString &name)
{
    auto db = database::connect(server.url(QStringLiteral("board"), name));
    std::vector<double> lists, counts;
    size_t listed = 0;
    int64_t packed = 0;
    for (int n = 0; n < 20; ++n) {
        QElapsedTimer clock;
        clock.start();
        listed = batches::list(*db, QStringLiteral("L2")).size();
        lists.push_back(clock.nsecsElapsed() / 1e6);
        clock.start();
        packed = batches::find(*db, QStringLiteral("Y00001"))->packed;
        counts.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(lists.begin(), lists.end());
    std::sort(counts.begin(), counts.end());
    if (packed != 30000 - 20) {
        std::fprintf(stderr, "batch Y00001 counted %lld packs, not %d\n", static_cast<long long>(packed), 30000 - 20);
        std::exit(1);
    }
    std::printf("batch_list_median: %.1f ms, max %.1f ms (target < 50 ms) for a line of %zu batches\n", quantile(lists, 0.5),
                lists.back(), listed);
    std::printf("batch_count_median: %.1f ms, max %.1f ms (target < 50 ms) for a batch of 3000 boxes\n", quantile(counts, 0.5),
                counts.back());
}

void measure(PgServer &server, const QString &name, database::Connection &admin, qint64 boxes, bool gs1)
{
    const qint64 packs = boxes * kPacksPerBox;
    std::printf("\n== %lld packs ==\n", static_cast<long long>(packs));
    std::printf("disk_database: %.0f MiB (%.1f MiB per million packs)\n", mib(admin, QStringLiteral("pg_database_size(current_database())")),
                mib(admin, QStringLiteral("pg_database_size(current_database())")) * 1e6 / double(packs));
    for (const QString &relation : {QStringLiteral("boxes"), QStringLiteral("box_rows")})
        std::printf("disk_table_%s: %.0f MiB\n", qPrintable(relation),
                    mib(admin, QStringLiteral("pg_table_size('zantrel.%1')").arg(relation)));
    const auto indexes = admin.run(QStringLiteral("SELECT indexrelid::regclass::text, pg_relation_size(indexrelid) FROM pg_index"
                                                  " WHERE indrelid IN ('zantrel.boxes'::regclass, 'zantrel.box_rows'::regclass) ORDER BY 1"));
    for (const auto &row : indexes)
        std::printf("disk_index_%s: %.0f MiB\n", qPrintable(row[0].value_or(QString()).section('.', 1)),
                    row[1].value_or(QStringLiteral("0")).toDouble() / (1024.0 * 1024.0));

    QRandomGenerator random(20261208);
    PlantCheck check(server.url(QStringLiteral("line3"), name));
    std::vector<double> checks;
    for (int n = 0; n < 2000; ++n) {
        const bool recorded = n % 4 != 0;
        const QString barcode = recorded ? pack(1 + random.bounded(boxes), int(random.bounded(kPacksPerBox))) : QStringLiteral("X%1").arg(n);
        const auto [answer, ms] = timedCheck(check, barcode);
        checks.push_back(ms);
        if (!answer.reached || answer.found.has_value() != recorded) {
            std::fprintf(stderr, "wrong answer for %s\n", qPrintable(barcode));
            std::exit(1);
        }
    }
    std::sort(checks.begin(), checks.end());
    std::printf("check_median: %.3f ms\ncheck_p95: %.3f ms\ncheck_p99: %.3f ms (target < 5 ms)\ncheck_max: %.3f ms\n", quantile(checks, 0.5),
                quantile(checks, 0.95), quantile(checks, 0.99), checks.back());
    if (gs1)
        measureGs1(check, admin, boxes, random);

    const qint64 midnight = QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
    board::BoardData board(server.url(QStringLiteral("board"), name), 10);
    std::vector<double> lookups;
    for (int n = 0; n < 300; ++n) {
        const qint64 box = 1 + random.bounded(boxes);
        const QString text = n % 3 == 2 ? QStringLiteral("W%1").arg(box) : pack(box, int(random.bounded(kPacksPerBox)));
        QElapsedTimer clock;
        clock.start();
        // What the board's search answers: where it is, and its story.
        if (board.lookup(text).empty() || board.history(text).empty()) {
            std::fprintf(stderr, "nothing found for %s\n", qPrintable(text));
            std::exit(1);
        }
        lookups.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(lookups.begin(), lookups.end());
    std::printf("lookup_median: %.2f ms\nlookup_p99: %.2f ms (target < 50 ms)\n", quantile(lookups, 0.5), quantile(lookups, 0.99));

    // A station's delivery of a box of 10 packs, one of them recorded before, with the
    // conflicts recorded (a fresh sender and connection each, as deliverBox makes them).
    std::vector<double> deliveries;
    for (int n = 0; n < 50; ++n) {
        static int delivered = 0;
        const QString outer = QStringLiteral("D%1").arg(++delivered);
        std::vector<BoxRow> rows{{BoxRow::OuterLabel, outer}, {BoxRow::MiddleLabel, QStringLiteral("Z") + outer}};
        rows.push_back({BoxRow::Pack, pack(1 + random.bounded(boxes), 0)});
        for (int p = 1; p < kPacksPerBox; ++p)
            rows.push_back({BoxRow::Pack, QStringLiteral("%1-%2").arg(outer).arg(p)});
        QElapsedTimer clock;
        clock.start();
        const PlantSender::Report r = deliverBox(server.url(QStringLiteral("line3"), name), QStringLiteral("load-00"), 2 + 12 * delivered,
                                                 QDateTime::currentDateTime(), rows);
        deliveries.push_back(clock.nsecsElapsed() / 1e6);
        if (!r.recorded) {
            std::fprintf(stderr, "a delivery failed: %s\n", qPrintable(r.why));
            std::exit(1);
        }
    }
    std::sort(deliveries.begin(), deliveries.end());
    std::printf("delivery_with_conflicts_median: %.1f ms\ndelivery_with_conflicts_p99: %.1f ms (a station waits at most 10 s)\n",
                quantile(deliveries, 0.5), quantile(deliveries, 0.99));

    std::vector<double> reads;
    board.snapshot(midnight);
    for (int n = 0; n < 10; ++n) {
        QElapsedTimer clock;
        clock.start();
        board.snapshot(midnight);
        reads.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(reads.begin(), reads.end());
    std::printf("board_data_median: %.0f ms\nboard_data_max: %.0f ms (target < 300 ms)\n", quantile(reads, 0.5), reads.back());
    measureBatches(server, name);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const qint64 boxes = qint64((argc > 1 ? QByteArray(argv[1]).toDouble() : 10) * 1e6);
    const bool gs1 = argc > 2 && QByteArray(argv[2]) == "gs1";
    PgServer server(true);
    // A plant server's memory, not the defaults of a fresh cluster.
    server.set(QStringLiteral("shared_buffers"), QStringLiteral("4GB"));
    server.set(QStringLiteral("max_wal_size"), QStringLiteral("8GB"));
    server.set(QStringLiteral("maintenance_work_mem"), QStringLiteral("512MB"));
    server.set(QStringLiteral("effective_cache_size"), QStringLiteral("12GB"));
    const QString name = benchDatabase(server, QStringLiteral("yearbench"));
    auto admin = database::connect(server.url(QStringLiteral("postgres"), name));
    plantdb::addBoardLogin(*admin);
    admin->runScript(QStringLiteral("INSERT INTO zantrel.station_state SELECT 'line' || s, now(), 0, '' FROM generate_series(0, 19) s"));
    makeBatches(*admin);
    std::printf("loading %lld boxes of %d packs in steps of %lld boxes\n", static_cast<long long>(boxes), kPacksPerBox,
                static_cast<long long>(kStep));

    QElapsedTimer total;
    total.start();
    double loadSeconds = 0;
    qint64 loaded = 0;
    for (const qint64 milestone : {qint64(100000), qint64(1000000), qint64(2500000), qint64(5000000), qint64(10000000), qint64(25000000), qint64(50000000)}) {
        if (milestone > boxes)
            break;
        QElapsedTimer step;
        step.start();
        while (loaded < milestone) {
            const qint64 count = std::min(kStep, milestone - loaded);
            loadBoxes(*admin, count, kPacksPerBox, loaded + 1, gs1);
            loaded += count;
        }
        const double seconds = step.elapsed() / 1000.0;
        // What autovacuum would do at its own time, done now, so that it does not run
        // under the measurement.
        QElapsedTimer vacuum;
        vacuum.start();
        admin->runScript(QStringLiteral("VACUUM (ANALYZE) zantrel.boxes, zantrel.box_rows"));
        admin->runScript(QStringLiteral("CHECKPOINT"));
        std::printf("\nvacuum_analyze: %.0f s\n", vacuum.elapsed() / 1000.0);
        loadSeconds += seconds;
        std::printf("loaded: %lld packs in %.0f s (this step %.0f s, %.0f packs/s)\n", static_cast<long long>(loaded * kPacksPerBox),
                    loadSeconds, seconds, double(milestone * kPacksPerBox) / loadSeconds);
        measure(server, name, *admin, loaded, gs1);
    }
    std::printf("\nall: %.0f s\n", total.elapsed() / 1000.0);
    return 0;
}
