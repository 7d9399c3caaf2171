#include "FileBytes.h"
#include "Impostors.h"
#include "Fakes.h"
#include "JournalScript.h"

#include "core/RuntimeError.h"
#include "platform/FaultSeam.h"
#include "platform/AtomicFile.h"
#include "platform/ProgramEnvironment.h"
#include "platform/RegularFile.h"
#include "platform/xls/ColumnReader.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "station/BoxJournal.h"
#include "station/DailyWorkbookExport.h"
#include "station/StartChecks.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString describe(const std::optional<BoxJournal::Saved> &saved)
{
    if (!saved)
        return QStringLiteral("<no journal>");
    if (saved->rows.empty() && !saved->exportPending) // an empty box is only its numbers
        return QStringLiteral("numbers=%1/%2").arg(saved->middleNo.value_or(-1)).arg(saved->outerNo.value_or(-1));
    QStringList parts;
    for (const BoxRow &row : saved->rows)
        parts << QString::number(int(row.kind)) + ':' + row.text;
    parts << QStringLiteral("pending=%1").arg(saved->exportPending);
    parts << QStringLiteral("numbers=%1/%2").arg(saved->middleNo.value_or(-1)).arg(saved->outerNo.value_or(-1));
    return parts.join(QLatin1Char(' '));
}

QString describe(const Box &box, int32_t middleNo, int32_t outerNo)
{
    BoxJournal::Saved saved;
    saved.rows = box.rows();
    saved.exportPending = box.exportPending();
    saved.middleNo = middleNo;
    saved.outerNo = outerNo;
    return describe(saved);
}

// Notes every state the box itself passes through (not what the journal says):
// at each change, the state it is leaving; at the end of a scan, where it stands.
class Observed : public BoxLog
{
public:
    explicit Observed(const Box &box) : m_box(box) {}
    void changed(const BoxChange &change) override
    {
        note();
        if (change.numbers) {
            m_middle = change.numbers->middleNo;
            m_outer = change.numbers->outerNo;
        }
    }
    void exportPendingChanged(bool) override { note(); }
    void exporting(const ExportTarget &) override {}
    void jobChanged(const PackingJob &) override {}
    void emptied(int32_t m, int32_t o) override { note(); m_middle = m; m_outer = o; }
    void numbersAdvanced(int32_t m, int32_t o) override { note(); m_middle = m; m_outer = o; }
    void closedShort(bool, const RunningNumbers &n) override { note(); m_middle = n.middleNo; m_outer = n.outerNo; }
    void note() { states << describe(m_box, m_middle, m_outer); }
    QStringList states;

private:
    const Box &m_box;
    int32_t m_middle = 1;
    int32_t m_outer = 1;
};

} // namespace

class TestBoxJournal : public QObject
{
    Q_OBJECT
private slots:
    void everyChangeIsKeptAndReadBack()
    {
        QTemporaryDir dir;
        QVERIFY(!BoxJournal::load(dir.path()));
        BoxJournal journal(dir.path());
        journal.startWith({}, false, 1, 1);
        Box box;
        box.setLog(&journal);
        PackingJob job;
        job.iPerMiddle = 2;
        job.iPerOuter = 5;
        job.iMiddleDigits = 3;
        job.iOuterDigits = 4;
        job.sMiddlePrefix = QStringLiteral("中 Z\U00020000"); // beyond the Basic Multilingual Plane too
        job.sOuterSuffix = QStringLiteral("\\-x");
        box.apply({{{BoxRow::OuterLabel, QStringLiteral("W\\001")}, {BoxRow::MiddleLabel, QStringLiteral("中箱 \U00020000Z001\U0001F4E6")},
                    {BoxRow::Pack, QStringLiteral("Äé\x01#x")}},
                   RunningNumbers{2, 2}, job, {}});
        box.appendPack(QStringLiteral("A2"));
        box.setExportPending(true);
        const QUuid id = QUuid::fromString(QStringLiteral("6f1c3a52-1d3e-4d0a-9c51-0b1a2c3d4e5f"));
        box.setExportTarget({dir.filePath("files/20261207.xls"), 14, id});

        std::optional<BoxJournal::Saved> saved = BoxJournal::load(dir.path());
        QVERIFY(saved);
        QCOMPARE(saved->rows, box.rows());
        QCOMPARE(saved->packs(), int16_t(2));
        QCOMPARE(saved->outerLabel(), QStringLiteral("W\\001"));
        QVERIFY(saved->exportPending);
        QCOMPARE(saved->middleNo, std::optional<int32_t>(2));
        QVERIFY(saved->job == job);
        QVERIFY(saved->target == ExportTarget({dir.filePath("files/20261207.xls"), 14, id}));

        // A person can read it: one change per line, one scan between begin and end.
        QFile file(journal.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("\nbegin\njob 2 5 3 4 \xe4\xb8\xad\\x20Z\xf0\xa0\x80\x80   \\\\-x\nouter W\\\\001\n"));
        QVERIFY(text.contains("\npack \xc3\x84\xc3\xa9\\x01#x\nnumbers 2 2\nend\npack A2\n"));
        QVERIFY(text.endsWith("\nexport 14 6f1c3a52-1d3e-4d0a-9c51-0b1a2c3d4e5f files/20261207.xls\n"));

        // The same box written whole, as Start does, reads back the same.
        journal.startWith(box.rows(), true, 2, 2, job, box.exportTarget());
        std::optional<BoxJournal::Saved> again = BoxJournal::load(dir.path());
        QCOMPARE(again->rows, saved->rows);
        QVERIFY(again->job == job && again->target == saved->target && again->exportPending);

        // Journals from before box ids read as they did, a blank in the path too.
        const std::pair<QByteArray, QString> oldLines[] = {
            {"export 14 files/20261207.xls", QStringLiteral("20261207.xls")},
            {"export 14 files/old box.xls", QStringLiteral("old box.xls")},
            {"export 14 6f1c3a52-1d3e-4d0a-9c51-0b1a2c3d4e5f", QStringLiteral("6f1c3a52-1d3e-4d0a-9c51-0b1a2c3d4e5f")}};
        for (const auto &[line, name] : oldLines) {
            QFile old(journal.path());
            QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
            old.write("numbers 2 2\nouter W1\nmiddle Z1\npack A1\npending 1\n" + line + "\n");
            old.close();
            const std::optional<BoxJournal::Saved> read = BoxJournal::load(dir.path());
            QVERIFY(read && read->target);
            QVERIFY(read->target->boxId.isNull());
            QCOMPARE(QFileInfo(read->target->workbook).fileName(), name);
        }
        journal.startWith(box.rows(), true, 2, 2, job, box.exportTarget());

        // Emptied after an export: only the numbers are left.
        box.empty(5, 3);
        saved = BoxJournal::load(dir.path());
        QVERIFY(saved->rows.empty());
        QVERIFY(!saved->exportPending && !saved->target && !saved->job);
        QCOMPARE(saved->outerNo, std::optional<int32_t>(3));
        QVERIFY(QFileInfo(journal.path()).size() < 200);

        // A station of a batch: the batch and its values stay in the journal whatever box is
        // emptied, so that a restart without the record goes on with it; the box's job names it.
        Batch batch;
        batch.number = QStringLiteral("240117");
        batch.line = QStringLiteral("L1");
        batch.gtin = QStringLiteral("09501101530003");
        batch.lot = QStringLiteral("L 24\\");
        batch.expiry = QStringLiteral("271231");
        batch.planned = 1000;
        batch.perMiddle = 2;
        batch.perOuter = 5;
        PackingJob ofBatch = job;
        ofBatch.sBatch = batch.number;
        journal.startWith(box.rows(), true, 2, 2, ofBatch, box.exportTarget(), batch);
        saved = BoxJournal::load(dir.path());
        QVERIFY(saved->batch == batch);
        QCOMPARE(saved->job->sBatch, batch.number);
        box.empty(6, 4);
        saved = BoxJournal::load(dir.path());
        QVERIFY(saved->rows.empty());
        QVERIFY(saved->batch == batch);
        Batch next = batch;
        next.number = QStringLiteral("240118");
        journal.batchTaken(next);
        box.empty(7, 5);
        QVERIFY(BoxJournal::load(dir.path())->batch == next);
        journal.startWith({}, false, 7, 5); // a station without batches keeps none
        QVERIFY(!BoxJournal::load(dir.path())->batch);
    }

    void theListHearsOfARowOnceTheBoxHoldsIt()
    {
        // What a view reads when told of a change is the box after the change.
        struct Seen : RecordGrid
        {
            const Box *box = nullptr;
            QStringList seen;
            void showRows(const RecordSource *) override {}
            void rowAppended(int32_t row) override
            {
                seen << QStringLiteral("+%1 rows=%2 packs=%3 %4").arg(row).arg(box->rowCount()).arg(box->iInnerCount()).arg(box->cellText(row, 2));
            }
            void rowRemoved(int32_t row) override { seen << QStringLiteral("-%1").arg(row); }
            void reset() override { seen << QStringLiteral("reset rows=%1").arg(box->rowCount()); }
            void setAllRowsHeight(int) override {}
        } view;
        Box box;
        view.box = &box;
        box.setView(&view);
        box.apply({{{BoxRow::OuterLabel, QStringLiteral("W1")}, {BoxRow::Pack, QStringLiteral("A1")}}, {}, {}, {}});
        box.appendPack(QStringLiteral("A1"));
        box.empty(1, 1);
        QCOMPARE(view.seen, QStringList({"+0 rows=2 packs=1 ", "+1 rows=2 packs=1 A1", "+2 rows=3 packs=2 A1",
                                         "reset rows=0"}));
        QVERIFY(box.contains(Pack(QStringLiteral("A1"))) == false);
    }

    void theBoxNeverHoldsMoreThanItsSize()
    {
        PackingJob job;
        job.iPerMiddle = 1;
        job.iPerOuter = 2;
        Box box;
        box.apply({{{BoxRow::OuterLabel, QStringLiteral("W1")}, {BoxRow::Pack, QStringLiteral("A1")}}, {}, job, {}});
        box.appendPack(QStringLiteral("A2"));
        QCOMPARE(box.capacity(), int16_t(2));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, box.appendPack(QStringLiteral("A3")));
        QCOMPARE(box.iInnerCount(), int16_t(2));
        QCOMPARE(box.rowCount(), 3);
        // A restore that would hold more packs than any box changes nothing.
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 box.restore(std::vector<BoxRow>(32768, BoxRow{BoxRow::Pack, QStringLiteral("P")}), false));
        QCOMPARE(box.rowCount(), 3);
    }

    void aWrittenBoxLeavesEvenWhenTheJournalFails()
    {
        // The workbook has the box; a journal that cannot say so must not keep it for a second export.
        struct FailingOnEmpty : BoxLog
        {
            void changed(const BoxChange &) override {}
            void exportPendingChanged(bool) override {}
            void exporting(const ExportTarget &) override {}
            void jobChanged(const PackingJob &) override {}
            void emptied(int32_t, int32_t) override
            {
                throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("test"), QStringLiteral("磁盘已满"));
            }
            void numbersAdvanced(int32_t, int32_t) override {}
            void closedShort(bool, const RunningNumbers &) override {}
        } log;
        PackingState state;
        journalscript::setUp(state);
        state.iPerOuter = 2;
        Box box;
        box.setLog(&log);
        RecordingMessages messages;
        RecordingExport exports;
        BarcodeIntake intake(state, box, messages, exports);
        intake.receive(QStringLiteral("P00001\r\n"));
        try {
            intake.receive(QStringLiteral("P00002\r\n"));
            QFAIL("the journal failure must be told");
        } catch (const RuntimeError &e) {
            QVERIFY(e.description().startsWith(QStringLiteral("外箱 W001 已写入 recorded.xls")));
        }
        QCOMPARE(box.rowCount(), 0);
        QVERIFY(!box.exportPending());
        intake.receive(QStringLiteral("P00003\r\n"));
        QCOMPARE(exports.boxes.size(), size_t(1)); // not written twice
    }

    void tornAndDamagedLines()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/" + BoxJournal::fileName();
        writeBytes(path, "numbers 1 2\nouter W001\nmiddle Z001\npack A1\npack A2");
        std::optional<BoxJournal::Saved> saved = BoxJournal::load(dir.path());
        QCOMPARE(saved->packs(), int16_t(1)); // the torn last line is not a pack

        writeBytes(path, "numbers 1 2\nouter W001\nbogus\npack A1\n");
        try {
            BoxJournal::load(dir.path());
            QFAIL("a damaged line must be told");
        } catch (const RuntimeError &e) {
            QVERIFY(e.description().contains(QStringLiteral("第 3 行")));
            QCOMPARE(e.kind(), RuntimeError::Kind::Journal);
            QCOMPARE(e.number(), RuntimeError::JournalFailed);
        }
        writeBytes(path, "remove\n");
        QVERIFY_THROWS_EXCEPTION(RuntimeError, BoxJournal::load(dir.path()));
        writeBytes(path, "pack bad\\q\n");
        QVERIFY_THROWS_EXCEPTION(RuntimeError, BoxJournal::load(dir.path()));
    }

    void aScanIsWholeOrNotThere()
    {
        // Killed while a scan's lines were going out: none of them counts.
        QTemporaryDir dir;
        const QString path = dir.path() + "/" + BoxJournal::fileName();
        const QByteArray box = "numbers 2 2\njob 2 4 3 3    \nouter W001\nmiddle Z001\npack A1\n";
        writeBytes(path, box + "begin\npack A2\nmiddle Z002\nnumbers 3 2\n");
        std::optional<BoxJournal::Saved> saved = BoxJournal::load(dir.path());
        QCOMPARE(saved->rows.size(), size_t(3));
        QCOMPARE(saved->middleNo, std::optional<int32_t>(2));
        writeBytes(path, box + "begin\npack A2\nmiddle Z002\nnumbers 3 2\nend\n");
        saved = BoxJournal::load(dir.path());
        QCOMPARE(saved->rows.size(), size_t(5));
        QCOMPARE(saved->middleNo, std::optional<int32_t>(3));
        // An end with no begin, or a begin inside a scan, is damage, not a tear.
        writeBytes(path, box + "end\n");
        QVERIFY_THROWS_EXCEPTION(RuntimeError, BoxJournal::load(dir.path()));
        writeBytes(path, box + "begin\nbegin\nend\n");
        QVERIFY_THROWS_EXCEPTION(RuntimeError, BoxJournal::load(dir.path()));
    }

    void aBoxThatCannotBeIsDamage_data()
    {
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<QString>("why");
        QByteArray many = "numbers 2 2\nouter W001\nmiddle Z001\n";
        for (int i = 0; i < 32768; ++i)
            many += "pack P\n";
        QTest::newRow("more packs than any box") << many << QStringLiteral("32768 个内包");
        QTest::newRow("more packs than its size")
            << QByteArray("numbers 2 2\njob 2 2 3 3    \nouter W001\nmiddle Z001\npack A\npack B\npack C\n")
            << QStringLiteral("超过该箱的外箱包装数量 2");
        QTest::newRow("a size of nothing")
            << QByteArray("numbers 2 2\njob 0 0 3 3    \nouter W001\n") << QStringLiteral("包装数量 0 / 0");
        QTest::newRow("numbers at their end")
            << QByteArray("numbers 2147483647 2\nouter W001\nmiddle Z001\npack A\n") << QStringLiteral("无法再增加");
        QTest::newRow("no numbers") << QByteArray("outer W001\nmiddle Z001\npack A\n") << QStringLiteral("缺少序号");
        QTest::newRow("a pack before its label")
            << QByteArray("numbers 2 2\npack A\nouter W001\n") << QStringLiteral("第一行不是外箱号");
        QTest::newRow("two outer labels")
            << QByteArray("numbers 2 2\nouter W001\npack A\nouter W002\n") << QStringLiteral("两个外箱号");
    }

    void aBoxThatCannotBeIsDamage()
    {
        QFETCH(QByteArray, journal);
        QFETCH(QString, why);
        QTemporaryDir dir;
        writeBytes(dir.path() + "/" + BoxJournal::fileName(), journal);
        try {
            BoxJournal::load(dir.path());
            QFAIL("an impossible box must be told");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(why), qPrintable(e.description()));
        }
    }

    void aFailedRewriteIsMadeGoodBeforeTheNextBox()
    {
        // The box is in the workbook but the journal could not be emptied (disk full):
        // the next box must not be written after the stale one.
        QTemporaryDir dir;
        BoxJournal journal(dir.path());
        journal.startWith({}, false, 1, 1);
        PackingState state;
        journalscript::setUp(state);
        state.iPerOuter = 2;
        Box box;
        box.setLog(&journal);
        RecordingMessages messages;
        RecordingExport exports;
        BarcodeIntake intake(state, box, messages, exports);
        intake.receive(QStringLiteral("P00001\r\n"));
        faultseam::setForTests([](faultseam::Point step, const QString &) { return step == faultseam::Point::Rename ? ENOSPC : 0; });
        try {
            intake.receive(QStringLiteral("P00002\r\n"));
            QFAIL("the journal failure must be told");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.kind(), RuntimeError::Kind::Journal); // what failed, whatever the text says
        }
        faultseam::setForTests(nullptr);
        QVERIFY(BoxJournal::load(dir.path())->exportPending); // still the old box, with where it went
        intake.receive(QStringLiteral("P00003\r\n"));
        std::optional<BoxJournal::Saved> saved = BoxJournal::load(dir.path());
        QCOMPARE(saved->rows, box.rows());
        QCOMPARE(saved->outerLabel(), QStringLiteral("W002"));
        QVERIFY(!saved->exportPending);
    }

    void aJournalThatIsNoFileIsToldAndKept_data() { impostor::addRows(); }
    void aJournalThatIsNoFileIsToldAndKept()
    {
        QFETCH(int, kind);
        QFETCH(QString, told);
        QTemporaryDir dir;
        const QString path = dir.path() + "/" + BoxJournal::fileName();
        QVERIFY(impostor::make(kind, path, regularfile::kJournalLimit));
        try {
            BoxJournal::load(dir.path());
            QFAIL("what is not a journal must be told");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(BoxJournal::fileName()) && e.description().contains(told), qPrintable(e.description()));
            QCOMPARE(e.kind(), RuntimeError::Kind::Journal);
        }
        QVERIFY(impostor::unchanged(kind, path, regularfile::kJournalLimit));
    }

    void aFailedWriteChangesNothing()
    {
        QTemporaryDir dir;
        BoxJournal journal(dir.path() + "/missing-folder");
        Box box;
        box.setLog(&journal);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, box.appendOuterLabel(QStringLiteral("W001")));
        QCOMPARE(box.rowCount(), 0);
    }

    void aKilledStationLosesNothingListed()
    {
        const QString child = qEnvironmentVariable("ZANTREL_BUILD_DIR") + "/tests/box_journal_child";
        QVERIFY2(QFile::exists(child), qPrintable(child));
        QRandomGenerator random(20261207);
        for (int run = 0; run < 32; ++run) {
            const quint32 seed = random.generate();
            const int killAfter = random.bounded(1, journalscript::kScans - 1);

            // Every state the box passes through, and where each scan's handling ended.
            QStringList states;
            QList<int> scanEnds;
            {
                journalscript::Station station;
                Observed observed(station.box);
                observed.note();
                station.box.setLog(&observed);
                for (const QString &scan : journalscript::scans(seed)) {
                    station.intake.receive(scan);
                    observed.note();
                    scanEnds << int(observed.states.size() - 1);
                }
                states = observed.states;
            }

            QTemporaryDir dir;
            QProcess station;
            station.start(child, {dir.path(), QString::number(seed)});
            QVERIFY(station.waitForStarted());
            QByteArray out;
            const QByteArray mark = "scan " + QByteArray::number(killAfter) + "\n";
            while (!out.contains(mark) && station.state() == QProcess::Running) {
                station.waitForReadyRead(5000);
                out += station.readAllStandardOutput();
            }
            station.kill();
            QVERIFY(station.waitForFinished(5000));
            out += station.readAllStandardOutput();

            const QList<QByteArray> lines = out.trimmed().split('\n');
            const int reported = lines.last().mid(5).toInt(); // "scan N"
            QVERIFY(reported >= killAfter);
            const int from = reported == 0 ? 0 : scanEnds[reported - 1];
            const int to = reported < scanEnds.size() ? scanEnds[reported] : from;
            const QString restored = describe(BoxJournal::load(dir.path()));
            const QStringList allowed = states.mid(from, to - from + 1);
            QVERIFY2(allowed.contains(restored),
                     qPrintable(QStringLiteral("run %1, killed after scan %2: journal holds %3; scan %2 ended with %4")
                                    .arg(run).arg(reported).arg(restored, states[from])));
        }
    }

    void killedDuringExportsEveryPackIsOnce()
    {
        // Real workbooks this time; the child dies at a step of a file replace. After
        // Start's look at the workbook, every listed pack is in exactly one workbook row
        // or in the box offered back, never in both, never in neither.
        const QString child = qEnvironmentVariable("ZANTREL_BUILD_DIR") + "/tests/box_journal_child";
        program::setClock(journalscript::clock);
        QRandomGenerator random(20261208);
        int foundWritten = 0;
        for (int run = 0; run < 32; ++run) {
            const quint32 seed = random.generate();
            // 5 steps for the journal's first write, then 5 for each workbook and 5 for each journal rewrite.
            const int box = int(random.bounded(10));
            const int step = run < 6 ? 5 : int(random.bounded(1, 11)); // 5: just after the workbook's rename
            const int killAt = 5 + 10 * box + step;

            // Every pack listed so far, written or open, after each scan of the script.
            QList<QStringList> listedAfter{{}};
            {
                journalscript::Station station;
                for (const QString &scan : journalscript::scans(seed)) {
                    station.intake.receive(scan);
                    QStringList packs;
                    for (const RecordingExport::Rows &written : station.exports.boxes)
                        for (const QStringList &row : written)
                            if (!row[2].isEmpty())
                                packs << row[2];
                    for (const BoxRow &row : station.box.rows())
                        if (row.kind == BoxRow::Pack)
                            packs << row.text;
                    listedAfter << packs;
                }
            }

            QTemporaryDir dir;
            program::setFolder(dir.path());
            QProcess station;
            station.start(child, {dir.path(), QString::number(seed), QString::number(killAt)});
            QVERIFY(station.waitForFinished(30000));
            const QList<QByteArray> lines = station.readAllStandardOutput().trimmed().split('\n');
            const int reported = lines.last().startsWith("scan ") ? lines.last().mid(5).toInt() : 0;

            RecordingMessages messages;
            xls::NativeWorkbookFile file;
            DailyWorkbookExport daily(file);
            const startchecks::KeptBox kept = startchecks::offerKeptBox(dir.path(), 7, daily, nullptr, messages);
            QVERIFY(kept.goOn);
            foundWritten += messages.texts.filter(QStringLiteral("无需重新写入")).size();
            QStringList packs;
            const QString book = dir.path() + "/files/20261207.xls";
            if (QFile::exists(book))
                for (const QString &cell : xls::readFirstSheetColumn(book, 2))
                    if (!cell.isEmpty())
                        packs << cell;
            if (kept.box)
                for (const BoxRow &row : kept.box->rows)
                    if (row.kind == BoxRow::Pack)
                        packs << row.text;
            const bool asBefore = packs == listedAfter[reported];
            const bool asAfter = reported < journalscript::kScans && packs == listedAfter[reported + 1];
            QVERIFY2(asBefore || asAfter,
                     qPrintable(QStringLiteral("run %1, killed at step %2 after scan %3: %4 packs on file, %5 listed")
                                    .arg(run).arg(killAt).arg(reported).arg(packs.size()).arg(listedAfter[reported].size())));
        }
        program::setClock(nullptr);
        QVERIFY(foundWritten > 0);
    }

    void aBoxSavedByNotContinuingIsNotOfferedAgain()
    {
        // The state a power cut left between 不继续's workbook and the journal's rewrite:
        // the box in both. Start says where it is, asks nothing, and the journal forgets it.
        QTemporaryDir dir;
        program::setFolder(dir.path());
        program::setClock(journalscript::clock);
        journalscript::Station station;
        BoxJournal journal(dir.path());
        journal.startWith({}, false, 1, 1);
        station.box.setLog(&journal);
        for (const char *pack : {"A00001\r\n", "A00002\r\n"})
            station.intake.receive(QString::fromLatin1(pack));
        xls::NativeWorkbookFile file;
        DailyWorkbookExport daily(file);
        Box copy;
        copy.restore(station.box.rows(), false);
        const QString saved = daily.keepUnfinished(copy);

        RecordingMessages messages;
        const startchecks::KeptBox kept = startchecks::offerKeptBox(dir.path(), 7, daily, nullptr, messages);
        QVERIFY(kept.goOn && !kept.box);
        QVERIFY(messages.questions.isEmpty());
        QCOMPARE(messages.texts.size(), 1);
        QVERIFY2(messages.texts[0].contains(QStringLiteral("已保存到 files/") + QFileInfo(saved).fileName()), qPrintable(messages.texts[0]));
        QVERIFY(!BoxJournal::load(dir.path())->holdsUnwrittenPacks());
        QCOMPARE(BoxJournal::load(dir.path())->middleNo, std::optional<int32_t>(2)); // the numbers stay as they stood

        // Another box is offered as ever, with that workbook there.
        journalscript::Station next;
        BoxJournal again(dir.path());
        again.startWith({}, false, 1, 1);
        next.box.setLog(&again);
        next.intake.receive(QStringLiteral("A00001\r\n"));
        RecordingMessages asked;
        asked.answers = QStringList{QStringLiteral("继续")};
        QVERIFY(startchecks::offerKeptBox(dir.path(), 7, daily, nullptr, asked).box);
        QCOMPARE(asked.questions.size(), 1);
        program::setClock(nullptr);
    }

    void aShortBoxIsWrittenOnceAcrossAKillAtEveryStep()
    {
        // F8's close is on disk before the export begins: wherever the station dies,
        // the next Start either finds the short box in the workbook or offers it back
        // waiting for its export, which then writes it; never twice, never not at all.
        const QString child = qEnvironmentVariable("ZANTREL_BUILD_DIR") + "/tests/box_journal_child";
        program::setClock(journalscript::clock);
        const QStringList shortBox{"S00001", "S00002", "S00003", "S00004"};
        // 5 steps for the journal's first write, 5 for the workbook, 5 for the journal's rewrite.
        for (int killAt = 1; killAt <= 16; ++killAt) {
            QTemporaryDir dir;
            program::setFolder(dir.path());
            QProcess station;
            station.start(child, {dir.path(), "1", QString::number(killAt), "short"});
            QVERIFY(station.waitForFinished(30000));
            const bool closed = station.readAllStandardOutput().contains("closed");

            RecordingMessages messages;
            xls::NativeWorkbookFile file;
            DailyWorkbookExport daily(file);
            const startchecks::KeptBox kept = startchecks::offerKeptBox(dir.path(), 7, daily, nullptr, messages);
            QVERIFY(kept.goOn);
            if (kept.box) {
                // 继续: the kept box as the scan window puts it back, written at once when it waits.
                journalscript::Station again;
                BarcodeIntake intake(again.state, again.box, messages, daily);
                again.box.restore(kept.box->rows, kept.box->exportPending, kept.box->job, kept.box->target);
                intake.exportIfFull();
            }
            QStringList written;
            const QString book = dir.path() + "/files/20261207.xls";
            if (QFile::exists(book))
                for (const QString &cell : xls::readFirstSheetColumn(book, 2))
                    if (!cell.isEmpty())
                        written << cell;
            const QString said = QStringLiteral("killed at step %1: %2 in the workbook").arg(killAt).arg(written.join(' '));
            if (killAt <= 5) {
                QVERIFY2(written.isEmpty() && !kept.box, qPrintable(said)); // before any scan
                continue;
            }
            QVERIFY2(written == shortBox, qPrintable(said));
            QVERIFY2(xls::readFirstSheetColumn(book, 0).filter(QStringLiteral("W")).size() == 1, qPrintable(said)); // one outer box
            // Run to its end, the child had begun the next box: it is offered back, not written.
            if (closed && killAt == 16)
                QVERIFY2(kept.box && kept.box->packs() == 2 && !kept.box->exportPending, qPrintable(said));
        }
        program::setClock(nullptr);
    }
};

QTEST_MAIN(TestBoxJournal)
#include "tst_box_journal.moc"
