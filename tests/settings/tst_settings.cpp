#include "core/RuntimeError.h"
#include "platform/FaultSeam.h"
#include "platform/AtomicFile.h"
#include "platform/ProfileFile.h"
#include "platform/RegularFile.h"
#include "settings/modINI.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <unistd.h>

using namespace modINI;

namespace {
QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QString read(const QString &section, const QString &key, const QString &file)
{
    return ReadIniValue(section, key, file, QString(), 65536);
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString folder() const { return m_dir.path(); }
    QString spelled(const char *name) const { return folder() + "\\" + QString::fromLatin1(name); }
    QString onDisk() const { return folder() + "/config.ini"; }

private slots:
    void cleanup()
    {
        faultseam::setForTests(nullptr);
        QDir dir(folder());
        for (const QString &f : dir.entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile::setPermissions(dir.filePath(f), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QFileInfo(dir.filePath(f)).isDir() ? QDir(dir.filePath(f)).removeRecursively() : dir.remove(f);
        }
    }

    void roundTripsWithTheStoreConventions()
    {
        const QString file = spelled("config.ini");
        WriteIniValue("length", "wlen", file, "13", "");
        QCOMPARE(readBytes(onDisk()), QByteArray("[length]\r\nwlen=13;\r\n"));
        QCOMPARE(read("length", "wlen", file), QStringLiteral("13"));

        WriteIniValue("text", "two", file, "line1\r\nline2\r\n", "");
        QVERIFY(readBytes(onDisk()).contains("two=line1<S:BR>line2<S:BR>;"));
        QCOMPARE(read("text", "two", file), QStringLiteral("line1\r\nline2\r\n"));

        WriteIniValue("text", "semi", file, "a;b", "note");
        QCOMPARE(read("text", "semi", file), QStringLiteral("a"));
        WriteIniValue("text", "han", file, "中箱", "");
        QCOMPARE(read("text", "han", file), QStringLiteral("中箱"));

        // Two keys of one section, written one after the other, both stay.
        WriteIniValue("length", "zlen", file, "4", "");
        QCOMPARE(read("length", "wlen", file), QStringLiteral("13"));
        QCOMPARE(read("length", "zlen", file), QStringLiteral("4"));
        QVERIFY(readBytes(onDisk()).startsWith("[length]\r\nwlen=13;\r\nzlen=4;\r\n[text]"));
    }

    void handEditedEntries()
    {
        writeBytes(onDisk(), "[length]\nnlen=13\nzlen=;starts with semicolon\nwlen=\n"
                             "[com]\nComPort1 = \" 3 \" \n");
        const QString file = spelled("config.ini");
        QCOMPARE(read("length", "nlen", file), QStringLiteral("13"));
        QCOMPARE(ReadIniValue("length", "zlen", file, "dflt", 65536), QStringLiteral("dflt"));
        QCOMPARE(ReadIniValue("length", "wlen", file, "dflt", 65536), QStringLiteral("dflt"));
        QCOMPARE(ReadIniValue("length", "missing", file, "dflt", 65536), QStringLiteral("dflt"));
        QCOMPARE(ReadIniValue("nosection", "nlen", file, "dflt", 65536), QStringLiteral("dflt"));
        QCOMPARE(read("com", "ComPort1", file), QStringLiteral(" 3 ")); // quotes keep inner blanks
        QCOMPARE(ReadIniValue("length", "nlen", file, "", 2), QStringLiteral("1")); // buffer - 1 characters
    }

    void missingFileIsCreatedByTheFirstWrite()
    {
        const QString file = spelled("config.ini");
        QCOMPARE(ReadIniValue("length", "nlen", file, "d", 65536), QStringLiteral("d"));
        QVERIFY(!QFile::exists(onDisk()));
        WriteIniValue("length", "wlen", file, "6", "");
        WriteIniValue("cf", "cf", file, "0", "");
        QCOMPARE(read("length", "wlen", file), QStringLiteral("6"));
        QCOMPARE(read("cf", "cf", file), QStringLiteral("0"));
        // A folder that does not exist: the failure reaches the caller.
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 WriteIniValue("length", "wlen", folder() + "/nowhere\\config.ini", "6", ""));
    }

    void allSpellingsReachOneFile()
    {
        WriteIniValue("com", "ComPort1", folder() + "\\" + "config.ini", "2", "");
        QCOMPARE(read("com", "ComPort1", folder() + "\\CONFIG.ini"), QStringLiteral("2"));
        WriteIniValue("cf", "cf", folder() + "\\CONFIG.ini", "0", "");
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{"config.ini"});

        // A name on disk in another case is found by every spelling.
        QFile::rename(onDisk(), folder() + "/Config.INI");
        QCOMPARE(read("cf", "cf", folder() + "\\config.ini"), QStringLiteral("0"));
        WriteIniValue("cf", "cf", folder() + "\\CONFIG.ini", "1", "");
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{"Config.INI"});

        // Several names differing by case: the one named exactly config.ini wins.
        writeBytes(onDisk(), "[cf]\r\ncf=exact;\r\n");
        QCOMPARE(read("cf", "cf", folder() + "\\CONFIG.ini"), QStringLiteral("exact"));
    }

    void profileRules()
    {
        const QByteArray original = "; top comment\r\nstray=before any section\r\n"
                                    "  [ Length ]  \r\n"
                                    "; comment inside\r\n"
                                    "   NLEN   =   15;   \r\n"
                                    "nlen=99;\r\n"
                                    "no equals sign here\r\n"
                                    "\r\n"
                                    "[LENGTH]\r\nwlen=77;\r\n"
                                    "[com]\rComPort1='4'\r"
                                    "[tail]\nlast=1;";
        writeBytes(onDisk(), original);
        const QString file = spelled("CONFIG.ini");
        QCOMPARE(read("length", "nlen", file), QStringLiteral("15"));     // case, blanks, first duplicate
        QCOMPARE(read("length", "wlen", file), QString());                // only the first section is searched
        QCOMPARE(read("length", "no equals sign here", file), QString()); // not an entry
        QCOMPARE(read("length", "stray", file), QString());
        QCOMPARE(read("com", "comport1", file), QStringLiteral("4"));     // CR line ends, quotes
        QCOMPARE(read("tail", "last", file), QStringLiteral("1"));        // LF and no final line end

        // Replacing one entry keeps every other byte, and the stored spelling of the key.
        WriteIniValue("length", "nlen", file, "16", "");
        QByteArray expected = original;
        expected.replace("   NLEN   =   15;   \r\n", "NLEN=16;\r\n");
        QCOMPARE(readBytes(onDisk()), expected);

        // A new key goes after the section's last entry, before its blank line.
        WriteIniValue("length", "zlen", file, "3", "");
        expected.replace("nlen=99;\r\nno equals", "nlen=99;\r\nzlen=3;\r\nno equals");
        QCOMPARE(readBytes(onDisk()), expected);

        // A new section goes at the end, after a line end is given to the last line.
        WriteIniValue("waittime", "stime", file, "50", "");
        expected += "\r\n[waittime]\r\nstime=50;\r\n";
        QCOMPARE(readBytes(onDisk()), expected);
    }

    void fileExistsTest()
    {
        QVERIFY(!FileExists("", 0));
        QVERIFY(!FileExists(folder() + "/absent.xls", 0));
        QDir(folder()).mkdir("afolder");
        QVERIFY(!FileExists(folder() + "/afolder", 0));
        QVERIFY(FileExists(folder() + "/afolder", 16));
        writeBytes(folder() + "/.hidden", "x");
        QVERIFY(!FileExists(folder() + "/.hidden", 0));
        writeBytes(folder() + "/20261207.xls", "x");
        QVERIFY(FileExists(folder() + "\\20261207.xls", 0));
        QVERIFY(FileExists(folder() + "/*.XLS", 0));
        QVERIFY(FileExists(folder() + "/2026120?.xls", 0));
        QVERIFY(!FileExists(folder() + "/*.ini", 0));
        QVERIFY(!FileExists(folder() + "/no/such/folder/*.xls", 0));
        QVERIFY(!FileExists(QString(QChar(0)), 0));
    }

    void interruptedWriteLeavesTheOldFile_data()
    {
        QTest::addColumn<int>("step");
        QTest::newRow("no temporary file") << int(faultseam::Point::CreateTemporary);
        QTest::newRow("write fails") << int(faultseam::Point::Write);
        QTest::newRow("fsync fails") << int(faultseam::Point::SyncFile);
        QTest::newRow("before the rename") << int(faultseam::Point::Rename);
    }
    void interruptedWriteLeavesTheOldFile()
    {
        QFETCH(int, step);
        const QByteArray original = "[length]\r\nwlen=5;\r\nzlen=3;\r\n";
        writeBytes(onDisk(), original);
        faultseam::setForTests([step](faultseam::Point s, const QString &) { return int(s) == step ? EIO : 0; });
        QVERIFY_THROWS_EXCEPTION(RuntimeError, WriteIniValue("length", "wlen", spelled("config.ini"), "6", ""));
        QCOMPARE(readBytes(onDisk()), original);
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList{"config.ini"});
    }

    void folderSyncFailureAfterTheRenameIsNotAFailedWrite()
    {
        writeBytes(onDisk(), "[length]\r\nwlen=5;\r\n");
        faultseam::setForTests([](faultseam::Point s, const QString &) { return s == faultseam::Point::SyncFolder ? EIO : 0; });
        WriteIniValue("length", "wlen", spelled("config.ini"), "6", "");
        QCOMPARE(read("length", "wlen", spelled("config.ini")), QStringLiteral("6"));
    }

    void readOnlyFolder()
    {
        // The temporary file cannot be made where the folder is read-only (made to fail
        // as the system would, also for root, who writes into read-only folders).
        const QByteArray original = "[length]\r\nwlen=5;\r\n";
        writeBytes(onDisk(), original);
        faultseam::setForTests([](faultseam::Point s, const QString &) { return s == faultseam::Point::CreateTemporary ? EACCES : 0; });
        try {
            WriteIniValue("length", "wlen", spelled("config.ini"), "6", "");
            QFAIL("the write must fail");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(QStringLiteral("没有权限")), qPrintable(e.description()));
        }
        faultseam::setForTests(nullptr);
        QCOMPARE(readBytes(onDisk()), original);
        // And what cannot be read is not replaced.
        faultseam::setForTests([](faultseam::Point p, const QString &) { return p == faultseam::Point::Open ? EACCES : 0; });
        QVERIFY_THROWS_EXCEPTION(RuntimeError, WriteIniValue("length", "wlen", spelled("config.ini"), "6", ""));
        faultseam::setForTests(nullptr);
        QCOMPARE(readBytes(onDisk()), original);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
