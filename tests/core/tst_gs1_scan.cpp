#include "../fuzz/Mutator.h"

#include "core/Gs1.h"
#include "core/Gs1Scan.h"

#include <QTest>
#include <memory>
#include <zint.h>

namespace {

const QDate kToday(2026, 12, 9);
const QString GS(QChar(gs1::kGroupSeparator));

// What libzint's GS1 mode says of the same element strings: "" when it accepts them.
QString zintSays(const std::vector<gs1::Element> &elements)
{
    std::unique_ptr<zint_symbol, void (*)(zint_symbol *)> symbol(ZBarcode_Create(), ZBarcode_Delete);
    symbol->symbology = BARCODE_DATAMATRIX; // room for every generated string
    symbol->input_mode = GS1_MODE;
    QByteArray bracketed;
    for (const gs1::Element &e : elements)
        bracketed += '[' + e.ai.toLatin1() + ']' + e.data.toLatin1();
    const int status = ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char *>(bracketed.constData()), int(bracketed.size()));
    // A string that breaks GS1's rules (a day 31 in April, a character outside the set)
    // is still encoded, with a warning that it does not comply: to GS1, refused.
    return status == ZINT_WARN_NONCOMPLIANT || status >= ZINT_ERROR ? QString::fromLatin1(symbol->errtxt) : QString();
}

// Data for an AI: mostly right, sometimes wrong in one of the ways a scan goes wrong.
QString dataFor(const QString &ai, Mutator &m)
{
    auto digits = [&](int count) {
        QString s;
        for (int i = 0; i < count; ++i)
            s += QChar('0' + int(m.below(10)));
        return s;
    };
    auto withCheck = [&](int count) {
        const QString body = digits(count - 1);
        return body + QString::number(m.chance(85) ? gs1::checkDigit(body) : (gs1::checkDigit(body) + 1 + int(m.below(9))) % 10);
    };
    auto text = [&](int most) {
        // GS1's 82 characters, without the parentheses that would make the human-readable form ambiguous.
        static const QString set = QStringLiteral("ABCXYZabcxyz0123456789!\"%&'*+,-./:;<=>?_");
        QString s;
        const int length = 1 + int(m.below(quint32(most + (m.chance(10) ? 3 : 0))));
        for (int i = 0; i < length; ++i)
            s += m.chance(3) ? QStringLiteral("~") : QString(set[m.below(quint32(set.size()))]);
        return s;
    };
    QString data;
    if (ai == QLatin1String("00"))
        data = withCheck(18);
    else if (ai == QLatin1String("01") || ai == QLatin1String("02"))
        data = withCheck(14);
    else if (ai == QLatin1String("410"))
        data = withCheck(13);
    else if (QStringList{"11", "13", "15", "17"}.contains(ai))
        data = digits(2) + QString::number(1 + m.below(13)).rightJustified(2, '0') + QString::number(m.below(33)).rightJustified(2, '0');
    else if (ai == QLatin1String("20"))
        data = digits(2);
    else if (ai == QLatin1String("3103"))
        data = digits(6);
    else if (ai == QLatin1String("30") || ai == QLatin1String("37"))
        data = digits(1 + int(m.below(9)));
    else if (ai == QLatin1String("240") || ai == QLatin1String("400"))
        data = text(30);
    else
        data = text(20); // 10, 21, 420
    // A digit lost or doubled by hand.
    if (m.chance(5))
        data = m.chance(50) ? data.chopped(std::min<qsizetype>(1, data.size())) : data + data.right(1);
    return data;
}

} // namespace

class TestGs1Scan : public QObject
{
    Q_OBJECT
private slots:
    void scansAsStationsSendThem_data()
    {
        QTest::addColumn<QString>("scan");
        QTest::addColumn<QString>("read"); // the human-readable form, or the refusal
        QTest::newRow("datamatrix with its identifier") << "]d2010950110153000321A1B2" + GS + "10L24" + GS + "17270630"
                                                       << "(01)09501101530003(21)A1B2(10)L24(17)270630";
        QTest::newRow("no identifier, FNC1 first, GS at the end")
            << GS + "0109501101530003" + "17270630" + "10L24" + GS + "21A1B2" + GS << "(01)09501101530003(17)270630(10)L24(21)A1B2";
        QTest::newRow("human-readable, as typed") << "(01)09501101530003(21)A1B2(10)L24(17)270630"
                                                  << "(01)09501101530003(21)A1B2(10)L24(17)270630";
        QTest::newRow("GS1-128 identifier") << "]C10109501101530003" + GS + "21X" << "(01)09501101530003(21)X";
        QTest::newRow("GS after a fixed field") << "0109501101530003" + GS + "21X" << "(01)09501101530003(21)X";
        QTest::newRow("SSCC") << "00106141411234567897" << "(00)106141411234567897";
        QTest::newRow("a lot with parentheses, human-readable") << "(01)09501101530003(10)A(1)B(21)S" << "(01)09501101530003(10)A(1)B(21)S";
        QTest::newRow("day 00: the month's last day") << "(01)09501101530003(17)270200" << "(01)09501101530003(17)270200";
        QTest::newRow("29 February of a leap year") << "(17)280229" << "(17)280229";

        QTest::newRow("plain DataMatrix") << "]d1010950110153000321A1B2" << gs1::kNotGs1;
        QTest::newRow("plain Code 128") << "]C00109501101530003" << gs1::kNotGs1;
        QTest::newRow("EAN-13") << "]E09501101530003" << gs1::kNotGs1;
        QTest::newRow("check digit") << "(01)09501101530004(21)A1" << "GS1 条码不正确：(01) 校验位应为 3";
        QTest::newRow("company internal AI") << "(99)ABC" << "未知的应用标识符 (99)";
        QTest::newRow("unknown AI, separated") << "0109501101530003" "99ABC" << "未知的应用标识符 (99)";
        QTest::newRow("GTIN too short") << "(01)0950110153000" << "GS1 条码不正确：(01) 应为 14 位数字，现为 13 位";
        QTest::newRow("serial too long") << "(21)123456789012345678901" << "GS1 条码不正确：(21) 长度不对：最多 20 个字符，现为 21 个";
        QTest::newRow("a character outside GS1's set") << "(21)A~B" << "GS1 条码不正确：(21) 含有不允许的字符“~”";
        // A scanner that drops the GS runs the serial into the next field: that cannot be
        // told from a serial "A1B210L24"; a run that makes it too long can.
        QTest::newRow("a serial run into the next field") << "0109501101530003" "21A1B2" "10L24" << "(01)09501101530003(21)A1B210L24";
        QTest::newRow("a serial run too long") << "0109501101530003" "21A1B2C3D4E5" "10L24000000"
                                               << "GS1 条码不正确：(21) 长度不对：最多 20 个字符，现为 21 个";
        QTest::newRow("no day 31 in June") << "(17)270631" << "GS1 条码不正确：(17) 不是有效日期 270631";
        QTest::newRow("29 February, no leap year") << "(17)270229" << "GS1 条码不正确：(17) 不是有效日期 270229";
        QTest::newRow("month 13") << "(17)271301" << "GS1 条码不正确：(17) 不是有效日期 271301";
        QTest::newRow("two separators") << "21A" + GS + GS + "10B" << "GS1 条码不正确：第 5 个字符处有多余的分隔符";
        QTest::newRow("an AI twice") << "(21)A(21)B" << "GS1 条码不正确：(21) 出现了两次";
        QTest::newRow("empty data") << "(10)(21)A" << "GS1 条码不正确：(10) 没有数据";
        QTest::newRow("nothing but the identifier") << "]d2" << "GS1 条码不正确：没有任何字段";
        QTest::newRow("a digit in a count") << "(37)1A" << "GS1 条码不正确：(37) 只能是数字，含有“A”";
    }

    void scansAsStationsSendThem()
    {
        QFETCH(QString, scan);
        QFETCH(QString, read);
        const gs1::ScanRead r = gs1::readScan(scan, kToday);
        QCOMPARE(r.read ? r.read->humanReadable() : r.why, read);
    }

    void theCenturyFollowsGs1sRule()
    {
        QCOMPARE(gs1::dateOf("760101", kToday), QDate(2076, 1, 1)); // 50 years ahead: this century
        QCOMPARE(gs1::dateOf("770101", kToday), QDate(1977, 1, 1)); // 51 ahead: the last one
        QCOMPARE(gs1::dateOf("000229", kToday), QDate(2000, 2, 29));
        QCOMPARE(gs1::dateOf("261200", kToday), QDate(2026, 12, 31));
        QCOMPARE(gs1::dateOf("760101", QDate(2099, 1, 1)), QDate(2076, 1, 1)); // D = -23: this century
        QCOMPARE(gs1::dateOf("490101", QDate(2099, 1, 1)), QDate(2149, 1, 1)); // D = -50: the next
        QCOMPARE(gs1::dateOf("500101", QDate(2099, 1, 1)), QDate(2050, 1, 1)); // D = -49: this one
        QVERIFY(!gs1::dateOf("2612", kToday).isValid());
    }

    // Thousands of generated element strings, accepted exactly when libzint's GS1 mode
    // accepts them. Both forms a scanner sends are read: separated by GS, and human-readable.
    // On purpose we differ where the generator never goes: AIs we do not know (libzint
    // knows every AI, and company-internal (90)–(99) whose data means nothing to a
    // station), an AI twice, and parentheses in the human-readable form's data.
    void agreesWithLibzint()
    {
        const QStringList ais{"00", "01", "02", "10", "11", "13", "15", "17", "20", "21", "240", "30", "37", "400", "410", "420", "3103"};
        Mutator m(1209);
        int accepted = 0, refused = 0;
        for (int i = 0; i < 4000; ++i) {
            std::vector<gs1::Element> elements;
            QStringList used;
            for (quint32 k = 1 + m.below(4); k > 0; --k) {
                const QString ai = ais[m.below(quint32(ais.size()))];
                if (!used.contains(ai)) {
                    used << ai;
                    elements.push_back({ai, dataFor(ai, m)});
                }
            }
            const QString zint = zintSays(elements);
            QString hri, separated;
            for (size_t e = 0; e < elements.size(); ++e) {
                hri += '(' + elements[e].ai + ')' + elements[e].data;
                separated += elements[e].ai + elements[e].data;
                const bool fixed = QStringList{"00", "01", "02", "11", "13", "15", "17", "20", "31", "41"}.contains(elements[e].ai.left(2));
                if (e + 1 < elements.size() && (!fixed || m.chance(20)))
                    separated += GS;
            }
            const gs1::ScanRead ours = gs1::readScan(hri, kToday);
            QVERIFY2(ours.read.has_value() == zint.isEmpty(), qPrintable(hri + " — ours: " + ours.why + " — libzint: " + zint));
            // Separated, as a scanner sends them: what libzint accepts reads the same; what it
            // refuses is never read as these elements (a fixed field of the wrong length runs
            // into the next AI, which a scanner's stream does just the same).
            const gs1::ScanRead scanned = gs1::readScan("]d2" + separated, kToday);
            if (zint.isEmpty())
                QVERIFY2(scanned.read && scanned.read->elements == elements, qPrintable(separated + " — ours: " + scanned.why));
            else
                QVERIFY2(!scanned.read || scanned.read->elements != elements, qPrintable(separated + " — libzint: " + zint));
            if (ours.read) {
                QVERIFY(ours.read->elements == elements);
                ++accepted;
            } else {
                ++refused;
            }
        }
        // Both kinds well represented, or the comparison says little.
        QVERIFY2(accepted > 800 && refused > 800, qPrintable(QStringLiteral("%1 accepted, %2 refused").arg(accepted).arg(refused)));
    }

    // Mutated scans: never a crash or a hang, and what reads, reads again the same in
    // its human-readable form.
    void mutatedScansAreReadOrRefused()
    {
        Mutator m(77);
        const QByteArray base = ("]d2010950110153000321A1B2" + GS + "10L24" + GS + "17270630").toLatin1();
        for (int i = 0; i < 20000; ++i) {
            const QString scan = QString::fromLatin1(m.mutate(base));
            const gs1::ScanRead r = gs1::readScan(scan, kToday);
            QVERIFY(r.read.has_value() != !r.why.isEmpty());
            // The human-readable form is ambiguous where data holds "(": then it is not read back.
            const bool parenthesised = r.read && std::any_of(r.read->elements.begin(), r.read->elements.end(),
                                                             [](const gs1::Element &e) { return e.data.contains('('); });
            if (r.read && !parenthesised) {
                const gs1::ScanRead again = gs1::readScan(r.read->humanReadable(), kToday);
                QVERIFY2(again.read && again.read->elements == r.read->elements, qPrintable(r.read->humanReadable()));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestGs1Scan)
#include "tst_gs1_scan.moc"
