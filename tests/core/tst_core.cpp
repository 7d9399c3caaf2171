#include "core/Checked.h"
#include "core/Gs1.h"
#include "core/RuntimeError.h"
#include "core/TextNumber.h"

#include <QTest>
#include <cmath>

class TestCore : public QObject
{
    Q_OBJECT
private slots:
    void numericTest_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("numeric");
        QTest::newRow("integer") << "12" << true;
        QTest::newRow("negative") << "-3" << true;
        QTest::newRow("fraction") << "2.5" << true;
        QTest::newRow("blanks around") << "  12 \t" << true;
        QTest::newRow("exponent") << "1e3" << true;
        QTest::newRow("leading point") << ".5" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank only") << "   " << false;
        QTest::newRow("letters") << "abc" << false;
        QTest::newRow("trailing letter") << "12a" << false;
        QTest::newRow("inner blank") << "1 2" << false;
        QTest::newRow("infinity word") << "inf" << false;
        QTest::newRow("comma") << "1,5" << false;
    }
    void numericTest()
    {
        QFETCH(QString, text);
        QFETCH(bool, numeric);
        QCOMPARE(textnum::isNumeric(text), numeric);
    }

    void conversionRoundsHalfToEvenAndChecksWidth_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected16");  // -1000000: fails
        QTest::addColumn<qint64>("expected32"); // -1000000000000: fails
        QTest::addColumn<int>("error16");
        const int fails = -1000000;
        const qint64 fails32 = -1000000000000;
        QTest::newRow("2.5 to 2") << "2.5" << 2 << qint64(2) << 0;
        QTest::newRow("3.5 to 4") << "3.5" << 4 << qint64(4) << 0;
        QTest::newRow("-2.5 to -2") << "-2.5" << -2 << qint64(-2) << 0;
        QTest::newRow("2.6 to 3") << "2.6" << 3 << qint64(3) << 0;
        QTest::newRow("blanks") << " 7 " << 7 << qint64(7) << 0;
        QTest::newRow("16-bit top") << "32767" << 32767 << qint64(32767) << 0;
        QTest::newRow("16-bit top + 0.5 rounds up") << "32767.5" << fails << qint64(32768) << 6;
        QTest::newRow("16-bit bottom half rounds to even") << "-32768.5" << -32768 << qint64(-32768) << 0;
        QTest::newRow("32-bit top") << "2147483647" << fails << qint64(2147483647) << 6;
        QTest::newRow("beyond 32 bits") << "2147483648" << fails << fails32 << 6;
        QTest::newRow("huge exponent") << "1e400" << fails << fails32 << 6;
        QTest::newRow("tiny exponent") << "1e-400" << 0 << qint64(0) << 0;
        QTest::newRow("not a number") << "abc" << fails << fails32 << 13;
        QTest::newRow("empty") << "" << fails << fails32 << 13;
    }
    void conversionRoundsHalfToEvenAndChecksWidth()
    {
        QFETCH(QString, text);
        QFETCH(int, expected16);
        QFETCH(qint64, expected32);
        QFETCH(int, error16);
        if (error16 == 0) {
            QCOMPARE(int(textnum::toInt16(text)), expected16);
        } else {
            try {
                textnum::toInt16(text);
                QFAIL("conversion to 16 bits should fail");
            } catch (const RuntimeError &e) {
                QCOMPARE(e.number(), error16);
            }
            QVERIFY(!textnum::tryInt16(text));
        }
        if (expected32 != -1000000000000)
            QCOMPARE(qint64(textnum::toInt32(text)), expected32);
        else
            QVERIFY(!textnum::tryInt32(text));
    }

    void checkedArithmetic()
    {
        QCOMPARE(int(checked::add16(32766, 1)), 32767);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, checked::add16(32767, 1));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, checked::sub16(-32768, 1));
        QCOMPARE(checked::add32(2147483646, 1), 2147483647);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, checked::add32(2147483647, 1));
        QCOMPARE(int(checked::mod16(6, 3)), 0);
        QCOMPARE(int(checked::mod16(7, -3)), 1);
        QCOMPARE(int(checked::mod16(-7, 3)), -1);
        QCOMPARE(int(checked::mod16(-32768, -1)), 0);
        try {
            checked::mod16(5, 0);
            QFAIL("division by zero expected");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number(), int(RuntimeError::DivisionByZero));
        }
        try {
            checked::add16(32767, 1);
            QFAIL("overflow expected");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number(), int(RuntimeError::Overflow));
            const RuntimeError prefixed = e.withPrefix(QStringLiteral("[x]"));
            QCOMPARE(prefixed.number(), e.number());
            QCOMPARE(prefixed.source(), e.source());
            QCOMPARE(prefixed.description(), QStringLiteral("[x]") + e.description());
        }
    }

    void gs1Keys()
    {
        // Known keys: an SSCC of GS1's examples and a GTIN-13.
        QCOMPARE(gs1::checkDigit(QStringLiteral("10614141123456789")), 7);
        QCOMPARE(gs1::checkDigit(QStringLiteral("629104150021")), 3);
        QCOMPARE(gs1::checkDigit(QStringLiteral("12a")), -1);
        QVERIFY(gs1::isSscc(QStringLiteral("106141411234567897")));
        QVERIFY(!gs1::isSscc(QStringLiteral("106141411234567890")));
        QCOMPARE(gs1::sscc(QStringLiteral("10614141"), 123456789), std::optional<QString>(QStringLiteral("106141411234567897")));
        QCOMPARE(gs1::sscc(QStringLiteral("1061414"), 12).value_or(QString()), QStringLiteral("10614140000000012") + QString::number(gs1::checkDigit(QStringLiteral("10614140000000012"))));
        QVERIFY(!gs1::sscc(QStringLiteral("1234567890123"), 12345)); // four digits left
        for (const char *bad : {"123456", "12345678901234", "12a4567", ""})
            QVERIFY2(!gs1::isSsccPrefix(QLatin1String(bad)), bad);

        // An SSCC's serial never runs past the digits its prefix leaves: the largest of
        // every prefix length is valid, the next is none.
        const QString digits = QStringLiteral("1234567890123");
        for (int length = 7; length <= 13; ++length) {
            const QString prefix = digits.left(length);
            const qint64 largest = qint64(std::pow(10.0, 17 - length)) - 1;
            const std::optional<QString> last = gs1::sscc(prefix, largest);
            QVERIFY2(last && gs1::isSscc(*last) && last->startsWith(prefix + QString(17 - length, QLatin1Char('9'))), qPrintable(prefix));
            QVERIFY2(!gs1::sscc(prefix, largest + 1), qPrintable(prefix));
        }
    }
};

QTEST_APPLESS_MAIN(TestCore)
#include "tst_core.moc"
