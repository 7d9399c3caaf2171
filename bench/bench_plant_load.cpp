// The plant-wide check under load: 20 station processes (load_station), each
// scanning 5 packs a second for 2 minutes, one scan in a hundred a pack another
// station already holds, against one durable server of the bench's own. Afterwards
// every repeat must be refused or recorded as a conflict, and every box written
// must be recorded once. Bounded: the stations give up 2 minutes after scanning.
//   bench_plant_load [SECONDS]   (default 120)
#include "BenchDatabase.h"
#include "LoadStations.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr int kStations = 20;
    constexpr int kRate = 5;
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 120;
    PgServer server(true);
    const QString name = benchDatabase(server, QStringLiteral("loadbench"));
    auto admin = database::connect(server.url(QStringLiteral("postgres"), name));
    // Every connection of 20 stations (a sender and a check each), with room.
    QTemporaryDir folders;
    const std::vector<std::unique_ptr<QProcess>> stations = startLoadStations(folders, server.url(QStringLiteral("line3"), name), kStations, seconds, kRate);
    int scans = 0, repeats = 0, refused = 0, boxes = 0, failed = 0;
    QStringList taken;
    std::vector<double> p99s;
    double worst = 0;
    for (auto &p : stations) {
        p->waitForFinished(-1);
        if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0) {
            ++failed;
            std::fprintf(stderr, "a station failed (%d): %s\n", p->exitCode(), p->readAllStandardError().constData());
            continue;
        }
        for (const QByteArray &line : p->readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.value(0) == "repeat" && f.value(2) == "taken")
                taken << QString::fromLatin1(f.value(1));
            if (f.value(0) == "scans") {
                scans += f.value(1).toInt();
                repeats += f.value(3).toInt();
                refused += f.value(5).toInt();
                boxes += f.value(7).toInt();
            }
            if (f.value(0) == "receive_ms") {
                p99s.push_back(f.value(2).toDouble());
                worst = std::max(worst, f.value(3).toDouble());
            }
        }
    }
    std::sort(p99s.begin(), p99s.end());
    const int recorded = plantdb::one(*admin, "SELECT count(*) FROM zantrel.boxes").toInt();
    const int distinct = plantdb::one(*admin, "SELECT count(DISTINCT (station, outer_label)) FROM zantrel.boxes").toInt();
    int conflicted = 0;
    for (const QString &pack : taken)
        conflicted += plantdb::one(*admin, "SELECT count(*) FROM zantrel.conflicts WHERE barcode = $1", {pack}) == QStringLiteral("1");
    std::printf("stations: %d, %d packs a second each, %d s; %d failed\n", kStations, kRate, seconds, failed);
    std::printf("scans: %d; repeats of another station's pack: %d\n", scans, repeats);
    std::printf("repeats refused at the scan: %d; taken and recorded as one conflict each: %d of %lld\n", refused, conflicted,
                static_cast<long long>(taken.size()));
    std::printf("every repeat refused or recorded: %s\n", refused + conflicted == repeats ? "yes" : "NO");
    std::printf("boxes written: %d; recorded: %d; recorded twice: %d\n", boxes, recorded, recorded - distinct);
    std::printf("scan_handling_p99 (journal, outbox and check), worst station: %.2f ms; median station: %.2f ms; slowest scan: %.1f ms\n",
                p99s.empty() ? 0 : p99s.back(), p99s.empty() ? 0 : p99s[p99s.size() / 2], worst);
    return failed == 0 && refused + conflicted == repeats && boxes == recorded && recorded == distinct ? 0 : 1;
}
