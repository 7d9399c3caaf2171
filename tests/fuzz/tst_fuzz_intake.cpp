#include "../station/Fakes.h"
#include "Mutator.h"

#include "packing/PackingState.h"
#include "station/BarcodeIntake.h"
#include "packing/Box.h"

#include <QTest>

class TestFuzzIntake : public QObject
{
    Q_OBJECT
private slots:
    void randomBytesAsScansKeepTheBoxConsistent()
    {
        Mutator m(424242);
        for (int run = 0; run < 40; ++run) {
            PackingState state;
            state.iInnerLen = int16_t(3 + m.below(10));
            state.iPerMiddle = int16_t(1 + m.below(5));
            state.iPerOuter = int16_t(1 + m.below(12));
            state.iMiddleDigits = state.iOuterDigits = 3;
            state.lMiddleNo = state.lOuterNo = 1;
            Box box;
            RecordingMessages messages;
            RecordingExport exports;
            BarcodeIntake intake(state, box, messages, exports);
            intake.sCfMode = m.chance(50) ? QStringLiteral("0") : QStringLiteral("1");
            // Every encoding a scanner may be read with: any bytes either decode whole or are refused.
            const QByteArray encodings[] = {"GB18030", "UTF-8", "ISO-8859-1"};
            intake.setEncoding(encodings[m.below(3)]);
            for (int scan = 0; scan < 100; ++scan) {
                // Mostly the right length, with any bytes at all; sometimes any length.
                const int length = m.chance(70) ? state.iInnerLen : int(m.below(30));
                QByteArray bytes(length, '\0');
                for (char &c : bytes)
                    c = char(m.chance(80) ? 'A' + m.below(4) : m.below(256));
                intake.receiveBytes(bytes);

                int packs = 0;
                for (int r = 0; r < box.rowCount(); ++r) {
                    const BoxRow &row = box.rows()[size_t(r)];
                    packs += row.kind == BoxRow::Pack;
                    for (QChar c : row.text)
                        QVERIFY2(c.unicode() >= 0x20 && (c.unicode() < 0x7F || c.unicode() > 0x9F) && c != QChar::ReplacementCharacter,
                                 "a control character or an undecoded byte was listed");
                }
                QCOMPARE(int(box.iInnerCount()), packs);
                QVERIFY(box.iInnerCount() < state.iPerOuter); // a full box always went out
                if (box.rowCount() > 0)
                    QCOMPARE(box.rows()[0].kind, BoxRow::OuterLabel);
            }
            for (const RecordingExport::Rows &exported : exports.boxes) {
                int packs = 0;
                for (const QStringList &row : exported)
                    packs += !row[2].isEmpty() || (row[0].isEmpty() && row[1].isEmpty());
                QCOMPARE(packs, int(state.iPerOuter));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestFuzzIntake)
#include "tst_fuzz_intake.moc"
