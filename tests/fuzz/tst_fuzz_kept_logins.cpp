#include "Mutator.h"

#include "core/RuntimeError.h"
#include "station/files/KeptLogins.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// operators.txt as hands and crashes leave it: every read gives lines that read whole (or
// none), and keeping a login never replaces a file that could not be read.
class TestFuzzKeptLogins : public QObject
{
    Q_OBJECT
private slots:
    void mutatedFilesAreReadOrLeftAlone()
    {
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath(keptlogins::fileName());
        const QDateTime at(QDate(2026, 12, 10), QTime(11, 0), Qt::UTC);
        keptlogins::keep(dir.path(), {"P001", "李 包装", "packer", at, "$argon2id$v=19$m=19456,t=2,p=1$c2FsdA$aGFzaA"});
        keptlogins::keep(dir.path(), {"P002", "王\\包装", "qa", at.addSecs(60), "$argon2id$v=19$m=19456,t=2,p=1$c2FsdB$aGFzaB"});
        QFile base(path);
        QVERIFY(base.open(QIODevice::ReadOnly));
        const QByteArray kBase = base.readAll();
        base.close();
        QCOMPARE(keptlogins::read(dir.path()).size(), size_t(2));
        QCOMPARE(keptlogins::read(dir.path())[0].name, QStringLiteral("李 包装"));

        Mutator m(10122026);
        int kept = 0, leftAlone = 0;
        for (int n = 0; n < 3000; ++n) {
            const QByteArray bytes = m.chance(3) ? QByteArray(5 << 20, 'x') : m.mutate(kBase);
            {
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
                f.write(bytes);
            }
            for (const keptlogins::Kept &k : keptlogins::read(dir.path())) {
                QVERIFY(!k.id.isEmpty() && !k.name.isEmpty() && !k.role.isEmpty());
                QVERIFY(k.at.isValid());
                QVERIFY(k.verifier.startsWith(QLatin1String("$argon2id$")));
            }
            try {
                keptlogins::keep(dir.path(), {"P003", "赵", "packer", at, "$argon2id$v=19$m=1,t=1,p=1$x$y"});
                ++kept;
                bool found = false;
                for (const keptlogins::Kept &k : keptlogins::read(dir.path()))
                    found = found || k.id == QLatin1String("P003");
                QVERIFY(found);
            } catch (const RuntimeError &) {
                // Not read, so not replaced: the bytes are as they were.
                QFile f(path);
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(f.readAll(), bytes);
                ++leftAlone;
            }
        }
        QVERIFY(kept > 0);
        QVERIFY(leftAlone > 0); // the oversized ones
    }
};

QTEST_MAIN(TestFuzzKeptLogins)
#include "tst_fuzz_kept_logins.moc"
