#include "support/BarcodeDecode.h"
#include "support/DeliverBox.h"
#include "support/PlantDb.h"
#include "support/EpcisSchema.h"
#include "support/ToolRun.h"

#include "core/RuntimeError.h"
#include "plant/PlantCheck.h"
#include "plant/PlantLink.h"
#include "plant/PlantSender.h"
#include "plant/RecordRefusals.h"
#include "plant/Rework.h"
#include "plant/WorkbookBoxes.h"
#include "platform/ProgramEnvironment.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "station/DailyWorkbookExport.h"
#include "packing/Gs1Rules.h"
#include "station/StartChecks.h"
#include "core/Gs1.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kGs(QChar(gs1::kGroupSeparator));

// A pack as the station's intake makes it from one scan.
Pack scanned(const QString &scan)
{
    const gs1::ScanRead r = gs1::readScan(scan, QDate(2026, 12, 9));
    if (!r.read)
        qFatal("the test's scan does not read: %s", qPrintable(r.why));
    return gs1rules::packOf(*r.read);
}

} // namespace

// The plant record knows a GS1 pack by its GTIN and serial, as a station does: the
// plant-wide check, the conflicts and rework find it however it was spelled.
class TestGs1Record : public QObject
{
    Q_OBJECT
    PgServer m_server;
    QString m_db;
    int m_delivered = 0;

    QString url(const QString &user) const { return m_server.url(user, m_db); }

    PlantSender::Report deliver(const QString &station, const QString &outer, const std::vector<Pack> &packs)
    {
        std::vector<BoxRow> rows{{BoxRow::OuterLabel, outer}, {BoxRow::MiddleLabel, QStringLiteral("Z-") + outer}};
        for (const Pack &p : packs)
            rows.push_back(BoxRow::of(p));
        return deliverBox(url(QStringLiteral("line3")), station, 2 + 10 * m_delivered++, QDateTime::currentDateTime(), rows);
    }

    // The outer label the plant-wide check names for the pack, "" for free.
    QString check(const Pack &pack)
    {
        PlantCheck question(url(QStringLiteral("line3")));
        const uint64_t ticket = question.ask(pack);
        std::optional<DuplicateQuestion::Answer> answer;
        [&] { QTRY_VERIFY_WITH_TIMEOUT((answer = question.answer(ticket)).has_value(), 10000); }();
        [&] { QVERIFY(answer && answer->reached); }();
        return answer && answer->found ? answer->found->station + ' ' + answer->found->outerLabel : QString();
    }

    qint64 change(rework::Kind kind, const QString &box, const QString &barcode)
    {
        auto db = database::connect(url(QStringLiteral("fixer")));
        return rework::record(*db, {kind, box, {}, barcode, {}, QStringLiteral("质检 张工"), QStringLiteral("重新装箱"), {}});
    }

private slots:
    void initTestCase()
    {
        const QString why = m_server.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        m_db = plantdb::make(m_server, QStringLiteral("gs1"));
        database::connect(url(QStringLiteral("postgres")))->runScript("CREATE ROLE fixer LOGIN; GRANT zantrel_rework TO fixer;");
    }

    void aPackIsItsGtinAndSerialAcrossStations()
    {
        const Pack a1 = scanned("(01)09501101530003(21)A1(10)L24(17)270630");
        const PlantSender::Report first = deliver("line3-a", "W001", {a1, Pack(QStringLiteral("P00001"))});
        QVERIFY2(first.recorded, qPrintable(first.why));
        auto db = database::connect(url(QStringLiteral("postgres")));
        QCOMPARE(plantdb::one(*db, "SELECT concat_ws('|', gtin, serial, lot, expiry) FROM zantrel.box_rows WHERE text = $1", {a1.text()}),
                 QStringLiteral("09501101530003|A1|L24|270630"));
        QCOMPARE(plantdb::one(*db, "SELECT count(*) FROM zantrel.box_rows WHERE gtin IS NOT NULL"), QStringLiteral("1"));

        // Asked at another station in every spelling: the same pack, recorded at line3-a.
        for (const QString &spelling : {"]d2" "0109501101530003" "21A1" + kGs + "10L24" + kGs + "17270630",
                                        QString("(21)A1(01)09501101530003(10)L24(17)270630"),
                                        "]C1" "17270630" "0109501101530003" "21A1" + kGs})
            QCOMPARE(check(scanned(spelling)), QStringLiteral("line3-a W001"));
        QCOMPARE(check(scanned("(01)09501101530003(21)A2(10)L24(17)270630")), QString());
        QCOMPARE(check(scanned("(01)00614141123452(21)A1")), QString()); // the serial of another product
        QCOMPARE(check(Pack(QStringLiteral("P00001"))), QStringLiteral("line3-a W001")); // packs without GS1 as before

        // Delivered second in another spelling, it is a conflict naming the first box.
        const Pack again = scanned("]d2" "0109501101530003" "10L24" + kGs + "21A1" + kGs + "17270630");
        const PlantSender::Report second = deliver("line3-b", "V001", {again});
        QVERIFY2(second.recorded, qPrintable(second.why));
        QCOMPARE(second.conflicts.size(), size_t(1));
        QCOMPARE(second.conflicts[0].barcode, again.text());
        QCOMPARE(second.conflicts[0].otherStation, QStringLiteral("line3-a"));
        QCOMPARE(second.conflicts[0].otherBox, QStringLiteral("W001"));
    }

    // The record's key of a pack is the station's, for every kind of pack: a GS1 pack by
    // its GTIN and serial, every other one (a GTIN without a serial too) by its text.
    void theRecordKeysAPackAsTheStationDoes()
    {
        auto db = database::connect(url(QStringLiteral("postgres")));
        for (const Pack &p : {scanned("(01)09501101530003(21)A1(10)L24"), scanned("]d2" "0109501101530003" "21A(10)B"),
                              Pack(std::vector<gs1::Element>{{"01", "09501101530003"}, {"10", "L24"}}), Pack(std::vector<gs1::Element>{{"21", "S1"}}), Pack(QStringLiteral("P00001")),
                              Pack(QStringLiteral("(01)09501101530003"))}) {
            const QString key = plantdb::one(*db, "SELECT zantrel.pack_key($1, $2, $3)",
                                             {p.text(), p.value("01").value_or(QString()), p.value("21").value_or(QString())});
            QCOMPARE(key, p.identity());
        }
    }

    // Rework takes a GS1 pack out and puts it in by any spelling; where it is now follows.
    void reworkByIdentity()
    {
        const Pack b1 = scanned("(01)09501101530003(21)B1(10)L24");
        QVERIFY(deliver("line3-a", "W010", {b1}).recorded);
        QVERIFY(deliver("line3-a", "W011", {scanned("(01)09501101530003(21)B2(10)L24")}).recorded);
        QVERIFY(change(rework::Kind::TakeOut, "W010", "(10)L24(21)B1(01)09501101530003") > 0);
        QCOMPARE(check(b1), QString());
        QVERIFY(change(rework::Kind::PutIn, "W011", "(21)B1(10)L24(01)09501101530003") > 0);
        QCOMPARE(check(b1), QStringLiteral("line3-a W011"));
        // Once in a box, in no other, whatever it is called.
        try {
            change(rework::Kind::PutIn, "W010", b1.text());
            QFAIL("a pack went into two boxes under two spellings");
        } catch (const RuntimeError &e) {
            QVERIFY2(e.description().contains(QStringLiteral("请先取出")), qPrintable(e.description()));
        }
        // Its lot stays with it: where packs are now says so.
        auto db = database::connect(url(QStringLiteral("postgres")));
        QCOMPARE(plantdb::one(*db, "SELECT string_agg(outer_label || ':' || lot, ',') FROM zantrel.pack_locations"
                                   " WHERE gtin = '09501101530003' AND serial = 'B1'"),
                 QStringLiteral("W011:L24"));
        // Looked up as scanned, with the scanner's symbology identifier: that pack, there.
        const ToolRun found = ToolRun::of("zantrel-find", {"--db", url("postgres"), "]d2" "0109501101530003" "21B1" + kGs + "10L24"});
        QVERIFY2(found.status == 0 && found.out.count('\n') == 1 && found.out.contains("W011"), qPrintable(found.out + found.errors));
    }

    // Rework reads a pack as the station reads a scan, and puts into a box only what the
    // station would: each refusal with the station's words and the record's code.
    void reworkHoldsToTheStationsRules()
    {
        const auto pack = [](const QString &serial, const QString &lot = QStringLiteral("L24")) {
            return scanned(QStringLiteral("(01)09501101530003(21)%1(10)%2(17)270630").arg(serial, lot));
        };
        QVERIFY(deliver("line3-a", "S001", {pack("Z1"), pack("Z2")}).recorded);
        QVERIFY(deliver("line3-b", "S002", {pack("Z3")}).recorded);
        QVERIFY(deliver("line3-c", "S003", {Pack(QStringLiteral("P7001"))}).recorded);
        auto fixer = database::connect(url(QStringLiteral("fixer")));
        const auto putIn = [&](const QString &box, const QString &barcode, const QString &middle = {}, bool newMiddle = false) {
            try {
                rework::record(*fixer, {rework::Kind::PutIn, box, {}, barcode, middle, QStringLiteral("质检 张工"), QStringLiteral("重新装箱"), {},
                                        newMiddle});
                return QStringLiteral("accepted");
            } catch (const RuntimeError &e) {
                return e.sqlState() + ' ' + e.description();
            }
        };
        // The scanner's forms: the pack of that GTIN and serial, listed as a station lists it.
        QCOMPARE(putIn("S001", "]d2" "010950110153000321Z9" + kGs + "10L24" + kGs + "17270630"), QStringLiteral("accepted"));
        QCOMPARE(putIn("S001", kGs + "0109501101530003" "17270630" "21Z8" + kGs + "10L24"), QStringLiteral("accepted"));
        auto db = database::connect(url(QStringLiteral("postgres")));
        QCOMPARE(plantdb::one(*db, "SELECT string_agg(barcode || '|' || gtin || '|' || serial, ',' ORDER BY change_id) FROM zantrel.box_changes"
                                   " WHERE serial IN ('Z8', 'Z9')"),
                 QStringLiteral("(01)09501101530003(21)Z9(10)L24(17)270630|09501101530003|Z9,"
                                "(01)09501101530003(17)270630(21)Z8(10)L24|09501101530003|Z8"));
        // The same pack in human-readable form is in a box now: not into a second one.
        QVERIFY(putIn("S002", "(01)09501101530003(21)Z9(10)L24(17)270630").startsWith(QString(refusal::kPackInABox)));
        QCOMPARE(ToolRun::of("zantrel-find", {"--db", url("postgres"), "(21)Z9(01)09501101530003"}).out.count('\n'), 1);
        // What a station refuses.
        QCOMPARE(putIn("S001", "(01)09501101530004(21)Z7(10)L24(17)270630"),
                 QString(refusal::kNotAGs1Pack) + QStringLiteral(" GS1 条码不正确：(01) 校验位应为 3"));
        QCOMPARE(putIn("S001", "P7002"), QString(refusal::kNotAGs1Pack) + ' ' + gs1::kNotGs1);
        QCOMPARE(putIn("S001", "(01)09501101530003(21)Z6(10)L25(17)270630"),
                 QString(refusal::kOtherKindThanTheBox) + QStringLiteral(" 批号与本箱不同！本箱 (10)L24 此包 (10)L25"));
        QCOMPARE(putIn("S001", "(01)09501101530003(21)Z6(10)L24(17)270700"),
                 QString(refusal::kOtherKindThanTheBox) + QStringLiteral(" 有效期与本箱不同！本箱 (17)270630 此包 (17)270700"));
        QCOMPARE(putIn("S001", "(01)09501101530003(21)Z6(10)L24(17)270600"), QStringLiteral("accepted")); // the same day
        // A box of packs without GS1 fields takes them as it always did.
        QCOMPARE(putIn("S003", "P7002"), QStringLiteral("accepted"));
        // A middle box of that outer box, or one named as new.
        QVERIFY(putIn("S001", "(01)09501101530003(21)Z5(10)L24(17)270630", "Z-S002").startsWith(QString(refusal::kNoSuchMiddleBox)));
        QCOMPARE(putIn("S001", "(01)09501101530003(21)Z5(10)L24(17)270630", "Z-S001"), QStringLiteral("accepted"));
        QCOMPARE(putIn("S001", "(01)09501101530003(21)Z4(10)L24(17)270630", "Z-NEW", true), QStringLiteral("accepted"));
        QCOMPARE(putIn("S001", "(01)09501101530003(21)Z3b(10)L24(17)270630", "Z-NEW"), QStringLiteral("accepted"));
        // Straight to the record, past this program: the record refuses alike.
        fixer->runScript("SET ROLE zantrel_rework");
        QCOMPARE([&] {
            try {
                fixer->run(QStringLiteral("INSERT INTO zantrel.box_changes (kind, box_id, barcode, person, reason, note)"
                                          " SELECT 'put-in', box_id, 'P7003', 'x', '其他', '' FROM zantrel.boxes WHERE outer_label = 'S001'"));
                return QStringLiteral("accepted");
            } catch (const RuntimeError &e) {
                return e.sqlState();
            }
        }(), QString(refusal::kNotAGs1Pack));
        fixer->runScript("RESET ROLE");
    }

    // A recall over two lots and three stations, with a take-out and a void between:
    // the record's truth after rework, by zantrel-find as a quality manager runs it.
    void aRecallOfALot()
    {
        const QString gtin = QStringLiteral("80614141123458");
        auto pack = [&](const QString &serial, const QString &lot) {
            return scanned(QStringLiteral("(01)%1(21)%2(10)%3(17)271231").arg(gtin, serial, lot));
        };
        QVERIFY(deliver("line3-a", "R001", {pack("1", "L1"), pack("2", "L1"), pack("3", "L2")}).recorded);
        QVERIFY(deliver("line3-b", "R002", {pack("4", "L1"), pack("5", "L1")}).recorded);
        QVERIFY(deliver("line3-c", "R003", {pack("6", "L1")}).recorded);
        QVERIFY(deliver("line3-c", "R004", {pack("7", "L2")}).recorded);
        QVERIFY(change(rework::Kind::TakeOut, "R001", pack("2", "L1").text()) > 0);
        {
            auto db = database::connect(url(QStringLiteral("fixer")));
            QVERIFY(rework::record(*db, {rework::Kind::Void, "R003", {}, {}, {}, QStringLiteral("质检 张工"), QStringLiteral("其他"), {}}) > 0);
            // The sample goes back, elsewhere; typed without its expiry, it has the one it was packed with.
            QVERIFY(change(rework::Kind::PutIn, "R002", "(10)L1(21)2(01)" + gtin) > 0);
        }
        const QString db = url(QStringLiteral("postgres"));
        ToolRun lot = ToolRun::of("zantrel-find", {"--db", db, "--lot", gtin, "L1"});
        QCOMPARE(lot.status, 0);
        QStringList boxes;
        for (const QString &line : lot.out.split('\n', Qt::SkipEmptyParts)) {
            const QStringList f = line.split('\t');
            QCOMPARE(f.size(), 5);
            boxes << f[0] + ' ' + f[1] + ' ' + f[3] + ' ' + f[4];
        }
        QCOMPARE(boxes, QStringList({"R001 line3-a 1 Z-R001", "R002 line3-b 3 Z-R002"}));

        ToolRun lots = ToolRun::of("zantrel-find", {"--db", db, "--gtin", gtin});
        QCOMPARE(lots.status, 0);
        QCOMPARE(lots.out.split('\n', Qt::SkipEmptyParts), QStringList({"L1\t4\t2", "L2\t2\t2"}));
        QCOMPARE(ToolRun::of("zantrel-find", {"--db", db, "--lot", gtin, "L3"}).status, 1);
        QCOMPARE(ToolRun::of("zantrel-find", {"--lot", gtin, "L1"}).status, 2); // a recall asks the record

        // A pack looked up in another spelling is found where its box has it.
        ToolRun one = ToolRun::of("zantrel-find", {"--db", db, "(21)2(01)" + gtin});
        QCOMPARE(one.status, 0);
        QCOMPARE(one.out.section('\t', 2, 2), QStringLiteral("R002"));
    }

    // EPCIS names a GS1 pack by its GTIN and serial: an SGTIN where the company prefix's
    // length is known (one length, or GS1's table), else a Digital Link; its box's events
    // carry the lot and expiry; packs without GS1 keep their ids; every document valid.
    void epcisWithGs1Identifiers()
    {
        const QString name = plantdb::make(m_server, QStringLiteral("gs1epcis"));
        const QDateTime now = QDateTime::currentDateTime();
        const QString sscc = QStringLiteral("106141411234567897");
        std::vector<BoxRow> rows{{BoxRow::OuterLabel, sscc}, {BoxRow::MiddleLabel, "Z1"},
                                 BoxRow::of(scanned("(01)80614141123458(21)12345(10)L24(17)270600")),
                                 BoxRow::of(scanned("(01)80614141123458(21)A/B%1(10)L24(17)270600")),
                                 BoxRow::of(scanned("(01)09501101530003(21)7(10)L24(17)270600"))};
        QVERIFY(deliverBox(m_server.url("line3", name), "line3-a", 2, now.addSecs(-60), rows).recorded);
        QVERIFY(deliverBox(m_server.url("line3", name), "line3-b", 2, now.addSecs(-30),
                           {{BoxRow::OuterLabel, "W001"}, {BoxRow::MiddleLabel, "Z2"}, {BoxRow::Pack, "P1"}}).recorded);
        // Taken out and put back by rework: each event carries the pack's lot and expiry.
        auto fixer = database::connect(m_server.url(QStringLiteral("fixer"), name));
        const QString reworked = scanned("(01)80614141123458(21)A/B%1(10)L24(17)270600").text();
        rework::record(*fixer, {rework::Kind::TakeOut, sscc, {}, reworked, {}, QStringLiteral("质检 张工"), QStringLiteral("抽样"), {}});
        rework::record(*fixer, {rework::Kind::PutIn, sscc, {}, reworked, QStringLiteral("Z1"), QStringLiteral("质检 张工"), QStringLiteral("抽样"), {}});
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        const QString middles = "https://id.example.com/middle/" + plantdb::one(*admin, "SELECT box_id FROM zantrel.boxes WHERE outer_label = $1", {sscc});
        const QString w001Middles = "https://id.example.com/middle/" + plantdb::one(*admin, "SELECT box_id FROM zantrel.boxes WHERE outer_label = 'W001'");
        const QStringList base{"epcis", m_server.url("postgres", name), "--from", now.addSecs(-3600).toString(Qt::ISODate),
                               "--to", now.addSecs(3600).toString(Qt::ISODate), "--id-base", "https://id.example.com/"};
        const auto children = [](const ToolRun &run, int event) {
            const QJsonArray events = QJsonDocument::fromJson(run.out.toUtf8()).object()["epcisBody"].toObject()["eventList"].toArray();
            QStringList out{events.at(event).toObject()["parentID"].toString()};
            for (const QJsonValue &c : events.at(event).toObject()["childEPCs"].toArray())
                out << c.toString();
            return out;
        };
        const ToolRun known = ToolRun::of("zantrel-db", base + QStringList{"--gcp-length", "7"});
        QVERIFY2(known.status == 0, qPrintable(known.errors));
        QCOMPARE(children(known, 0), QStringList({middles + "/Z1", "urn:epc:id:sgtin:0614141.812345.12345",
                                                  "urn:epc:id:sgtin:0614141.812345.A%2FB%251", "urn:epc:id:sgtin:9501101.053000.7"}));
        QCOMPARE(children(known, 1).first(), QStringLiteral("urn:epc:id:sscc:0614141.1123456789"));
        QCOMPARE(children(known, 2), QStringList({w001Middles + "/Z2", "https://id.example.com/pack/P1"}));
        const QJsonArray knownEvents = QJsonDocument::fromJson(known.out.toUtf8()).object()["epcisBody"].toObject()["eventList"].toArray();
        QCOMPARE(knownEvents.size(), 6);
        QCOMPARE(children(known, 4), QStringList({middles + "/Z1", "urn:epc:id:sgtin:0614141.812345.A%2FB%251"}));
        QCOMPARE(children(known, 5), children(known, 4));
        for (const int event : {0, 4, 5}) {
            const QJsonObject e = knownEvents.at(event).toObject();
            QCOMPARE(e["cbvmda:lotNumber"].toString(), QStringLiteral("L24"));
            QCOMPARE(e["cbvmda:itemExpirationDate"].toString(), QStringLiteral("2027-06-30"));
        }
        QVERIFY(!knownEvents.at(2).toObject().contains("cbvmda:lotNumber"));

        const ToolRun unknown = ToolRun::of("zantrel-db", base);
        QCOMPARE(children(unknown, 0).mid(1, 2), QStringList({"https://id.gs1.org/01/80614141123458/21/12345",
                                                             "https://id.gs1.org/01/80614141123458/21/A%2FB%251"}));
        QCOMPARE(children(unknown, 1).first(), QStringLiteral("urn:epc:id:sscc:0614141.1123456789")); // as before: 7 digits

        // GS1's table: the prefix it lists, a Digital Link for the rest, the SSCC included.
        QTemporaryDir dir;
        QFile table(dir.filePath("gcp.json"));
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write(R"({"GCPPrefixFormatList":{"entry":[{"prefix":"061","gcpLength":9},{"prefix":"0614141","gcpLength":7}]}})");
        table.close();
        const ToolRun listed = ToolRun::of("zantrel-db", base + QStringList{"--gcp-table", table.fileName(), "--dl-base", "https://r.example.com/"});
        QVERIFY2(listed.status == 0, qPrintable(listed.errors));
        QCOMPARE(children(listed, 0).mid(1), QStringList({"urn:epc:id:sgtin:0614141.812345.12345", "urn:epc:id:sgtin:0614141.812345.A%2FB%251",
                                                         "https://r.example.com/01/09501101530003/21/7"}));
        QCOMPARE(children(listed, 1).first(), QStringLiteral("urn:epc:id:sscc:0614141.1123456789"));
        table.open(QIODevice::WriteOnly | QIODevice::Truncate);
        table.write(R"({"GCPPrefixFormatList":{"entry":[]}})");
        table.close();
        QCOMPARE(children(ToolRun::of("zantrel-db", base + QStringList{"--gcp-table", table.fileName()}), 1).first(),
                 QStringLiteral("https://id.gs1.org/00/") + sscc);
        QCOMPARE(ToolRun::of("zantrel-db", base + QStringList{"--gcp-table", dir.filePath("none.json")}).status, 2);
        QCOMPARE(ToolRun::of("zantrel-db", base + QStringList{"--gcp-length", "13"}).status, 2);

        // The plant's own prefix: its packs are SGTINs, another company's product a Digital
        // Link, not an SGTIN split at the plant's length; its SSCC an SSCC EPC.
        const ToolRun own = ToolRun::of("zantrel-db", base + QStringList{"--gcp", "0614141"});
        QVERIFY2(own.status == 0, qPrintable(own.errors));
        QCOMPARE(children(own, 0).mid(1), QStringList({"urn:epc:id:sgtin:0614141.812345.12345", "urn:epc:id:sgtin:0614141.812345.A%2FB%251",
                                                      "https://id.gs1.org/01/09501101530003/21/7"}));
        QCOMPARE(children(own, 1).first(), QStringLiteral("urn:epc:id:sscc:0614141.1123456789"));
        // Another company's prefix alone: this plant's SSCC and packs are Digital Links.
        const ToolRun other = ToolRun::of("zantrel-db", base + QStringList{"--gcp", "9501101", "--gcp", "061414199"});
        QCOMPARE(children(other, 0).mid(1), QStringList({"https://id.gs1.org/01/80614141123458/21/12345",
                                                        "https://id.gs1.org/01/80614141123458/21/A%2FB%251",
                                                        "urn:epc:id:sgtin:9501101.053000.7"}));
        QCOMPARE(children(other, 1).first(), QStringLiteral("https://id.gs1.org/00/") + sscc);
        QCOMPARE(ToolRun::of("zantrel-db", base + QStringList{"--gcp", "0614141", "--gcp-length", "7"}).status, 2);
        QCOMPARE(ToolRun::of("zantrel-db", base + QStringList{"--gcp", "06141"}).status, 2);

        for (const ToolRun *run : {&known, &unknown, &listed, &own, &other}) {
            QString why;
            QCOMPARE(epcisSchemaVerdict(run->out.toUtf8(), &why), QStringLiteral("valid"));
            QVERIFY2(why.isEmpty(), qPrintable(why));
        }
    }

    // An SSCC another station shipped is refused at Start here, named where it went;
    // a station the record cannot answer goes by its workbooks alone, at once.
    void anSsccInTheRecordIsNotStartedAgain()
    {
        const QString sscc = *gs1::sscc(QStringLiteral("10614141"), 77);
        std::vector<BoxRow> rows{{BoxRow::OuterLabel, sscc}, {BoxRow::MiddleLabel, "Z1"}, {BoxRow::Pack, "P77"}};
        // A place of its own: a box at the place of one recorded is that box.
        const PlantSender::Report sent = deliverBox(url(QStringLiteral("line3")), QStringLiteral("line3-b"), 9012,
                                                    QDateTime::currentDateTime(), rows);
        QVERIFY2(sent.recorded, qPrintable(sent.why));

        QTemporaryDir folder;
        PlantLink::Options options;
        options.url = url(QStringLiteral("line3"));
        options.station = QStringLiteral("line3-a");
        PlantLink link(folder.path(), options);
        QCOMPARE(startchecks::ssccUse(folder.path(), sscc, {}, &link), QStringLiteral("中央记录：工位 line3-b，files/20261208.xls 第 9012 行"));
        QCOMPARE(startchecks::ssccUse(folder.path(), *gs1::sscc(QStringLiteral("10614141"), 78), {}, &link), QString());

        options.url = m_server.url(QStringLiteral("line3"), QStringLiteral("no_such_record"));
        PlantLink unknown(folder.path(), options);
        QCOMPARE(startchecks::ssccUse(folder.path(), sscc, {}, &unknown), QString());
    }

    // A reprint is the label of the box as the record has it now: a pack taken out is
    // not counted, the GS1 block and symbols are there, the middle list is the box's.
    // From the workbook, a station with a record asks the record too.
    void aReprintIsTheBoxAsTheRecordHasIt()
    {
        const QString sscc = *gs1::sscc(QStringLiteral("10614141"), 31);
        QTemporaryDir folder;
        program::setFolder(folder.path());
        xls::NativeWorkbookFile file;
        DailyWorkbookExport daily(file);
        Box box;
        box.appendOuterLabel(sscc);
        std::vector<BoxRow> rows{{BoxRow::OuterLabel, sscc}};
        for (int i = 1; i <= 4; ++i) {
            if (i % 2 == 1) {
                box.appendMiddleLabel(QStringLiteral("Z%1").arg(i / 2 + 1));
                rows.push_back({BoxRow::MiddleLabel, QStringLiteral("Z%1").arg(i / 2 + 1)});
            }
            const Pack p = scanned(QStringLiteral("(01)09501101530003(21)R%1(10)L24(17)270600").arg(i));
            box.apply({{BoxRow::of(p)}, {}, {}, {}});
            rows.push_back(BoxRow::of(p));
        }
        daily.exportBox(box, {});
        program::setFolder(QString());
        QVERIFY(deliverBox(url(QStringLiteral("line3")), QStringLiteral("line3-a"), 9002, QDateTime::currentDateTime(), rows).recorded);
        try {
            change(rework::Kind::TakeOut, sscc, scanned("(01)09501101530003(21)R4(10)L24(17)270600").text());
        } catch (const RuntimeError &e) {
            QFAIL(qPrintable(e.description()));
        }

        const auto reprint = [&](const QStringList &args, const QByteArray &config) {
            QFile ini(folder.filePath("config.ini"));
            [&] { QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate)); }();
            ini.write("[print]\nsize=100x150;\n[label]\nouter=sscc;\n[gs1]\nscans=1;\n" + config);
            ini.close();
            const QString pdf = folder.filePath("again.pdf");
            QFile::remove(pdf);
            const ToolRun run = ToolRun::of("zantrel-label", QStringList{"--folder", folder.path(), "--pdf", pdf} + args + QStringList{sscc});
            [&] { QVERIFY2(run.status == 0, qPrintable(run.errors)); }();
            if (!run.errors.trimmed().isEmpty())
                qInfo("%s", qPrintable(run.errors));
            QFile page(pdf);
            page.open(QIODevice::ReadOnly);
            return page.readAll();
        };
        const auto check = [&](const QByteArray &page, int packs) {
            QString why;
            QStringList read;
            for (QString symbol : decodePage(page, 203, &why)) {
                const gs1::ScanRead r = gs1::readScan(symbol.mid(symbol.startsWith(QStringLiteral("]C1")) ? 3 : 0), QDate(2026, 12, 9), gs1::Pairs::Unchecked);
                [&] { QVERIFY2(r.read, qPrintable(symbol)); }();
                if (r.read)
                    read << r.read->humanReadable();
            }
            read.sort();
            [&] { QVERIFY2(why.isEmpty(), qPrintable(why)); }();
            QCOMPARE(read, QStringList({"(00)" + sscc, QStringLiteral("(02)09501101530003(37)%1(10)L24(17)270600").arg(packs)}));
            const QString words = pageText(page);
            for (const QString &shown : {QStringLiteral("COUNT 数量：%1").arg(packs), QStringLiteral("BATCH/LOT 批号：L24"),
                                         QStringLiteral("补打"), QStringLiteral("中箱：Z1、Z2\n")})
                QVERIFY2(words.contains(shown), qPrintable(shown + " in " + words));
        };
        // zantrel-find in the workbooks knows a pack however it is scanned.
        const ToolRun found = ToolRun::of("zantrel-find", {"--folder", folder.path(), "]d2" "0109501101530003" "21R2" + kGs + "17270600" "10L24"});
        QVERIFY2(found.status == 0 && found.out.count('\n') == 1 && found.out.contains(sscc), qPrintable(found.out + found.errors));
        check(reprint({"--db", url(QStringLiteral("line3"))}, {}), 3);
        check(reprint({}, {}), 4); // a station without a record: its workbook is all there is
        check(reprint({}, "[db]\nurl=" + url(QStringLiteral("line3")).toUtf8() + ";\nstation=line3-a;\n"), 3);
        // A record that cannot be reached: the workbook's box, and a warning saying so.
        QFile ini(folder.filePath("config.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[print]\nsize=100x150;\n[label]\nouter=sscc;\n[gs1]\nscans=1;\n[db]\nurl=" + m_server.url("line3", "no_such_record").toUtf8()
                  + ";\nstation=line3-a;\n");
        ini.close();
        const ToolRun offline = ToolRun::of("zantrel-label", {"--folder", folder.path(), "--pdf", folder.filePath("off.pdf"), sscc});
        QVERIFY2(offline.status == 0 && offline.errors.contains(QStringLiteral("按工作簿中的外箱补打")), qPrintable(offline.errors));
    }

    // Boxes read back from a station's workbooks for the record get the fields a scan
    // gave them, from column C; a station that does not read GS1 sends texts alone.
    void workbookBoxesCarryTheirFields()
    {
        QTemporaryDir folder;
        program::setFolder(folder.path());
        xls::NativeWorkbookFile file;
        DailyWorkbookExport daily(file);
        Box box;
        box.appendOuterLabel(QStringLiteral("W001"));
        box.appendMiddleLabel(QStringLiteral("Z001"));
        const Pack a = scanned("]d2" "0109501101530003" "21A(1)" + kGs + "10L24");
        box.apply({{BoxRow::of(a)}, {}, {}, {}});
        box.appendPack(QStringLiteral("P00001"));
        // Data that holds "(NN)": its GTIN and serial as scanned, not another pack's.
        const Pack b = scanned("]d2" "0109501101530003" "21A(10)B");
        const Pack c = scanned("]d2" "0109501101530003" "21X(24)Y" + kGs + "10(21)7");
        box.apply({{BoxRow::of(b), BoxRow::of(c)}, {}, {}, {}});
        daily.exportBox(box, {});
        const workbookboxes::Found gs1 = workbookboxes::read(folder.path(), QStringLiteral("line3-a"), QDate(), true);
        QCOMPARE(gs1.boxes.size(), size_t(1));
        QCOMPARE(gs1.boxes[0].rows[2].text, a.text());
        QCOMPARE(gs1.boxes[0].rows[2].fields, a.fields());
        QVERIFY(gs1.boxes[0].rows[3].fields.empty());
        for (const auto &[row, pack] : {std::pair{4, b}, std::pair{5, c}}) {
            QCOMPARE(gs1.boxes[0].rows[size_t(row)].text, pack.text());
            QCOMPARE(gs1.boxes[0].rows[size_t(row)].pack().value("01"), QStringLiteral("09501101530003"));
            QCOMPARE(gs1.boxes[0].rows[size_t(row)].pack().value("21"), pack.value("21"));
            QCOMPARE(gs1.boxes[0].rows[size_t(row)].pack().identity(), pack.identity());
        }
        const workbookboxes::Found plain = workbookboxes::read(folder.path(), QStringLiteral("line3-a"), QDate(), false);
        QVERIFY(plain.boxes[0].rows[2].fields.empty());
        program::setFolder(QString());
    }
};

QTEST_GUILESS_MAIN(TestGs1Record)
#include "tst_gs1_record.moc"
