#include "FileBytes.h"
#include "Impostors.h"

#include "core/RuntimeError.h"
#include "platform/RegularFile.h"
#include "plant/Outbox.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <thread>

namespace {

Outbox::Entry entry(int n, const QString &barcode = QString())
{
    Outbox::Entry e;
    e.id = QUuid::createUuid();
    e.station = QStringLiteral("line 3 \\ a \U00020000");
    e.workbook = QStringLiteral("20261207 copy.xls");
    e.firstRow = 2 + 7 * n;
    e.writtenAt = QDateTime(QDate(2026, 12, 7), QTime(10, 0, n % 60), Qt::UTC);
    PackingJob job;
    job.iPerMiddle = 2;
    job.iPerOuter = 4;
    job.iMiddleDigits = job.iOuterDigits = 3;
    job.sMiddlePrefix = QStringLiteral("Z ");
    e.job = job;
    e.rows = {{BoxRow::OuterLabel, QStringLiteral("W%1").arg(n)},
              {BoxRow::MiddleLabel, QStringLiteral("Z %1").arg(n)},
              {BoxRow::Pack, barcode.isEmpty() ? QStringLiteral("P%1").arg(n) : barcode}};
    return e;
}

} // namespace

class TestOutbox : public QObject
{
    Q_OBJECT
private slots:
    void boxesWaitInOrderAndLeaveWhenDelivered()
    {
        QTemporaryDir dir;
        Outbox outbox(dir.path());
        QVERIFY(outbox.pending().empty());
        const Outbox::Entry first = entry(1, QStringLiteral("A'1\"; DROP TABLE x; --\\\x01 é \U00020000"));
        const Outbox::Entry second = entry(2);
        const Outbox::Entry third = entry(3);
        outbox.add(first);
        outbox.add(second);
        outbox.add(third);
        QCOMPARE(outbox.pending(), (std::vector<Outbox::Entry>{first, second, third}));

        outbox.remove({second.id});
        QCOMPARE(outbox.pending(), (std::vector<Outbox::Entry>{first, third}));
        // A box delivered twice (a crash before the outbox was compacted) is simply gone.
        outbox.remove({second.id, first.id});
        QCOMPARE(outbox.pending(), std::vector<Outbox::Entry>{third});
        outbox.add(second);
        QCOMPARE(outbox.pending(), (std::vector<Outbox::Entry>{third, second}));
    }

    void aTornBoxIsSkippedADamagedFileIsTold()
    {
        QTemporaryDir dir;
        Outbox outbox(dir.path());
        const Outbox::Entry first = entry(1);
        outbox.add(first);
        outbox.add(entry(2));
        QByteArray bytes = bytesOf(outbox.path());
        // Killed while the second box was going out: any cut inside it leaves the first whole.
        const qsizetype secondStart = bytes.indexOf("box ", 10);
        for (qsizetype cut = secondStart; cut < bytes.size() - 1; cut += 7) {
            writeBytes(outbox.path(), bytes.left(cut));
            QCOMPARE(outbox.pending(), std::vector<Outbox::Entry>{first});
        }
        // The next run's first box does not grow on the torn one, wherever it was cut.
        const Outbox::Entry third = entry(3);
        for (qsizetype cut : {secondStart + 5, secondStart + 60, bytes.size() - 2}) {
            writeBytes(outbox.path(), bytes.left(cut));
            Outbox nextRun(dir.path());
            nextRun.add(third);
            QCOMPARE(nextRun.pending(), (std::vector<Outbox::Entry>{first, third}));
        }
        writeBytes(outbox.path(), bytes.left(secondStart) + "pack A1\nend\n");
        try {
            outbox.pending();
            QFAIL("a line outside a box must be told");
        } catch (const RuntimeError &e) {
            QVERIFY(e.description().contains(QStringLiteral("第 %1 行").arg(bytes.left(secondStart).count('\n') + 1)));
            QCOMPARE(e.kind(), RuntimeError::Kind::Outbox);
        }
        // Nothing is written over what could not be read.
        const QByteArray damaged = bytesOf(outbox.path());
        QVERIFY_THROWS_EXCEPTION(RuntimeError, outbox.remove({first.id}));
        QCOMPARE(bytesOf(outbox.path()), damaged);
        // At start it is set aside whole, and a new outbox begins.
        const QString aside = outbox.setAsideIfDamaged();
        QVERIFY(aside.startsWith(QStringLiteral("outbox.damaged-")));
        QCOMPARE(bytesOf(dir.filePath(aside)), damaged);
        QVERIFY(outbox.pending().empty());
        QCOMPARE(outbox.setAsideIfDamaged(), QString());
    }

    void anOutboxChangedUnderTheStationIsSetAside()
    {
        QTemporaryDir dir;
        Outbox outbox(dir.path());
        const QString path = outbox.path();
        auto asides = [&] { return QDir(dir.path()).entryList({QStringLiteral("outbox.damaged-*")}, QDir::Files | QDir::System); };
        std::vector<Outbox::Entry> e;
        for (int n = 0; n <= 6; ++n)
            e.push_back(entry(n));
        outbox.add(e[1]);
        outbox.add(e[2]);
        QVERIFY(outbox.takeChanges().isEmpty());

        // Cut by a person in the middle of its last box.
        const QByteArray whole = bytesOf(path);
        writeBytes(path, whole.left(whole.size() - 9));
        outbox.add(e[3]);
        QStringList changes = outbox.takeChanges();
        QCOMPARE(changes.size(), 1);
        QVERIFY2(changes[0].contains(QStringLiteral("已改名为 outbox.damaged-")), qPrintable(changes[0]));
        QCOMPARE(outbox.pending(), std::vector<Outbox::Entry>{e[3]});
        QCOMPARE(bytesOf(dir.filePath(asides().value(0))), whole.left(whole.size() - 9)); // kept as it was found
        QFile::remove(dir.filePath(asides().value(0)));

        // A pipe put in its place: refused at once, never waited on, and set aside too.
        QVERIFY(QFile::remove(path));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        outbox.add(e[4]);
        QCOMPARE(outbox.takeChanges().size(), 1);
        QCOMPARE(outbox.pending(), std::vector<Outbox::Entry>{e[4]});
        QVERIFY(QFileInfo(dir.filePath(asides().value(0))).exists());

        // Moved away: the next box starts a fresh file, and that is told.
        QVERIFY(QFile::rename(path, dir.filePath("elsewhere.txt")));
        outbox.add(e[5]);
        changes = outbox.takeChanges();
        QCOMPARE(changes.size(), 1);
        QVERIFY(changes[0].contains(QStringLiteral("移走")));
        QCOMPARE(outbox.pending(), std::vector<Outbox::Entry>{e[5]});

        // The station's own compaction is no change.
        outbox.remove({e[5].id});
        outbox.add(e[6]);
        QVERIFY(outbox.takeChanges().isEmpty());
        QCOMPARE(outbox.pending(), std::vector<Outbox::Entry>{e[6]});
    }

    void anOutboxThatIsNoFileIsToldAndKept_data() { impostor::addRows(); }
    void anOutboxThatIsNoFileIsToldAndKept()
    {
        QFETCH(int, kind);
        QFETCH(QString, told);
        QTemporaryDir dir;
        Outbox outbox(dir.path());
        QVERIFY(impostor::make(kind, outbox.path(), regularfile::kOutboxLimit));
        try {
            outbox.pending();
            QFAIL("what is not an outbox must be told");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(Outbox::fileName()) && e.description().contains(told), qPrintable(e.description()));
            QCOMPARE(e.kind(), RuntimeError::Kind::Outbox);
        }
        QVERIFY(impostor::unchanged(kind, outbox.path(), regularfile::kOutboxLimit));
    }

    void theWindowAddsWhileTheSenderRemoves()
    {
        // Boxes added on one thread while another takes out what it has seen: each box
        // is either still waiting or taken out, once.
        QTemporaryDir dir;
        Outbox outbox(dir.path());
        constexpr int kBoxes = 150;
        std::vector<QUuid> added(kBoxes);
        QSet<QUuid> taken;
        std::atomic<bool> done{false};
        std::thread sender([&] {
            while (!done) {
                QSet<QUuid> seen;
                for (const Outbox::Entry &e : outbox.pending())
                    seen.insert(e.id);
                outbox.remove(seen);
                taken += seen;
            }
        });
        for (int i = 0; i < kBoxes; ++i) {
            const Outbox::Entry e = entry(i);
            added[size_t(i)] = e.id;
            outbox.add(e);
        }
        done = true;
        sender.join();
        QSet<QUuid> waiting;
        for (const Outbox::Entry &e : outbox.pending())
            waiting.insert(e.id);
        QVERIFY(!waiting.intersects(taken));
        QCOMPARE(waiting.size() + taken.size(), kBoxes);
        for (const QUuid &id : added)
            QVERIFY(waiting.contains(id) || taken.contains(id));
    }
};

QTEST_GUILESS_MAIN(TestOutbox)
#include "tst_outbox.moc"
