#include "station/Fakes.h"
#include "station/Pty.h"
#include "support/DeliverBox.h"
#include "support/PlantDb.h"
#include "support/ToolRun.h"

#include "core/RuntimeError.h"
#include "packing/PackingState.h"
#include "plant/Batches.h"
#include "plant/PlantLink.h"
#include "plant/Rework.h"
#include "plant/RecordRefusals.h"
#include "platform/ProgramEnvironment.h"
#include "station/BoxJournal.h"
#include "ui/scan/frm_SCAN.h"
#include "ui/setup/frm_BATCH.h"
#include "ui/setup/frm_MAIN.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <map>

using plantdb::one;

namespace {

const QString kGtin = QStringLiteral("09501101530003");

// A GS1 pack of the batch's product and expiry, of this lot, as a scanner's human-readable text.
QByteArray gs1Pack(const QString &lot, int serial)
{
    return QStringLiteral("(01)%1(17)271231(10)%2(21)S%3\r\n").arg(kGtin, lot).arg(serial, 5, 10, QLatin1Char('0')).toLatin1();
}

// The code of a refusal, or "" when it did not raise.
template <typename F>
QString refusalOf(F &&f)
{
    try {
        f();
    } catch (const RuntimeError &e) {
        return e.sqlState().isEmpty() ? QStringLiteral("error %1").arg(e.number()) : e.sqlState();
    }
    return {};
}

// One station of line L1: its folder and config.ini, its scanner on a pseudo-terminal,
// its link to the record and its setup window, as the program builds them.
struct Station
{
    Station(const QString &url, const QString &name, const QString &line = QStringLiteral("L2"))
    {
        program::setFolder(dir.path());
        QFile config(dir.filePath("config.ini"));
        config.open(QIODevice::WriteOnly);
        config.write("[length]\r\nnlen=8;\r\nzlen=3;\r\nwlen=3;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\n[gs1]\r\nscans=1;\r\n"
                     "[waittime]\r\nstime=20;\r\n");
        config.close();
        scanner = std::make_unique<Pty>(dir.path(), 1);
        setOperatorMessages(&messages);
        packingState() = PackingState{};
        PlantLink::Options options;
        options.url = url;
        options.station = name;
        options.batchSeconds = 1;
        link = std::make_unique<PlantLink>(dir.path(), options);
        ScanSession::Parts parts{dir.path(), packingState(), exports, messages, sounds, program::now, link.get(), link->questions()};
        parts.stationName = name;
        parts.batches = link.get();
        parts.batchLine = line;
        setup = std::make_unique<frm_MAIN>(parts);
        setup->Form_Load();
        setup->show();
    }
    ~Station()
    {
        setup.reset();
        setOperatorMessages(nullptr);
    }
    void start() { QTest::mouseClick(setup->findChild<QPushButton *>("cmdOK"), Qt::LeftButton); }
    frm_BATCH *batchWindow() { return qobject_cast<frm_BATCH *>(setup->batchWindow()); }
    // Start, and the batch listed first taken with Enter.
    void startWithFirstBatch()
    {
        start();
        QTRY_VERIFY(batchWindow() && batchWindow()->isVisible());
        QTest::keyClick(batchWindow()->findChild<QTableWidget *>("grdBatch"), Qt::Key_Return);
        QTRY_VERIFY(setup->scanWindow() && setup->scanWindow()->isVisible());
    }
    frm_SCAN &scan() { return *setup->scanWindow(); }
    // One scan, and its handling over: listed, exported or refused.
    void send(const QByteArray &scan)
    {
        const int before = int(messages.texts.size()), packs = this->scan().box().iInnerCount();
        const size_t boxes = exports.boxes.size();
        scanner->send(scan);
        QTRY_VERIFY(this->scan().box().iInnerCount() != packs || exports.boxes.size() != boxes || messages.texts.size() != before);
    }
    QString panel() { return scan().findChild<QLabel *>("lblBatch")->text(); }

    QTemporaryDir dir;
    std::unique_ptr<Pty> scanner;
    RecordingMessages messages;
    RecordingExport exports;
    RecordingSounds sounds;
    std::unique_ptr<PlantLink> link;
    std::unique_ptr<frm_MAIN> setup;
};

} // namespace

// Batches in the record, changed by planners, taken by the real station at Start.
class TestBatches : public QObject
{
    Q_OBJECT
    PgServer m_server;
    QString m_db;
    std::unique_ptr<database::Connection> m_admin, m_planner;

    QString url(const QString &login) const { return m_server.url(login, m_db); }
    void add(const QString &number, int planned, const QString &line = QStringLiteral("L1"), int perMiddle = 0, int perOuter = 0)
    {
        Batch b;
        b.number = number;
        b.line = line;
        b.gtin = kGtin;
        b.lot = QStringLiteral("L24");
        b.expiry = QStringLiteral("271231");
        b.planned = planned;
        b.perMiddle = int16_t(perMiddle);
        b.perOuter = int16_t(perOuter);
        batches::add(*m_planner, b, QStringLiteral("计划员"));
    }
    Batch::State stateOf(const QString &number) { return batches::find(*m_planner, number)->state; }

private slots:
    void initTestCase()
    {
        const QString why = m_server.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        m_db = plantdb::make(m_server, QStringLiteral("batches"));
        m_admin = database::connect(url(QStringLiteral("postgres")));
        m_admin->runScript(QStringLiteral("CREATE ROLE planner LOGIN; GRANT zantrel_planner TO planner;"));
        m_planner = database::connect(url(QStringLiteral("planner")));
    }
    void cleanup() { m_server.resume(); }

    // From each state, each change: those the state machine allows reach their state,
    // every other is refused with its code and changes nothing. Only planners change
    // a batch, only a box starts one, and a batch is added once.
    void theStateMachineAllowsOnlyItsMoves()
    {
        using S = Batch::State;
        using C = batches::Change;
        const std::map<std::pair<S, C>, S> allowed{{{S::Released, C::Abort}, S::Aborted}, {{S::Running, C::Hold}, S::Held},
                                                   {{S::Running, C::Close}, S::Ended},    {{S::Running, C::Abort}, S::Aborted},
                                                   {{S::Held, C::Resume}, S::Running},    {{S::Held, C::Abort}, S::Aborted}};
        int n = 0;
        for (S from : {S::Released, S::Running, S::Held, S::Ended, S::Aborted}) {
            for (C change : {C::Hold, C::Resume, C::Close, C::Abort}) {
                const QString number = QStringLiteral("M%1").arg(++n);
                add(number, 10);
                if (from != S::Released && from != S::Aborted) {
                    // Its first box starts it.
                    QVERIFY(deliverBox(url("line3"), "line3-a", 2 * n, QDateTime::currentDateTime(),
                                       {{BoxRow::OuterLabel, "MW" + QString::number(n)}, {BoxRow::Pack, "MP" + QString::number(n)}}, number)
                                .recorded);
                    QCOMPARE(stateOf(number), S::Running);
                }
                if (from == S::Held)
                    batches::change(*m_planner, number, C::Hold, "计划员", {});
                if (from == S::Ended)
                    batches::change(*m_planner, number, C::Close, "计划员", {});
                if (from == S::Aborted)
                    batches::change(*m_planner, number, C::Abort, "计划员", "取消");
                QCOMPARE(stateOf(number), from);
                const auto to = allowed.find({from, change});
                const QString code = refusalOf([&] { batches::change(*m_planner, number, change, "计划员", "原因"); });
                const QString what = QStringLiteral("%1 from %2").arg(batches::word(change), batchstate::word(from));
                QVERIFY2(code == (to == allowed.end() ? QString(refusal::kBatchMoveRefused) : QString()), qPrintable(what + ": " + code));
                QVERIFY2(stateOf(number) == (to == allowed.end() ? from : to->second), qPrintable(what));
            }
        }
        // Every change a row of its own, with who and the record's time; none updated.
        QCOMPARE(one(*m_admin, "SELECT count(*) FROM zantrel.batch_states WHERE batch = 'M10' AND person <> '' AND changed_at IS NOT NULL"),
                 QStringLiteral("4")); // added, started, held, resumed
        QCOMPARE(refusalOf([&] { m_admin->run("UPDATE zantrel.batch_states SET reason = 'x'"); }), QString(refusal::kRecordNeverChanges));
        QCOMPARE(refusalOf([&] { m_admin->run("DELETE FROM zantrel.batches WHERE batch = 'M1'"); }), QString(refusal::kRecordNeverChanges));

        QCOMPARE(refusalOf([&] { add("M1", 5); }), QString(refusal::kBatchExists));
        QCOMPARE(refusalOf([&] { batches::change(*m_planner, "NONE", C::Hold, "计划员", {}); }), QString(refusal::kNoSuchBatch));
        auto station = database::connect(url("line3"));
        QCOMPARE(refusalOf([&] { batches::change(*station, "M2", C::Abort, "某人", {}); }),
                 QStringLiteral("error %1").arg(RuntimeError::DatabaseNotAllowed));
        // A planner cannot start a batch as a box does, nor pose as one.
        QVERIFY(!refusalOf([&] { m_planner->run("INSERT INTO zantrel.batch_states (batch, change, person) VALUES ('M1', 'start', 'x')"); }).isEmpty());
        QCOMPARE(stateOf("M1"), S::Released);
        // A box of a batch the record does not have is refused, never filed under none.
        QVERIFY(!deliverBox(url("line3"), "line3-a", 900, QDateTime::currentDateTime(),
                            {{BoxRow::OuterLabel, "MX"}, {BoxRow::Pack, "MXP"}}, "NO-SUCH").refused.isEmpty());
        // A product GS1 would refuse never becomes a batch's.
        Batch wrong;
        wrong.number = "M-BAD";
        wrong.line = "L1";
        wrong.gtin = "09501101530004";
        wrong.planned = 1;
        QCOMPARE(refusalOf([&] { batches::add(*m_planner, wrong, "计划员"); }), QStringLiteral("error %1").arg(RuntimeError::ChangeRefused));

        // zantrel-db lists a line's batches, a tab-separated line each.
        const ToolRun list = ToolRun::of("zantrel-db", {"batch", "list", url("planner"), "--line", "L1"});
        QCOMPARE(list.status, 0);
        const QStringList lines = list.out.trimmed().split('\n');
        QVERIFY2(lines.contains(QStringLiteral("M6\tL1\trunning\t10\t1\t%1\tL24\t271231").arg(kGtin)), qPrintable(list.out));
        QVERIFY2(lines.contains(QStringLiteral("M20\tL1\taborted\t10\t0\t%1\tL24\t271231").arg(kGtin)), qPrintable(list.out));
        const ToolRun refused = ToolRun::of("zantrel-db", {"batch", "resume", url("planner"), "M1", "--by", "计划员"});
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.errors.contains(QStringLiteral("批次 M1 已下达，不能恢复")), qPrintable(refused.errors));
    }

    // Two stations of line L2 take batch B1 at Start, its sizes filling the fields; every
    // pack of another lot is refused from a box's first on; a hold and the end reach a
    // running station within seconds; the end waits for the box still open, closed
    // short with F8.
    void aLineTakesItsBatchAtStart()
    {
        add(QStringLiteral("B1"), 10, QStringLiteral("L2"), 2, 4);
        add(QStringLiteral("B0-OTHER-LINE"), 10, QStringLiteral("L3"));
        {
            Station a(url("line3"), "line3-a");
            a.start();
            QTRY_VERIFY(a.batchWindow() && a.batchWindow()->isVisible());
            QCOMPARE(a.batchWindow()->windowTitle(), a.setup->windowTitle());
            auto *grid = a.batchWindow()->findChild<QTableWidget *>("grdBatch");
            QCOMPARE(grid->rowCount(), 1); // the line's own batches only
            QCOMPARE(grid->item(0, 0)->text(), QStringLiteral("B1"));
            QCOMPARE(grid->item(0, 2)->text(), QStringLiteral("L24"));
            QTest::keyClick(grid, Qt::Key_Return);
            QTRY_VERIFY(a.setup->scanWindow() && a.setup->scanWindow()->isVisible());
            QCOMPARE(a.setup->findChild<QLineEdit *>("Text5")->text(), QStringLiteral("2"));
            QCOMPARE(a.setup->findChild<QLineEdit *>("Text6")->text(), QStringLiteral("4"));
            QVERIFY2(a.messages.texts.join('|').contains(QStringLiteral("批次 B1 的包装数量：中箱 2，外箱 4（原填 2、10）")),
                     qPrintable(a.messages.texts.join('|')));
            a.messages.texts.clear();
            QVERIFY2(a.scan().windowTitle().contains(QStringLiteral("批次 B1 (10)L24")), qPrintable(a.scan().windowTitle()));

            // Another lot is refused at the box's very first pack, naming both lots.
            a.send(gs1Pack(QStringLiteral("L25"), 1));
            QCOMPARE(a.scan().box().iInnerCount(), 0);
            QVERIFY2(a.messages.texts.value(0).startsWith(QStringLiteral("不是本批次的批号！本批次 (10)L24 此包 (10)L25")),
                     qPrintable(a.messages.texts.join('|')));
            for (int i = 1; i <= 4; ++i)
                a.send(gs1Pack(QStringLiteral("L24"), i));
            QCOMPARE(int(a.exports.boxes.size()), 1);
            QTRY_COMPARE(one(*m_admin, "SELECT count(*) FROM zantrel.boxes WHERE batch = 'B1' AND station = 'line3-a'"), QStringLiteral("1"));
            QCOMPARE(stateOf("B1"), Batch::State::Running);
            QTRY_VERIFY2(a.panel().contains(QStringLiteral("本批 4 / 10")), qPrintable(a.panel()));
        }
        Station b(url("line3"), "line3-b");
        b.setup->findChild<QLineEdit *>("Text7")->setText(QStringLiteral("B"));
        b.startWithFirstBatch();
        QTRY_VERIFY2(b.panel().contains(QStringLiteral("本批 4 / 10")), qPrintable(b.panel()));
        for (int i = 5; i <= 8; ++i)
            b.send(gs1Pack(QStringLiteral("L24"), i));
        QTRY_COMPARE(one(*m_admin, "SELECT count(DISTINCT station) FROM zantrel.boxes WHERE batch = 'B1'"), QStringLiteral("2"));
        QTRY_VERIFY2(b.panel().contains(QStringLiteral("本批 8 / 10")), qPrintable(b.panel()));

        // Held: the running station learns it and refuses the next scan.
        batches::change(*m_planner, "B1", batches::Change::Hold, "计划员", "设备检修");
        QTRY_VERIFY2(b.panel().contains(QStringLiteral("已暂停")), qPrintable(b.panel()));
        b.messages.texts.clear();
        b.send(gs1Pack(QStringLiteral("L24"), 9));
        QCOMPARE(b.scan().box().iInnerCount(), 0);
        QVERIFY2(b.messages.firstLines().value(0) == QStringLiteral("本批次已暂停。"), qPrintable(b.messages.texts.join('|')));
        batches::change(*m_planner, "B1", batches::Change::Resume, "计划员", {});
        QTRY_VERIFY2(!b.panel().contains(QStringLiteral("已暂停")), qPrintable(b.panel()));

        // Past the plan is allowed, in red; an open box holds the end back, naming itself.
        for (int i = 9; i <= 11; ++i)
            b.send(gs1Pack(QStringLiteral("L24"), i));
        QCOMPARE(b.scan().box().iInnerCount(), 3);
        QTRY_VERIFY2(b.panel().contains(QStringLiteral("本批 11 / 10")), qPrintable(b.panel()));
        QVERIFY(b.scan().findChild<QLabel *>("lblBatch")->styleSheet().contains(QStringLiteral("#c00000")));
        QTRY_COMPARE(one(*m_admin, "SELECT packing FROM zantrel.station_state WHERE station = 'line3-b' AND batch = 'B1'"),
                     b.scan().box().outerLabel());
        ToolRun close = ToolRun::of("zantrel-db", {"batch", "close", url("planner"), "B1", "--by", "计划员"});
        QCOMPARE(close.status, 2);
        QVERIFY2(close.errors.contains(QStringLiteral("工位 line3-b 的外箱 %1 还未装完").arg(b.scan().box().outerLabel())), qPrintable(close.errors));
        QCOMPARE(stateOf("B1"), Batch::State::Running);

        b.messages.answers << QStringLiteral("封箱");
        QTest::keyClick(&b.scan(), Qt::Key_F8);
        QTRY_COMPARE(int(b.exports.boxes.size()), 2);
        QTRY_COMPARE(one(*m_admin, "SELECT packing FROM zantrel.station_state WHERE station = 'line3-b'"), QString());
        close = ToolRun::of("zantrel-db", {"batch", "close", url("planner"), "B1", "--by", "计划员", "--reason", "完成"});
        QVERIFY2(close.status == 0, qPrintable(close.errors));
        QVERIFY2(close.out.contains(QStringLiteral("batch B1 is ended: 11 of 10 planned packs (1 over plan)")), qPrintable(close.out));

        // Ended: no pack goes in any more.
        QTRY_VERIFY2(b.panel().contains(QStringLiteral("已结束")), qPrintable(b.panel()));
        b.messages.texts.clear();
        b.send(gs1Pack(QStringLiteral("L24"), 12));
        QVERIFY2(b.messages.firstLines().value(0) == QStringLiteral("本批次已结束。"), qPrintable(b.messages.texts.join('|')));
        QCOMPARE(one(*m_admin, "SELECT count(*) FROM zantrel.boxes WHERE batch = 'B1' AND after_batch_end"), QStringLiteral("0"));

        // The batch's boxes, every station's, with their packs now.
        const ToolRun find = ToolRun::of("zantrel-find", {"--db", url("planner"), "--batch", "B1"});
        QCOMPARE(find.status, 0);
        const QStringList lines = find.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].startsWith(QStringLiteral("001\tline3-a\t")) && lines[0].endsWith(QStringLiteral("\t4\t")), qPrintable(find.out));
        QVERIFY2(lines[2].startsWith(QStringLiteral("B002\tline3-b\t")) && lines[2].endsWith(QStringLiteral("\t3\t")), qPrintable(find.out));
        QCOMPARE(ToolRun::of("zantrel-find", {"--db", url("planner"), "--batch", "NONE"}).status, 1);
    }

    // Without the record a station goes on only with the batch it packed last, by the
    // values its journal kept; a station that packed none cannot start. Its boxes reach
    // the record with their batch once it is back.
    void offlineStartGoesOnWithTheLastBatchOnly()
    {
        add(QStringLiteral("B2"), 100, QStringLiteral("L4"));
        Station c(url("line3"), "line3-c", QStringLiteral("L4"));
        c.startWithFirstBatch();
        c.send(gs1Pack(QStringLiteral("L24"), 101));
        QCOMPARE(c.scan().box().iInnerCount(), 1);
        c.scan().close();
        QTRY_VERIFY(!c.setup->scanWindow());

        // The box left open goes on only in its own batch: listed first, another refused.
        add(QStringLiteral("A2"), 100, QStringLiteral("L4"));
        c.messages.texts.clear();
        c.start();
        QTRY_VERIFY(c.batchWindow() && c.batchWindow()->isVisible());
        auto *grid = c.batchWindow()->findChild<QTableWidget *>("grdBatch");
        QCOMPARE(grid->item(0, 0)->text(), QStringLiteral("B2"));
        QCOMPARE(grid->item(1, 0)->text(), QStringLiteral("A2"));
        QTest::keyClick(grid, Qt::Key_Down);
        QTest::keyClick(grid, Qt::Key_Return);
        QTRY_VERIFY(!c.batchWindow());
        QVERIFY2(c.messages.texts.value(0) == QStringLiteral("未装完的外箱属于批次 B2：请选择批次 B2 把它装完。"), qPrintable(c.messages.texts.join('|')));
        QVERIFY(!c.setup->scanWindow());
        // Esc goes back to the setup window, nothing started.
        c.start();
        QTRY_VERIFY(c.batchWindow() && c.batchWindow()->isVisible());
        QTest::keyClick(c.batchWindow()->findChild<QTableWidget *>("grdBatch"), Qt::Key_Escape);
        QTRY_VERIFY(!c.batchWindow());
        QVERIFY(!c.setup->scanWindow());

        m_server.stop();
        c.messages.texts.clear();
        c.start();
        QTRY_VERIFY(c.setup->scanWindow() && c.setup->scanWindow()->isVisible());
        QVERIFY2(c.messages.texts.join('|').contains(QStringLiteral("本站离线继续上一批次 B2（批号 L24）")), qPrintable(c.messages.texts.join('|')));
        QCOMPARE(c.scan().box().iInnerCount(), 1); // the box left open goes on, in its batch
        c.messages.texts.clear();
        c.send(gs1Pack(QStringLiteral("L25"), 102));
        QVERIFY2(c.messages.texts.value(0).startsWith(QStringLiteral("不是本批次的批号！")), qPrintable(c.messages.texts.join('|')));
        c.messages.answers << QStringLiteral("封箱");
        QTest::keyClick(&c.scan(), Qt::Key_F8);
        QTRY_COMPARE(int(c.exports.boxes.size()), 1);

        {
            Station never(url("line3"), "line3-d", QStringLiteral("L4"));
            never.start();
            QTRY_VERIFY(!never.messages.texts.isEmpty());
            QVERIFY2(never.messages.texts.value(0).contains(QStringLiteral("本站没有可以继续的批次，不能开始")), qPrintable(never.messages.texts.join('|')));
            QVERIFY(!never.setup->scanWindow());
            QVERIFY(!never.batchWindow());
        }
        setOperatorMessages(&c.messages);
        QCOMPARE(m_server.startAgain(), QString());
        m_admin = database::connect(url("postgres"));
        m_planner = database::connect(url("planner"));
        QTRY_COMPARE_WITH_TIMEOUT(one(*m_admin, "SELECT count(*) FROM zantrel.boxes WHERE batch = 'B2' AND station = 'line3-c'"),
                                  QStringLiteral("1"), 60000);
    }

    // A batch's packs are those in its boxes now: every take-out, put-in, void and restore
    // counts as where packs are now says, step by step.
    void aBatchCountsItsPacksAsTheyAreNow()
    {
        add(QStringLiteral("R1"), 10);
        const auto now = QDateTime::currentDateTime();
        const std::pair<QString, QStringList> boxes[] = {{"R-W1", {"R-P1", "R-P2", "R-P3"}}, {"R-W2", {"R-P4", "R-P5"}}, {"R-W3", {"R-P6"}}};
        int row = 100; // below the other tests' boxes of line3-e
        for (const auto &[outer, packs] : boxes) {
            std::vector<BoxRow> rows{{BoxRow::OuterLabel, outer}};
            for (const QString &p : packs)
                rows.push_back({BoxRow::Pack, p});
            QVERIFY(deliverBox(url("line3"), "line3-e", row, now, rows, "R1").recorded);
            row += 10;
        }
        const auto change = [&](rework::Kind kind, const QString &box, const QString &pack = {}) {
            rework::Change c;
            c.kind = kind;
            c.box = box;
            c.barcode = pack;
            c.person = QStringLiteral("质检");
            c.reason = QStringLiteral("抽样");
            rework::record(*m_admin, c);
        };
        const auto same = [&] {
            return QString::number(batches::find(*m_planner, "R1")->packed)
                   == one(*m_admin, "SELECT count(*) FROM zantrel.packs_now n JOIN zantrel.boxes b USING (box_id) WHERE b.batch = 'R1'");
        };
        using K = rework::Kind;
        QVERIFY(same());
        change(K::TakeOut, "R-W1", "R-P1");
        QVERIFY(same());
        change(K::PutIn, "R-W1", "R-NEW");
        QVERIFY(same());
        change(K::TakeOut, "R-W1", "R-P2");
        change(K::PutIn, "R-W1", "R-P2");
        QVERIFY(same());
        change(K::Void, "R-W2");
        QVERIFY(same());
        change(K::Restore, "R-W2");
        QVERIFY(same());
        change(K::Void, "R-W2");
        change(K::PutIn, "R-W3", "R-P1");
        change(K::TakeOut, "R-W1", "R-NEW");
        QVERIFY(same());
        QCOMPARE(batches::find(*m_planner, "R1")->packed, 4); // R-P2, R-P3 in W1; R-P6, R-P1 in W3
    }

    // A box that reaches the record after its batch ended (written offline meanwhile) is
    // kept, and flagged.
    void aBoxAfterTheEndIsKeptAndFlagged()
    {
        add(QStringLiteral("B3"), 10);
        const auto now = QDateTime::currentDateTime();
        QVERIFY(deliverBox(url("line3"), "line3-e", 2, now, {{BoxRow::OuterLabel, "E001"}, {BoxRow::Pack, "EP1"}}, "B3").recorded);
        batches::change(*m_planner, "B3", batches::Change::Close, "计划员", {});
        const PlantSender::Report late = deliverBox(url("line3"), "line3-e", 4, now, {{BoxRow::OuterLabel, "E002"}, {BoxRow::Pack, "EP2"}}, "B3");
        QVERIFY(late.recorded);
        QVERIFY(late.refused.isEmpty());
        QCOMPARE(one(*m_admin, "SELECT string_agg(outer_label || '=' || after_batch_end, ',' ORDER BY outer_label) FROM zantrel.boxes WHERE batch = 'B3'"),
                 QStringLiteral("E001=false,E002=true"));
        QCOMPARE(batches::find(*m_planner, "B3")->packed, 2);
        const ToolRun find = ToolRun::of("zantrel-find", {"--db", url("planner"), "--batch", "B3"});
        QVERIFY2(find.out.trimmed().endsWith(QStringLiteral("\t1\tafter-end")), qPrintable(find.out));
    }
};

QTEST_MAIN(TestBatches)
#include "tst_batches.moc"
