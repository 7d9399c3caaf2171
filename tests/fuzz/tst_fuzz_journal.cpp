#include "Mutator.h"
#include "../station/Fakes.h"

#include "core/RuntimeError.h"
#include "platform/ProgramEnvironment.h"
#include "packing/Box.h"
#include "station/BoxJournal.h"
#include "station/StartChecks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A journal with every kind of line, as a station writes it mid-box.
const QByteArray kBase = "# Zantrel\nbatch 240117 L1 09501101530003 L24 271231  1000 2 6\nnumbers 4 2\njob 2 6 3 3 Z  W \\\\x 240117\nbegin\noperator P001\nouter W001\nmiddle Z001\npack A\\x01B\n"
                         "numbers 2 2\nend\npack (01)09501101530003(21)A2\ngs1 01 09501101530003 21 A2\nbegin\npack A3\nmiddle Z002\nnumbers 3 2\nend\npack A4\nremove\n"
                         "pending 1\nexport 14 files/20261207.xls\n";

// What a loaded journal must be, or it should have been refused.
bool possible(const BoxJournal::Saved &saved, QString &why)
{
    int64_t packs = 0;
    for (const BoxRow &row : saved.rows)
        packs += row.kind == BoxRow::Pack;
    if (packs > INT16_MAX || (saved.job && packs > saved.job->iPerOuter))
        why = QStringLiteral("%1 packs").arg(packs);
    else if (!saved.rows.empty() && saved.rows.front().kind != BoxRow::OuterLabel)
        why = QStringLiteral("first row not an outer label");
    else if (packs > 0 && (!saved.middleNo || !saved.outerNo || *saved.middleNo == INT32_MAX || *saved.outerNo == INT32_MAX))
        why = QStringLiteral("numbers that cannot go on");
    return why.isEmpty();
}

} // namespace

class TestFuzzJournal : public QObject
{
    Q_OBJECT
private slots:
    void mutatedJournalsAreLoadedWholeOrSetAside()
    {
        QTemporaryDir dir;
        program::setFolder(dir.path());
        program::setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(10, 0)); });
        const QString path = dir.path() + "/" + BoxJournal::fileName();
        Mutator m(20261207);
        int refused = 0;
        for (int n = 0; n < 3000; ++n) {
            QByteArray bytes = m.mutate(kBase);
            if (m.chance(10))
                bytes = m.mutate(bytes);
            {
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
                f.write(bytes);
            }
            std::optional<BoxJournal::Saved> saved;
            try {
                saved = BoxJournal::load(dir.path());
            } catch (const RuntimeError &) {
                ++refused;
            }
            QString why;
            if (saved) {
                QVERIFY2(possible(*saved, why), qPrintable(QStringLiteral("case %1: %2 in %3").arg(n).arg(why, QString::fromLatin1(bytes.toPercentEncoding()))));
                Box box;
                box.restore(saved->rows, saved->exportPending, saved->job, saved->target);
            }
            // Start either offers it, counts it as written, or sets the file aside: never lost.
            RecordingMessages messages;
            messages.answers = QStringList{QStringLiteral("继续")};
            RecordingExport exports;
            const startchecks::KeptBox kept = startchecks::offerKeptBox(dir.path(), 6, exports, nullptr, messages);
            if (!saved) {
                const QStringList aside = QDir(dir.path()).entryList({"open-box.damaged-*.txt"});
                QCOMPARE(aside.size(), 1);
                QFile f(dir.filePath(aside[0]));
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(f.readAll(), bytes);
                QVERIFY(QFile::remove(dir.filePath(aside[0])));
            } else if (saved->holdsUnwrittenPacks() && kept.goOn) {
                QVERIFY(kept.box);
            }
            QFile::remove(path);
        }
        QVERIFY(refused > 0 && refused < 3000);
        program::setClock(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestFuzzJournal)
#include "tst_fuzz_journal.moc"
