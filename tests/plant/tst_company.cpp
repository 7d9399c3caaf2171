#include "support/DeliverBox.h"
#include "support/PlantDb.h"
#include "packing/Gs1Rules.h"
#include "support/ToolRun.h"

#include "board/BoardData.h"
#include "board/BoardJson.h"
#include "board/SharedSnapshot.h"
#include "core/RuntimeError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

// One company database over two plants' records, each plant on a server of its own
// (wal_level = logical), the company on a third, joined by the real zantrel-db. Both
// plants use the same station names; their boxes, conflicts, decisions and changes
// reach the company, where the board and zantrel-find tell the plants apart. A plant
// stopped, and the company stopped, catch up by themselves once back.
class TestCompany : public QObject
{
    Q_OBJECT
    PgServer m_plantA, m_plantB, m_company;
    int m_delivered = 0;

    static QString plantUrl(const PgServer &s, const QString &user = QStringLiteral("postgres"))
    {
        return s.url(user, QStringLiteral("plant"));
    }
    static QString feedUrl(const PgServer &s) { return plantUrl(s, QStringLiteral("company")); }
    QString companyUrl() const { return m_company.url(QStringLiteral("postgres"), QStringLiteral("company")); }

    // A box of one pack (and a middle label) from a station of that plant.
    void deliver(const PgServer &plant, const QString &station, const QString &outer, const QString &pack, const QString &batch = {})
    {
        const std::vector<BoxRow> rows{{BoxRow::OuterLabel, outer}, {BoxRow::MiddleLabel, QStringLiteral("Z-") + outer}, {BoxRow::Pack, pack}};
        const PlantSender::Report r = deliverBox(plantUrl(plant, QStringLiteral("line3")), station, 2 + 10 * m_delivered++,
                                                 QDateTime::currentDateTime(), rows, batch);
        QVERIFY2(r.recorded, qPrintable(r.why));
    }

    // A plant's boxes and rows as the company holds them, and as the plant does.
    static QString boxesOf(database::Connection &db, const QString &plantId = QString())
    {
        QStringList lines;
        for (const database::Row &row : db.run(QStringLiteral(
                 "SELECT b.box_id || ' ' || b.station || ' ' || b.outer_label || ' ' || b.workbook || ' ' || b.first_row || ' '"
                 "       || b.row_count || ' ' || b.written_at || ' ' || coalesce(b.pack_count, -1) || ':'"
                 "       || string_agg(' ' || r.kind || r.text || coalesce('<' || r.middle_label, ''), '' ORDER BY r.row_index)"
                 " FROM zantrel.boxes b JOIN zantrel.box_rows r USING (box_id)"
                 " WHERE $1 = '' OR b.plant_id::text = $1 GROUP BY b.box_id ORDER BY b.box_id"),
                 {plantId.isNull() ? QStringLiteral("") : plantId}))
            lines << row[0].value_or(QString());
        return lines.join(QLatin1Char('\n'));
    }

    static QString idOf(const PgServer &plant)
    {
        auto db = database::connect(plantUrl(plant));
        return plantdb::one(*db, QStringLiteral("SELECT plant_id FROM zantrel.plant"));
    }

    // How many rows of each published table a plant has (all of them, or one plant's in the company).
    static QString countsOf(database::Connection &db, const QString &plantId = QString())
    {
        return plantdb::one(db, QStringLiteral(
            "SELECT concat_ws(' ',"
            " (SELECT count(*) FROM zantrel.stations WHERE $1 = '' OR plant_id::text = $1),"
            " (SELECT count(*) FROM zantrel.station_state WHERE $1 = '' OR plant_id::text = $1),"
            " (SELECT count(*) FROM zantrel.conflict_decisions WHERE $1 = '' OR plant_id::text = $1),"
            " (SELECT count(*) FROM zantrel.box_changes WHERE $1 = '' OR plant_id::text = $1),"
            " (SELECT count(*) FROM zantrel.pack_conflicts c JOIN zantrel.boxes b USING (box_id) WHERE $1 = '' OR b.plant_id::text = $1))"),
            {plantId.isNull() ? QStringLiteral("") : plantId});
    }

    // Whether the company holds exactly the plant's boxes, row for row, and as many rows of
    // every other table it is sent: a subscription copies its tables one by one.
    bool companyHoldsAllOf(const PgServer &plant)
    {
        auto p = database::connect(plantUrl(plant));
        auto c = database::connect(companyUrl());
        const QString id = idOf(plant);
        return boxesOf(*p) == boxesOf(*c, id) && countsOf(*p) == countsOf(*c, id);
    }

private slots:
    void initTestCase()
    {
        for (PgServer *plant : {&m_plantA, &m_plantB}) {
            plant->set(QStringLiteral("wal_level"), QStringLiteral("logical"));
            const QString why = plant->start();
            QVERIFY2(why.isEmpty(), qPrintable(why));
            QCOMPARE(plantdb::make(*plant, QStringLiteral("plant")), QStringLiteral("plant"));
            // The company reads as the README's login does: replication and the readers' rights, no more.
            database::connect(plantUrl(*plant))->runScript(QStringLiteral("CREATE ROLE company LOGIN REPLICATION; GRANT zantrel_reader TO company;"));
        }
        // A subscription whose plant went away tries again soon, not after 5 s.
        m_company.set(QStringLiteral("wal_retrieve_retry_interval"), QStringLiteral("200ms"));
        const QString why = m_company.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        database::connect(m_company.url())->run(QStringLiteral("CREATE DATABASE company"));
        const ToolRun init = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("init"), companyUrl()});
        QVERIFY2(init.status == 0, qPrintable(init.errors));
    }

    void bothPlantsReachTheCompanyTold()
    {
        // Boxes recorded before the plant joins are copied; those after follow. The
        // same station names, and in each plant a conflict decided and a change made:
        // decision and change numbers start at 1 in both plants.
        for (PgServer *plant : {&m_plantA, &m_plantB}) {
            deliver(*plant, QStringLiteral("line3-a"), QStringLiteral("W001"), QStringLiteral("P-SAME"));
            deliver(*plant, QStringLiteral("line3-b"), QStringLiteral("W001"), QStringLiteral("P-SAME"));
        }
        const ToolRun addA = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("add-plant"), companyUrl(),
                                                                        QStringLiteral("一厂"), feedUrl(m_plantA)});
        QVERIFY2(addA.status == 0, qPrintable(addA.errors));
        QVERIFY(addA.out.contains(QStringLiteral("一厂")));
        const ToolRun addB = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("add-plant"), companyUrl(),
                                                                        QStringLiteral("二厂"), feedUrl(m_plantB)});
        QVERIFY2(addB.status == 0, qPrintable(addB.errors));
        // Added again under its name: nothing to do; under another name, or another plant under a taken name: refused.
        const ToolRun again = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("add-plant"), companyUrl(),
                                                                         QStringLiteral("一厂"), feedUrl(m_plantA)});
        QCOMPARE(again.status, 0);
        QVERIFY(again.out.contains(QStringLiteral("nothing to do")));
        const ToolRun renamed = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("add-plant"), companyUrl(),
                                                                           QStringLiteral("三厂"), feedUrl(m_plantA)});
        QCOMPARE(renamed.status, 2);
        QVERIFY2(renamed.errors.contains(QStringLiteral("已以“一厂”加入")), qPrintable(renamed.errors));

        for (PgServer *plant : {&m_plantA, &m_plantB}) {
            auto admin = database::connect(plantUrl(*plant));
            admin->runScript(QStringLiteral(
                "INSERT INTO zantrel.conflict_decisions (box_id, barcode, earlier_box, keep_in, decided_by, reason)"
                " SELECT box_id, barcode, earlier_box, earlier_box, '王主管', '先装的箱' FROM zantrel.pack_conflicts"));
            QCOMPARE(plantdb::one(*admin, QStringLiteral("SELECT max(decision_id) FROM zantrel.conflict_decisions")), QStringLiteral("1"));
            deliver(*plant, QStringLiteral("line3-a"), QStringLiteral("W002"), QStringLiteral("P-AFTER-") + plantdb::one(*admin, "SELECT plant_id FROM zantrel.plant"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(companyHoldsAllOf(m_plantA) && companyHoldsAllOf(m_plantB), 30000);
        auto company = database::connect(companyUrl());
        QCOMPARE(plantdb::one(*company, QStringLiteral("SELECT count(*) FROM zantrel.boxes")), QStringLiteral("6"));
        QTRY_COMPARE_WITH_TIMEOUT(plantdb::one(*company, QStringLiteral("SELECT count(*) || ' ' || count(DISTINCT plant_id) FROM zantrel.conflict_decisions")),
                                  QStringLiteral("2 2"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(plantdb::one(*company, QStringLiteral("SELECT count(*) FROM zantrel.box_changes WHERE reason = '重复包裁定'")),
                                  QStringLiteral("2"), 30000);
        // A subscription copies its tables one by one: the conflicts may come after the changes.
        QTRY_COMPARE_WITH_TIMEOUT(plantdb::one(*company, QStringLiteral("SELECT count(*) FROM zantrel.pack_conflicts")), QStringLiteral("2"), 30000);
        // EPCIS over the company: each plant's change number 1 is an event of its own.
        const QDateTime now = QDateTime::currentDateTime();
        const ToolRun epcis = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("epcis"), companyUrl(), QStringLiteral("--from"),
                                                                         now.addSecs(-3600).toString(Qt::ISODate), QStringLiteral("--to"),
                                                                         now.addSecs(3600).toString(Qt::ISODate), QStringLiteral("--id-base"),
                                                                         QStringLiteral("https://id.example.com/")});
        QVERIFY2(epcis.status == 0, qPrintable(epcis.errors));
        QStringList ids, takeOuts;
        for (const QJsonValue &v : QJsonDocument::fromJson(epcis.out.toUtf8()).object().value("epcisBody").toObject().value("eventList").toArray()) {
            ids << v.toObject().value("eventID").toString();
            if (v.toObject().value("action").toString() == QLatin1String("DELETE"))
                takeOuts << ids.last();
        }
        QCOMPARE(takeOuts.size(), 2);
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
        QCOMPARE(plantdb::one(*company, QStringLiteral("SELECT string_agg(station, ',' ORDER BY station) FROM zantrel.pack_locations WHERE barcode = 'P-SAME'")),
                 QStringLiteral("一厂 / line3-a,二厂 / line3-a"));

        // zantrel-find over the company: a pack in any plant, with its plant.
        const ToolRun find = ToolRun::of(QStringLiteral("zantrel-find"), {QStringLiteral("--db"), companyUrl(), QStringLiteral("P-AFTER-") + idOf(m_plantB)});
        QCOMPARE(find.status, 0);
        QVERIFY2(find.out.contains(QStringLiteral("W002")) && find.out.contains(QStringLiteral("二厂 / line3-a")), qPrintable(find.out));
        const ToolRun box = ToolRun::of(QStringLiteral("zantrel-find"), {QStringLiteral("--db"), companyUrl(), QStringLiteral("--box"), QStringLiteral("W001")});
        QCOMPARE(box.status, 0);
        QCOMPARE(box.out.count(QLatin1Char('\n')), 2); // W001 of each plant's line3-a; line3-b's pack was taken out by the decision
        QVERIFY(box.out.contains(QStringLiteral("一厂 / line3-a")) && box.out.contains(QStringLiteral("二厂 / line3-a")));

        // The board over the company: plants, then their stations; read only.
        company->runScript(QStringLiteral("CREATE ROLE viewer LOGIN; GRANT zantrel_reader TO viewer;"));
        board::BoardData data(m_company.url(QStringLiteral("viewer"), QStringLiteral("company")), 10);
        const qint64 midnight = QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
        const board::Snapshot s = data.snapshot(midnight);
        QVERIFY(s.company);
        QVERIFY(!s.supervisor && !s.rework);
        QStringList names;
        for (const board::Station &st : board::problemsFirst(s.stations))
            names << st.name + QLatin1Char('=') + QString::number(st.boxesToday);
        QCOMPARE(names.join(QLatin1Char(',')), QStringLiteral("一厂 / line3-a=2,一厂 / line3-b=1,二厂 / line3-a=2,二厂 / line3-b=1"));
        QCOMPARE(s.conflicts.size(), size_t(2));
        QVERIFY(s.conflicts[0].settled && s.conflicts[0].firstStation.endsWith(QStringLiteral(" / line3-a")));
        const QJsonObject json = board::snapshotJson(&s, {true, 0, {}}, QDateTime::currentSecsSinceEpoch(), {10, true});
        QCOMPARE(json.value(QStringLiteral("plants")).toArray().size(), 2);
        QVERIFY(json.value(QStringLiteral("readOnly")).toString().contains(QStringLiteral("公司汇总库")));
        QVERIFY(json.value(QStringLiteral("summary")).toString().contains(QStringLiteral("今日全公司 6 箱 6 包")));
        // Nothing is written into the company's record through its board.
        QCOMPARE(data.decide({s.conflicts[0].secondBoxId, s.conflicts[0].barcode, s.conflicts[0].firstBoxId, s.conflicts[0].secondBoxId,
                              QStringLiteral("王主管"), QStringLiteral("改"), s.conflicts[0].decisionId, {}}),
                 board::DecisionResult::NotAllowed);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, data.rework({rework::Kind::Void, QStringLiteral("W001"), QString(), QString(), QString(),
                                                            QStringLiteral("王主管"), QStringLiteral("其他"), QString()}));
        const auto found = data.lookup(QStringLiteral("W002"));
        QCOMPARE(found.size(), size_t(2));
        QVERIFY(data.history(QStringLiteral("P-SAME")).size() >= 4); // packed twice in each plant, taken out once in each

        // Each plant's batch of the same number, started by its first box, is the company's too,
        // with its state and count, apart by plant.
        for (PgServer *plant : {&m_plantA, &m_plantB}) {
            auto admin = database::connect(plantUrl(*plant));
            admin->run(QStringLiteral("INSERT INTO zantrel.batches (batch, line, planned, added_by) VALUES ('240117', 'L1', 100, '计划员')"));
            deliver(*plant, QStringLiteral("line3-a"), QStringLiteral("W003"), QStringLiteral("P-BATCH"), QStringLiteral("240117"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(plantdb::one(*company, QStringLiteral("SELECT string_agg(zantrel.plant_name(plant_id) || ' ' || state || ' ' || packed,"
                                                                        " ',' ORDER BY 1) FROM zantrel.batch_overview WHERE batch = '240117'")),
                                  QStringLiteral("一厂 running 1,二厂 running 1"), 30000);
        QStringList listed;
        for (const board::BatchView &b : data.snapshot(midnight).batches)
            listed << b.plant + QLatin1Char(' ') + b.number + QLatin1Char(' ') + b.state;
        QCOMPARE(listed.join(QLatin1Char(',')), QStringLiteral("一厂 240117 running,二厂 240117 running"));

        // A plant's operators reach the company; their password verifiers stay in the plant.
        database::connect(plantUrl(m_plantA))
            ->run(QStringLiteral("SELECT zantrel.change_operator('added', 'A001', NULL, '张管理', 'admin', '$argon2id$v=19$m=1,t=1,p=1$x$y')"));
        QTRY_COMPARE_WITH_TIMEOUT(plantdb::one(*company, QStringLiteral("SELECT zantrel.plant_name(plant_id) || ' ' || operator_id || ' ' || role"
                                                                        " FROM zantrel.operator_state")),
                                  QStringLiteral("一厂 A001 admin"), 30000);
        QCOMPARE(plantdb::one(*company, QStringLiteral("SELECT to_regclass('zantrel.operator_verifiers') IS NULL")), QStringLiteral("t"));
    }

    void theCompanyBoardInABrowser()
    {
        // The real zantrel-board over the company, its page in Debian's chromium.
        QProcess board;
        board.start(qEnvironmentVariable("ZANTREL_BUILD_DIR") + QStringLiteral("/station/zantrel-board"),
                    {QStringLiteral("--db"), m_company.url(QStringLiteral("viewer"), QStringLiteral("company")), QStringLiteral("--listen"),
                     QStringLiteral("127.0.0.1:0")});
        QTRY_VERIFY_WITH_TIMEOUT(board.canReadLine(), 20000);
        const QString address = QString::fromUtf8(board.readLine()).trimmed();
        QVERIFY2(address.startsWith(QStringLiteral("http://127.0.0.1:")), qPrintable(address));
        QProcess browser;
        browser.start(QStringLiteral("/usr/bin/chromium"), {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                                                          QStringLiteral("--virtual-time-budget=10000"), QStringLiteral("--dump-dom"), address});
        QVERIFY2(browser.waitForFinished(60000), "chromium did not finish: install chromium");
        const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
        board.kill();
        board.waitForFinished();
        QVERIFY2(dom.contains(QStringLiteral("<h1>公司看板</h1>")), qPrintable(dom.left(2000)));
        QVERIFY(dom.indexOf(QStringLiteral("data-plant=\"一厂\"")) >= 0 && dom.indexOf(QStringLiteral("data-plant=\"二厂\"")) >= 0);
        QVERIFY(dom.indexOf(QStringLiteral("data-station=\"二厂 / line3-a\"")) >= 0);
        QVERIFY(dom.contains(QStringLiteral("只读：这是公司汇总库")));
    }

    void aPlantOrTheCompanyCutOffCatchesUp()
    {
        // Plant B stops: plant A's boxes still arrive; B's arrive once it is back.
        m_plantB.stop();
        deliver(m_plantA, QStringLiteral("line3-c"), QStringLiteral("W100"), QStringLiteral("P100"));
        QTRY_VERIFY_WITH_TIMEOUT(companyHoldsAllOf(m_plantA), 30000);
        QString why = m_plantB.startAgain();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        deliver(m_plantB, QStringLiteral("line3-c"), QStringLiteral("W101"), QStringLiteral("P101"));
        QTRY_VERIFY_WITH_TIMEOUT(companyHoldsAllOf(m_plantB), 30000);

        // The company stops while both plants record boxes; back, it has them all.
        m_company.stop();
        for (int n = 0; n < 5; ++n) {
            deliver(m_plantA, QStringLiteral("line3-d"), QStringLiteral("W2%1").arg(n), QStringLiteral("PA2%1").arg(n));
            deliver(m_plantB, QStringLiteral("line3-d"), QStringLiteral("W2%1").arg(n), QStringLiteral("PB2%1").arg(n));
        }
        why = m_company.startAgain();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT(companyHoldsAllOf(m_plantA) && companyHoldsAllOf(m_plantB), 60000);
    }

    void aPlantDroppedAndAddedAgainIsCopiedWhole()
    {
        // As after the plant's own failover: the company forgets it, then copies it again.
        const ToolRun drop = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("drop-plant"), companyUrl(),
                                                                        QStringLiteral("二厂")});
        QVERIFY2(drop.status == 0, qPrintable(drop.errors));
        auto company = database::connect(companyUrl());
        QCOMPARE(plantdb::one(*company, QStringLiteral("SELECT count(*) FROM zantrel.boxes WHERE plant_id = $1"), {idOf(m_plantB)}),
                 QStringLiteral("0"));
        auto plantB = database::connect(plantUrl(m_plantB));
        QCOMPARE(plantdb::one(*plantB, QStringLiteral("SELECT count(*) FROM pg_replication_slots")), QStringLiteral("0"));
        deliver(m_plantB, QStringLiteral("line3-e"), QStringLiteral("W300"), QStringLiteral("P300"));
        const ToolRun add = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("add-plant"), companyUrl(),
                                                                       QStringLiteral("二厂"), feedUrl(m_plantB)});
        QVERIFY2(add.status == 0, qPrintable(add.errors));
        QTRY_VERIFY_WITH_TIMEOUT(companyHoldsAllOf(m_plantA) && companyHoldsAllOf(m_plantB), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(plantdb::one(*company, QStringLiteral("SELECT count(*) FROM zantrel.conflict_decisions")), QStringLiteral("2"), 30000);
        // The plant unreachable (as a dead primary): the subscription goes, the slot's name is told.
        m_plantA.stop();
        const ToolRun away = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("drop-plant"), companyUrl(),
                                                                        QStringLiteral("一厂")});
        QVERIFY2(away.status == 0, qPrintable(away.errors));
        QVERIFY2(away.out.contains(QStringLiteral("pg_drop_replication_slot")), qPrintable(away.out));
        QVERIFY(m_plantA.startAgain().isEmpty());
        auto plantA = database::connect(plantUrl(m_plantA));
        plantA->run(QStringLiteral("SELECT pg_drop_replication_slot(slot_name) FROM pg_replication_slots"));
        const ToolRun back = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("add-plant"), companyUrl(),
                                                                        QStringLiteral("一厂"), feedUrl(m_plantA)});
        QVERIFY2(back.status == 0, qPrintable(back.errors));
        QTRY_VERIFY_WITH_TIMEOUT(companyHoldsAllOf(m_plantA) && companyHoldsAllOf(m_plantB), 30000);
        const ToolRun unknown = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("drop-plant"), companyUrl(),
                                                                           QStringLiteral("五厂")});
        QCOMPARE(unknown.status, 2);
    }

    void whatCannotWorkIsRefused()
    {
        // A plant server without logical WAL: told how to mend it, nothing added.
        PgServer plain;
        QString why = plain.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        plantdb::make(plain, QStringLiteral("plant"));
        const ToolRun add = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("add-plant"), companyUrl(),
                                                                       QStringLiteral("四厂"), plantUrl(plain)});
        QCOMPARE(add.status, 2);
        QVERIFY2(add.errors.contains(QStringLiteral("wal_level = logical")), qPrintable(add.errors));
        auto company = database::connect(companyUrl());
        QCOMPARE(plantdb::one(*company, QStringLiteral("SELECT count(*) FROM zantrel.plants")), QStringLiteral("2"));
        // Another plant under a name the company uses already.
        const ToolRun taken = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("add-plant"), companyUrl(),
                                                                         QStringLiteral("二厂"), feedUrl(m_plantA)});
        QCOMPARE(taken.status, 2);
        // A plant's record is not made a company's, nor a company's a plant's.
        const ToolRun onPlant = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("init"), plantUrl(m_plantA)});
        QCOMPARE(onPlant.status, 2);
        QVERIFY2(onPlant.errors.contains(QStringLiteral("工厂的记录")), qPrintable(onPlant.errors));
        const ToolRun onCompany = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("init"), companyUrl()});
        QCOMPARE(onCompany.status, 2);
        // Run again, company init changes nothing.
        const ToolRun again = ToolRun::of(QStringLiteral("zantrel-db"), {QStringLiteral("company"), QStringLiteral("init"), companyUrl()});
        QCOMPARE(again.status, 0);
        QVERIFY(again.out.contains(QStringLiteral("nothing to do")));
    }

    // GS1 packs reach the company with their fields, and a recall over it names each plant.
    void aRecallOverThePlants()
    {
        for (PgServer *plant : {&m_plantA, &m_plantB}) {
            std::vector<BoxRow> rows{{BoxRow::OuterLabel, QStringLiteral("G001")}, {BoxRow::MiddleLabel, QStringLiteral("Z-G001")}};
            for (const char *serial : {"1", "2"}) {
                const gs1::ScanRead r = gs1::readScan(QStringLiteral("(01)80614141123458(21)%1(10)LOT7").arg(QLatin1String(serial)), QDate::currentDate());
                QVERIFY(r.read);
                rows.push_back(BoxRow::of(gs1rules::packOf(*r.read)));
            }
            const PlantSender::Report sent = deliverBox(plantUrl(*plant, QStringLiteral("line3")), QStringLiteral("line3-e"), 2 + 10 * m_delivered++,
                                                        QDateTime::currentDateTime(), rows);
            QVERIFY2(sent.recorded, qPrintable(sent.why));
        }
        QTRY_VERIFY_WITH_TIMEOUT(companyHoldsAllOf(m_plantA) && companyHoldsAllOf(m_plantB), 30000);
        auto company = database::connect(companyUrl());
        QCOMPARE(plantdb::one(*company, QStringLiteral("SELECT count(*) FROM zantrel.box_rows WHERE gtin = '80614141123458' AND lot = 'LOT7'")),
                 QStringLiteral("4"));
        const ToolRun recall = ToolRun::of(QStringLiteral("zantrel-find"), {QStringLiteral("--db"), companyUrl(), QStringLiteral("--lot"),
                                                                            QStringLiteral("80614141123458"), QStringLiteral("LOT7")});
        QCOMPARE(recall.status, 0);
        QStringList stations;
        for (const QString &line : recall.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            stations << line.section(QLatin1Char('\t'), 1, 1) + QLatin1Char('=') + line.section(QLatin1Char('\t'), 3, 3);
        stations.sort();
        QCOMPARE(stations, QStringList({QStringLiteral("一厂 / line3-e=2"), QStringLiteral("二厂 / line3-e=2")}));
    }
};

QTEST_GUILESS_MAIN(TestCompany)
#include "tst_company.moc"
