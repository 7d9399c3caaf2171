#include "platform/AtomicFile.h"
#include "platform/InstanceLock.h"
#include "platform/RegularFile.h"
#include "support/PowerCut.h"

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

    void aNewFolderOutlivesAPowerCutOnceAFileInItDid()
    {
        // The state the power-cut test showed at a new station: files/ made, the day's
        // workbook in it and synced, the journal told the box was written, and then a cut
        // kept the journal's rename but not the new folder. A file in place in a new folder
        // must be there after any cut, its folders with it.
        QTemporaryDir dir;
        PowerCut disk(dir.path());
        QCOMPARE(regularfile::makeFolders(dir.path() + "/files/2026"), QString());
        replaceFileAtomically(dir.path() + "/files/2026/book.xls", "box");
        disk.note(QStringLiteral("in place"));
        replaceFileAtomically(dir.path() + "/open-box.txt", "empty");
        disk.stop();

        PowerCutReplay replay(disk);
        int states = 0;
        while (replay.next()) {
            if (replay.notes().isEmpty())
                continue;
            QRandomGenerator random(1);
            for (const PowerCutReplay::Choice &c : replay.states(1000, random)) {
                QTemporaryDir state;
                replay.write(c, state.path());
                ++states;
                QFile book(state.path() + "/files/2026/book.xls");
                QVERIFY2(book.open(QIODevice::ReadOnly) && book.readAll() == "box",
                         qPrintable(QStringLiteral("cut %1 after %2").arg(replay.cut()).arg(replay.lastChange())));
            }
        }
        QVERIFY(states >= 4); // the journal's replace: before it, during it, after it
    }
};

QTEST_MAIN(TestProgramFolder)
#include "tst_program_folder.moc"
