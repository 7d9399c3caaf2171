#include "support/ToolRun.h"

#include "platform/xls/NativeWorkbookFile.h"
#include "station/files/PackSearch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

struct Run
{
    int status = -1;
    QStringList lines;
    QString errors;
};

Run find(const QStringList &args)
{
    const ToolRun run = ToolRun::of(QStringLiteral("zantrel-find"), args);
    return {run.status, run.out.split('\n', Qt::SkipEmptyParts), run.errors};
}

void writeBox(const QString &path, const std::vector<WorkbookFile::Row> &rows)
{
    xls::NativeWorkbookFile file;
    if (file.open(path) == WorkbookFile::Opened::DoesNotExist)
        file.create(path);
    file.appendRows(rows);
    file.replaceFile();
}

} // namespace

class TestPackSearch : public QObject
{
    Q_OBJECT
private slots:
    void whichBoxHoldsAPack()
    {
        QTemporaryDir folder;
        QDir(folder.path()).mkdir("files");
        const QString files = folder.path() + "/files/";
        writeBox(files + "20261207.xls", {{"W001", "", ""}, {"", "Z001", ""}, {"", "", "A00001"}, {"", "", "A00002"},
                                          {"", "Z002", ""}, {"", "", "A00003"}});
        writeBox(files + "20261207.xls", {{"W002", "", ""}, {"", "Z003", ""}, {"", "", "B00001"}});
        // A workbook LibreOffice saved, with a box the station added to it.
        QFile::copy(qEnvironmentVariable("ZANTREL_SOURCE_DIR") + "/tests/data/supervisor-libreoffice.xls",
                    files + "20261206.xls");
        QFile::setPermissions(files + "20261206.xls", QFile::ReadOwner | QFile::WriteOwner);
        writeBox(files + "20261206.xls", {{"W900", "", ""}, {"", "Z900", ""}, {"", "", "A00002"}});
        QFile junk(files + "damaged.xls");
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(3000, 'z'));
        junk.close();

        Run run = find({"--folder", folder.path(), "A00002", "A00003"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.lines, QStringList({"20261206.xls\t6\tW900\tZ900\tA00002", "20261207.xls\t5\tW001\tZ001\tA00002",
                                         "20261207.xls\t7\tW001\tZ002\tA00003"}));
        QVERIFY(run.errors.contains(QStringLiteral("damaged.xls：")));

        run = find({"--folder", folder.path(), "--box", "W002"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.lines, QStringList{"20261207.xls\t10\tW002\tZ003\tB00001"});

        // Not found, but a workbook was skipped: the pack may be in it.
        run = find({"--folder", folder.path(), "C99999"});
        QCOMPARE(run.status, 3);
        QVERIFY(run.errors.contains(QStringLiteral("1 个工作簿无法读取")));
        QVERIFY(QFile::remove(files + "damaged.xls"));
        QCOMPARE(find({"--folder", folder.path(), "C99999"}).status, 1);
        QCOMPARE(find({"--folder", folder.path()}).status, 2);
        QCOMPARE(find({"--folder", folder.path(), "--box", "W1", "A1"}).status, 2);

        // What a careless person or an attacker could name *.xls: each told, none waited for.
        QVERIFY(::mkfifo(QFile::encodeName(files + "pipe.xls").constData(), 0644) == 0);
        QVERIFY(QFile::link("/dev/zero", files + "zero.xls"));
        QVERIFY(QFile::link("/dev/urandom", files + "random.xls"));
        QVERIFY(QFile::link(files + "loop-b.xls", files + "loop-a.xls"));
        QVERIFY(QFile::link(files + "loop-a.xls", files + "loop-b.xls"));
        QVERIFY(QDir(files).mkdir("folder.xls"));
        run = find({"--folder", folder.path(), "C99999"});
        QCOMPARE(run.status, 3);
        for (const QString &told : {QStringLiteral("pipe.xls：是管道"), QStringLiteral("zero.xls：是设备"),
                                    QStringLiteral("random.xls：是设备"), QStringLiteral("loop-a.xls：符号链接层数过多"),
                                    QStringLiteral("folder.xls：是文件夹")})
            QVERIFY2(run.errors.contains(told), qPrintable(run.errors));
        run = find({"--folder", folder.path(), "A00003"});
        QCOMPARE(run.status, 0); // found in what could be read

        run = find({"--folder", folder.path() + "/nowhere", "A00001"});
        QCOMPARE(run.status, 2);
        QVERIFY(run.errors.contains(QStringLiteral("找不到文件夹")));
    }
};

QTEST_GUILESS_MAIN(TestPackSearch)
#include "tst_pack_search.moc"
