#include "FileBytes.h"
#include "../platform/WorkbookReaders.h"
#include "Fakes.h"

#include "packing/PackingState.h"
#include "platform/ProgramEnvironment.h"
#include "packing/Box.h"
#include "platform/xls/BiffWorkbookWriter.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "support/OleContainer.h"
#include "station/BarcodeIntake.h"
#include "station/DailyWorkbookExport.h"
#include "station/files/DayIndex.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QDateTime kMorning(QDate(2026, 12, 7), QTime(9, 30));

xls::Cell textCell(const QString &t)
{
    xls::Cell c;
    c.kind = xls::Cell::Text;
    c.text = t;
    return c;
}

xls::Cell numberCell(double v)
{
    xls::Cell c;
    c.kind = xls::Cell::Number;
    c.number = v;
    return c;
}

void writeBook(const QString &path, const xls::Workbook &book)
{
    writeBytes(path, xls::compoundDocument(xls::workbookStream(book)));
}

// A station with the real export and the real workbook file.
struct Station
{
    explicit Station(int perMiddle = 2, int perOuter = 4)
    {
        state.iInnerLen = 8;
        state.iPerMiddle = int16_t(perMiddle);
        state.iPerOuter = int16_t(perOuter);
        state.sMiddlePrefix = "Z";
        state.sOuterPrefix = "W";
        state.iMiddleDigits = state.iOuterDigits = 3;
        state.lMiddleNo = state.lOuterNo = 1;
        intake.sCfMode = "0";
    }
    void scan(const QString &barcode) { intake.receive(barcode + "\r\n"); }
    void box(int first)
    {
        for (int i = 0; i < state.iPerOuter; ++i)
            scan(QStringLiteral("A%1").arg(first + i, 5, 10, QLatin1Char('0')));
    }

    PackingState state;
    Box openBox;
    RecordingMessages messages;
    xls::NativeWorkbookFile file;
    DailyWorkbookExport daily{file};
    BarcodeIntake intake{state, openBox, messages, daily};
};

} // namespace

class TestExport : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    QString folder() const { return m_dir->path(); }
    QString workbook(const char *day = "20261207") const
    {
        return folder() + "/files/" + QString::fromLatin1(day) + ".xls";
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        program::setFolder(folder());
        program::setClock([] { return kMorning; });
        QDir(folder()).mkdir("files");
    }
    void cleanup() { program::setClock(nullptr); }

    void boxesAppendBelowEachOther()
    {
        Station st(2, 4); // 7 rows a box: W, Z, b, b, Z, b, b
        st.scan("000123");
        st.scan("A00002");
        st.scan("A00003");
        QVERIFY(!QFile::exists(workbook()));
        st.scan("A00004");
        QCOMPARE(st.openBox.rowCount(), 0);
        QCOMPARE(int(st.intake.iInnerCount()), 0);

        const QStringList first = {"", "W001", "|Z001", "||000123", "||A00002", "|Z002", "||A00003", "||A00004"};
        QCOMPARE(readBoth(workbook()).value(0).rows, first);
        const XlrdView view = readWithXlrd(workbook());
        QCOMPARE(view.kinds[0].size(), 8);
        for (int r = 1; r < 8; ++r) {
            QCOMPARE(view.kinds[0][r].size(), 3); // 21 cells written ...
            for (int c = 0; c < 3; ++c)
                QCOMPARE(view.kinds[0][r][c], view.rows[0].rows[r].split('|').value(c).isEmpty() ? 6 : 1);
        }
        QCOMPARE(view.kinds[0][3][2], 1); // 000123 is text
        QVERIFY(view.widths[0].value(2) >= 7 * 256);

        st.box(5);
        QStringList both = first;
        both << "W002" << "|Z003" << "||A00005" << "||A00006" << "|Z004" << "||A00007" << "||A00008";
        QCOMPARE(readBoth(workbook()).value(0).rows, both);

        // A person saved the file meanwhile: it is read again, nothing of theirs is lost.
        xls::Workbook edited = xls::readWorkbook(workbook());
        edited.sheets[0].set(20, 4, numberCell(7));
        writeBook(workbook(), edited);
        st.box(9);
        const QStringList rows = readBoth(workbook()).value(0).rows;
        QCOMPARE(rows.value(20), QStringLiteral("||||7"));
        QCOMPARE(rows.value(21), QStringLiteral("W003"));
    }

    void dayBoundaryAndSingleRow()
    {
        Station st(1, 1);
        program::setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(0, 0, 5)); });
        st.scan("A00001");
        QVERIFY(QFile::exists(workbook("20261208")));
        QVERIFY(!QFile::exists(workbook()));

        // A list of one row writes nothing at all.
        Box one;
        one.appendOuterLabel("W009");
        st.daily.exportBox(one, {});
        QCOMPARE(readBoth(workbook("20261208")).value(0).rows.size(), 4);
        QDir(folder() + "/files").removeRecursively();
        st.daily.exportBox(one, {});
        QVERIFY(!QDir(folder() + "/files").exists());

        // A missing files folder is made.
        st.scan("A00002");
        QCOMPARE(readBoth(workbook("20261208")).value(0).rows, QStringList({"", "W002", "|Z002", "||A00002"}));
    }

    void otherSheetsAndNumbersAreKept()
    {
        xls::Workbook book;
        book.sheets.resize(2);
        book.sheets[0].name = QStringLiteral("装箱记录");
        book.sheets[0].set(0, 0, textCell(QStringLiteral("标题")));
        book.sheets[0].set(1, 3, numberCell(3.25));
        book.sheets[1].name = QStringLiteral("Other");
        for (int r = 0; r < 40; ++r) // more rows than the first sheet: the first sheet still decides
            book.sheets[1].set(r, 1, numberCell(r));
        // A person left the second sheet active.
        std::string stream = xls::workbookStream(book);
        const size_t window1 = stream.find(std::string("\x3d\x00\x12\x00", 4));
        QVERIFY(window1 != std::string::npos);
        stream[window1 + 4 + 10] = 1;
        writeBytes(workbook(), xls::compoundDocument(stream));

        Station st(4, 2);
        st.box(1);
        const BookRows rows = readBoth(workbook());
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].name, QStringLiteral("装箱记录"));
        QCOMPARE(rows[0].rows, QStringList({"标题", "|||3.25", "W001", "|Z001", "||A00001", "||A00002"}));
        QCOMPARE(rows[1].name, QStringLiteral("Other"));
        QCOMPARE(rows[1].rows.size(), 40);
        QCOMPARE(rows[1].rows[39], QStringLiteral("|39"));
    }

    void unreadableOrFullWorkbooksAreNeverReplaced_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("damaged") << 0;
        QTest::newRow("xlsx renamed") << 1;
    }
    void unreadableOrFullWorkbooksAreNeverReplaced()
    {
        QFETCH(int, kind);
        if (kind == 0) {
            writeBytes(workbook(), QByteArray(3000, '\x5a'));
        } else if (kind == 1) {
            writeBytes(workbook(), QByteArray("PK\x03\x04\x14\0\0\0\x08\0", 10) + QByteArray(600, 'x'));
        }
        const QByteArray before = bytesOf(workbook());

        Station st(1, 2);
        st.scan("A00001");
        try {
            st.scan("A00002");
            QFAIL("the export should fail");
        } catch (const RuntimeError &e) {
            QVERIFY(e.description().contains(QDir::toNativeSeparators(workbook())));
            QVERIFY(e.description().contains(QStringLiteral("仍在清单中")));
            QCOMPARE(e.kind(), RuntimeError::Kind::Workbook);
        }
        QCOMPARE(bytesOf(workbook()), before);
        QCOMPARE(st.openBox.rowCount(), 5);
        QCOMPARE(int(st.intake.iInnerCount()), 2);
        QCOMPARE(QDir(folder() + "/files").entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void aUsedRangeTooSmallIsPutRight()
    {
        // FreeXL refuses this one: a cell lies outside the used range the sheet declares.
        xls::Workbook book;
        book.sheets.resize(1);
        book.sheets[0].set(5, 6, textCell("x"));
        std::string stream = xls::workbookStream(book);
        const size_t dims = stream.find(std::string("\x00\x02\x0e\x00", 4));
        QVERIFY(dims != std::string::npos);
        stream[dims + 8] = 1;  // the used range ends at row 1
        stream[dims + 14] = 1; // and at column A
        writeBytes(workbook(), xls::compoundDocument(stream));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, xls::readWorkbook(workbook()));

        Station st(1, 1);
        st.scan("A00001");
        QCOMPARE(readBoth(workbook()).value(0).rows,
                 QStringList({"", "", "", "", "", "||||||x", "W001", "|Z001", "||A00001"}));
    }

    void aFullDayContinuesInTheNextWorkbook()
    {
        xls::Workbook book;
        book.sheets.resize(1);
        book.sheets[0].set(65533, 2, textCell("last")); // 65,534 rows used: 5 more do not fit
        writeBook(workbook(), book);
        const QByteArray before = bytesOf(workbook());

        Station st(1, 2);
        for (int i = 1; i <= 6; ++i)
            st.scan(QStringLiteral("A%1").arg(i, 5, 10, QLatin1Char('0')));
        QCOMPARE(st.openBox.rowCount(), 0);
        QCOMPARE(bytesOf(workbook()), before);
        const QString second = folder() + "/files/20261207-2.xls";
        QStringList expected = {""};
        for (int box = 1; box <= 3; ++box)
            expected << QStringLiteral("W00%1").arg(box) << QStringLiteral("|Z00%1").arg(2 * box - 1)
                     << QStringLiteral("||A0000%1").arg(2 * box - 1) << QStringLiteral("|Z00%1").arg(2 * box)
                     << QStringLiteral("||A0000%1").arg(2 * box);
        QCOMPARE(readBoth(second).value(0).rows, expected);
        // Told once, with the new workbook's name.
        QCOMPARE(st.messages.texts.size(), 1);
        QVERIFY(st.messages.texts[0].contains(QStringLiteral("files/20261207-2.xls")));
        QVERIFY(st.messages.texts[0].contains(QStringLiteral("files/20261207.xls")));
        QCOMPARE(st.intake.lastExport()->workbook, second);
        QCOMPARE(st.intake.lastExport()->firstRow, 12);
    }

    void aFolderCopiedFromWindowsIsUsedWhateverItsCase()
    {
        // Files\20261207.XLS, as Windows may have named them: the box joins that workbook.
        QDir(folder()).rmdir("files");
        QDir(folder()).mkdir("Files");
        const QString upper = folder() + "/Files/20261207.XLS";
        {
            Station earlier(2, 2);
            earlier.box(1);
        }
        QVERIFY(QFile::exists(upper) || QFile::rename(folder() + "/Files/20261207.xls", upper));
        Station st(2, 2);
        st.box(10);
        QVERIFY(!QDir(folder() + "/files").exists());
        QCOMPARE(QDir(folder() + "/Files").entryList(QDir::Files), QStringList{"20261207.XLS"});
        QCOMPARE(readBoth(upper).value(0).rows.size(), 9);
        QCOMPARE(st.intake.lastExport()->workbook, upper);
    }

    void aRepeatIsLookedForInTheWholeDayWhenAsked()
    {
        // A box written by an earlier run, in a continuation workbook of the day.
        {
            Station earlier(2, 2);
            earlier.box(1);
        }
        QFile::rename(workbook(), folder() + "/set-aside.xls");
        {
            Station first(2, 2);
            first.box(10);
        }
        QFile::rename(folder() + "/set-aside.xls", folder() + "/files/20261207-2.xls");

        Station wide(2, 2);
        DayIndex index;
        index.load(folder(), QDate(2026, 12, 7));
        QCOMPARE(index.size(), 4);
        wide.intake.checkWholeDay(&index);
        wide.state.lOuterNo = 7;
        wide.scan("A00011"); // in 20261207.xls, the first box of this folder's day
        QCOMPARE(wide.messages.texts.size(), 1);
        QCOMPARE(wide.messages.texts[0],
                 QStringLiteral("该内包条码重复！\n已在外箱 W001（20261207.xls 第 5 行）"));
        wide.scan("A00002"); // in 20261207-2.xls
        QVERIFY(wide.messages.texts[1].contains(QStringLiteral("20261207-2.xls 第 5 行")));
        // Refused as the first pack of a box: no label rows stay, no number moves.
        QCOMPARE(wide.openBox.rowCount(), 0);
        QCOMPARE(wide.state.lOuterNo, 7);
        QCOMPARE(wide.state.lMiddleNo, 1);

        // Boxes this station writes join the index at once.
        wide.box(30);
        QCOMPARE(readBoth(folder() + "/files/20261207-2.xls").value(0).rows.mid(5),
                 QStringList({"W007", "|Z001", "||A00030", "||A00031"}));
        wide.scan("A00031");
        QVERIFY(wide.messages.texts.last().contains(QStringLiteral("已在外箱 W007")));

        // Without scope=day only the current box counts.
        Station boxOnly(2, 2);
        boxOnly.scan("A00011");
        QCOMPARE(boxOnly.openBox.iInnerCount(), int16_t(1));
        QVERIFY(boxOnly.messages.texts.isEmpty());
    }

    void failedExportIsRetriedWithNothingLost()
    {
        Station st(2, 2);
        st.scan("A00001");
        // The files folder cannot be made: a plain file has its name.
        QDir(folder() + "/files").removeRecursively();
        writeBytes(folder() + "/files", "not a folder");
        QVERIFY_THROWS_EXCEPTION(RuntimeError, st.scan("A00002"));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, st.scan("B00001")); // retried, fails again: not added
        QCOMPARE(st.openBox.rowCount(), 4);
        QFile::remove(folder() + "/files");

        st.scan("B00002"); // the retry lands the first box, then this scan starts the second
        QCOMPARE(readBoth(workbook()).value(0).rows, QStringList({"", "W001", "|Z001", "||A00001", "||A00002"}));
        QCOMPARE(st.openBox.cellText(2, 2), QStringLiteral("B00002"));
        st.scan("B00003");
        QCOMPARE(readBoth(workbook()).value(0).rows.mid(5),
                 QStringList({"W002", "|Z002", "||B00002", "||B00003"}));
    }

    void killedExportsLeaveOldOrNewWorkbook()
    {
        // A child appends boxes in a loop and is killed at random moments; the workbook
        // must always open and hold whole boxes only, never fewer than before.
        constexpr int kBoxRows = 7;
        int boxesSeen = 0;
        QRandomGenerator random(12345);
        for (int round = 0; round < 40; ++round) {
            int pipeEnds[2];
            QVERIFY(::pipe(pipeEnds) == 0);
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(pipeEnds[0]);
                Station st(2, 4);
                for (int i = 0;; i += 4) {
                    try {
                        st.box(i);
                    } catch (...) {
                        ::_exit(3);
                    }
                    // Tells each box written; the parent kills it while it works on a later one.
                    if (::write(pipeEnds[1], "b", 1) != 1)
                        ::_exit(4);
                }
            }
            ::close(pipeEnds[1]);
            const int wanted = int(random.bounded(1, 4));
            char told = 0;
            for (int b = 0; b < wanted && ::read(pipeEnds[0], &told, 1) == 1; ++b) {
            }
            ::kill(child, SIGKILL);
            ::close(pipeEnds[0]);
            int status = 0;
            ::waitpid(child, &status, 0);
            QVERIFY2(WIFSIGNALED(status), "the child stopped by itself");
            if (!QFile::exists(workbook()))
                continue;
            const BookRows rows = readBoth(workbook());
            QCOMPARE(rows.size(), 1);
            const int boxes = (rows[0].rows.size() - 1) / kBoxRows;
            QCOMPARE(rows[0].rows.size(), 1 + boxes * kBoxRows);
            QVERIFY(boxes >= boxesSeen);
            for (int b = 0; b < boxes; ++b)
                QVERIFY(rows[0].rows[1 + b * kBoxRows].startsWith('W'));
            boxesSeen = boxes;
        }
        QVERIFY(boxesSeen > 0);
    }
};

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
