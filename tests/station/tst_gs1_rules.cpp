#include "packing/Gs1Rules.h"

#include <QTest>

namespace {

const QDate kToday(2026, 12, 9);

Pack scan(const QString &text)
{
    const gs1::ScanRead r = gs1::readScan(text, kToday);
    if (!r.read)
        qFatal("the test's scan does not read: %s", qPrintable(r.why));
    return gs1rules::packOf(*r.read);
}

} // namespace

class TestGs1Rules : public QObject
{
    Q_OBJECT
private slots:
    // The same pack in two spellings is one pack; another serial, or the same serial of
    // another product, is another.
    void aPackIsItsProductAndSerial()
    {
        const QString gs(QChar(gs1::kGroupSeparator));
        const Pack a = scan("(01)09501101530003(21)A1B2(10)L24(17)270630");
        const Pack b = scan("]d2" + gs + "17270630" "0109501101530003" "10L24" + gs + "21A1B2" + gs);
        QCOMPARE(b, a);
        QCOMPARE(qHash(b), qHash(a));
        QCOMPARE(b.text(), QStringLiteral("(17)270630(01)09501101530003(10)L24(21)A1B2")); // fields in the order scanned
        QVERIFY(scan("(01)09501101530003(21)A1B3") != a);
        QVERIFY(scan("(01)00614141123452(21)A1B2") != a);
        // Without a serial a pack is its text (it is never accepted, see below).
        QCOMPARE(scan("(01)09501101530003").identity(), QStringLiteral("(01)09501101530003"));
        // A workbook's cell: a GS1 pack when it reads as one, else its text; the cell's text kept.
        QCOMPARE(gs1rules::listedPack(a.text(), kToday), a);
        QCOMPARE(gs1rules::listedPack(a.text(), kToday).text(), a.text());
        QVERIFY(gs1rules::listedPack(QStringLiteral("(01)09501101530003(21)A1B3"), kToday).isGs1());
        QVERIFY(!gs1rules::listedPack(QStringLiteral("A0001"), kToday).isGs1());
        QVERIFY(!gs1rules::listedPack(QStringLiteral("(01)09501101530004(21)A1B3"), kToday).isGs1()); // wrong check digit
        // Data may hold parentheses: the next field begins only at a known "(AI)".
        const Pack paren = scan("(01)09501101530003(21)A(1)B");
        QCOMPARE(paren.value(QStringLiteral("21")), QStringLiteral("A(1)B"));
        QCOMPARE(gs1rules::listedPack(paren.text(), kToday), paren);
        // Data holding "(NN)" is written bracketed, and its cell reads back as the same
        // pack: serial A(10)B is not serial A with lot B, and X(24)Y is a serial.
        for (const QString &serial : {QStringLiteral("A(10)B"), QStringLiteral("X(24)Y"), QStringLiteral("(21)1"), QStringLiteral("Q(7003)")}) {
            const Pack p({{"01", "09501101530003"}, {"21", serial}, {"10", "L(17)2"}});
            QCOMPARE(p.text(), "[01]09501101530003[21]" + serial + "[10]L(17)2");
            const Pack back = gs1rules::listedPack(p.text(), kToday);
            QVERIFY2(back.isGs1(), qPrintable(p.text()));
            QCOMPARE(back.fields(), p.fields());
            QCOMPARE(back, p);
            QCOMPARE(back.identity(), "09501101530003\n" + serial);
        }
        // A workbook written before: its human-readable cells read as they always did.
        QCOMPARE(gs1rules::listedPack(QStringLiteral("(01)09501101530003(21)A(1)B"), kToday).value("21"), QStringLiteral("A(1)B"));
    }

    void oneProductLotAndExpiryPerBox()
    {
        const Pack first = scan("(01)09501101530003(21)1(10)L24(17)270630");
        const gs1rules::BoxKind box = gs1rules::kindOf(first);
        QCOMPARE(gs1rules::refusal(first, std::nullopt, kToday, 0), QString());
        QCOMPARE(gs1rules::refusal(scan("(01)09501101530003(21)2(10)L24(17)270630"), box, kToday, 0), QString());
        QCOMPARE(gs1rules::refusal(scan("(01)00614141123452(21)2(10)L24(17)270630"), box, kToday, 0),
                 QStringLiteral("产品与本箱不同！本箱 (01)09501101530003 此包 (01)00614141123452"));
        QCOMPARE(gs1rules::refusal(scan("(01)09501101530003(21)2(10)L25(17)270630"), box, kToday, 0),
                 QStringLiteral("批号与本箱不同！本箱 (10)L24 此包 (10)L25"));
        QCOMPARE(gs1rules::refusal(scan("(01)09501101530003(21)2(17)270630"), box, kToday, 0),
                 QStringLiteral("批号与本箱不同！本箱 (10)L24 此包 无批号"));
        QCOMPARE(gs1rules::refusal(scan("(01)09501101530003(21)2(10)L24(17)270700"), box, kToday, 0),
                 QStringLiteral("有效期与本箱不同！本箱 (17)270630 此包 (17)270700"));
        // A box begun without a lot takes none.
        const gs1rules::BoxKind plain = gs1rules::kindOf(scan("(01)09501101530003(21)1"));
        QCOMPARE(gs1rules::refusal(scan("(01)09501101530003(21)2(10)L24"), plain, kToday, 0),
                 QStringLiteral("批号与本箱不同！本箱 无批号 此包 (10)L24"));
        QCOMPARE(gs1rules::refusal(scan("(01)09501101530003(10)L24"), std::nullopt, kToday, 0), QStringLiteral("缺少序列号 (21)"));
        QCOMPARE(gs1rules::refusal(Pack({{"21", "A"}, {"10", "L24"}}), std::nullopt, kToday, 0), QStringLiteral("缺少产品代码 (01)"));
        // Expiries are days: DD 00 is the month's last.
        QCOMPARE(gs1rules::refusal(scan("(01)09501101530003(21)2(10)L24(17)270600"), box, kToday, 0), QString());
        QVERIFY(gs1rules::sameKind(box, gs1rules::kindOf(scan("(01)09501101530003(21)3(10)L24(17)270600")), kToday));
        QVERIFY(!gs1rules::sameKind(box, gs1rules::kindOf(scan("(01)09501101530003(21)3(10)L24(17)270629")), kToday));
    }

    // Expired before today; too short a shelf life before today plus shelf_days. DD 00
    // is the month's last day.
    void shelfLifeLeft()
    {
        auto packExpiring = [](const QString &yymmdd) { return scan("(01)09501101530003(21)1(17)" + yymmdd); };
        QCOMPARE(gs1rules::refusal(packExpiring("261209"), std::nullopt, kToday, 0), QString()); // good through today
        QCOMPARE(gs1rules::refusal(packExpiring("261208"), std::nullopt, kToday, 0), QStringLiteral("已过期！\n有效期至 2026-12-08"));
        QCOMPARE(gs1rules::refusal(packExpiring("261100"), std::nullopt, kToday, 0), QStringLiteral("已过期！\n有效期至 2026-11-30"));
        QCOMPARE(gs1rules::refusal(packExpiring("261200"), std::nullopt, kToday, 0), QString());
        QCOMPARE(gs1rules::refusal(packExpiring("270107"), std::nullopt, kToday, 30),
                 QStringLiteral("有效期不足 30 天！\n有效期至 2027-01-07"));
        QCOMPARE(gs1rules::refusal(packExpiring("270108"), std::nullopt, kToday, 30), QString()); // exactly 30 days left
        QCOMPARE(gs1rules::refusal(scan("(01)09501101530003(21)1"), std::nullopt, kToday, 3650), QString()); // no expiry: nothing to check
    }
};

QTEST_GUILESS_MAIN(TestGs1Rules)
#include "tst_gs1_rules.moc"
