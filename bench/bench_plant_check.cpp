// The plant-wide duplicate check at the scale of a plant: 10 million packs recorded
// on the bench's own server (1 million boxes of 10), then the station's question
// about a barcode, timed from asking to the answer (the part of a scan beyond the
// settle wait that the check adds), for barcodes that are recorded and that are not.
// Prints the figures beside the target, and the query's plan once.
#include "Quantile.h"
#include "BenchDatabase.h"
#include "TimedCheck.h"

#include "plant/PlantCheck.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kBoxes = 1000000;
constexpr int kPacksPerBox = 10;
constexpr int kQuestions = 2000;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PgServer server(true);
    const QString name = benchDatabase(server, QStringLiteral("checkbench"));
    auto admin = database::connect(server.url(QStringLiteral("postgres"), name));
    QElapsedTimer loading;
    loading.start();
    loadBoxes(*admin, kBoxes, kPacksPerBox);
    admin->runScript(QStringLiteral("VACUUM ANALYZE zantrel.boxes"));
    admin->runScript(QStringLiteral("VACUUM ANALYZE zantrel.box_rows"));
    std::printf("recorded: %s packs in %s boxes (loaded in %.0f s)\n",
                qPrintable(plantdb::one(*admin, "SELECT count(*) FROM zantrel.box_rows WHERE kind = zantrel.pack_row()")),
                qPrintable(plantdb::one(*admin, "SELECT count(*) FROM zantrel.boxes")), loading.elapsed() / 1000.0);

    PlantCheck check(server.url(QStringLiteral("line3"), name));
    QRandomGenerator random(20261208);
    std::vector<double> known, unknown;
    for (int n = 0; n < kQuestions; ++n) {
        const bool recorded = n % 2 == 0;
        const qint64 pack = recorded ? 1 + qint64(random.bounded(kBoxes)) * kPacksPerBox : 900000000 + n;
        const QString barcode = QStringLiteral("P%1").arg(pack, 9, 10, QLatin1Char('0'));
        const auto [answer, ms] = timedCheck(check, barcode);
        if (!answer.reached || answer.found.has_value() != recorded) {
            std::fprintf(stderr, "wrong answer for %s\n", qPrintable(barcode));
            return 1;
        }
        (recorded ? known : unknown).push_back(ms);
    }
    std::vector<double> all = known;
    all.insert(all.end(), unknown.begin(), unknown.end());
    for (auto *v : {&known, &unknown, &all})
        std::sort(v->begin(), v->end());
    std::printf("check_recorded_median: %.3f ms, p99: %.3f ms\n", quantile(known, 0.5), quantile(known, 0.99));
    std::printf("check_not_recorded_median: %.3f ms, p99: %.3f ms\n", quantile(unknown, 0.5), quantile(unknown, 0.99));
    std::printf("check_all_median: %.3f ms\n", quantile(all, 0.5));
    std::printf("check_all_p99: %.3f ms (target < 5 ms) over %d questions\n", quantile(all, 0.99), kQuestions);
    std::printf("plan:\n");
    for (const database::Row &row : admin->run(QStringLiteral(
             "EXPLAIN (ANALYZE, BUFFERS, COSTS OFF) SELECT b.station, b.outer_label, to_char(b.written_at, 'YYYY-MM-DD HH24:MI:SS')"
             " FROM zantrel.box_rows r JOIN zantrel.boxes b USING (box_id)"
             " WHERE r.kind = zantrel.pack_row() AND r.text = $1 ORDER BY b.recorded_at LIMIT 1"),
                                                {QStringLiteral("P000005001")}))
        std::printf("  %s\n", qPrintable(row[0].value_or(QString())));
    return 0;
}
