#include "platform/AtomicFile.h"
#include "platform/InstanceLock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/wait.h>
#include <unistd.h>

class TestProgramFolder : public QObject
{
    Q_OBJECT
private slots:
    void oneStationPerFolder()
    {
        QTemporaryDir dir, other;
        QVERIFY(instance::lockProgramFolder(dir.path()));
        // Another process sees the folder taken; another folder is free.
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(instance::lockProgramFolder(dir.path()) ? 1 : instance::lockProgramFolder(other.path()) ? 0 : 2);
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        // A second lock inside one process is refused too (a second open file).
        QVERIFY(!instance::lockProgramFolder(dir.path()));
    }

    void theLockLeavesNothingToRemove()
    {
        // A link named like an old lock file, pointing nowhere: locking must not create its target.
        QTemporaryDir dir;
        QVERIFY(QFile::link(dir.filePath("gone/target"), dir.filePath("zantrel.lock")));
        QVERIFY(QDir(dir.path()).mkdir("gone"));
        QVERIFY(instance::lockProgramFolder(dir.path()));
        QVERIFY(!QFile::exists(dir.filePath("gone/target")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden), QStringList({"zantrel.lock"}));
        // Whatever is removed from the folder, a second station is still refused.
        QVERIFY(QFile::remove(dir.filePath("zantrel.lock")));
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(instance::lockProgramFolder(dir.path()) ? 1 : 0);
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void onlyTheStationsOwnLeftoversGo()
    {
        QTemporaryDir dir;
        const QStringList leftovers = {"config.ini.tmp-a1B2c3", "open-box.txt.tmp-ZZZZZZ", "20261207.xls.tmp-000000"};
        const QStringList kept = {"config.ini", "notes.txt.tmp-a1B2c3", "config.ini.tmp-toolong7", "config.ini.tmp-ab",
                                  "report.xls.tmp", "20261207.xls"};
        for (const QString &name : leftovers + kept) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QCOMPARE(removeLeftoverTemporaries(dir.path(), {"config.ini", "open-box.txt"}), 2);
        QCOMPARE(removeLeftoverTemporaries(dir.path(), {"*.xls"}), 1);
        QStringList left = QDir(dir.path()).entryList(QDir::Files);
        left.sort();
        QStringList expected = kept;
        expected.sort();
        QCOMPARE(left, expected);
    }
};

QTEST_MAIN(TestProgramFolder)
#include "tst_program_folder.moc"
