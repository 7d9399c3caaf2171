// A plant's record failing over: a durable primary with a streaming standby, a
// station's real link to the record (its own back-off, a multi-host URL that asks for
// the primary) handing over a box every 100 ms. The primary dies (pg_ctl stop -m
// immediate) and the standby is promoted at once. The figure is the time from the
// death to the first box handed over after it being recorded on the new primary,
// over several rounds, each on a new pair of servers; the promotion's own time beside it.
// Prints "figure_name: value unit" lines.
#include "Quantile.h"
#include "BenchDatabase.h"

#include "plant/PlantLink.h"
#include "station/ports/BoxExport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

constexpr int kRounds = 5;
constexpr int kBoxEveryMs = 100;

struct Round
{
    double recordedMs = -1; // death to the first later box on the new primary
    double promoteMs = 0;
};

void handOver(PlantLink &link, int n)
{
    const QString label = QStringLiteral("F%1").arg(n, 6, 10, QLatin1Char('0'));
    Box box;
    const std::vector<BoxRow> rows{{BoxRow::OuterLabel, label}, {BoxRow::MiddleLabel, QStringLiteral("Z") + label},
                                   {BoxRow::Pack, QStringLiteral("P") + label}};
    box.restore(rows, true, std::nullopt, ExportTarget{QStringLiteral("20261208.xls"), 2 + 3 * n, QUuid::createUuid()});
    link.handOver(box, ExportReceipt{label, QStringLiteral("20261208.xls"), 2 + 3 * n, QDateTime::currentDateTime(), {}});
}

Round oneRound()
{
    PgServer primary(true), standby(true);
    const QString name = benchDatabase(primary, QStringLiteral("failover"));
    const QString why = standby.startStandbyOf(primary);
    if (!why.isEmpty()) {
        std::fprintf(stderr, "no standby: %s\n", qPrintable(why));
        std::exit(1);
    }
    const QString both = QStringLiteral("host=%1,%2 port=%3,%4 dbname=%5 user=line3 target_session_attrs=read-write connect_timeout=2")
                             .arg(primary.socketFolder(), standby.socketFolder())
                             .arg(primary.port()).arg(standby.port()).arg(name);
    QTemporaryDir folder;
    PlantLink::Options o; // a station's own back-off and timeouts
    o.url = both;
    o.station = QStringLiteral("bench-lag");
    PlantLink link(folder.path(), o);
    auto reader = database::connect(standby.url(QStringLiteral("postgres"), name));
    int n = 0;
    // Boxes flow and reach the standby.
    for (; n < 20; ++n) {
        handOver(link, n);
        std::this_thread::sleep_for(std::chrono::milliseconds(kBoxEveryMs));
    }
    while (plantdb::one(*reader, QStringLiteral("SELECT count(*) FROM zantrel.boxes")).toInt() < 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    Round r;
    QElapsedTimer sinceDeath;
    primary.stop();
    sinceDeath.start();
    const int firstAfter = n;
    QElapsedTimer promoting;
    promoting.start();
    standby.promote();
    r.promoteMs = promoting.nsecsElapsed() / 1e6;
    const QString later = QStringLiteral("SELECT count(*) FROM zantrel.boxes WHERE outer_label >= 'F%1'").arg(firstAfter, 6, 10, QLatin1Char('0'));
    QElapsedTimer sinceHanded;
    sinceHanded.start();
    while (sinceDeath.elapsed() < 120000) {
        if (sinceHanded.elapsed() >= kBoxEveryMs) {
            handOver(link, n++);
            sinceHanded.restart();
        }
        try {
            if (plantdb::one(*reader, later).toInt() > 0) {
                r.recordedMs = sinceDeath.nsecsElapsed() / 1e6;
                break;
            }
        } catch (const RuntimeError &) {
            // The promotion ends the reader's session on some servers: read again on a new one.
            reader = database::connect(standby.url(QStringLiteral("postgres"), name));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<double> recorded, promoted;
    for (int round = 0; round < kRounds; ++round) {
        const Round r = oneRound();
        if (r.recordedMs < 0) {
            std::fprintf(stderr, "round %d: no box reached the new primary in 120 s\n", round + 1);
            return 1;
        }
        std::printf("round %d: first box on the new primary %.0f ms after the death (promotion %.0f ms)\n", round + 1, r.recordedMs,
                    r.promoteMs);
        recorded.push_back(r.recordedMs);
        promoted.push_back(r.promoteMs);
    }
    std::sort(recorded.begin(), recorded.end());
    std::sort(promoted.begin(), promoted.end());
    std::printf("failover_first_box_median: %.0f ms\nfailover_first_box_max: %.0f ms\n", quantile(recorded, 0.5), recorded.back());
    std::printf("failover_promotion_median: %.0f ms\n", quantile(promoted, 0.5));
    std::printf("(a station backs off 1, 2, 4 … s between failed tries; its next try after the promotion decides the figure)\n");
    return 0;
}
