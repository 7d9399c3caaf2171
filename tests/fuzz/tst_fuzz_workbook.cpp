#include "FileBytes.h"
#include "../platform/WorkbookReaders.h"
#include "../platform/WorkbookStructure.h"
#include "Mutator.h"

#include "core/RuntimeError.h"
#include "platform/xls/BiffWorkbookWriter.h"
#include "platform/xls/ColumnReader.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "support/OleContainer.h"

#include <QDir>
#include <glib.h>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace xls;

namespace {

// Record-aware mutations: a record's length, a stream position that a record
// carries, the counts of SST and DIMENSIONS.
QByteArray mutateRecords(Mutator &m, const std::string &stream)
{
    QByteArray b = QByteArray::fromStdString(stream);
    std::vector<qsizetype> starts;
    for (qsizetype at = 0; at + 4 <= b.size();) {
        starts.push_back(at);
        const quint32 length = quint8(b[at + 2]) | (quint32(quint8(b[at + 3])) << 8);
        const quint32 type = quint8(b[at]) | (quint32(quint8(b[at + 1])) << 8);
        if (type == 0 && length == 0)
            break;
        at += 4 + length;
    }
    const qsizetype at = starts[m.below(quint32(starts.size()))];
    const quint32 type = quint8(b[at]) | (quint32(quint8(b[at + 1])) << 8);
    switch (m.below(4)) {
    case 0:
        m.put16(b, at + 2, m.interestingValue());
        break;
    case 1:
        // Fields that hold stream positions or counts sit at the first few offsets.
        m.put32(b, at + 4 + 4 * qsizetype(m.below(5)), m.interestingValue());
        break;
    case 2:
        if (type == 0x00FC || type == 0x0200 || type == 0x020B || type == 0x00FF || type == 0x0085)
            m.put32(b, at + 4 + 4 * qsizetype(m.below(3)), m.interestingValue());
        else
            b = m.mutate(b);
        break;
    default:
        b = m.mutate(b);
        break;
    }
    return b;
}

} // namespace

class TestFuzzWorkbook : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // libgsf complains about every damaged container on stderr; the test judges them itself.
        g_log_set_handler("libgsf:msole", GLogLevelFlags(G_LOG_LEVEL_MASK), [](const gchar *, GLogLevelFlags, const gchar *, gpointer) {}, nullptr);
    }

    void mutatedWorkbooksAreAppendedToOrLeftAlone()
    {
        // Seeds: what office programs saved, and what the station writes.
        std::vector<std::string> seeds;
        for (const char *name : {"supervisor-libreoffice.xls", "supervisor-gnumeric.xls"}) {
            const QString path = qEnvironmentVariable("ZANTREL_SOURCE_DIR") + "/tests/data/" + QLatin1String(name);
            seeds.push_back(compoundOf(path).child("Workbook")->data);
        }
        QTemporaryDir dir;
        {
            const QString own = dir.filePath("own.xls");
            NativeWorkbookFile file;
            file.create(own);
            std::vector<WorkbookFile::Row> rows;
            for (int r = 0; r < 70; ++r)
                rows.push_back({r % 20 == 0 ? QStringLiteral("W%1").arg(r) : QString(), QString(),
                                r % 20 ? QStringLiteral("条码%1").arg(r) : QString()});
            file.appendRows(rows);
            file.replaceFile();
            seeds.push_back(compoundOf(own).child("Workbook")->data);
        }

        // Regression cases kept from earlier runs are tried first.
        QList<QByteArray> kept;
        const QDir regressions(qEnvironmentVariable("ZANTREL_SOURCE_DIR") + "/tests/data/fuzz");
        for (const QString &name : regressions.entryList({"*.xls"}, QDir::Files, QDir::Name))
            kept << bytesOf(regressions.filePath(name));

        const QString path = dir.filePath("20261207.xls");
        // ZANTREL_FUZZ_SEED runs another series by hand; the test run always uses the same one.
        Mutator m(qEnvironmentVariableIsSet("ZANTREL_FUZZ_SEED") ? qEnvironmentVariableIntValue("ZANTREL_FUZZ_SEED") : 7122026);
        // A fixed number of cases: the gate passes or fails the same on a slow machine and a fast one.
        constexpr int kCases = 800;
        int cases = 0, appended = 0, refused = 0;
        for (; cases < kCases; ++cases) {
            QByteArray input;
            if (cases < kept.size()) {
                input = kept[cases];
            } else {
                const std::string &seed = seeds[m.below(quint32(seeds.size()))];
                // Most mutations go to the workbook stream; some to the container itself.
                input = m.chance(85) ? compoundDocument(mutateRecords(m, seed).toStdString())
                                     : m.mutate(compoundDocument(seed));
            }
            writeBytes(path, input);
            try {
                readFirstSheetColumn(path, 0); // the look-up at Start: an answer or a refusal, never a crash
            } catch (const RuntimeError &) {
            }
            // xlrd, a reader nobody here wrote, runs as a separate program: it looks at every 20th case.
            const bool askXlrd = cases % 20 == 0;
            const bool xlrdBefore = askXlrd && !readWithXlrd(path).rows.isEmpty();
            NativeWorkbookFile file;
            try {
                if (file.open(path) == WorkbookFile::Opened::DoesNotExist)
                    QFAIL("the file is there");
                file.appendRows({{QStringLiteral("W9"), QString(), QString()}, {QString(), QStringLiteral("Z9"), QString()},
                                 {QString(), QString(), QStringLiteral("0009")}});
                file.replaceFile();
            } catch (const RuntimeError &e) {
                ++refused;
                QVERIFY2(bytesOf(path) == input, qPrintable(QStringLiteral("case %1 changed a refused file: %2").arg(cases).arg(e.description())));
                continue;
            }
            ++appended;
            // A failing input is kept for a look, and to be added under tests/data/fuzz.
            auto kept = [&](bool ok) {
                if (!ok)
                    writeBytes(QDir::temp().filePath(QStringLiteral("zantrel-fuzz-case-%1.xls").arg(cases)), input);
                return ok;
            };
            const std::string after = compoundOf(path).child("Workbook")->data;
            const QStringList problems = structureProblems(after);
            QVERIFY2(kept(problems.isEmpty()), qPrintable(QStringLiteral("case %1: %2").arg(cases).arg(problems.join("; "))));
            if (xlrdBefore)
                QVERIFY2(kept(!readWithXlrd(path).rows.isEmpty()), qPrintable(QStringLiteral("case %1: xlrd read it before the box, not after").arg(cases)));
        }
        qInfo("%d workbooks: %d appended to, %d refused", cases, appended, refused);
        QVERIFY(appended > 0 && refused > 0);
    }
};

QTEST_GUILESS_MAIN(TestFuzzWorkbook)
#include "tst_fuzz_workbook.moc"
