#include "Mutator.h"

#include "core/RuntimeError.h"
#include "platform/ProgramEnvironment.h"
#include "settings/ConfigFile.h"
#include "settings/StationSettings.h"
#include "settings/modINI.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kBase = "\xEF\xBB\xBF; station settings\r\n[length]\r\nnlen=8;\r\nzlen=3;\r\nwlen=3;\r\n"
                         "[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\n[waittime]\r\nstime=60;\r\n";

// The lines as the profile reader splits them: CR LF, LF and CR all end a line.
QList<QByteArray> linesOf(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        lines << bytes.mid(start, i - start);
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines << bytes.mid(start);
    return lines;
}

// Hand edits of the kinds people make, besides the blind byte mutations.
QByteArray edited(Mutator &m)
{
    QByteArray b = kBase;
    switch (m.below(6)) {
    case 0:
        b.insert(qsizetype(m.below(quint32(b.size()))), QByteArray(qsizetype(m.below(70000)), 'x'));
        break;
    case 1:
        b.replace("\r\n", m.chance(50) ? "\n" : "\r");
        break;
    case 2:
        b += "[length]\r\nnlen=99;\r\n[LENGTH]\r\nwlen=9\r\n";
        break;
    case 3:
        b.insert(qsizetype(m.below(quint32(b.size()))), QByteArray(qsizetype(1 + m.below(8)), '\0'));
        break;
    case 4:
        b = b.mid(3); // without the byte-order mark
        break;
    default:
        b.insert(qsizetype(m.below(quint32(b.size()))), "\xEF\xBB\xBF[=]\r\n;=\r\n=\r\n[");
        break;
    }
    return m.chance(50) ? m.mutate(b) : b;
}

// How many lines the two keep in common, in order (longest common subsequence).
qsizetype commonLines(const QList<QByteArray> &a, const QList<QByteArray> &b)
{
    std::vector<qsizetype> row(size_t(b.size() + 1), 0), next(row.size(), 0);
    for (qsizetype i = a.size() - 1; i >= 0; --i) {
        for (qsizetype j = b.size() - 1; j >= 0; --j)
            next[size_t(j)] = a[i] == b[j] ? row[size_t(j + 1)] + 1 : std::max(row[size_t(j)], next[size_t(j + 1)]);
        std::swap(row, next);
    }
    return row[0];
}

} // namespace

class TestFuzzProfile : public QObject
{
    Q_OBJECT
private slots:
    void mutatedConfigFilesAreReadAndWrittenSafely()
    {
        QTemporaryDir dir;
        program::setFolder(dir.path());
        const QString path = dir.path() + "/config.ini";
        Mutator m(20261207);
        // A fixed number of cases, whatever the machine's speed.
        constexpr int kCases = 1500;
        int cases = 0;
        for (; cases < kCases; ++cases) {
            const QByteArray before = m.chance(5) ? QByteArray() : m.chance(20) ? m.mutate(kBase) : edited(m);
            {
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
                f.write(before);
            }
            // Reading never fails, whatever the file holds.
            const settings::ScanSettings scan = settings::readScanSettings();
            const settings::DigitSettings digits = settings::readDigitSettings();
            Q_UNUSED(scan);
            Q_UNUSED(digits);

            // A write keeps every line it did not change, and reads back.
            modINI::WriteIniValue("length", "wlen", config::path(), "7", QString());
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray after = f.readAll();
            QVERIFY2(modINI::ReadIniValue("length", "wlen", config::path(), QString(), config::kReadBuffer) == "7",
                     qPrintable(QStringLiteral("case %1: %2").arg(cases).arg(QString::fromLatin1(before.left(200).toPercentEncoding()))));
            const QList<QByteArray> old = linesOf(before), now = linesOf(after);
            const qsizetype missing = old.size() - commonLines(old, now);
            QVERIFY2(missing <= 1, qPrintable(QStringLiteral("case %1 lost %2 lines").arg(cases).arg(missing)));
        }
        qInfo("%d config files", cases);
    }
};

QTEST_GUILESS_MAIN(TestFuzzProfile)
#include "tst_fuzz_profile.moc"
