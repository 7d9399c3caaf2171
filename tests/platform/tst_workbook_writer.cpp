#include "WorkbookReaders.h"

#include "core/RuntimeError.h"
#include "platform/xls/BiffWorkbookWriter.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "support/OleContainer.h"
#include "platform/xls/SharedStrings.h"

#include <QFile>
#include <QTemporaryDir>

using namespace xls;

namespace {

void writeBook(const QString &path, const Workbook &book)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(compoundDocument(workbookStream(book)));
}

Cell text(const QString &t)
{
    Cell c;
    c.kind = Cell::Text;
    c.text = t;
    return c;
}

Cell number(double v)
{
    Cell c;
    c.kind = Cell::Number;
    c.number = v;
    return c;
}

} // namespace

class TestWorkbookWriter : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    void stringsOfEveryShapeSurviveBothReaders()
    {
        // Long strings cross the 8,224-byte record limit: Latin-1 ones, Chinese ones,
        // and ones with surrogate pairs placed at every possible split position.
        Workbook book;
        book.sheets.resize(2);
        book.sheets[0].name = QStringLiteral("装箱");
        book.sheets[1].name = QStringLiteral("Numbers");
        QStringList expected;
        for (int i = 0; i < 400; ++i) {
            QString s;
            switch (i % 4) {
            case 0: s = QStringLiteral("L%1-").arg(i) + QString(i * 7 % 300, QLatin1Char('x')); break;
            case 1: s = QStringLiteral("中箱%1").arg(i) + QString(i % 50, QChar(0x4E2D)); break;
            case 2: s = QString(i % 13, QLatin1Char('a')) + QString::fromUcs4(U"\U0001F4E6") + QString::number(i); break;
            default: s = QStringLiteral("Ä€%1").arg(i); break;
            }
            book.sheets[0].set(i, i % 3, text(s));
            QStringList cells(i % 3 + 1);
            cells[i % 3] = s;
            expected << joinRow(cells);
        }
        // The longest texts a cell may hold, each continued into a further record.
        book.sheets[0].set(400, 0, text(QString(kMaxCellText, QChar(0x6587))));
        book.sheets[0].set(401, 0, text(QString(kMaxCellText, QLatin1Char('z'))));
        expected << QString(kMaxCellText, QChar(0x6587)) << QString(kMaxCellText, QLatin1Char('z'));
        book.sheets[1].set(0, 0, number(42));
        book.sheets[1].set(0, 4, number(-2.5));
        book.sheets[1].set(2, 1, text(QStringLiteral("x")));
        writeBook(path("shapes.xls"), book);

        const BookRows rows = readBoth(path("shapes.xls"));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].name, QStringLiteral("装箱"));
        QCOMPARE(rows[0].rows, expected);
        QCOMPARE(rows[1].rows, QStringList({"42||||-2.5", "", "|x"}));
    }

    void emptyWorkbookAndBlankCells()
    {
        writeBook(path("empty.xls"), Workbook{});
        const BookRows rows = readBoth(path("empty.xls"));
        QCOMPARE(rows.size(), 1);
        QVERIFY(rows[0].rows.isEmpty());

        // A row of only blank cells at the end still counts as used after a re-read.
        Workbook book;
        book.sheets.resize(1);
        book.sheets[0].set(0, 0, text(QStringLiteral("a")));
        Cell blank;
        blank.kind = Cell::Blank;
        book.sheets[0].set(3, 2, blank);
        writeBook(path("blank.xls"), book);
        NativeWorkbookFile sheet;
        QCOMPARE(sheet.open(path("blank.xls")), WorkbookFile::Opened::Existing);
        QCOMPARE(sheet.lastUsedRow(), 4);
        QCOMPARE(sheet.open(path("absent.xls")), WorkbookFile::Opened::DoesNotExist);
        const XlrdView view = readWithXlrd(path("blank.xls"));
        QCOMPARE(view.kinds[0][3][2], 6);
    }

    void overlongTextsAreRefused()
    {
        NativeWorkbookFile sheet;
        sheet.create(path("long.xls"));
        sheet.appendRows({{QString(kMaxCellText, QLatin1Char('x')), QString(), QString()}});
        sheet.replaceFile();
        QCOMPARE(readBoth(path("long.xls")).value(0).rows.value(1).size(), kMaxCellText);
        QCOMPARE(sheet.open(path("long.xls")), WorkbookFile::Opened::Existing);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, sheet.appendRows({{QString(kMaxCellText + 1, QLatin1Char('x')), QString(), QString()}}));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, sheet.appendRows(std::vector<WorkbookFile::Row>(65535)));
    }

    void unreadableFilesAreRefused()
    {
        QFile junk(path("junk.xls"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        static const char kZip[] = "PK\x03\x04 this is a zip, not a workbook";
        junk.write(kZip, sizeof kZip - 1);
        junk.close();
        QVERIFY_THROWS_EXCEPTION(RuntimeError, readWorkbook(path("junk.xls")));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, readWorkbook(path("absent.xls")));
    }
};

QTEST_GUILESS_MAIN(TestWorkbookWriter)
#include "tst_workbook_writer.moc"
