#include "Fakes.h"
#include "JournalScript.h"

#include "packing/PackingState.h"
#include "packing/Box.h"
#include "station/BarcodeIntake.h"
#include "core/Gs1.h"
#include "platform/ProgramEnvironment.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "station/DailyWorkbookExport.h"
#include "station/files/DayWorkbooks.h"
#include "station/files/PackSearch.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// One station: packing state, grid, messages and a recording export around an intake.
struct Station
{
    explicit Station(int perMiddle, int perOuter, const QString &cf = QStringLiteral("0"))
    {
        state.iInnerLen = 8;
        state.iPerMiddle = int16_t(perMiddle);
        state.iPerOuter = int16_t(perOuter);
        state.sMiddlePrefix = "Z";
        state.sOuterPrefix = "W";
        state.iMiddleDigits = 3;
        state.iOuterDigits = 3;
        state.lMiddleNo = 1;
        state.lOuterNo = 1;
        intake.sCfMode = cf;
    }
    void scan(const QString &barcode) { intake.receive(barcode + "\r\n"); }
    // Rows as "outer|middle|barcode".
    QStringList rows() const
    {
        QStringList out;
        for (int r = 0; r < openBox.rowCount(); ++r)
            out << openBox.cellText(r, 0) + "|" + openBox.cellText(r, 1) + "|" + openBox.cellText(r, 2);
        return out;
    }
    // The kind of each row: W outer label, Z middle label, b barcode.
    QString shape() const
    {
        QString s;
        for (int r = 0; r < openBox.rowCount(); ++r)
            s += !openBox.cellText(r, 0).isEmpty() ? 'W' : !openBox.cellText(r, 1).isEmpty() ? 'Z' : 'b';
        return s;
    }

    PackingState state;
    Box openBox;
    RecordingMessages messages;
    RecordingExport boxExport;
    BarcodeIntake intake{state, openBox, messages, boxExport};
};

QString exportedShape(const RecordingExport::Rows &rows)
{
    QString s;
    for (const QStringList &r : rows)
        s += !r[0].isEmpty() ? 'W' : !r[1].isEmpty() ? 'Z' : 'b';
    return s;
}

} // namespace

class TestIntake : public QObject
{
    Q_OBJECT
private slots:
    void workedExampleScanByScan()
    {
        Station st(2, 4);
        st.scan("A00001");
        QCOMPARE(st.rows(), QStringList({"W001||", "|Z001|", "||A00001"}));
        QCOMPARE(st.state.lOuterNo, 2);
        QCOMPARE(st.state.lMiddleNo, 2);
        QCOMPARE(int(st.intake.iInnerCount()), 1);

        st.scan("A00002");
        QCOMPARE(st.rows().mid(3), QStringList({"||A00002", "|Z002|"}));
        QCOMPARE(st.state.lMiddleNo, 3);

        st.scan("A00002");
        QCOMPARE(st.messages.texts, QStringList{BarcodeIntake::kDuplicate});
        QCOMPARE(st.openBox.rowCount(), 5);
        QCOMPARE(int(st.intake.iInnerCount()), 2);
        QVERIFY(!st.intake.lastScanListed());

        st.intake.receive("A0003\r\n");
        QCOMPARE(st.messages.firstLines().last(), BarcodeIntake::kWrongLength);
        QCOMPARE(st.openBox.rowCount(), 5);
        QCOMPARE(int(st.intake.iInnerCount()), 2);

        st.scan("A00003");
        QCOMPARE(int(st.intake.iInnerCount()), 3);
        QCOMPARE(st.boxExport.calls, 0);
        st.scan("A00004");
        QCOMPARE(st.boxExport.calls, 1);
        const RecordingExport::Rows expected = {{"W001", "", ""}, {"", "Z001", ""}, {"", "", "A00001"},
                                                {"", "", "A00002"}, {"", "Z002", ""}, {"", "", "A00003"},
                                                {"", "", "A00004"}};
        QCOMPARE(st.boxExport.boxes[0], expected);
        QCOMPARE(st.openBox.rowCount(), 0);
        QCOMPARE(int(st.intake.iInnerCount()), 0);

        st.scan("A00005");
        QCOMPARE(st.rows(), QStringList({"W002||", "|Z003|", "||A00005"}));
        QCOMPARE(st.state.lOuterNo, 3);
        QCOMPARE(st.state.lMiddleNo, 4);
        QCOMPARE(st.messages.texts.size(), 2);
    }

    void lengthTest()
    {
        Station st(2, 4);
        st.intake.receive("ABCDEFxy"); // terminator not examined
        QCOMPARE(st.rows().last(), QStringLiteral("||ABCDEF"));
        st.intake.receive("ABCDEFGxy");
        st.intake.receive("ABCDEx");
        QCOMPARE(st.messages.firstLines(), QStringList({BarcodeIntake::kWrongLength, BarcodeIntake::kWrongLength}));
        QCOMPARE(st.openBox.rowCount(), 3);
        QCOMPARE(st.state.lOuterNo, 2);

        Station empty(2, 4);
        empty.state.iInnerLen = 2;
        empty.intake.receive("\r\n");
        empty.intake.receive("\r\n"); // empty barcodes never count as repeats
        QCOMPARE(empty.rows(), QStringList({"W001||", "|Z001|", "||", "||", "|Z002|"}));
        QVERIFY(empty.messages.texts.isEmpty());
    }

    void refusedTextsAreNamed()
    {
        Station st(2, 4);
        st.intake.receive("A00001\r\nA00002\r\nA0000");
        QCOMPARE(st.messages.firstLines(), QStringList{BarcodeIntake::kWrongLength});
        QVERIFY(st.messages.texts[0].contains(QStringLiteral("收到 21 个字符")));
        QVERIFY(st.messages.texts[0].contains(QStringLiteral("3 段")));
        QVERIFY(st.messages.texts[0].contains(QStringLiteral("1. A00001\n  2. A00002\n  3. A0000\n")));

        // Many pieces: the first and last three and the count; unreadable bytes named;
        // characters a full buffer dropped are counted too.
        QString many;
        for (int i = 1; i <= 20; ++i)
            many += QStringLiteral("P%1\r\n").arg(i, 5, 10, QLatin1Char('0'));
        many += QStringLiteral("\x1b") + QString(60, QLatin1Char('x'));
        st.intake.receive(many, 4096);
        const QString &text = st.messages.texts[1];
        QVERIFY(text.contains(QStringLiteral("21 段")));
        QVERIFY(text.contains(QStringLiteral("3. P00003\n  ……（中间 15 段未列出）\n  19. P00019")));
        QVERIFY(text.contains(QStringLiteral("21. <0x1B>xxx")));
        QVERIFY(text.contains(QStringLiteral("（共 61 个字符）")));
        QVERIFY(text.contains(QStringLiteral("4096 个字符")));
        QCOMPARE(st.openBox.rowCount(), 0);

        // A control character in the barcode part is refused before any label row.
        st.intake.receive(QStringLiteral("AB\tDEF\r\n"));
        QCOMPARE(st.messages.firstLines().last(), BarcodeIntake::kControlCharacter);
        QVERIFY(st.messages.texts.last().contains(QStringLiteral("AB<TAB>DEF<CR><LF>")));
        QVERIFY(st.messages.texts.last().contains(QStringLiteral("第 3 个字符")));
        QCOMPARE(st.openBox.rowCount(), 0);
        QCOMPARE(st.state.lOuterNo, 1);
        st.intake.receive(QStringLiteral("ÿABCDE\0\0"));
        QCOMPARE(st.rows().last(), QStringLiteral("||ÿABCDE"));
    }

    void boxShapes_data()
    {
        QTest::addColumn<int>("perMiddle");
        QTest::addColumn<int>("perOuter");
        QTest::addColumn<QString>("firstBox");
        QTest::addColumn<QString>("secondBoxStart");
        QTest::newRow("middle equals outer") << 3 << 3 << "WZbbb" << "W002,Z002";
        QTest::newRow("middle greater than outer") << 5 << 3 << "WZbbb" << "W002,Z002";
        QTest::newRow("3 per middle, 4 per outer") << 3 << 4 << "WZbbbZb" << "W002,Z003";
        QTest::newRow("1 per middle, 3 per outer") << 1 << 3 << "WZbZbZb" << "W002,Z004";
        QTest::newRow("negative middle acts like its magnitude") << -2 << 4 << "WZbbZbb" << "W002,Z003";
        QTest::newRow("one per outer") << 2 << 1 << "WZb" << "W002,Z002";
    }
    void boxShapes()
    {
        QFETCH(int, perMiddle);
        QFETCH(int, perOuter);
        QFETCH(QString, firstBox);
        QFETCH(QString, secondBoxStart);
        Station st(perMiddle, perOuter);
        for (int i = 0; i < perOuter; ++i)
            st.scan(QStringLiteral("B%1").arg(i, 5, 10, QLatin1Char('0')));
        QCOMPARE(st.boxExport.boxes.size(), size_t(1));
        QCOMPARE(exportedShape(st.boxExport.boxes[0]), firstBox);
        st.scan("C00001");
        const RecordingExport::Rows second = st.openBox.rowCount() > 0
            ? RecordingExport::Rows{{st.openBox.cellText(0, 0)}, {"", st.openBox.cellText(1, 1)}}
            : st.boxExport.boxes.back();
        QCOMPARE(second[0][0] + "," + second[1][1], secondBoxStart);
    }

    void duplicateModes_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("rejects");
        QTest::newRow("0") << "0" << true;
        QTest::newRow("1") << "1" << false;
        QTest::newRow("00") << "00" << false;
        QTest::newRow("blank 0") << " 0" << false;
        QTest::newRow("empty") << "" << false;
    }
    void duplicateModes()
    {
        QFETCH(QString, mode);
        QFETCH(bool, rejects);
        Station st(5, 10, mode);
        st.scan("A00001");
        st.scan("A00001");
        QCOMPARE(st.messages.texts.size(), rejects ? 1 : 0);
        QCOMPARE(int(st.intake.iInnerCount()), rejects ? 1 : 2);
        QCOMPARE(st.openBox.rowCount(), rejects ? 3 : 4);
        // Case matters: a lower-case repeat is another barcode.
        st.scan("a00001");
        QCOMPARE(st.messages.texts.size(), rejects ? 1 : 0);
    }

    void repeatRightAfterMiddleLabel()
    {
        Station st(2, 6);
        st.scan("A00001");
        st.scan("A00002"); // Z002 follows
        st.scan("A00002");
        QCOMPARE(st.shape(), QStringLiteral("WZbbZ"));
        QCOMPARE(st.rows().last(), QStringLiteral("|Z002|"));
        st.scan("A00003");
        st.scan("A00004");
        QCOMPARE(st.shape(), QStringLiteral("WZbbZbbZ"));
        // A barcode of an exported box is accepted again in the next box.
        Station small(1, 1);
        small.scan("A00001");
        small.scan("A00001");
        QCOMPARE(small.boxExport.boxes.size(), size_t(2));
        QVERIFY(small.messages.texts.isEmpty());
    }

    void eventsDuringDuplicateMessage()
    {
        // The operator presses Start while the message is open: new numbers apply to the
        // rest of this scan, and the last row (the repeat) is the one removed.
        Station st(1, 5);
        st.scan("A00001");
        st.scan("A00002");
        st.messages.whileOpen = [&](const QString &) { st.state.lMiddleNo = 100; };
        st.scan("A00001");
        QCOMPARE(st.rows().last(), QStringLiteral("|Z003|"));
        st.messages.whileOpen = nullptr;
        st.scan("A00003");
        QCOMPARE(st.rows().last(), QStringLiteral("|Z100|"));
    }

    void aFailedScanChangesNothing()
    {
        // Whatever fails a scan takes back every row and running number it would have added.
        Station zero(0, 4);
        try {
            zero.scan("A00001");
            QFAIL("division by zero expected");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number(), int(RuntimeError::DivisionByZero));
        }
        QCOMPARE(zero.shape(), QString());
        QVERIFY_THROWS_EXCEPTION(RuntimeError, zero.scan("A00002"));
        QCOMPARE(zero.shape(), QString());
        QCOMPARE(zero.state.lOuterNo, 1);
        QCOMPARE(zero.boxExport.calls, 0);

        Station shortLength(2, 4);
        shortLength.state.iInnerLen = 1;
        QVERIFY_THROWS_EXCEPTION(RuntimeError, shortLength.intake.receive("x"));
        QCOMPARE(shortLength.shape(), QString());

        // At the last outer number every scan fails, and leaves no label pairs behind.
        Station outerTop(2, 4);
        outerTop.state.lOuterNo = 2147483647;
        for (int i = 0; i < 3; ++i)
            QVERIFY_THROWS_EXCEPTION(RuntimeError, outerTop.scan(QStringLiteral("A0000%1").arg(i)));
        QCOMPARE(outerTop.shape(), QString());
        QCOMPARE(outerTop.state.lOuterNo, 2147483647);
        QCOMPARE(outerTop.state.lMiddleNo, 1);
        outerTop.state.lOuterNo = 1;
        outerTop.scan("A00001");
        QCOMPARE(outerTop.rows(), QStringList({"W001||", "|Z001|", "||A00001"}));

        // The middle number runs out at a boundary: the pack that reached it is not listed either.
        Station middleTop(1, 4);
        middleTop.state.lMiddleNo = 2147483646;
        QVERIFY_THROWS_EXCEPTION(RuntimeError, middleTop.scan("A00001"));
        QCOMPARE(middleTop.shape(), QString());
        QCOMPARE(middleTop.state.lMiddleNo, 2147483646);
        QCOMPARE(middleTop.state.lOuterNo, 1);

        Station count(2, 4, "1");
        count.openBox.restore(std::vector<BoxRow>(32767, BoxRow{BoxRow::Pack, QStringLiteral("P")}), false);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, count.scan("A00001"));
        QCOMPARE(count.openBox.rowCount(), 32767);

        Station none(2, 0);
        for (int i = 0; i < 5; ++i)
            none.scan(QStringLiteral("N%1").arg(i, 5, 10, QLatin1Char('0')));
        QCOMPARE(none.boxExport.calls, 0);
        QCOMPARE(int(none.intake.iInnerCount()), 5);
    }

    void aBoxThatWentOutIsNotWrittenAgain()
    {
        // The export wrote the box and then failed (the folder would not sync): the
        // retry finds it in place and does not write it a second time.
        Station st(2, 2);
        st.boxExport.failAfterWriting = 1;
        st.scan("A00001");
        QVERIFY_THROWS_EXCEPTION(RuntimeError, st.scan("A00002"));
        QVERIFY(st.intake.exportPending());
        QCOMPARE(st.openBox.exportTarget()->firstRow, 2);
        st.scan("A00003");
        QCOMPARE(st.boxExport.boxes.size(), size_t(1));
        QCOMPARE(st.boxExport.calls, 1);
        QCOMPARE(st.rows(), QStringList({"W002||", "|Z002|", "||A00003"}));
        QCOMPARE(st.intake.lastExport()->firstRow, 2);
    }

    void failedExportKeepsTheBoxAndIsRetried()
    {
        Station st(2, 2);
        st.boxExport.failNext = 2;
        st.scan("A00001");
        QVERIFY_THROWS_EXCEPTION(RuntimeError, st.scan("A00002"));
        QVERIFY(st.intake.lastScanListed());
        QCOMPARE(st.shape(), QStringLiteral("WZbb"));
        QCOMPARE(int(st.intake.iInnerCount()), 2);
        QVERIFY(st.intake.exportPending());

        // The retry fails again: the new barcode is not added to the full box.
        QVERIFY_THROWS_EXCEPTION(RuntimeError, st.scan("A00003"));
        QVERIFY(!st.intake.lastScanListed());
        QCOMPARE(st.shape(), QStringLiteral("WZbb"));

        // A wrong-length scan does not trigger the retry.
        st.intake.receive("short");
        QCOMPARE(st.boxExport.calls, 2);

        st.scan("A00004"); // retry succeeds, the scan starts the next box
        QCOMPARE(st.boxExport.boxes.size(), size_t(1));
        QCOMPARE(st.boxExport.boxes[0][3][2], QStringLiteral("A00002"));
        QCOMPARE(st.rows(), QStringList({"W002||", "|Z002|", "||A00004"}));
        QVERIFY(!st.intake.exportPending());
    }


    // The intake refuses to open a box whose SSCC would not fit (it would repeat
    // another box's, or misread).
    void anSsccThatNoLongerFitsOpensNoBox()
    {
        const QString digits = QStringLiteral("1234567890123");
        QTemporaryDir folder;
        program::setFolder(folder.path());
        xls::NativeWorkbookFile file;
        DailyWorkbookExport daily(file);
        PackingState state;
        journalscript::setUp(state);
        state.iPerMiddle = 1;
        state.iPerOuter = 1;
        state.bSscc = true;
        state.sOuterPrefix = digits;
        state.sOuterSuffix.clear();
        state.lOuterNo = 9999;
        state.buildLabels();
        Box box;
        RecordingMessages messages;
        RecordingSounds sounds;
        BarcodeIntake intake(state, box, messages, daily, sounds);
        intake.receive(QStringLiteral("P00001\r\n"));
        QCOMPARE(messages.texts, QStringList());
        QCOMPARE(state.lOuterNo, 10000);
        intake.receive(QStringLiteral("P00002\r\n"));
        QCOMPARE(messages.texts.size(), 1);
        QVERIFY2(messages.texts[0].startsWith(BarcodeIntake::kSsccUsedUp) && messages.texts[0].contains(QStringLiteral("只留 4 位序号")),
                 qPrintable(messages.texts[0]));
        QCOMPARE(box.iInnerCount(), 0);
        QCOMPARE(state.lOuterNo, 10000);
        const auto packs = packsearch::search(dayworkbooks::filesFolder(folder.path()), [](const packsearch::Listed &) { return true; }, {});
        QCOMPARE(int(packs.size()), 1);
        QCOMPARE(packs[0].outerLabel, *gs1::sscc(digits, 9999));
        QVERIFY(state.outerLabelFor(10000).size() != 18);
    }
};

QTEST_MAIN(TestIntake)
#include "tst_intake.moc"
