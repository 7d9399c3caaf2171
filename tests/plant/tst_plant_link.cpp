#include "FileBytes.h"
#include "station/Fakes.h"
#include "station/JournalScript.h"
#include "BoxesCompared.h"
#include "support/BlackHoleProxy.h"
#include "support/PlantDb.h"
#include "support/ToolRun.h"

#include "core/RuntimeError.h"
#include "platform/FaultSeam.h"
#include "platform/ProgramEnvironment.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "station/BarcodeIntake.h"
#include "station/DailyWorkbookExport.h"
#include "station/BoxJournal.h"
#include "plant/Outbox.h"
#include "plant/PlantCheck.h"
#include "plant/PlantLink.h"
#include "plant/PlantSender.h"
#include "plant/PlantSchema.h"
#include "station/StartChecks.h"

#include "platform/WorkbookReader.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using plantdb::one;

namespace {

// Short waits, so that a stopped server costs the test seconds, not minutes.
PlantLink::Options quick(const QString &url, const QString &station)
{
    PlantLink::Options o;
    o.url = url;
    o.station = station;
    o.answerSeconds = 2;
    o.heartbeatSeconds = 1;
    o.longestPauseSeconds = 1;
    return o;
}

// A station without windows: intake into a journaled box, boxes to a recorded
// "workbook", every written box handed to the plant link.
struct Station
{
    explicit Station(const QString &folder, const PlantLink::Options &options) : journal(folder), link(folder, options)
    {
        journalscript::setUp(station.state);
        station.box.setLog(&journal);
        journal.startWith({}, false, 1, 1);
        station.intake.handOverWrittenBoxesTo(&link);
    }
    // n packs, numbered from first.
    void scan(int first, int n)
    {
        for (int i = first; i < first + n; ++i)
            station.intake.receive(QStringLiteral("P%1\r\n").arg(i, 5, 10, QLatin1Char('0')));
    }

    journalscript::Station station;
    BoxJournal journal;
    PlantLink link;
};

// A written box of its own, as the intake hands it over, written at that time.
void handOverBox(PlantLink &link, int n, const QString &pack = QString(), const QDateTime &at = QDateTime::currentDateTime())
{
    Box box;
    box.apply({{{BoxRow::OuterLabel, QStringLiteral("W%1").arg(n)}, {BoxRow::MiddleLabel, QStringLiteral("Z%1").arg(n)},
                {BoxRow::Pack, pack.isEmpty() ? QStringLiteral("%1-%2").arg(link.station()).arg(n) : pack}},
               {}, {}, {}});
    box.setExportTarget({QStringLiteral("20261208.xls"), 2 + 3 * n, QUuid::createUuid()});
    link.handOver(box, ExportReceipt{box.outerLabel(), QStringLiteral("20261208.xls"), 2 + 3 * n, at, {}});
}

// One run of the kill test's station; its exit code, or -1 when it was killed.
struct ChildRun
{
    int status = -1;
    int steps = 0;
    QString errors;
};

ChildRun runChild(const QString &folder, const QString &url, int killAt, int first, int count)
{
    QProcess p;
    p.start(qEnvironmentVariable("ZANTREL_BUILD_DIR") + QStringLiteral("/tests/plant_child"),
            {folder, url, QString::number(killAt), QString::number(first), QString::number(count)});
    p.waitForFinished(120000);
    const QByteArray out = p.readAllStandardOutput();
    const qsizetype at = out.indexOf("steps ");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, at < 0 ? 0 : out.mid(at + 6).trimmed().toInt(),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class TestPlantLink : public QObject
{
    Q_OBJECT
    PgServer m_server;
    int m_databases = 0;

    QString freshDatabase() { return plantdb::make(m_server, QStringLiteral("link%1").arg(++m_databases)); }

private slots:
    void initTestCase()
    {
        const QString why = m_server.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    // A failed test must not leave the server stopped for the next.
    void cleanup() { m_server.resume(); }

    void writtenBoxesReachTheRecordWhateverTheServerDoes()
    {
        const QString name = freshDatabase();
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTemporaryDir folder;
        Station s(folder.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-a")));

        s.scan(1, 14); // two boxes of 7
        QCOMPARE(s.station.exports.boxes.size(), size_t(2));
        QTRY_VERIFY2(one(*admin, "SELECT count(*) FROM zantrel.boxes") == QStringLiteral("2"), qPrintable(s.link.state().why));
        // The outbox is compacted after the commit: the state follows a moment later.
        QTRY_COMPARE(s.link.state().kind, PlantLink::State::Recorded);
        QTRY_VERIFY2_WITH_TIMEOUT(s.link.state().backlog == 0,
                                  qPrintable(QStringLiteral("backlog %1 after %2 tries, outbox %3")
                                                 .arg(s.link.state().backlog).arg(s.link.state().attempts)
                                                 .arg(Outbox(folder.path()).pending().size())),
                                  15000);
        // Each pack where the workbook has it: the second box starts on the row after the first.
        QCOMPARE(one(*admin, "SELECT outer_label || ' ' || middle_label || ' ' || sheet_row || ' ' || station"
                             " FROM zantrel.pack_locations WHERE barcode = 'P00008'"),
                 QStringLiteral("W002 Z004 %1 line3-a").arg(s.station.exports.starts[1] + 2));
        QCOMPARE(one(*admin, "SELECT count(*) FROM zantrel.pack_locations"), QStringLiteral("14"));

        // A stopped server process accepts and never answers: scanning goes on, the
        // boxes wait in the outbox, and the link says it is offline.
        QVERIFY(m_server.pause());
        s.scan(15, 21);
        QCOMPARE(s.station.exports.boxes.size(), size_t(5));
        QTRY_COMPARE_WITH_TIMEOUT(s.link.state().kind, PlantLink::State::Offline, 15000);
        QCOMPARE(s.link.state().backlog, 3);
        QVERIFY(m_server.resume());
        QTRY_COMPARE_WITH_TIMEOUT(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("5"), 15000);
        QTRY_COMPARE(s.link.state().backlog, 0);

        // The server stopped in the middle of a delivery of 40 boxes, and started again.
        s.scan(36, 280);
        m_server.stop();
        s.scan(316, 7);
        QTRY_COMPARE_WITH_TIMEOUT(s.link.state().kind, PlantLink::State::Offline, 15000);
        const QString why = m_server.startAgain();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTRY_COMPARE_WITH_TIMEOUT(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("46"), 30000);
        QTRY_COMPARE(s.link.state().backlog, 0);
        QVERIFY(Outbox(folder.path()).pending().empty());
        // Every box once, whole, at the row the workbook has it.
        QCOMPARE(one(*admin, "SELECT count(DISTINCT barcode) || ' ' || count(*) FROM zantrel.pack_locations"), QStringLiteral("322 322"));
        QStringList starts;
        for (int32_t row : s.station.exports.starts)
            starts << QString::number(row);
        QCOMPARE(one(*admin, "SELECT string_agg(first_row::text, ' ' ORDER BY first_row) FROM zantrel.boxes"), starts.join(' '));
        QCOMPARE(one(*admin, "SELECT heard_at > now() - interval '1 minute' FROM zantrel.station_state WHERE station = 'line3-a'"),
                 QStringLiteral("t"));
    }

    void aConnectionDroppedMidTransactionHoldsNothingUp()
    {
        const QString name = freshDatabase();
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        BlackHoleProxy proxy(m_server.socketPath(), m_server.port());
        QVERIFY(proxy.listening());
        // The network loses the connection right after a box's rows went in: the
        // server keeps that session idle in its transaction, holding the box's locks.
        proxy.swallowAfter("INSERT INTO zantrel.box_rows");
        QTemporaryDir folder;
        Station s(folder.path(), quick(proxy.url(QStringLiteral("line3"), name), QStringLiteral("line3-a")));
        s.scan(1, 35); // five boxes
        QTRY_COMPARE_WITH_TIMEOUT(proxy.swallowed(), 1, 15000);
        // Delivery goes on once the server has ended the lost session: nothing lost, nothing twice.
        QTRY_COMPARE_WITH_TIMEOUT(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("5"), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(s.link.state().backlog, 0, 15000);
        QCOMPARE(one(*admin, "SELECT count(DISTINCT barcode) || ' ' || count(*) FROM zantrel.pack_locations"), QStringLiteral("35 35"));
    }

    void theRecordIsBroughtLevelWithTheWorkbooks()
    {
        const QString name = freshDatabase();
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTemporaryDir folder;
        program::setFolder(folder.path());
        xls::NativeWorkbookFile file;
        DailyWorkbookExport daily(file);
        PackingState state;
        journalscript::setUp(state);
        Box box;
        RecordingMessages messages;
        RecordingSounds sounds;
        BarcodeIntake intake(state, box, messages, daily, sounds);
        auto scan = [&](int first, int n) {
            for (int i = first; i < first + n; ++i)
                intake.receive(QStringLiteral("P%1\r\n").arg(i, 5, 10, QLatin1Char('0')));
        };
        const PlantLink::Options options = quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-a"));
        // A record out of reach: boxes wait in the outbox, and no delivery is under way.
        PlantLink::Options away = options;
        away.url = QStringLiteral("host=%1 port=1 dbname=%2 user=line3").arg(folder.path(), name);
        const QString outbox = folder.filePath(Outbox::fileName());
        {
            PlantLink link(folder.path(), options);
            intake.handOverWrittenBoxesTo(&link);
            scan(1, 14);
            QTRY_COMPARE_WITH_TIMEOUT(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("2"), 15000);
            QTRY_COMPARE(link.state().backlog, 0);
            QCOMPARE(link.state().levelled, 0); // nothing was missing
            intake.handOverWrittenBoxesTo(nullptr);
        }
        {
            PlantLink link(folder.path(), away);
            intake.handOverWrittenBoxesTo(&link);
            scan(15, 21);
            QCOMPARE(Outbox(folder.path()).pending().size(), size_t(3));
            intake.handOverWrittenBoxesTo(nullptr);
        }
        // A person cuts the outbox in its last box and adds a line of their own.
        QByteArray bytes = bytesOf(outbox);
        bytes.truncate(bytes.lastIndexOf("pack P"));
        writeBytes(outbox, bytes + "\nwhatever a person typed\n");
        {
            PlantLink link(folder.path(), options);
            QTRY_COMPARE_WITH_TIMEOUT(link.state().levelled, 3, 15000);
            QVERIFY(link.takeNotice().contains(QStringLiteral("无法读取"))); // the damaged outbox set aside and told
            QVERIFY2(link.stateLines().contains(QStringLiteral("已补记 3 箱")), qPrintable(link.stateLines()));
        }
        // Row for row what the workbooks hold, each box once.
        QCOMPARE(boxesInRecord(*admin), boxesInWorkbooks(folder.path()));
        QCOMPARE(boxesInRecord(*admin).size(), 5);

        // The outbox moved away while the station runs, between two boxes.
        {
            PlantLink link(folder.path(), away);
            intake.handOverWrittenBoxesTo(&link);
            scan(36, 7);
            QVERIFY(QFile::rename(outbox, folder.filePath("moved.txt")));
            scan(43, 7);
            intake.handOverWrittenBoxesTo(nullptr);
        }
        {
            PlantLink link(folder.path(), options);
            QTRY_VERIFY_WITH_TIMEOUT(link.state().levelled >= 1 && link.state().backlog == 0, 15000);
        }
        QCOMPARE(boxesInRecord(*admin), boxesInWorkbooks(folder.path()));
        QCOMPARE(boxesInRecord(*admin).size(), 7);
        program::setFolder(QString());

        // A station that ran without a record: its folder brought level by a tool, once.
        const QString other = freshDatabase();
        const QStringList backfill{QStringLiteral("backfill"), m_server.url(QStringLiteral("line3"), other), QStringLiteral("--folder"),
                                   folder.path(), QStringLiteral("--station"), QStringLiteral("line3-a")};
        ToolRun run = ToolRun::of(QStringLiteral("zantrel-db"), backfill);
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains(QStringLiteral("station line3-a: 7 boxes in the workbooks, 7 of them recorded now")), qPrintable(run.out + run.errors));
        run = ToolRun::of(QStringLiteral("zantrel-db"), backfill);
        QVERIFY2(run.out.contains(QStringLiteral("7 of them")) == false && run.out.contains(QStringLiteral("0 of them recorded now")),
                 qPrintable(run.out + run.errors));
        auto otherAdmin = database::connect(m_server.url(QStringLiteral("postgres"), other));
        QCOMPARE(boxesInRecord(*otherAdmin), boxesInWorkbooks(folder.path()));
        QCOMPARE(ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("backfill"), m_server.url(QStringLiteral("line3"), other)}).status, 2);
    }

    void aComparisonThatFailedIsNoComparison()
    {
        // The record answers deliveries, but the station cannot compare it with its
        // workbooks (here: its refused boxes cannot be read). It must not say it did: a
        // station that stops once delivered and compared (the failover test's) would
        // otherwise stop with boxes the record lacks.
        const QString name = freshDatabase();
        QTemporaryDir folder;
        writeBytes(folder.filePath(PlantSender::refusedFileName()), "whatever a person typed\nand more\n");
        PlantLink link(folder.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-a")));
        // Two deliveries, each followed by a try at the comparison (one a second).
        QTRY_VERIFY_WITH_TIMEOUT(link.state().kind == PlantLink::State::Recorded && link.state().attempts >= 3, 15000);
        QVERIFY(!link.state().levelledAt.isValid());
    }

    void aBoxFoundWrittenAtStartGoesOnceUnderItsId()
    {
        const QString name = freshDatabase();
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTemporaryDir folder;
        {
            // The workbook took the box, and the station stopped before it could note it.
            Station s(folder.path(), quick(QStringLiteral("host=/nonexistent"), QStringLiteral("line3-a")));
            s.station.exports.failAfterWriting = 1;
            QVERIFY_THROWS_EXCEPTION(RuntimeError, s.scan(1, 7));
            QVERIFY(s.station.box.exportPending());
            QVERIFY(Outbox(folder.path()).pending().empty());
            const std::optional<BoxJournal::Saved> kept = BoxJournal::load(folder.path());
            QVERIFY(kept && kept->target && !kept->target->boxId.isNull());

            // Start finds it written and hands it over; a crash before the journal
            // was emptied makes the next Start hand it over again, under the same id.
            PlantLink link(folder.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-a")));
            RecordingMessages messages;
            for (int start = 0; start < 2; ++start) {
                BoxJournal(folder.path()).startWith(kept->rows, true, 3, 2, kept->job, kept->target);
                const startchecks::KeptBox offered = startchecks::offerKeptBox(folder.path(), 7, s.station.exports, &link, messages);
                QVERIFY(offered.goOn && !offered.box);
            }
            QCOMPARE(messages.texts.size(), 2);
            QVERIFY2(messages.texts[0].contains(QStringLiteral("无需重新写入")), qPrintable(messages.texts[0]));
            QTRY_COMPARE(one(*admin, "SELECT count(*) FROM zantrel.pack_locations"), QStringLiteral("7"));
            QTRY_COMPARE(link.state().backlog, 0);
            QCOMPARE(one(*admin, "SELECT box_id::text FROM zantrel.boxes"), kept->target->boxId.toString(QUuid::WithoutBraces));
        }
    }

    void twoStationsDeliverAtOnce()
    {
        const QString name = freshDatabase();
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTemporaryDir a, b;
        PlantLink first(a.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-a")));
        PlantLink second(b.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-b")));
        std::thread one([&] { for (int n = 0; n < 150; ++n) handOverBox(first, n); });
        std::thread two([&] { for (int n = 0; n < 150; ++n) handOverBox(second, n); });
        one.join();
        two.join();
        QTRY_COMPARE_WITH_TIMEOUT(plantdb::one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("300"), 30000);
        QTRY_VERIFY(first.state().backlog == 0 && second.state().backlog == 0);
        QCOMPARE(plantdb::one(*admin, "SELECT string_agg(station || ':' || n, ' ' ORDER BY station) FROM"
                                      " (SELECT station, count(*) AS n FROM zantrel.pack_locations GROUP BY station) s"),
                 QStringLiteral("line3-a:150 line3-b:150"));
        QCOMPARE(plantdb::one(*admin, "SELECT count(*) FROM zantrel.station_state"), QStringLiteral("2"));
    }

    void aPackInTwoBoxesIsRecordedOnceAndTheSecondStationTold()
    {
        const QString name = freshDatabase();
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTemporaryDir a, b, c;
        PlantLink::Options checking = quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-a"));
        checking.tellConflicts = true;
        PlantLink first(a.path(), checking);
        checking.station = QStringLiteral("line3-b");
        PlantLink second(b.path(), checking);

        // Both stations deliver the same pack at the same moment, round after round:
        // the second box to arrive is always the one marked.
        constexpr int kRounds = 25;
        for (int round = 0; round < kRounds; ++round) {
            const QString pack = QStringLiteral("Q'%1\\\"; --").arg(round);
            std::thread one([&] { handOverBox(first, round, pack); });
            std::thread two([&] { handOverBox(second, round, pack); });
            one.join();
            two.join();
        }
        QTRY_COMPARE_WITH_TIMEOUT(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QString::number(2 * kRounds), 30000);
        QTRY_VERIFY(first.state().backlog == 0 && second.state().backlog == 0);
        QCOMPARE(one(*admin, "SELECT count(*) || ' ' || count(DISTINCT barcode) FROM zantrel.conflicts"),
                 QStringLiteral("%1 %1").arg(kRounds));
        QCOMPARE(one(*admin, "SELECT count(*) FROM zantrel.conflicts WHERE first_station = second_station"), QStringLiteral("0"));
        QCOMPARE(one(*admin, "SELECT barcode FROM zantrel.conflicts WHERE barcode LIKE 'Q''0%'"), QStringLiteral("Q'0\\\"; --"));
        // Each station told once of each conflict it came second in, and only of those.
        QString toldFirst, toldSecond;
        QTRY_COMPARE(first.state().conflicts + second.state().conflicts, kRounds);
        toldFirst = first.takeNotice();
        toldSecond = second.takeNotice();
        QCOMPARE(int(toldFirst.count(QStringLiteral("本站的外箱"))), first.state().conflicts);
        QCOMPARE(int(toldSecond.count(QStringLiteral("本站的外箱"))), second.state().conflicts);
        QVERIFY2(toldFirst.isEmpty() || toldFirst.startsWith(QStringLiteral("该内包条码重复！\n内包 Q'")), qPrintable(toldFirst));
        const ToolRun listed = ToolRun::of(QStringLiteral("zantrel-db"), {"conflicts", m_server.url(QStringLiteral("line3"), name)});
        QCOMPARE(listed.status, 0);
        QCOMPARE(listed.out.count('\n'), kRounds + 1);

        // A station that allows repeats is not told, but a pack in a third box is a
        // conflict with both earlier ones all the same; a recorded conflict never changes.
        PlantLink third(c.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-c")));
        handOverBox(third, 0, QStringLiteral("Q'0\\\"; --"));
        QTRY_COMPARE(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QString::number(2 * kRounds + 1));
        QTRY_COMPARE(third.state().backlog, 0);
        QCOMPARE(one(*admin, "SELECT count(*) FROM zantrel.pack_conflicts"), QString::number(kRounds + 2));
        QCOMPARE(one(*admin, "SELECT count(*) FROM zantrel.conflicts WHERE second_station = 'line3-c'"), QStringLiteral("2"));
        QCOMPARE(third.state().conflicts, 0);
        QVERIFY(!third.takeNotice().contains(QStringLiteral("重复")));
        auto station = database::connect(m_server.url(QStringLiteral("line3"), name));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, station->run("DELETE FROM zantrel.pack_conflicts"));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, admin->run("UPDATE zantrel.pack_conflicts SET barcode = 'x'"));
    }

    void aClockFarOffIsToldAndTheRecordsOrderStands()
    {
        const QString name = freshDatabase();
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTemporaryDir a, b;
        PlantLink inStep(a.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-a")));
        PlantLink::Options behind = quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-b"));
        const auto tenHoursBehind = [] { return QDateTime::currentDateTime().addSecs(-10 * 3600); };
        behind.clock = tenHoursBehind;
        behind.tellConflicts = true;
        PlantLink late(b.path(), behind);
        QTRY_VERIFY_WITH_TIMEOUT(late.state().clockSkew && inStep.state().clockSkew, 15000);
        QVERIFY2(std::abs(*late.state().clockSkew + 36000) <= 5, qPrintable(QString::number(*late.state().clockSkew)));
        QCOMPARE(late.alarm(), QStringLiteral("本机时钟与中央记录相差 600 分钟，请校准本机时间"));
        QCOMPARE(inStep.alarm(), QString());
        QCOMPARE(one(*admin, "SELECT abs(clock_skew + 36000) <= 5 FROM zantrel.station_state WHERE station = 'line3-b'"), QStringLiteral("t"));
        const ToolRun status = ToolRun::of(QStringLiteral("zantrel-db"), {"status", m_server.url(QStringLiteral("line3"), name)});
        QVERIFY2(status.out.contains(QRegularExpression(QStringLiteral("line3-b\t[^\n]*\t-3599[5-9]|line3-b\t[^\n]*\t-3600[0-5]"))),
                 qPrintable(status.out));

        // The pack reaches the record first from a; b's box, written "earlier" by its
        // clock, arrives second: b is the one marked, and the check names a's box.
        handOverBox(inStep, 1, QStringLiteral("T1"));
        QTRY_COMPARE(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("1"));
        handOverBox(late, 1, QStringLiteral("T1"), tenHoursBehind());
        QTRY_COMPARE(one(*admin, "SELECT count(*) FROM zantrel.conflicts"), QStringLiteral("1"));
        QCOMPARE(one(*admin, "SELECT first_station || ' ' || second_station FROM zantrel.conflicts"), QStringLiteral("line3-a line3-b"));
        PlantCheck check(m_server.url(QStringLiteral("line3"), name));
        const uint64_t ticket = check.ask(Pack(QStringLiteral("T1")));
        QTRY_VERIFY(check.answer(ticket).has_value());
        QCOMPARE(check.answer(ticket)->found->station, QStringLiteral("line3-a"));
    }

    void everyCharacterReachesTheRecord()
    {
        const QString name = freshDatabase();
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        // Beyond the Basic Multilingual Plane, in the station's name and in a pack.
        const QString station = QStringLiteral("线3-\U00020000");
        const QString pack = QStringLiteral("包\U00020000é\U0001F4E6");
        plantschema::addStation(*admin, station, QStringLiteral("line3"));
        QTemporaryDir folder;
        PlantLink link(folder.path(), quick(m_server.url(QStringLiteral("line3"), name), station));
        handOverBox(link, 1, pack);
        QTRY_COMPARE_WITH_TIMEOUT(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("1"), 15000);
        QCOMPARE(one(*admin, "SELECT station || '|' || barcode FROM zantrel.pack_locations"), station + '|' + pack);
        // What an array's text form would read otherwise: a word, braces, quotes, blanks.
        const QStringList awkward{QStringLiteral("NULL"), QStringLiteral("{a,b}"), QStringLiteral(" x "), QStringLiteral("\"q\""),
                                  QStringLiteral("\\"), QStringLiteral("a\\\"b,"), QStringLiteral("()")};
        for (int n = 0; n < awkward.size(); ++n)
            handOverBox(link, 2 + n, awkward[n]);
        QTRY_COMPARE_WITH_TIMEOUT(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QString::number(1 + awkward.size()), 15000);
        for (const QString &odd : awkward)
            QCOMPARE(plantdb::one(*admin, "SELECT count(*) FROM zantrel.box_rows WHERE kind = 2 AND text = $1", {odd}), QStringLiteral("1"));
        const ToolRun found = ToolRun::of(QStringLiteral("zantrel-find"), {"--db", m_server.url(QStringLiteral("line3"), name), pack});
        QCOMPARE(found.status, 0);
        QVERIFY2(found.out.endsWith(pack + '\t' + station + '\n'), qPrintable(found.out));
    }

    void aConflictIsToldAfterARestartOnce()
    {
        const QString name = freshDatabase();
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTemporaryDir a, b;
        PlantLink first(a.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-a")));
        handOverBox(first, 1, QStringLiteral("R1"));
        QTRY_COMPARE(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("1"));
        PlantLink::Options refusing = quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-b"));
        refusing.tellConflicts = true;
        {
            // Killed after its conflicting delivery, before the window showed the notice.
            PlantLink second(b.path(), refusing);
            handOverBox(second, 1, QStringLiteral("R1"));
            QTRY_COMPARE(one(*admin, "SELECT count(*) FROM zantrel.conflicts"), QStringLiteral("1"));
            QTRY_COMPARE(second.state().conflicts, 1);
        }
        {
            PlantLink second(b.path(), refusing);
            QTRY_COMPARE_WITH_TIMEOUT(second.state().conflicts, 1, 15000);
            const QString notice = second.takeNotice();
            QCOMPARE(int(notice.count(QStringLiteral("内包 R1 已在 line3-a 的外箱 W1"))), 1);
        }
        {
            // Shown once: not again.
            PlantLink second(b.path(), refusing);
            QTRY_VERIFY_WITH_TIMEOUT(second.state().levelledAt.isValid(), 15000); // the record was asked
            handOverBox(second, 2, QStringLiteral("R2"));
            QTRY_COMPARE(second.state().backlog, 0);
            QCOMPARE(second.state().conflicts, 0);
            QVERIFY(!second.takeNotice().contains(QStringLiteral("R1")));
        }
    }

    void aPackAnotherStationRecordedIsRefusedWithinTheBudget()
    {
        const QString name = freshDatabase();
        const QString url = m_server.url(QStringLiteral("line3"), name);
        const QString odd = QStringLiteral("X'\\\";Z"); // six characters, as the scan length asks
        QTemporaryDir a, b;
        PlantLink first(a.path(), quick(url, QStringLiteral("line3-a")));
        handOverBox(first, 1, odd);
        QTRY_COMPARE(first.state().kind, PlantLink::State::Recorded);
        QTRY_COMPARE(first.state().backlog, 0);

        // The second station asks the record, and may wait for ever for one answer:
        // only the budget lets a scan go on while the server does not answer.
        Station s(b.path(), quick(url, QStringLiteral("line3-b")));
        PlantCheck check(url, 0);
        s.station.intake.checkWholePlant(&check, 10000, {});
        s.station.intake.receive(odd + QStringLiteral("\r\n"));
        QVERIFY(!s.station.intake.lastScanListed());
        QCOMPARE(s.station.messages.texts.size(), 1);
        QVERIFY2(s.station.messages.texts[0].startsWith(QStringLiteral("该内包条码重复！\n已在 line3-a 的外箱 W1（")),
                 qPrintable(s.station.messages.texts[0]));
        QCOMPARE(s.station.box.rowCount(), 0);
        s.scan(1, 1);
        QVERIFY(s.station.intake.lastScanListed());
        QVERIFY(check.answeredInTime());

        // The server stops answering: scans are decided here, within the budget. A budget
        // of nothing, so that no answer can come in it: a stopped server cannot race it.
        s.station.intake.checkWholePlant(&check, 0, {});
        QVERIFY(m_server.pause());
        s.scan(2, 1);
        QVERIFY(s.station.intake.lastScanListed());
        QVERIFY(!check.answeredInTime());
        s.scan(2, 1); // a repeat in the open box is still refused
        QVERIFY(!s.station.intake.lastScanListed());
        s.station.intake.receive(odd + QStringLiteral("\r\n")); // the record cannot tell: taken
        QVERIFY(s.station.intake.lastScanListed());
        QVERIFY(m_server.resume());

        // Answers again: the late answer to an earlier question decides nothing.
        s.station.intake.checkWholePlant(&check, 10000, {});
        s.scan(3, 1);
        QVERIFY(s.station.intake.lastScanListed());
        QVERIFY(check.answeredInTime());
        QCOMPARE(s.station.box.iInnerCount(), int16_t(4));
    }

    // A link, a check and a link still connecting, each waiting for a server that will
    // never answer (no bound on the wait): ended, each joins its thread at once.
    void endingNeverWaitsForTheDatabase()
    {
        const QString name = freshDatabase();
        const QString url = m_server.url(QStringLiteral("line3"), name);
        PlantLink::Options unbounded = quick(url, QStringLiteral("line3-a"));
        unbounded.answerSeconds = 0;
        const auto threads = [] { return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
        const qsizetype before = threads();
        QTemporaryDir a, b;
        auto link = std::make_unique<PlantLink>(a.path(), unbounded);
        handOverBox(*link, 1);
        QTRY_COMPARE(link->state().kind, PlantLink::State::Recorded);
        auto check = std::make_unique<PlantCheck>(url, 0);
        const uint64_t first = check->ask(Pack(QStringLiteral("P1")));
        QTRY_VERIFY(check->answer(first).has_value());

        QVERIFY(m_server.pause());
        std::atomic<bool> sending{false};
        faultseam::setForTests([&](faultseam::Point p, const QString &) {
            if (p == faultseam::Point::DeliveryStep)
                sending = true;
            return 0;
        });
        const auto unhook = qScopeGuard([] { faultseam::setForTests(nullptr); });
        handOverBox(*link, 2);
        QTRY_VERIFY(sending.load()); // back at the server, which never answers
        check->ask(Pack(QStringLiteral("P2")));
        unbounded.station = QStringLiteral("line3-b");
        auto connecting = std::make_unique<PlantLink>(b.path(), unbounded);
        std::mutex lock;
        std::condition_variable done;
        bool ended = false;
        std::thread ending([&] {
            link.reset();
            check.reset();
            connecting.reset();
            const std::lock_guard<std::mutex> g(lock);
            ended = true;
            done.notify_all();
        });
        bool inTime = false;
        qsizetype after = 0;
        {
            std::unique_lock<std::mutex> g(lock);
            inTime = done.wait_for(g, std::chrono::seconds(60), [&] { return ended; });
            after = threads();
        }
        QVERIFY(m_server.resume());
        ending.join();
        QVERIFY2(inTime, "ending waited for the stopped server");
        // No thread of theirs is left: at most the one that ended them, on its way out.
        QVERIFY2(after <= before + 1, qPrintable(QStringLiteral("%1 threads before, %2 after").arg(before).arg(after)));
    }

    void aDatabaseTheStationCannotUseIsToldOnce()
    {
        QTemporaryDir folder;
        const QString bare = QStringLiteral("link%1").arg(++m_databases);
        database::connect(m_server.url())->run(QStringLiteral("CREATE DATABASE %1").arg(bare));
        {
            PlantLink link(folder.path(), quick(m_server.url(QStringLiteral("postgres"), bare), QStringLiteral("line3-a")));
            handOverBox(link, 1);
            QTRY_VERIFY(link.state().kind == PlantLink::State::Offline);
            QString notice;
            QTRY_VERIFY2(!(notice += link.takeNotice()).isEmpty(), qPrintable(link.state().why));
            QVERIFY2(notice.contains(QStringLiteral("zantrel-db init")), qPrintable(notice));
            // Told once, however often the sender tries again.
            const int tried = link.state().attempts;
            QTRY_VERIFY(link.state().attempts >= tried + 2);
            QCOMPARE(link.takeNotice(), QString());
        }
        const QString name = freshDatabase();
        {
            // A station name that does not belong to the login: told once, with what mends it.
            QTemporaryDir unowned;
            PlantLink link(unowned.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line9-z")));
            handOverBox(link, 1);
            QString notice;
            QTRY_VERIFY2(!(notice += link.takeNotice()).isEmpty(), qPrintable(link.state().why));
            QVERIFY2(notice.contains(QStringLiteral("zantrel-db station add line9-z")), qPrintable(notice));
            const int tried = link.state().attempts;
            QTRY_VERIFY(link.state().attempts >= tried + 2);
            QCOMPARE(link.takeNotice(), QString());
            QCOMPARE(Outbox(unowned.path()).pending().size(), size_t(1)); // it waits for the DBA
        }
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        admin->run("INSERT INTO zantrel.schema_version (version, name) VALUES (99, 'from a later program')");
        PlantLink link(folder.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-a")));
        QString notice;
        QTRY_VERIFY(!(notice += link.takeNotice()).isEmpty());
        QVERIFY2(notice.contains(QStringLiteral("版本 99 比本程序认识的版本 %1 新").arg(plantschema::knownVersion())), qPrintable(notice));
        // Nothing was sent, and the box still waits.
        QCOMPARE(Outbox(folder.path()).pending().size(), size_t(1));
        QCOMPARE(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("0"));
    }

    void killedAnywhereEveryWrittenBoxIsRecordedOnce()
    {
        const QString name = freshDatabase();
        const QString url = m_server.url(QStringLiteral("line3"), name);
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTemporaryDir folder;
        // A run that is not killed says how many steps a run takes.
        const int perRun = 14;
        ChildRun run = runChild(folder.path(), url, 0, 1, perRun);
        QVERIFY2(run.status == 0 && run.steps > 10, qPrintable(QStringLiteral("exit %1, %2 steps: %3").arg(run.status).arg(run.steps).arg(run.errors)));
        const int steps = run.steps;
        QRandomGenerator random(20261208);
        int killed = 0;
        for (int round = 1; round <= 32; ++round) {
            run = runChild(folder.path(), url, 1 + int(random.bounded(steps)), 1 + round * perRun, perRun);
            QVERIFY2(run.status == 0 || run.status == -1, qPrintable(QStringLiteral("round %1: exit %2 %3").arg(round).arg(run.status).arg(run.errors)));
            killed += run.status == -1;
        }
        QVERIFY(killed > 16);
        // The last run starts, finishes what was left, and delivers the backlog.
        run = runChild(folder.path(), url, 0, 1 + 33 * perRun, 0);
        QVERIFY2(run.status == 0, qPrintable(run.errors));

        const QStringList written = boxesInWorkbooks(folder.path());
        QVERIFY2(written.size() >= 10, qPrintable(written.join(QLatin1Char('\n'))));
        QCOMPARE(boxesInRecord(*admin), written);
        QVERIFY(Outbox(folder.path()).pending().empty());
    }

    void aDamagedOutboxIsSetAsideAndNewBoxesGoOn()
    {
        const QString name = freshDatabase();
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTemporaryDir folder;
        QFile damaged(folder.filePath(Outbox::fileName()));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("pack outside any box\n");
        damaged.close();
        PlantLink link(folder.path(), quick(m_server.url(QStringLiteral("line3"), name), QStringLiteral("line3-a")));
        const QString notice = link.takeNotice();
        QVERIFY2(notice.contains(QStringLiteral("outbox.damaged-")), qPrintable(notice));
        handOverBox(link, 1);
        QTRY_COMPARE(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("1"));
        QCOMPARE(QDir(folder.path()).entryList({QStringLiteral("outbox.damaged-*")}).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPlantLink)
#include "tst_plant_link.moc"
