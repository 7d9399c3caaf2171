#include "platform/ProgramEnvironment.h"
#include "settings/ConfigFile.h"
#include "settings/StationSettings.h"
#include "settings/modINI.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kMark("\xEF\xBB\xBF");

} // namespace

class TestStationSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    void writeConfig(const QByteArray &bytes)
    {
        QFile f(m_dir.path() + "/config.ini");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray config() const
    {
        QFile f(m_dir.path() + "/config.ini");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init() { program::setFolder(m_dir.path()); }

    void byteOrderMarkIsSkippedOnReadAndKeptOnWrite()
    {
        writeConfig(kMark + "[length]\r\nnlen=8;\r\nzlen=4;\r\nwlen=5;\r\n[com]\r\nComPort1=2;\r\n[cf]\r\ncf=0;\r\n"
                            "[waittime]\r\nstime=60;\r\n");
        const settings::ScanSettings scan = settings::readScanSettings();
        QVERIFY(scan.problems.isEmpty());
        QCOMPARE(scan.innerLen, std::optional<int16_t>(8));
        QCOMPARE(scan.port, std::optional<int32_t>(2));
        const settings::DigitSettings digits = settings::readDigitSettings();
        QCOMPARE(digits.outerDigits, int16_t(5));
        QCOMPARE(digits.middleDigits, int16_t(4));

        modINI::WriteIniValue("length", "wlen", config::path(), "6", "");
        const QByteArray after = config();
        QVERIFY(after.startsWith(kMark + "[length]\r\nnlen=8;\r\nzlen=4;\r\nwlen=6;\r\n"));
        QCOMPARE(after.count("[length]"), 1);
    }

    void valuesThatWouldStallTheStationAreTold_data()
    {
        QTest::addColumn<QByteArray>("nlen");
        QTest::addColumn<QByteArray>("stime");
        QTest::addColumn<QString>("told");
        QTest::newRow("no room for a barcode") << QByteArray("2") << QByteArray("60") << "[length] nlen = \"2\"";
        QTest::newRow("only the terminator") << QByteArray("1") << QByteArray("60") << "[length] nlen = \"1\"";
        QTest::newRow("ten minutes a scan") << QByteArray("8") << QByteArray("600000") << "[waittime] stime = \"600000\"";
        QTest::newRow("negative wait") << QByteArray("8") << QByteArray("-1") << "[waittime] stime = \"-1\"";
        QTest::newRow("not a number") << QByteArray("eight") << QByteArray("60") << "[length] nlen = \"eight\"";
    }

    void valuesThatWouldStallTheStationAreTold()
    {
        QFETCH(QByteArray, nlen);
        QFETCH(QByteArray, stime);
        QFETCH(QString, told);
        writeConfig("[length]\nnlen=" + nlen + ";\n[com]\nComPort1=1;\n[waittime]\nstime=" + stime + ";\n");
        const settings::ScanSettings scan = settings::readScanSettings();
        QCOMPARE(scan.problems.size(), 1);
        QVERIFY2(scan.problems[0].startsWith(told), qPrintable(scan.problems[0]));
        QVERIFY(!scan.scanningPossible());
    }

    void limitsAndRoundingAreKept()
    {
        // A fraction rounds half to even before the range is judged: 2.5 is 2 (refused), 3.5 is 4.
        writeConfig("[length]\nnlen=3.5;\n[com]\nComPort1=1;\n[waittime]\nstime=10000;\n");
        settings::ScanSettings scan = settings::readScanSettings();
        QVERIFY(scan.problems.isEmpty());
        QCOMPARE(scan.innerLen, std::optional<int16_t>(4));
        QVERIFY(scan.scanningPossible());
        writeConfig("[length]\nnlen=2.5;\n[com]\nComPort1=1;\n[waittime]\nstime=0;\n");
        scan = settings::readScanSettings();
        QCOMPARE(scan.problems.size(), 1);
        QVERIFY(scan.stimeUsable);
    }

    void missingDigitCountsShowTheWidthTheLabelsUse()
    {
        QFile::remove(m_dir.path() + "/config.ini");
        const settings::DigitSettings digits = settings::readDigitSettings();
        QCOMPARE(digits.outerShown, QStringLiteral("3"));
        QCOMPARE(digits.middleShown, QStringLiteral("3"));
        QCOMPARE(digits.problems.size(), 2);
    }
};

QTEST_MAIN(TestStationSettings)
#include "tst_station_settings.moc"
