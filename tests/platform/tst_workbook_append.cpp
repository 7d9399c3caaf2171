#include "FileBytes.h"
#include "Impostors.h"
#include "WorkbookReaders.h"
#include "WorkbookStructure.h"

#include "core/RuntimeError.h"
#include "core/SystemReason.h"
#include "platform/FaultSeam.h"
#include "platform/RegularFile.h"
#include "platform/xls/BiffWorkbookWriter.h"
#include "platform/xls/ColumnReader.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "support/OleContainer.h"
#include "platform/xls/WorkbookData.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using namespace xls;

namespace {

QString fixture(const char *name)
{
    return qEnvironmentVariable("ZANTREL_SOURCE_DIR") + "/tests/data/" + QLatin1String(name);
}

// A box of rows as the station lays them out.
std::vector<WorkbookFile::Row> box(const QString &outer, int packs, int perMiddle = 4)
{
    std::vector<WorkbookFile::Row> rows;
    rows.push_back({outer, QString(), QString()});
    for (int p = 0; p < packs; ++p) {
        if (p % perMiddle == 0)
            rows.push_back({QString(), QStringLiteral("%1-Z%2").arg(outer).arg(p / perMiddle + 1), QString()});
        rows.push_back({QString(), QString(), QStringLiteral("%1-%2").arg(outer).arg(p, 4, 10, QLatin1Char('0'))});
    }
    return rows;
}

QString joined(const WorkbookFile::Row &row)
{
    return joinRow({row[0], row[1], row[2]});
}

// Every stream but the workbook, with its bytes.
std::map<std::string, QByteArray> otherStreams(const CompoundEntry &entry, const std::string &prefix = "")
{
    std::map<std::string, QByteArray> out;
    for (const CompoundEntry &c : entry.children) {
        const std::string name = prefix + "/" + c.name;
        if (c.storage) {
            const auto inner = otherStreams(c, name);
            out.insert(inner.begin(), inner.end());
        } else if (name != "/Workbook") {
            out[name] = QByteArray::fromStdString(c.data);
        }
    }
    return out;
}

} // namespace

class TestWorkbookAppend : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString copyOf(const char *name)
    {
        const QString path = m_dir.filePath(QLatin1String(name));
        QFile::remove(path);
        QFile::copy(fixture(name), path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

private slots:
    void whatPeopleSavedIsKept_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("LibreOffice") << "supervisor-libreoffice.xls";
        QTest::newRow("Gnumeric") << "supervisor-gnumeric.xls";
    }

    void whatPeopleSavedIsKept()
    {
        QFETCH(QString, name);
        const QString path = copyOf(name.toLatin1().constData());
        const CompoundEntry before = compoundOf(path);
        const XlrdView xlrdBefore = readWithXlrd(path);
        QVERIFY(!xlrdBefore.rows.isEmpty());

        NativeWorkbookFile file;
        QCOMPARE(file.open(path), WorkbookFile::Opened::Existing);
        QCOMPARE(file.lastUsedRow(), 3);
        const std::vector<WorkbookFile::Row> rows = box(QStringLiteral("W002"), 40);
        file.appendRows(rows);
        file.replaceFile();

        const CompoundEntry after = compoundOf(path);
        const std::string &oldStream = before.child("Workbook")->data;
        const std::string &newStream = after.child("Workbook")->data;
        QCOMPARE(structureProblems(newStream), QStringList());
        QCOMPARE(lostRecords(oldStream, newStream), QStringList());
        QVERIFY(otherStreams(before) == otherStreams(after));

        // Both readers: the person's cells as they were, the box below them.
        const XlrdView xlrdAfter = readWithXlrd(path);
        QCOMPARE(xlrdAfter.rows.size(), xlrdBefore.rows.size());
        QCOMPARE(xlrdAfter.rows[1], xlrdBefore.rows[1]);
        QCOMPARE(xlrdAfter.rows[0].rows.mid(0, 3), xlrdBefore.rows[0].rows);
        QCOMPARE(xlrdAfter.rows[0].rows.size(), 3 + int(rows.size()));
        for (size_t r = 0; r < rows.size(); ++r) {
            QCOMPARE(xlrdAfter.rows[0].rows[3 + int(r)], joined(rows[r]));
            for (int c = 0; c < 3; ++c)
                QCOMPARE(xlrdAfter.kinds[0][3 + int(r)][c], rows[r][size_t(c)].isEmpty() ? 6 : 1);
        }
        // Widths: the person's wide E stays, A-C are never narrower than they were.
        for (int c = 0; c < 3; ++c)
            QVERIFY(xlrdAfter.widths[0].value(c) >= xlrdBefore.widths[0].value(c));
        QCOMPARE(xlrdAfter.widths[0].value(4), xlrdBefore.widths[0].value(4));
        QCOMPARE(xlrdAfter.widths[0].value(7), xlrdBefore.widths[0].value(7));
        const BookRows freexl = readWithFreeXl(path);
        QCOMPARE(freexl[0].rows.mid(3), xlrdAfter.rows[0].rows.mid(3));

        // And the result takes the next box just as well.
        const std::string once = newStream;
        QCOMPARE(file.open(path), WorkbookFile::Opened::Existing);
        QCOMPARE(file.lastUsedRow(), 3 + int(rows.size()));
        file.appendRows(box(QStringLiteral("W003"), 3));
        file.replaceFile();
        const std::string twice = compoundOf(path).child("Workbook")->data;
        QCOMPARE(structureProblems(twice), QStringList());
        QCOMPARE(lostRecords(once, twice), QStringList());
        QCOMPARE(readWithXlrd(path).rows[0].rows.value(3 + int(rows.size())), QStringLiteral("W003"));
    }

    void aColumnIsReadWithoutFreeXl()
    {
        QCOMPARE(readFirstSheetColumn(fixture("supervisor-libreoffice.xls"), 0),
                 QStringList({QStringLiteral("三号线装箱记录"), QStringLiteral("W001"), QStringLiteral("合计")}));
        QCOMPARE(readFirstSheetColumn(fixture("supervisor-gnumeric.xls"), 4).value(1), QStringLiteral("备注：本箱已检验"));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, readFirstSheetColumn(m_dir.filePath("absent.xls"), 0));
    }

    void theStationsOwnWorkbookTakesBoxAfterBox()
    {
        const QString path = m_dir.filePath("own.xls");
        QFile::remove(path);
        NativeWorkbookFile file;
        QCOMPARE(file.open(path), WorkbookFile::Opened::DoesNotExist);
        file.create(path);
        QCOMPARE(file.lastUsedRow(), 1);
        QStringList expected = {QString()};
        std::string previous;
        // Boxes of many sizes cross the 32-row blocks in every way; long and Chinese
        // texts run the shared strings over record boundaries.
        const int sizes[] = {1, 5, 30, 31, 32, 33, 70, 2, 300};
        for (int b = 0; b < int(std::size(sizes)); ++b) {
            // Now and then the file changes under the station (a person saved it as it
            // was): it is read again, into memory that held an older stream.
            if (b == 4 || b == 7)
                writeBytes(path, bytesOf(path));
            if (b > 0)
                QCOMPARE(file.open(path), WorkbookFile::Opened::Existing);
            std::vector<WorkbookFile::Row> rows = box(QStringLiteral("外箱%1").arg(b), sizes[b]);
            rows.back()[2] = QString(3000 + b, QChar(u'号'));
            file.appendRows(rows);
            file.replaceFile();
            for (const auto &row : rows)
                expected << joined(row);
            const std::string stream = compoundOf(path).child("Workbook")->data;
            QCOMPARE(structureProblems(stream), QStringList());
            if (!previous.empty())
                QCOMPARE(lostRecords(previous, stream), QStringList());
            previous = stream;
        }
        QCOMPARE(readBoth(path).value(0).rows, expected);
        // Never wider than 255 characters.
        QCOMPARE(readWithXlrd(path).widths[0].value(2), 65280);
    }

    // A write that fails half-way (here: beyond the largest file this process may
    // write) is told with the system's reason, and the workbook stays as it was.
    void aWriteThatFailsHalfWayLeavesTheWorkbook()
    {
        const QString path = m_dir.filePath("limited.xls");
        QFile::remove(path);
        NativeWorkbookFile file;
        file.create(path);
        file.appendRows(box(QStringLiteral("W1"), 2000));
        file.replaceFile();
        const QByteArray before = bytesOf(path);
        QCOMPARE(file.open(path), WorkbookFile::Opened::Existing);
        file.appendRows(box(QStringLiteral("W2"), 20));

        rlimit old {};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = old;
        limited.rlim_cur = rlim_t(before.size() / 2);
        ::setrlimit(RLIMIT_FSIZE, &limited);
        QString told;
        try {
            file.replaceFile();
        } catch (const RuntimeError &e) {
            told = e.description();
        }
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY2(told.contains(reason::fromErrno(EFBIG)), qPrintable(told));
        QVERIFY2(told.contains(path), qPrintable(told));
        QCOMPARE(bytesOf(path), before);
        QCOMPARE(QDir(m_dir.path()).entryList({"limited.xls.tmp-*"}), QStringList());
    }

    void aPersonsColumnWidthsAreKept()
    {
        // Column A set wide, B narrow, and a range over C-F: only what the box needs changes.
        Workbook book;
        book.sheets.resize(1);
        book.sheets[0].columnWidths = {9000, 600, 700, 700, 700, 700};
        std::string stream = workbookStream(book);
        // Make C-F one COLINFO range, as office programs write them.
        const std::string colC("\x7d\x00\x0c\x00\x02\x00\x02\x00", 8);
        const size_t at = stream.find(colC);
        QVERIFY(at != std::string::npos);
        stream[at + 6] = 5;                     // colLast = F
        stream.erase(at + 16, 3 * 16);          // drop the COLINFOs of D-F
        const QString path = m_dir.filePath("widths.xls");
        writeBytes(path, compoundDocument(stream));
        const auto before = readWithXlrd(path).widths[0];

        NativeWorkbookFile file;
        QCOMPARE(file.open(path), WorkbookFile::Opened::Existing);
        file.appendRows({{QStringLiteral("W1"), QStringLiteral("Z-0001"), QStringLiteral("BARCODE-000001")}});
        file.replaceFile();
        QCOMPARE(structureProblems(compoundOf(path).child("Workbook")->data), QStringList());
        const auto after = readWithXlrd(path).widths[0];
        QCOMPARE(after.value(0), 9000);
        QVERIFY(after.value(1) > 600);
        QVERIFY(after.value(2) > 700);
        for (int c = 3; c <= 5; ++c)
            QCOMPARE(after.value(c), before.value(c));
    }

    void cellsBeforeAShortUsedRangeAreNotWrittenOver()
    {
        // A careless writer: DIMENSIONS after the cell table, claiming one row where
        // there are five. The box must still go below the last cell, not over them.
        Workbook book;
        book.sheets.resize(1);
        QStringList expected;
        for (int r = 0; r < 5; ++r) {
            book.sheets[0].set(r, 0, {Cell::Text, 0, QStringLiteral("旧%1").arg(r)});
            expected << QStringLiteral("旧%1").arg(r);
        }
        std::string stream = workbookStream(book);
        const BiffLayout layout = walkBiffStream(stream);
        const BiffSubstream &sheet = layout.sheets.at(0);
        long dimensions = -1, lastDbCell = -1, index = -1;
        for (size_t i = sheet.bof; i <= sheet.eof; ++i) {
            const uint16_t type = layout.records[i].type;
            dimensions = type == rec::kDimensions ? long(i) : dimensions;
            lastDbCell = type == rec::kDbCell ? long(i) : lastDbCell;
            index = type == rec::kIndex ? long(i) : index;
        }
        QVERIFY(dimensions >= 0 && lastDbCell > dimensions && index >= 0);
        const BiffRecord dim = layout.records[size_t(dimensions)];
        std::string dimBytes = stream.substr(dim.at, dim.end() - dim.at);
        dimBytes[4 + 4] = 1; // rwMac: one row
        const uint32_t dimSize = uint32_t(dimBytes.size());
        const uint32_t cellTableEnd = layout.records[size_t(lastDbCell)].end();
        const BiffRecord indexRecord = layout.records[size_t(index)];
        std::string moved = stream.substr(0, dim.at) + stream.substr(dim.end(), cellTableEnd - dim.end()) + dimBytes
                            + stream.substr(cellTableEnd);
        // The DBCELLs moved up by DIMENSIONS' size: so do INDEX's positions of them.
        for (uint32_t f = 16; f + 4 <= indexRecord.length; f += 4) {
            const uint32_t at = indexRecord.at + 4 + f;
            const uint32_t old = uint32_t(uint8_t(moved[at])) | uint32_t(uint8_t(moved[at + 1])) << 8
                                 | uint32_t(uint8_t(moved[at + 2])) << 16 | uint32_t(uint8_t(moved[at + 3])) << 24;
            const uint32_t now = old - dimSize;
            for (int k = 0; k < 4; ++k)
                moved[at + uint32_t(k)] = char((now >> (8 * k)) & 0xFF);
        }
        const QString path = m_dir.filePath("short-range.xls");
        writeBytes(path, compoundDocument(moved));

        NativeWorkbookFile file;
        QCOMPARE(file.open(path), WorkbookFile::Opened::Existing);
        QCOMPARE(file.lastUsedRow(), 5);
        file.appendRows({{QStringLiteral("W1"), QString(), QString()}});
        file.replaceFile();
        expected << QStringLiteral("W1");
        // FreeXL and xlrd drop cells that come before DIMENSIONS; our own reader does not.
        QCOMPARE(readFirstSheetColumn(path, 0), expected);
        QCOMPARE(structureProblems(compoundOf(path).child("Workbook")->data), QStringList());
    }

    void whatCannotBeSafelyUpdatedIsRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        Workbook book;
        book.sheets.resize(1);
        const std::string good = workbookStream(book);
        // FILEPASS after the globals' BOF: an encrypted workbook.
        std::string encrypted = good;
        encrypted.insert(20, std::string("\x2f\x00\x02\x00\x00\x00", 6));
        QTest::newRow("encrypted") << compoundDocument(encrypted) << QStringLiteral("加密");
        std::string biff5 = good;
        biff5[4] = 0x00;
        biff5[5] = 0x05;
        QTest::newRow("BIFF5") << compoundDocument(biff5) << QStringLiteral("更早的版本");
        CompoundEntry old;
        old.storage = true;
        CompoundEntry bookStream;
        bookStream.name = "Book";
        bookStream.data = good;
        old.children.push_back(bookStream);
        QTest::newRow("Excel 95 container") << writeCompoundDocument(old) << QStringLiteral("Excel 5/95");
        std::string chartOnly = good;
        const size_t boundSheet = chartOnly.find(std::string("\x85\x00", 2));
        chartOnly[boundSheet + 4 + 5] = 2; // the only sheet is a chart sheet
        QTest::newRow("no worksheet") << compoundDocument(chartOnly) << QStringLiteral("找不到第一个工作表");
        std::string cut = good.substr(0, good.size() - 30);
        QTest::newRow("truncated") << compoundDocument(cut) << QStringLiteral("不完整");
        QTest::newRow("not a workbook") << QByteArray(5000, 'x') << QStringLiteral("不是 Excel 97-2003 工作簿");
    }

    void whatCannotBeSafelyUpdatedIsRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QString path = m_dir.filePath("refused.xls");
        writeBytes(path, bytes);
        NativeWorkbookFile file;
        try {
            file.open(path);
            file.appendRows(box(QStringLiteral("W1"), 2));
            file.replaceFile();
            QFAIL("the workbook should be refused");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(reason), qPrintable(e.description()));
            QVERIFY(e.description().contains(path));
        }
        QCOMPARE(bytesOf(path), bytes);
    }

    void aWorkbookThatIsNoFileIsToldAndKept_data() { impostor::addRows(); }
    void aWorkbookThatIsNoFileIsToldAndKept()
    {
        // Both readers: the appender's and the column reader of the lookups.
        QFETCH(int, kind);
        QFETCH(QString, told);
        QTemporaryDir dir;
        const QString path = dir.filePath("20261207.xls");
        QVERIFY(impostor::make(kind, path, regularfile::kWorkbookLimit));
        NativeWorkbookFile file;
        try {
            file.open(path);
            QFAIL("what is not a workbook file must be told");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(path) && e.description().contains(told), qPrintable(e.description()));
        }
        try {
            readFirstSheetColumns(path, 3);
            QFAIL("what is not a workbook file must be told");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(path) && e.description().contains(told), qPrintable(e.description()));
            QCOMPARE(e.kind(), RuntimeError::Kind::Workbook);
        }
        QVERIFY(impostor::unchanged(kind, path, regularfile::kWorkbookLimit));
    }

    void aMissingFileIsNotAnUnreadableOne()
    {
        QTemporaryDir locked;
        const QString path = locked.filePath("20261207.xls");
        writeBytes(path, compoundDocument(workbookStream(Workbook{})));
        // A folder the station may not read (made to fail as the system would, also for root).
        faultseam::setForTests([](faultseam::Point p, const QString &) { return p == faultseam::Point::Open ? EACCES : 0; });
        NativeWorkbookFile file;
        try {
            file.open(path);
            QFAIL("an unreadable workbook is not a missing one");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(QStringLiteral("没有权限")), qPrintable(e.description()));
        }
        faultseam::setForTests(nullptr);
        QCOMPARE(file.open(locked.filePath("absent.xls")), WorkbookFile::Opened::DoesNotExist);
    }
};

QTEST_GUILESS_MAIN(TestWorkbookAppend)
#include "tst_workbook_append.moc"
