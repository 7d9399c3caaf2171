#include "Fakes.h"

#include "core/Gs1Scan.h"
#include "packing/PackingState.h"
#include "station/BarcodeIntake.h"
#include "packing/Box.h"
#include "station/BoxJournal.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kGs(QChar(gs1::kGroupSeparator));
const QDateTime kNow(QDate(2026, 12, 9), QTime(10, 0));

// A station taking GS1 scans: per middle 3, per outer 10 unless told.
struct Gs1Station
{
    explicit Gs1Station(int perMiddle = 3, int perOuter = 10, int shelfDays = 0)
    {
        state.iInnerLen = 8; // no GS1 scan is measured by it
        state.iPerMiddle = int16_t(perMiddle);
        state.iPerOuter = int16_t(perOuter);
        state.sMiddlePrefix = "Z";
        state.sOuterPrefix = "W";
        state.iMiddleDigits = state.iOuterDigits = 3;
        state.lMiddleNo = state.lOuterNo = 1;
        intake.sCfMode = QStringLiteral("0");
        intake.takeGs1Scans(true, shelfDays);
    }
    void scan(const QString &text) { intake.receive(text + "\r\n"); }
    // A pack of lot L24, expiring 2027-06-30, with this serial.
    static QString pack(int serial, const QString &lot = QStringLiteral("L24"), const QString &gtin = QStringLiteral("09501101530003"))
    {
        return QStringLiteral("(01)%1(21)S%2(10)%3(17)270630").arg(gtin).arg(serial).arg(lot);
    }
    QStringList texts() const
    {
        QStringList out;
        for (const BoxRow &r : box.rows())
            out << r.text;
        return out;
    }

    PackingState state;
    Box box;
    RecordingMessages messages;
    RecordingExport exports;
    BarcodeIntake intake{state, box, messages, exports, operatorSounds(), [] { return kNow; }};
};

} // namespace

class TestGs1Intake : public QObject
{
    Q_OBJECT
private slots:
    // Every spelling a scanner sends is one pack, listed in its human-readable form
    // with its fields in the order scanned; another spelling of a listed pack is a repeat.
    void spellingsOfOnePack()
    {
        Gs1Station st;
        st.scan("]d2" "0109501101530003" "21A1B2" + kGs + "10L24" + kGs + "17270630");
        st.scan("]C1" + kGs + "0109501101530003" "21A1B3" + kGs + "10L24" + kGs + "17270630" + kGs);
        st.scan("(01)09501101530003(21)A1B4(10)L24(17)270630");
        st.scan("17270630" "0109501101530003" "10L24" + kGs + "21A1B5");
        QCOMPARE(st.texts(), QStringList({"W001", "Z001", "(01)09501101530003(21)A1B2(10)L24(17)270630",
                                          "(01)09501101530003(21)A1B3(10)L24(17)270630",
                                          "(01)09501101530003(21)A1B4(10)L24(17)270630", "Z002",
                                          "(17)270630(01)09501101530003(10)L24(21)A1B5"}));
        QVERIFY(st.messages.texts.isEmpty());
        // The fields ride with the row, for the journal and the plant record.
        QCOMPARE(st.box.rows()[2].fields.size(), size_t(4));
        QCOMPARE(st.box.rows()[2].fields[1], (gs1::Element{"21", "A1B2"}));

        const QStringList before = st.texts();
        st.scan("]d2" + kGs + "10L24" + kGs + "0109501101530003" "17270630" "21A1B3");
        st.scan("(21)A1B2(01)09501101530003(10)L24(17)270630");
        QCOMPARE(st.texts(), before);
        QCOMPARE(st.messages.firstLines(), QStringList(2, BarcodeIntake::kDuplicate));
    }

    // What a read holds is one scan ended by CR LF, or nothing of it is listed; what
    // does not read as GS1 is refused naming what is wrong.
    void scansThatAreRefused()
    {
        Gs1Station st;
        st.intake.receive(Gs1Station::pack(1) + "\r\n" + Gs1Station::pack(2) + "\r\n");
        st.intake.receive(Gs1Station::pack(3) + "\r\n" + "(01)0950");
        st.intake.receive(Gs1Station::pack(4));
        QCOMPARE(st.box.rowCount(), 0);
        QCOMPARE(st.messages.firstLines(), QStringList(3, BarcodeIntake::kNotOneScan));
        QVERIFY(st.messages.texts[0].contains(QStringLiteral("分为 2 段")));
        QVERIFY(st.messages.texts[0].contains(QStringLiteral("(21)S2(10)L24"))); // the pack to scan again

        st.messages.texts.clear();
        st.scan("]d1" "0109501101530003" "21A");                 // a DataMatrix that is not GS1
        st.scan("(01)09501101530004(21)A");                      // check digit
        st.scan("(01)09501101530003(23)A");                      // an AI GS1 has not allocated
        st.scan("(01)09501101530003(10)L24");                    // no serial
        st.scan("(01)09501101530003(21)A\tB");                   // a control character other than GS
        st.scan("(01)09501101530003(02)09501101530003(21)A");    // a pair GS1 forbids
        st.scan("81234567890123456789");                         // a Chinese drug code
        st.scan("(01)09501101530003(21)A(21)B");                 // one AI, two values
        QCOMPARE(st.messages.firstLines(),
                 QStringList({gs1::kNotGs1, QStringLiteral("GS1 条码不正确：(01) 校验位应为 3"), QStringLiteral("未知的应用标识符 (23)"),
                              QStringLiteral("缺少序列号 (21)"), BarcodeIntake::kControlCharacter,
                              QStringLiteral("GS1 条码不正确：(02) 不能与 (01) 同在一个条码中"), gs1::kNotGs1,
                              QStringLiteral("GS1 条码不正确：(21) 出现了两次，值不同：A 和 B")}));
        QVERIFY(st.messages.texts[6].contains(QStringLiteral("81234567890123456789")));
        QCOMPARE(st.box.rowCount(), 0);

        // AIs the station has no use for are read, kept with the pack and shown.
        st.messages.texts.clear();
        st.scan("]d2" "010460012345678221" "5Cq7rZk4fe3Ye" + kGs + "91EE07" + kGs + "92Wn2mQ7hsvB8P1eZ+R8dFzQ0wY2kT6Kc0P1XyzQmB9C4=");
        st.scan("(01)04600123456782(21)X(21)X(93)Ab1C");       // the same AI twice with one value: one field
        QVERIFY2(st.messages.texts.isEmpty(), qPrintable(st.messages.texts.join('|')));
        QCOMPARE(st.texts().mid(2), QStringList({"(01)04600123456782(21)5Cq7rZk4fe3Ye(91)EE07(92)Wn2mQ7hsvB8P1eZ+R8dFzQ0wY2kT6Kc0P1XyzQmB9C4=",
                                                 "(01)04600123456782(21)X(93)Ab1C"}));
        QCOMPARE(st.box.rows()[2].fields.size(), size_t(4));
    }

    // One product, one lot, one expiry per box, set by its first pack; shelf life left.
    // Each refusal leaves the box as it was; another lot or product points to F8.
    void oneKindPerBox()
    {
        Gs1Station st(3, 10, 30);
        st.scan(Gs1Station::pack(1));
        const QStringList before = st.texts();
        st.scan(Gs1Station::pack(2, QStringLiteral("L25")));
        st.scan(Gs1Station::pack(3, QStringLiteral("L24"), QStringLiteral("00614141123452")));
        st.scan("(01)09501101530003(21)S4(10)L24(17)270700");
        st.scan("(01)09501101530003(21)S5(10)L24(17)270600"); // DD 00: 30 June, the box's day
        QCOMPARE(st.texts(), QStringList(before) << "(01)09501101530003(21)S5(10)L24(17)270600");
        QCOMPARE(st.messages.firstLines(), QStringList({QStringLiteral("批号与本箱不同！本箱 (10)L24 此包 (10)L25"),
                                                        QStringLiteral("产品与本箱不同！本箱 (01)09501101530003 此包 (01)00614141123452"),
                                                        QStringLiteral("有效期与本箱不同！本箱 (17)270630 此包 (17)270700")}));
        for (const QString &t : st.messages.texts)
            QVERIFY2(t.endsWith(QStringLiteral("本批最后一箱请按 F8 封箱。")), qPrintable(t));

        Gs1Station fresh(3, 10, 30);
        fresh.scan("(01)09501101530003(21)S1(17)261208");
        fresh.scan("(01)09501101530003(21)S1(17)270107");
        QCOMPARE(fresh.box.rowCount(), 0);
        QCOMPARE(fresh.messages.firstLines(), QStringList({QStringLiteral("已过期！"), QStringLiteral("有效期不足 30 天！")}));
        QVERIFY(fresh.messages.texts[1].contains(QStringLiteral("有效期至 2027-01-07")));
        QVERIFY(!fresh.messages.texts[1].contains(QStringLiteral("F8")));
    }

    // F8 writes the box as it is and the next pack opens a new one; a middle label with
    // no pack under it is taken back with its number; an empty box has nothing to close.
    void shortBoxes()
    {
        Gs1Station st(3, 10);
        st.intake.closeShortBox();
        QCOMPARE(st.messages.texts, QStringList{BarcodeIntake::kNothingToClose});
        for (int i = 1; i <= 7; ++i)
            st.scan(Gs1Station::pack(i));
        st.messages.answers = QStringList{QStringLiteral("不封箱")};
        st.intake.closeShortBox();
        QCOMPARE(st.exports.boxes.size(), size_t(0));
        QCOMPARE(st.messages.questions.last(), QStringLiteral("外箱 W001 只有 7 个内包（每箱 10 个）。现在封箱并写入工作簿吗？"));
        st.messages.answers = QStringList{QStringLiteral("封箱")};
        st.intake.closeShortBox();
        QCOMPARE(st.exports.boxes.size(), size_t(1));
        QCOMPARE(st.exports.boxes[0].size(), size_t(1 + 3 + 7)); // W, Z001..Z003, seven packs
        QCOMPARE(st.box.rowCount(), 0);

        // Six packs: the third middle box was begun and holds none.
        for (int i = 11; i <= 16; ++i)
            st.scan(Gs1Station::pack(i, QStringLiteral("L25")));
        QCOMPARE(st.texts().last(), QStringLiteral("Z006"));
        QCOMPARE(st.state.lMiddleNo, 7);
        st.messages.answers = QStringList{QStringLiteral("封箱")};
        st.intake.closeShortBox();
        QCOMPARE(st.exports.boxes.size(), size_t(2));
        QCOMPARE(st.exports.boxes[1].size(), size_t(1 + 2 + 6));
        QCOMPARE(st.exports.boxes[1].back()[2], Gs1Station::pack(16, QStringLiteral("L25")));
        QCOMPARE(st.state.lMiddleNo, 6); // Z006 was never used
        st.scan(Gs1Station::pack(21, QStringLiteral("L26")));
        QCOMPARE(st.texts().mid(0, 2), QStringList({"W003", "Z006"}));
    }

    // The journal keeps a GS1 pack's fields and a short box's close as one: a box put
    // back from it is the same box, known by the same identities, waiting for its export.
    void theJournalKeepsFieldsAndShortBoxes()
    {
        QTemporaryDir folder;
        Gs1Station st(3, 10);
        BoxJournal journal(folder.path());
        journal.startWith({}, false, 1, 1);
        st.box.setLog(&journal);
        st.scan("]d2" "0109501101530003" "21A%1/" + kGs + "10L24");
        st.scan("(01)09501101530003(21)B(10)L24");
        st.scan("(01)09501101530003(21)C(10)L24");
        std::optional<BoxJournal::Saved> saved = BoxJournal::load(folder.path());
        QVERIFY(saved);
        QCOMPARE(saved->rows, st.box.rows());
        Box restored;
        restored.restore(saved->rows, false);
        QVERIFY(restored.contains(Pack({{"10", "L24"}, {"01", "09501101530003"}, {"21", "A%1/"}})));
        QVERIFY(!restored.contains(Pack(QStringLiteral("(01)09501101530003(21)A%1/(10)L24"))));

        st.exports.failNext = 1;
        st.messages.answers = QStringList{QStringLiteral("封箱")};
        QVERIFY_THROWS_EXCEPTION(RuntimeError, st.intake.closeShortBox());
        saved = BoxJournal::load(folder.path());
        QVERIFY(saved->exportPending);
        QCOMPARE(saved->rows.back().kind, BoxRow::Pack); // Z002 given back
        QCOMPARE(*saved->middleNo, 2);
        QCOMPARE(saved->packs(), int16_t(3));
    }
};

QTEST_GUILESS_MAIN(TestGs1Intake)
#include "tst_gs1_intake.moc"
