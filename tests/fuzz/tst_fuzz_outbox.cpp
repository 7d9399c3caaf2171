#include "FileBytes.h"
#include "Mutator.h"

#include "core/RuntimeError.h"
#include "plant/Outbox.h"
#include "plant/ToldConflicts.h"

#include <QTemporaryDir>
#include <QTest>

class TestFuzzOutbox : public QObject
{
    Q_OBJECT
private slots:
    void mutatedOutboxesAreReadWholeOrToldAndKept()
    {
        QTemporaryDir dir;
        Outbox outbox(dir.path());
        for (int n = 0; n < 3; ++n) {
            Outbox::Entry e;
            e.id = QUuid::createUuidV5(QUuid(), QString::number(n));
            e.station = QStringLiteral("line3 \\x");
            e.workbook = QStringLiteral("20261207.xls");
            e.firstRow = 2 + 7 * n;
            e.writtenAt = QDateTime(QDate(2026, 12, 7), QTime(10, n, 0), Qt::UTC);
            // One box of a batch (its number ends the job line), the others of none.
            e.job = PackingJob{2, 4, 3, 3, QStringLiteral("Z"), {}, QStringLiteral("W"), {}, n == 1 ? QStringLiteral("B 24") : QString()};
            if (n == 2) { // a box of a station whose operators log in
                e.writtenBy = QStringLiteral("P002");
                e.operators = {QStringLiteral("P001"), QStringLiteral("P002")};
            }
            e.rows = {{BoxRow::OuterLabel, QStringLiteral("W00%1").arg(n)}, {BoxRow::Pack, QStringLiteral("A\x01%1").arg(n)},
                      {BoxRow::Pack, QStringLiteral("(01)09501101530003(21)%1").arg(n), {{"01", "09501101530003"}, {"21", QString::number(n)}}}};
            outbox.add(e);
        }
        const QByteArray base = bytesOf(outbox.path());
        Mutator m(8122026);
        int refused = 0;
        for (int n = 0; n < 3000; ++n) {
            const QByteArray bytes = m.mutate(base);
            writeBytes(outbox.path(), bytes);
            std::vector<Outbox::Entry> read;
            try {
                read = outbox.pending();
            } catch (const RuntimeError &) {
                ++refused;
                // What cannot be read is never written over.
                QVERIFY_THROWS_EXCEPTION(RuntimeError, outbox.remove({}));
                QCOMPARE(bytesOf(outbox.path()), bytes);
                continue;
            }
            for (const Outbox::Entry &e : read)
                QVERIFY2(!e.id.isNull() && e.firstRow >= 1 && e.writtenAt.isValid(),
                         qPrintable(QStringLiteral("case %1").arg(n)));
            // Rewritten, it reads back the same boxes.
            outbox.remove({});
            QVERIFY2(outbox.pending() == read, qPrintable(QStringLiteral("case %1: %2").arg(n).arg(QString::fromLatin1(bytes.toPercentEncoding()))));
        }
        QVERIFY(refused > 0 && refused < 3000);
    }

    void mutatedListsOfToldConflictsAreReadAndKept()
    {
        QTemporaryDir dir;
        ToldConflicts told(dir.path());
        const QStringList keys{QStringLiteral("6f1c3a52-1d3e-4d0a-9c51-0b1a2c3d4e5f 0b8f1f8e-2f7c-4d27-8f55-3d8a7f0c1a11 A 1\\x"),
                               QStringLiteral("k2 k3 \U00020000\n")};
        told.add(keys);
        QCOMPARE(told.read(), QSet<QString>(keys.begin(), keys.end()));
        const QString path = dir.filePath(ToldConflicts::fileName());
        const QByteArray base = bytesOf(path);
        Mutator m(12082026);
        for (int n = 0; n < 3000; ++n) {
            const QByteArray bytes = m.mutate(base);
            writeBytes(path, bytes);
            // Whatever is there: read without a failure, every key one line's, the file as it was.
            const QSet<QString> read = told.read();
            QVERIFY(read.size() <= bytes.count('\n'));
            QCOMPARE(bytesOf(path), bytes);
        }
    }
};

QTEST_GUILESS_MAIN(TestFuzzOutbox)
#include "tst_fuzz_outbox.moc"
