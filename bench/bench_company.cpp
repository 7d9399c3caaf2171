// A company database following a busy plant: 20 station processes (load_station),
// each scanning 5 packs a second, against one durable plant server (wal_level =
// logical, commit times kept), its record subscribed by a company database on a
// second server, as zantrel-db company add-plant does it. The figure is each box's
// lag from its commit at the plant to its arrival in the company database (a column
// of the bench's own, filled by the company's server as the row arrives), median, p99
// and max; both servers read the same clock. Afterwards the company must hold every box.
//   bench_company [SECONDS]   (default 120)
#include "Quantile.h"
#include "BenchDatabase.h"
#include "LoadStations.h"

#include "company/CompanyRecord.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    constexpr int kStations = 20;
    constexpr int kRate = 5;
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 120;
    PgServer plant(true), company(true);
    plant.set(QStringLiteral("wal_level"), QStringLiteral("logical"));
    plant.set(QStringLiteral("track_commit_timestamp"), QStringLiteral("on"));
    const QString name = benchDatabase(plant, QStringLiteral("loadbench"));
    const QString started = company.start();
    if (!started.isEmpty()) {
        std::fprintf(stderr, "no company server: %s\n", qPrintable(started));
        return 1;
    }
    database::connect(company.url())->run(QStringLiteral("CREATE DATABASE company"));
    auto co = database::connect(company.url(QStringLiteral("postgres"), QStringLiteral("company")));
    company::init(*co);
    // When each box arrived: a column the plant does not send, filled by its default.
    co->runScript(QStringLiteral("ALTER TABLE zantrel.boxes ADD COLUMN arrived_at timestamptz DEFAULT clock_timestamp()"));
    company::addPlant(*co, QStringLiteral("一厂"), plant.url(QStringLiteral("postgres"), name));

    QTemporaryDir folders;
    const std::vector<std::unique_ptr<QProcess>> stations = startLoadStations(folders, plant.url(QStringLiteral("line3"), name), kStations, seconds, kRate);
    int failed = 0;
    for (auto &p : stations) {
        p->waitForFinished(-1);
        if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0)
            ++failed;
    }
    auto admin = database::connect(plant.url(QStringLiteral("postgres"), name));
    const int recorded = plantdb::one(*admin, QStringLiteral("SELECT count(*) FROM zantrel.boxes")).toInt();
    QElapsedTimer waiting;
    waiting.start();
    int arrived = 0;
    while ((arrived = plantdb::one(*co, QStringLiteral("SELECT count(*) FROM zantrel.boxes")).toInt()) < recorded && waiting.elapsed() < 60000)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    std::map<QString, double> committed; // box id -> commit time at the plant, epoch ms
    for (const database::Row &r : admin->run(QStringLiteral("SELECT box_id, extract(epoch FROM pg_xact_commit_timestamp(xmin)) * 1000 FROM zantrel.boxes")))
        committed[r[0].value_or(QString())] = r[1].value_or(QStringLiteral("0")).toDouble();
    std::vector<double> lags;
    for (const database::Row &r : co->run(QStringLiteral("SELECT box_id, extract(epoch FROM arrived_at) * 1000 FROM zantrel.boxes"))) {
        const auto at = committed.find(r[0].value_or(QString()));
        if (at != committed.end())
            lags.push_back(r[1].value_or(QStringLiteral("0")).toDouble() - at->second);
    }
    std::sort(lags.begin(), lags.end());
    std::printf("stations: %d, %d packs a second each, %d s; %d failed\n", kStations, kRate, seconds, failed);
    std::printf("boxes recorded at the plant: %d; arrived in the company database: %d\n", recorded, arrived);
    std::printf("company_lag_median: %.1f ms\ncompany_lag_p99: %.1f ms\ncompany_lag_max: %.1f ms\n", quantile(lags, 0.5), quantile(lags, 0.99),
                lags.empty() ? 0.0 : lags.back());
    return failed == 0 && arrived == recorded ? 0 : 1;
}
