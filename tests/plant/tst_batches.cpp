#include "station/Fakes.h"
#include "station/Pty.h"
#include "support/DeliverBox.h"
#include "support/PlantDb.h"
#include "support/ToolRun.h"

#include "core/RuntimeError.h"
#include "packing/PackingState.h"
#include "plant/Batches.h"
#include "plant/PlantLink.h"
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
    Station(const QString &url, const QString &name, const QByteArray &extra = {})
    {
        program::setFolder(dir.path());
        QFile config(dir.filePath("config.ini"));
        config.open(QIODevice::WriteOnly);
        config.write("[length]\r\nnlen=8;\r\nzlen=3;\r\nwlen=3;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\n[gs1]\r\nscans=1;\r\n"
                     "[waittime]\r\nstime=20;\r\n" + extra);
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
        parts.batchLine = QStringLiteral("L1");
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
    void add(const QString &number, int planned, const QString &lot = QStringLiteral("L24"), int perMiddle = 0, int perOuter = 0)
    {
        Batch b;
        b.number = number;
        b.line = QStringLiteral("L1");
        b.gtin = kGtin;
        b.lot = lot;
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
};

QTEST_MAIN(TestBatches)
#include "tst_batches.moc"
