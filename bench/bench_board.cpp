// The line's board at the size of a busy day: 60 stations and 1.3 million packs
// recorded today (43,380 boxes of 30 packs), a day before it as big, 223 open
// conflicts and 500 settled ones, on the bench's own server. The real zantrel-board
// program serves it. Measured:
//  - the page's data read from the record (the shared snapshot's statements);
//  - 200 viewers asking for the page's data at once, 20 times, over keep-alive
//    connections, from sending the request to the last byte of the answer;
//  - lookups of packs and boxes over HTTP as the page asks;
//  - the board's peak memory (VmHWM) after all of it, and after 100 silent sockets.
// Prints medians and 95th percentiles beside the targets, and the plans of the
// board's statements (auto_explain, from the server's log).
#include "Quantile.h"
#include "BenchDatabase.h"

#include "board/BoardData.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kStations = 60;
constexpr int kBoxesPerStation = 723; // × 60 × 30 = 1,301,400 packs
constexpr int kPacksPerBox = 30;
constexpr int kRounds = 40;
constexpr int kViewers = 200;
constexpr int kViewerRounds = 20;
const QByteArray kToken = QByteArrayLiteral("bench-token-0123456789");

// Milliseconds from the request to the whole answer; the answer's size in *bytes.
double timed(QNetworkAccessManager &net, const QString &url, qsizetype *bytes = nullptr)
{
    QNetworkRequest r{QUrl(url)};
    r.setRawHeader("Authorization", "Bearer " + kToken);
    QElapsedTimer clock;
    clock.start();
    QNetworkReply *reply = net.get(r);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const double ms = clock.nsecsElapsed() / 1e6;
    const QByteArray body = reply->readAll();
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(url), body.constData());
        std::exit(1);
    }
    if (bytes)
        *bytes = body.size();
    reply->deleteLater();
    return ms;
}

void report(const char *what, std::vector<double> figures, double target)
{
    std::sort(figures.begin(), figures.end());
    std::printf("%-40s median %7.1f ms   p95 %7.1f ms   (target < %.0f ms, %zu requests)\n", what,
                quantile(figures, 0.5), quantile(figures, 0.95), target, figures.size());
}

// One viewer: a keep-alive connection that asks for the page's data and times the answer.
struct Viewer
{
    QTcpSocket socket;
    QByteArray got;
    QElapsedTimer clock;
    bool done = true;

    void ask(quint16 port)
    {
        if (socket.state() != QAbstractSocket::ConnectedState) {
            socket.connectToHost(QHostAddress::LocalHost, port);
            socket.waitForConnected(5000);
        }
        got.clear();
        done = false;
        clock.start();
        socket.write("GET /api/board HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + kToken + "\r\n\r\n");
    }
    // The milliseconds the answer took once it is whole; -1 before.
    double read()
    {
        got += socket.readAll();
        const qsizetype end = got.indexOf("\r\n\r\n");
        if (end < 0)
            return -1;
        qsizetype length = -1;
        for (const QByteArray &line : got.left(end).split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (length < 0 || got.size() < end + 4 + length)
            return -1;
        if (!got.startsWith("HTTP/1.1 200")) {
            std::fprintf(stderr, "the page's data: %s\n", got.left(300).constData());
            std::exit(1);
        }
        done = true;
        return clock.nsecsElapsed() / 1e6;
    }
};

// Every viewer asks at once; the figure of each answer.
std::vector<double> viewersAtOnce(std::vector<std::unique_ptr<Viewer>> &viewers, quint16 port)
{
    std::vector<double> figures;
    for (auto &v : viewers)
        v->ask(port);
    QEventLoop loop;
    std::vector<QMetaObject::Connection> links;
    for (auto &v : viewers)
        links.push_back(QObject::connect(&v->socket, &QTcpSocket::readyRead, &loop, [&, viewer = v.get()] {
            const double ms = viewer->read();
            if (ms >= 0)
                figures.push_back(ms);
            if (figures.size() == viewers.size())
                loop.quit();
        }));
    QTimer::singleShot(60000, &loop, [&] {
        std::fprintf(stderr, "only %zu of %zu viewers were answered within a minute\n", figures.size(), viewers.size());
        std::exit(1);
    });
    loop.exec();
    for (const auto &l : links)
        QObject::disconnect(l);
    return figures;
}

qint64 peakKib(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').at(0).toLongLong();
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PgServer server(true);
    const QString name = benchDatabase(server, QStringLiteral("boardbench"));
    auto admin = database::connect(server.url(QStringLiteral("postgres"), name));
    plantdb::addBoardLogin(*admin);
    const qint64 midnight = QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QElapsedTimer loading;
    loading.start();
    // Made by the server itself: the figures are about reading. Today's boxes are
    // spread from midnight to now, yesterday's over its whole day. A box: its outer
    // label, three middle boxes of ten packs each.
    admin->runScript(QStringLiteral(
        "INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at, pack_count)"
        " SELECT md5(d || '-' || s || '-' || n)::uuid, 'line3-' || lpad(s::text, 2, '0'), 'W' || d || lpad((s * 10000 + n)::text, 7, '0'),"
        "        to_char(to_timestamp(%1) - d * interval '1 day', 'YYYYMMDD') || '.xls', 2 + 34 * n, 34,"
        "        to_timestamp(%1) - d * interval '1 day' + (CASE WHEN d = 0 THEN %2 ELSE 86399 END) * interval '1 second' * n / %3, %4"
        " FROM generate_series(0, 1) d, generate_series(1, %5) s, generate_series(0, %3 - 1) n;"
        "INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label)"
        " SELECT b.box_id, i, CASE WHEN i = 0 THEN 0 WHEN (i - 1) % 11 = 0 THEN 1 ELSE 2 END,"
        "        CASE WHEN i = 0 THEN b.outer_label WHEN (i - 1) % 11 = 0 THEN 'Z' || b.outer_label || '-' || (i - 1) / 11"
        "             ELSE 'P' || b.outer_label || lpad(i::text, 2, '0') END,"
        "        CASE WHEN i > 0 AND (i - 1) % 11 <> 0 THEN 'Z' || b.outer_label || '-' || (i - 1) / 11 END"
        " FROM zantrel.boxes b, generate_series(0, 33) i;"
        "INSERT INTO zantrel.station_state SELECT DISTINCT station, now(), 0, '' FROM zantrel.boxes;")
                         .arg(midnight).arg(std::max<qint64>(1, now - midnight)).arg(kBoxesPerStation).arg(kPacksPerBox).arg(kStations));
    // Conflicts between neighbouring stations' boxes: the first 1,000 settled.
    admin->runScript(QStringLiteral(
        "INSERT INTO zantrel.pack_conflicts (barcode, box_id, earlier_box)"
        " SELECT 'P' || a.outer_label || '02', b.box_id, a.box_id FROM zantrel.boxes a"
        " JOIN zantrel.boxes b ON b.station = 'line3-02' AND b.outer_label = 'W0' || lpad((20000 + (a.first_row - 2) / 34)::text, 7, '0')"
        " WHERE a.station = 'line3-01' AND a.outer_label LIKE 'W0%' AND (a.first_row - 2) / 34 < %1;"
        "INSERT INTO zantrel.conflict_decisions (box_id, barcode, earlier_box, keep_in, decided_by, reason)"
        " SELECT box_id, barcode, earlier_box, earlier_box, '王主管', '先装入的箱已发货' FROM zantrel.pack_conflicts"
        " ORDER BY barcode LIMIT 500;").arg(kBoxesPerStation));
    for (const char *table : {"boxes", "box_rows", "station_state", "pack_conflicts", "conflict_decisions"})
        admin->runScript(QStringLiteral("VACUUM ANALYZE zantrel.%1").arg(QLatin1String(table)));
    std::printf("recorded today: %s packs in %s boxes of %s stations; with yesterday %s packs; "
                "%s open and %s settled conflicts (loaded in %.0f s)\n",
                qPrintable(plantdb::one(*admin, QStringLiteral("SELECT sum(pack_count) FROM zantrel.boxes WHERE written_at >= to_timestamp(%1)").arg(midnight))),
                qPrintable(plantdb::one(*admin, QStringLiteral("SELECT count(*) FROM zantrel.boxes WHERE written_at >= to_timestamp(%1)").arg(midnight))),
                qPrintable(plantdb::one(*admin, "SELECT count(*) FROM zantrel.station_state")),
                qPrintable(plantdb::one(*admin, "SELECT count(*) FROM zantrel.box_rows WHERE kind = zantrel.pack_row()")),
                qPrintable(plantdb::one(*admin, "SELECT count(*) FROM zantrel.conflicts WHERE NOT settled")),
                qPrintable(plantdb::one(*admin, "SELECT count(*) FROM zantrel.conflict_decisions")), loading.elapsed() / 1000.0);

    // The plans of every statement the board runs, in the server's log.
    const QString url = server.url(QStringLiteral("board"), name);
    admin->runScript(QStringLiteral("ALTER ROLE board SET session_preload_libraries = 'auto_explain';"
                                    "ALTER ROLE board SET auto_explain.log_min_duration = 0;"
                                    "ALTER ROLE board SET auto_explain.log_analyze = on;"
                                    "ALTER ROLE board SET auto_explain.log_buffers = on;"));
    {
        board::BoardData explained(url, 10);
        explained.snapshot(midnight);
        explained.lookup(QStringLiteral("PW0010001005"));
    }
    std::printf("\nplans of the page's data and of one lookup:\n");
    for (const QByteArray &line : server.readLog().split('\n'))
        if (!line.contains("NOTICE") && !line.contains("LOG:  database system") && !line.contains("checkpoint"))
            std::printf("  %s\n", line.constData());
    admin->runScript(QStringLiteral("ALTER ROLE board RESET ALL"));

    // The shared snapshot's read alone: what the board asks of the record every 2.5 s.
    std::vector<double> reads;
    {
        board::BoardData reading(url, 10);
        reading.snapshot(midnight);
        for (int i = 0; i < 10; ++i) {
            QElapsedTimer clock;
            clock.start();
            reading.snapshot(midnight);
            reads.push_back(clock.nsecsElapsed() / 1e6);
        }
    }

    // The real program, as a supervisor starts it.
    QTemporaryDir folder;
    const QString tokenFile = folder.filePath(QStringLiteral("token"));
    QFile token(tokenFile);
    token.open(QIODevice::WriteOnly);
    token.write(kToken + '\n');
    token.close();
    token.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../station/zantrel-board"),
                  {QStringLiteral("--db"), url, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                   QStringLiteral("--token-file"), tokenFile});
    if (!program.waitForReadyRead(30000)) {
        std::fprintf(stderr, "zantrel-board did not start\n");
        return 1;
    }
    const QByteArray listening = program.readLine().trimmed();
    const quint16 port = quint16(listening.mid(listening.lastIndexOf(':') + 1).chopped(1).toUInt());
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    QNetworkAccessManager net;
    qsizetype bytes = 0;
    const double first = timed(net, base + "/api/board", &bytes);
    const qint64 startPeak = peakKib(program.processId());

    std::vector<std::unique_ptr<Viewer>> viewers;
    for (int i = 0; i < kViewers; ++i)
        viewers.push_back(std::make_unique<Viewer>());
    std::vector<double> watched;
    for (int round = 0; round < kViewerRounds; ++round)
        for (double ms : viewersAtOnce(viewers, port))
            watched.push_back(ms);

    std::vector<double> pack, box, missing;
    QRandomGenerator random(20261208);
    for (int round = 0; round < kRounds; ++round) {
        const int s = 1 + int(random.bounded(kStations));
        const int n = int(random.bounded(kBoxesPerStation));
        const QString label = QStringLiteral("W0%1").arg(s * 10000 + n, 7, 10, QLatin1Char('0'));
        pack.push_back(timed(net, base + "/api/find?q=P" + label + QStringLiteral("%1").arg(2 + int(random.bounded(10)), 2, 10, QLatin1Char('0'))));
        box.push_back(timed(net, base + "/api/find?q=" + label));
        missing.push_back(timed(net, base + "/api/find?q=NOSUCH" + QString::number(round)));
    }

    // A hundred connections that never say a word, beside the 200 viewers.
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < 100; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QHostAddress::LocalHost, port);
        silent.back()->waitForConnected(5000);
    }
    std::vector<double> besideSilent = viewersAtOnce(viewers, port);
    const qint64 endPeak = peakKib(program.processId());

    std::printf("\npage's data, first request: %.1f ms, %lld bytes\n", first, qlonglong(bytes));
    report("page's data read from the record", reads, 300);
    report("page's data, 200 viewers at once", watched, 100);
    report("the same beside 100 silent sockets", besideSilent, 100);
    report("lookup of a pack", pack, 50);
    report("lookup of a box (30 packs)", box, 50);
    report("lookup of a barcode not recorded", missing, 50);
    std::printf("board_peak_memory_after_start: %lld KiB\n", qlonglong(startPeak));
    std::printf("board_peak_memory: %lld KiB (target < %d KiB)\n", qlonglong(endPeak), 64 * 1024);
    program.kill();
    program.waitForFinished(5000);
    return 0;
}
