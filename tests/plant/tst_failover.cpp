#include "BoxesCompared.h"
#include "support/DeliverBox.h"
#include "support/PlantDb.h"

#include "board/BoardData.h"
#include "board/BoardOptions.h"
#include "core/RuntimeError.h"
#include "plant/PlantCheck.h"

#include <QProcess>
#include <tuple>
#include <QTemporaryDir>
#include <QTest>

// A plant's record on a primary with a streaming standby; two real stations deliver
// through a multi-host URL that asks for the primary. The primary dies with boxes in
// flight and boxes it never sent to the standby; the standby is promoted. Every box of
// both stations' workbooks must then be in the new primary exactly once.
class TestFailover : public QObject
{
    Q_OBJECT
    PgServer m_primary;
    PgServer m_standby;
    QString m_db;
    QTemporaryDir m_a, m_b;

    QString bothHosts(const QString &user) const
    {
        return QStringLiteral("host=%1,%2 port=%3,%4 dbname=%5 user=%6 target_session_attrs=read-write connect_timeout=2")
            .arg(m_primary.socketFolder(), m_standby.socketFolder())
            .arg(m_primary.port()).arg(m_standby.port()).arg(m_db, user);
    }

    // A station process: scans count packs from first into its workbooks, waits until delivered.
    std::unique_ptr<QProcess> station(const QTemporaryDir &folder, const QString &name, int first, int count)
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(qEnvironmentVariable("ZANTREL_BUILD_DIR") + QStringLiteral("/tests/plant_child"),
                 {folder.path(), bothHosts(QStringLiteral("line3")), QStringLiteral("0"), QString::number(first), QString::number(count), name});
        return p;
    }

    static bool ends(QProcess &p)
    {
        if (p.state() != QProcess::NotRunning)
            p.waitForFinished(120000);
        return p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        QString why = m_primary.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        m_db = plantdb::make(m_primary, QStringLiteral("plant"));
        why = m_standby.startStandbyOf(m_primary);
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    // The board reads a standby, so reports never load the primary; a decision through it
    // goes to the primary (--write-db), and comes back to the board through replication.
    void theBoardReadsTheStandbyAndWritesThePrimary()
    {
        auto primary = database::connect(m_primary.url(QStringLiteral("postgres"), m_db));
        plantdb::addBoardLogin(*primary);
        const QDateTime now = QDateTime::currentDateTime();
        for (const auto &[station, outer, row] : {std::tuple{"line3-c", "C001", 2}, std::tuple{"line3-d", "D001", 2}}) {
            const PlantSender::Report r = deliverBox(m_primary.url(QStringLiteral("line3"), m_db), QLatin1String(station), row, now,
                                                     {{BoxRow::OuterLabel, QLatin1String(outer)}, {BoxRow::MiddleLabel, "Z"},
                                                      {BoxRow::Pack, "SHARED"}});
            QVERIFY2(r.recorded, qPrintable(r.why));
        }
        // The board's login and the boxes reach the standby before the board reads it.
        const QString written = plantdb::one(*primary, QStringLiteral("SELECT pg_current_wal_lsn()"));
        auto standby = database::connect(m_standby.url(QStringLiteral("postgres"), m_db));
        QTRY_COMPARE_WITH_TIMEOUT(plantdb::one(*standby, QStringLiteral("SELECT pg_last_wal_replay_lsn() >= $1::pg_lsn"), {written}),
                                  QStringLiteral("t"), 20000);
        board::Options o;
        o.url = QStringLiteral("host=%1,%2 port=%3,%4 dbname=%5 user=board target_session_attrs=prefer-standby")
                    .arg(m_primary.socketFolder(), m_standby.socketFolder()).arg(m_primary.port()).arg(m_standby.port()).arg(m_db);
        o.writeUrl = m_primary.url(QStringLiteral("board"), m_db);
        o.port = 0;
        o.token = QStringLiteral("0123456789abcdef-token");
        o.refresh = std::chrono::milliseconds(200);
        board::BoardData reading(o.url, 10, 5, o.writeUrl);
        // Served by the standby: its sessions are in recovery.
        QCOMPARE(plantdb::one(*database::connect(o.url), "SELECT pg_is_in_recovery()"), QStringLiteral("t"));
        const qint64 midnight = QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
        board::Snapshot s;
        QTRY_VERIFY_WITH_TIMEOUT((s = reading.snapshot(midnight), s.openConflicts == 1), 20000);
        QCOMPARE(s.stations.size(), size_t(2));
        const board::Conflict k = s.conflicts.at(0);
        QCOMPARE(reading.decide({k.secondBoxId, k.barcode, k.firstBoxId, k.firstBoxId, QStringLiteral("王主管"), QStringLiteral("先到先留"), {}, {}}),
                 board::DecisionResult::Recorded);
        QCOMPARE(plantdb::one(*primary, "SELECT count(*) FROM zantrel.conflict_decisions"), QStringLiteral("1"));
        QTRY_VERIFY_WITH_TIMEOUT(reading.snapshot(midnight).openConflicts == 0, 20000);
        // zantrel-find --db on the standby sees the pack where the decision left it.
        QTRY_COMPARE_WITH_TIMEOUT(plantdb::one(*database::connect(o.url), "SELECT string_agg(outer_label, ',') FROM zantrel.pack_locations"
                                                                           " WHERE barcode = 'SHARED'"),
                                  QStringLiteral("C001"), 20000);
    }

    void noBoxIsLostOrDoubledInAFailover()
    {
        // Both stations deliver; the standby follows.
        for (auto &run : {station(m_a, "line3-a", 1, 21), station(m_b, "line3-b", 1001, 21)})
            QVERIFY2(ends(*run), run->readAll().constData());
        auto primary = database::connect(m_primary.url(QStringLiteral("postgres"), m_db));
        QCOMPARE(boxesInRecord(*primary, "line3-a"), boxesInWorkbooks(m_a.path()));
        auto standby = database::connect(m_standby.url(QStringLiteral("postgres"), m_db));
        QTRY_COMPARE_WITH_TIMEOUT(boxesInRecord(*standby, "line3-a").size() + boxesInRecord(*standby, "line3-b").size(), qsizetype(6), 20000);

        // The standby stops receiving: what the primary commits now, it never sends.
        standby->runScript("ALTER SYSTEM SET primary_conninfo = ''");
        standby->runScript("SELECT pg_reload_conf()");
        QTRY_COMPARE_WITH_TIMEOUT(plantdb::one(*standby, "SELECT count(*) FROM pg_stat_wal_receiver"), QStringLiteral("0"), 20000);
        for (auto &run : {station(m_a, "line3-a", 22, 14), station(m_b, "line3-b", 1022, 14)})
            QVERIFY2(ends(*run), run->readAll().constData());
        QCOMPARE(boxesInRecord(*primary, "line3-a").size() + boxesInRecord(*primary, "line3-b").size(), 10);
        QCOMPARE(boxesInRecord(*standby, "line3-a").size() + boxesInRecord(*standby, "line3-b").size(), 6);

        // The primary dies while station a packs and delivers (its boxes on their way, in
        // a transaction or in its outbox); the standby is promoted.
        auto inFlight = station(m_a, "line3-a", 36, 35);
        QVERIFY(inFlight->waitForStarted(10000));
        primary.reset();
        m_primary.stop();
        QVERIFY(m_standby.promote());
        QVERIFY2(ends(*inFlight), inFlight->readAll().constData());
        auto station_b = station(m_b, "line3-b", 1036, 7);
        QVERIFY2(ends(*station_b), station_b->readAll().constData());

        // Every box of both workbooks in the new primary, exactly once, row for row: the
        // stations delivered again what the new primary lacked.
        auto promoted = database::connect(m_standby.url(QStringLiteral("postgres"), m_db));
        QTRY_COMPARE_WITH_TIMEOUT(boxesInRecord(*promoted, "line3-a"), boxesInWorkbooks(m_a.path()), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(boxesInRecord(*promoted, "line3-b"), boxesInWorkbooks(m_b.path()), 30000);
        QCOMPARE(boxesInWorkbooks(m_a.path()).size(), 10);
        QCOMPARE(boxesInWorkbooks(m_b.path()).size(), 6);
        QCOMPARE(plantdb::one(*promoted, "SELECT count(*) - count(DISTINCT (station, workbook, first_row)) FROM zantrel.boxes"),
                 QStringLiteral("0"));

        // The plant-wide check answers again, from the new primary.
        PlantCheck check(bothHosts(QStringLiteral("line3")));
        const uint64_t ticket = check.ask(Pack(QStringLiteral("P00001")));
        std::optional<DuplicateQuestion::Answer> answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer = check.answer(ticket)).has_value(), 20000);
        QVERIFY(answer->reached && answer->found);
        QCOMPARE(answer->found->station, QStringLiteral("line3-a"));
    }
};

QTEST_GUILESS_MAIN(TestFailover)
#include "tst_failover.moc"
