#include "Mutator.h"

#include "core/LineCodec.h"
#include "station/files/BoxLines.h"
#include "station/files/BoxSheet.h"
#include "station/files/RefusedScan.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

// Characters that the station's texts may hold and that codecs trip over: every C0
// and C1 control, DEL, the backslash and "x" of an escape, hex digits, blanks,
// Chinese, and a character outside the Basic Multilingual Plane (a surrogate pair).
QString randomText(Mutator &m)
{
    static const QString pieces[] = {QStringLiteral("\\"),  QStringLiteral("x"),  QStringLiteral("0"),  QStringLiteral("f"),
                                     QStringLiteral(" "),   QStringLiteral("A"),  QStringLiteral("条码"), QStringLiteral("\U0001F4E6"),
                                     QStringLiteral("\\x4"), QStringLiteral("é"), QStringLiteral("ÿ"),  QStringLiteral("\u4E2D")};
    QString text;
    const quint32 length = m.below(12);
    for (quint32 i = 0; i < length; ++i) {
        if (m.chance(30))
            text += QChar(char16_t(m.chance(60) ? m.below(0x20) : 0x7F + m.below(0x21))); // C0, or DEL and C1
        else
            text += pieces[m.below(std::size(pieces))];
    }
    return text;
}

BoxRow randomRow(Mutator &m, bool first)
{
    if (first)
        return {BoxRow::OuterLabel, QStringLiteral("W") + QString::number(m.below(1000))};
    // A middle label is never empty (it has digits); a pack's barcode may be, once a person cleared its cell.
    if (m.chance(25))
        return {BoxRow::MiddleLabel, QStringLiteral("Z") + QString::number(m.below(1000))};
    return {BoxRow::Pack, m.chance(10) ? QString() : randomText(m).remove(QChar(0))};
}

} // namespace

class TestFuzzCodecs : public QObject
{
    Q_OBJECT
private slots:
    // One test of a control character for every file and every refusal: C0, DEL and C1.
    void oneControlCharacterTest()
    {
        for (char16_t u = 0; u < 0x100; ++u) {
            const bool control = u < 0x20 || (u >= 0x7F && u <= 0x9F);
            QCOMPARE(linecodec::isControl(u), control);
            const QString text = QStringLiteral("A") + QChar(u);
            QCOMPARE(refused::firstControlCharacter(text).has_value(), control);
            // The journal's and the outbox's lines escape exactly the characters the intake refuses.
            QCOMPARE(boxlines::rowLine({BoxRow::Pack, text}).contains("\\x"), control);
        }
    }

    // Every text comes back whole through its field, in every way of escaping, and a
    // field never holds a byte that would break its line (or its blanks, where fields share one).
    void lineFieldsRoundTrip()
    {
        Mutator m(20261209);
        for (int i = 0; i < 20000; ++i) {
            const QString text = randomText(m);
            // Characters from U+0100 on are written as UTF-8 in every way of escaping.
            const bool wide = std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x100; });
            for (linecodec::Escape what : {linecodec::Escape::Controls, linecodec::Escape::ControlsAndBlanks, linecodec::Escape::NonAscii}) {
                const QByteArray field = linecodec::escaped(text, what, m.chance(50) ? linecodec::Hex::Upper : linecodec::Hex::Lower);
                for (char c : field) {
                    const auto byte = uchar(c);
                    QVERIFY2(byte >= 0x20 && byte != 0x7F, field.constData());
                    QVERIFY(what != linecodec::Escape::ControlsAndBlanks || byte != ' ');
                    QVERIFY(what != linecodec::Escape::NonAscii || wide || byte < 0x80);
                }
                QCOMPARE(linecodec::unescaped(field), std::optional<QString>(text));
            }
            // A whole line splits back into its keyword and fields.
            const QByteArray line = linecodec::line("job", {"2", linecodec::escaped(text, linecodec::Escape::ControlsAndBlanks)});
            QVERIFY(line.endsWith('\n') && line.count('\n') == 1);
            const linecodec::Parts parts = linecodec::split(QByteArrayView(line).chopped(1));
            QCOMPARE(parts.keyword, QByteArrayView("job"));
            QCOMPARE(linecodec::unescaped(parts.rest.sliced(2)), std::optional<QString>(text));
        }
    }

    // Fields a person edited: never a crash, and what reads, reads the same again.
    void editedFieldsReadOrAreRefused()
    {
        Mutator m(7);
        QElapsedTimer clock;
        clock.start();
        int read = 0;
        for (int i = 0; i < 20000 && clock.elapsed() < 20000; ++i) {
            const QByteArray field = m.mutate(linecodec::escaped(randomText(m) + QStringLiteral("\\x1f"), linecodec::Escape::Controls));
            const std::optional<QString> text = linecodec::unescaped(field);
            if (!text)
                continue;
            ++read;
            QCOMPARE(linecodec::unescaped(linecodec::escaped(*text)), text);
        }
        QVERIFY(read > 0);
    }

    // Boxes written into sheet rows read back as the same boxes, from the same first
    // rows: an empty barcode keeps its row, rows above the first box belong to none.
    void boxesRoundTripThroughTheSheet()
    {
        Mutator m(65536);
        for (int round = 0; round < 500; ++round) {
            std::vector<QStringList> columns(boxsheet::kColumns);
            auto put = [&](const boxsheet::Cells &cells) {
                for (int c = 0; c < boxsheet::kColumns; ++c)
                    columns[size_t(c)] << cells[size_t(c)];
            };
            // Sheet row 1, and sometimes rows a person typed above the first box.
            put(boxsheet::Cells{m.chance(30) ? QStringLiteral("外箱") : QString(), QString(), QString()});
            for (quint32 above = m.below(3); above > 0; --above)
                put(boxsheet::Cells{QString(), QStringLiteral("note"), QStringLiteral("stray")});
            std::vector<boxsheet::SheetBox> written;
            for (quint32 b = 1 + m.below(5); b > 0; --b) {
                boxsheet::SheetBox box{int32_t(columns[0].size() + 1), {}};
                for (quint32 r = 1 + m.below(12); r > 0; --r)
                    box.rows.push_back(randomRow(m, box.rows.empty()));
                for (const BoxRow &row : box.rows)
                    put(boxsheet::cellsOf(row));
                written.push_back(box);
            }
            const std::vector<boxsheet::SheetBox> read = boxsheet::boxesIn(columns);
            QCOMPARE(read.size(), written.size());
            for (size_t b = 0; b < read.size(); ++b) {
                QCOMPARE(read[b].firstRow, written[b].firstRow);
                QVERIFY(read[b].rows == written[b].rows);
            }
        }
    }

    // Sheets a person edited: never a crash, and every row from the first outer label on
    // is in exactly one box, which starts with its outer label.
    void editedSheetsKeepEveryRow()
    {
        Mutator m(3);
        for (int round = 0; round < 3000; ++round) {
            std::vector<QStringList> columns(size_t(1 + m.below(boxsheet::kColumns)));
            const quint32 rows = m.below(40);
            for (QStringList &column : columns)
                for (quint32 r = 0; r < rows; ++r)
                    column << (m.chance(30) ? randomText(m) : QString());
            const std::vector<boxsheet::SheetBox> boxes = boxsheet::boxesIn(columns);
            if (columns.size() < size_t(boxsheet::kColumns)) {
                QVERIFY(boxes.empty());
                continue;
            }
            qsizetype firstOuter = -1;
            for (qsizetype r = boxsheet::kFirstBoxRow - 1; r < qsizetype(rows) && firstOuter < 0; ++r)
                if (!columns[0][r].isEmpty())
                    firstOuter = r;
            size_t inBoxes = 0;
            for (const boxsheet::SheetBox &box : boxes) {
                QCOMPARE(box.rows.front().kind, BoxRow::OuterLabel);
                QCOMPARE(box.rows.front().text, columns[0][box.firstRow - 1]);
                inBoxes += box.rows.size();
            }
            QCOMPARE(inBoxes, firstOuter < 0 ? size_t(0) : size_t(qsizetype(rows) - firstOuter));
        }
    }
};

QTEST_GUILESS_MAIN(TestFuzzCodecs)
#include "tst_fuzz_codecs.moc"
