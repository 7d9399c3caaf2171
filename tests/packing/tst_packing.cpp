#include "core/RuntimeError.h"
#include "packing/PackingState.h"

#include <QTest>

class TestPacking : public QObject
{
    Q_OBJECT
private slots:
    void paddedNumber_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("text");
        QTest::newRow("7 w3") << 7 << 3 << "007";
        QTest::newRow("12 w5") << 12 << 5 << "00012";
        QTest::newRow("wider than width") << 123 << 2 << "123";
        QTest::newRow("100 w2") << 100 << 2 << "100";
        QTest::newRow("w0 is eleven") << 5 << 0 << "00000000005";
        QTest::newRow("zero w4") << 0 << 4 << "0000";
        QTest::newRow("w10") << 42 << 10 << "0000000042";
        QTest::newRow("w11") << 42 << 11 << "00000000042";
        QTest::newRow("w-1") << 42 << -1 << "00000000042";
        QTest::newRow("w1") << 9 << 1 << "9";
        QTest::newRow("negative") << -5 << 3 << "-005";
        QTest::newRow("most negative") << -2147483647 - 1 << 3 << "-2147483648";
        QTest::newRow("largest") << 2147483647 << 12 << "02147483647";
    }
    void paddedNumber()
    {
        QFETCH(int, number);
        QFETCH(int, width);
        QFETCH(QString, text);
        QCOMPARE(::paddedNumber(number, int16_t(width)), text);
    }

    void labelsJoinPrefixNumberSuffix()
    {
        PackingState s;
        s.sMiddlePrefix = "Z";
        s.sMiddleSuffix = "B";
        s.sOuterPrefix = "W";
        s.sOuterSuffix = "X";
        s.iMiddleDigits = 3;
        s.iOuterDigits = 5;
        s.lMiddleNo = 7;
        s.lOuterNo = 12;
        s.buildLabels();
        QCOMPARE(s.middleLabel(), QStringLiteral("Z007B"));
        QCOMPARE(s.outerLabel(), QStringLiteral("W00012X"));

        PackingState bare;
        bare.iMiddleDigits = 2;
        bare.lMiddleNo = 3;
        bare.buildLabels();
        QCOMPARE(bare.middleLabel(), QStringLiteral("03"));
    }

    void advanceStopsAtTheTop()
    {
        PackingState s;
        s.lMiddleNo = 2147483646;
        s.advanceMiddle();
        QCOMPARE(s.lMiddleNo, 2147483647);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, s.advanceMiddle());
        QCOMPARE(s.lMiddleNo, 2147483647);
        s.lOuterNo = 2147483647;
        QVERIFY_THROWS_EXCEPTION(RuntimeError, s.advanceOuter());
        QCOMPARE(s.lOuterNo, 2147483647);
        s.lOuterNo = -1;
        s.advanceOuter();
        QCOMPARE(s.lOuterNo, 0);
    }

    void ssccLabels()
    {
        // Start's check names the field; an outer label then is the SSCC.
        PackingState job;
        job.bSscc = true;
        job.sOuterPrefix = QStringLiteral("10614141");
        QCOMPARE(job.ssccProblem(123456789), QString());
        QCOMPARE(job.outerLabelFor(123456789), QStringLiteral("106141411234567897"));
        job.sOuterSuffix = QStringLiteral("X");
        QVERIFY(job.ssccProblem(1).contains(QStringLiteral("外箱后缀")));
        job.sOuterSuffix.clear();
        job.sOuterPrefix = QStringLiteral("W0");
        QVERIFY(job.ssccProblem(1).contains(QStringLiteral("外箱前缀")));
        job.sOuterPrefix = QStringLiteral("1234567890123");
        QVERIFY(job.ssccProblem(100000).contains(QStringLiteral("外箱序号")));
        job.bSscc = false;
        QCOMPARE(job.ssccProblem(100000), QString());
    }
};

QTEST_APPLESS_MAIN(TestPacking)
#include "tst_packing.moc"
