// The plant record's figures, each beside its target, on a server of the bench's
// own (durable: every commit flushed):
//  - scan-to-listed latency beyond the settle wait, without a record (the floor),
//    with the sender delivering, and with the server process stopped (SIGSTOP);
//  - delivery lag, from a box handed over after its workbook write until it is
//    visible in zantrel.pack_locations, over 500 boxes;
//  - the real program started with a 10,000-box backlog of 60-row boxes: how fast it
//    drains, and its peak memory meanwhile.
#include "BenchFakes.h"
#include "ScanLatency.h"
#include "BenchDatabase.h"

#include "platform/ProgramEnvironment.h"
#include "platform/Sound.h"
#include "plant/Outbox.h"
#include "plant/PlantLink.h"
#include "tools/RawPty.h"
#include "ui/scan/frm_SCAN.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr int kSettleMs = 20;
constexpr int kScans = 300;
constexpr int kLagBoxes = 500;
constexpr int kBacklog = 10000;

PlantLink::Options optionsFor(const QString &url, const QString &station)
{
    PlantLink::Options o;
    o.url = url;
    o.station = station;
    o.answerSeconds = 2;
    o.longestPauseSeconds = 1;
    return o;
}

// 300 scans through the real scan window, ten packs a box; nothing on record when link is null.
std::vector<double> scanRun(PlantLink *link, int firstNumber)
{
    QTemporaryDir dir;
    program::setFolder(dir.path());
    RawPty pty;
    if (!prepareScanFolder(dir.path(), kSettleMs, pty))
        return {};
    static SilentMessages messages;
    setOperatorMessages(&messages);
    PackingState &state = packingState();
    state.iPerMiddle = 5;
    state.iPerOuter = 10;
    state.iMiddleDigits = state.iOuterDigits = 5;
    state.lMiddleNo = state.lOuterNo = 1 + firstNumber;
    static CountingExport counting;
    frm_SCAN window(std::make_unique<ScanSession>(
        ScanSession::Parts{dir.path(), state, counting, messages, operatorSounds(), program::now, link}));
    window.Form_Load();
    if (!window.port().portOpen() || !window.startBox(std::nullopt))
        return {};
    return scanLatencies(window, pty.master, kSettleMs, kScans, firstNumber);
}

void printScans(const char *name, const std::vector<double> &ms)
{
    std::printf("%s_beyond_wait_median: %.2f ms (target < 5 ms)\n", name, quantile(ms, 0.5));
    std::printf("%s_beyond_wait_p99: %.2f ms\n", name, quantile(ms, 0.99));
}

// Lag of 500 boxes handed over 20 ms apart, seen by a reader polling the record.
std::vector<double> deliveryLags(const QString &stationUrl, const QString &adminUrl)
{
    QTemporaryDir dir;
    PlantLink link(dir.path(), optionsFor(stationUrl, QStringLiteral("bench-lag")));
    std::vector<qint64> handedAt(kLagBoxes, 0);
    std::vector<double> lags;
    QElapsedTimer clock;
    clock.start();
    std::atomic<int> handed{0};
    std::thread reader([&] {
        auto db = database::connect(adminUrl);
        int seen = 0;
        while (seen < kLagBoxes) {
            const int now = plantdb::one(*db, "SELECT count(*) FROM zantrel.boxes WHERE station = 'bench-lag'").toInt();
            const qint64 at = clock.nsecsElapsed();
            for (; seen < now && seen < handed.load(); ++seen)
                lags.push_back(double(at - handedAt[size_t(seen)]) / 1e6);
        }
    });
    for (int n = 0; n < kLagBoxes; ++n) {
        Box box;
        std::vector<BoxRow> rows{{BoxRow::OuterLabel, QStringLiteral("L%1").arg(n, 5, 10, QLatin1Char('0'))}};
        for (int m = 0; m < 2; ++m) {
            rows.push_back({BoxRow::MiddleLabel, QStringLiteral("M%1-%2").arg(n).arg(m)});
            for (int p = 0; p < 5; ++p)
                rows.push_back({BoxRow::Pack, QStringLiteral("L%1-%2-%3").arg(n).arg(m).arg(p)});
        }
        box.restore(rows, true, std::nullopt, ExportTarget{QStringLiteral("bench.xls"), 2 + 11 * n, QUuid::createUuid()});
        handedAt[size_t(n)] = clock.nsecsElapsed();
        handed = n + 1;
        link.handOver(box, ExportReceipt{box.outerLabel(), QStringLiteral("bench.xls"), 2 + 11 * n, QDateTime::currentDateTime(), {}});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    reader.join();
    std::sort(lags.begin(), lags.end());
    return lags;
}

// The outbox a station left with the record out of reach: 10,000 boxes of 60 rows.
bool writeBacklog(const QString &folder)
{
    // Made on a memory file system, where each box's flush costs nothing, then copied.
    QTemporaryDir scratch(QStringLiteral("/dev/shm/zantrel-bench-XXXXXX"));
    Outbox outbox(scratch.isValid() ? scratch.path() : folder);
    for (int n = 0; n < kBacklog; ++n) {
        Outbox::Entry e;
        e.id = QUuid::createUuid();
        e.station = QStringLiteral("bench-drain");
        e.workbook = QStringLiteral("20261208.xls");
        e.firstRow = 2 + 60 * n;
        e.writtenAt = QDateTime::currentDateTime();
        e.rows.push_back({BoxRow::OuterLabel, QStringLiteral("D%1").arg(n, 5, 10, QLatin1Char('0'))});
        for (int m = 0; m < 59; ++m)
            e.rows.push_back(m % 10 == 0 ? BoxRow{BoxRow::MiddleLabel, QStringLiteral("DM%1-%2").arg(n).arg(m)}
                                         : BoxRow{BoxRow::Pack, QStringLiteral("D%1-%2").arg(n, 5, 10, QLatin1Char('0')).arg(m, 2, 10, QLatin1Char('0'))});
        outbox.add(e);
    }
    if (!scratch.isValid())
        return true;
    return QFile::copy(outbox.path(), QDir(folder).filePath(Outbox::fileName()));
}

long peakKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PgServer server(true);
    const QString name = benchDatabase(server, QStringLiteral("bench"));
    const QString stationUrl = server.url(QStringLiteral("line3"), name);
    const QString adminUrl = server.url(QStringLiteral("postgres"), name);

    // Scan latency: the floor, then with a record.
    const std::vector<double> floor = scanRun(nullptr, 0);
    std::vector<double> delivering, stopped;
    {
        QTemporaryDir linkDir;
        PlantLink link(linkDir.path(), optionsFor(stationUrl, QStringLiteral("bench-scan")));
        delivering = scanRun(&link, 10000);
        server.pause();
        stopped = scanRun(&link, 20000);
        server.resume();
    }
    if (floor.empty() || delivering.empty() || stopped.empty()) {
        std::fprintf(stderr, "a scan run failed\n");
        return 1;
    }
    std::printf("scan_settle_wait: %d ms; %d scans a run, a box every 10\n", kSettleMs, kScans);
    printScans("scan_without_record", floor);
    printScans("scan_with_sender_delivering", delivering);
    printScans("scan_with_server_stopped", stopped);

    const std::vector<double> lags = deliveryLags(stationUrl, adminUrl);
    std::printf("delivery_lag_median: %.1f ms over %zu boxes\n", quantile(lags, 0.5), lags.size());
    std::printf("delivery_lag_p99: %.1f ms (target < 1000 ms)\n", quantile(lags, 0.99));

    // The real program with the backlog: drained at start, its memory sampled meanwhile.
    QTemporaryDir folder;
    QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/../station/zantrel"), folder.filePath("zantrel"));
    QFile::setPermissions(folder.filePath("zantrel"), QFile::permissions(folder.filePath("zantrel")) | QFileDevice::ExeOwner);
    QFile config(folder.filePath("config.ini"));
    config.open(QIODevice::WriteOnly);
    config.write(QStringLiteral("[db]\r\nurl=%1;\r\nstation=bench-drain;\r\n").arg(stationUrl).toUtf8());
    config.close();
    if (!writeBacklog(folder.path())) {
        std::fprintf(stderr, "no backlog\n");
        return 1;
    }
    const qint64 outboxBytes = QFileInfo(folder.filePath(Outbox::fileName())).size();
    QProcess station;
    QElapsedTimer clock;
    clock.start();
    station.start(folder.filePath("zantrel"), {});
    if (!station.waitForStarted())
        return 1;
    auto db = database::connect(adminUrl);
    long peak = 0;
    qint64 firstSeen = -1, drained = -1;
    while (clock.elapsed() < 600000) {
        peak = std::max(peak, peakKiB(station.processId()));
        const int count = plantdb::one(*db, "SELECT count(*) FROM zantrel.boxes WHERE station = 'bench-drain'").toInt();
        if (count > 0 && firstSeen < 0)
            firstSeen = clock.elapsed();
        if (count == kBacklog) {
            drained = clock.elapsed();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    peak = std::max(peak, peakKiB(station.processId()));
    station.kill();
    station.waitForFinished();
    if (drained < 0) {
        std::fprintf(stderr, "the backlog did not drain in 10 minutes\n");
        return 1;
    }
    std::printf("backlog: %d boxes of 60 rows, outbox %.1f MiB\n", kBacklog, double(outboxBytes) / 1048576.0);
    std::printf("drain_rate: %.0f boxes/s from the first box recorded to the last (target >= 500)\n",
                kBacklog * 1000.0 / double(std::max<qint64>(1, drained - firstSeen)));
    std::printf("drain_rate_from_start: %.0f boxes/s, program start included\n", kBacklog * 1000.0 / double(drained));
    std::printf("station_peak_memory: %.1f MiB while draining (target < 64 MiB)\n", double(peak) / 1024.0);
    return 0;
}
